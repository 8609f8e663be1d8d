// The basics library's main job, end to end.
#include <lxbasics.h>

#include <cstdio>

int main() {
  std::printf("configuration installed: %s\n", DefaultConfig(LX_QUERY_CONFIG) ? "yes" : "no");
  return 0;
}

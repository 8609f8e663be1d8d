// Links against the installed library and calls it through its public headers.
#include <lxbasics.h>

#include <cstdio>
#include <cstring>

int main() {
  void* block = nullptr;
  if (mmResize(&block, 64) != 0) return 1;
  std::memset(block, 'x', 64);
  if (mmResize(&block, 4096) != 0 || static_cast<char*>(block)[63] != 'x') return 1;
  mmResize(&block, 0);
  if (block != nullptr) return 1;
  std::printf("consumer: %s\n", LxLoginError(nullptr, "consumer", 0, 0));
  return 0;
}

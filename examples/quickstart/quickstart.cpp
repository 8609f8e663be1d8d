// The basics library's main job, end to end: every area of the library used as a
// module of the runtime uses it. Run it with ./build.sh quickstart.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "demo.h"

namespace quickstart {

static std::vector<Demo>& Demos() {
  static std::vector<Demo> demos;
  return demos;
}

bool Register(const Demo& demo) {
  Demos().push_back(demo);
  return true;
}

}  // namespace quickstart

int main() {
  std::vector<quickstart::Demo> demos = quickstart::Demos();
  std::stable_sort(demos.begin(), demos.end(),
                   [](const quickstart::Demo& a, const quickstart::Demo& b) { return a.order < b.order; });
  int failures = 0;
  for (const quickstart::Demo& d : demos) {
    std::printf("\n== %s\n", d.title);
    if (d.run() != 0) {
      std::printf("!! %s did not behave as expected\n", d.title);
      ++failures;
    }
  }
  std::printf("\n%s\n", failures ? "quick start: FAILED" : "quick start: all steps behaved as expected");
  return failures ? 1 : 0;
}

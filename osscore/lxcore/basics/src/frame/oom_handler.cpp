// The default out-of-memory handler.
#include <cstdio>

#include "frame/resize.h"
#include "lxframe.h"

namespace lxframe {

namespace {

OutOfMemoryReporter g_reporter = nullptr;

}  // namespace

void SetOutOfMemoryReporter(OutOfMemoryReporter reporter) { g_reporter = reporter; }

int32_t DefaultMemoryHandler(uint32_t size) {
  char text[128];
  std::snprintf(text, sizeof text, "\n%s\n%s %lu %s\n", "Orvanta runs out of memory.", "Tried to allocate",
                static_cast<unsigned long>(size), "bytes of memory.");
  std::fputs(text, stderr);
  std::fflush(stderr);
  if (g_reporter != nullptr) g_reporter(text);
  VESK_assert("\"Out of memory. Aborting!\" && 0", "src\\resize", 73);
  return 0;
}

}  // namespace lxframe

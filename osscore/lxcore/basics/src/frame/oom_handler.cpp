// The default out-of-memory handler.
#include <cstdio>

#include "frame/resize.h"
#include "lxframe.h"
#include "lxmessages.h"

namespace lxframe {

int32_t DefaultMemoryHandler(uint32_t size) {
  static const char kFormat[] = "\n%s\n%s %lu %s\n";
  static const char kLine1[] = "Orvanta runs out of memory.";
  static const char kTried[] = "Tried to allocate";
  static const char kBytes[] = "bytes of memory.";
  unsigned long n = size;
  std::fprintf(stderr, kFormat, kLine1, kTried, n, kBytes);
  std::fflush(stderr);
  LxSystemLog()->Printf(10, kFormat, kLine1, kTried, n, kBytes);
  LxMessage()->Printf(nullptr, 0, kFormat, kLine1, kTried, n, kBytes);
  VESK_assert("\"Out of memory. Aborting!\" && 0", "src\\resize", 73);
  return 0;
}

}  // namespace lxframe

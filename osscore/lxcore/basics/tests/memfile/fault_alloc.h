// Allocation faults for the memory-file tests.
//
// A shrinking realloc never fails in glibc, and RLIMIT_AS cannot make it fail
// either, so the test program replaces realloc and malloc with versions that can
// be told to fail the next calls (the library's calls reach them through the
// dynamic linker). Not available under AddressSanitizer, which owns the
// allocator; LXT_HAVE_FAULT_ALLOC says whether it is built.
#pragma once

#if !defined(__SANITIZE_ADDRESS__) && !defined(__has_feature)
#define LXT_HAVE_FAULT_ALLOC 1
#elif !defined(__SANITIZE_ADDRESS__) && defined(__has_feature)
#if !__has_feature(address_sanitizer)
#define LXT_HAVE_FAULT_ALLOC 1
#endif
#endif

#include <cstdint>
#include <vector>

#include "lxframe.h"

namespace lxt {

// Makes the next `count` calls of realloc (or malloc) return null.
void FailReallocs(int count);
void FailMallocs(int count);

// Installs a memory handler that records the sizes it is called with and
// answers 0; the previous handler comes back when the object goes.
class RecordingHandler {
 public:
  RecordingHandler();
  ~RecordingHandler();
  RecordingHandler(const RecordingHandler&) = delete;
  RecordingHandler& operator=(const RecordingHandler&) = delete;
  static std::vector<uint32_t>& Calls();

 private:
  LxMemoryHandler previous_;
};

}  // namespace lxt

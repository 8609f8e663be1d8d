// What the library does when it is loaded into a process.
//
// A failed `new` anywhere in the process reaches the library's out-of-memory
// handler through the C++ runtime's new handler. The new handler is not told the
// size that failed, so the memory handler is called with 0 from this path; a
// non-zero answer makes `new` try again, zero makes it throw std::bad_alloc.
#include <new>

#include "lxframe.h"

namespace {

void ForwardFailedNew() {
  if (LxCallMemoryHandler(0) == 0) throw std::bad_alloc();
}

__attribute__((constructor)) void AttachToProcess() { std::set_new_handler(ForwardFailedNew); }

}  // namespace

// What the library does when it is loaded into a process.
//
// A failed `new` anywhere in the process reaches the library's out-of-memory
// handler through the C++ runtime's new handler. The C++ runtime does not tell
// the new handler the size that failed: the memory handler gets the size for the
// library's own objects (made through lxframe::NewOrNull) and 0 for everybody
// else's. A non-zero answer makes `new` try again, zero makes it throw
// std::bad_alloc (which a nothrow `new` turns into null).
#include <new>

#include "frame/resize.h"
#include "lxframe.h"

namespace {

thread_local uint32_t t_pendingAllocation = 0;

void ForwardFailedNew() {
  if (LxCallMemoryHandler(t_pendingAllocation) == 0) throw std::bad_alloc();
}

__attribute__((constructor)) void AttachToProcess() { std::set_new_handler(ForwardFailedNew); }

}  // namespace

namespace lxframe {

namespace {

class PendingAllocation {
 public:
  explicit PendingAllocation(size_t size) : previous(t_pendingAllocation) {
    t_pendingAllocation = size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
  }
  ~PendingAllocation() { t_pendingAllocation = previous; }
  PendingAllocation(const PendingAllocation&) = delete;
  PendingAllocation& operator=(const PendingAllocation&) = delete;

 private:
  uint32_t previous;
};

}  // namespace

void* AllocateOrNull(size_t size) {
  PendingAllocation pending(size);
  return ::operator new(size, std::nothrow);
}

char* NewBytesOrNull(size_t size) {
  PendingAllocation pending(size);
  return static_cast<char*>(::operator new[](size, std::nothrow));
}

}  // namespace lxframe

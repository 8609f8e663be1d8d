// Allocation helpers of the library's own code. Like mmResize, they report a
// failure to the out-of-memory handler once, with the size asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

// A new block of `size` bytes from malloc, or null after the handler was called.
void* mmAllocate(uint32_t size);

// `block` resized to `size` bytes through realloc, or null after the handler was
// called; on null the old block is untouched and still the caller's.
void* mmReallocate(void* block, uint32_t size);

namespace lxframe {

// ::operator new(size, std::nothrow) and ::operator new[](size, std::nothrow)
// whose failure reaches the out-of-memory handler with `size`: the C++ runtime
// does not tell the new handler the size of a failed `new`, so the library's own
// allocations leave it where the handler finds it. Released with `delete` and
// `delete[]` respectively.
void* AllocateOrNull(size_t size);
char* NewBytesOrNull(size_t size);

// `new (std::nothrow) T(args...)` through AllocateOrNull.
template <class T, class... Args>
T* NewOrNull(Args&&... args) {
  void* memory = AllocateOrNull(sizeof(T));
  if (memory == nullptr) return nullptr;
  if constexpr (std::is_aggregate_v<T>) {
    return ::new (memory) T{std::forward<Args>(args)...};
  } else {
    return ::new (memory) T(std::forward<Args>(args)...);
  }
}

// The handler that is current when the library is loaded: reports on standard
// error and through the out-of-memory reporter, then raises VESK_assert; returns
// 0 when the assertion returns.
int32_t DefaultMemoryHandler(uint32_t size);

// Where the default handler reports besides standard error. The messages
// subsystem installs one at load that writes the text to the system log (kind 10)
// and the message object; the frame itself knows neither.
using OutOfMemoryReporter = void (*)(const char* text);
void SetOutOfMemoryReporter(OutOfMemoryReporter reporter);

}  // namespace lxframe

// Allocation helpers of the library's own code. Like mmResize, they report a
// failure to the out-of-memory handler once, with the size asked for.
#pragma once

#include <cstdint>

// A new block of `size` bytes from malloc, or null after the handler was called.
void* mmAllocate(uint32_t size);

// `block` resized to `size` bytes through realloc, or null after the handler was
// called; on null the old block is untouched and still the caller's.
void* mmReallocate(void* block, uint32_t size);

namespace lxframe {

// The handler that is current when the library is loaded: reports on standard
// error, in the system log (kind 10) and through the message object, then raises
// VESK_assert; returns 0 when the assertion returns.
int32_t DefaultMemoryHandler(uint32_t size);

}  // namespace lxframe

// LxRawBuffer: a block of bytes that is copied, adopted or borrowed.
#include <cstdlib>
#include <cstring>

#include "lxarrays.h"

namespace {

bool Owns(LxRawBufferBehavior behavior) {
  return behavior == LxRawBufferCopy || behavior == LxRawBufferAdopt;
}

}  // namespace

LxRawBuffer::LxRawBuffer(void* data, uint32_t length, LxRawBufferBehavior behavior)
    : buffer(length != 0 ? data : nullptr), length(data != nullptr ? length : 0), behavior(behavior) {
  if (behavior == LxRawBufferCopy && buffer != nullptr) {
    void* copy = std::malloc(this->length);
    if (copy != nullptr)
      std::memcpy(copy, data, this->length);
    else
      this->length = 0;
    buffer = copy;
  }
}

LxRawBuffer::LxRawBuffer(const LxRawBuffer& source)
    : buffer(source.buffer), length(source.length), behavior(source.behavior) {
  if (Owns(behavior) && buffer != nullptr) {
    void* copy = std::malloc(length);
    if (copy != nullptr)
      std::memcpy(copy, source.buffer, length);
    else
      length = 0;
    buffer = copy;
  }
}

LxRawBuffer::~LxRawBuffer() {
  if (Owns(behavior) && buffer != nullptr) std::free(buffer);
}

int LxRawBuffer::EnsureCapacity(uint32_t size) {
  if (length >= size) return 0;
  if (Owns(behavior) && buffer != nullptr) std::free(buffer);
  buffer = std::malloc(size);
  behavior = LxRawBufferCopy;
  if (buffer == nullptr) {
    length = 0;
    return LX_CORE_OUT_OF_MEMORY;
  }
  length = size;
  return 0;
}

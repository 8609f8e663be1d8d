// Memory resizing and the process-wide out-of-memory handler.
#include "frame/resize.h"

#include <cstdlib>

#include "lxframe.h"

namespace {
LxMemoryHandler g_memoryHandler = lxframe::DefaultMemoryHandler;
}

int32_t mmResize(void** block, uint32_t size) {
  if (size == 0) {
    if (*block != nullptr) {
      std::free(*block);
      *block = nullptr;
    }
    return 0;
  }
  void* resized = *block == nullptr ? std::malloc(size) : std::realloc(*block, size);
  if (resized == nullptr) {
    LxCallMemoryHandler(size);
    return LX_RESIZE_FAILED;
  }
  *block = resized;
  return 0;
}

int32_t mmFarResize(void** block, uint32_t size) { return mmResize(block, size); }

void* mmAllocate(uint32_t size) {
  void* block = std::malloc(size);
  if (block == nullptr) LxCallMemoryHandler(size);
  return block;
}

void* mmReallocate(void* block, uint32_t size) {
  void* resized = std::realloc(block, size);
  if (resized == nullptr) LxCallMemoryHandler(size);
  return resized;
}

LxMemoryHandler mmLxSetHandler(LxMemoryHandler handler) {
  LxMemoryHandler previous = g_memoryHandler;
  g_memoryHandler = handler;
  return previous;
}

int32_t LxCallMemoryHandler(uint32_t size) { return g_memoryHandler(size); }

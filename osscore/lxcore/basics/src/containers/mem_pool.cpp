// The node pool: nodes of one size from buffers of about 4096 bytes.
//
// Buffers and records come from operator new in its non-throwing form: a
// failure makes GetNode return null instead of letting an exception escape.

#include "frame/resize.h"
#include "lxcontainers.h"

namespace {
constexpr uint32_t kBufferBytes = 4096;
}

LxMemPool::LxMemPool(uint32_t nodeSize) : nodeSize(nodeSize) {}

LxMemPool::~LxMemPool() { DeallocateBuffers(); }

void* LxMemPool::GetNode() {
  ++nodesGot;
  if (freeNodes != nullptr) {
    FreeNodeRecord* r = freeNodes;
    freeNodes = r->next;
    void* node = r->node;
    delete r;
    return node;
  }
  if (next != end) {
    next += nodeSize;
    return next;
  }
  AddNewBuffer();
  return next;
}

void LxMemPool::PutNode(void* node) {
  ++nodesPut;
  FreeNodeRecord* r = lxframe::NewOrNull<FreeNodeRecord>(freeNodes, node);
  if (r != nullptr) freeNodes = r;  // without memory the node stays unused until the buffers go
}

void LxMemPool::AddNewBuffer() {
  ++buffersAllocated;
  uint32_t nodes = nodeSize > 0 ? kBufferBytes / nodeSize : 1;
  if (nodes == 0) nodes = 1;
  BufferRecord* r = lxframe::NewOrNull<BufferRecord>(buffers, nullptr);
  char* memory = r != nullptr ? lxframe::NewBytesOrNull(size_t{nodeSize} * nodes) : nullptr;
  if (memory == nullptr) {
    delete r;
    next = end = nullptr;
    return;
  }
  r->memory = memory;
  buffers = r;
  next = memory;
  end = memory + size_t{nodeSize} * (nodes - 1);
}

void LxMemPool::DeallocateBuffers() {
  while (buffers != nullptr) {
    BufferRecord* r = buffers;
    buffers = r->next;
    if (r->memory != nullptr) {
      delete[] r->memory;
      ++buffersFreed;
    }
    delete r;
  }
  while (freeNodes != nullptr) {
    FreeNodeRecord* r = freeNodes;
    freeNodes = r->next;
    delete r;
  }
  next = end = nullptr;
}

uint32_t LxMemPool::CountFreeNodes() const {
  uint32_t n = 0;
  for (const FreeNodeRecord* r = freeNodes; r != nullptr; r = r->next) ++n;
  return n;
}

uint32_t LxMemPool::CountRemainingNodes() const {
  uint32_t n = 0;
  if (next == nullptr) return 0;
  for (const char* p = next; p != end; p += nodeSize) ++n;
  return n;
}

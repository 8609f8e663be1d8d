// Fixed-size records in a memory file, walked as a container.
#include <cstring>

#include "lxcontainers.h"
#include "lxmemfile.h"

namespace {
constexpr unsigned short kSeekFromStart = 0;
constexpr unsigned short kSeekFromCurrent = 1;
}  // namespace

LxMemFileContainer::LxMemFileContainer(MemFile* file, uint32_t elementSize, uint32_t count)
    : LxVContainer(elementSize, 0),
      memFile(file),
      startOffset(static_cast<uint32_t>(file->GetPosition())),
      currentIndex(0) {
  this->count = count;
}

LxMemFileContainer::~LxMemFileContainer() = default;

LxMemFileIterator::LxMemFileIterator(LxMemFileContainer* container) : LxVIterator(nullptr, container) {}

LxMemFileIterator::~LxMemFileIterator() = default;

int LxMemFileIterator::First() {
  LxMemFileContainer* c = MemFileContainer();
  if (c == nullptr) return status;
  if (c->count == 0) return status = LX_CONTAINER_BEFORE_FIRST;
  c->currentIndex = 0;
  currentEntry = c->memFile->Seek(static_cast<int32_t>(c->startOffset), kSeekFromStart);
  return status = currentEntry == nullptr ? LX_CONTAINER_BEFORE_FIRST : 0;
}

int LxMemFileIterator::Next() {
  LxMemFileContainer* c = MemFileContainer();
  if (c == nullptr) return status;
  currentEntry = c->memFile->Seek(static_cast<int32_t>(c->elementSize), kSeekFromCurrent);
  if (currentEntry == nullptr) return status = LX_CONTAINER_BEHIND_LAST;
  if (++c->currentIndex >= c->count) return status = LX_CONTAINER_BEHIND_LAST;
  return status = 0;
}

int LxMemFileIterator::CompareElement(const LxVIterator* other, LxVParameter*, int& keyOrder, int& entryOrder,
                                      LxVParameter*) const {
  int s = 0;
  const unsigned char* p = static_cast<const unsigned char*>(GetEntry(s, nullptr));
  if (s < 0) return s;
  const unsigned char* q = static_cast<const unsigned char*>(other->GetEntry(s, nullptr));
  if (s < 0) return s;
  int order = 0;
  uint32_t size = container->GetElementSize();
  if (size > 0 && p != q) {
    if (p == nullptr || q == nullptr) return LX_CONTAINER_INTERNAL;
    int r = std::memcmp(p, q, size);  // compares as unsigned char
    order = r < 0 ? -1 : r > 0 ? 1 : 0;
  }
  keyOrder = order;
  entryOrder = order;
  return s;
}

const void* LxMemFileIterator::GetEntry(int& s, LxVParameter*) const {
  s = status;
  return currentEntry;
}

const void* LxMemFileIterator::GetKey(int& s, LxVParameter*) const {
  s = status;
  return currentEntry;
}

// LxCList: every element in one heap block, resized through mmResize.
#include <cstring>

#include "lxarrays.h"
#include "lxframe.h"

namespace {

constexpr unsigned short kMaximumCount = 32767;

}  // namespace

LxCList::LxCList() : LxVArray(), maximumCount(0), capacity(0), buffer(nullptr) {}

LxCList::LxCList(unsigned short elementSize, int capacity, int* result)
    : LxVArray(elementSize), maximumCount(0), capacity(0), buffer(nullptr) {
  int r = Init(elementSize, static_cast<uint32_t>(capacity));
  if (result != nullptr) *result = r;
}

LxCList::LxCList(const LxCList& source)
    : LxVArray(source.elementSize), maximumCount(source.maximumCount), capacity(0), buffer(nullptr) {
  Copy(&source);
}

LxCList::~LxCList() { mmResize(&buffer, 0); }

unsigned short LxCList::GetType() const { return 1; }

uint32_t LxCList::GetMaxCount() const { return maximumCount; }

uint32_t LxCList::GetCurMaxCount() const { return capacity; }

int LxCList::Init(unsigned short elementSize, uint32_t capacity) {
  // A buffer held from earlier use would otherwise be lost.
  mmResize(&buffer, 0);
  this->elementSize = elementSize;
  this->capacity = static_cast<unsigned short>(capacity);
  count = 0;
  if (elementSize == 0) {
    maximumCount = 0;
    return LX_ARRAY_ZERO_ELEMENT_SIZE;
  }
  maximumCount = kMaximumCount;
  if (capacity > kMaximumCount) this->capacity = kMaximumCount;
  if (this->capacity == 0) return 0;
  if (mmResize(&buffer, static_cast<uint32_t>(this->capacity) * elementSize) != 0) {
    this->capacity = 0;
    return LX_ARRAY_NO_STORAGE;
  }
  return 0;
}

int LxCList::SizeSet(uint32_t capacity) {
  if (capacity < count) return LX_ARRAY_OUT_OF_RANGE;
  if (capacity == this->capacity) return 0;
  if (capacity > maximumCount) return LX_ARRAY_NO_STORAGE;
  if (mmResize(&buffer, capacity * elementSize) != 0) return LX_ARRAY_NO_STORAGE;
  this->capacity = static_cast<unsigned short>(capacity);
  return 0;
}

void LxCList::Clear() {
  mmResize(&buffer, 0);
  Init(elementSize, 0);
}

int LxCList::Get(uint32_t index, void* out) const {
  if (index >= count) return LX_ARRAY_OUT_OF_RANGE;
  std::memcpy(out, static_cast<const unsigned char*>(buffer) + static_cast<size_t>(index) * elementSize,
              elementSize);
  return 0;
}

void* LxCList::Element(uint32_t index) const {
  if (index >= count) return nullptr;
  return static_cast<unsigned char*>(buffer) + static_cast<size_t>(index) * elementSize;
}

void* LxCList::PrepareInsert(uint32_t index) {
  if (Insert(index, nullptr) != 0) return nullptr;
  return static_cast<unsigned char*>(buffer) + static_cast<size_t>(index) * elementSize;
}

int LxCList::InsertSlow(uint32_t index, const void* data) {
  if (index > count || index >= maximumCount) return LX_ARRAY_OUT_OF_RANGE;
  if (count >= capacity) {
    if (count == maximumCount) return LX_ARRAY_NO_STORAGE;
    uint32_t step = capacity != 0 ? capacity : 1;
    while (step != 0 && capacity + step > maximumCount) step /= 2;
    if (step == 0) return LX_ARRAY_NO_STORAGE;
    if (mmResize(&buffer, (capacity + step) * elementSize) != 0) return LX_ARRAY_NO_STORAGE;
    capacity = static_cast<unsigned short>(capacity + step);
  }
  auto* slot = static_cast<unsigned char*>(buffer) + static_cast<size_t>(index) * elementSize;
  if (index < count) std::memmove(slot + elementSize, slot, static_cast<size_t>(count - index) * elementSize);
  if (data != nullptr) std::memcpy(slot, data, elementSize);
  ++count;
  return 0;
}

int LxCList::Update(uint32_t index, const void* data) {
  if (index >= count) return LX_ARRAY_OUT_OF_RANGE;
  std::memcpy(static_cast<unsigned char*>(buffer) + static_cast<size_t>(index) * elementSize, data,
              elementSize);
  return 0;
}

int LxCList::Delete(uint32_t index, int shrink) {
  if (index >= count) return LX_ARRAY_OUT_OF_RANGE;
  --count;
  auto* slot = static_cast<unsigned char*>(buffer) + static_cast<size_t>(index) * elementSize;
  if (index < count) std::memmove(slot, slot + elementSize, static_cast<size_t>(count - index) * elementSize);
  if (shrink != 0 && count <= capacity / 2u) {
    capacity = static_cast<unsigned short>(capacity / 2);
    // Best effort: a failed shrink keeps the larger block, which still serves.
    mmResize(&buffer, static_cast<uint32_t>(capacity) * elementSize);
  }
  return 0;
}

int LxCList::Copy(const LxVArray* source) {
  if (source->GetType() != 1) return LX_ARRAY_WRONG_KIND;
  const auto* from = static_cast<const LxCList*>(source);
  if (from == this) return 0;
  if (mmResize(&buffer, static_cast<uint32_t>(from->capacity) * from->elementSize) != 0) {
    return LX_ARRAY_NO_STORAGE;
  }
  elementSize = from->elementSize;
  capacity = from->capacity;
  count = from->count;
  if (buffer != nullptr) {
    std::memcpy(buffer, from->buffer, static_cast<size_t>(capacity) * elementSize);
  }
  return 0;
}

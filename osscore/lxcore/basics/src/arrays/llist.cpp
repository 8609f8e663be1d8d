// LxLList: elements in a MemFile owned by the list, element i at byte offset
// i * elementSize. The memory file's logical size is kept at capacity *
// elementSize, so growing by one element is cheap until the file's segment
// geometry asks for a new block.
//
// When the memory file itself cannot be allocated (constructors), the list keeps
// a null file and behaves as a list that cannot grow: insertions and imports
// return LX_ARRAY_NO_STORAGE and copies leave it empty.
#include <cstring>

#include "frame/resize.h"
#include "lxarrays.h"
#include "lxmemfile.h"

namespace {

int32_t Bytes(uint32_t elements, unsigned short elementSize) {
  return static_cast<int32_t>(elements * static_cast<uint32_t>(elementSize));
}

}  // namespace

LxLList::LxLList() : LxLList(4, 0, nullptr) {}

LxLList::LxLList(unsigned short elementSize, uint32_t capacity, int* result)
    : LxVArray(elementSize),
      capacity(0),
      memoryFile(lxframe::NewOrNull<MemFile>(Bytes(capacity, elementSize), 0)) {
  int r = Init(elementSize, capacity);
  if (result != nullptr) *result = r;
}

LxLList::LxLList(const LxLList& source)
    : LxVArray(0), capacity(0), memoryFile(lxframe::NewOrNull<MemFile>(0, 0)) {
  Copy(&source);
}

LxLList::~LxLList() {
  delete memoryFile;
  memoryFile = nullptr;
  capacity = 0;
}

unsigned short LxLList::GetType() const { return 2; }

uint32_t LxLList::GetCurMaxCount() const { return capacity; }

int LxLList::Init(unsigned short elementSize, uint32_t capacity) {
  count = 0;
  this->elementSize = elementSize;
  if (elementSize != 0 && !(this->capacity == 0 && capacity == 0) && memoryFile != nullptr) {
    memoryFile->SizeSet(Bytes(capacity, elementSize));
  }
  this->capacity = capacity;
  return 0;
}

int LxLList::SizeSet(uint32_t capacity) {
  if (capacity < count) return LX_ARRAY_OUT_OF_RANGE;
  if (capacity == this->capacity) return 0;
  if (memoryFile == nullptr) return LX_MEMFILE_NO_MEMORY;
  int32_t r = memoryFile->SizeSet(Bytes(capacity, elementSize));
  if (r == 0) this->capacity = capacity;
  return r;
}

void LxLList::Clear() { Init(elementSize, 0); }

int LxLList::Get(uint32_t index, void* out) const {
  if (index >= count) return LX_ARRAY_OUT_OF_RANGE;
  memoryFile->Get(out, Bytes(index, elementSize), elementSize);
  return 0;
}

void* LxLList::Element(uint32_t index) const {
  if (index >= count) return nullptr;
  uint32_t length = elementSize;
  return memoryFile->GetPtr(Bytes(index, elementSize), &length);
}

void** LxLList::PtrElement(uint32_t index) const {
  if (index >= count) return nullptr;
  return reinterpret_cast<void**>(memoryFile->GetPtr(static_cast<int32_t>(index * sizeof(void*))));
}

void* LxLList::PrepareInsert(uint32_t index) {
  if (Insert(index, nullptr) != 0) return nullptr;
  return Element(index);
}

int LxLList::InsertSlow(uint32_t index, const void* data) {
  if (index > count) return LX_ARRAY_OUT_OF_RANGE;
  if (memoryFile == nullptr) return LX_ARRAY_NO_STORAGE;
  if (count >= capacity) {
    ++capacity;
    if (memoryFile->SizeSet(Bytes(capacity, elementSize)) != 0) {
      --capacity;
      return LX_ARRAY_NO_STORAGE;
    }
  }
  if (index < count) {
    memoryFile->Copy(Bytes(index + 1, elementSize), Bytes(index, elementSize),
                     Bytes(count - index, elementSize));
  }
  if (data != nullptr) memoryFile->Put(data, Bytes(index, elementSize), elementSize);
  ++count;
  return 0;
}

int LxLList::Update(uint32_t index, const void* data) {
  if (index >= count) return LX_ARRAY_OUT_OF_RANGE;
  memoryFile->Put(data, Bytes(index, elementSize), elementSize);
  return 0;
}

int LxLList::Delete(uint32_t index, int shrink) {
  if (index >= count) return LX_ARRAY_OUT_OF_RANGE;
  --count;
  memoryFile->Copy(Bytes(index, elementSize), Bytes(index + 1, elementSize),
                   Bytes(count - index, elementSize));
  if (shrink != 0) {
    uint32_t step = capacity < 10 ? capacity : 10;
    uint32_t reduced = capacity - step;
    if (count <= reduced) {
      capacity = reduced;
      // Best effort: a failed reduction keeps the larger block.
      memoryFile->SizeSet(Bytes(reduced, elementSize));
    }
  }
  return 0;
}

int LxLList::Copy(const LxVArray* source) {
  if (source->GetType() != 2) return LX_ARRAY_WRONG_KIND;
  const auto* from = static_cast<const LxLList*>(source);
  if (from == this || memoryFile == nullptr) return 0;
  count = from->count;
  elementSize = from->elementSize;
  capacity = from->capacity;
  memoryFile->SizeSet(Bytes(count, elementSize));
  memoryFile->Seek(0, 0);
  const uint32_t wanted =
      from->memoryFile != nullptr ? static_cast<uint32_t>(from->memoryFile->GetSize()) : 0;
  const uint32_t copied = from->memoryFile != nullptr ? memoryFile->Put(from->memoryFile, 0u, 0u) : 0;
  // A memory file that cannot take the source's bytes is not reported, as
  // designed. The list is then left empty rather than with elements that lie
  // outside its file or hold bytes that are not the source's.
  if (copied != wanted || static_cast<uint32_t>(memoryFile->GetSize()) < count * elementSize) {
    count = 0;
    capacity = 0;
    memoryFile->SizeSet(0);
  }
  return 0;
}

int LxLList::Import(uint32_t n, MemFile* source) {
  if (memoryFile == nullptr) return LX_ARRAY_NO_STORAGE;
  uint32_t length = n * elementSize;
  if (count + n > capacity) {
    uint32_t old = capacity;
    capacity += count + n;
    if (memoryFile->SizeSet(Bytes(capacity, elementSize)) != 0) {
      capacity = old;
      return LX_ARRAY_NO_STORAGE;
    }
  }
  char* from = source->Seek(0, 1, &length);
  char* to = memoryFile->Seek(Bytes(count, elementSize), 0, &length);
  if (from == nullptr || to == nullptr) return LX_ARRAY_NO_STORAGE;
  std::memcpy(to, from, length);
  count += n;
  return 0;
}

LxLList* LxLList::CreateCopyAndClear() {
  LxLList* copy;
  if (dynamic_cast<SortList*>(this) != nullptr) {
    copy = lxframe::NewOrNull<SortList>(elementSize, nullptr, 0);
  } else {
    copy = lxframe::NewOrNull<LxLList>(elementSize, 0, nullptr);
  }
  if (copy == nullptr) return nullptr;
  if (copy->memoryFile == nullptr) {
    delete copy;
    return nullptr;
  }
  copy->comparisonFunction = comparisonFunction;
  copy->count = count;
  copy->elementSize = elementSize;
  copy->capacity = capacity;
  MemFile* empty = copy->memoryFile;
  copy->memoryFile = memoryFile;
  memoryFile = empty;
  capacity = 0;
  Init(elementSize, 0);
  return copy;
}

SortList::SortList() : SortList(0, nullptr, 0) {}

SortList::SortList(unsigned short elementSize, LxArrayCompareFunc compare, uint32_t capacity)
    : LxLList(4, 0, nullptr) {
  comparisonFunction = compare;
  LxLList::Init(elementSize, capacity);
}

SortList::SortList(const SortList& source) : LxLList(source) {}

SortList::~SortList() = default;

int SortList::Init(unsigned short elementSize, LxArrayCompareFunc compare, uint32_t capacity) {
  comparisonFunction = compare;
  return LxLList::Init(elementSize, capacity);
}

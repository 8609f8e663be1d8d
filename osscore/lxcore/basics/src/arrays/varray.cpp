// LxVArray: the base fields and the operations written once against the virtual
// element operations (search, sorted insert, sort, merge).
#include <cstdlib>
#include <cstring>

#include "arrays/array_sort.h"
#include "lxarrays.h"

LxVArray::LxVArray() : comparisonFunction(nullptr), count(0), elementSize(0) {}

LxVArray::LxVArray(unsigned short elementSize)
    : comparisonFunction(nullptr), count(0), elementSize(elementSize) {}

LxVArray::LxVArray(const LxVArray& source)
    : comparisonFunction(source.comparisonFunction), count(source.count), elementSize(source.elementSize) {}

LxVArray::~LxVArray() {
  // Volatile stores: the compiler would otherwise drop writes into an object whose
  // lifetime is ending, and the markers are there to be seen afterwards.
  *reinterpret_cast<LxArrayCompareFunc volatile*>(&comparisonFunction) = nullptr;
  *reinterpret_cast<volatile uint32_t*>(&count) = 0xFFFFFFFFu;
  *reinterpret_cast<volatile unsigned short*>(&elementSize) = 0xFFFF;
}

uint32_t LxVArray::GetMaxCount() const { return 0xFFFFFFFFu; }

int LxVArray::Search(const void* key, uint32_t* position, void* out) const {
  if (position != nullptr) *position = 0;
  if (count == 0) return LX_ARRAY_OUT_OF_RANGE;
  int32_t low = 0;
  int32_t high = static_cast<int32_t>(count - 1);
  int32_t middle;
  int c;
  const unsigned char* first = lxarrays::ContiguousElements(this);
  do {
    middle = (low + high) >> 1;
    const void* element = first != nullptr ? first + static_cast<size_t>(middle) * elementSize
                                           : Element(static_cast<uint32_t>(middle));
    c = comparisonFunction(this, key, element);
    if (c == 0) break;
    // c < 0: high := middle - 1, else low := middle + 1; selected through a mask
    // rather than a branch on c, which the processor could only guess.
    const int32_t before = -static_cast<int32_t>(c < 0);
    high = ((middle - 1) & before) | (high & ~before);
    low = (low & before) | ((middle + 1) & ~before);
  } while (low <= high);
  if (c > 0) ++middle;
  if (position != nullptr) *position = static_cast<uint32_t>(middle);
  if (c != 0) return LX_ARRAY_OUT_OF_RANGE;
  if (out != nullptr) std::memcpy(out, Element(static_cast<uint32_t>(middle)), elementSize);
  return 0;
}

int LxVArray::SearchAt(uint32_t index, const void* key, void* out) const {
  if (index >= count) return LX_ARRAY_OUT_OF_RANGE;
  const void* element = Element(index);
  int c = comparisonFunction(this, key, element);
  if (c != 0) return c;
  if (out != nullptr) std::memcpy(out, element, elementSize);
  return 0;
}

int LxVArray::SortedInsert(const void* element, uint32_t* position, int allowDuplicates, int copy) {
  uint32_t own = 0;
  uint32_t* at = position != nullptr ? position : &own;
  int r = Search(element, at, nullptr);
  if (r == 0) {
    if (allowDuplicates == 0) return LX_ARRAY_DUPLICATE;
    ++*at;
  }
  return Insert(*at, copy != 0 ? element : nullptr);
}

int LxVArray::Sort(unsigned short /*unused*/) {
  if (comparisonFunction == nullptr) return LX_ARRAY_NO_COMPARE_FUNCTION;
  auto* scratch = static_cast<unsigned char*>(std::malloc(elementSize != 0 ? elementSize : 1));
  if (scratch == nullptr) return LX_CORE_OUT_OF_MEMORY;
  lxarrays::SortArray(this, comparisonFunction, scratch);
  std::free(scratch);
  return 0;
}

int LxVArray::Merge(const LxVArray* /*source*/, unsigned short /*unused*/) { return LX_ARRAY_NO_MERGE; }

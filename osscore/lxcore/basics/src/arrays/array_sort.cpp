#include "arrays/array_sort.h"

#include <cstring>

namespace lxarrays {
namespace {

// Ranges shorter than this are partitioned without first looking for a run: their
// worst case is small, and the look costs comparisons on every range.
constexpr int32_t kRunCheckMin = 16;
constexpr int32_t kAllEqual = -1;

// Elements addressed through the virtual Element of any array.
class VirtualAccess {
 public:
  explicit VirtualAccess(LxVArray* array) : array_(array) {}
  unsigned char* operator()(int32_t i) const {
    return static_cast<unsigned char*>(array_->Element(static_cast<uint32_t>(i)));
  }
  static constexpr bool kContiguous = false;

 private:
  LxVArray* array_;
};

// Elements of the lists, which lie back to back in one block.
class ContiguousAccess {
 public:
  ContiguousAccess(unsigned char* base, size_t size) : base_(base), size_(size) {}
  unsigned char* operator()(int32_t i) const { return base_ + static_cast<size_t>(i) * size_; }
  static constexpr bool kContiguous = true;

 private:
  unsigned char* base_;
  size_t size_;
};

template <class Access>
class QuickSorter {
 public:
  QuickSorter(const LxVArray* array, LxArrayCompareFunc compare, Access at, size_t size,
              unsigned char* scratch)
      : array_(array), compare_(compare), at_(at), size_(size), scratch_(scratch) {}

  void SortRange(int32_t lo, int32_t hi) {
    while (lo < hi) {
      if (hi - lo == 1) {
        // Two elements: the partition swaps them exactly when the second does not
        // sort after the first.
        if (Compare(at_(hi), at_(lo)) <= 0) Swap(lo, hi);
        return;
      }
      if (hi - lo + 1 >= kRunCheckMin) {
        int direction = RunDirection(lo, hi);
        if (direction > 0) return;
        if (direction < 0) {
          Reverse(lo, hi);
          return;
        }
      }
      int32_t p = Partition(lo, hi);
      if (p == kAllEqual) {
        RotateLeft(lo, hi);
        return;
      }
      if (p - lo < hi - p) {
        SortRange(lo, p - 1);
        lo = p + 1;
      } else {
        SortRange(p + 1, hi);
        hi = p - 1;
      }
    }
  }

 private:
  int Compare(const void* key, const void* element) const { return compare_(array_, key, element); }

  // The partition of the plain algorithm: returns the pivot's final index, or
  // kAllEqual (nothing moved) when the first scan found every key equal to the
  // pivot. Comparisons whose outcome is already known are left out: the pivot
  // with itself, the two elements just swapped, and any element left of i, which
  // the forward scan has passed (all of them sort at or before the pivot, so the
  // backward scan stops on the first of them it reaches).
  int32_t Partition(int32_t lo, int32_t hi) {
    const unsigned char* pivot = at_(lo);
    int32_t i = lo + 1;
    int32_t j = hi;
    int c = Compare(at_(i), pivot);
    bool allEqual = c == 0;
    while (c <= 0 && i < hi) {
      ++i;
      c = Compare(at_(i), pivot);
      allEqual = allEqual && c == 0;
    }
    if (allEqual) return kAllEqual;
    for (;;) {
      while (j >= i && j > lo && Compare(at_(j), pivot) > 0) --j;
      if (i >= j) break;
      Swap(i, j);
      ++i;
      c = Compare(at_(i), pivot);
      while (c <= 0 && i < hi) {
        ++i;
        c = Compare(at_(i), pivot);
      }
      --j;
    }
    if (j != lo) Swap(lo, j);
    return j;
  }

  // 1 when the range is strictly ascending, -1 when strictly descending, else 0.
  int RunDirection(int32_t lo, int32_t hi) const {
    int c = Compare(at_(lo), at_(lo + 1));
    if (c == 0) return 0;
    int32_t k = lo + 1;
    if (c < 0) {
      while (k < hi && Compare(at_(k), at_(k + 1)) < 0) ++k;
      return k == hi ? 1 : 0;
    }
    while (k < hi && Compare(at_(k), at_(k + 1)) > 0) ++k;
    return k == hi ? -1 : 0;
  }

  void Swap(int32_t i, int32_t j) {
    unsigned char* a = at_(i);
    unsigned char* b = at_(j);
    if (size_ % 8 == 0) {
      for (size_t k = 0; k < size_; k += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + k, 8);
        std::memcpy(&y, b + k, 8);
        std::memcpy(a + k, &y, 8);
        std::memcpy(b + k, &x, 8);
      }
      return;
    }
    std::memcpy(scratch_, a, size_);
    std::memcpy(a, b, size_);
    std::memcpy(b, scratch_, size_);
  }

  void Reverse(int32_t lo, int32_t hi) {
    while (lo < hi) Swap(lo++, hi--);
  }

  void RotateLeft(int32_t lo, int32_t hi) {
    std::memcpy(scratch_, at_(lo), size_);
    if (Access::kContiguous) {
      std::memmove(at_(lo), at_(lo + 1), static_cast<size_t>(hi - lo) * size_);
    } else {
      for (int32_t k = lo; k < hi; ++k) std::memcpy(at_(k), at_(k + 1), size_);
    }
    std::memcpy(at_(hi), scratch_, size_);
  }

  const LxVArray* array_;
  LxArrayCompareFunc compare_;
  Access at_;
  size_t size_;
  unsigned char* scratch_;
};

}  // namespace

unsigned char* ContiguousElements(const LxVArray* array) {
  uint32_t count = array->GetCount();
  unsigned short type = array->GetType();
  if (count == 0 || (type != 1 && type != 2)) return nullptr;
  auto* first = static_cast<unsigned char*>(array->Element(0));
  auto* last = static_cast<unsigned char*>(array->Element(count - 1));
  if (first == nullptr || last != first + static_cast<size_t>(count - 1) * array->GetElementSize())
    return nullptr;
  return first;
}

void SortArray(LxVArray* array, LxArrayCompareFunc compare, unsigned char* scratch) {
  uint32_t count = array->GetCount();
  if (count < 2) return;
  size_t size = array->GetElementSize();
  int32_t hi = static_cast<int32_t>(count - 1);
  if (unsigned char* first = ContiguousElements(array)) {
    QuickSorter<ContiguousAccess>(array, compare, ContiguousAccess(first, size), size, scratch)
        .SortRange(0, hi);
  } else {
    QuickSorter<VirtualAccess>(array, compare, VirtualAccess(array), size, scratch).SortRange(0, hi);
  }
}

}  // namespace lxarrays

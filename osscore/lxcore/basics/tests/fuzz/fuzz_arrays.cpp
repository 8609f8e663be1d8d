// LxCList, LxLList and SortList (one of each, so that Copy meets both kinds)
// under arbitrary operation sequences, against a model per list: the elements'
// bytes, the capacity as each class grows and shrinks it, the maximum count and
// whether a comparison function is set. After every step count, capacity, size
// and every element's bytes equal the model's. A slot that an insertion leaves
// unfilled is taken over once and must then move with its element. Search and
// SortedInsert positions are checked against the order where the list is
// sorted, and for consistency where it is not.
//
// Input: byte 0 the element size (1..12), then one operation per group of bytes
// (at most 64).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "lxarrays.h"
#include "lxmemfile.h"

namespace {

constexpr uint32_t kMaxElements = 300;

// Orders by the first byte only, so that unequal elements compare equal.
int CompareFirstByte(const LxVArray*, const void* key, const void* element) {
  return static_cast<int>(*static_cast<const unsigned char*>(key)) -
         static_cast<int>(*static_cast<const unsigned char*>(element));
}

class CList : public LxCList {
 public:
  CList(unsigned short size, int capacity, int* result) : LxCList(size, capacity, result) {
    comparisonFunction = CompareFirstByte;
  }
};

class LList : public LxLList {
 public:
  LList(unsigned short size, uint32_t capacity, int* result) : LxLList(size, capacity, result) {
    comparisonFunction = CompareFirstByte;
  }
};

struct Model {
  int type = 1;  // 1 LxCList, 2 LxLList or SortList
  std::vector<std::string> elements;
  uint32_t capacity = 0;
  uint32_t maxCount = 0;  // LxCList only
  unsigned short elementSize = 0;
  bool hasCompare = true;

  uint32_t Count() const { return static_cast<uint32_t>(elements.size()); }
};

std::string Bytes(const LxVArray& a, uint32_t i) {
  std::string out(a.GetElementSize(), '\0');
  FUZZ_CHECK(a.Get(i, &out[0]) == 0);
  return out;
}

void CheckList(const LxVArray& a, const Model& m) {
  FUZZ_CHECK(a.GetType() == m.type);
  FUZZ_CHECK(a.GetCount() == m.Count());
  FUZZ_CHECK(a.GetCurMaxCount() == m.capacity);
  FUZZ_CHECK(a.GetElementSize() == m.elementSize);
  FUZZ_CHECK(m.Count() <= m.capacity);
  FUZZ_CHECK((a.GetComparisonFunction() != nullptr) == m.hasCompare);
  if (m.type == 1) FUZZ_CHECK(a.GetMaxCount() == m.maxCount);
  for (uint32_t i = 0; i < m.Count(); ++i) {
    FUZZ_CHECK(Bytes(a, i) == m.elements[i]);
    const void* e = a.Element(i);
    FUZZ_CHECK(e != nullptr && std::memcmp(e, m.elements[i].data(), m.elementSize) == 0);
  }
  FUZZ_CHECK(a.Element(m.Count()) == nullptr);
  std::string out(m.elementSize + 1, '\x77');
  FUZZ_CHECK(a.Get(m.Count(), &out[0]) == LX_ARRAY_OUT_OF_RANGE &&
             out == std::string(m.elementSize + 1, '\x77'));
}

int Cmp(const std::string& a, const std::string& b) { return CompareFirstByte(nullptr, a.data(), b.data()); }

bool IsSorted(const Model& m) {
  for (size_t i = 1; i < m.elements.size(); ++i) {
    if (Cmp(m.elements[i - 1], m.elements[i]) > 0) return false;
  }
  return true;
}

bool HasEqual(const Model& m, const std::string& bytes) {
  for (const std::string& e : m.elements) {
    if (Cmp(bytes, e) == 0) return true;
  }
  return false;
}

// Capacity after an insertion into a full list, as each class grows.
void Grow(Model& m) {
  if (m.type == 2) {
    ++m.capacity;
    return;
  }
  uint32_t step = m.capacity != 0 ? m.capacity : 1;
  while (m.capacity + step > m.maxCount) step /= 2;
  m.capacity += step;
}

// Expected result of Insert(index) for the model, applying the capacity change.
int Insert(Model& m, uint32_t index) {
  if (index > m.Count() || (m.type == 1 && index >= m.maxCount)) return LX_ARRAY_OUT_OF_RANGE;
  if (m.Count() >= m.capacity) {
    if (m.type == 1 && m.Count() == m.maxCount) return LX_ARRAY_NO_STORAGE;
    Grow(m);
  }
  return 0;
}

void Shrink(Model& m) {
  if (m.type == 1) {
    if (m.Count() <= m.capacity / 2) m.capacity /= 2;
    return;
  }
  const uint32_t step = std::min<uint32_t>(m.capacity, 10);
  if (m.Count() <= m.capacity - step) m.capacity -= step;
}

std::unique_ptr<LxVArray> Make(int kind, unsigned short size, Model& m) {
  int result = -1;
  m = Model();
  m.elementSize = size;
  switch (kind) {
    case 0: {
      auto a = std::make_unique<CList>(size, 0, &result);
      FUZZ_CHECK(result == 0);
      m.type = 1;
      m.maxCount = 32767;
      return a;
    }
    case 1: {
      auto a = std::make_unique<LList>(size, 0, &result);
      FUZZ_CHECK(result == 0);
      m.type = 2;
      return a;
    }
    default:
      m.type = 2;
      return std::make_unique<SortList>(size, CompareFirstByte, 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lxfuzz::Input in(data, size);
  const unsigned short elementSize = static_cast<unsigned short>(in.Byte() % 12 + 1);
  Model model[3];
  std::unique_ptr<LxVArray> list[3];
  for (int k = 0; k < 3; ++k) list[k] = Make(k, elementSize, model[k]);

  for (int step = 0; step < 64 && !in.Empty(); ++step) {
    const uint8_t op = in.Byte();
    const int k = in.Below(3);
    LxVArray& a = *list[k];
    Model& m = model[k];
    const uint32_t index = in.Below(m.Count() + 2);
    std::string bytes(m.elementSize, '\0');
    for (char& c : bytes) c = static_cast<char>(in.Byte() & 0x0F);  // small values: many equal first bytes
    const bool sorted = IsSorted(m);
    switch (op % 16) {
      case 0:
      case 1: {  // Insert, with or without bytes
        if (m.Count() >= kMaxElements) break;
        const bool withBytes = (op & 0x10) == 0;
        const int expected = Insert(m, index);
        FUZZ_CHECK(a.Insert(index, withBytes ? bytes.data() : nullptr) == expected);
        if (expected != 0) break;
        m.elements.insert(m.elements.begin() + index, withBytes ? bytes : Bytes(a, index));
        break;
      }
      case 2: {  // PrepareInsert, then fill the slot
        if (m.Count() >= kMaxElements) break;
        const int expected = Insert(m, index);
        void* slot = a.PrepareInsert(index);
        FUZZ_CHECK((slot != nullptr) == (expected == 0));
        if (slot == nullptr) break;
        std::memcpy(slot, bytes.data(), m.elementSize);
        m.elements.insert(m.elements.begin() + index, bytes);
        break;
      }
      case 3: {  // Update
        const int r = a.Update(index, bytes.data());
        FUZZ_CHECK(r == (index < m.Count() ? 0 : LX_ARRAY_OUT_OF_RANGE));
        if (r == 0) {
          m.elements[index] = bytes;
        }
        break;
      }
      case 4: {  // Delete, with or without giving storage back
        const bool shrink = (op & 0x10) != 0;
        const int r = a.Delete(index, shrink ? 1 : 0);
        FUZZ_CHECK(r == (index < m.Count() ? 0 : LX_ARRAY_OUT_OF_RANGE));
        if (r != 0) break;
        m.elements.erase(m.elements.begin() + index);
        if (shrink) Shrink(m);
        break;
      }
      case 5: {  // SizeSet
        const uint32_t capacity = in.Below(kMaxElements);
        int expected = 0;
        if (capacity < m.Count()) {
          expected = LX_ARRAY_OUT_OF_RANGE;
        } else if (capacity != m.capacity && m.type == 1 && capacity > m.maxCount) {
          expected = LX_ARRAY_NO_STORAGE;
        }
        FUZZ_CHECK(a.SizeSet(capacity) == expected);
        if (expected == 0) m.capacity = capacity;
        break;
      }
      case 6: {  // Clear
        a.Clear();
        m.elements.clear();
        m.capacity = 0;
        if (m.type == 1) m.maxCount = m.elementSize != 0 ? 32767 : 0;
        break;
      }
      case 7: {  // Copy from another list, of this kind or not
        const int from = in.Below(3);
        if (from == k) break;
        const Model& src = model[from];
        const int r = a.Copy(list[from].get());
        if (src.type != m.type) {
          FUZZ_CHECK(r == LX_ARRAY_WRONG_KIND);
          break;
        }
        FUZZ_CHECK(r == 0);
        m.elements = src.elements;
        m.capacity = src.capacity;
        m.elementSize = src.elementSize;
        break;
      }
      case 8: {  // SortedInsert: at an insertion point, after an equal element when duplicates may be
        if (!m.hasCompare || m.Count() >= kMaxElements) break;
        const bool allowDuplicates = (op & 0x10) != 0;
        const bool copy = (op & 0x20) == 0;
        uint32_t position = 0xFFFFFFFF;
        Model grown = m;
        const int insertResult = Insert(grown, 0);
        const int r = a.SortedInsert(bytes.data(), &position, allowDuplicates ? 1 : 0, copy ? 1 : 0);
        const bool equalExists = HasEqual(m, bytes);
        if (r == LX_ARRAY_DUPLICATE) {
          FUZZ_CHECK(!allowDuplicates && position < m.Count() && Cmp(bytes, m.elements[position]) == 0);
          if (sorted) FUZZ_CHECK(equalExists);
          break;
        }
        if (sorted && equalExists) FUZZ_CHECK(allowDuplicates);
        FUZZ_CHECK(r == insertResult);
        if (r != 0) break;
        FUZZ_CHECK(position <= m.Count());
        if (sorted) {
          FUZZ_CHECK(position == 0 || Cmp(m.elements[position - 1], bytes) <= 0);
          FUZZ_CHECK(position == m.Count() || Cmp(bytes, m.elements[position]) < 0 ||
                     (allowDuplicates && position > 0 && Cmp(bytes, m.elements[position - 1]) == 0));
        }
        m.capacity = grown.capacity;
        m.elements.insert(m.elements.begin() + position, copy ? bytes : Bytes(a, position));
        break;
      }
      case 9: {  // Search
        if (!m.hasCompare) break;
        uint32_t position = 0xFFFFFFFF;
        std::string out(m.elementSize, '\x66');
        const int r = a.Search(bytes.data(), &position, &out[0]);
        FUZZ_CHECK(position <= m.Count());
        if (r == 0) {
          FUZZ_CHECK(position < m.Count() && Cmp(bytes, m.elements[position]) == 0 &&
                     out == m.elements[position]);
        } else {
          FUZZ_CHECK(r == LX_ARRAY_OUT_OF_RANGE && out == std::string(m.elementSize, '\x66'));
        }
        if (sorted) {
          FUZZ_CHECK((r == 0) == HasEqual(m, bytes));
          if (r != 0) {
            FUZZ_CHECK(position == 0 || Cmp(m.elements[position - 1], bytes) < 0);
            FUZZ_CHECK(position == m.Count() || Cmp(bytes, m.elements[position]) < 0);
          }
        }
        break;
      }
      case 10: {  // SearchAt
        if (!m.hasCompare) break;
        std::string out(m.elementSize, '\x66');
        const int r = a.SearchAt(index, bytes.data(), &out[0]);
        if (index >= m.Count()) {
          FUZZ_CHECK(r == LX_ARRAY_OUT_OF_RANGE);
        } else if (Cmp(bytes, m.elements[index]) == 0) {
          FUZZ_CHECK(r == 0 && out == m.elements[index]);
        } else {
          FUZZ_CHECK(r == Cmp(bytes, m.elements[index]) && out == std::string(m.elementSize, '\x66'));
        }
        break;
      }
      case 11: {  // Sort: a permutation in ascending order
        const int r = a.Sort(0);
        if (!m.hasCompare) {
          FUZZ_CHECK(r == LX_ARRAY_NO_COMPARE_FUNCTION);
          break;
        }
        FUZZ_CHECK(r == 0);
        std::vector<std::string> before = m.elements;
        for (uint32_t i = 0; i < m.Count(); ++i) m.elements[i] = Bytes(a, i);
        FUZZ_CHECK(IsSorted(m));
        std::vector<std::string> after = m.elements;
        std::sort(before.begin(), before.end());
        std::sort(after.begin(), after.end());
        FUZZ_CHECK(before == after);
        break;
      }
      case 12: {  // Merge is refused
        FUZZ_CHECK(a.Merge(list[(k + 1) % 3].get(), 0) == LX_ARRAY_NO_MERGE);
        break;
      }
      case 13: {  // copy construction: no comparison function in the copy
        if (m.type == 1) {
          list[k] = std::make_unique<LxCList>(static_cast<const LxCList&>(a));
        } else if (k == 2) {
          list[k] = std::make_unique<SortList>(static_cast<const SortList&>(a));
        } else {
          list[k] = std::make_unique<LxLList>(static_cast<const LxLList&>(a));
        }
        m.hasCompare = false;
        break;
      }
      case 14: {  // CreateCopyAndClear: the contents move, this list is left empty
        if (m.type != 2) break;
        LxLList* moved = static_cast<LxLList&>(a).CreateCopyAndClear();
        FUZZ_CHECK(moved != nullptr);
        FUZZ_CHECK(a.GetCount() == 0 && a.GetCurMaxCount() == 0);
        FUZZ_CHECK((k == 2) == (dynamic_cast<SortList*>(moved) != nullptr));
        list[k].reset(moved);
        break;
      }
      case 15: {  // Import from a memory file at its position
        if (m.type != 2 || m.elementSize == 0) break;
        const uint32_t n = in.Below(6);
        if (m.Count() + n >= kMaxElements) break;
        const std::string source = in.Bytes(80);
        MemFile file;
        file.Put(source.data(), 0, static_cast<int32_t>(source.size()));
        const uint32_t position = in.Below(static_cast<uint32_t>(source.size()) + 1);
        file.Seek(static_cast<int32_t>(position), 0);
        const uint32_t available = static_cast<uint32_t>(source.size()) - position;
        const uint32_t oldCount = m.Count();
        if (oldCount + n > m.capacity) m.capacity += oldCount + n;
        const int r = static_cast<LxLList&>(a).Import(n, &file);
        FUZZ_CHECK(file.GetPosition() == static_cast<int32_t>(position));
        if (n * m.elementSize > 0 && available == 0) {
          FUZZ_CHECK(r == LX_ARRAY_NO_STORAGE);
          break;
        }
        if (n == 0 && r != 0) break;  // nothing to copy; an empty store may refuse it
        FUZZ_CHECK(r == 0);
        const uint32_t copied = std::min(available, n * m.elementSize);
        for (uint32_t i = 0; i < n; ++i) {
          std::string e = Bytes(a, oldCount + i);
          for (uint32_t b = 0; b < m.elementSize; ++b) {
            const uint32_t at = i * m.elementSize + b;
            if (at < copied) FUZZ_CHECK(e[b] == source[position + at]);
          }
          m.elements.push_back(e);
        }
        break;
      }
    }
    for (int j = 0; j < 3; ++j) CheckList(*list[j], model[j]);
  }
  return 0;
}

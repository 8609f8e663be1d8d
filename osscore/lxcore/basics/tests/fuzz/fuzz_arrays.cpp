// LxCList, LxLList and SortList (one of each, so that Copy meets both kinds)
// against a model per list, compared after every step; Search against the order
// where the list is sorted. Beside them a bit string against a copy of its bytes.
// Input: byte 0 the element size (1..12), then at most 64 operations.
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

template <class List>
struct Ordered : List {
  explicit Ordered(unsigned short size) : List(size, 0, nullptr) {
    this->comparisonFunction = CompareFirstByte;
  }
};

struct Model {
  int type = 1;  // 1 LxCList, 2 LxLList or SortList
  std::vector<std::string> elements;
  uint32_t capacity = 0, maxCount = 0;
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
  FUZZ_CHECK(a.GetType() == m.type && a.GetCount() == m.Count() && a.GetElementSize() == m.elementSize);
  FUZZ_CHECK(a.GetCurMaxCount() == m.capacity && m.Count() <= m.capacity);
  FUZZ_CHECK((a.GetComparisonFunction() != nullptr) == m.hasCompare && a.GetMaxCount() == m.maxCount);
  for (uint32_t i = 0; i < m.Count(); ++i)
    FUZZ_CHECK(Bytes(a, i) == m.elements[i] && a.Element(i) != nullptr &&
               std::memcmp(a.Element(i), m.elements[i].data(), m.elementSize) == 0);
  FUZZ_CHECK(a.Element(m.Count()) == nullptr);
  std::string out(m.elementSize + 1, '\x77');
  FUZZ_CHECK(a.Get(m.Count(), &out[0]) == LX_ARRAY_OUT_OF_RANGE &&
             out == std::string(m.elementSize + 1, '\x77'));
}

int Cmp(const std::string& a, const std::string& b) { return CompareFirstByte(nullptr, a.data(), b.data()); }

bool IsSorted(const Model& m) {
  return std::is_sorted(m.elements.begin(), m.elements.end(), [](auto& a, auto& b) { return Cmp(a, b) < 0; });
}
bool HasEqual(const Model& m, const std::string& bytes) {
  return std::any_of(m.elements.begin(), m.elements.end(), [&](auto& e) { return Cmp(bytes, e) == 0; });
}

// Expected result of Insert(index) for the model, applying the capacity change: a full
// LxCList doubles, a full LxLList grows by one (the lists stay far below LxCList's maximum).
int Insert(Model& m, uint32_t index) {
  if (index > m.Count()) return LX_ARRAY_OUT_OF_RANGE;
  if (m.Count() == m.capacity) m.capacity += m.type == 2 || m.capacity == 0 ? 1 : m.capacity;
  return 0;
}

// Delete's giving storage back: an LxCList halves, an LxLList drops ten free slots.
void Shrink(Model& m) {
  const uint32_t step = m.type == 1 ? m.capacity - m.capacity / 2 : std::min<uint32_t>(m.capacity, 10);
  if (m.Count() <= m.capacity - step) m.capacity -= step;
}

std::unique_ptr<LxVArray> Make(int kind, unsigned short size, Model& m) {
  m = Model{kind == 0 ? 1 : 2, {}, 0, kind == 0 ? 32767u : 0xFFFFFFFFu, size};
  if (kind == 2) return std::make_unique<SortList>(size, CompareFirstByte, 0);
  if (kind == 1) return std::make_unique<Ordered<LxLList>>(size);
  return std::make_unique<Ordered<LxCList>>(size);
}

// The bit string and its model: the storage bytes (length / 8 + 1; SetAll fills
// the bits beyond the length too) and the number of set bits.
struct Bits {
  std::unique_ptr<_LxBitString> string;
  std::vector<unsigned char> bytes;
  uint32_t Length() const { return string->Length(); }
  bool At(uint32_t i) const { return (bytes[i / 8] >> (i % 8)) & 1; }
  void Put(uint32_t i, bool one) {
    bytes[i / 8] = static_cast<unsigned char>((bytes[i / 8] & ~(1 << (i % 8))) | (one << (i % 8)));
  }
  uint32_t Ones() const {
    uint32_t n = 0;
    for (uint32_t i = 0; i < Length(); ++i) n += At(i);
    return n;
  }
};

// One bit-string operation: `sub` picks it, i and n an index and a bit count
// (either may lie outside the string). Every operation outside leaves it as it was.
void BitStep(Bits& b, uint8_t sub, uint32_t i, uint32_t n) {
  constexpr int32_t kOut = LX_BITSTRING_OUT_OF_RANGE;
  const uint32_t length = b.Length();
  const bool inside = i < length;
  int value = -1;
  uint32_t blocked = 0xDEAD, position = 0xBEEF;
  switch (sub % 8) {
    case 0:  // Set, Reset
      FUZZ_CHECK(((sub & 8) ? b.string->Set(i) : b.string->Reset(i)) == (inside ? 0 : kOut));
      if (inside) b.Put(i, sub & 8);
      break;
    case 1:  // Flip
      FUZZ_CHECK(b.string->Flip(i, value) == (inside ? 0 : kOut) && value == (inside ? b.At(i) : -1));
      if (inside) b.Put(i, !b.At(i));
      break;
    case 2: {  // TestAndSetArea, TestAndResetArea; with bit 4 a count that wraps start + n around
      const bool set = sub & 8;
      if (sub & 0x10) n = 0u - n;
      const int32_t r =
          set ? b.string->TestAndSetArea(i, n, blocked) : b.string->TestAndResetArea(i, n, blocked);
      if (i > length || n > length - i) {
        FUZZ_CHECK(r == kOut && blocked == 0xDEAD);
        break;
      }
      uint32_t k = 0;
      while (k < n && b.At(i + k) != set) ++k;
      FUZZ_CHECK(r == (k < n ? LX_BITSTRING_BLOCKED : 0) && blocked == (k < n ? k : 0xDEADu));
      for (k = 0; r == 0 && k < n; ++k) b.Put(i + k, set);
      break;
    }
    case 3: {  // Find a 1 (any non-zero value) or a 0
      const bool one = sub & 8;
      uint32_t k = i;
      while (k < length && b.At(k) != one) ++k;
      FUZZ_CHECK(b.string->Find(i, one ? sub : 0, position) == (k < length ? 0 : kOut));
      FUZZ_CHECK(position == (inside ? k : length));
      break;
    }
    case 4:  // Get: the bit's weight in its byte
      FUZZ_CHECK(b.string->Get(i, value) == (inside ? 0 : kOut) &&
                 value == (inside ? b.At(i) << (i % 8) : -1));
      break;
    case 5:  // SetAll, ResetAll
      FUZZ_CHECK(((sub & 8) ? b.string->SetAll() : b.string->ResetAll()) == 0);
      b.bytes.assign(b.bytes.size(), (sub & 8) ? 0xFF : 0);
      break;
    default:  // a new string
      b.string = std::make_unique<_LxBitString>(n * 7 + i % 8);
      b.bytes.assign(b.Length() / 8 + 1, 0);
  }
  FUZZ_CHECK(std::memcmp(b.string->GetBits(), b.bytes.data(), b.bytes.size()) == 0 &&
             b.string->GetNum() == b.Ones());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lxfuzz::Input in(data, size);
  const unsigned short elementSize = static_cast<unsigned short>(in.Byte() % 12 + 1);
  Model model[3];
  std::unique_ptr<LxVArray> list[3];
  for (int k = 0; k < 3; ++k) list[k] = Make(k, elementSize, model[k]);
  Bits bits{std::make_unique<_LxBitString>(elementSize * 13), {}};
  bits.bytes.assign(bits.Length() / 8 + 1, 0);

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
      case 1:
      case 2: {  // Insert, with or without bytes, or PrepareInsert and then fill the slot
        if (m.Count() >= kMaxElements) break;
        const int expected = Insert(m, index);
        if (op % 16 == 2) {
          void* slot = a.PrepareInsert(index);
          FUZZ_CHECK((slot != nullptr) == (expected == 0));
          if (slot != nullptr) std::memcpy(slot, bytes.data(), m.elementSize);
        } else {
          const bool withBytes = (op & 0x10) == 0;
          FUZZ_CHECK(a.Insert(index, withBytes ? bytes.data() : nullptr) == expected);
          if (!withBytes && expected == 0) bytes = Bytes(a, index);
        }
        if (expected == 0) m.elements.insert(m.elements.begin() + index, bytes);
        break;
      }
      case 3:
      case 4: {  // Update, or Delete with or without giving storage back
        const bool update = op % 16 == 3, shrink = (op & 0x10) != 0;
        const int r = update ? a.Update(index, bytes.data()) : a.Delete(index, shrink ? 1 : 0);
        FUZZ_CHECK(r == (index < m.Count() ? 0 : LX_ARRAY_OUT_OF_RANGE));
        if (r != 0) break;
        if (update) m.elements[index] = bytes;
        if (!update) m.elements.erase(m.elements.begin() + index);
        if (!update && shrink) Shrink(m);
        break;
      }
      case 5: {  // SizeSet
        const uint32_t capacity = in.Below(kMaxElements);
        FUZZ_CHECK(a.SizeSet(capacity) == (capacity < m.Count() ? LX_ARRAY_OUT_OF_RANGE : 0));
        if (capacity >= m.Count()) m.capacity = capacity;
        break;
      }
      case 6:  // Clear
        a.Clear(), m.elements.clear(), m.capacity = 0;
        break;
      case 7: {  // Copy from another list, of this kind or not
        const int from = in.Below(3);
        const Model& src = model[from];  // from == k: a copy of itself, nothing changes
        const int r = a.Copy(list[from].get());
        FUZZ_CHECK(r == (src.type != m.type ? LX_ARRAY_WRONG_KIND : 0));
        if (r == 0) m.elements = src.elements, m.capacity = src.capacity;
        break;
      }
      case 8: {  // SortedInsert: where Search puts it, after the equal element found when duplicates may be
        if (!m.hasCompare || m.Count() >= kMaxElements) break;
        const bool allowDuplicates = (op & 0x10) != 0, copy = (op & 0x20) == 0;
        uint32_t want = 0, position = 0xFFFFFFFF;
        const bool found = a.Search(bytes.data(), &want, nullptr) == 0;
        const int expected = found && !allowDuplicates ? LX_ARRAY_DUPLICATE : Insert(m, want += found);
        FUZZ_CHECK(a.SortedInsert(bytes.data(), &position, allowDuplicates, copy) == expected &&
                   position == want);
        if (expected == 0)
          m.elements.insert(m.elements.begin() + position, copy ? bytes : Bytes(a, position));
        break;
      }
      case 9:
      case 10: {  // Search
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
        if (sorted) FUZZ_CHECK((r == 0) == HasEqual(m, bytes));
        if (sorted && r != 0) {
          FUZZ_CHECK(position == 0 || Cmp(m.elements[position - 1], bytes) < 0);
          FUZZ_CHECK(position == m.Count() || Cmp(bytes, m.elements[position]) < 0);
        }
        break;
      }
      case 11: {  // Sort: a permutation in ascending order
        FUZZ_CHECK(a.Sort(0) == (m.hasCompare ? 0 : LX_ARRAY_NO_COMPARE_FUNCTION));
        if (!m.hasCompare) break;
        std::vector<std::string> before = m.elements;
        for (uint32_t i = 0; i < m.Count(); ++i) m.elements[i] = Bytes(a, i);
        std::vector<std::string> after = m.elements;
        std::sort(before.begin(), before.end());
        std::sort(after.begin(), after.end());
        FUZZ_CHECK(IsSorted(m) && before == after);
        break;
      }
      case 12: {  // the bit string
        const uint8_t sub = in.Byte();
        BitStep(bits, sub, in.Below(bits.Length() + 2), in.Below(bits.Length() / 2 + 3));
        break;
      }
      case 13:  // copy construction: no comparison function in the copy
        if (k == 0) list[k] = std::make_unique<LxCList>(static_cast<const LxCList&>(a));
        if (k == 1) list[k] = std::make_unique<LxLList>(static_cast<const LxLList&>(a));
        if (k == 2) list[k] = std::make_unique<SortList>(static_cast<const SortList&>(a));
        m.hasCompare = false;
        break;
      case 14: {  // CreateCopyAndClear: the contents move, this list is left empty
        if (m.type != 2) break;
        LxLList* moved = static_cast<LxLList&>(a).CreateCopyAndClear();
        FUZZ_CHECK(moved != nullptr && a.GetCount() == 0 && a.GetCurMaxCount() == 0);
        FUZZ_CHECK((k == 2) == (dynamic_cast<SortList*>(moved) != nullptr));
        list[k].reset(moved);
        break;
      }
      case 15: {  // Import from a memory file at its position
        if (m.type != 2) break;
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
        std::string got;
        for (uint32_t i = 0; i < n; ++i) got += m.elements.emplace_back(Bytes(a, oldCount + i));
        FUZZ_CHECK(got.compare(0, copied, source, position, copied) == 0);
        break;
      }
    }
    for (int j = 0; j < 3; ++j) CheckList(*list[j], model[j]);
  }
  return 0;
}

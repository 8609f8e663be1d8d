// Records, comparison functions and test-only array classes shared by the
// array tests.
#pragma once

#include <lxarrays.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace arraytest {

// A 16-byte element: the key orders, the payload tells equal keys apart.
struct Record {
  int32_t key;
  uint32_t payload;
  uint64_t filler;
};
static_assert(sizeof(Record) == 16, "records are 16 bytes");

inline bool operator==(const Record& a, const Record& b) {
  return a.key == b.key && a.payload == b.payload && a.filler == b.filler;
}

inline Record Make(int32_t key, uint32_t payload) { return Record{key, payload, payload * 3ull + 7}; }

extern long compareCalls;

inline int CompareRecords(const LxVArray*, const void* key, const void* element) {
  ++compareCalls;
  int32_t a = static_cast<const Record*>(key)->key;
  int32_t b = static_cast<const Record*>(element)->key;
  return a < b ? -1 : (a > b ? 1 : 0);
}

// The contiguous list with a comparison function (only derived classes set it).
class OrderedCList : public LxCList {
 public:
  explicit OrderedCList(LxArrayCompareFunc compare, int capacity = 0)
      : LxCList(sizeof(Record), capacity, nullptr) {
    comparisonFunction = compare;
  }
};

// An array of another kind whose elements lie in separate heap blocks, so that
// the operations of the base class can only reach them through Element.
class ScatteredArray : public LxVArray {
 public:
  explicit ScatteredArray(LxArrayCompareFunc compare) : LxVArray(sizeof(Record)) {
    comparisonFunction = compare;
  }
  unsigned short GetType() const override { return 7; }
  uint32_t GetCurMaxCount() const override { return count; }
  int Init(unsigned short size, uint32_t) override {
    elementSize = size;
    Clear();
    return 0;
  }
  int SizeSet(uint32_t) override { return 0; }
  void Clear() override {
    items_.clear();
    count = 0;
  }
  int Get(uint32_t index, void* out) const override {
    if (index >= count) return LX_ARRAY_OUT_OF_RANGE;
    std::memcpy(out, items_[index].get(), elementSize);
    return 0;
  }
  void* Element(uint32_t index) const override { return index < count ? items_[index].get() : nullptr; }
  void* PrepareInsert(uint32_t index) override {
    return Insert(index, nullptr) == 0 ? items_[index].get() : nullptr;
  }
  int Insert(uint32_t index, const void* data) override {
    if (index > count) return LX_ARRAY_OUT_OF_RANGE;
    std::unique_ptr<Record> item(new Record());
    if (data != nullptr) std::memcpy(item.get(), data, elementSize);
    items_.insert(items_.begin() + index, std::move(item));
    ++count;
    return 0;
  }
  int Update(uint32_t index, const void* data) override {
    if (index >= count) return LX_ARRAY_OUT_OF_RANGE;
    std::memcpy(items_[index].get(), data, elementSize);
    return 0;
  }
  int Delete(uint32_t index, int) override {
    if (index >= count) return LX_ARRAY_OUT_OF_RANGE;
    items_.erase(items_.begin() + index);
    --count;
    return 0;
  }
  int Copy(const LxVArray*) override { return LX_ARRAY_WRONG_KIND; }

 private:
  std::vector<std::unique_ptr<Record>> items_;
};

inline std::vector<Record> Contents(const LxVArray& array) {
  std::vector<Record> out(array.GetCount());
  for (uint32_t i = 0; i < array.GetCount(); ++i) array.Get(i, &out[i]);
  return out;
}

inline void Fill(LxVArray& array, const std::vector<Record>& records) {
  for (const Record& r : records) array.Insert(array.GetCount(), &r);
}

}  // namespace arraytest

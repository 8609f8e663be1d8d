// Where the shared search, sorted insertion and sort put elements, per kind, and
// what differs per kind. Random operation sequences against a model of every list
// are tests/fuzz/fuzz_arrays.cpp; failing allocations tests/oom.
#include <gtest/gtest.h>
#include <lxarrays.h>
#include <lxframe.h>
#include <pthread.h>

#include <functional>
#include <random>
#include <vector>

namespace lxtest {
namespace {

// The key orders; the payload tells equal keys apart.
struct Record {
  int32_t key;
  uint32_t payload;
  uint64_t filler;
  bool operator==(const Record& o) const { return key == o.key && payload == o.payload; }
};
Record Make(int32_t key, uint32_t payload) { return Record{key, payload, payload * 3ull + 7}; }

using Codes = std::vector<int>;
constexpr int kOut = LX_ARRAY_OUT_OF_RANGE;
long g_compares = 0;
int CompareKeys(const LxVArray*, const void* key, const void* element) {
  ++g_compares;
  const int32_t a = static_cast<const Record*>(key)->key, b = static_cast<const Record*>(element)->key;
  return (a > b) - (a < b);
}

// Each list kind ordered by CompareKeys, as a derived class sets it.
template <class List>
struct Ordered : List {
  Ordered() : List(sizeof(Record), 0, nullptr) { this->comparisonFunction = CompareKeys; }
};
struct OrderedSortList : SortList {
  OrderedSortList() : SortList(sizeof(Record), CompareKeys, 0) {}
};
using OrderedCList = Ordered<LxCList>;
// An array of another kind: the base's search and sort reach its elements only through Element.
struct OtherKind : OrderedCList {
  unsigned short GetType() const override { return 7; }
};

std::vector<Record> Contents(const LxVArray& a) {
  std::vector<Record> out(a.GetCount());
  for (uint32_t i = 0; i < a.GetCount(); ++i) EXPECT_EQ(a.Get(i, &out[i]), 0);
  return out;
}
void Fill(LxVArray& a, const std::vector<Record>& records) {
  for (const Record& r : records) ASSERT_EQ(a.Insert(a.GetCount(), &r), 0);
}

// The sort as plainly as it can be written: first element as pivot, equal elements
// to its left, both sides by recursion.
void ReferenceSort(std::vector<Record>& a, int lo, int hi) {
  if (hi <= lo) return;
  int i = lo, j = hi;
  for (;;) {
    while (i < hi && a[i].key <= a[lo].key) ++i;
    while (j > lo && a[j].key > a[lo].key) --j;
    if (i >= j) break;
    std::swap(a[i], a[j]);
  }
  std::swap(a[lo], a[j]);
  ReferenceSort(a, lo, j - 1);
  ReferenceSort(a, j + 1, hi);
}

template <class List>
struct ArrayContract : testing::Test {
  List list;
};
using Kinds = testing::Types<OrderedCList, Ordered<LxLList>, OrderedSortList, OtherKind>;
TYPED_TEST_SUITE(ArrayContract, Kinds);

TYPED_TEST(ArrayContract, SearchAndSortedInsert) {
  LxVArray& a = this->list;
  uint32_t position = 77;
  Record key = Make(5, 0), out = Make(-1, 0);
  EXPECT_EQ(a.Search(&key, &position, &out), kOut);
  EXPECT_EQ(position, 0u);
  Fill(a, {Make(10, 0), Make(20, 1), Make(20, 2), Make(20, 3), Make(30, 4)});
  // Search: the first equal element that the probes meet, or the insertion point.
  const int32_t keys[] = {5, 25, 35, 10, 20, 30};
  const uint32_t positions[] = {0, 4, 5, 0, 2, 4};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(keys[i]);
    key.key = keys[i], out = Make(-1, 0);
    EXPECT_EQ(a.Search(&key, &position, &out), i < 3 ? kOut : 0);
    EXPECT_EQ(position, positions[i]);
    EXPECT_EQ(out, i >= 3 ? Contents(a)[position] : Make(-1, 0));
    EXPECT_EQ(a.SearchAt(1, &key, &out) == 0, keys[i] == 20);
  }
  EXPECT_EQ(a.Search(&key, nullptr, nullptr), 0);
  EXPECT_EQ(a.SearchAt(5, &key, &out), kOut);
  key.key = 11;
  EXPECT_EQ(a.SearchAt(1, &key, nullptr), -1);  // the comparison's result
  // SortedInsert: after the equal element found, or refused.
  const Record more = Make(20, 9);
  EXPECT_EQ(a.SortedInsert(&more, &position, 1, 1), 0);
  EXPECT_TRUE(position == 3 && Contents(a)[3] == more);
  EXPECT_EQ(a.SortedInsert(&more, nullptr, 0, 1), LX_ARRAY_DUPLICATE);
  EXPECT_EQ(a.GetCount(), 6u);
  EXPECT_EQ(a.Merge(&a, 0), LX_ARRAY_NO_MERGE);
}

// Random and patterned arrays, sorted by every access path, against the reference.
TEST(ArraySort, EveryKindSortsAsTheReference) {
  std::vector<std::vector<Record>> inputs;
  std::mt19937 rng(2024);
  for (int round = 0; round < 200; ++round) {
    const int n = static_cast<int>(rng() % (round < 180 ? 120 : 3000));
    const uint32_t range = 1 + rng() % (round % 3 == 0 ? 4 : 1000);
    inputs.emplace_back();
    for (int i = 0; i < n; ++i) inputs.back().push_back(Make(static_cast<int32_t>(rng() % range), i));
  }
  // Runs, which the sort recognises, and the shapes that defeat a first-element pivot.
  const std::vector<std::function<int32_t(int, int)>> shapes = {
      [](int i, int) { return i; },                        // ascending
      [](int i, int n) { return n - i; },                  // descending
      [](int, int) { return 5; },                          // all equal
      [](int i, int n) { return i < n / 2 ? i : n - i; },  // organ pipe
      [](int i, int n) { return i == n - 1 ? -1 : i; },    // ascending, smallest last
  };
  for (int n : {15, 16, 17, 33, 1000}) {
    for (const auto& shape : shapes) {
      inputs.emplace_back();
      for (int i = 0; i < n; ++i) inputs.back().push_back(Make(shape(i, n), i));
    }
  }
  OrderedCList clist;
  Ordered<LxLList> llist;
  OrderedSortList sorted;
  OtherKind other;
  for (LxVArray* a : std::initializer_list<LxVArray*>{&clist, &llist, &sorted, &other}) {
    for (size_t i = 0; i < inputs.size(); ++i) {
      a->Clear();
      Fill(*a, inputs[i]);
      g_compares = 0;
      ASSERT_EQ(a->Sort(0), 0);
      std::vector<Record> want = inputs[i];
      ReferenceSort(want, 0, static_cast<int>(want.size()) - 1);
      ASSERT_EQ(Contents(*a), want) << "kind " << a->GetType() << " input " << i;
      // Ascending, descending and equal runs of 1000 are recognised: linear work.
      const size_t shape = i + shapes.size() - inputs.size();
      EXPECT_LE(shape < 3 ? g_compares : 0, 2 * 1000) << "kind " << a->GetType() << " shape " << shape;
    }
  }
}

// Descending pairs: every other partition leaves the whole range on one side. The
// smaller side goes first, so the nesting stays shallow enough for a small stack.
TEST(ArraySort, NestingStaysShallowOnASmallStack) {
  std::vector<Record> input;
  for (int i = 0; i < 8000; ++i) input.push_back(Make((8000 - i) / 2, i));
  OrderedSortList list;
  Fill(list, input);
  pthread_attr_t attr;
  pthread_attr_init(&attr), pthread_attr_setstacksize(&attr, 64 * 1024);
  pthread_t thread;
  void* result = &attr;  // the thread's answer: Sort's result
  auto sort = [](void* l) -> void* {
    return reinterpret_cast<void*>(intptr_t{static_cast<SortList*>(l)->Sort(0)});
  };
  ASSERT_EQ(pthread_create(&thread, &attr, sort, &list), 0);
  pthread_join(thread, &result);
  pthread_attr_destroy(&attr);
  ASSERT_EQ(result, nullptr);
  ReferenceSort(input, 0, static_cast<int>(input.size()) - 1);
  EXPECT_EQ(Contents(list), input);
}

TEST(CList, CapacityGrowsToTheMaximumCount) {
  int r = -1;
  LxCList list(4, 0, &r);
  std::vector<uint32_t> capacities;
  for (int32_t i = 0; i < 32767; ++i) {
    ASSERT_EQ(list.Insert(list.GetCount(), &i), 0) << i;
    if (capacities.empty() || capacities.back() != list.GetCurMaxCount())
      capacities.push_back(list.GetCurMaxCount());
  }
  EXPECT_EQ(capacities, (std::vector<uint32_t>{1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192,
                                               16384, 24576, 30720, 32640, 32767}));
  const int32_t more = 1;
  EXPECT_EQ((Codes{list.Insert(16000, &more), list.Insert(32767, &more), list.SizeSet(32768)}),
            (Codes{LX_ARRAY_NO_STORAGE, kOut, LX_ARRAY_NO_STORAGE}));
  EXPECT_EQ(*static_cast<int32_t*>(list.Element(32766)), 32766);
  // Init caps the capacity at the maximum count and refuses element size 0.
  EXPECT_TRUE(list.Init(8, 40000) == 0 && list.GetCurMaxCount() == 32767);
  LxCList zero(0, 10, &r), unusable;
  EXPECT_EQ(r, LX_ARRAY_ZERO_ELEMENT_SIZE);
  for (LxCList* l : {&zero, &unusable})
    EXPECT_TRUE(l->GetMaxCount() == 0 && l->Insert(0, &more) == kOut && l->PrepareInsert(0) == nullptr);
  EXPECT_EQ(zero.Init(4, 0) + zero.Insert(0, &more), 0);
}

TEST(LList, PointerSlotsAndDefaults) {
  int x = 1, y = 2;
  void* pointers[] = {&x, &y};
  LxLList list(sizeof(void*), 0, nullptr);
  for (void* p : pointers) ASSERT_EQ(list.Insert(list.GetCount(), &p), 0);
  EXPECT_TRUE(*list.PtrElement(1) == &y && list.PtrElement(2) == nullptr);
  // The slot of a pointer whatever the element size: pointer 1 of 4-byte elements is element 2.
  LxLList words;
  for (int32_t i = 0; i < 4; ++i) ASSERT_EQ(words.Insert(i, &i), 0);
  EXPECT_EQ(static_cast<void*>(words.PtrElement(1)), words.Element(2));
  SortList sorted;
  EXPECT_EQ(sorted.Init(sizeof(Record), CompareKeys, 3), 0);
  EXPECT_TRUE(sorted.GetCurMaxCount() == 3 && sorted.GetComparisonFunction() == &CompareKeys);
}

}  // namespace
}  // namespace lxtest

// Search, SearchAt, SortedInsert, Sort and Merge on both list kinds and on an
// array whose elements are not contiguous. Sort is checked element for element
// (payloads included) against a plain reference of the same quicksort.
#include <gtest/gtest.h>
#include <lxarrays.h>
#include <pthread.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "array_test_util.h"

namespace arraytest {
long compareCalls = 0;
}

namespace {

using arraytest::CompareRecords;
using arraytest::Contents;
using arraytest::Make;
using arraytest::Record;

// The quicksort as plainly as it can be written: first element as pivot, equal
// elements to its left, both sides by recursion.
void ReferenceSort(std::vector<Record>& a, int lo, int hi) {
  if (hi <= lo) return;
  const int32_t pivot = a[lo].key;
  int i = lo, j = hi;
  for (;;) {
    while (i < hi && a[i].key <= pivot) ++i;
    while (j > lo && a[j].key > pivot) --j;
    if (i < j) {
      std::swap(a[i], a[j]);
      continue;
    }
    std::swap(a[lo], a[j]);
    break;
  }
  ReferenceSort(a, lo, j - 1);
  ReferenceSort(a, j + 1, hi);
}

std::vector<Record> Reference(std::vector<Record> a) {
  ReferenceSort(a, 0, static_cast<int>(a.size()) - 1);
  return a;
}

// The binary search as described for the arrays, on a plain vector: the position
// of the first equal element that the probes meet, or the insertion point.
bool ModelSearch(const std::vector<Record>& a, int32_t key, uint32_t* position) {
  *position = 0;
  if (a.empty()) return false;
  int32_t low = 0, high = static_cast<int32_t>(a.size()) - 1, middle = 0;
  int c = 0;
  while (low <= high) {
    middle = (low + high) >> 1;
    c = key < a[middle].key ? -1 : (key > a[middle].key ? 1 : 0);
    if (c == 0) break;
    if (c < 0)
      high = middle - 1;
    else
      low = middle + 1;
  }
  *position = static_cast<uint32_t>(c > 0 ? middle + 1 : middle);
  return c == 0;
}

using Factory = std::function<std::unique_ptr<LxVArray>()>;

struct Kind {
  const char* name;
  Factory make;
};

std::vector<Kind> Kinds() {
  return {
      {"CList", [] { return std::unique_ptr<LxVArray>(new arraytest::OrderedCList(CompareRecords)); }},
      {"SortList", [] { return std::unique_ptr<LxVArray>(new SortList(sizeof(Record), CompareRecords, 0)); }},
      {"Scattered", [] { return std::unique_ptr<LxVArray>(new arraytest::ScatteredArray(CompareRecords)); }},
  };
}

std::vector<Record> Keys(std::initializer_list<int32_t> keys) {
  std::vector<Record> out;
  uint32_t payload = 0;
  for (int32_t k : keys) out.push_back(Make(k, payload++));
  return out;
}

TEST(ArraySearch, FixedCases) {
  for (const Kind& kind : Kinds()) {
    SCOPED_TRACE(kind.name);
    auto array = kind.make();
    uint32_t position = 77;
    Record key = Make(5, 0), out = Make(-1, 0);
    EXPECT_EQ(array->Search(&key, &position, &out), -502);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(out.key, -1);
    arraytest::Fill(*array, Keys({10, 20, 30}));
    key.key = 25;
    EXPECT_EQ(array->Search(&key, &position, &out), -502);
    EXPECT_EQ(position, 2u);
    key.key = 5;
    EXPECT_EQ(array->Search(&key, &position, nullptr), -502);
    EXPECT_EQ(position, 0u);
    key.key = 35;
    EXPECT_EQ(array->Search(&key, &position, &out), -502);
    EXPECT_EQ(position, 3u);
    EXPECT_EQ(out.key, -1);
    key.key = 20;
    EXPECT_EQ(array->Search(&key, &position, &out), 0);
    EXPECT_EQ(position, 1u);
    EXPECT_EQ(out, Make(20, 1));
    EXPECT_EQ(array->Search(&key, nullptr, nullptr), 0);

    auto dup = kind.make();
    arraytest::Fill(*dup, Keys({10, 20, 20, 20, 30}));
    EXPECT_EQ(dup->Search(&key, &position, &out), 0);
    EXPECT_EQ(position, 2u);
    EXPECT_EQ(out.payload, 2u);
    Record more = Make(20, 9);
    EXPECT_EQ(dup->SortedInsert(&more, &position, 1, 1), 0);
    EXPECT_EQ(position, 3u);
    EXPECT_EQ(Contents(*dup)[3], more);
    EXPECT_EQ(dup->SortedInsert(&more, &position, 0, 1), -508);
    EXPECT_EQ(dup->GetCount(), 6u);
  }
}

TEST(ArraySearch, AtMostLogCompares) {
  arraytest::OrderedCList list(CompareRecords);
  for (int32_t i = 0; i < 1000; ++i) {
    Record r = Make(i * 2, 0);
    list.Insert(list.GetCount(), &r);
  }
  for (int32_t k = -1; k <= 2000; ++k) {
    Record key = Make(k, 0);
    arraytest::compareCalls = 0;
    list.Search(&key, nullptr, nullptr);
    ASSERT_LE(arraytest::compareCalls, 10) << k;  // floor(log2(1000)) + 1
  }
}

TEST(ArraySearch, RandomAgainstModel) {
  std::mt19937 rng(42);
  for (const Kind& kind : Kinds()) {
    SCOPED_TRACE(kind.name);
    for (int round = 0; round < 40; ++round) {
      int n = static_cast<int>(rng() % 200);
      int range = 1 + static_cast<int>(rng() % 60);
      std::vector<Record> sorted;
      for (int i = 0; i < n; ++i) sorted.push_back(Make(static_cast<int32_t>(rng() % range), i));
      std::stable_sort(sorted.begin(), sorted.end(),
                       [](const Record& a, const Record& b) { return a.key < b.key; });
      auto array = kind.make();
      arraytest::Fill(*array, sorted);
      for (int32_t k = -1; k <= range; ++k) {
        Record key = Make(k, 0), out = Make(-5, 0);
        uint32_t position = 12345, expected;
        bool found = ModelSearch(sorted, k, &expected);
        ASSERT_EQ(array->Search(&key, &position, &out), found ? 0 : -502);
        ASSERT_EQ(position, expected);
        if (found) {
          ASSERT_EQ(out, sorted[position]);
        } else {
          ASSERT_EQ(out.key, -5);
        }
      }
    }
  }
}

TEST(ArraySearch, SortedInsertAgainstModel) {
  std::mt19937 rng(7);
  for (const Kind& kind : Kinds()) {
    SCOPED_TRACE(kind.name);
    auto array = kind.make();
    std::vector<Record> model;
    for (uint32_t i = 0; i < 1500; ++i) {
      Record r = Make(static_cast<int32_t>(rng() % 300), i);
      int allow = static_cast<int>(rng() % 4 != 0);
      uint32_t expected;
      bool found = ModelSearch(model, r.key, &expected);
      uint32_t position = 0;
      int result = array->SortedInsert(&r, &position, allow, 1);
      if (found && !allow) {
        ASSERT_EQ(result, -508);
        ASSERT_EQ(position, expected);
        continue;
      }
      if (found) ++expected;
      ASSERT_EQ(result, 0);
      ASSERT_EQ(position, expected);
      model.insert(model.begin() + expected, r);
    }
    EXPECT_EQ(Contents(*array), model);
  }
}

TEST(ArraySearch, SearchAt) {
  arraytest::OrderedCList list(CompareRecords);
  arraytest::Fill(list, Keys({10, 20}));
  Record key = Make(20, 0), out = Make(0, 0);
  EXPECT_EQ(list.SearchAt(1, &key, &out), 0);
  EXPECT_EQ(out, Make(20, 1));
  key.key = 25;
  EXPECT_GT(list.SearchAt(1, &key, nullptr), 0);
  key.key = 15;
  EXPECT_LT(list.SearchAt(1, &key, nullptr), 0);
  EXPECT_EQ(list.SearchAt(2, &key, nullptr), -502);
}

TEST(ArraySort, CodesAndTinyArrays) {
  LxCList plain(sizeof(Record), 0, nullptr);
  arraytest::Fill(plain, Keys({3, 1, 2}));
  EXPECT_EQ(plain.Sort(0), -2106);
  EXPECT_EQ(Contents(plain), Keys({3, 1, 2}));
  EXPECT_EQ(plain.Merge(&plain, 0), -507);
  for (const Kind& kind : Kinds()) {
    SCOPED_TRACE(kind.name);
    auto array = kind.make();
    EXPECT_EQ(array->Sort(0), 0);
    arraytest::Fill(*array, Keys({4}));
    EXPECT_EQ(array->Sort(0), 0);
    EXPECT_EQ(Contents(*array), Keys({4}));
    EXPECT_EQ(array->Merge(nullptr, 1), -507);
  }
}

TEST(ArraySort, EqualElementsDoNotKeepTheirOrder) {
  for (const Kind& kind : Kinds()) {
    SCOPED_TRACE(kind.name);
    auto array = kind.make();
    arraytest::Fill(*array, {Make(1, 'a'), Make(1, 'b'), Make(0, 'c')});
    ASSERT_EQ(array->Sort(0), 0);
    EXPECT_EQ(Contents(*array), (std::vector<Record>{Make(0, 'c'), Make(1, 'b'), Make(1, 'a')}));
  }
}

TEST(ArraySort, RandomArraysMatchTheReference) {
  std::mt19937 rng(2024);
  for (const Kind& kind : Kinds()) {
    SCOPED_TRACE(kind.name);
    for (int round = 0; round < 300; ++round) {
      int n = static_cast<int>(rng() % (round < 250 ? 120 : 3000));
      int range = 1 + static_cast<int>(rng() % (round % 3 == 0 ? 4 : 1000));
      std::vector<Record> input;
      for (int i = 0; i < n; ++i) input.push_back(Make(static_cast<int32_t>(rng() % range), i));
      auto array = kind.make();
      arraytest::Fill(*array, input);
      ASSERT_EQ(array->Sort(0), 0);
      ASSERT_EQ(Contents(*array), Reference(input)) << "round " << round << " n " << n;
    }
  }
}

// Inputs that contain long runs, which the sort recognises, mixed with the shapes
// that defeat a first-element pivot.
std::vector<std::vector<Record>> PatternInputs(int n) {
  std::vector<std::function<int32_t(int)>> shapes = {
      [](int i) { return i; },                       // strictly ascending
      [n](int i) { return n - i; },                  // strictly descending
      [](int) { return 5; },                         // all equal
      [](int i) { return i / 3; },                   // ascending with equal triples
      [n](int i) { return (n - i) / 2; },            // descending with equal pairs
      [n](int i) { return i < n / 2 ? i : n - i; },  // organ pipe
      [](int i) { return i % 40; },                  // sawtooth of ascending runs
      [](int i) { return (i % 40 < 20) ? 7 : i; },   // equal runs between ascending ones
      [n](int i) { return i == n - 1 ? -1 : i; },    // ascending, smallest last
      [](int i) { return (i * 7919) % 61 + (i % 97 == 0 ? 0 : 1000 * (i / 97)); },  // blocks
  };
  std::vector<std::vector<Record>> inputs;
  for (auto& shape : shapes) {
    std::vector<Record> in;
    for (int i = 0; i < n; ++i) in.push_back(Make(shape(i), i));
    inputs.push_back(in);
  }
  return inputs;
}

TEST(ArraySort, PatternedArraysMatchTheReference) {
  for (const Kind& kind : Kinds()) {
    SCOPED_TRACE(kind.name);
    for (int n : {15, 16, 17, 33, 1000}) {
      auto inputs = PatternInputs(n);
      for (size_t s = 0; s < inputs.size(); ++s) {
        auto array = kind.make();
        arraytest::Fill(*array, inputs[s]);
        ASSERT_EQ(array->Sort(0), 0);
        ASSERT_EQ(Contents(*array), Reference(inputs[s])) << "shape " << s << " n " << n;
      }
    }
  }
}

TEST(ArraySort, SortedInputsNeedLinearWork) {
  for (const Kind& kind : Kinds()) {
    SCOPED_TRACE(kind.name);
    const int n = 20000;
    for (int shape = 0; shape < 3; ++shape) {
      auto array = kind.make();
      for (int i = 0; i < n; ++i) {
        Record r = Make(shape == 0 ? i : (shape == 1 ? n - i : 3), i);
        array->Insert(array->GetCount(), &r);
      }
      arraytest::compareCalls = 0;
      ASSERT_EQ(array->Sort(0), 0);
      EXPECT_LE(arraytest::compareCalls, 2 * n) << "shape " << shape;
      std::vector<Record> sorted = Contents(*array);
      if (shape == 2) {
        EXPECT_EQ(sorted.front().payload, 1u);  // equal keys end rotated by one place
        EXPECT_EQ(sorted.back().payload, 0u);
      } else {
        EXPECT_EQ(sorted.front().key, shape == 0 ? 0 : 1);
        EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end(),
                                   [](const Record& a, const Record& b) { return a.key < b.key; }));
      }
    }
  }
}

// A deeply unbalanced input (each partition peels off two elements) sorted on a
// thread with a small stack: the nesting stays logarithmic.
TEST(ArraySort, NestingDepthStaysLogarithmic) {
  const int n = 12000;
  std::vector<Record> input;
  for (int i = 0; i < n; ++i) input.push_back(Make(i / 2, i));
  SortList list(sizeof(Record), CompareRecords, 0);
  arraytest::Fill(list, input);
  struct Job {
    SortList* list;
    int result;
  } job{&list, -1};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void* p) -> void* {
                  auto* j = static_cast<Job*>(p);
                  j->result = j->list->Sort(0);
                  return nullptr;
                },
                &job),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  ASSERT_EQ(job.result, 0);
  EXPECT_EQ(Contents(list), Reference(input));
}

}  // namespace

// The container differ against fixed cases and a counted model, over sequences
// of int32 records in memory files; and the memory-file container itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <numeric>
#include <random>
#include <vector>

#include "lxcontainers.h"
#include "lxmemfile.h"

namespace lxtest {
namespace {

using Codes = std::vector<int>;

struct CountingIterator : LxMemFileIterator {
  using LxMemFileIterator::LxMemFileIterator;
  int CompareElement(const LxVIterator* other, LxVParameter* otherParam, int& keyOrder, int& entryOrder,
                     LxVParameter* param) const override {
    ++compares;
    return LxMemFileIterator::CompareElement(other, otherParam, keyOrder, entryOrder, param);
  }
  mutable int compares = 0;
};

// A sequence of values in a memory file of its own, with 64-byte segments.
struct Sequence {
  explicit Sequence(const std::vector<int32_t>& values) : container(&file, 4, uint32_t(values.size())) {
    for (size_t i = 0; i < values.size(); ++i) file.Put(&values[i], static_cast<int32_t>(i * 4), 4);
  }
  MemFile file{0, 64};
  LxMemFileContainer container;
  CountingIterator it{&container};
};

int32_t ValueOf(const LxVIterator* source) {
  int status = 0;
  int32_t v = 0;
  if (const void* key = source->GetKey(status, nullptr)) std::memcpy(&v, key, 4);
  return v;
}

// The diff list: counters by value. Only emptied entries may be deleted.
struct DiffList : LxDiffListIteratorInterface {
  DiffList() : LxDiffListIteratorInterface(&store) {}
  int SearchElement(const LxVIterator* source, LxVParameter*, unsigned short, LxVParameter*) override {
    if (searchFailure != 0) return searchFailure;
    pos = entries.find(ValueOf(source));
    status = pos == entries.end() ? LX_CONTAINER_BEHIND_LAST : 0;
    return status == 0 ? 0 : LX_CONTAINER_NOT_FOUND;
  }
  int InsertElement(const LxVIterator* source, LxVParameter*, unsigned short, LxVParameter* param) override {
    return entries.emplace(ValueOf(source), (param->callerFlags & 1) ? 1 : -1).second ? 0
                                                                                      : LX_CONTAINER_EXISTS;
  }
  int DeleteElement(unsigned short, LxVParameter*) override {
    if (status != 0 || pos->second != 0) return LX_CONTAINER_INTERNAL;
    entries.erase(pos);
    return status = LX_CONTAINER_BEHIND_LAST, 0;
  }
  int First() override {
    return status = (pos = entries.begin()) == entries.end() ? LX_CONTAINER_BEFORE_FIRST : 0;
  }
  int Next() override {
    return status != 0 ? status : (status = ++pos == entries.end() ? LX_CONTAINER_BEHIND_LAST : 0);
  }
  const void* GetEntry(int& s, LxVParameter*) const override {
    return (s = status) == 0 ? &pos->first : nullptr;
  }
  int32_t* GetDiffCount() override { return status == 0 ? &pos->second : nullptr; }

  LxVContainer store{4, 0};
  std::map<int32_t, int32_t> entries;
  std::map<int32_t, int32_t>::iterator pos;
  int searchFailure = 0;
};

// A result container of one side; counts insertions with another side bit or a mode.
struct Collector : LxVContainer {
  explicit Collector(uint32_t side) : LxVContainer(4, 0), side(side) {}
  int InsertElement(const LxVIterator* source, LxVParameter*, unsigned short mode,
                    LxVParameter* param) override {
    if (values.size() >= capacity) return LX_CONTAINER_EXISTS;
    wrong += mode != 0 || param == nullptr || (param->callerFlags & 1) != side;
    values.push_back(ValueOf(source));
    return 0;
  }
  uint32_t side;
  size_t capacity = SIZE_MAX;
  int wrong = 0;
  std::vector<int32_t> values;
};

std::vector<int32_t> Sorted(std::vector<int32_t> v) { return std::sort(v.begin(), v.end()), v; }

struct Differ : LxVContainerDiffer {
  explicit Differ(LxDiffListIteratorInterface* list) { diffList = list; }
};

struct DiffRun {
  DiffRun(const std::vector<int32_t>& a, const std::vector<int32_t>& b) : first(a), second(b) {}
  int32_t Run(double fraction) {
    return Differ(&list).Diff(&first.it, &second.it, &onlyFirst, &onlySecond, fraction);
  }
  Sequence first, second;
  DiffList list;
  Collector onlyFirst{0}, onlySecond{1};
};

std::vector<int32_t> Range(int32_t from, int32_t to) {
  std::vector<int32_t> v(static_cast<size_t>(to - from));
  return std::iota(v.begin(), v.end(), from), v;
}

struct Case {
  std::vector<int32_t> a, b;
  double fraction;
  int32_t result;
  int compares;  // of entry pairs; -1 unchecked
  std::vector<int32_t> onlyA, onlyB;
};

// Random pairs: the second mostly the first with entries changed, dropped, added or rotated.
TEST(Differ, FixedAndRandomCasesMatchTheCountedModel) {
  // A and B disagree in all 512 pairs: the walk compares until the limit, which is
  // the fraction times the larger count.
  const std::vector<int32_t> A = Range(0, 512), B = Range(1000, 1512), none;
  constexpr double kInf = std::numeric_limits<double>::infinity();
  std::vector<Case> cases = {
      {Range(0, 50), Range(0, 50), 0.5, 0, 50, none, none},  // each pair once, nothing parked
      {{1, 2, 3}, {2, 3, 1}, 100.0, 0, -1, none, none},      // a reordering cancels in the diff list
      {{7, 7}, {7}, 1.0, 1, -1, {7}, none},                  // counted with repetition
      {{5, 9, 5, 5}, {9, 5}, 1.0, 1, -1, {5, 5}, none},
      {{}, {3, 1, 3}, 1.0, 1, 0, none, {1, 3, 3}},  // an empty side: the other goes straight through
      {{4, 2}, {}, 1.0, 1, 0, {2, 4}, none},
      {{}, {}, 1.0, 0, 0, none, none},
      {A, B, 0.0, 1, 0, A, B},          // limit 0: everything through the diff list
      {A, B, 1.0 / 1024, 1, 10, A, B},  // a positive product below 1 allows 10
      {A, B, 1.0 / 512, 1, 1, A, B},
      {A, B, 3.0 / 512, 1, 3, A, B},
      {A, B, 1.0, 1, 512, A, B},
      {A, B, -1.0, 1, 512, A, B},               // -512: its low 32 bits, a very large limit
      {A, B, -4294967293.0 / 512, 1, 3, A, B},  // -(2^32 - 3): low 32 bits 3
      {A, B, -1e300, 1, 0, A, B},               // a multiple of 2^32: low 32 bits 0
      {A, B, -kInf, 1, 512, A, B},              // no limit
      {A, B, std::nan(""), 1, 512, A, B},       // no limit
      {A, B, 1e300, 1, 512, A, B},              // no limit
      {Range(0, 10), Range(100, 1100), 0.005, 1, 5, Range(0, 10), Range(100, 1100)},  // 1000 * 0.005
  };
  std::mt19937 rng(20240611);
  const double fractions[] = {0.0, 0.001, 0.05, 0.5, 1.0, 3.0, -2.0, kInf};
  for (int round = 0; round < 400; ++round) {
    auto value = [&] { return static_cast<int32_t>(rng() % (round % 3 == 0 ? 4 : 13)); };
    Case c{std::vector<int32_t>(rng() % 41), {}, fractions[round % 8], 0, -1, {}, {}};
    for (int32_t& v : c.a) v = value();
    c.b = c.a;
    for (int e = static_cast<int>(rng() % 7); e > 0; --e) {
      const auto at = c.b.begin() + static_cast<long>(c.b.empty() ? 0 : rng() % c.b.size());
      const uint32_t edit = rng() % 4;
      if (edit == 0 && at != c.b.end()) *at = value();
      if (edit == 1 && at != c.b.end()) c.b.erase(at);
      if (edit == 2) c.b.insert(at, value());
      if (edit == 3) std::rotate(c.b.begin(), at, c.b.end());
    }
    if (round % 2) std::swap(c.a, c.b);
    const std::vector<int32_t> a = Sorted(c.a), b = Sorted(c.b);
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(c.onlyA));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(c.onlyB));
    c.result = c.onlyA.empty() && c.onlyB.empty() ? 0 : 1;
    cases.push_back(c);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a.size() << " vs " << c.b.size() << " fraction " << c.fraction);
    DiffRun run(c.a, c.b);
    EXPECT_EQ(run.Run(c.fraction), c.result);
    if (c.compares >= 0) {
      EXPECT_EQ(run.first.it.compares, c.compares);
    }
    EXPECT_EQ(Sorted(run.onlyFirst.values), c.onlyA);
    EXPECT_EQ(Sorted(run.onlySecond.values), c.onlyB);
    EXPECT_EQ(run.onlyFirst.wrong + run.onlySecond.wrong, 0);
  }
}

TEST(Differ, FailuresEndTheWalkAndKeepWhatWasInserted) {
  DiffRun full({1, 2, 3}, {});
  full.onlyFirst.capacity = 1;
  EXPECT_EQ(full.Run(1.0), LX_CONTAINER_EXISTS);
  EXPECT_EQ(full.onlyFirst.values, std::vector<int32_t>{1});
  DiffRun walk({1, 2}, {3, 4}), flush({1, 2}, {3, 4});  // an insertion of the walk, or of the flush, fails
  walk.onlySecond.capacity = flush.onlyFirst.capacity = 0;
  EXPECT_EQ(walk.Run(0.0), LX_CONTAINER_EXISTS);
  EXPECT_EQ(flush.Run(0.0), LX_CONTAINER_EXISTS);
  // A diff-list search that fails otherwise than with a not-found code ends the walk;
  // LX_CONTAINER_NOT_FOUND_2, the other modules' not-found, is none.
  DiffRun failing({1, 2}, {2, 1});
  failing.list.searchFailure = LX_CONTAINER_INTERNAL;
  EXPECT_EQ(failing.Run(0.0), LX_CONTAINER_INTERNAL);
  DiffRun other({1, 2}, {3, 4});
  other.list.searchFailure = LX_CONTAINER_NOT_FOUND_2;
  EXPECT_EQ(other.Run(0.0), 1);
  EXPECT_EQ(Sorted(other.onlyFirst.values), (std::vector<int32_t>{1, 2}));
  // Iterators on no container, and no diff list.
  DiffRun run({1}, {1});
  LxMemFileIterator unbound(nullptr);
  EXPECT_EQ(Differ(&run.list).Diff(&unbound, &run.second.it, nullptr, nullptr, 1.0), LX_CONTAINER_UNBOUND);
  EXPECT_EQ(Differ(&run.list).Diff(&run.first.it, &unbound, nullptr, nullptr, 1.0), LX_CONTAINER_UNBOUND);
  EXPECT_EQ(LxVContainerDiffer().Diff(&run.first.it, &run.second.it, nullptr, nullptr, 1.0),
            LX_CONTAINER_NOT_IMPLEMENTED);
}

// Record i of 8-byte records holds the bytes i*8 .. i*8+7.
struct Records {
  explicit Records(int n) : bytes(n * 8) {
    std::iota(bytes.begin(), bytes.end(), 0), file.Put(bytes.data(), 0, n * 8);
  }
  std::vector<unsigned char> bytes;
  MemFile file{0, 16};
};

int FirstByte(const LxVIterator& it) {
  int status = 0;
  const void* e = it.GetEntry(status, nullptr);
  return e != nullptr ? *static_cast<const unsigned char*>(e) : -1;
}

TEST(MemFileContainer, WalksRecordsFromItsStartThroughTheFilesPosition) {
  Records six(6), two(2);
  ASSERT_NE(six.file.Seek(16, 0), nullptr);
  LxMemFileContainer records(&six.file, 8, 3), longer(&two.file, 8, 5), none(&two.file, 8, 0);
  LxMemFileIterator it(&records), l(&longer), n(&none), unbound(nullptr);
  EXPECT_EQ(it.GetStatus(), LX_CONTAINER_BEFORE_FIRST);
  six.file.Seek(0, 0);  // First seeks to the start offset, wherever the file stands
  EXPECT_EQ((Codes{it.First(), FirstByte(it), it.Next(), it.Next(), FirstByte(it), it.Next()}),
            (Codes{0, 16, 0, 0, 32, LX_CONTAINER_BEHIND_LAST}));
  int status = 1;
  EXPECT_EQ(it.GetKey(status, nullptr), it.GetCurrentEntry());  // entry, element and key are the record
  EXPECT_EQ(status, LX_CONTAINER_BEHIND_LAST);
  // The position is the file's: another iterator, or any seek, moves the walk.
  six.file.Seek(0, 0);
  LxMemFileContainer all(&six.file, 8, 6);
  LxMemFileIterator one(&all), other(&all);
  EXPECT_EQ((Codes{one.First(), other.First(), other.Next(), one.Next(), FirstByte(one),
                   (six.file.Seek(0, 0), one.Next()), FirstByte(one)}),
            (Codes{0, 0, 0, 0, 16, 0, 8}));
  // The count claims 5 records and the file holds 2: the walk ends with the file, one step
  // after its end pointer. No records, no container, a start beyond the end: nothing to walk.
  EXPECT_EQ((Codes{l.First(), l.Next(), l.Next(), l.Next(), n.First(), unbound.First(), unbound.Next()}),
            (Codes{0, 0, 0, LX_CONTAINER_BEHIND_LAST, LX_CONTAINER_BEFORE_FIRST, LX_CONTAINER_UNBOUND,
                   LX_CONTAINER_UNBOUND}));
  EXPECT_EQ(longer.GetCurrentIndex(), 2u);
  two.file.Seek(16, 0);
  LxMemFileContainer late(&two.file, 8, 1);
  ASSERT_EQ(two.file.SizeSet(8), 0);
  EXPECT_EQ(LxMemFileIterator(&late).First(), LX_CONTAINER_BEFORE_FIRST);
}

TEST(MemFileContainer, RecordsCompareAsUnsignedBytes) {
  MemFile fa(0, 16), fb(0, 16);
  const unsigned char low[8] = {7, 7, 0x01}, high[8] = {7, 7, 0xFF};
  fa.Put(low, 0, 8), fa.Put(high, 8, 8), fb.Put(high, 0, 8);
  LxMemFileContainer ca(&fa, 8, 2), cb(&fb, 8, 1), zero(&fa, 0, 3);
  LxMemFileIterator a(&ca), b(&cb), z(&zero);
  int keyOrder = 5, entryOrder = 5;
  ASSERT_EQ(a.First(), 0);
  EXPECT_EQ(a.CompareElement(&b, nullptr, keyOrder, entryOrder, nullptr), LX_CONTAINER_BEFORE_FIRST);
  EXPECT_EQ(b.CompareElement(&a, nullptr, keyOrder, entryOrder, nullptr), LX_CONTAINER_BEFORE_FIRST);
  EXPECT_EQ(keyOrder + entryOrder, 10);  // untouched
  ASSERT_EQ(b.First(), 0);
  auto order = [&](LxMemFileIterator& x, LxMemFileIterator& y) {
    const int r = x.CompareElement(&y, nullptr, keyOrder, entryOrder, nullptr);
    return r == 0 && keyOrder == entryOrder ? keyOrder : 9;
  };
  // Records of 0 bytes are all equal.
  EXPECT_EQ((Codes{order(a, b), order(b, a), order(a, a), (z.First(), order(z, b)), (a.Next(), order(a, b))}),
            (Codes{-1, 1, 0, 0, 0}));
}

}  // namespace
}  // namespace lxtest

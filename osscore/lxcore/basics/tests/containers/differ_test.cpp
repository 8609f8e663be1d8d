// The container differ against a counted model, and the memory-file container.
//
// Sequences are int32 records in memory files, walked by memory-file iterators
// that count their comparisons. The diff list is a std::map from record bytes
// to counter; the result containers collect what they receive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lxcontainers.h"
#include "lxmemfile.h"

namespace {

// An iterator of a memory-file container that counts its comparisons.
class CountingIterator : public LxMemFileIterator {
 public:
  using LxMemFileIterator::LxMemFileIterator;
  int CompareElement(const LxVIterator* other, LxVParameter* otherParam, int& keyOrder, int& entryOrder,
                     LxVParameter* param) const override {
    ++compares;
    return LxMemFileIterator::CompareElement(other, otherParam, keyOrder, entryOrder, param);
  }
  mutable int compares = 0;
};

// A sequence of int32 values in a memory file of its own.
class Sequence {
 public:
  explicit Sequence(const std::vector<int32_t>& values) : file_(0, 64) {
    for (size_t i = 0; i < values.size(); ++i) {
      file_.Put(&values[i], static_cast<int32_t>(i * 4), 4);
    }
    container_.reset(new LxMemFileContainer(&file_, 4, static_cast<uint32_t>(values.size())));
    iterator_.reset(new CountingIterator(container_.get()));
  }
  CountingIterator* it() { return iterator_.get(); }

 private:
  MemFile file_;
  std::unique_ptr<LxMemFileContainer> container_;
  std::unique_ptr<CountingIterator> iterator_;
};

int32_t ValueOf(const LxVIterator* source) {
  int status = 0;
  const void* key = source->GetKey(status, nullptr);
  int32_t v = 0;
  if (key != nullptr) std::memcpy(&v, key, 4);
  return v;
}

// The diff list: counters by value, in value order.
class DiffListContainer : public LxVContainer {
 public:
  DiffListContainer() : LxVContainer(4, 0) {}
  std::map<int32_t, int32_t> entries;
  size_t largest = 0;  // most entries held at once
};

class DiffListIterator : public LxDiffListIteratorInterface {
 public:
  explicit DiffListIterator(DiffListContainer* list) : LxDiffListIteratorInterface(list), list_(list) {}

  int SearchElement(const LxVIterator* source, LxVParameter*, unsigned short, LxVParameter*) override {
    if (searchFailure != 0) return searchFailure;
    pos_ = list_->entries.find(ValueOf(source));
    if (pos_ == list_->entries.end()) {
      status = LX_CONTAINER_BEHIND_LAST;
      return LX_CONTAINER_NOT_FOUND;
    }
    status = 0;
    return 0;
  }
  int InsertElement(const LxVIterator* source, LxVParameter*, unsigned short, LxVParameter* param) override {
    bool fromSecond = (param->callerFlags & 1) != 0;
    auto inserted = list_->entries.emplace(ValueOf(source), fromSecond ? 1 : -1);
    if (!inserted.second) return LX_CONTAINER_EXISTS;  // the differ searched first
    list_->largest = std::max(list_->largest, list_->entries.size());
    ++inserts;
    return 0;
  }
  int DeleteElement(unsigned short, LxVParameter*) override {
    if (status != 0 || *GetDiffCount() != 0) return LX_CONTAINER_INTERNAL;  // only emptied entries go
    list_->entries.erase(pos_);
    status = LX_CONTAINER_BEHIND_LAST;
    return 0;
  }
  int First() override {
    pos_ = list_->entries.begin();
    return status = pos_ == list_->entries.end() ? LX_CONTAINER_BEFORE_FIRST : 0;
  }
  int Next() override {
    if (status != 0) return status;
    ++pos_;
    return status = pos_ == list_->entries.end() ? LX_CONTAINER_BEHIND_LAST : 0;
  }
  const void* GetEntry(int& s, LxVParameter*) const override {
    s = status;
    return status == 0 ? &pos_->first : nullptr;
  }
  const void* GetKey(int& s, LxVParameter* p) const override { return GetEntry(s, p); }
  int32_t* GetDiffCount() override { return status == 0 ? &pos_->second : nullptr; }

  int inserts = 0;
  int searchFailure = 0;

 private:
  DiffListContainer* list_;
  std::map<int32_t, int32_t>::iterator pos_;
};

// A result container: collects the values it receives with the side bit.
class Collector : public LxVContainer {
 public:
  Collector() : LxVContainer(4, 0) {}
  int InsertElement(const LxVIterator* source, LxVParameter*, unsigned short mode,
                    LxVParameter* param) override {
    if (failAfter >= 0 && static_cast<int>(values.size()) >= failAfter) return LX_CONTAINER_EXISTS;
    values.push_back(ValueOf(source));
    sideBits.push_back(param != nullptr ? (param->callerFlags & 1) : 99);
    modes.push_back(mode);
    ++count;
    return 0;
  }
  std::vector<int32_t> Sorted() const {
    std::vector<int32_t> v = values;
    std::sort(v.begin(), v.end());
    return v;
  }
  std::vector<int32_t> values;
  std::vector<uint32_t> sideBits;
  std::vector<unsigned short> modes;
  int failAfter = -1;
};

class TestDiffer : public LxVContainerDiffer {
 public:
  explicit TestDiffer(LxDiffListIteratorInterface* list) { diffList = list; }
};

// Runs one Diff with fresh helpers.
struct DiffRun {
  DiffRun(const std::vector<int32_t>& a, const std::vector<int32_t>& b)
      : first(a), second(b), list(&listStore) {}
  int32_t Run(double fraction) {
    TestDiffer differ(&list);
    return differ.Diff(first.it(), second.it(), &onlyFirst, &onlySecond, fraction);
  }
  int Compares() const { return const_cast<DiffRun*>(this)->first.it()->compares; }

  Sequence first, second;
  DiffListContainer listStore;
  DiffListIterator list;
  Collector onlyFirst, onlySecond;
};

// What the model says: values the first holds more often, and the second.
void Model(const std::vector<int32_t>& a, const std::vector<int32_t>& b, std::vector<int32_t>* onlyA,
           std::vector<int32_t>* onlyB) {
  std::map<int32_t, int> balance;
  for (int32_t v : a) ++balance[v];
  for (int32_t v : b) --balance[v];
  onlyA->clear();
  onlyB->clear();
  for (const auto& e : balance) {
    for (int i = 0; i < e.second; ++i) onlyA->push_back(e.first);
    for (int i = 0; i < -e.second; ++i) onlyB->push_back(e.first);
  }
}

std::vector<int32_t> Range(int32_t from, int32_t to) {
  std::vector<int32_t> v;
  for (int32_t i = from; i < to; ++i) v.push_back(i);
  return v;
}

}  // namespace

TEST(Differ, EqualSequencesCompareEachEntryOnceAndInsertNothing) {
  DiffRun run(Range(0, 50), Range(0, 50));
  EXPECT_EQ(run.Run(0.5), 0);
  EXPECT_EQ(run.Compares(), 50);
  EXPECT_TRUE(run.onlyFirst.values.empty());
  EXPECT_TRUE(run.onlySecond.values.empty());
  EXPECT_EQ(run.list.inserts, 0);
}

TEST(Differ, AReorderingCancelsInTheDiffList) {
  DiffRun run({1, 2, 3}, {2, 3, 1});
  EXPECT_EQ(run.Run(100.0), 0);
  EXPECT_TRUE(run.onlyFirst.values.empty());
  EXPECT_TRUE(run.onlySecond.values.empty());
  EXPECT_TRUE(run.listStore.entries.empty());
  EXPECT_GT(run.list.inserts, 0);
}

TEST(Differ, RepeatedEntriesCountWithRepetition) {
  DiffRun run({7, 7}, {7});
  EXPECT_EQ(run.Run(1.0), 1);
  EXPECT_EQ(run.onlyFirst.values, std::vector<int32_t>{7});
  EXPECT_TRUE(run.onlySecond.values.empty());

  DiffRun twice({5, 9, 5, 5}, {9, 5});
  EXPECT_EQ(twice.Run(1.0), 1);
  EXPECT_EQ(twice.onlyFirst.values, (std::vector<int32_t>{5, 5}));
  EXPECT_TRUE(twice.onlySecond.values.empty());
}

TEST(Differ, AnEmptySideSendsTheOtherStraightToItsResult) {
  DiffRun run({}, {3, 1, 3});
  EXPECT_EQ(run.Run(1.0), 1);
  EXPECT_EQ(run.onlySecond.values, (std::vector<int32_t>{3, 1, 3}));  // in sequence order
  EXPECT_TRUE(run.onlyFirst.values.empty());
  EXPECT_EQ(run.list.inserts, 0);
  EXPECT_EQ(run.onlySecond.sideBits, (std::vector<uint32_t>{1, 1, 1}));

  DiffRun other({4, 2}, {});
  EXPECT_EQ(other.Run(1.0), 1);
  EXPECT_EQ(other.onlyFirst.values, (std::vector<int32_t>{4, 2}));
  EXPECT_EQ(other.onlyFirst.sideBits, (std::vector<uint32_t>{0, 0}));

  DiffRun none({}, {});
  EXPECT_EQ(none.Run(1.0), 0);
}

TEST(Differ, FractionBoundsTheDisagreeingComparisons) {
  // All 512 pairs disagree, so the walk compares until the limit is reached.
  const std::vector<int32_t> a = Range(0, 512);
  const std::vector<int32_t> b = Range(1000, 1512);
  struct Case {
    double fraction;
    int compares;
  } cases[] = {
      {0.0, 0},                                         // limit 0: every entry goes through the diff list
      {1.0 / 1024, 10},                                 // product 0.5: a positive product below 1 allows 10
      {1.0 / 512, 1},                                   // product exactly 1
      {3.0 / 512, 3},                                   //
      {1.0, 512},                                       // no limit reached
      {-1.0, 512},                                      // negative: a very large limit
      {-4294967293.0 / 512, 3},                         // product -(2^32 - 3): its low 32 bits, 3
      {-1e300, 0},                                      // a multiple of 2^32: low 32 bits 0
      {-std::numeric_limits<double>::infinity(), 512},  // no limit
      {std::nan(""), 512},                              // not a number: no limit
      {1e300, 512},                                     //
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fraction);
    DiffRun run(a, b);
    EXPECT_EQ(run.Run(c.fraction), 1);
    EXPECT_EQ(run.Compares(), c.compares);
    EXPECT_EQ(run.onlyFirst.Sorted(), a);
    EXPECT_EQ(run.onlySecond.Sorted(), b);
  }
  // The limit scales with the larger of the two containers: 1000 * 0.005 = 5.
  DiffRun uneven(Range(0, 10), Range(100, 1100));
  uneven.Run(0.005);
  EXPECT_EQ(uneven.Compares(), 5);
}

TEST(Differ, RandomSequencesMatchTheCountedModel) {
  std::mt19937 rng(20240611);
  const double fractions[] = {0.0, 0.001, 0.05, 0.5, 1.0, 3.0, -2.0, std::numeric_limits<double>::infinity()};
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE(round);
    std::uniform_int_distribution<int> len(0, 40);
    std::uniform_int_distribution<int32_t> value(0, round % 3 == 0 ? 3 : 12);
    std::vector<int32_t> a(static_cast<size_t>(len(rng)));
    for (int32_t& v : a) v = value(rng);
    // The second: mostly the first, with a few entries changed, dropped,
    // added or moved, so that equal runs and disagreements both occur.
    std::vector<int32_t> b = a;
    std::uniform_int_distribution<int> edits(0, 6);
    for (int e = edits(rng); e > 0; --e) {
      int kind = static_cast<int>(rng() % 4);
      size_t at = b.empty() ? 0 : rng() % b.size();
      if (kind == 0 && !b.empty()) {
        b[at] = value(rng);
      } else if (kind == 1 && !b.empty()) {
        b.erase(b.begin() + static_cast<long>(at));
      } else if (kind == 2) {
        b.insert(b.begin() + static_cast<long>(at), value(rng));
      } else if (b.size() > 1) {
        std::rotate(b.begin(), b.begin() + static_cast<long>(at), b.end());
      }
    }
    if (round % 2) std::swap(a, b);
    double fraction = fractions[round % (sizeof fractions / sizeof fractions[0])];

    DiffRun run(a, b);
    int32_t result = run.Run(fraction);
    std::vector<int32_t> onlyA, onlyB;
    Model(a, b, &onlyA, &onlyB);
    EXPECT_EQ(run.onlyFirst.Sorted(), onlyA);
    EXPECT_EQ(run.onlySecond.Sorted(), onlyB);
    EXPECT_EQ(result, onlyA.empty() && onlyB.empty() ? 0 : 1);
    for (uint32_t bit : run.onlyFirst.sideBits) EXPECT_EQ(bit, 0u);
    for (uint32_t bit : run.onlySecond.sideBits) EXPECT_EQ(bit, 1u);
    for (unsigned short mode : run.onlyFirst.modes) EXPECT_EQ(mode, 0);
    // Every parked entry left in the diff list went out through the flush.
    for (const auto& e : run.listStore.entries) EXPECT_NE(e.second, 0);
  }
}

TEST(Differ, StopsAtTheFirstFailureAndKeepsWhatWasInserted) {
  DiffRun run({1, 2, 3}, {});
  run.onlyFirst.failAfter = 1;
  EXPECT_EQ(run.Run(1.0), LX_CONTAINER_EXISTS);
  EXPECT_EQ(run.onlyFirst.values, std::vector<int32_t>{1});

  // A diff-list search that fails otherwise than "not found" ends the walk.
  DiffRun search({1, 2}, {2, 1});
  search.list.searchFailure = LX_CONTAINER_INTERNAL;
  EXPECT_EQ(search.Run(0.0), LX_CONTAINER_INTERNAL);
  // -511, the other modules' not-found, is no failure.
  DiffRun other({1, 2}, {3, 4});
  other.list.searchFailure = LX_CONTAINER_NOT_FOUND_2;
  EXPECT_EQ(other.Run(0.0), 1);
  EXPECT_EQ(other.onlyFirst.Sorted(), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(other.onlySecond.Sorted(), (std::vector<int32_t>{3, 4}));

  // A failure of the flush's insertion.
  DiffRun flush({1, 2}, {3, 4});
  flush.onlySecond.failAfter = 0;
  EXPECT_EQ(flush.Run(0.0), LX_CONTAINER_EXISTS);
}

TEST(Differ, RefusesUnboundIteratorsAndAMissingDiffList) {
  Sequence a({1}), b({1});
  Collector x, y;
  LxVContainerDiffer bare;
  EXPECT_EQ(bare.GetDiffList(), nullptr);
  EXPECT_EQ(bare.Diff(a.it(), b.it(), &x, &y, 1.0), LX_CONTAINER_NOT_IMPLEMENTED);
  DiffListContainer store;
  DiffListIterator list(&store);
  TestDiffer differ(&list);
  LxMemFileIterator unbound(nullptr);
  EXPECT_EQ(differ.Diff(&unbound, b.it(), &x, &y, 1.0), LX_CONTAINER_UNBOUND);
  EXPECT_EQ(differ.Diff(a.it(), &unbound, &x, &y, 1.0), LX_CONTAINER_UNBOUND);
  EXPECT_TRUE(x.values.empty());
}

// ---------------------------------------------------------------------------
// Memory-file container
// ---------------------------------------------------------------------------

namespace {

// A file of `records` 8-byte records; record i holds bytes i*8 .. i*8+7.
void Fill(MemFile* file, int records) {
  for (int i = 0; i < records * 8; ++i) {
    unsigned char b = static_cast<unsigned char>(i);
    file->Put(&b, i, 1);
  }
}

int FirstByte(const LxVIterator& it) {
  int status = 0;
  const void* e = it.GetEntry(status, nullptr);
  return e ? *static_cast<const unsigned char*>(e) : -1;
}

}  // namespace

TEST(MemFileContainer, WalksRecordsFromThePositionAtConstruction) {
  MemFile file(0, 16);
  Fill(&file, 6);
  ASSERT_NE(file.Seek(16, 0), nullptr);
  LxMemFileContainer records(&file, 8, 3);
  EXPECT_EQ(records.GetStartOffset(), 16u);
  EXPECT_EQ(records.GetCount(), 3u);
  EXPECT_EQ(records.GetElementSize(), 8u);
  LxMemFileIterator it(&records);
  EXPECT_EQ(it.GetStatus(), LX_CONTAINER_BEFORE_FIRST);
  EXPECT_EQ(it.GetCurrentEntry(), nullptr);
  file.Seek(0, 0);  // First seeks from the start, wherever the file stands
  EXPECT_EQ(it.First(), 0);
  EXPECT_EQ(FirstByte(it), 16);
  EXPECT_EQ(it.Next(), 0);
  EXPECT_EQ(FirstByte(it), 24);
  EXPECT_EQ(records.GetCurrentIndex(), 1u);
  EXPECT_EQ(it.Next(), 0);
  EXPECT_EQ(FirstByte(it), 32);
  EXPECT_EQ(it.Next(), LX_CONTAINER_BEHIND_LAST);
  EXPECT_EQ(it.GetStatus(), LX_CONTAINER_BEHIND_LAST);
  // Entry, element and key are the record itself.
  int status = 1;
  const void* entry = it.GetEntry(status, nullptr);
  EXPECT_EQ(status, LX_CONTAINER_BEHIND_LAST);
  EXPECT_EQ(it.GetKey(status, nullptr), entry);
  EXPECT_EQ(it.First(), 0);
  EXPECT_EQ(it.GetElement(status, nullptr), it.GetEntry(status, nullptr));
}

TEST(MemFileContainer, NextStepsFromTheFilesCurrentPosition) {
  MemFile file(0, 16);
  Fill(&file, 4);
  LxMemFileContainer records(&file, 8, 4);
  LxMemFileIterator a(&records);
  LxMemFileIterator b(&records);
  ASSERT_EQ(a.First(), 0);
  ASSERT_EQ(b.First(), 0);
  ASSERT_EQ(b.Next(), 0);
  EXPECT_EQ(a.Next(), 0);  // moves from b's position: the third record
  EXPECT_EQ(FirstByte(a), 16);
  file.Seek(0, 0);  // any seek moves the walk
  EXPECT_EQ(a.Next(), 0);
  EXPECT_EQ(FirstByte(a), 8);
  // Next does not look at the status: from behind the last it steps on.
  MemFile small(0, 16);
  Fill(&small, 2);
  LxMemFileContainer two(&small, 8, 2);
  LxMemFileIterator c(&two);
  EXPECT_EQ(c.Next(), 0);  // before First: from the file's position 0
  EXPECT_EQ(FirstByte(c), 8);
}

TEST(MemFileContainer, EmptyShortAndVanishedFiles) {
  MemFile file(0, 16);
  Fill(&file, 2);
  LxMemFileContainer none(&file, 8, 0);
  LxMemFileIterator it(&none);
  EXPECT_EQ(it.First(), LX_CONTAINER_BEFORE_FIRST);
  // The count claims 5 records, the file holds 2: the walk ends with the file.
  // A seek to the very end of the file still succeeds (the file's end
  // pointer), so the walk stops only one step further.
  LxMemFileContainer longer(&file, 8, 5);
  LxMemFileIterator l(&longer);
  EXPECT_EQ(l.First(), 0);
  EXPECT_EQ(l.Next(), 0);
  EXPECT_EQ(l.Next(), 0);
  EXPECT_EQ(file.GetPosition(), 16);
  EXPECT_EQ(l.Next(), LX_CONTAINER_BEHIND_LAST);
  EXPECT_EQ(longer.GetCurrentIndex(), 2u);
  // A start offset beyond the end of the file.
  ASSERT_NE(file.Seek(16, 0), nullptr);
  LxMemFileContainer late(&file, 8, 1);
  ASSERT_EQ(file.SizeSet(8), 0);
  LxMemFileIterator z(&late);
  EXPECT_EQ(z.First(), LX_CONTAINER_BEFORE_FIRST);
  // Unbound.
  LxMemFileIterator unbound(nullptr);
  EXPECT_EQ(unbound.First(), LX_CONTAINER_UNBOUND);
  EXPECT_EQ(unbound.Next(), LX_CONTAINER_UNBOUND);
}

TEST(MemFileContainer, RecordsCompareAsUnsignedBytes) {
  MemFile fa(0, 16), fb(0, 16);
  const unsigned char ra[8] = {7, 7, 0x01, 0, 0, 0, 0, 0};
  const unsigned char rb[8] = {7, 7, 0xFF, 0, 0, 0, 0, 0};
  fa.Put(ra, 0, 8);
  fb.Put(rb, 0, 8);
  fa.Put(rb, 8, 8);
  LxMemFileContainer ca(&fa, 8, 2), cb(&fb, 8, 1);
  LxMemFileIterator a(&ca), b(&cb);
  int keyOrder = 5, entryOrder = 5;
  // Before First both statuses are -521: returned, outputs untouched.
  EXPECT_EQ(a.CompareElement(&b, nullptr, keyOrder, entryOrder, nullptr), LX_CONTAINER_BEFORE_FIRST);
  EXPECT_EQ(keyOrder, 5);
  ASSERT_EQ(a.First(), 0);
  EXPECT_EQ(a.CompareElement(&b, nullptr, keyOrder, entryOrder, nullptr), LX_CONTAINER_BEFORE_FIRST);
  ASSERT_EQ(b.First(), 0);
  EXPECT_EQ(a.CompareElement(&b, nullptr, keyOrder, entryOrder, nullptr), 0);
  EXPECT_EQ(keyOrder, -1);
  EXPECT_EQ(entryOrder, -1);
  EXPECT_EQ(b.CompareElement(&a, nullptr, keyOrder, entryOrder, nullptr), 0);
  EXPECT_EQ(keyOrder, 1);
  EXPECT_EQ(entryOrder, 1);
  ASSERT_EQ(a.Next(), 0);
  EXPECT_EQ(a.CompareElement(&b, nullptr, keyOrder, entryOrder, nullptr), 0);
  EXPECT_EQ(keyOrder, 0);
  EXPECT_EQ(entryOrder, 0);
  // Records of 0 bytes are all equal.
  LxMemFileContainer zero(&fa, 0, 3);
  LxMemFileIterator z1(&zero), z2(&zero);
  ASSERT_EQ(z1.First(), 0);
  ASSERT_EQ(z2.First(), 0);
  keyOrder = entryOrder = 9;
  EXPECT_EQ(z1.CompareElement(&b, nullptr, keyOrder, entryOrder, nullptr), 0);
  EXPECT_EQ(keyOrder, 0);
  EXPECT_EQ(entryOrder, 0);
}

// Long randomised sequences of insertions, searches and deletions on the tree,
// compared step by step with a std::multiset, and the failure paths of every
// callback.
#include <gtest/gtest.h>
#include <lxcontainers.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <vector>

#include "lxtest.h"
#include "tree_support.h"

namespace containers_test {
namespace {

// The model orders by (key, data); the serial tells identical entries apart.
struct ByEntry {
  bool operator()(const Elem& a, const Elem& b) const {
    return a.key != b.key ? a.key < b.key : a.data < b.data;
  }
};
using Model = std::multiset<Elem, ByEntry>;

const void* NodeOfSerial(int32_t serial) {
  return static_cast<const char*>(TheCalls().live.at(serial)) - LxRBTreeNode::kHeaderSize;
}

class ModelRun {
 public:
  ModelRun(unsigned short flags, uint32_t seed, int keyRange)
      : tree(sizeof(Elem), flags), flags(flags), rng(seed), keyRange(keyRange) {
    Install(&tree);
  }

  void Step() {
    int op = Pick(100);
    if (op < 45)
      DoInsert();
    else if (op < 70)
      DoSearch();
    else if (op < 85)
      DoDelete();
    else if (op < 93)
      DoIteratorDelete();
    else
      DoDeleteEntry();
  }

  // The tree against the model: self-check, count, greatest, and both walks.
  void Verify() {
    ASSERT_EQ(tree.CheckTree(nullptr), 0);
    ASSERT_EQ(tree.GetCount(), model.size());
    ASSERT_EQ(TheCalls().live.size(), model.size());
    if (model.empty()) {
      ASSERT_EQ(tree.GetGreatest(), nullptr);
      ASSERT_EQ(tree.GetRoot(), nullptr);
      return;
    }
    ASSERT_EQ(tree.GetGreatest(), NodeOfSerial(model.rbegin()->serial));
    LxRBTreeIterator it(&tree, nullptr);
    auto m = model.begin();
    while (it.Next() == 0) {
      ASSERT_NE(m, model.end());
      ASSERT_EQ(At(it)->serial, m->serial);
      ++m;
    }
    ASSERT_EQ(m, model.end());
    ASSERT_EQ(it.GetStatus(), -522);
    auto r = model.rbegin();
    while (it.Prior() == 0) {
      ASSERT_NE(r, model.rend());
      ASSERT_EQ(At(it)->serial, r->serial);
      ++r;
    }
    ASSERT_EQ(r, model.rend());
    ASSERT_EQ(it.GetStatus(), -521);
    // A bare path walks the same order through the exported steps.
    auto serialAt = [](const LxRBTreePath& p) {
      return static_cast<const Elem*>(p.Current()->Element())->serial;
    };
    LxRBTreePath path;
    for (auto* n = tree.GetRoot(); n != nullptr; n = n->Left()) path.Push(const_cast<LxRBTreeNode*>(n));
    for (m = model.begin(); m != model.end(); ++m, path.Successor()) ASSERT_EQ(serialAt(path), m->serial);
    ASSERT_EQ(path.Current(), nullptr);
    for (auto* n = tree.GetRoot(); n != nullptr; n = n->Right()) path.Push(const_cast<LxRBTreeNode*>(n));
    for (r = model.rbegin(); r != model.rend(); ++r, path.Predecessor()) ASSERT_EQ(serialAt(path), r->serial);
    ASSERT_EQ(path.Current(), nullptr);
  }

  int steps = 0;
  int hits = 0;
  int refusals = 0;

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
  Elem RandomPair() { return Elem{Pick(keyRange), Pick(3), 0}; }

  void DoInsert() {
    Elem e = RandomPair();
    unsigned short mode = Pick(2) ? 0x0004 : 0;
    bool keyExists = false, entryExists = model.count(e) > 0;
    for (const Elem& m : model) keyExists |= m.key == e.key;
    bool refused = (flags & 2) ? false : (entryExists || (keyExists && !(flags & 1)));
    int r = Insert(tree, e.key, e.data, mode);
    ASSERT_EQ(r, refused ? -512 : 0) << e.key << "/" << e.data;
    if (refused) {
      ++refusals;
      return;
    }
    e.serial = TheCalls().nextSerial - 1;
    if (mode & 0x0004)
      model.insert(model.lower_bound(e), e);
    else
      model.insert(e);
    if (keyExists) {
      ASSERT_EQ(tree.GetDuplicateKeys(), 1);
    }
  }

  void DoSearch() {
    static const unsigned short kModes[] = {0,      0x0010,          0x0020,         0x0040,
                                            0x0100, 0x0020 | 0x0010, 0x0040 | 0x0010};
    unsigned short mode = kModes[Pick(7)];
    Elem e = RandomPair();
    bool keyOnly = !(mode & 0x0100) && Pick(3) == 0;
    Model::iterator lo, hi;
    if (keyOnly) {
      lo = model.lower_bound(Elem{e.key, INT32_MIN, 0});
      hi = model.upper_bound(Elem{e.key, INT32_MAX, 0});
    } else {
      lo = model.lower_bound(e);
      hi = model.upper_bound(e);
    }
    LxRBTreeParameter param;
    bool named = false;
    if ((mode & 0x0100) && !model.empty()) {
      // Name either an entry of the run or any other entry.
      auto pick = lo != hi && Pick(2) ? std::next(lo, Pick(static_cast<int>(std::distance(lo, hi))))
                                      : std::next(model.begin(), Pick(static_cast<int>(model.size())));
      param.entry = NodeOfSerial(pick->serial);
      named = pick->key == e.key && pick->data == e.data;
    }
    // The expected position: an element of the model, or end() with a status.
    bool found = lo != hi;
    Model::const_iterator want = model.end();
    int wantStatus = 0;
    if (found) {
      if (named)
        want = hi;
      else
        want = (mode & 0x0010) ? std::prev(hi) : lo;
      if (want == model.end()) wantStatus = -522;
    } else if (mode & 0x0040) {
      want = lo;
      if (want == model.end()) wantStatus = -522;
    } else if (mode & 0x0020) {
      if (lo == model.begin())
        wantStatus = -521;
      else
        want = std::prev(lo);
    } else {
      wantStatus = (mode & 0x0100) ? -522 : -523;
    }

    LxRBTreeIterator result(&tree, nullptr);
    int r;
    if (keyOnly) {
      Source src(e.key);
      r = tree.SearchElement(src.get(), nullptr, mode, &param, &result);
      ASSERT_EQ(tree.SearchElement(src.get(), nullptr, mode, &param, nullptr), r);
    } else {
      Source src(e.key, e.data);
      r = tree.SearchElement(src.get(), nullptr, mode, &param, &result);
      ASSERT_EQ(tree.SearchElement(src.get(), nullptr, mode, &param, nullptr), r);
    }
    ASSERT_EQ(r, found ? 0 : -510) << "mode " << mode;
    ASSERT_EQ(result.GetStatus(), wantStatus) << "mode " << mode << " key " << e.key;
    if (wantStatus == 0) {
      ASSERT_NE(want, model.end());
      ASSERT_EQ(At(result)->serial, want->serial) << "mode " << mode << " key " << e.key;
      hits += found;
      // The neighbours are reachable from the result.
      if (want != model.begin()) {
        LxRBTreeIterator back(&tree, nullptr);
        ASSERT_EQ(result.Clone(&back), &back);
        ASSERT_EQ(back.Prior(), 0);
        ASSERT_EQ(At(back)->serial, std::prev(want)->serial);
      }
      if (std::next(want) != model.end()) {
        ASSERT_EQ(result.Next(), 0);
        ASSERT_EQ(At(result)->serial, std::next(want)->serial);
      } else {
        ASSERT_EQ(result.Next(), -522);
      }
    }
  }

  void DoDelete() {
    Elem e = RandomPair();
    unsigned short mode = Pick(2) ? 0x0010 : 0;
    if (Pick(4) == 0) mode |= 0x0020 | 0x0040 | 0x0100;  // ignored by deletions
    bool keyOnly = Pick(3) == 0;
    Model::iterator lo, hi;
    int r;
    if (keyOnly) {
      lo = model.lower_bound(Elem{e.key, INT32_MIN, 0});
      hi = model.upper_bound(Elem{e.key, INT32_MAX, 0});
      Source src(e.key);
      r = tree.DeleteElement(src.get(), nullptr, mode, nullptr);
    } else {
      lo = model.lower_bound(e);
      hi = model.upper_bound(e);
      Source src(e.key, e.data);
      r = tree.DeleteElement(src.get(), nullptr, mode, nullptr);
    }
    if (lo == hi) {
      ASSERT_EQ(r, -510);
      return;
    }
    ASSERT_EQ(r, 0);
    model.erase((mode & 0x0010) ? std::prev(hi) : lo);
  }

  void DoIteratorDelete() {
    if (model.empty()) return;
    int index = Pick(static_cast<int>(model.size()));
    auto victim = std::next(model.begin(), index);
    LxRBTreeIterator it(&tree, nullptr);
    ASSERT_EQ(it.First(), 0);
    for (int i = 0; i < index; ++i) ASSERT_EQ(it.Next(), 0);
    ASSERT_EQ(At(it)->serial, victim->serial);
    bool backward = Pick(2);
    int want = 0;
    int32_t neighbour = 0;
    if (backward) {
      if (victim == model.begin())
        want = -521;
      else
        neighbour = std::prev(victim)->serial;
    } else {
      if (std::next(victim) == model.end())
        want = -522;
      else
        neighbour = std::next(victim)->serial;
    }
    ASSERT_EQ(it.DeleteElement(backward ? 0x0001 : 0, nullptr), want);
    ASSERT_EQ(it.GetStatus(), want);
    model.erase(victim);
    if (want == 0) {
      ASSERT_EQ(At(it)->serial, neighbour);  // and still fresh
    }
  }

  void DoDeleteEntry() {
    if (model.empty()) return;
    auto victim = std::next(model.begin(), Pick(static_cast<int>(model.size())));
    ASSERT_EQ(tree.DeleteEntry(NodeOfSerial(victim->serial), Pick(2) ? 0x0010 : 0, nullptr), 0);
    model.erase(victim);
  }

  LxRBTree tree;
  unsigned short flags;
  Model model;
  std::mt19937 rng;
  int keyRange;
};

void RunModel(unsigned short flags, uint32_t seed, int keyRange, int steps) {
  ModelRun run(flags, seed, keyRange);
  for (int i = 0; i < steps; ++i) {
    SCOPED_TRACE(testing::Message() << "flags " << flags << " seed " << seed << " step " << i);
    run.Step();
    if (testing::Test::HasFatalFailure()) return;
    run.Verify();
    if (testing::Test::HasFatalFailure()) return;
  }
  // The sequences must exercise both outcomes.
  EXPECT_GT(run.hits, 0);
}

TEST(RBTreeModel, UniqueKeys) {
  for (uint32_t seed : {1u, 2u, 3u}) RunModel(0, seed, 400, 6000);
}

TEST(RBTreeModel, EqualKeysAllowed) {
  for (uint32_t seed : {4u, 5u, 6u}) RunModel(1, seed, 150, 6000);
}

TEST(RBTreeModel, IdenticalEntriesAllowed) {
  for (uint32_t seed : {7u, 8u, 9u}) RunModel(2, seed, 60, 6000);
}

TEST(RBTreeModel, SmallKeySpaceChurn) {
  // Few keys: the tree repeatedly grows and empties, with long runs of equals.
  for (unsigned short flags : {0, 1, 2}) RunModel(flags, 100 + flags, 6, 4000);
}

TEST(RBTreeModel, LargeTreeRandomOrder) {
  // Bulk insert and delete in random order; the tree stays valid throughout.
  LxRBTree tree(sizeof(Elem));
  Install(&tree);
  std::mt19937 rng(42);
  std::vector<int32_t> keys(20000);
  for (size_t i = 0; i < keys.size(); ++i) keys[i] = static_cast<int32_t>(i * 2);
  std::shuffle(keys.begin(), keys.end(), rng);
  for (size_t i = 0; i < keys.size(); ++i) {
    ASSERT_EQ(Insert(tree, keys[i], 0), 0);
    if (i % 997 == 0) {
      ASSERT_EQ(tree.CheckTree(nullptr), 0);
    }
  }
  ASSERT_EQ(tree.CheckTree(nullptr), 0);
  std::shuffle(keys.begin(), keys.end(), rng);
  for (size_t i = 0; i < keys.size(); ++i) {
    Source src(keys[i], 0);
    ASSERT_EQ(tree.DeleteElement(src.get(), nullptr, 0, nullptr), 0);
    Source gone(keys[i] + 1, 0);  // odd keys never exist
    ASSERT_EQ(tree.SearchElement(gone.get(), nullptr, 0, nullptr, nullptr), -510);
    if (i % 997 == 0) {
      ASSERT_EQ(tree.CheckTree(nullptr), 0);
    }
  }
  EXPECT_EQ(tree.GetCount(), 0u);
  EXPECT_EQ(tree.GetRoot(), nullptr);
  EXPECT_TRUE(TheCalls().live.empty());
}

// ---------------------------------------------------------------------------
// Callback failures
// ---------------------------------------------------------------------------

struct Snapshot {
  std::vector<int32_t> serials;
  uint32_t count, stamp;
  const void* greatest;
};

Snapshot Take(LxRBTree& tree) {
  Snapshot s{{}, tree.GetCount(), tree.GetStamp(), tree.GetGreatest()};
  LxRBTreeIterator it(&tree, nullptr);
  while (it.Next() == 0) s.serials.push_back(At(it)->serial);
  return s;
}

void ExpectUnchanged(LxRBTree& tree, const Snapshot& before) {
  Snapshot after = Take(tree);
  EXPECT_EQ(after.serials, before.serials);
  EXPECT_EQ(after.count, before.count);
  EXPECT_EQ(after.stamp, before.stamp);
  EXPECT_EQ(after.greatest, before.greatest);
  EXPECT_EQ(tree.CheckTree(nullptr), 0);
}

TEST(RBTreeFailures, EveryCallbackFailureLeavesTheTreeAndRecyclesTheNode) {
  enum Which { kCopy, kKey, kData, kCompare };
  for (Which which : {kCopy, kKey, kData, kCompare}) {
    // Fail the n-th call of the callback during one insertion, for every n that
    // the insertion reaches, with both an append and a descent.
    for (int32_t newKey : {1000, 55}) {
      for (int n = 1;; ++n) {
        SCOPED_TRACE(testing::Message() << "callback " << which << " key " << newKey << " call " << n);
        LxRBTree tree(sizeof(Elem));
        Install(&tree);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(Insert(tree, i * 3, 0), 0);
        Snapshot before = Take(tree);
        Calls& c = TheCalls();
        uint32_t blocks = tree.GetEntryCache().CountBlocks();
        int destroys = c.destroys;
        int base = which == kCopy ? c.copies : which == kKey ? c.keys : which == kData ? c.datas : c.compares;
        int& failAt = which == kCopy   ? c.failCopyAt
                      : which == kKey  ? c.failKeyAt
                      : which == kData ? c.failDataAt
                                       : c.failCompareAt;
        failAt = base + n;
        int r = Insert(tree, newKey, 0);
        failAt = 0;
        if (r == 0) {
          // n is past the last call the insertion makes: every earlier one failed properly.
          EXPECT_GT(n, 1);
          break;
        }
        EXPECT_EQ(r, -777);
        ExpectUnchanged(tree, before);
        EXPECT_EQ(tree.GetEntryCache().CountBlocks(), blocks);
        // A built element is destroyed; a failed copy built nothing.
        EXPECT_EQ(c.destroys - destroys, which == kCopy ? 0 : 1);
        int s = 0;
        void* next = tree.CreateEntry(s);
        EXPECT_EQ(tree.GetElementOfEntry(next), c.lastCopied);  // the same node comes back
        if (n > 40) FAIL() << "insertion never succeeded";
      }
    }
  }
}

TEST(RBTreeFailures, SearchAndDeleteReportCallbackErrorsWithoutChange) {
  LxRBTree tree(sizeof(Elem), 1);
  Install(&tree);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(Insert(tree, i % 10, i), 0);
  Snapshot before = Take(tree);
  for (int n = 1; n <= 6; ++n) {
    Calls& c = TheCalls();
    c.failCompareAt = c.compares + n;
    Source src(5);
    EXPECT_EQ(tree.DeleteElement(src.get(), nullptr, 0x0010, nullptr), -777) << n;
    c.failCompareAt = c.compares + n;
    LxRBTreeIterator it(&tree, nullptr);
    EXPECT_EQ(tree.SearchElement(src.get(), nullptr, 0x0040, nullptr, &it), -777) << n;
    c.failCompareAt = 0;
    ExpectUnchanged(tree, before);
  }
  // A failing key view during the exact-entry match.
  Calls& c = TheCalls();
  c.failKeyAt = c.keys + 1;
  EXPECT_EQ(tree.DeleteEntry(tree.GetGreatest(), 0, nullptr), -777);
  c.failKeyAt = 0;
  ExpectUnchanged(tree, before);
  // Missing callbacks.
  tree.SetCompareFunc(nullptr);
  Source src(3, 3);
  EXPECT_EQ(tree.SearchElement(src.get(), nullptr, 0, nullptr, nullptr), -2999);
  EXPECT_EQ(tree.InsertElement(src.get(), nullptr, 0, nullptr), -2999);
  tree.SetCompareFunc(Compare);
  tree.SetCopyFunc(nullptr);
  EXPECT_EQ(tree.InsertElement(src.get(), nullptr, 0, nullptr), -2999);
  ExpectUnchanged(tree, before);
}

#if !defined(__SANITIZE_ADDRESS__)
int PlainCopy(LxVContainer*, void* element, const LxVIterator*, const void* key, const void*, LxVParameter*) {
  *static_cast<Elem*>(element) = Elem{*static_cast<const int32_t*>(key), 0, 0};
  return 0;
}

TEST(RBTreeFailures, OutOfNodesGives2030) {
  lxtest::ChildResult r = lxtest::RunWithMemoryLimit(16 << 20, [] {
    LxRBTree tree(sizeof(Elem), 0, 4096);  // 128 KB blocks
    Install(&tree);
    tree.SetCopyFunc(PlainCopy);  // records nothing: the heap is about to run out
    int result = 0;
    int32_t k = 0;
    while ((result = Insert(tree, k, 0)) == 0) ++k;
    if (result != -2030 || k == 0) return 1;
    if (tree.CheckTree(nullptr) != 0 || tree.GetCount() != static_cast<uint32_t>(k)) return 2;
    int s = 0;
    if (tree.CreateEntry(s) != nullptr || s != -2030) return 3;
    return 0;
  });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.code, 0) << r.err;
}
#endif

}  // namespace
}  // namespace containers_test

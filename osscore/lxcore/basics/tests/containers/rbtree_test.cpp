// Focused cases of the red-black tree: shape and bookkeeping, uniqueness rules,
// the locate modes through SearchElement, removal, the iterator's state table and
// deletion at its position, clearing and the self-check.
#include <gtest/gtest.h>
#include <lxcontainers.h>

#include <memory>
#include <vector>

#include "tree_support.h"

namespace containers_test {
namespace {

// Reaches the tree's protected fields for tampering and shape checks.
struct TreeProbe : LxRBTree {
  using LxRBTree::LxRBTree;
  void SetCount(uint32_t n) { count = n; }
  LxRBTreeNode* Root() { return root; }
};

std::vector<int32_t> Keys(LxRBTree& tree, bool backward = false) {
  std::vector<int32_t> out;
  LxRBTreeIterator it(&tree, nullptr);
  int r = backward ? it.Last() : it.First();
  while (r == 0) {
    out.push_back(At(it)->key);
    r = backward ? it.Prior() : it.Next();
  }
  return out;
}

std::vector<int32_t> Serials(LxRBTree& tree) {
  std::vector<int32_t> out;
  LxRBTreeIterator it(&tree, nullptr);
  while (it.Next() == 0) out.push_back(At(it)->serial);
  return out;
}

const Elem* GreatestElem(const LxRBTree& tree) {
  return static_cast<const Elem*>(tree.GetElementOfEntry(tree.GetGreatest()));
}

TEST(RBTree, FirstInsertionMakesABlackRootThatIsGreatest) {
  LxRBTree tree(sizeof(Elem));
  Install(&tree);
  EXPECT_EQ(tree.GetType(), 1);
  EXPECT_EQ(tree.Clone(nullptr), nullptr);
  EXPECT_EQ(tree.CheckTree(nullptr), 0);
  ASSERT_EQ(Insert(tree, 5, 0), 0);
  ASSERT_NE(tree.GetRoot(), nullptr);
  EXPECT_EQ(tree.GetRoot(), tree.GetGreatest());
  EXPECT_FALSE(tree.GetRoot()->IsRed());
  EXPECT_EQ(tree.GetRoot()->Left(), nullptr);
  EXPECT_EQ(tree.GetRoot()->Right(), nullptr);
  EXPECT_EQ(tree.GetStamp(), 1u);
  EXPECT_EQ(tree.GetCount(), 1u);
  // The element sits two pointers behind the node.
  EXPECT_EQ(tree.GetElementOfEntry(tree.GetRoot()),
            reinterpret_cast<const char*>(tree.GetRoot()) + 2 * sizeof(void*));
  EXPECT_EQ(tree.GetEntryCache().GetEntrySize(), sizeof(Elem) + 2 * sizeof(void*) + 4);  // aligned to 8
}

TEST(RBTree, AscendingInsertionsTakeTheAppendShortcut) {
  LxRBTree tree(sizeof(Elem));
  Install(&tree);
  for (int i = 0; i < 300; ++i) {
    int before = TheCalls().compares;
    ASSERT_EQ(Insert(tree, i, 0), 0);
    if (i > 0) {
      EXPECT_EQ(TheCalls().compares - before, 1) << i;  // one comparison, against greatest
    }
    EXPECT_EQ(GreatestElem(tree)->key, i);
    ASSERT_EQ(tree.CheckTree(nullptr), 0) << i;
  }
  EXPECT_EQ(Keys(tree).size(), 300u);
  // Descending insertions descend, and stay valid.
  LxRBTree down(sizeof(Elem));
  Install(&down);
  for (int i = 300; i > 0; --i) {
    ASSERT_EQ(Insert(down, i, 0), 0);
    ASSERT_EQ(down.CheckTree(nullptr), 0) << i;
  }
  EXPECT_EQ(GreatestElem(down)->key, 300);
}

TEST(RBTree, UniquenessRulesByFlags) {
  LxRBTree unique(sizeof(Elem), 0);
  Install(&unique);
  ASSERT_EQ(Insert(unique, 1, 1), 0);
  ASSERT_EQ(Insert(unique, 3, 1), 0);
  int destroys = TheCalls().destroys;
  EXPECT_EQ(Insert(unique, 1, 2), -512);         // equal key, other data: refused
  EXPECT_EQ(Insert(unique, 3, 1), -512);         // through the append shortcut
  EXPECT_EQ(TheCalls().destroys - destroys, 2);  // the copied elements are destroyed
  EXPECT_EQ(unique.GetDuplicateKeys(), 0);
  EXPECT_EQ(unique.GetCount(), 2u);
  EXPECT_EQ(unique.GetStamp(), 2u);

  LxRBTree keys(sizeof(Elem), 1);
  Install(&keys);
  ASSERT_EQ(Insert(keys, 1, 1), 0);
  ASSERT_EQ(Insert(keys, 1, 2), 0);
  EXPECT_EQ(keys.GetDuplicateKeys(), 1);
  EXPECT_EQ(Insert(keys, 1, 2), -512);  // identical entry
  EXPECT_EQ(keys.CheckTree(nullptr), 0);

  LxRBTree all(sizeof(Elem), 2);
  Install(&all);
  ASSERT_EQ(Insert(all, 1, 1), 0);  // serial 1
  EXPECT_EQ(all.GetDuplicateKeys(), 0);
  ASSERT_EQ(Insert(all, 1, 1), 0);          // serial 2, after serial 1
  ASSERT_EQ(Insert(all, 1, 1, 0x0004), 0);  // serial 3, before both
  ASSERT_EQ(Insert(all, 1, 1), 0);          // serial 4, at the end
  ASSERT_EQ(Insert(all, 0, 0), 0);          // serial 5
  EXPECT_EQ(all.GetDuplicateKeys(), 1);
  EXPECT_EQ(Serials(all), std::vector<int32_t>({5, 3, 1, 2, 4}));
  EXPECT_EQ(all.CheckTree(nullptr), 0);
}

TEST(RBTree, RemovingTheGreatestKeepsGreatestRight) {
  for (unsigned short mode : {0, 0x0010}) {
    SCOPED_TRACE(mode);
    LxRBTree tree(sizeof(Elem));
    Install(&tree);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(Insert(tree, i * 2, 0), 0);
    for (int i = 19; i >= 10; --i) {
      Source src(i * 2, 0);
      ASSERT_EQ(tree.DeleteElement(src.get(), nullptr, mode, nullptr), 0);
      ASSERT_EQ(tree.CheckTree(nullptr), 0);
      EXPECT_EQ(GreatestElem(tree)->key, (i - 1) * 2);
    }
    ASSERT_EQ(Insert(tree, 19, 0), 0);  // ascends past the new greatest
    EXPECT_EQ(GreatestElem(tree)->key, 19);
    EXPECT_EQ(Keys(tree).back(), 19);
    // Remove the greatest while it has a left child, through its exact node.
    ASSERT_EQ(Insert(tree, 17, 0), 0);
    ASSERT_EQ(tree.DeleteEntry(tree.GetGreatest(), mode, nullptr), 0);
    EXPECT_EQ(GreatestElem(tree)->key, 18);
    EXPECT_EQ(tree.CheckTree(nullptr), 0);
  }
}

TEST(RBTree, RemovingTheOnlyNodeEmptiesTheTree) {
  LxRBTree tree(sizeof(Elem));
  Install(&tree);
  ASSERT_EQ(Insert(tree, 7, 0), 0);
  Source src(7, 0);
  ASSERT_EQ(tree.DeleteElement(src.get(), nullptr, 0, nullptr), 0);
  EXPECT_EQ(TheCalls().destroys, 1);
  EXPECT_EQ(tree.GetRoot(), nullptr);
  EXPECT_EQ(tree.GetGreatest(), nullptr);
  EXPECT_EQ(tree.GetCount(), 0u);
  EXPECT_EQ(tree.GetStamp(), 2u);
  EXPECT_EQ(tree.DeleteElement(src.get(), nullptr, 0, nullptr), -510);
  EXPECT_EQ(tree.GetStamp(), 2u);
}

TEST(RBTree, DeleteEntryRemovesThatVeryNode) {
  LxRBTree tree(sizeof(Elem), 2);
  Install(&tree);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Insert(tree, 4, 4), 0);  // serials 1..5, identical
  ASSERT_EQ(Insert(tree, 1, 0), 0);
  ASSERT_EQ(Insert(tree, 9, 0), 0);
  const std::pair<int32_t, unsigned short> victims[] = {{3, 0x0010}, {5, 0}, {1, 0x0010}};
  for (auto [serial, mode] : victims) {
    const void* node = static_cast<const char*>(TheCalls().live.at(serial)) - LxRBTreeNode::kHeaderSize;
    ASSERT_EQ(tree.DeleteEntry(node, mode, nullptr), 0);
    EXPECT_EQ(TheCalls().live.count(serial), 0u);
    ASSERT_EQ(tree.CheckTree(nullptr), 0);
  }
  EXPECT_EQ(Serials(tree), std::vector<int32_t>({6, 2, 4, 7}));
  // A node that is no longer in the tree: freshly handed out, not linked.
  int s = 0;
  void* loose = tree.CreateEntry(s);
  ASSERT_NE(loose, nullptr);
  *static_cast<Elem*>(const_cast<void*>(tree.GetElementOfEntry(loose))) = Elem{4, 4, 99};
  EXPECT_EQ(tree.DeleteEntry(loose, 0, nullptr), -510);
  EXPECT_EQ(tree.GetCount(), 4u);
}

TEST(RBTree, SearchModesPositionTheResult) {
  // 10/0, fifteen entries of key 20 with data 1..15, and 30/0, inserted in ascending
  // order. The shape decides where a failed search stops: root 20/3, whose left child
  // 20/1 holds 10/0 and 20/2, and whose right spine runs 20/7, 20/11, 20/13, 20/15, 30/0.
  LxRBTree tree(sizeof(Elem), LX_CONTAINER_EQUAL_KEYS);
  Install(&tree);
  ASSERT_EQ(Insert(tree, 10, 0), 0);
  for (int d = 1; d <= 15; ++d) ASSERT_EQ(Insert(tree, 20, d), 0);
  ASSERT_EQ(Insert(tree, 30, 0), 0);
  LxRBTreeIterator it(&tree, nullptr);
  LxRBTreeParameter named;  // for LX_MODE_STEP_PAST: the root, 20/3
  named.entry = tree.GetRoot();
  constexpr int kKeyOnly = -1;
  struct Case {
    int key, data;
    unsigned short mode;
    int failAt;  // the n-th comparison of the search fails (0: none)
    int ret, status, atKey, atData;
  };
  for (const Case& c : std::vector<Case>{
           {20, kKeyOnly, 0, 0, 0, 0, 20, 1},
           {20, kKeyOnly, 0x0010, 0, 0, 0, 20, 15},
           {20, 9, 0, 0, 0, 0, 20, 9},
           {15, 0, 0x0040, 0, -510, 0, 20, 1},
           {15, 0, 0x0020, 0, -510, 0, 10, 0},
           {15, 0, 0x0060, 0, -510, 0, 20, 1},
           {35, 0, 0x0040, 0, -510, -522, 0, 0},
           {5, 0, 0x0020, 0, -510, -521, 0, 0},
           {35, 0, 0x0020, 0, -510, 0, 30, 0},
           {5, 0, 0x0040, 0, -510, 0, 10, 0},
           {15, 0, 0, 0, -510, -523, 0, 0},
           {15, 0, 0x0100, 0, -510, -522, 0, 0},
           {20, kKeyOnly, 0x0100, 0, 0, 0, 30, 0},
           // A failing comparison: the result stands where the descent stopped, or
           // inside the run of matches on the best match so far.
           {15, 0, 0x0040, 2, -777, 0, 20, 1},
           {20, kKeyOnly, 0, 1, -777, 0, 20, 3},
           {20, kKeyOnly, 0, 2, -777, 0, 20, 3},
           {20, kKeyOnly, 0, 3, -777, 0, 20, 1},
           {20, kKeyOnly, 0x0010, 4, -777, 0, 20, 11},
           {20, kKeyOnly, 0x0100, 2, -777, 0, 20, 3},
       }) {
    SCOPED_TRACE(testing::Message() << c.key << "/" << c.data << " mode " << c.mode << " fail " << c.failAt);
    std::unique_ptr<Source> src(c.data == kKeyOnly ? new Source(c.key) : new Source(c.key, c.data));
    if (c.failAt != 0) TheCalls().failCompareAt = TheCalls().compares + c.failAt;
    EXPECT_EQ(tree.SearchElement(src->get(), nullptr, c.mode, &named, &it), c.ret);
    EXPECT_EQ(it.GetStatus(), c.status);
    if (c.status == 0) {
      ASSERT_NE(At(it), nullptr);
      EXPECT_EQ(At(it)->key, c.atKey);
      EXPECT_EQ(At(it)->data, c.atData);
    }
    if (c.failAt != 0) TheCalls().failCompareAt = TheCalls().compares + c.failAt;
    EXPECT_EQ(tree.SearchElement(src->get(), nullptr, c.mode, &named, nullptr), c.ret);
    TheCalls().failCompareAt = 0;
  }
  // The neighbours can be walked from a miss.
  Source src(15, 0);
  ASSERT_EQ(tree.SearchElement(src.get(), nullptr, 0x0040, nullptr, &it), -510);
  EXPECT_EQ(it.Next(), 0);
  EXPECT_EQ(At(it)->data, 2);
  EXPECT_EQ(it.Prior(), 0);
  EXPECT_EQ(it.Prior(), 0);
  EXPECT_EQ(At(it)->key, 10);
  // The result must be a tree iterator on this tree.
  LxRBTree other(sizeof(Elem));
  LxRBTreeIterator foreign(&other, nullptr);
  EXPECT_EQ(tree.SearchElement(src.get(), nullptr, 0, nullptr, &foreign), -2099);
  // A source that stands on nothing hands its status back.
  LxOneEntryContainer empty(nullptr, nullptr, 0);
  LxOneEntryIterator none(&empty, nullptr);
  EXPECT_EQ(tree.SearchElement(&none, nullptr, 0, nullptr, &it), -521);
  EXPECT_EQ(tree.InsertElement(&none, nullptr, 0, nullptr), -521);
  EXPECT_EQ(tree.DeleteElement(&none, nullptr, 0, nullptr), -521);
}

TEST(RBTree, IdenticalEntriesFirstLastAndStepPast) {
  LxRBTree tree(sizeof(Elem), 2);
  Install(&tree);
  ASSERT_EQ(Insert(tree, 1, 0), 0);                              // serial 1
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Insert(tree, 5, 5), 0);  // serials 2, 3, 4
  ASSERT_EQ(Insert(tree, 9, 0), 0);                              // serial 5
  LxRBTreeIterator it(&tree, nullptr);
  Source src(5, 5);
  ASSERT_EQ(tree.SearchElement(src.get(), nullptr, 0, nullptr, &it), 0);
  EXPECT_EQ(At(it)->serial, 2);
  ASSERT_EQ(tree.SearchElement(src.get(), nullptr, 0x0010, nullptr, &it), 0);
  EXPECT_EQ(At(it)->serial, 4);
  // The parameter names an entry of the run: the result stands past the run.
  LxRBTreeParameter p;
  p.entry = static_cast<const char*>(TheCalls().live.at(3)) - LxRBTreeNode::kHeaderSize;
  ASSERT_EQ(tree.SearchElement(src.get(), nullptr, 0x0100, &p, &it), 0);
  EXPECT_EQ(At(it)->serial, 5);
  Source last(9, 0);
  p.entry = static_cast<const char*>(TheCalls().live.at(5)) - LxRBTreeNode::kHeaderSize;
  ASSERT_EQ(tree.SearchElement(last.get(), nullptr, 0x0100, &p, &it), 0);
  EXPECT_EQ(it.GetStatus(), -522);
  // Deleting through the tree takes the first, or with 0x0010 the last.
  ASSERT_EQ(tree.DeleteElement(src.get(), nullptr, 0, nullptr), 0);
  ASSERT_EQ(tree.DeleteElement(src.get(), nullptr, 0x0010, nullptr), 0);
  EXPECT_EQ(Serials(tree), std::vector<int32_t>({1, 3, 5}));
}

TEST(RBTree, KeyOnlySourceMatchesEveryEntryWithItsKey) {
  LxRBTree tree(sizeof(Elem), 1);
  Install(&tree);
  for (int d : {3, 1, 2}) ASSERT_EQ(Insert(tree, 7, d), 0);
  ASSERT_EQ(Insert(tree, 8, 0), 0);
  LxRBTreeIterator it(&tree, nullptr);
  Source key(7);  // no data part: -519 is not a failure
  ASSERT_EQ(tree.SearchElement(key.get(), nullptr, 0, nullptr, &it), 0);
  EXPECT_EQ(At(it)->data, 1);
  ASSERT_EQ(tree.SearchElement(key.get(), nullptr, 0x0010, nullptr, &it), 0);
  EXPECT_EQ(At(it)->data, 3);
  // Insertion from a source without data inserts with null data.
  LxRBTree plain(sizeof(Elem));
  Install(&plain);
  ASSERT_EQ(plain.InsertElement(key.get(), nullptr, 0, nullptr), 0);
  ASSERT_NE(plain.GetRoot(), nullptr);
  EXPECT_EQ(static_cast<const Elem*>(plain.GetElementOfEntry(plain.GetRoot()))->data, 0);
}

TEST(RBTreeIterator, StateTableOnAnEmptyTree) {
  LxRBTree tree(sizeof(Elem));
  Install(&tree);
  LxRBTreeIterator it(&tree, nullptr);
  EXPECT_EQ(it.GetType(), 1);
  EXPECT_EQ(it.GetStatus(), -521);
  EXPECT_EQ(it.First(), -521);
  EXPECT_EQ(it.Last(), -522);
  LxRBTreeIterator n(&tree, nullptr);
  EXPECT_EQ(n.Next(), -522);
  LxRBTreeIterator p(&tree, nullptr);
  EXPECT_EQ(p.Prior(), -521);
  EXPECT_EQ(p.DeleteElement(0, nullptr), -521);
  LxRBTreeIterator unbound(nullptr, nullptr);
  EXPECT_EQ(unbound.GetStatus(), -520);
  EXPECT_EQ(unbound.First(), -520);
  EXPECT_EQ(unbound.Last(), -520);
  EXPECT_EQ(unbound.Next(), -520);
  EXPECT_EQ(unbound.Prior(), -520);
  int s = 0;
  EXPECT_EQ(unbound.GetEntry(s, nullptr), nullptr);
  EXPECT_EQ(s, -520);
}

TEST(RBTreeIterator, WalksAndStaleness) {
  LxRBTree tree(sizeof(Elem));
  Install(&tree);
  std::vector<int32_t> want;
  for (int i = 0; i < 100; ++i) {
    int k = (i * 37) % 100;
    ASSERT_EQ(Insert(tree, k, 0), 0);
  }
  for (int i = 0; i < 100; ++i) want.push_back(i);
  EXPECT_EQ(Keys(tree), want);
  std::vector<int32_t> down(want.rbegin(), want.rend());
  EXPECT_EQ(Keys(tree, true), down);

  LxVIterator* it = tree.CreateIterator(nullptr);
  ASSERT_NE(it, nullptr);
  EXPECT_EQ(it->GetStatus(), -521);
  while (it->Next() == 0) {
  }
  EXPECT_EQ(it->GetStatus(), -522);
  EXPECT_EQ(it->Next(), -522);
  EXPECT_EQ(it->Prior(), 0);  // back to the last entry
  EXPECT_EQ(At(*it)->key, 99);

  // Another party changes the tree: the iterator is stale.
  ASSERT_EQ(Insert(tree, 500, 0), 0);
  int s = 0;
  EXPECT_EQ(it->GetEntry(s, nullptr), nullptr);
  EXPECT_EQ(s, -513);
  EXPECT_EQ(it->GetStatus(), 0);
  EXPECT_EQ(it->DeleteElement(0, nullptr), -513);
  EXPECT_EQ(it->GetStatus(), 0);
  EXPECT_EQ(it->Next(), -513);
  EXPECT_EQ(it->GetStatus(), -523);
  EXPECT_EQ(it->Next(), -523);
  EXPECT_EQ(it->Prior(), -523);
  EXPECT_EQ(it->GetEntry(s, nullptr), nullptr);
  EXPECT_EQ(s, -523);
  EXPECT_EQ(it->Last(), 0);
  EXPECT_EQ(At(*it)->key, 500);

  // Clones: a new one, and one into an existing tree iterator.
  LxVIterator* copy = it->Clone(nullptr);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Prior(), 0);
  EXPECT_EQ(At(*copy)->key, 99);
  EXPECT_EQ(At(*it)->key, 500);
  LxRBTreeIterator target(&tree, nullptr);
  EXPECT_EQ(copy->Clone(&target), &target);
  EXPECT_EQ(At(target)->key, 99);
  LxOneEntryContainer oc(nullptr, nullptr, 0);
  LxOneEntryIterator notTree(&oc, nullptr);
  EXPECT_EQ(copy->Clone(&notTree), nullptr);
  EXPECT_EQ(notTree.GetStatus(), -521);
  LxRBTreeIterator unboundTarget(nullptr, nullptr);
  EXPECT_EQ(copy->Clone(&unboundTarget), nullptr);
  delete copy;
  delete it;
}

TEST(RBTreeIterator, DeleteAtThePosition) {
  LxRBTree tree(sizeof(Elem));
  Install(&tree);
  for (int i = 1; i <= 9; ++i) ASSERT_EQ(Insert(tree, i, 0), 0);
  LxRBTreeIterator it(&tree, nullptr);

  ASSERT_EQ(it.Last(), 0);
  EXPECT_EQ(it.DeleteElement(0, nullptr), -522);  // at the last: nothing after
  EXPECT_EQ(it.GetStatus(), -522);
  ASSERT_EQ(it.First(), 0);
  EXPECT_EQ(it.DeleteElement(0x0001, nullptr), -521);  // at the first, backward
  EXPECT_EQ(Keys(tree), std::vector<int32_t>({2, 3, 4, 5, 6, 7, 8}));

  Source five(5, 0);
  ASSERT_EQ(tree.SearchElement(five.get(), nullptr, 0, nullptr, &it), 0);
  EXPECT_EQ(it.DeleteElement(0, nullptr), 0);
  EXPECT_EQ(At(it)->key, 6);  // on the next entry, and fresh
  EXPECT_EQ(it.DeleteElement(0x0001, nullptr), 0);
  EXPECT_EQ(At(it)->key, 4);  // on the previous one
  EXPECT_EQ(it.Next(), 0);
  EXPECT_EQ(At(it)->key, 7);
  EXPECT_EQ(Keys(tree), std::vector<int32_t>({2, 3, 4, 7, 8}));
  EXPECT_EQ(tree.CheckTree(nullptr), 0);
  EXPECT_EQ(TheCalls().destroys, 4);
}

TEST(RBTree, ClearKeepsStampAndReusesNodes) {
  LxRBTree tree(sizeof(Elem), 1, 8);
  Install(&tree);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(Insert(tree, i % 10, i), 0);
  EXPECT_EQ(tree.GetDuplicateKeys(), 1);
  uint32_t stamp = tree.GetStamp();
  uint32_t blocks = tree.GetEntryCache().CountBlocks();
  uint32_t former = 0;
  EXPECT_EQ(tree.Clear(nullptr, &former, nullptr), 0);
  EXPECT_EQ(former, 50u);
  EXPECT_EQ(tree.GetCount(), 0u);
  EXPECT_EQ(TheCalls().destroys, 50);
  EXPECT_TRUE(TheCalls().live.empty());
  EXPECT_EQ(tree.GetStamp(), stamp);
  EXPECT_EQ(tree.GetRoot(), nullptr);
  EXPECT_EQ(tree.GetGreatest(), nullptr);
  EXPECT_EQ(tree.GetDuplicateKeys(), 0);
  EXPECT_EQ(tree.CheckTree(nullptr), 0);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(Insert(tree, i, 0), 0);
  EXPECT_EQ(tree.GetEntryCache().CountBlocks(), blocks);  // no new memory
  EXPECT_EQ(tree.Clear(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(tree.Clear(nullptr, nullptr, nullptr), 0);  // on an empty tree
  EXPECT_EQ(TheCalls().destroys, 100);
}

TEST(RBTree, DestructionDestroysEveryElement) {
  {
    LxRBTree tree(sizeof(Elem));
    Install(&tree);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(Insert(tree, i, 0), 0);
    tree.OutTree(nullptr);
    EXPECT_EQ(tree.GetCount(), 40u);
  }
  EXPECT_EQ(TheCalls().destroys, 40);
  EXPECT_TRUE(TheCalls().live.empty());
}

TEST(RBTree, CheckTreeFindings) {
  TreeProbe tree(sizeof(Elem));
  Install(&tree);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(Insert(tree, i, 0), 0);
  ASSERT_EQ(tree.CheckTree(nullptr), 0);

  tree.SetCount(11);
  EXPECT_EQ(tree.CheckTree(nullptr), -5);
  tree.SetCount(10);

  LxRBTreeNode* root = tree.Root();
  root->SetRed();
  EXPECT_EQ(tree.CheckTree(nullptr), -1);
  root->SetBlack();

  // Swap two keys: the order breaks.
  Elem* a = static_cast<Elem*>(root->Element());
  int32_t saved = a->key;
  a->key = 100;
  EXPECT_EQ(tree.CheckTree(nullptr), -4);
  a->key = saved;

  // A black leaf turned red under a red parent, or colours that unbalance heights.
  LxRBTreeNode* leaf = root;
  while (leaf->Left() != nullptr) leaf = leaf->Left();
  bool wasRed = leaf->IsRed();
  if (wasRed)
    leaf->SetBlack();
  else
    leaf->SetRed();
  int finding = tree.CheckTree(nullptr);
  EXPECT_TRUE(finding == -2 || finding == -3) << finding;
  if (wasRed)
    leaf->SetRed();
  else
    leaf->SetBlack();
  EXPECT_EQ(tree.CheckTree(nullptr), 0);

  TheCalls().failKeyAt = TheCalls().keys + 1;
  EXPECT_EQ(tree.CheckTree(nullptr), -777);
}

TEST(RBTree, CheckTreeRedRedAndHeights) {
  // Hand-built shapes over nodes from the tree's own cache.
  TreeProbe tree(sizeof(Elem));
  Install(&tree);
  ASSERT_EQ(Insert(tree, 2, 0), 0);
  ASSERT_EQ(Insert(tree, 1, 0), 0);  // red left child of the black root
  ASSERT_EQ(tree.CheckTree(nullptr), 0);
  LxRBTreeNode* left = tree.Root()->Left();
  int s = 0;
  LxRBTreeNode* extra = static_cast<LxRBTreeNode*>(tree.CreateEntry(s));
  *static_cast<Elem*>(extra->Element()) = Elem{0, 0, 0};
  left->SetLeft(extra);  // red under red
  tree.SetCount(3);
  EXPECT_EQ(tree.CheckTree(nullptr), -2);
  extra->SetBlack();  // now the root's left side is one black node higher
  EXPECT_EQ(tree.CheckTree(nullptr), -3);
  left->SetLeft(nullptr);
  tree.SetCount(2);
  EXPECT_EQ(tree.CheckTree(nullptr), 0);
}

TEST(RBTree, CreateEntryAndInsertEntry) {
  LxRBTree tree(sizeof(Elem));
  Install(&tree);
  int s = 0;
  void* n = tree.CreateEntry(s);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(static_cast<LxRBTreeNode*>(n)->left, 1u);
  EXPECT_EQ(static_cast<LxRBTreeNode*>(n)->right, nullptr);
  *static_cast<Elem*>(const_cast<void*>(tree.GetElementOfEntry(n))) = Elem{3, 0, 0};
  EXPECT_EQ(tree.InsertEntry(n, 0, nullptr), 0);
  void* dup = tree.CreateEntry(s);
  *static_cast<Elem*>(const_cast<void*>(tree.GetElementOfEntry(dup))) = Elem{3, 0, 0};
  EXPECT_EQ(tree.InsertEntry(dup, 0, nullptr), -512);
  EXPECT_EQ(tree.CreateEntry(s), dup);  // recycled
}

}  // namespace
}  // namespace containers_test

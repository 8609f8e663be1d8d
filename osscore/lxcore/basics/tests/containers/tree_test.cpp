// The red-black tree and its iterator where tests/fuzz/fuzz_rbtree.cpp's model
// does not reach: failed searches on a tree of known shape, loose nodes,
// staleness and clones, the self-check's findings, missing callbacks.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "../fuzz/tree_elements.h"

namespace lxtest {
namespace {

using namespace lxtree;
using Codes = std::vector<int>;
constexpr int kFail = Failure(kCompare);

const Elem* At(const LxVIterator& it) {
  int s = 0;
  const void* e = it.GetElement(s, nullptr);
  return s == 0 ? static_cast<const Elem*>(e) : nullptr;
}

TEST(RBTree, FailedComparisonsPositionTheResult) {
  // 10/0, fifteen entries of key 20 with data 1..15, and 30/0, inserted in ascending
  // order. The shape decides where a failed search stops: root 20/3, whose left child
  // 20/1 holds 10/0 and 20/2, and whose right spine runs 20/7, 20/11, 20/13, 20/15, 30/0.
  Tree tree(LX_CONTAINER_EQUAL_KEYS);
  ASSERT_EQ(tree.Insert(10, 0), 0);
  for (int d = 1; d <= 15; ++d) ASSERT_EQ(tree.Insert(20, d), 0);
  ASSERT_EQ(tree.Insert(30, 0), 0);
  LxRBTreeIterator it(&tree, nullptr);
  LxRBTreeParameter named;  // for LX_MODE_STEP_PAST: the root, 20/3
  named.entry = tree.GetRoot();
  // The n-th comparison of each search fails: the result then stands where the
  // descent stopped, or inside the run of matches on the best match so far. (The
  // searches that succeed or miss are checked by the tree's fuzz model.)
  const struct {
    int key, data;
    unsigned short mode;
    int failAt, atKey, atData;
  } cases[] = {{15, 0, LX_MODE_LEAST_AFTER, 2, 20, 1},
               {20, kKeyOnly, 0, 1, 20, 3},
               {20, kKeyOnly, 0, 2, 20, 3},
               {20, kKeyOnly, 0, 3, 20, 1},
               {20, kKeyOnly, LX_MODE_LAST_MATCH, 4, 20, 11},
               {20, kKeyOnly, LX_MODE_STEP_PAST, 2, 20, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.key << "/" << c.data << " mode " << c.mode << " fail " << c.failAt);
    Source src(c.key, c.data);
    g.FailIn(kCompare, c.failAt);
    EXPECT_EQ(tree.SearchElement(&src.it, nullptr, c.mode, &named, &it), kFail);
    EXPECT_TRUE(it.GetStatus() == 0 && At(it) && At(it)->key == c.atKey && At(it)->data == c.atData);
    g.Disarm();
  }
  // The result must be a tree iterator on this tree; a source on nothing hands its status back.
  Source src(15, 0);
  LxRBTree other(sizeof(Elem));
  LxRBTreeIterator foreign(&other, nullptr);
  EXPECT_EQ(tree.SearchElement(&src.it, nullptr, 0, nullptr, &foreign), LX_CONTAINER_INTERNAL);
  LxOneEntryContainer empty(nullptr, nullptr, 0);
  LxOneEntryIterator none(&empty, nullptr);
  EXPECT_EQ(tree.SearchElement(&none, nullptr, 0, nullptr, &it), LX_CONTAINER_BEFORE_FIRST);
  EXPECT_EQ(tree.InsertElement(&none, nullptr, 0, nullptr), LX_CONTAINER_BEFORE_FIRST);
  EXPECT_EQ(tree.DeleteElement(&none, nullptr, 0, nullptr), LX_CONTAINER_BEFORE_FIRST);
}

TEST(RBTree, NodesThatAreNotInTheTree) {
  // A cache node equal to entries of the tree, and none.
  Tree tree(LX_CONTAINER_EQUAL_ENTRIES);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(tree.Insert(4, 4), 0);
  LxRBTreeNode* loose = tree.Loose(4);
  static_cast<Elem*>(loose->Element())->data = 4;
  EXPECT_EQ(tree.DeleteEntry(loose, 0, nullptr), LX_CONTAINER_NOT_FOUND);
  EXPECT_EQ(tree.DeleteEntry(nullptr, 0, nullptr), LX_CONTAINER_NOT_FOUND);
  // A caller's node links like any other; an equal one in a tree of unique keys goes back to the cache.
  Tree unique;
  ASSERT_EQ(unique.InsertEntry(unique.Loose(3), 0, nullptr), 0);
  LxRBTreeNode* twin = unique.Loose(3);
  EXPECT_EQ(unique.DeleteEntry(twin, 0, nullptr), LX_CONTAINER_NOT_FOUND);
  EXPECT_EQ(unique.InsertEntry(twin, 0, nullptr), LX_CONTAINER_EXISTS);
  EXPECT_TRUE(unique.Loose(3) == twin && unique.GetCount() == 1);
  // A cache whose blocks it cannot address yields no node.
  Tree unfit(0, 1u << 28);
  int s = 0;
  EXPECT_TRUE(unfit.CreateEntry(s) == nullptr && s == LX_CONTAINER_OUT_OF_MEMORY);
  EXPECT_EQ(unfit.Insert(1, 0), LX_CONTAINER_OUT_OF_MEMORY);
}

TEST(RBTreeIterator, WalksBothWaysClonesAndRefusesWhenStale) {
  // The positioning operations from the start, on an empty tree and unbound.
  LxRBTree empty(sizeof(Elem));
  int s = 0;
  const std::pair<int (LxVIterator::*)(), int> starts[] = {{&LxVIterator::First, LX_CONTAINER_BEFORE_FIRST},
                                                           {&LxVIterator::Last, LX_CONTAINER_BEHIND_LAST},
                                                           {&LxVIterator::Next, LX_CONTAINER_BEHIND_LAST},
                                                           {&LxVIterator::Prior, LX_CONTAINER_BEFORE_FIRST}};
  for (LxRBTree* t : {&empty, static_cast<LxRBTree*>(nullptr)}) {
    for (auto [op, want] : starts) {
      LxRBTreeIterator it(t, nullptr);
      EXPECT_EQ((it.*op)(), t ? want : LX_CONTAINER_UNBOUND);
      EXPECT_EQ(it.DeleteElement(0, nullptr), it.GetStatus());
      EXPECT_TRUE(it.GetEntry(s, nullptr) == nullptr && s == it.GetStatus());
    }
  }

  Tree tree;
  for (int i = 0; i < 100; ++i) ASSERT_EQ(tree.Insert((i * 37) % 100, 0), 0);
  LxVIterator* it = tree.CreateIterator(nullptr);
  ASSERT_NE(it, nullptr);
  EXPECT_EQ((Codes{it->GetType(), it->Last(), At(*it)->key}), (Codes{1, 0, 99}));
  // Another party changes the tree: the iterator is stale until First or Last.
  ASSERT_EQ(tree.Insert(500, 0), 0);
  EXPECT_TRUE(it->GetEntry(s, nullptr) == nullptr && s == LX_CONTAINER_CHANGED);
  constexpr int kChanged = LX_CONTAINER_CHANGED, kLost = LX_CONTAINER_POSITION_LOST;
  EXPECT_EQ((Codes{it->DeleteElement(0, nullptr), it->GetStatus(), it->Prior(), it->GetStatus(), it->Next(),
                   it->Last(), At(*it)->key}),
            (Codes{kChanged, 0, kChanged, kLost, kLost, 0, 500}));
  // Clones: a new one, one into a tree iterator, and none into another kind or an unbound one.
  LxVIterator* copy = it->Clone(nullptr);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ((Codes{copy->Prior(), At(*copy)->key, At(*it)->key}), (Codes{0, 99, 500}));
  LxRBTreeIterator target(&tree, nullptr), unbound(nullptr, nullptr);
  EXPECT_TRUE(copy->Clone(&target) == &target && At(target)->key == 99);
  LxOneEntryContainer oc(nullptr, nullptr, 0);
  LxOneEntryIterator notTree(&oc, nullptr);
  EXPECT_EQ(copy->Clone(&notTree), nullptr);
  EXPECT_EQ(copy->Clone(&unbound), nullptr);
  delete copy;
  delete it;
}

TEST(RBTree, ClearKeepsTheBlocksAndLargeTreesPrefetch) {
  {
    Tree tree(LX_CONTAINER_EQUAL_KEYS, 8);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(tree.Insert(i % 10, i), 0);
    const uint32_t blocks = tree.GetEntryCache().CountBlocks();
    EXPECT_EQ(tree.GetDuplicateKeys(), 1);
    EXPECT_TRUE(tree.Clear(nullptr, nullptr, nullptr) == 0 && tree.GetDuplicateKeys() == 0);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(tree.Insert(i, 0), 0);
    EXPECT_EQ(tree.GetEntryCache().CountBlocks(), blocks);  // no new memory
    tree.OutTree(nullptr);
    EXPECT_EQ(tree.CheckTree(nullptr), 0);
  }
  // A tree larger than the core's caches: its descents prefetch.
  Tree large;
  for (int32_t i = 0; i < 20000; ++i) ASSERT_EQ(large.Insert(i * 7919 % 20000, 0), 0);
  Source src(4711, 0);
  EXPECT_TRUE(large.SearchElement(&src.it, nullptr, 0, nullptr, nullptr) == 0 &&
              large.CheckTree(nullptr) == 0);
  EXPECT_EQ(large.Clear(nullptr, nullptr, nullptr), 0);
}

TEST(RBTree, CheckTreeFindings) {
  // Black 2 with red children 1 and 3, tampered with.
  for (const auto& [finding, tamper] : std::vector<std::pair<int, std::function<void(Tree&)>>>{
           {0, [](Tree&) {}},
           {-1, [](Tree& t) { t.root->SetRed(); }},
           {-2, [](Tree& t) { t.root->Left()->SetLeft(t.Loose(0)), ++t.count; }},
           {-3,
            [](Tree& t) {
              t.root->Left()->SetLeft(t.Loose(0)), t.root->Left()->Left()->SetBlack(), ++t.count;
            }},
           {-4, [](Tree& t) { static_cast<Elem*>(t.root->Left()->Element())->key = 2; }},
           {-4, [](Tree& t) { static_cast<Elem*>(t.root->right->Element())->key = 0; }},
           {-5, [](Tree& t) { ++t.count; }},
           {Failure(kKey), [](Tree&) { g.FailIn(kKey, 1); }},
           {Failure(kData), [](Tree&) { g.FailIn(kData, 2); }},
           {kFail, [](Tree&) { g.FailIn(kCompare, 2); }},
           {LX_CONTAINER_NOT_IMPLEMENTED, [](Tree& t) { t.SetCompareFunc(nullptr); }},
       }) {
    Tree tree;
    for (int32_t key : {2, 1, 3}) ASSERT_EQ(tree.Insert(key, 0), 0);
    tamper(tree);
    EXPECT_EQ(tree.CheckTree(nullptr), finding);
  }
}

// Failing callbacks are the fuzz model's; here they are missing.
TEST(RBTree, MissingCallbacksChangeNothing) {
  Tree tree;
  for (int i = 0; i < 10; ++i) ASSERT_EQ(tree.Insert(i * 3, 0), 0);
  const uint32_t stamp = tree.GetStamp();
  Source src(4, 4);
  Codes codes;
  tree.SetKeyFunc(nullptr), codes.push_back(tree.InsertElement(&src.it, nullptr, 0, nullptr));
  tree.SetKeyFunc(View<kKey>), tree.SetDataFunc(nullptr),
      codes.push_back(tree.InsertElement(&src.it, nullptr, 0, nullptr));
  tree.SetDataFunc(View<kData>), tree.SetCompareFunc(nullptr);
  codes.push_back(tree.SearchElement(&src.it, nullptr, 0, nullptr, nullptr));
  codes.push_back(tree.InsertElement(&src.it, nullptr, 0, nullptr));
  tree.SetCompareFunc(Compare), tree.SetCopyFunc(nullptr),
      codes.push_back(tree.InsertElement(&src.it, nullptr, 0, nullptr));
  EXPECT_EQ(codes, Codes(5, LX_CONTAINER_NOT_IMPLEMENTED));
  EXPECT_TRUE(tree.GetStamp() == stamp && tree.GetCount() == 10 && g.live == 10 &&
              tree.CheckTree(nullptr) == 0);
}

}  // namespace
}  // namespace lxtest

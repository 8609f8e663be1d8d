// The abstract container and iterator, the one-entry container, and the
// allocators beneath the tree: entry cache, entry stack and node pool.
#include <gtest/gtest.h>
#include <lxcontainers.h>

#include <set>
#include <utility>
#include <vector>

namespace lxtest {
namespace {

using Codes = std::vector<int>;
constexpr int kNotImplemented = LX_CONTAINER_NOT_IMPLEMENTED;
constexpr int kViewError = -42;  // what FailingView reports

struct Rec {
  int key, data;
};

int g_views = 0;
const void* RecKey(LxVContainer*, const void* e, int* status, LxVParameter*) {
  return ++g_views, *status = 0, &static_cast<const Rec*>(e)->key;
}
const void* FailingView(LxVContainer*, const void*, int* status, LxVParameter*) {
  return *status = kViewError, nullptr;
}
uint32_t SevenFlags(LxVContainer*, const void*, int* status, LxVParameter*) {
  return ++g_views, *status = 0, 7;
}
// Orders keys; returns 5 when it was given no data, so that the caller can tell.
int RecCompare(LxVContainer*, int* keyOrder, int* entryOrder, const LxVIterator*, const void* key,
               const void* data, const void* element, LxVParameter*) {
  const int a = *static_cast<const int*>(key), b = static_cast<const Rec*>(element)->key;
  *keyOrder = *entryOrder = (a > b) - (a < b);
  return data == nullptr ? 5 : 0;
}

// An iterator standing on one fixed entry, or on none by its status.
struct FixedIterator : LxVIterator {
  FixedIterator(LxVContainer* c, const void* entry) : LxVIterator(nullptr, c), entry(entry) { status = 0; }
  const void* GetEntry(int& s, LxVParameter*) const override { return (s = status) < 0 ? nullptr : entry; }
  void Stand(int s) { status = s; }
  const void* entry;
};

TEST(ContainerBase, DefaultCallbacksAndOperationsNotProvided) {
  LxVContainer c(sizeof(Rec), LX_CONTAINER_EQUAL_KEYS);
  Rec r{5, 6}, copy{0, 0};
  int s = -1, keyOrder = 9, entryOrder = 9;
  EXPECT_EQ(c.GetKeyFunc()(&c, &r, &s, nullptr), &r);
  EXPECT_TRUE(c.GetDataFunc()(&c, &r, &s, nullptr) == nullptr && s == LX_CONTAINER_NO_DATA);
  EXPECT_EQ(c.GetFlagsFunc()(&c, &r, &s, nullptr), 1u);
  EXPECT_EQ(c.GetCompareFunc()(&c, &keyOrder, &entryOrder, nullptr, &r, nullptr, &r, nullptr), 0);
  EXPECT_EQ(keyOrder | entryOrder, 0);
  EXPECT_TRUE(c.GetCopyFunc()(&c, &copy, nullptr, &r, nullptr, nullptr) == 0 && copy.data == 6);
  EXPECT_TRUE(c.GetDestroyFunc() == nullptr && c.GetElementOfEntry(&r) == &r);
  LxVIterator it(nullptr, &c);
  EXPECT_EQ(
      (Codes{c.Clear(nullptr, nullptr, nullptr), c.SearchElement(nullptr, nullptr, 0, nullptr, nullptr),
             c.InsertElement(nullptr, nullptr, 0, nullptr), c.DeleteElement(nullptr, nullptr, 0, nullptr),
             it.First(), it.Next(), it.Prior(), it.Last(), it.SearchElement(nullptr, nullptr, 0, nullptr),
             it.InsertElement(nullptr, nullptr, 0, nullptr), it.UpdateElement(nullptr, nullptr, 0, nullptr),
             it.DeleteElement(0, nullptr), (it.GetEntry(s, nullptr), s)}),
      Codes(13, kNotImplemented));
  EXPECT_TRUE(!c.Clone(nullptr) && !c.CreateIterator(nullptr) && !it.Clone(nullptr));
  EXPECT_EQ(std::make_pair(int{c.GetType()}, int{it.GetType()}), std::make_pair(0, 0));
}

TEST(ContainerBase, IteratorsBindCopyAndUnbind) {
  auto* ctx = reinterpret_cast<LxTransactionContext*>(0x1234);
  LxVContainer c;
  LxVIterator unbound(ctx), nullBound(ctx, nullptr);
  EXPECT_EQ(std::make_pair(unbound.GetStatus(), nullBound.GetStatus()),
            std::make_pair(LX_CONTAINER_UNBOUND, LX_CONTAINER_UNBOUND));
  unbound = &c;
  EXPECT_EQ(unbound.GetStatus(), LX_CONTAINER_BEFORE_FIRST);
  Rec r{1, 2};
  FixedIterator a(&c, &r);
  LxVIterator b(a);
  a.Destroy();
  int s = 0;
  EXPECT_TRUE(!a.GetElement(s, nullptr) && s == LX_CONTAINER_UNBOUND && a.GetContainer() == nullptr);
  EXPECT_TRUE(b.GetStatus() == 0 && b.GetContainer() == &c);
  // Parameters copy the entry only.
  LxVParameter p, q;
  p.entry = &r, p.callerFlags = 5, q.callerFlags = 9, q = p;
  EXPECT_TRUE(q.entry == &r && q.callerFlags == 9 && LxVParameter(p).callerFlags == 0);
  EXPECT_EQ(std::make_pair(static_cast<const LxVParameter&>(LxRBTreeParameter()).GetType(), p.GetType()),
            std::make_pair(1, 0));
}

TEST(ContainerBase, EntryPartsAreTheRequestedOnesInOrder) {
  LxVContainer c(sizeof(Rec));
  c.SetKeyFunc(RecKey);
  c.SetFlagsFunc(SevenFlags);
  Rec r{3, 4};
  FixedIterator it(&c, &r);
  const void *element = nullptr, *key = nullptr, *data = &r;
  uint32_t flags = 0;
  g_views = 0;
  EXPECT_EQ(it.GetEntryParts(&r, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(it.GetEntryParts(&r, &element, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(element == &r && g_views == 0);
  EXPECT_EQ(it.GetEntryParts(&r, nullptr, &key, &data, &flags, nullptr), LX_CONTAINER_NO_DATA);
  EXPECT_TRUE(key == &r.key && data == nullptr && flags == 7);
  // A failing view ends the reading: later outputs stay untouched.
  data = &r;
  c.SetKeyFunc(FailingView);
  EXPECT_EQ(it.GetEntryParts(&r, nullptr, &key, &data, nullptr, nullptr), kViewError);
  EXPECT_EQ(data, &r);
  // Missing views.
  int s = 0;
  c.SetKeyFunc(nullptr), c.SetFlagsFunc(nullptr), c.SetDataFunc(nullptr);
  EXPECT_EQ(
      (Codes{it.GetEntryParts(&r, nullptr, &key, nullptr, nullptr, nullptr), (it.GetKey(s, nullptr), s),
             it.GetEntryParts(&r, nullptr, nullptr, nullptr, &flags, nullptr), (it.GetFlags(s, nullptr), s),
             it.GetEntryParts(&r, nullptr, nullptr, &data, nullptr, nullptr), (it.GetDat(s, nullptr), s)}),
      Codes(6, kNotImplemented));
  LxVIterator unbound(nullptr);
  EXPECT_EQ(unbound.GetEntryParts(&r, &element, &key, &data, &flags, nullptr), 0);
}

TEST(ContainerBase, CompareElementOrdersThisEntryAgainstTheOther) {
  LxVContainer c(sizeof(Rec));
  c.SetKeyFunc(RecKey);
  c.SetCompareFunc(RecCompare);
  Rec mine{10, 0};
  FixedIterator it(&c, &mine);
  int otherKey = 3, keyOrder = 0, entryOrder = 0;
  LxOneEntryContainer oc(&otherKey, nullptr, 0);
  LxOneEntryIterator other(&oc, nullptr);
  EXPECT_EQ(it.CompareElement(&other, nullptr, keyOrder, entryOrder, nullptr), 5);  // no data: passed as null
  EXPECT_EQ(std::make_pair(keyOrder, entryOrder), std::make_pair(1, 1));            // 10 sorts after 3
  keyOrder = entryOrder = 77;
  other.Prior();
  EXPECT_EQ(it.CompareElement(&other, nullptr, keyOrder, entryOrder, nullptr), LX_CONTAINER_BEFORE_FIRST);
  it.Stand(LX_CONTAINER_BEHIND_LAST);
  EXPECT_EQ(it.CompareElement(&other, nullptr, keyOrder, entryOrder, nullptr), LX_CONTAINER_BEHIND_LAST);
  EXPECT_EQ(std::make_pair(keyOrder, entryOrder), std::make_pair(77, 77));  // untouched
  it.Stand(0);
  EXPECT_EQ(it.CompareElement(nullptr, nullptr, keyOrder, entryOrder, nullptr), LX_CONTAINER_UNBOUND);
  other.Next();
  c.SetCompareFunc(nullptr);
  EXPECT_EQ(it.CompareElement(&other, nullptr, keyOrder, entryOrder, nullptr), kNotImplemented);
}

TEST(OneEntry, ContainerViewsAndSearch) {
  int key = 4, data = 5, s = -1;
  LxOneEntryContainer c(&key, &data, 0x30), noData(&key, nullptr, 0);
  LxOneEntryIterator it(&c, nullptr), result(&c, nullptr), nd(&noData, nullptr);
  EXPECT_EQ(std::make_pair(int{c.GetType()}, int{it.GetType()}), std::make_pair(4, 4));
  const std::vector<const void*> views = {it.GetEntry(s, nullptr), it.GetElement(s, nullptr),
                                          it.GetKey(s, nullptr), it.GetDat(s, nullptr)};
  EXPECT_EQ(views, (std::vector<const void*>{&key, &key, &key, &data}));
  EXPECT_TRUE(it.GetFlags(s, nullptr) == 0x30 && s == 0);
  EXPECT_EQ(c.SearchElement(&it, nullptr, LX_MODE_LEAST_AFTER, nullptr, &result), LX_CONTAINER_NOT_FOUND);
  EXPECT_EQ(c.SearchElement(&it, nullptr, 0, nullptr, nullptr), LX_CONTAINER_NOT_FOUND);
  EXPECT_EQ(result.GetKey(s, nullptr), nullptr);
  EXPECT_TRUE(result.GetDat(s, nullptr) == nullptr && s == LX_CONTAINER_BEHIND_LAST);
  EXPECT_TRUE(nd.GetDat(s, nullptr) == nullptr && s == LX_CONTAINER_NO_DATA);
}

// Every positioning operation from every state, on a container with its entry, an empty one, and none.
TEST(OneEntry, IteratorStateTable) {
  int key = 1;
  LxOneEntryContainer full(&key, nullptr, 0), empty(nullptr, nullptr, 0);
  struct Probe : LxOneEntryIterator {
    using LxOneEntryIterator::LxOneEntryIterator;
    void Set(int s) { status = s; }
  };
  constexpr int kBefore = LX_CONTAINER_BEFORE_FIRST, kBehind = LX_CONTAINER_BEHIND_LAST,
                kChanged = LX_CONTAINER_CHANGED, kUnbound = LX_CONTAINER_UNBOUND;
  const struct {
    LxOneEntryContainer* c;
    int from, first, last, next, prior;
  } cases[] = {{&full, kBefore, 0, 0, 0, kBefore},
               {&full, 0, 0, 0, kBehind, kBefore},
               {&full, kBehind, 0, 0, kBehind, 0},
               {&empty, kBefore, kBefore, kBehind, 0, kBefore},
               {&empty, kBehind, kBefore, kBehind, kBehind, 0},
               {&empty, kChanged, kBefore, kBehind, kChanged, kChanged},
               {nullptr, kUnbound, kUnbound, kUnbound, kUnbound, kUnbound}};
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << (k.c == &full ? "full" : "empty") << " from " << k.from);
    Probe it(k.c, nullptr);
    EXPECT_EQ(it.GetStatus(), k.c == &full ? 0 : k.c ? kBefore : kUnbound);
    Codes got;
    for (int (LxVIterator::*op)() :
         {&LxVIterator::First, &LxVIterator::Last, &LxVIterator::Next, &LxVIterator::Prior}) {
      it.Set(k.from);
      const int r = (it.*op)();
      got.push_back(r == it.GetStatus() ? r : 1);  // the result is the new status
    }
    EXPECT_EQ(got, (Codes{k.first, k.last, k.next, k.prior}));
  }
}

TEST(EntryCache, SizesBlocksAndReuse) {
  // The smallest entry is one pointer; automatic blocks carry at most 494 bytes.
  const struct {
    uint32_t size, perBlock;
    unsigned short align;
    uint32_t wantSize, wantPerBlock;
  } cases[] = {
      {1, 0, 0, 8, 61}, {10, 0, 4, 12, 41}, {600, 0, 4, 600, 1}, {13, 7, 8, 16, 7}, {9, 0, 1, 9, 54}};
  for (const auto& c : cases) {
    const LxEntryCache cache(c.size, c.perBlock, c.align), copy(cache);
    EXPECT_TRUE(copy.GetEntrySize() == c.wantSize &&
                copy.GetBlockSize() == sizeof(void*) + c.wantSize * c.wantPerBlock)
        << c.size;
  }
  // Entries come from the end of each block; single ones come back last in, first out.
  LxEntryCache cache(16, 4, 8);
  std::vector<char*> got;
  for (int i = 0; i < 5; ++i) got.push_back(static_cast<char*>(cache.GetEntry()));
  for (int i = 1; i < 4; ++i) EXPECT_EQ(got[i], got[i - 1] - 16) << i;
  EXPECT_EQ(cache.CountBlocks(), 2u);
  for (char* e : got) std::fill(e, e + 16, 'x');
  cache.UngetEntry(got[1]), cache.UngetEntry(got[3]);
  EXPECT_EQ((std::vector<void*>{cache.GetEntry(), cache.GetEntry()}), (std::vector<void*>{got[3], got[1]}));
  // Taking all back keeps the blocks for the next entries.
  cache.UngetAllEntries();
  EXPECT_EQ(cache.CountBlocks(), 2u);
  for (int i = 0; i < 8; ++i) cache.GetEntry();
  EXPECT_EQ(cache.CountBlocks(), 2u);
  cache.Init(32, 1, 0);  // clears first
  EXPECT_EQ(cache.CountBlocks(), 0u);
}

std::vector<int> g_entered, g_left;
char g_ring[3 * 4];
void Enter(LxTransactionContext*, char* e) { g_entered.push_back(static_cast<int>((e - g_ring) / 4)); }
void Leave(LxTransactionContext*, char* e) { g_left.push_back(static_cast<int>((e - g_ring) / 4)); }

// The window grows forwards, or backwards wrapping to the ring's end, and never over its other end.
TEST(EntryStack, WindowGrowsBothWaysAroundTheRing) {
  using Got = std::vector<char*>;
  g_entered.clear(), g_left.clear();
  {
    LxEntryStack s(nullptr, g_ring, 4, 3, Enter, Leave);
    EXPECT_EQ((Got{s.GetNextEntry(), s.GetNextEntry(), s.SetCurrentEntryWithTest(g_ring + 4),
                   s.GetNextEntry(), s.SetCurrentEntryWithTest(g_ring + 8), s.GetNextEntry()}),
              (Got{g_ring + 4, g_ring + 4, g_ring + 4, g_ring + 8, g_ring + 8, nullptr}));
    EXPECT_EQ(g_entered, std::vector<int>({0, 1, 2}));
  }
  EXPECT_EQ(g_left, std::vector<int>({0, 1, 2}));
  g_entered.clear(), g_left.clear();
  {
    LxEntryStack s(nullptr, g_ring, 4, 3, Enter, Leave);
    EXPECT_EQ(
        (Got{s.GetPrevEntry(), s.SetCurrentEntryWithTest(g_ring + 4), s.SetCurrentEntryWithTest(g_ring + 8),
             s.GetPrevEntry(), s.SetCurrentEntryWithTest(g_ring + 4), s.GetPrevEntry(),
             s.SetCurrentEntryWithTest(g_ring + 5)}),  // the last: inside, off the grid
        (Got{g_ring + 8, nullptr, g_ring + 8, g_ring + 4, g_ring + 4, nullptr, g_ring + 5}));
    EXPECT_EQ(g_entered, std::vector<int>({0, 2, 1}));
  }
  EXPECT_EQ(g_left, std::vector<int>({0, 1, 2}));  // a wrapped window: from the buffer start
  g_left.clear();
  LxEntryStack(nullptr, g_ring, 4, 3, Enter, Leave).GetPrevEntry();
  EXPECT_EQ(g_left, std::vector<int>({0, 2}));
  char one[4];
  LxEntryStack single(nullptr, one, 4, 1, nullptr, nullptr);
  EXPECT_TRUE(single.GetNextEntry() == nullptr && single.GetPrevEntry() == nullptr);
}

TEST(MemPool, BuffersNodesAndCounters) {
  LxMemPool pool(16);
  std::set<char*> nodes;
  for (int i = 0; i < 257; ++i) nodes.insert(static_cast<char*>(pool.GetNode()));
  // 256 nodes of 16 bytes each in a buffer
  EXPECT_EQ((std::vector<size_t>{nodes.size(), pool.GetBuffersAllocated(), pool.CountRemainingNodes()}),
            (std::vector<size_t>{257, 2, 255}));
  char *a = *nodes.begin(), *b = *nodes.rbegin();
  pool.PutNode(a), pool.PutNode(b);
  EXPECT_EQ(pool.CountFreeNodes(), 2u);
  EXPECT_EQ((std::vector<void*>{pool.GetNode(), pool.GetNode()}), (std::vector<void*>{b, a}));
  EXPECT_EQ(std::make_pair(pool.GetNodesGot(), pool.GetNodesPut()), std::make_pair(259u, 2u));
  pool.PutNode(a), pool.DeallocateBuffers();
  EXPECT_TRUE(pool.GetBuffersFreed() == 2 && pool.CountFreeNodes() == 0 && pool.CountRemainingNodes() == 0);
  EXPECT_NE(pool.GetNode(), nullptr);
  LxMemPool large(5000);  // a buffer per node
  EXPECT_TRUE(large.GetNode() != large.GetNode() && large.GetBuffersAllocated() == 2);
}

}  // namespace
}  // namespace lxtest

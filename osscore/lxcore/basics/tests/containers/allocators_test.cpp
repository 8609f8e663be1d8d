// The entry cache, the entry stack and the node pool.
#include <gtest/gtest.h>
#include <lxcontainers.h>
#include <lxtest.h>

#include <set>
#include <vector>

namespace {

// Reaches the cache's chains to tell which block an entry came from.
struct CacheProbe : LxEntryCache {
  using LxEntryCache::LxEntryCache;
  char* Newest() const { return blocks; }
  char* Spare() const { return spareBlocks; }
};

TEST(EntryCache, InitRoundsSizesAndChoosesBlockSize) {
  struct Case {
    uint32_t size, perBlock;
    unsigned short align;
    uint32_t wantSize, wantPerBlock;
  };
  // The smallest entry is one pointer; automatic blocks carry at most 494 bytes.
  for (const Case& c : std::vector<Case>{{1, 0, 0, 8, 61},
                                         {10, 0, 4, 12, 41},
                                         {600, 0, 4, 600, 1},
                                         {24, 0, 8, 24, 20},
                                         {13, 7, 8, 16, 7},
                                         {9, 0, 1, 9, 54}}) {
    LxEntryCache cache(c.size, c.perBlock, c.align);
    EXPECT_EQ(cache.GetEntrySize(), c.wantSize) << c.size;
    EXPECT_EQ(cache.GetEntriesPerBlock(), c.wantPerBlock) << c.size;
    EXPECT_EQ(cache.GetAlignment(), c.align);
  }
  LxEntryCache configured(10, 3, 4);
  ASSERT_NE(configured.GetEntry(), nullptr);
  LxEntryCache copy(configured);
  EXPECT_EQ(copy.GetEntrySize(), 12u);
  EXPECT_EQ(copy.GetEntriesPerBlock(), 3u);
  EXPECT_EQ(copy.CountBlocks(), 0u);  // no entries are copied
}

TEST(EntryCache, CarvesFromTheEndAndReusesLastReturnedFirst) {
  CacheProbe cache(16, 4, 8);
  std::vector<char*> got;
  for (int i = 0; i < 4; ++i) got.push_back(static_cast<char*>(cache.GetEntry()));
  char* block = cache.Newest();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i], block + sizeof(void*) + (3 - i) * 16) << i;
  char* fifth = static_cast<char*>(cache.GetEntry());
  EXPECT_NE(cache.Newest(), block);  // a new block was opened
  EXPECT_EQ(fifth, cache.Newest() + sizeof(void*) + 3 * 16);
  EXPECT_EQ(cache.CountBlocks(), 2u);

  cache.UngetEntry(got[1]);
  cache.UngetEntry(got[3]);
  EXPECT_EQ(cache.GetEntry(), got[3]);
  EXPECT_EQ(cache.GetEntry(), got[1]);
  // Entries are writable over their full size.
  for (char* e : got) std::fill(e, e + 16, 'x');
}

TEST(EntryCache, UngetAllKeepsBlocksAndClearFreesThem) {
  CacheProbe cache(8, 2, 0);
  std::set<void*> first;
  for (int i = 0; i < 6; ++i) first.insert(cache.GetEntry());
  EXPECT_EQ(cache.CountBlocks(), 3u);
  cache.UngetAllEntries();
  EXPECT_EQ(cache.Newest(), nullptr);
  EXPECT_NE(cache.Spare(), nullptr);
  EXPECT_EQ(cache.CountBlocks(), 3u);
  // The same memory comes back: no new block is allocated.
  for (int i = 0; i < 6; ++i) EXPECT_EQ(first.count(cache.GetEntry()), 1u);
  EXPECT_EQ(cache.CountBlocks(), 3u);
  cache.Clear();
  EXPECT_EQ(cache.CountBlocks(), 0u);
  EXPECT_NE(cache.GetEntry(), nullptr);
  EXPECT_EQ(cache.CountBlocks(), 1u);
  // Init on a cache holding entries clears it first.
  cache.Init(32, 1, 0);
  EXPECT_EQ(cache.CountBlocks(), 0u);
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(EntryCache, ExhaustedHeapGivesNull) {
  lxtest::ChildResult r = lxtest::RunWithMemoryLimit(64 << 20, [] {
    LxEntryCache cache(1 << 20, 1, 0);
    int got = 0;
    while (cache.GetEntry() != nullptr) ++got;
    if (got == 0 || got > 64) return 1;
    return cache.GetEntry() != nullptr ? 2 : 0;  // fails again, cleanly
  });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.code, 0) << r.err;
}
#endif

std::vector<int> g_entered, g_left;
char g_ring[3 * 4];
int Index(char* e) { return static_cast<int>((e - g_ring) / 4); }
void Enter(LxTransactionContext*, char* e) { g_entered.push_back(Index(e)); }
void Leave(LxTransactionContext*, char* e) { g_left.push_back(Index(e)); }

TEST(EntryStack, WindowGrowsUntilTheRingIsFull) {
  g_entered.clear();
  g_left.clear();
  {
    LxEntryStack s(nullptr, g_ring, 4, 3, Enter, Leave);
    EXPECT_EQ(g_entered, std::vector<int>({0}));
    EXPECT_EQ(s.GetNextEntry(), g_ring + 4);
    EXPECT_EQ(s.GetNextEntry(), g_ring + 4);  // current did not move, no second call
    EXPECT_EQ(g_entered, std::vector<int>({0, 1}));
    EXPECT_EQ(s.SetCurrentEntryWithTest(g_ring + 4), g_ring + 4);
    EXPECT_EQ(s.GetNextEntry(), g_ring + 8);
    EXPECT_EQ(s.SetCurrentEntryWithTest(g_ring + 8), g_ring + 8);
    EXPECT_EQ(s.GetNextEntry(), nullptr);  // entry 0 is the oldest
    EXPECT_EQ(s.GetCurrent(), g_ring + 8);
    EXPECT_EQ(g_entered, std::vector<int>({0, 1, 2}));
  }
  EXPECT_EQ(g_left, std::vector<int>({0, 1, 2}));
}

TEST(EntryStack, WrappingWindowAndMembership) {
  g_entered.clear();
  g_left.clear();
  {
    LxEntryStack s(nullptr, g_ring, 4, 3, Enter, Leave);
    EXPECT_EQ(s.GetPrevEntry(), g_ring + 8);  // wraps to the last entry
    EXPECT_EQ(s.GetOldest(), g_ring + 8);
    EXPECT_EQ(g_entered, std::vector<int>({0, 2}));
    EXPECT_EQ(s.SetCurrentEntryWithTest(g_ring + 4), nullptr);  // outside the window
    EXPECT_EQ(s.GetCurrent(), g_ring);
    EXPECT_EQ(s.SetCurrentEntryWithTest(g_ring + 8), g_ring + 8);
    EXPECT_EQ(s.GetPrevEntry(), g_ring + 4);
    EXPECT_EQ(s.SetCurrentEntryWithTest(g_ring + 4), g_ring + 4);
    EXPECT_EQ(s.GetPrevEntry(), nullptr);                          // would reach the newest entry
    EXPECT_EQ(s.SetCurrentEntryWithTest(g_ring + 5), g_ring + 5);  // inside, off the grid
    EXPECT_EQ(g_entered, std::vector<int>({0, 2, 1}));
  }
  // Window 1,2,0 wraps: entries from the buffer start to newest, then oldest to end.
  EXPECT_EQ(g_left, std::vector<int>({0, 1, 2}));

  g_left.clear();
  {
    LxEntryStack s(nullptr, g_ring, 4, 3, Enter, Leave);
    s.GetPrevEntry();  // window 2,0
  }
  EXPECT_EQ(g_left, std::vector<int>({0, 2}));

  char one[4];
  LxEntryStack single(nullptr, one, 4, 1, nullptr, nullptr);
  EXPECT_EQ(single.GetNextEntry(), nullptr);
  EXPECT_EQ(single.GetPrevEntry(), nullptr);
}

TEST(MemPool, BuffersNodesAndCounters) {
  LxMemPool pool(16);
  EXPECT_EQ(pool.CountRemainingNodes(), 0u);
  std::set<char*> nodes;
  char* prev = nullptr;
  for (int i = 0; i < 256; ++i) {
    char* n = static_cast<char*>(pool.GetNode());
    if (prev != nullptr) {
      EXPECT_EQ(n, prev + 16);
    }
    prev = n;
    nodes.insert(n);
  }
  EXPECT_EQ(pool.GetBuffersAllocated(), 1u);
  EXPECT_EQ(pool.CountRemainingNodes(), 0u);
  nodes.insert(static_cast<char*>(pool.GetNode()));  // the 257th opens a buffer
  EXPECT_EQ(pool.GetBuffersAllocated(), 2u);
  EXPECT_EQ(pool.CountRemainingNodes(), 255u);
  EXPECT_EQ(nodes.size(), 257u);

  char* a = *nodes.begin();
  char* b = *nodes.rbegin();
  pool.PutNode(a);
  pool.PutNode(b);
  EXPECT_EQ(pool.CountFreeNodes(), 2u);
  EXPECT_EQ(pool.GetNode(), b);
  EXPECT_EQ(pool.GetNode(), a);
  EXPECT_EQ(pool.CountFreeNodes(), 0u);
  EXPECT_EQ(pool.GetNodesGot(), 259u);
  EXPECT_EQ(pool.GetNodesPut(), 2u);

  pool.PutNode(a);
  pool.DeallocateBuffers();
  EXPECT_EQ(pool.GetBuffersFreed(), 2u);
  EXPECT_EQ(pool.CountFreeNodes(), 0u);
  EXPECT_EQ(pool.CountRemainingNodes(), 0u);
  EXPECT_EQ(pool.GetNodesGot(), 259u);
  EXPECT_NE(pool.GetNode(), nullptr);
  EXPECT_EQ(pool.GetBuffersAllocated(), 3u);
}

TEST(MemPool, LargeNodesGetABufferEach) {
  LxMemPool pool(5000);
  void* a = pool.GetNode();
  void* b = pool.GetNode();
  EXPECT_NE(a, b);
  EXPECT_EQ(pool.GetBuffersAllocated(), 2u);
  EXPECT_EQ(pool.CountRemainingNodes(), 0u);
  static_cast<char*>(b)[4999] = 1;
}

}  // namespace

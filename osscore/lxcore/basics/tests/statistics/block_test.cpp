// The statistics object and its shared block, seen from outside: what each
// operation does to the counts and to the block's bytes.
#include <lxstatistics.h>

#include <vector>

#include "stats_fixture.h"

namespace statstest {
namespace {

struct CounterSpec {
  int32_t scale;
  uint32_t type;
};
// Default scale and counter type of counters 101..115, as the monitor expects them.
const CounterSpec kCounters[15] = {
    {0, 0x00010000},  {-1, 0x10410400}, {0, 0x10410400},  {-1, 0x10410400}, {0, 0x10410400},
    {0, 0x10410400},  {0, 0x10410400},  {0, 0x00010000},  {-2, 0x00010000}, {0, 0x00010000},
    {-1, 0x00010000}, {0, 0x00010000},  {-1, 0x10410400}, {-2, 0x10410400}, {-1, 0x10410400},
};

void Put(std::vector<unsigned char>& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<unsigned char>(v >> (8 * i));
}

// The block as a fresh activation must leave it, for first indexes f and h.
std::vector<unsigned char> ExpectedBlock(uint32_t f, uint32_t h) {
  std::vector<unsigned char> b(kBlock, 0);
  Put(b, 4, 664);
  Put(b, 8, 64);
  Put(b, 12, f);
  Put(b, 20, h);
  Put(b, 28, 100);
  Put(b, 32, 15);
  Put(b, 36, 3);
  Put(b, 40, 0xFFFFFFFF);
  for (uint32_t k = 0; k < 15; ++k) {
    size_t d = 64 + 40 * k;
    Put(b, d, 40);
    Put(b, d + 4, f + 2 * (k + 1));
    Put(b, d + 12, h + 2 * (k + 1));
    Put(b, d + 20, static_cast<uint32_t>(kCounters[k].scale));
    Put(b, d + 24, 100);
    Put(b, d + 28, kCounters[k].type);
    Put(b, d + 32, 8);
    Put(b, d + 36, 8 + 8 * k);
  }
  Put(b, 664, 128);
  return b;
}

void ExpectBlockEquals(const unsigned char* view, const std::vector<unsigned char>& want) {
  for (size_t i = 0; i < kBlock; ++i) {
    ASSERT_EQ(view[i], want[i]) << "byte " << i;
  }
}

using StatisticsCounting = StatsTest;
using StatisticsBlock = StatsTest;

TEST_F(StatisticsCounting, CountsPrivatelyUntilEnabled) {
  ExpectPasses([&] {
    LxStatistics* s = Statistics();
    EXPECT_EQ(0, s->GetEnabled());
    s->IncClients();
    s->IncClients();
    s->AddLocks(5);
    EXPECT_EQ(2, s->GetClients());
    EXPECT_EQ(5, s->GetLocks());
    EXPECT_FALSE(BlockExists());
    // Not installed: Enable stays disabled and counting goes on.
    s->Enable();
    EXPECT_EQ(0, s->GetEnabled());
    EXPECT_EQ(2, s->GetClients());
    EXPECT_FALSE(BlockExists());
    // Installed: Enable clears the counts.
    EXPECT_EQ(0, RegisterStatistics());
    s->Enable();
    EXPECT_EQ(1, s->GetEnabled());
    EXPECT_EQ(0, s->GetClients());
    EXPECT_EQ(0, s->GetLocks());
    EXPECT_TRUE(BlockExists());
  });
}

TEST_F(StatisticsCounting, EveryOperationChangesItsOwnCount) {
  ExpectPasses([&] {
    LxStatistics* s = Statistics();
    s->IncTransactions();
    s->IncTransactions();
    s->DecTransactions();
    s->IncCommits();
    s->IncAborts();
    s->IncCSRequests();
    s->IncFailedCSRequests();
    s->IncServerNotifications();
    s->IncQueries();
    s->DecClients();
    s->IncObjDescs();
    s->DecObjDescs();
    s->DecObjDescs();
    s->IncExtents();
    s->DecExtents();
    s->AddLocks(-1);
    s->AddWatches(7);
    s->AddRefreshedObjects(0);
    s->AddDeliveredObjects(-9);
    s->IncInternalTransactions();
    EXPECT_EQ(1, s->GetTransactions());
    EXPECT_EQ(1, s->GetCommits());
    EXPECT_EQ(1, s->GetAborts());
    EXPECT_EQ(1, s->GetCsRequests());
    EXPECT_EQ(1, s->GetFailedCsRequests());
    EXPECT_EQ(1, s->GetServerNotifications());
    EXPECT_EQ(1, s->GetQueries());
    EXPECT_EQ(-1, s->GetClients());
    EXPECT_EQ(-1, s->GetObjDescs());
    EXPECT_EQ(0, s->GetExtents());
    EXPECT_EQ(-1, s->GetLocks());
    EXPECT_EQ(7, s->GetWatches());
    EXPECT_EQ(0, s->GetRefreshedObjects());
    EXPECT_EQ(-9, s->GetDeliveredObjects());
    EXPECT_EQ(1, s->GetInternalTransactions());
    s->Clear();
    EXPECT_EQ(0, s->GetDeliveredObjects());
    EXPECT_EQ(0, s->GetClients());
  });
}

TEST_F(StatisticsBlock, FreshBlockHoldsDefinitionsAndZeroCounts) {
  LiveChild writer([&](LiveChild& self) {
    EXPECT_EQ(0, RegisterStatistics());
    Statistics()->Enable();
    EXPECT_EQ(1, Statistics()->GetEnabled());
    self.Ready();
    self.Proceed();
    return 0;
  });
  ASSERT_TRUE(writer.WaitReady());
  ASSERT_NE(nullptr, MapBlock());
  // A fresh registry store has no "Last Counter"/"Last Help": 0 and 1, so the
  // object gets the indexes 2 and 3.
  ExpectBlockEquals(view, ExpectedBlock(2, 3));
  writer.Release();
  EXPECT_EQ(0, writer.Wait());
}

TEST_F(StatisticsBlock, UpdatesLandInTheirSlots) {
  ExpectPasses([&] {
    LxStatistics* s = Statistics();
    EXPECT_EQ(0, RegisterStatistics());
    s->Enable();
    EXPECT_EQ(1, s->GetEnabled());
    // Each operation in turn: exactly its own slot follows it.
    using Op = void (LxStatistics::*)();
    const struct {
      Op op;
      int position;
      int32_t change;
    } steps[] = {
        {&LxStatistics::IncTransactions, 0, 1},
        {&LxStatistics::DecTransactions, 0, -1},
        {&LxStatistics::IncCommits, 1, 1},
        {&LxStatistics::IncAborts, 2, 1},
        {&LxStatistics::IncCSRequests, 3, 1},
        {&LxStatistics::IncFailedCSRequests, 4, 1},
        {&LxStatistics::IncServerNotifications, 5, 1},
        {&LxStatistics::IncQueries, 6, 1},
        {&LxStatistics::IncClients, 7, 1},
        {&LxStatistics::DecClients, 7, -1},
        {&LxStatistics::IncObjDescs, 8, 1},
        {&LxStatistics::DecObjDescs, 8, -1},
        {&LxStatistics::IncExtents, 9, 1},
        {&LxStatistics::DecExtents, 9, -1},
        {&LxStatistics::IncLocks, 10, 1},
        {&LxStatistics::DecLocks, 10, -1},
        {&LxStatistics::IncWatches, 11, 1},
        {&LxStatistics::DecWatches, 11, -1},
        {&LxStatistics::IncInternalTransactions, 14, 1},
    };
    ASSERT_NE(nullptr, MapBlock());
    int32_t expected[15] = {};
    for (const auto& step : steps) {
      (s->*step.op)();
      expected[step.position] += step.change;
      for (int k = 0; k < 15; ++k) {
        ASSERT_EQ(static_cast<uint32_t>(expected[k]), Slot(k))
            << "slot " << k << " after op for " << step.position;
        ASSERT_EQ(0u, Get32(view + 676 + 8 * k)) << "high half of slot " << k;
      }
    }
    s->Clear();
    for (int k = 0; k < 15; ++k) ASSERT_EQ(0u, Slot(k));
    EXPECT_EQ(1, s->GetEnabled());
    // Three commits: 3 at block offset 680.
    s->IncCommits();
    s->IncCommits();
    s->IncCommits();
    EXPECT_EQ(3u, Get32(view + 680));
    // A decrement below zero: FF FF FF FF in the slot's low half.
    s->DecClients();
    EXPECT_EQ(-1, s->GetClients());
    const unsigned char ff[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(view + 672 + 8 * 7, ff, 4));
    EXPECT_EQ(0u, Get32(view + 672 + 8 * 7 + 4));
  });
}

TEST_F(StatisticsBlock, AddStoresOrAddsAsItsAmountSays) {
  ExpectPasses([&] {
    LxStatistics* s = Statistics();
    ASSERT_EQ(0, RegisterStatistics());
    s->Enable();
    ASSERT_EQ(1, s->GetEnabled());
    ASSERT_NE(nullptr, MapBlock());
    unsigned char* locksSlot = view + 672 + 8 * 10;
    // Make the slot differ from the count, as another writer's leftovers would:
    // +1/-1 store the count, any other amount adds to the slot.
    s->AddLocks(5);
    EXPECT_EQ(5, s->GetLocks());
    EXPECT_EQ(5u, Get32(locksSlot));
    std::memset(locksSlot, 0, 4);
    locksSlot[0] = 100;
    s->AddLocks(5);
    EXPECT_EQ(10, s->GetLocks());
    EXPECT_EQ(105u, Get32(locksSlot));
    s->AddLocks(0);
    EXPECT_EQ(10, s->GetLocks());
    EXPECT_EQ(105u, Get32(locksSlot));
    s->AddLocks(1);  // acts as IncLocks: stores the count
    EXPECT_EQ(11, s->GetLocks());
    EXPECT_EQ(11u, Get32(locksSlot));
    locksSlot[0] = 100;
    s->AddLocks(-1);  // acts as DecLocks
    EXPECT_EQ(10u, Get32(locksSlot));
    s->AddLocks(-20);
    EXPECT_EQ(-10, s->GetLocks());
    EXPECT_EQ(static_cast<uint32_t>(-10), Get32(locksSlot));
    // 32-bit wrap-around.
    s->AddDeliveredObjects(INT32_MAX);
    s->AddDeliveredObjects(2);
    EXPECT_EQ(INT32_MIN + 1, s->GetDeliveredObjects());
    EXPECT_EQ(0x80000001u, Slot(13));
    s->AddWatches(3);
    s->AddRefreshedObjects(4);
    EXPECT_EQ(3u, Slot(11));
    EXPECT_EQ(4u, Slot(12));
  });
}

TEST_F(StatisticsBlock, SecondEnableDoesNotClearAgain) {
  ExpectPasses([&] {
    LxStatistics* s = Statistics();
    ASSERT_EQ(0, RegisterStatistics());
    s->Enable();
    s->IncCommits();
    s->IncCommits();
    s->Enable();
    EXPECT_EQ(2, s->GetCommits());
    ASSERT_NE(nullptr, MapBlock());
    EXPECT_EQ(2u, Slot(1));
  });
}

}  // namespace
}  // namespace statstest

// Several threads updating at once, with a monitor copying the block meanwhile:
// counts of one thread each come out exact, and no value ever read is torn.
#include <lxstatistics.h>

#include <atomic>
#include <thread>
#include <vector>

#include "stats_fixture.h"

namespace statstest {
namespace {

using StatisticsThreads = StatsTest;

// Each step of the shared count adds 0x00010001, so every value it can take
// (fewer than 65536 steps) has equal halves; a torn value would not.
constexpr int32_t kStep = 0x00010001;

bool HalvesEqual(uint32_t v) { return (v >> 16) == (v & 0xFFFF); }

TEST_F(StatisticsThreads, ConcurrentUpdatesAreNeverTorn) {
  ExpectPasses([&] {
    ASSERT_EQ(0, RegisterStatistics());
    LxStatistics* s = Statistics();
    s->Enable();
    ASSERT_EQ(1, s->GetEnabled());
    ASSERT_EQ(0u, PrfData_Open(nullptr));
    constexpr int kThreads = 4;
    constexpr int kRounds = 10000;
    using Op = void (LxStatistics::*)();
    const Op own[kThreads] = {&LxStatistics::IncCommits, &LxStatistics::IncAborts, &LxStatistics::IncQueries,
                              &LxStatistics::IncInternalTransactions};
    const int ownPosition[kThreads] = {1, 2, 6, 14};
    std::atomic<bool> done{false};
    std::atomic<int> badSamples{0};
    std::atomic<int> samples{0};
    std::thread monitor([&] {
      std::vector<unsigned char> buf(792);
      uint32_t last[kThreads] = {};
      while (!done.load()) {
        void* data = buf.data();
        uint32_t size = 792;
        uint32_t objects = 0;
        if (PrfData_Collect(const_cast<char16_t*>(u"Global"), &data, &size, &objects) != 0 || size != 792) {
          ++badSamples;
          continue;
        }
        ++samples;
        if (!HalvesEqual(Get32(buf.data() + 672 + 8 * 11))) ++badSamples;
        if (!HalvesEqual(static_cast<uint32_t>(s->GetWatches()))) ++badSamples;
        for (int t = 0; t < kThreads; ++t) {
          uint32_t v = Get32(buf.data() + 672 + 8 * ownPosition[t]);
          // One writer per count: its slot only grows, and never past the end.
          if (v < last[t] || v > static_cast<uint32_t>(kRounds)) ++badSamples;
          last[t] = v;
        }
      }
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
      workers.emplace_back([&, t] {
        for (int i = 0; i < kRounds; ++i) {
          (s->*own[t])();
          if (i % 8 == 0) s->AddWatches(kStep);
        }
      });
    }
    for (std::thread& w : workers) w.join();
    done = true;
    monitor.join();
    EXPECT_EQ(0, badSamples.load());
    EXPECT_GT(samples.load(), 0);
    EXPECT_EQ(kRounds, s->GetCommits());
    EXPECT_EQ(kRounds, s->GetAborts());
    EXPECT_EQ(kRounds, s->GetQueries());
    EXPECT_EQ(kRounds, s->GetInternalTransactions());
    ASSERT_NE(nullptr, MapBlock());
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(static_cast<uint32_t>(kRounds), Slot(ownPosition[t]));
    // Lost updates of the shared count are allowed, torn ones are not.
    uint32_t watches = static_cast<uint32_t>(s->GetWatches());
    EXPECT_TRUE(HalvesEqual(watches)) << std::hex << watches;
    EXPECT_TRUE(HalvesEqual(Slot(11))) << std::hex << Slot(11);
    EXPECT_GT(watches, 0u);
    EXPECT_LE(watches & 0xFFFF, static_cast<uint32_t>(kThreads * kRounds / 8));
  });
}

}  // namespace
}  // namespace statstest

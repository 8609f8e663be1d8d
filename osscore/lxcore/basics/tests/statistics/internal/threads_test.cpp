// Several threads updating at once, with a monitor copying the block meanwhile,
// and the library unloading under them: counts of one thread each come out
// exact, no value ever read is torn, nothing is published after the unload, and
// an update that loaded a slot address before it never meets an unmapped page.
#include <lxstatistics.h>

#include <atomic>
#include <thread>
#include <vector>

#include "statistics/prfdata.h"
#include "stats_fixture.h"

namespace statstest {
namespace {

using StatisticsThreads = StatsTest;

// Each step of the shared count adds 0x00010001, so every value it can take
// (fewer than 65536 steps) has equal halves; a torn value would not.
constexpr int32_t kStep = 0x00010001;
constexpr int kStepsPerThread = 4000;

bool HalvesEqual(uint32_t v) { return (v >> 16) == (v & 0xFFFF); }

TEST_F(StatisticsThreads, CountingGoesOnWhileAMonitorCollectsAndTheLibraryUnloads) {
  ExpectPasses([&] {
    ASSERT_EQ(0, RegisterStatistics());
    LxStatistics* s = Statistics();
    s->Enable();
    ASSERT_EQ(1, s->GetEnabled());
    ASSERT_EQ(0u, PrfData_Open(nullptr));
    ASSERT_NE(nullptr, MapBlock());
    constexpr int kThreads = 4;
    constexpr long kBurst = 20000;  // updates per thread before and after the unload
    using Op = void (LxStatistics::*)();
    const Op own[kThreads] = {&LxStatistics::IncCommits, &LxStatistics::IncAborts, &LxStatistics::IncQueries,
                              &LxStatistics::IncInternalTransactions};
    using Get = int32_t (LxStatistics::*)() const;
    const Get ownCount[kThreads] = {&LxStatistics::GetCommits, &LxStatistics::GetAborts,
                                    &LxStatistics::GetQueries, &LxStatistics::GetInternalTransactions};
    const int ownPosition[kThreads] = {1, 2, 6, 14};
    std::atomic<bool> stop{false};
    std::atomic<bool> unloading{false};
    std::atomic<long> done[kThreads] = {};
    std::atomic<int> badSamples{0};
    std::atomic<int> samples{0};
    std::thread monitor([&] {
      std::vector<unsigned char> buf(792);
      uint32_t last[kThreads] = {};
      while (!stop.load()) {
        void* data = buf.data();
        uint32_t size = 792;
        uint32_t objects = 0;
        if (PrfData_Collect(const_cast<char16_t*>(u"Global"), &data, &size, &objects) != 0) ++badSamples;
        if (size == 0 && unloading.load()) continue;  // nothing to collect once unloaded
        if (size != 792) {
          ++badSamples;
          continue;
        }
        ++samples;
        if (!HalvesEqual(Get32(buf.data() + 672 + 8 * 11))) ++badSamples;
        if (!HalvesEqual(static_cast<uint32_t>(s->GetWatches()))) ++badSamples;
        for (int t = 0; t < kThreads; ++t) {
          // One writer per count: its slot only grows.
          uint32_t v = Get32(buf.data() + 672 + 8 * ownPosition[t]);
          if (v < last[t]) ++badSamples;
          last[t] = v;
        }
      }
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
      workers.emplace_back([&, t] {
        for (long i = 0; !stop.load(std::memory_order_relaxed); ++i) {
          (s->*own[t])();
          if (i % 8 == 0 && i < 8L * kStepsPerThread) s->AddWatches(kStep);
          done[t].store(i + 1, std::memory_order_relaxed);
        }
      });
    }
    auto waitAll = [&](long count) {
      for (int t = 0; t < kThreads; ++t) {
        while (done[t].load() < count) std::this_thread::yield();
      }
    };
    waitAll(kBurst);
    // An update that loaded its slot address just before the unload.
    auto* held = reinterpret_cast<int32_t*>(lxstats::PrfDataProvider().CounterSlot(101, 0));
    ASSERT_NE(nullptr, held);
    unloading = true;
    lxstats::PrfDataProvider().Unload();
    EXPECT_EQ(0, s->GetEnabled());
    __atomic_store_n(held, 0x7777, __ATOMIC_RELAXED);
    long after[kThreads];
    for (int t = 0; t < kThreads; ++t) after[t] = done[t].load();
    // Once a thread has gone on, any update it had under way is finished.
    for (int t = 0; t < kThreads; ++t) {
      while (done[t].load() < after[t] + kBurst) std::this_thread::yield();
    }
    uint32_t frozen[15];
    for (int k = 0; k < 15; ++k) frozen[k] = Slot(k);
    for (int t = 0; t < kThreads; ++t) {
      while (done[t].load() < after[t] + 2 * kBurst) std::this_thread::yield();
    }
    stop = true;
    for (std::thread& w : workers) w.join();
    monitor.join();
    EXPECT_EQ(0, badSamples.load());
    EXPECT_GT(samples.load(), 0);
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_EQ(done[t].load(), (s->*ownCount[t])()) << "count of thread " << t;
      // The block stopped where the unload found it.
      EXPECT_EQ(frozen[ownPosition[t]], Slot(ownPosition[t]));
      EXPECT_GE(Slot(ownPosition[t]), static_cast<uint32_t>(kBurst));
      EXPECT_LE(Slot(ownPosition[t]), static_cast<uint32_t>(after[t] + 1));
    }
    // Lost updates of the shared count are allowed, torn ones are not.
    uint32_t watches = static_cast<uint32_t>(s->GetWatches());
    EXPECT_TRUE(HalvesEqual(watches)) << std::hex << watches;
    EXPECT_TRUE(HalvesEqual(Slot(11))) << std::hex << Slot(11);
    EXPECT_GT(watches, 0u);
    EXPECT_LE(watches & 0xFFFF, static_cast<uint32_t>(kThreads * kStepsPerThread));
  });
}

}  // namespace
}  // namespace statstest

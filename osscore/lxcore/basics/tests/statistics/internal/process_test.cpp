// Writers and monitors in separate processes, killed with SIGKILL, and threads
// of one process counting while the library unloads.
#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include "os/filelock.h"
#include "os/shm.h"
#include "statistics/prfdata.h"
#include "stats_fixture.h"

namespace lxtest {
namespace {

// Attaches the block as the library does, serialised on its writer lock file.
int32_t Attach(const std::string& name, size_t size, lxos::ShmInitFunc init, void* context,
               std::string* why) {
  lxos::ShmAccess access;
  lxos::FileLockOpen(lxstats::WriterLockFile(), &access.setupLock, nullptr);
  lxos::ShmBlock block;
  return lxos::ShmAttach(name.c_str(), size, access, init, context, &block, nullptr, why);
}

void SlowInit(void* view, size_t size, void* progressFd) {
  std::memset(view, 0xEE, size / 2);
  AwaitRelease(*static_cast<int*>(progressFd));
}

using StatisticsProcesses = StatsTest;

// A process killed while it initialises a block leaves the waiting monitor a
// fresh one, which collects whole samples while writers are killed amid bursts
// and the next takes over at once; a second writer is refused, forked children
// count privately.
TEST_F(StatisticsProcesses, KilledProcessesHandOverWhileAMonitorCollects) {
  ExpectPasses([] { EXPECT_EQ(0, RegisterStatistics()); });
  Child first([&](int ready) { return Attach(shmName, kBlock, SlowInit, &ready, nullptr); });
  ASSERT_TRUE(first.WaitReady());
  Child monitor([](int ready) {
    PrfData_Open(nullptr);  // waits for the first process's initialisation
    unsigned char buf[kBlock];
    if (Collect(buf) != kBlock || Get32(buf + 16) != 0) return 3;
    Report(ready, 0);
    while (Collect(buf) == kBlock) {
    }
    return 2;
  });
  usleep(100000);
  first.Kill();
  ASSERT_TRUE(monitor.WaitReady()) << "the monitor got no fresh block";
  ASSERT_NE(nullptr, MapBlock());
  std::mt19937 random(7);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    view[16] = 0x5A;  // a field that only initialisation writes
    Child writer([&](int ready) {
      LxStatistics* s = Statistics();
      s->Enable();  // finds the block as it is, and counts from zero
      if (!s->GetEnabled() || view[16] != 0x5A || Slot(1) != 0) return 3;
      s->IncQueries();
      ExpectPasses([s] {  // forked now: counts privately and cannot become the writer
        for (int i = 0; i < 100; ++i) s->IncQueries();
        s->Enable();
        EXPECT_EQ(0, s->GetEnabled());
        EXPECT_EQ(101, s->GetQueries());
      });
      if (fork() == 0) _exit(usleep(500000));  // a child that outlives the writer
      for (uint32_t i = 0;; ++i) {
        if (i == 1000) Report(ready, 0);
        s->IncCommits();
        s->AddDeliveredObjects(3);
        s->IncClients();
        s->DecClients();
      }
    });
    ASSERT_TRUE(writer.WaitReady()) << "the writer was not enabled, or did not find the block as it was";
    ExpectPasses([] {
      Statistics()->AddLocks(5);
      Statistics()->Enable();
      EXPECT_EQ(0, Statistics()->GetEnabled());
      EXPECT_EQ(5, Statistics()->GetLocks());
    });
    usleep(2000 + random() % 30000);
    writer.Kill();
    EXPECT_EQ(128 + SIGKILL, writer.Wait());
    const uint32_t commits = Slot(1);
    EXPECT_GE(commits, 1000u);
    EXPECT_TRUE(Slot(13) == 3 * commits || Slot(13) == 3 * (commits - 1)) << "a delivery follows its commit";
    EXPECT_LE(Slot(7), 1u);
    EXPECT_EQ(1u, Slot(6)) << "a forked child published";
    EXPECT_EQ(0u, Slot(10)) << "a refused writer published";
  }
  ExpectPasses([&] {  // a block in use is not attached with another size
    std::string why;
    EXPECT_EQ(EINVAL, Attach(shmName, 100, nullptr, nullptr, &why));
    EXPECT_NE(std::string::npos, why.find("in use with 792 bytes")) << why;
  });
  monitor.Kill();
  EXPECT_EQ(128 + SIGKILL, monitor.Wait()) << "2: the monitor got a sample that was not whole";
}

// Each thread's count comes out exact, nothing is published after the unload,
// and a slot address loaded before it stays writable. No value is torn: the
// shared count moves in steps of 0x00010001, so its halves stay equal.
bool HalvesEqual(uint32_t v) { return (v >> 16) == (v & 0xFFFF); }

TEST_F(StatisticsProcesses, CountingGoesOnWhileAMonitorCollectsAndTheLibraryUnloads) {
  ExpectPasses([&] {
    LxStatistics* s = Statistics();
    ASSERT_EQ(0, RegisterStatistics());
    s->Enable();
    ASSERT_EQ(0u, PrfData_Open(nullptr));
    ASSERT_NE(nullptr, MapBlock());
    std::atomic<bool> stop{false};
    std::atomic<long> done[2] = {};
    std::atomic<int> bad{0}, samples{0};
    std::thread monitor([&] {
      unsigned char buf[kBlock];
      while (!stop) {
        if (Collect(buf) != kBlock) continue;  // nothing once unloaded
        ++samples;
        bad += !HalvesEqual(Get32(buf + 672 + 8 * 11)) || !HalvesEqual(s->GetWatches());
      }
    });
    std::thread workers[2];
    for (int t = 0; t < 2; ++t) {
      workers[t] = std::thread([&, t] {
        for (long i = 0; !stop; done[t] = ++i) {
          t == 0 ? s->IncCommits() : s->IncAborts();
          if (i % 8 == 0 && i < 8 * 8000) s->AddWatches(0x00010001);
        }
      });
    }
    constexpr long kBurst = 20000;  // updates of each thread before the unload, and twice after it
    auto waitFor = [&](long a, long b) {
      while (done[0] < a || done[1] < b) std::this_thread::yield();
    };
    waitFor(kBurst, kBurst);
    // A busy machine may not have run the monitor yet: it takes a sample first.
    for (int i = 0; samples == 0 && i < 10000; ++i) Nap(1000);
    auto* held = reinterpret_cast<int32_t*>(lxstats::PrfDataProvider().CounterSlot(101, 0));
    ASSERT_NE(nullptr, held);
    lxstats::PrfDataProvider().Unload();
    EXPECT_EQ(0, s->GetEnabled());
    __atomic_store_n(held, 0x7777, __ATOMIC_RELAXED);
    const long after[2] = {done[0], done[1]};
    waitFor(after[0] + kBurst, after[1] + kBurst);  // any update under way at the unload has ended
    uint32_t frozen[15];
    for (int k = 0; k < 15; ++k) frozen[k] = Slot(k);
    waitFor(after[0] + 2 * kBurst, after[1] + 2 * kBurst);
    stop = true;
    for (std::thread& t : workers) t.join();
    monitor.join();
    EXPECT_EQ(0, bad.load());
    EXPECT_GT(samples.load(), 0);
    EXPECT_EQ(done[0], s->GetCommits());
    EXPECT_EQ(done[1], s->GetAborts());
    for (int k = 0; k < 15; ++k) EXPECT_EQ(frozen[k], Slot(k)) << "published after the unload: " << k;
    for (int t = 0; t < 2; ++t)
      EXPECT_TRUE(Slot(1 + t) >= kBurst && Slot(1 + t) <= after[t] + 1) << Slot(1 + t);
    EXPECT_TRUE(HalvesEqual(s->GetWatches()) && HalvesEqual(Slot(11)) && s->GetWatches() > 0)
        << std::hex << s->GetWatches() << " " << Slot(11);  // lost updates are allowed, torn ones not
  });
}

}  // namespace
}  // namespace lxtest

// The statistics block and writer lock after a process killed with SIGKILL:
//   - a writer killed in the middle of a burst of updates while a monitor keeps
//     collecting: every sample the monitor takes is whole, the definitions are
//     never touched, and the next writer takes the lock over, finds the
//     monitor's block and counts from zero in it;
//   - a process killed while it initialises a new block, with another process
//     waiting to attach: the waiting one goes on and gets a fresh, complete block.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crash_support.h"
#include "lxstatistics.h"
#include "lxtest.h"
#include "os/filelock.h"
#include "os/shm.h"

namespace {

using crashtest::Child;

constexpr size_t kBlock = 792;

uint32_t Get32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Fixed parts of a collected object or of the block: header and definitions.
bool Whole(const unsigned char* p) {
  if (Get32(p + 4) != 664 || Get32(p + 8) != 64 || Get32(p + 28) != 100 || Get32(p + 32) != 15 ||
      Get32(p + 664) != 128) {
    return false;
  }
  for (int k = 0; k < 15; ++k) {
    const unsigned char* d = p + 64 + 40 * k;
    if (Get32(d) != 40 || Get32(d + 32) != 8 || Get32(d + 36) != 8 + 8u * k) return false;
  }
  return true;
}

class StatisticsCrash : public ::testing::Test {
 protected:
  void SetUp() override {
    shmName = "/lxbtest-crash-" + std::to_string(getpid());
    dir = lxtest::MakeTempDir("stats");
    ASSERT_FALSE(dir.empty());
    setenv("ORVANTA_SHM_NAME", shmName.c_str(), 1);
    setenv("ORVANTA_LOCK_DIR", dir.c_str(), 1);
    setenv("ORVANTA_REGISTRY", (dir + "/registry.db").c_str(), 1);
    Child installer([](int) { return RegisterStatistics() == 0 ? 0 : 1; });
    ASSERT_EQ(0, installer.Wait());
  }
  void TearDown() override {
    if (view != nullptr) munmap(view, kBlock);
    shm_unlink(shmName.c_str());
  }
  // A bystander's view of the block, without presence.
  unsigned char* Map() {
    if (view != nullptr) munmap(view, kBlock);
    view = nullptr;
    int fd = shm_open(shmName.c_str(), O_RDWR, 0);
    if (fd < 0) return nullptr;
    void* p = mmap(nullptr, kBlock, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    view = p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
    return view;
  }
  uint32_t Slot(int position) const { return Get32(view + 672 + 8 * position); }

  std::string shmName;
  std::string dir;
  unsigned char* view = nullptr;
};

// A monitor that collects until its stop pipe has data; exits 0 when every
// sample was whole, 2 when one was not, 3 when a collection failed.
int Monitor(int progress, int stop) {
  PrfData_Open(nullptr);
  crashtest::Report(progress, 1);
  std::vector<unsigned char> buf(kBlock);
  for (int samples = 0;; ++samples) {
    void* data = buf.data();
    uint32_t size = kBlock;
    uint32_t objects = 0;
    if (PrfData_Collect(const_cast<char16_t*>(u"Global"), &data, &size, &objects) != 0 || size != kBlock)
      return 3;
    if (Get32(buf.data()) != kBlock || !Whole(buf.data())) return 2;
    struct pollfd p = {stop, POLLIN, 0};
    if (poll(&p, 1, 0) == 1) return samples > 0 ? 0 : 4;
  }
}

TEST_F(StatisticsCrash, WriterKilledMidBurstHandsOverToTheNext) {
  std::mt19937 random(7);
  int stop[2];
  ASSERT_EQ(0, pipe(stop));
  Child monitor([&](int progress) {
    close(stop[1]);
    return Monitor(progress, stop[0]);
  });
  close(stop[0]);
  uint32_t word = 0;
  ASSERT_TRUE(monitor.ReadProgress(&word));

  for (int round = 0; round < 3; ++round) {
    Child writer([](int progress) {
      LxStatistics* s = Statistics();
      s->Enable();
      if (!s->GetEnabled()) return 3;
      for (uint32_t i = 0;; ++i) {
        if (i == 1000) crashtest::Report(progress, 1);  // well into the burst
        s->IncCommits();
        s->AddDeliveredObjects(3);
        s->IncClients();
        s->DecClients();
      }
    });
    ASSERT_TRUE(writer.ReadProgress(&word)) << "round " << round << ": the writer was not enabled";
    crashtest::Nap(2000 + static_cast<long>(random() % 30000));
    writer.Kill();
    EXPECT_EQ(128 + SIGKILL, writer.Wait());

    ASSERT_NE(nullptr, Map());
    EXPECT_TRUE(Whole(view));
    const uint32_t commits = Slot(1);
    EXPECT_GE(commits, 1000u);
    EXPECT_TRUE(Slot(13) == 3u * commits || Slot(13) == 3u * (commits - 1))
        << "every delivery follows its commit";
    EXPECT_LE(Slot(7), 1u);
    view[16] = 0x5A;  // a mark in a field that only initialisation writes

    // The next writer: the lock is free again; the monitor keeps the block, so it
    // is found, not made anew, and its counts start from zero.
    Child next([](int progress) {
      LxStatistics* s = Statistics();
      s->Enable();
      if (!s->GetEnabled()) return 3;
      for (int i = 0; i < 5; ++i) s->IncCommits();
      crashtest::Report(progress, 1);
      return 0;
    });
    ASSERT_TRUE(next.ReadProgress(&word)) << "round " << round << ": the next writer was not enabled";
    EXPECT_EQ(5u, Slot(1));
    EXPECT_EQ(0u, Slot(13));
    EXPECT_EQ(0x5A, view[16]);
    view[16] = 0;
    EXPECT_EQ(0, next.Wait());
  }
  ASSERT_EQ(1, write(stop[1], "x", 1));
  EXPECT_EQ(0, monitor.Wait()) << "the monitor saw a broken sample (2) or could not collect (3)";
  close(stop[1]);
}

int g_initProgress = -1;

// Initialises half the block, tells the parent, and waits to be killed.
void SlowInit(void* view, size_t size, void*) {
  std::memset(view, 0xEE, size / 2);
  crashtest::Report(g_initProgress, 1);
  for (;;) crashtest::Nap(100000);
}

TEST_F(StatisticsCrash, KilledWhileInitialisingTheBlock) {
  Child first([this](int progress) {
    g_initProgress = progress;
    lxos::ShmBlock block;
    bool created = false;
    lxos::ShmAccess access;  // serialised as the library does, on its writer lock file
    if (lxos::FileLockOpen(dir + "/Orvanta_mt", &access.setupLock, nullptr) != 0) return 4;
    lxos::ShmAttach(shmName.c_str(), kBlock, access, SlowInit, nullptr, &block, &created);
    return 5;
  });
  uint32_t word = 0;
  ASSERT_TRUE(first.ReadProgress(&word));
  // A monitor that wants the block now waits for the initialisation.
  Child waiting([](int progress) {
    PrfData_Open(nullptr);
    std::vector<unsigned char> buf(kBlock);
    void* data = buf.data();
    uint32_t size = kBlock;
    uint32_t objects = 0;
    if (PrfData_Collect(const_cast<char16_t*>(u"Global"), &data, &size, &objects) != 0 || size != kBlock)
      return 3;
    crashtest::Report(progress, Whole(buf.data()) && Get32(buf.data() + 16) == 0 ? 1 : 2);
    crashtest::Nap(60 * 1000000L);
    return 0;
  });
  crashtest::Nap(100000);
  first.Kill();
  EXPECT_EQ(128 + SIGKILL, first.Wait());
  ASSERT_TRUE(waiting.ReadProgress(&word)) << "the waiting monitor did not get the block";
  EXPECT_EQ(1u, word) << "the block was not initialised afresh";
  // A writer now enables on the monitor's block.
  Child writer([](int progress) {
    Statistics()->Enable();
    Statistics()->IncQueries();
    crashtest::Report(progress, Statistics()->GetEnabled());
    return 0;
  });
  ASSERT_TRUE(writer.ReadProgress(&word));
  EXPECT_EQ(1u, word);
  EXPECT_EQ(0, writer.Wait());
  ASSERT_NE(nullptr, Map());
  EXPECT_TRUE(Whole(view));
  EXPECT_EQ(1u, Slot(6));
}

}  // namespace

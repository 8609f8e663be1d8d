// Activation of the provider, slot addresses, and the host layer underneath:
// named shared blocks that count as new when nobody maps them, and lock files.
#include <errno.h>

#include <cstring>
#include <string>

#include "lxstatistics.h"
#include "os/filelock.h"
#include "os/registry.h"
#include "os/shm.h"
#include "os/syscall.h"
#include "statistics/prfdata.h"
#include "stats_fixture.h"

namespace statstest {
namespace {

const char kPerformance[] = "SYSTEM\\CurrentControlSet\\Services\\Orvanta\\Performance";

void SetDword(const char* key, const char* name, uint32_t v) {
  unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                        static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
  ASSERT_EQ(lxos::kRegOk, lxos::RegSetValue(key, name, lxos::kRegDword, b, 4));
}

using StatisticsActivate = StatsTest;

TEST_F(StatisticsActivate, RefusedWhenNotInstalledOrSwitchedOff) {
  ExpectPasses([&] {
    lxstats::PrfData& p = lxstats::PrfDataProvider();
    EXPECT_EQ(-1, p.Activate(false));
    EXPECT_EQ(-1, p.Activate(true));
    ASSERT_EQ(0, p.Install("/a/lib.so"));
    SetDword(kPerformance, "Disable Performance Counters", 1);
    EXPECT_EQ(-1, p.Activate(true));
    EXPECT_EQ(-1, p.Activate(false));
    Statistics()->Enable();
    EXPECT_EQ(0, Statistics()->GetEnabled());
    EXPECT_EQ(nullptr, p.GetView());
    EXPECT_FALSE(BlockExists());
    SetDword(kPerformance, "Disable Performance Counters", 0);
    Statistics()->Enable();
    EXPECT_EQ(1, Statistics()->GetEnabled());
  });
}

TEST_F(StatisticsActivate, OneWriterAtATime) {
  ExpectPasses([&] {
    lxstats::PrfData& p = lxstats::PrfDataProvider();
    ASSERT_EQ(0, p.Install("/a/lib.so"));
    // Someone else holds the writer lock.
    int other = -1;
    ASSERT_EQ(0, lxos::FileLockTry(lockDir + "/Orvanta_mt", &other));
    EXPECT_EQ(-1, p.Activate(true));
    EXPECT_EQ(0, p.Activate(false));  // a monitor needs no lock
    lxos::FileLockRelease(other);
    EXPECT_EQ(0, p.Activate(true));
    EXPECT_EQ(-1, p.Activate(true));  // this process is the writer already
    EXPECT_EQ(0, p.Activate(false));
  });
}

// The system calls underneath activation: an interrupted call is made again;
// any other failure leaves nothing mapped, returns the system's error number
// and puts its text in the one warning of the system log.
TEST_F(StatisticsActivate, SystemCallFailures) {
  const struct {
    const char* call;
    int error;
    int count;
  } kFaults[] = {{"open", EINTR, 1},      {"flock", EINTR, 1},     {"fcntl", EINTR, 1},
                 {"shm_open", EINTR, 1},  {"ftruncate", EINTR, 1}, {"open", EACCES, 1},
                 {"fstat", EIO, 1},       {"flock", ENOLCK, 1},    {"fcntl", ENOLCK, -1},
                 {"shm_open", EMFILE, 1}, {"ftruncate", EFBIG, 1}, {"mmap", ENOMEM, 1}};
  lxstats::PrfData& p = lxstats::PrfDataProvider();
  ASSERT_EQ(0, p.Install("/a/lib.so"));
  for (const auto& f : kFaults) {
    SCOPED_TRACE(std::string(f.call) + " " + std::strerror(f.error));
    ExpectPasses([&] {
      ASSERT_EQ(lxos::kRegOk, lxos::RegKeyExists(kPerformance));  // the store is open before the failure
      ASSERT_TRUE(lxos::FailSyscall(f.call, f.error, f.count));
      const int32_t rc = p.Activate(true);
      EXPECT_GT(lxos::InjectedFailures(f.call), 0);
      lxos::ResetSyscalls();
      const std::string log = lxtest::ReadFile(lxtest::StateDir() + "/eventlog.jsonl");
      if (f.error == EINTR) {
        EXPECT_EQ(0, rc);
        EXPECT_NE(nullptr, p.GetView());
      } else {
        EXPECT_EQ(f.error, rc);
        EXPECT_EQ(nullptr, p.GetView());
        EXPECT_NE(std::string::npos, log.find(std::strerror(f.error))) << log;
      }
    });
  }
}

TEST_F(StatisticsActivate, InstalledIndexesNumberTheBlock) {
  ExpectPasses([&] {
    lxstats::PrfData& p = lxstats::PrfDataProvider();
    ASSERT_EQ(lxos::kRegOk, lxos::RegCreateKey("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib"));
    SetDword("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib", "Last Counter", 1846);
    SetDword("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib", "Last Help", 1847);
    ASSERT_EQ(0, p.Install("/a/lib.so"));
    EXPECT_EQ(nullptr, p.CounterSlot(101, 0));
    ASSERT_EQ(0, p.Activate(false));
    auto* view = static_cast<unsigned char*>(p.GetView());
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(1848u, Get32(view + 12));
    EXPECT_EQ(1849u, Get32(view + 20));
    EXPECT_EQ(1850u, Get32(view + 64 + 4));
    EXPECT_EQ(1851u, Get32(view + 64 + 12));
    EXPECT_EQ(1878u, Get32(view + 64 + 40 * 14 + 4));
    EXPECT_EQ(1879u, Get32(view + 64 + 40 * 14 + 12));
    for (uint32_t k = 0; k < 15; ++k) EXPECT_EQ(view + 672 + 8 * k, p.CounterSlot(101 + k, 0)) << k;
    EXPECT_EQ(nullptr, p.CounterSlot(100, 0));
    EXPECT_EQ(nullptr, p.CounterSlot(116, 0));
    EXPECT_EQ(nullptr, p.CounterSlot(101, 1));
    EXPECT_EQ(16u, p.GetEntryCount());
    EXPECT_EQ(1u, p.GetObjectCount());
    EXPECT_EQ(792u, p.GetTable()[0].blockSize);
    EXPECT_EQ(15u, p.GetTable()[0].counterCount);
    EXPECT_EQ(-1, p.GetTable()[0].nextObject);
  });
}

// The block layer with a setup lock of the test's own.
class SharedBlock : public StatsTest {
 protected:
  int32_t Attach(const std::string& name, size_t size, lxos::ShmInitFunc init, void* context,
                 lxos::ShmBlock* block, bool* created) {
    lxos::ShmAccess access;
    if (lxos::FileLockOpen(lockDir + "/setup", &access.setupLock, nullptr) != 0) return -1;
    int32_t rc = lxos::ShmAttach(name.c_str(), size, access, init, context, block, created);
    lxos::FileLockRelease(access.setupLock);
    return rc;
  }
};

void Mark(void* view, size_t size, void* context) {
  ++*static_cast<int*>(context);
  static_cast<unsigned char*>(view)[size - 1] = 0x77;
}

TEST_F(SharedBlock, NewWhenNobodyMapsItFoundWhileSomebodyDoes) {
  int inits = 0;
  lxos::ShmBlock a;
  bool created = false;
  ASSERT_EQ(0, Attach(shmName, 100, Mark, &inits, &a, &created));
  EXPECT_TRUE(created);
  EXPECT_EQ(1, inits);
  auto* bytes = static_cast<unsigned char*>(a.view);
  EXPECT_EQ(0x77, bytes[99]);
  bytes[0] = 0x42;
  // Another process finds it as it is.
  ExpectPasses([&] {
    int childInits = 0;
    lxos::ShmBlock b;
    bool childCreated = true;
    ASSERT_EQ(0, Attach(shmName, 100, Mark, &childInits, &b, &childCreated));
    EXPECT_FALSE(childCreated);
    EXPECT_EQ(0, childInits);
    EXPECT_EQ(0x42, static_cast<unsigned char*>(b.view)[0]);
    // A living block smaller than asked for is refused.
    lxos::ShmBlock c;
    EXPECT_EQ(EINVAL, Attach(shmName, 200, nullptr, nullptr, &c, nullptr));
    EXPECT_EQ(nullptr, c.view);
  });
  lxos::ShmDetach(&a);
  EXPECT_EQ(nullptr, a.view);
  // Nobody maps it now: the leftover counts as new.
  ASSERT_EQ(0, Attach(shmName, 200, Mark, &inits, &a, &created));
  EXPECT_TRUE(created);
  EXPECT_EQ(2, inits);
  EXPECT_EQ(0, static_cast<unsigned char*>(a.view)[0]);
  lxos::ShmDetach(&a);
}

TEST_F(SharedBlock, KilledHolderLeavesANewBlock) {
  LiveChild holder([&](LiveChild& self) {
    lxos::ShmBlock b;
    bool created = false;
    if (Attach(shmName, 64, nullptr, nullptr, &b, &created) != 0 || !created) return 3;
    static_cast<unsigned char*>(b.view)[5] = 9;
    self.Ready();
    self.Proceed();
    return 0;
  });
  ASSERT_TRUE(holder.WaitReady());
  lxos::ShmBlock a;
  bool created = true;
  ASSERT_EQ(0, Attach(shmName, 64, nullptr, nullptr, &a, &created));
  EXPECT_FALSE(created);
  lxos::ShmDetach(&a);
  holder.Kill();
  holder.Wait();
  ASSERT_EQ(0, Attach(shmName, 64, nullptr, nullptr, &a, &created));
  EXPECT_TRUE(created);
  EXPECT_EQ(0, static_cast<unsigned char*>(a.view)[5]);
  lxos::ShmDetach(&a);
}

TEST_F(SharedBlock, BadArgumentsAndRemoval) {
  lxos::ShmBlock a;
  EXPECT_EQ(EINVAL, Attach("", 10, nullptr, nullptr, &a, nullptr));
  EXPECT_EQ(EINVAL, Attach(shmName, 0, nullptr, nullptr, &a, nullptr));
  EXPECT_EQ(-1, a.fd);
}

using LockFile = StatsTest;

TEST_F(LockFile, OneOwnerUntilReleasedOrDead) {
  const std::string path = lockDir + "/test_mt";
  int first = -1;
  ASSERT_EQ(0, lxos::FileLockTry(path, &first));
  int second = 5;
  EXPECT_EQ(lxos::kLockBusy, lxos::FileLockTry(path, &second));
  EXPECT_EQ(-1, second);
  lxos::FileLockRelease(first);
  ASSERT_EQ(0, lxos::FileLockTry(path, &second));
  lxos::FileLockRelease(second);
  // Held by a process that is then killed.
  LiveChild owner([&](LiveChild& self) {
    int fd = -1;
    if (lxos::FileLockTry(path, &fd) != 0) return 3;
    self.Ready();
    self.Proceed();
    return 0;
  });
  ASSERT_TRUE(owner.WaitReady());
  EXPECT_EQ(lxos::kLockBusy, lxos::FileLockTry(path, &first));
  owner.Kill();
  owner.Wait();
  EXPECT_EQ(0, lxos::FileLockTry(path, &first));
  lxos::FileLockRelease(first);
  EXPECT_EQ(ENOENT, lxos::FileLockTry(lockDir + "/no/such/dir/x_mt", &first));
  setenv("ORVANTA_LOCK_DIR", "", 1);
  EXPECT_EQ("/dev/shm", lxos::LockDirectory());
}

}  // namespace
}  // namespace statstest

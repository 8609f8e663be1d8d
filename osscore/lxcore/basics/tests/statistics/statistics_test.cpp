// The provider's definitions in the texts, the block and the slots; installing,
// removing, activating; failing system calls; processes killed with SIGKILL;
// threads counting while the library unloads. Another local user attacks for
// real (children of a root test drop to other user ids, in the monitoring group):
// the server counts without a long wait (published, or privately with a warning
// why), monitors see the true counts or nothing, root's files stay root's (or the
// group's to read), and nothing planted is written through or trusted.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "os/filelock.h"
#include "os/paths.h"
#include "os/registry.h"
#include "os/shm.h"
#include "os/syscall.h"
#include "os/utf.h"
#include "statistics/prfdata.h"
#include "stats_fixture.h"

namespace lxtest {
namespace {

using S = LxStatistics;
const std::string kPerflib = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
const std::string kPerformance = "SYSTEM\\CurrentControlSet\\Services\\Orvanta\\Performance";
constexpr uint32_t kRaw = 0x00010000, kRate = 0x10410400;

// Ids 100 (the object) to 115: scale, type, the operations that feed it, name, help text.
const struct {
  int32_t scale;
  uint32_t type;
  void (S::*inc)();
  void (S::*dec)();
  void (S::*add)(int32_t);
  const char16_t* name;
  const char16_t* help;
} kRecords[16] = {
    {0, 0, nullptr, nullptr, nullptr, u"Orvanta", u"The Orvanta runtime system performance counters"},
    {0, kRaw, &S::IncTransactions, &S::DecTransactions, nullptr, u"Transactions   ",
     u"The number of currently registered transactions."},
    {-1, kRate, &S::IncCommits, nullptr, nullptr, u"Commits/sec",
     u"The number of transaction commit requests since last sample.   "},
    {0, kRate, &S::IncAborts, nullptr, nullptr, u"Aborts/sec ",
     u"The number of transaction abort requests since last sample."},
    {-1, kRate, &S::IncCSRequests, nullptr, nullptr, u"C/S Requests/sec   ",
     u"The number of client/server requests since last sample."},
    {0, kRate, &S::IncFailedCSRequests, nullptr, nullptr, u"C/S Failed Requests/sec",
     u"The number of client/server requests resulting in an error since last sample.  "},
    {0, kRate, &S::IncServerNotifications, nullptr, nullptr, u"Server Notifications/sec   ",
     u"The number of Notify() calls issued by the server since last sample.   "},
    {0, kRate, &S::IncQueries, nullptr, nullptr, u"Queries/sec",
     u"The number of query requests since last sample."},
    {0, kRaw, &S::IncClients, &S::DecClients, nullptr, u"Clients",
     u"The number of currently connected clients. "},
    {-2, kRaw, &S::IncObjDescs, &S::DecObjDescs, nullptr, u"Object Descriptions",
     u"The number of currently used object descriptions. This number indicates how many different persistent "
     u"objects are used by all clients together."},
    {0, kRaw, &S::IncExtents, &S::DecExtents, nullptr, u"Extents",
     u"The number of currently used extent cursors (C++: LxAllSet objects).   "},
    {-1, kRaw, &S::IncLocks, &S::DecLocks, &S::AddLocks, u"Locks  ", u"The number of currently used locks."},
    {0, kRaw, &S::IncWatches, &S::DecWatches, &S::AddWatches, u"Watches",
     u"The number of currently used watches.  "},
    {-1, kRate, nullptr, nullptr, &S::AddRefreshedObjects, u"RefreshedObjects/sec   ",
     u"The number of refreshed objects since last sample. This number indicates how many objects have been "
     u"re-delivered to all clients.   "},
    {-2, kRate, nullptr, nullptr, &S::AddDeliveredObjects, u"DeliveredObjects/sec   ",
     u"The number of delivered objects since last sample. This number indicates how many objects have been "
     u"delivered to all clients.  "},
    {-1, kRate, &S::IncInternalTransactions, nullptr, nullptr, u"Internal Transactions/sec",
     u"The number of started internal transactions.   "}};

std::string Sub(const char* language) { return kPerflib + "\\" + language; }

std::string MultiSz(const std::vector<std::u16string>& strings) {
  std::string bytes;
  for (const std::u16string& s : strings) lxos::AppendUtf16Bytes(&bytes, s.c_str(), s.size() + 1);
  return bytes.append(2, '\0');
}

// `strings`, then the index and the name (or help text) of each record from `first` on.
std::vector<std::u16string> WithPairs(std::vector<std::u16string> strings, uint32_t first, bool help) {
  for (uint32_t i = 0; i < 16; ++i) {
    strings.push_back(lxos::Utf8ToUtf16(std::to_string(first + 2 * i)));
    strings.push_back(help ? kRecords[i].help : kRecords[i].name);
  }
  return strings;
}

std::string Value(const std::string& key, const char* name) {
  std::string data(65536, '\0');
  uint32_t size = static_cast<uint32_t>(data.size());
  const bool ok = lxos::RegQueryValue(key.c_str(), name, nullptr, &data[0], &size) == lxos::kRegOk;
  return ok ? data.substr(0, size) : "missing";
}

std::string Dw(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

void Set(const std::string& key, const char* name, const std::string& bytes) {  // four bytes: a 32-bit value
  lxos::RegCreateKey(key.c_str());
  const uint32_t type = bytes.size() == 4 ? lxos::kRegDword : lxos::kRegMultiSz;
  EXPECT_EQ(lxos::kRegOk, lxos::RegSetValue(key.c_str(), name, type, bytes.data(), bytes.size()));
}

std::vector<std::string> Snapshot() {  // every value of the keys that installation touches
  std::vector<std::string> all, keys = {kPerflib, kPerformance};
  std::string name;
  for (uint32_t i = 0; lxos::RegEnumKey(kPerflib.c_str(), i, &name) == lxos::kRegOk; ++i)
    keys.push_back(Sub(name.c_str()));
  for (const std::string& key : keys) {
    all.push_back(key + (lxos::RegKeyExists(key.c_str()) == lxos::kRegOk ? "" : " missing"));
    for (uint32_t i = 0; lxos::RegEnumValue(key.c_str(), i, &name, nullptr) == lxos::kRegOk; ++i)
      all.push_back(name + "=" + Value(key, name.c_str()));
  }
  return all;
}

// Another product's texts; a unit whose low byte is zero is no terminator.
const std::vector<std::u16string> kCounter009 = {u"1", u"1847", u"1846", u"Some \u4E00 Product"};
const std::vector<std::u16string> kHelp009 = {u"3", u"Help for one", u"1847", u"Some \u4E00 help"};

void Prepare() {  // another product holds the indexes up to 1846 and 1847
  Set(kPerflib, "Last Counter", Dw(1846));
  Set(kPerflib, "Last Help", Dw(1847));
  Set(Sub("009"), "Counter", MultiSz(kCounter009));
  Set(Sub("009"), "Help", MultiSz(kHelp009));
  Set(Sub("007"), "Counter", MultiSz({u"1", u"1847"}));
  Set(Sub("007"), "Help", MultiSz({}));
  Set(Sub("TooLongName"), "Counter", MultiSz({u"5"}));  // a name this long ends the walk
  Set(Sub("011"), "Counter", MultiSz({u"7"}));
}

using StatisticsProvider = StatsTest;

TEST_F(StatisticsProvider, RecordsNumberTheTextsTheBlockAndTheSlots) {
  Prepare();
  const std::string cut = MultiSz({u"3", u"Help"});  // without the list's terminator, and an odd byte
  Set(Sub("007"), "Help", cut.substr(0, cut.size() - 3));
  lxstats::PrfData& provider = lxstats::PrfDataProvider();
  ASSERT_EQ(0, provider.Install("/a/lib.so"));
  EXPECT_EQ(MultiSz(WithPairs(kCounter009, 1848, false)), Value(Sub("009"), "Counter"));
  EXPECT_EQ(MultiSz(WithPairs(kHelp009, 1849, true)), Value(Sub("009"), "Help"));
  EXPECT_EQ(MultiSz(WithPairs({u"1", u"1847"}, 1848, false)), Value(Sub("007"), "Counter"));
  EXPECT_EQ(MultiSz(WithPairs({u"3", u"Help"}, 1849, true)), Value(Sub("007"), "Help"));
  EXPECT_EQ(MultiSz({u"5"}) + MultiSz({u"7"}),
            Value(Sub("TooLongName"), "Counter") + Value(Sub("011"), "Counter"));
  EXPECT_EQ(Dw(1878) + Dw(1879), Value(kPerflib, "Last Counter") + Value(kPerflib, "Last Help"));
  ExpectPasses([&] {
    S* s = Statistics();
    s->IncClients();
    s->Enable();
    EXPECT_EQ(0, s->GetClients());
    ASSERT_NE(nullptr, MapBlock());
    std::vector<unsigned char> block(kBlock, 0);
    auto put = [&block](size_t at, uint32_t v) { std::memcpy(&block[at], &v, 4); };
    const uint32_t header[][2] = {{4, 664}, {8, 64}, {12, 1848}, {20, 1849},       {28, 100},
                                  {32, 15}, {36, 3}, {40, ~0u},  {664, 8 + 8 * 15}};
    for (const auto& f : header) put(f[0], f[1]);
    for (uint32_t k = 0, d = 64; k < 15; ++k, d += 40) {
      const uint32_t scale = static_cast<uint32_t>(kRecords[k + 1].scale), type = kRecords[k + 1].type;
      const uint32_t definition[][2] = {{d, 40},         {d + 4, 1850 + 2 * k}, {d + 12, 1851 + 2 * k},
                                        {d + 20, scale}, {d + 24, 100},         {d + 28, type},
                                        {d + 32, 8},     {d + 36, 8 + 8 * k}};
      for (const auto& f : definition) put(f[0], f[1]);
    }
    EXPECT_EQ(block, std::vector<unsigned char>(view, view + kBlock));
    // Each operation moves its own slot: +1 and -1 store the count, any other
    // amount adds to the slot as it stands (here first made to differ).
    uint32_t count[15] = {}, slot[15] = {};
    auto apply = [&](int k, int32_t n, const std::function<void()>& change) {
      change();
      count[k] += static_cast<uint32_t>(n);
      slot[k] = n == 1 || n == -1 ? count[k] : slot[k] + static_cast<uint32_t>(n);
      for (int j = 0; j < 15; ++j) ASSERT_EQ(slot[j], Slot(j)) << "slot " << j << " after a change of " << k;
    };
    for (int k = 0; k < 15; ++k) {
      const auto& r = kRecords[k + 1];
      if (r.inc != nullptr) apply(k, 1, [&] { (s->*r.inc)(); });
      for (int i = 0; r.dec != nullptr && i < 2; ++i) apply(k, -1, [&] { (s->*r.dec)(); });
      if (r.add == nullptr) continue;
      view[672 + 8 * k] = 100;
      slot[k] = (slot[k] & ~0xFFu) | 100;
      for (int32_t n : {5, 0, 1, -1, -20, INT32_MAX, INT32_MAX}) apply(k, n, [&] { (s->*r.add)(n); });
    }
    s->Clear();
    for (int k = 0; k < 15; ++k) EXPECT_EQ(0u, Slot(k)) << k;
    EXPECT_EQ(1, s->GetEnabled());
  });
  std::vector<std::u16string> lost = WithPairs(kHelp009, 1849, true);  // a language lost our last text
  lost.resize(lost.size() - 2);
  Set(Sub("009"), "Help", MultiSz(lost));
  std::vector<std::u16string> translated = WithPairs({u"1", u"1847"}, 1848, false);
  translated.back() = u"\u0100bersetzt";  // our last text, translated: its first unit's low byte is zero
  Set(Sub("007"), "Counter", MultiSz(translated));
  ASSERT_EQ(0, provider.Remove());
  EXPECT_EQ(MultiSz(lost) + MultiSz(kCounter009), Value(Sub("009"), "Help") + Value(Sub("009"), "Counter"));
  EXPECT_EQ(MultiSz({u"1", u"1847"}), Value(Sub("007"), "Counter"));
}

// A refusal changes nothing; a removal leaves the store as the edit alone would have.
TEST_F(StatisticsProvider, InstallRemoveAndActivate) {
  int32_t (*install)() = [] { return lxstats::PrfDataProvider().Install("/b/other.so"); };
  int32_t (*remove)() = [] { return lxstats::PrfDataProvider().Remove(); };
  int32_t (*activate)() = [] { return lxstats::PrfDataProvider().Activate(true); };
  const int32_t no = lxstats::kPrfRefused;
  const struct {
    const char* name;
    bool installed;
    void (*edit)();
    int32_t (*op)();
    int32_t result;
  } kCases[] = {
      {"removed at once", true, [] {}, remove, 0},
      {"removed after a later product", true,
       [] {
         const std::string counter = Value(Sub("009"), "Counter");
         Set(Sub("009"), "Counter", counter.substr(0, counter.size() - 2) + MultiSz({u"1880", u"Later"}));
         Set(kPerflib, "Last Counter", Dw(1880));
         Set(kPerflib, "Last Help", Dw(1881));
       },
       remove, 0},
      {"not installed", false, [] {}, remove, no},
      {"installed already", true, [] {}, install, no},
      {"last counter below", true, [] { Set(kPerflib, "Last Counter", Dw(1870)); }, remove, no},
      {"last help below", true, [] { Set(kPerflib, "Last Help", Dw(1850)); }, remove, no},
      {"index missing", true, [] { lxos::RegDeleteValue(kPerformance.c_str(), "First Help"); }, remove, no},
      {"first above last", true, [] { Set(kPerformance, "First Help", Dw(1881)); }, remove, no},
      {"activated, not installed", false, [] {}, activate, no},
      {"activated, switched off", true, [] { Set(kPerformance, "Disable Performance Counters", Dw(1)); },
       activate, no}};
  int serial = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> editOnly;
    for (bool installed : {false, c.installed}) {
      setenv("ORVANTA_REGISTRY", (lockDir + "/" + std::to_string(++serial) + ".db").c_str(), 1);
      Prepare();
      EXPECT_EQ(0, installed ? lxstats::PrfDataProvider().Install("/a/lib.so") : 0);
      c.edit();
      if (editOnly.empty()) editOnly = Snapshot();
    }
    const std::vector<std::string> before = Snapshot();
    EXPECT_EQ(c.result, c.op());
    EXPECT_EQ(c.result == 0 ? editOnly : before, Snapshot());
  }
}

// An interrupted call is made again; another failure maps nothing and returns its errno.
TEST_F(StatisticsProvider, SystemCallFailures) {
  const struct {
    const char* call;
    int error;
  } kFaults[] = {{"open", EINTR},      {"flock", EINTR}, {"fcntl", EINTR},  {"shm_open", EINTR},
                 {"open", EACCES},     {"fstat", EIO},   {"flock", ENOLCK}, {"fcntl", ENOLCK},
                 {"ftruncate", EFBIG}, {"mmap", ENOMEM}};
  lxstats::PrfData& provider = lxstats::PrfDataProvider();
  ASSERT_EQ(0, provider.Install("/a/lib.so"));
  for (const auto& f : kFaults) {
    SCOPED_TRACE(std::string(f.call) + " " + std::strerror(f.error));
    ExpectPasses([&] {
      ASSERT_EQ(lxos::kRegOk, lxos::RegKeyExists("SOFTWARE"));  // the store is open before the failure
      ASSERT_TRUE(lxos::FailSyscall(f.call, f.error, 1));
      const int32_t rc = provider.Activate(true);
      EXPECT_EQ(1, lxos::InjectedFailures(f.call));
      lxos::ResetSyscalls();
      EXPECT_EQ(f.error == EINTR ? 0 : f.error, rc);
      EXPECT_EQ(f.error == EINTR, provider.GetView() != nullptr);
    });
  }
  ExpectPasses([] {  // a block that cannot be read under a monitor gives nothing, once
    unsigned char buf[kBlock];
    EXPECT_EQ(0u, Collect(buf));  // not attached yet
    ASSERT_EQ(0u, PrfData_Open(nullptr));
    ASSERT_TRUE(lxos::FailSyscall("pread", EIO, 1));
    EXPECT_EQ(0u, Collect(buf));
    EXPECT_EQ(kBlock, Collect(buf));
  });
}

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

// A process killed while it initialises a block leaves the waiting monitor a fresh
// one, whose samples stay whole while writers are killed amid bursts and the next
// takes over; a second writer is refused, forked children count privately.
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

constexpr uid_t kAttacker = 4243;
constexpr uid_t kVictim = 65534;  // "nobody", whose home directory does not exist
gid_t g_group = 0;                // "nogroup", the monitoring group
std::string g_dir, g_block, g_lockFile;

// Becomes `uid` in the monitoring group; the saved user id stays root (for coverage counts).
bool BecomeUser(uid_t uid) {
  return setgroups(1, &g_group) == 0 && setresgid(g_group, g_group, g_group) == 0 &&
         setresuid(uid, uid, 0) == 0;
}

bool LockWhole(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
  struct flock whole = {};
  whole.l_type = F_RDLCK;
  return fd >= 0 && fcntl(fd, F_OFD_SETLK, &whole) == 0;
}

int Sample() {  // as a monitor: the commits of a whole sample, 200 for nothing
  unsigned char buf[kBlock];
  PrfData_Open(nullptr);
  const uint32_t size = Collect(buf);
  return size == kBlock ? static_cast<int>(Get32(buf + 680)) : 200;
}

struct Attack {  // each function returns true when all went as the row says
  const char* name;
  bool group;        // ORVANTA_SHM_GROUP names the monitoring group
  bool blockFirst;   // root made the block before the attack
  const char* logs;  // null: the server publishes; else it counts privately and logs this
  bool (*plant)();   // as the attacker, who keeps what it opens until the row ends
  bool (*victim)();  // instead of server and monitors, as another user
};

const Attack kAttacks[] = {
    {"a member of the monitoring group locks all of the block", true, true, nullptr,
     [] { return LockWhole(g_block, O_RDONLY); }, nullptr},
    {"the block is made first by another user", false, false, "owned by user id 4243",
     [] {
       return LockWhole(g_block, O_RDWR | O_CREAT | O_EXCL) && chmod(g_block.c_str(), 0666) == 0 &&
              truncate(g_block.c_str(), kBlock) == 0;
     },
     nullptr},
    {"a member of the monitoring group locks the registry store (a connection only reads it)", true, false,
     nullptr,
     [] {
       for (const char* file : {"", "-wal", "-shm"})
         if (!LockWhole(g_dir + "/state/registry.db" + file, O_RDONLY)) return false;
       return true;
     },
     nullptr},
    {"the lock file is made and held first by another user", false, false, "owned by user id 4243",
     [] { return flock(open(g_lockFile.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644), LOCK_EX) == 0; }, nullptr},
    {"a symbolic link at the lock file", false, false,
     "Orvanta_mt: ", [] { return symlink((g_dir + "/precious").c_str(), g_lockFile.c_str()) == 0; }, nullptr},
    {"a symbolic link at the block", false, false, "shared block /lxbtest-stats-",
     [] { return symlink((g_dir + "/precious").c_str(), g_block.c_str()) == 0; }, nullptr},
    {"a monitor of another user never makes the block", true, false, nullptr, nullptr,
     [] { return Sample() == 200 && access(g_block.c_str(), F_OK) != 0; }},
    {"without HOME the state directory comes from the password database", false, false, nullptr, nullptr,
     [] {
       for (const char* name : {"HOME", "XDG_STATE_HOME", "ORVANTA_STATE_DIR", "ORVANTA_REGISTRY"})
         unsetenv(name);
       const std::string home = getpwuid(geteuid()) ? getpwuid(geteuid())->pw_dir : "no home directory";
       return lxos::StateDir().empty() && lxos::RegistryFile().empty() &&
              lxos::StateDirProblem().find(home + "/.local/state/orvanta") != std::string::npos;
     }},
    {"HOME holds another user's state directory and store", false, false, nullptr,
     [] {
       const std::string dir = g_dir + "/locks/home/.local/state/orvanta";
       return lxos::MakeDirs(dir, 0755) && chmod(dir.c_str(), 0777) == 0 &&
              WriteFile(dir + "/registry.db", "x");
     },
     [] {
       for (const char* name : {"XDG_STATE_HOME", "ORVANTA_STATE_DIR", "ORVANTA_REGISTRY"}) unsetenv(name);
       setenv("HOME", (g_dir + "/locks/home").c_str(), 1);
       return lxos::StateDir().empty() && lxos::RegistryFile().empty() &&
              lxos::StateDirProblem().find(g_dir + "/locks/home/.local") != std::string::npos;
     }},
    {"libraries that another user made or can replace are not trusted", false, false, nullptr,
     [] {
       return WriteFile(g_dir + "/locks/evil.so", "x") && mkdir((g_dir + "/locks/adir").c_str(), 0755) == 0 &&
              symlink((g_dir + "/good.so").c_str(), (g_dir + "/locks/adir/lib.so").c_str()) == 0;
     },
     [] {  // "wide" and "shared.so" are root's, but others may write them
       for (const char* path : {"/locks/evil.so", "/locks/adir/lib.so", "/wide/good.so", "/shared.so"})
         if (lxos::IsTrustedPath(g_dir + path, nullptr)) return false;
       return lxos::IsTrustedPath(g_dir + "/locks/../good.so", nullptr);
     }},
};

class OtherUser : public StatsTest {
 protected:
  void SetUp() override {
    StatsTest::SetUp();
    if (geteuid() != 0) GTEST_SKIP() << "only root can play other local users here; run as root (CI does)";
    const struct group* g = getgrnam("nogroup");
    if (g == nullptr) GTEST_SKIP() << "no group \"nogroup\" to monitor with";
    g_group = g->gr_gid;
  }

  template <typename Body>  // `body`'s exit code, run in a child as `uid`
  static int As(uid_t uid, Body body) {
    return RunInChild([&] {
             if (uid != 0 && !BecomeUser(uid)) return 99;
             const int result = body();
             return seteuid(0) == 0 ? result : 98;
           })
        .code;
  }

  void Run(const Attack& a) {
    static int serial = 0;
    g_dir = "/dev/shm/lxbtest-user-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    g_block = "/dev/shm" + shmName;
    g_lockFile = g_dir + "/locks/Orvanta_mt";
    const std::pair<const char*, mode_t> kScene[] = {
        {"/", 0755},        {"/state/", 0700},       {"/locks/", 01777},   {"/wide/", 0777},
        {"/good.so", 0644}, {"/wide/good.so", 0644}, {"/shared.so", 0664}, {"/precious", 0644}};
    for (const auto& f : kScene) {
      const std::string path = g_dir + f.first;
      ASSERT_TRUE(path.back() == '/' ? mkdir(path.c_str(), 0700) == 0 : WriteFile(path, "precious"));
      ASSERT_EQ(0, chmod(path.c_str(), f.second));
    }
    setenv("ORVANTA_LOCK_DIR", (g_dir + "/locks").c_str(), 1);
    setenv("ORVANTA_REGISTRY", (g_dir + "/state/registry.db").c_str(), 1);
    a.group ? setenv("ORVANTA_SHM_GROUP", "nogroup", 1) : unsetenv("ORVANTA_SHM_GROUP");
    ExpectPasses([&a] {  // shares the store's directory as its creator does, installs, makes the block
      EXPECT_EQ(0, lxos::ApplySharedMode(open((g_dir + "/state").c_str(), O_RDONLY), true));
      EXPECT_EQ(0, RegisterStatistics());
      EXPECT_EQ(0u, a.blockFirst ? PrfData_Open(nullptr) : 0);
    });
    WriteFile(StateDir() + "/eventlog.jsonl", "");
    Child attacker([&](int ready) {
      if (!BecomeUser(kAttacker) || (a.plant != nullptr && !a.plant())) return 1;
      AwaitRelease(ready);
      return 0;
    });
    ASSERT_TRUE(attacker.WaitReady()) << "the attack could not be planted";
    if (a.victim != nullptr) {
      EXPECT_EQ(1, As(kVictim, a.victim));
    } else {
      ExpectPasses([&a] {  // the server, with a monitor of its own user and one of the group
        umask(0);
        const auto start = std::chrono::steady_clock::now();
        Statistics()->Enable();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "Enable waited";
        EXPECT_EQ(a.logs == nullptr, Statistics()->GetEnabled() == 1);
        for (int i = 0; i < 7; ++i) Statistics()->IncCommits();
        const int seen = As(0, Sample), seenByGroup = As(kVictim, Sample);
        if (a.logs == nullptr) {
          EXPECT_EQ(std::make_pair(7, a.group ? 7 : 200), std::make_pair(seen, seenByGroup));
        } else {  // nothing, or a fresh block's zero
          EXPECT_TRUE(seen % 200 == 0 && seenByGroup % 200 == 0) << seen << " " << seenByGroup;
        }
      });
      const std::string log = ReadFile(StateDir() + "/eventlog.jsonl");
      EXPECT_TRUE(a.logs == nullptr || log.find(a.logs) != std::string::npos) << log;
    }
    attacker.Release();
    EXPECT_EQ(0, attacker.Wait());
    struct stat block, lock, precious;
    EXPECT_TRUE(lstat(g_block.c_str(), &block) != 0 || block.st_uid != 0 ||
                (block.st_mode == (a.group ? 0100640u : 0100600u) && block.st_gid == (a.group ? g_group : 0)))
        << std::oct << block.st_mode;
    EXPECT_TRUE(lstat(g_lockFile.c_str(), &lock) != 0 || lock.st_uid != 0 || lock.st_mode == 0100600u);
    struct stat state;  // set-group-id, so that files SQLite adds beside the store get the group
    EXPECT_TRUE(stat((g_dir + "/state").c_str(), &state) == 0 &&
                (state.st_mode & 07777) == (a.group ? 02750u : 0700u))
        << std::oct << state.st_mode;
    EXPECT_EQ("precious", ReadFile(g_dir + "/precious"));
    EXPECT_TRUE(stat((g_dir + "/precious").c_str(), &precious) == 0 && precious.st_mode == 0100644);
    shm_unlink(shmName.c_str());
    EXPECT_EQ(0, std::system(("rm -rf '" + g_dir + "'").c_str()));
  }
};

TEST_F(OtherUser, CannotStopTheServerBlindTheMonitorsOrPlantCode) {
  for (const Attack& a : kAttacks) {
    SCOPED_TRACE(a.name);
    Run(a);
  }
}

}  // namespace
}  // namespace lxtest

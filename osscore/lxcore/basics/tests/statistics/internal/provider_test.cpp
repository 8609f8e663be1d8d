// The provider: the counter definitions in the texts, the block and the slots;
// installations, removals and activations; failing system calls underneath.
#include <cstring>
#include <string>
#include <vector>

#include "os/registry.h"
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

// Ids 100 (the object) to 115: scale, type, the operations that feed it, name.
const struct {
  int32_t scale;
  uint32_t type;
  void (S::*inc)();
  void (S::*dec)();
  void (S::*add)(int32_t);
  const char16_t* name;
} kRecords[16] = {{0, 0, nullptr, nullptr, nullptr, u"Orvanta"},
                  {0, kRaw, &S::IncTransactions, &S::DecTransactions, nullptr, u"Transactions   "},
                  {-1, kRate, &S::IncCommits, nullptr, nullptr, u"Commits/sec"},
                  {0, kRate, &S::IncAborts, nullptr, nullptr, u"Aborts/sec "},
                  {-1, kRate, &S::IncCSRequests, nullptr, nullptr, u"C/S Requests/sec   "},
                  {0, kRate, &S::IncFailedCSRequests, nullptr, nullptr, u"C/S Failed Requests/sec"},
                  {0, kRate, &S::IncServerNotifications, nullptr, nullptr, u"Server Notifications/sec   "},
                  {0, kRate, &S::IncQueries, nullptr, nullptr, u"Queries/sec"},
                  {0, kRaw, &S::IncClients, &S::DecClients, nullptr, u"Clients"},
                  {-2, kRaw, &S::IncObjDescs, &S::DecObjDescs, nullptr, u"Object Descriptions"},
                  {0, kRaw, &S::IncExtents, &S::DecExtents, nullptr, u"Extents"},
                  {-1, kRaw, &S::IncLocks, &S::DecLocks, &S::AddLocks, u"Locks  "},
                  {0, kRaw, &S::IncWatches, &S::DecWatches, &S::AddWatches, u"Watches"},
                  {-1, kRate, nullptr, nullptr, &S::AddRefreshedObjects, u"RefreshedObjects/sec   "},
                  {-2, kRate, nullptr, nullptr, &S::AddDeliveredObjects, u"DeliveredObjects/sec   "},
                  {-1, kRate, &S::IncInternalTransactions, nullptr, nullptr, u"Internal Transactions/sec"}};

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
    strings.push_back(help ? lxstats::PrfDataProvider().GetTable()[i].help : kRecords[i].name);
  }
  return strings;
}

std::string Value(const std::string& key, const char* name) {
  uint32_t size = 0;
  if (lxos::RegQueryValue(key.c_str(), name, nullptr, nullptr, &size) != lxos::kRegOk) return "missing";
  std::string data(size, '\0');
  lxos::RegQueryValue(key.c_str(), name, nullptr, &data[0], &size);
  return data;
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
    auto apply = [&](int k, int32_t n, void (S::*step)()) {
      step != nullptr ? (s->*step)() : (s->*kRecords[k + 1].add)(n);
      count[k] += static_cast<uint32_t>(n);
      slot[k] = n == 1 || n == -1 ? count[k] : slot[k] + static_cast<uint32_t>(n);
      for (int j = 0; j < 15; ++j) ASSERT_EQ(slot[j], Slot(j)) << "slot " << j << " after a change of " << k;
    };
    for (int k = 0; k < 15; ++k) {
      const auto& r = kRecords[k + 1];
      if (r.inc != nullptr) apply(k, 1, r.inc);
      for (int i = 0; r.dec != nullptr && i < 2; ++i) apply(k, -1, r.dec);
      if (r.add == nullptr) continue;
      view[672 + 8 * k] = 100;
      slot[k] = (slot[k] & ~0xFFu) | 100;
      for (int32_t n : {5, 0, 1, -1, -20, INT32_MAX, INT32_MAX}) apply(k, n, nullptr);
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

}  // namespace
}  // namespace lxtest

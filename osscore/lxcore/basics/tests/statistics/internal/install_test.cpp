// Installing and removing the counters in a prepared registry store: index
// arithmetic, the multi-strings of every language, and refusals that change
// nothing.
#include <string>
#include <utility>
#include <vector>

#include "os/registry.h"
#include "statistics/prfdata.h"
#include "stats_fixture.h"

namespace statstest {
namespace {

const char kPerflib[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
const char kService[] = "SYSTEM\\CurrentControlSet\\Services\\Orvanta";
const char kPerformance[] = "SYSTEM\\CurrentControlSet\\Services\\Orvanta\\Performance";

std::string Sub(const char* language) { return std::string(kPerflib) + "\\" + language; }

std::string MultiSz(const std::vector<std::u16string>& strings) {
  std::string bytes;
  for (const std::u16string& s : strings) {
    for (char16_t c : s) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    bytes.append(2, '\0');
  }
  bytes.append(2, '\0');
  return bytes;
}

// A terminated wide string's bytes.
std::string WideSz(const std::u16string& text) { return MultiSz({text}).substr(0, 2 * (text.size() + 1)); }

std::vector<std::u16string> Strings(const std::string& bytes) {
  std::vector<std::u16string> out;
  std::u16string cur;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char16_t c = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                       (static_cast<unsigned char>(bytes[i + 1]) << 8));
    if (c != 0) {
      cur.push_back(c);
    } else if (cur.empty()) {
      break;
    } else {
      out.push_back(cur);
      cur.clear();
    }
  }
  return out;
}

std::string Value(const std::string& key, const char* name, uint32_t* type = nullptr) {
  uint32_t size = 0;
  if (lxos::RegQueryValue(key.c_str(), name, type, nullptr, &size) != lxos::kRegOk) return "<missing>";
  std::string data(size, '\0');
  if (lxos::RegQueryValue(key.c_str(), name, type, size ? &data[0] : nullptr, &size) != lxos::kRegOk)
    return "<err>";
  data.resize(size);
  return data;
}

uint32_t Dword(const std::string& key, const char* name) {
  std::string v = Value(key, name);
  return v.size() == 4 ? Get32(reinterpret_cast<const unsigned char*>(v.data())) : 0xDEADBEEF;
}

void SetDword(const std::string& key, const char* name, uint32_t v) {
  unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                        static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
  ASSERT_EQ(lxos::kRegOk, lxos::RegSetValue(key.c_str(), name, lxos::kRegDword, b, 4));
}

void SetMulti(const std::string& key, const char* name, const std::vector<std::u16string>& strings) {
  std::string b = MultiSz(strings);
  ASSERT_EQ(lxos::kRegOk, lxos::RegCreateKey(key.c_str()));
  ASSERT_EQ(lxos::kRegOk, lxos::RegSetValue(key.c_str(), name, lxos::kRegMultiSz, b.data(),
                                            static_cast<uint32_t>(b.size())));
}

// Every value under the keys the installer touches, to show that a refusal
// changed nothing.
std::vector<std::pair<std::string, std::string>> Snapshot() {
  std::vector<std::pair<std::string, std::string>> all;
  std::vector<std::string> keys = {kPerflib, kPerformance};
  std::string sub;
  for (uint32_t i = 0; lxos::RegEnumKey(kPerflib, i, &sub) == lxos::kRegOk; ++i)
    keys.push_back(Sub(sub.c_str()));
  for (const std::string& key : keys) {
    all.emplace_back(key, lxos::RegKeyExists(key.c_str()) == lxos::kRegOk ? "exists" : "missing");
    std::string name;
    uint32_t type = 0;
    for (uint32_t i = 0; lxos::RegEnumValue(key.c_str(), i, &name, &type) == lxos::kRegOk; ++i) {
      all.emplace_back(key + "|" + name, Value(key, name.c_str()));
    }
  }
  return all;
}

const std::vector<std::u16string> kEnglishCounter = {u"1", u"1847", u"1846", u"Some Product"};
const std::vector<std::u16string> kEnglishHelp = {u"3", u"Help for one", u"1847", u"Some help"};
const std::vector<std::u16string> kGermanCounter = {u"1", u"1847"};

class StatisticsInstall : public StatsTest {
 protected:
  void SetUp() override {
    StatsTest::SetUp();
    ASSERT_EQ(lxos::kRegOk, lxos::RegCreateKey(kPerflib));
    SetDword(kPerflib, "Last Counter", 1846);
    SetDword(kPerflib, "Last Help", 1847);
    SetMulti(Sub("009"), "Counter", kEnglishCounter);
    SetMulti(Sub("009"), "Help", kEnglishHelp);
    SetMulti(Sub("007"), "Counter", kGermanCounter);
    SetMulti(Sub("007"), "Help", {});
    // A sub-key whose name does not fit the ten-character buffer ends the walk.
    SetMulti(Sub("TooLongName"), "Counter", {u"5"});
    SetMulti(Sub("011"), "Counter", {u"7"});
  }
  lxstats::PrfData& provider = lxstats::PrfDataProvider();
};

TEST_F(StatisticsInstall, TakesTheNextIndexesAndAppendsEveryLanguage) {
  ASSERT_EQ(0, provider.Install("/opt/orvanta/lib/lx95Cbs71.so"));
  EXPECT_EQ(1878u, Dword(kPerflib, "Last Counter"));
  EXPECT_EQ(1879u, Dword(kPerflib, "Last Help"));
  EXPECT_EQ(1848u, Dword(kPerformance, "First Counter"));
  EXPECT_EQ(1849u, Dword(kPerformance, "First Help"));
  EXPECT_EQ(1878u, Dword(kPerformance, "Last Counter"));
  EXPECT_EQ(1879u, Dword(kPerformance, "Last Help"));
  EXPECT_EQ(0u, Dword(kPerformance, "Disable Performance Counters"));
  uint32_t type = 0;
  EXPECT_EQ(WideSz(u"/opt/orvanta/lib/lx95Cbs71.so"), Value(kPerformance, "Library", &type));
  EXPECT_EQ(static_cast<uint32_t>(lxos::kRegSz), type);
  EXPECT_EQ(WideSz(u"PrfData_Open"), Value(kPerformance, "Open"));
  EXPECT_EQ(WideSz(u"PrfData_Close"), Value(kPerformance, "Close"));
  EXPECT_EQ(WideSz(u"PrfData_Collect"), Value(kPerformance, "Collect"));

  std::vector<std::u16string> counter = Strings(Value(Sub("009"), "Counter", &type));
  EXPECT_EQ(static_cast<uint32_t>(lxos::kRegMultiSz), type);
  ASSERT_EQ(kEnglishCounter.size() + 32, counter.size());
  EXPECT_EQ(u"1848", counter[4]);
  EXPECT_EQ(u"Orvanta", counter[5]);
  EXPECT_EQ(u"1850", counter[6]);
  EXPECT_EQ(u"Transactions   ", counter[7]);
  EXPECT_EQ(u"1854", counter[10]);
  EXPECT_EQ(u"Aborts/sec ", counter[11]);
  EXPECT_EQ(u"1870", counter[26]);
  EXPECT_EQ(u"Locks  ", counter[27]);
  EXPECT_EQ(u"1878", counter[34]);
  EXPECT_EQ(u"Internal Transactions/sec", counter[35]);
  // The value's length counts each string with its terminator and one more.
  EXPECT_EQ(MultiSz(counter), Value(Sub("009"), "Counter"));

  std::vector<std::u16string> help = Strings(Value(Sub("009"), "Help"));
  ASSERT_EQ(kEnglishHelp.size() + 32, help.size());
  EXPECT_EQ(u"1849", help[4]);
  EXPECT_EQ(u"The Orvanta runtime system performance counters", help[5]);
  EXPECT_EQ(u"1851", help[6]);
  EXPECT_EQ(u"The number of currently registered transactions.", help[7]);
  EXPECT_EQ(u"1879", help[34]);
  EXPECT_EQ(u"The number of started internal transactions.   ", help[35]);

  EXPECT_EQ(kGermanCounter.size() + 32, Strings(Value(Sub("007"), "Counter")).size());
  std::vector<std::u16string> germanHelp = Strings(Value(Sub("007"), "Help"));
  ASSERT_EQ(32u, germanHelp.size());
  EXPECT_EQ(u"1849", germanHelp[0]);
  EXPECT_EQ(MultiSz({u"7"}), Value(Sub("011"), "Counter"));
  EXPECT_EQ(MultiSz({u"5"}), Value(Sub("TooLongName"), "Counter"));
}

TEST_F(StatisticsInstall, SecondInstallIsRefusedAndChangesNothing) {
  ASSERT_EQ(0, provider.Install("/a/lib.so"));
  auto before = Snapshot();
  EXPECT_EQ(-1, provider.Install("/b/other.so"));
  EXPECT_EQ(before, Snapshot());
}

TEST_F(StatisticsInstall, RemovalRightAfterInstallRestoresEverything) {
  auto original = Snapshot();
  ASSERT_EQ(0, provider.Install("/a/lib.so"));
  ASSERT_EQ(0, provider.Remove());
  EXPECT_EQ(lxos::kRegNotFound, lxos::RegKeyExists(kPerformance));
  EXPECT_EQ(lxos::kRegOk, lxos::RegKeyExists(kService));
  EXPECT_EQ(original, Snapshot());
  // Installing again takes the same indexes.
  ASSERT_EQ(0, provider.Install("/a/lib.so"));
  EXPECT_EQ(1848u, Dword(kPerformance, "First Counter"));
}

TEST_F(StatisticsInstall, RemovalAfterALaterProductKeepsItsIndexes) {
  ASSERT_EQ(0, provider.Install("/a/lib.so"));
  // Another product installs after us.
  std::vector<std::u16string> counter = Strings(Value(Sub("009"), "Counter"));
  counter.push_back(u"1880");
  counter.push_back(u"Later Product");
  SetMulti(Sub("009"), "Counter", counter);
  SetDword(kPerflib, "Last Counter", 1880);
  SetDword(kPerflib, "Last Help", 1881);
  ASSERT_EQ(0, provider.Remove());
  EXPECT_EQ(1880u, Dword(kPerflib, "Last Counter"));
  EXPECT_EQ(1881u, Dword(kPerflib, "Last Help"));
  std::vector<std::u16string> want = kEnglishCounter;
  want.push_back(u"1880");
  want.push_back(u"Later Product");
  EXPECT_EQ(MultiSz(want), Value(Sub("009"), "Counter"));
  EXPECT_EQ(MultiSz(kEnglishHelp), Value(Sub("009"), "Help"));
  EXPECT_EQ(lxos::kRegNotFound, lxos::RegKeyExists(kPerformance));
}

TEST_F(StatisticsInstall, RemovalRefusalsChangeNothing) {
  auto pristine = Snapshot();
  EXPECT_EQ(-1, provider.Remove());  // not installed
  EXPECT_EQ(pristine, Snapshot());

  ASSERT_EQ(0, provider.Install("/a/lib.so"));
  // Perflib's last indexes below ours: inconsistent.
  SetDword(kPerflib, "Last Counter", 1870);
  auto before = Snapshot();
  EXPECT_EQ(-1, provider.Remove());
  EXPECT_EQ(before, Snapshot());
  SetDword(kPerflib, "Last Counter", 1878);
  SetDword(kPerflib, "Last Help", 1850);
  before = Snapshot();
  EXPECT_EQ(-1, provider.Remove());
  EXPECT_EQ(before, Snapshot());
  SetDword(kPerflib, "Last Help", 1879);
  // An index value missing in the Performance key.
  ASSERT_EQ(lxos::kRegOk, lxos::RegDeleteValue(kPerformance, "First Help"));
  before = Snapshot();
  EXPECT_EQ(-1, provider.Remove());
  EXPECT_EQ(before, Snapshot());
  // First above last in the Performance key.
  SetDword(kPerformance, "First Help", 1881);
  before = Snapshot();
  EXPECT_EQ(-1, provider.Remove());
  EXPECT_EQ(before, Snapshot());
}

TEST_F(StatisticsInstall, LanguagesWithoutTheirTextsAreLeftAlone) {
  ASSERT_EQ(0, provider.Install("/a/lib.so"));
  // A language whose names were lost, and one whose last index was cut off.
  SetMulti(Sub("007"), "Counter", {u"1", u"1847"});
  std::vector<std::u16string> help = Strings(Value(Sub("009"), "Help"));
  help.resize(help.size() - 2);
  SetMulti(Sub("009"), "Help", help);
  ASSERT_EQ(0, provider.Remove());
  EXPECT_EQ(MultiSz({u"1", u"1847"}), Value(Sub("007"), "Counter"));
  EXPECT_EQ(MultiSz(help), Value(Sub("009"), "Help"));
  EXPECT_EQ(MultiSz(kEnglishCounter), Value(Sub("009"), "Counter"));
  EXPECT_EQ(1846u, Dword(kPerflib, "Last Counter"));
}

TEST_F(StatisticsInstall, ValuesWithoutTheirFinalTerminatorsStillGetWholeStrings) {
  // "1", "1847" without the list's terminator, and one string cut short with an
  // odd byte left over.
  std::string counter = MultiSz({u"1", u"1847"});
  counter.resize(counter.size() - 2);
  ASSERT_EQ(lxos::kRegOk, lxos::RegSetValue(Sub("009").c_str(), "Counter", lxos::kRegMultiSz, counter.data(),
                                            static_cast<uint32_t>(counter.size())));
  std::string help = MultiSz({u"3", u"Help"});
  help.resize(help.size() - 3);
  ASSERT_EQ(lxos::kRegOk, lxos::RegSetValue(Sub("009").c_str(), "Help", lxos::kRegMultiSz, help.data(),
                                            static_cast<uint32_t>(help.size())));
  ASSERT_EQ(0, provider.Install("/a/lib.so"));
  std::vector<std::u16string> names = Strings(Value(Sub("009"), "Counter"));
  ASSERT_EQ(34u, names.size());
  EXPECT_EQ(u"1847", names[1]);
  EXPECT_EQ(u"1848", names[2]);
  EXPECT_EQ(MultiSz(names), Value(Sub("009"), "Counter"));
  std::vector<std::u16string> texts = Strings(Value(Sub("009"), "Help"));
  ASSERT_EQ(34u, texts.size());
  EXPECT_EQ(u"Help", texts[1]);
  EXPECT_EQ(u"1849", texts[2]);
  ASSERT_EQ(0, provider.Remove());
  EXPECT_EQ(MultiSz({u"1", u"1847"}), Value(Sub("009"), "Counter"));
  EXPECT_EQ(MultiSz({u"3", u"Help"}), Value(Sub("009"), "Help"));
}

using StatisticsInstallFresh = StatsTest;

TEST_F(StatisticsInstallFresh, EmptyStoreInstallsAtTheStartAndRemovesCleanly) {
  lxstats::PrfData& provider = lxstats::PrfDataProvider();
  ASSERT_EQ(0, provider.Install("/a/lib.so"));
  EXPECT_EQ(32u, Dword(kPerflib, "Last Counter"));
  EXPECT_EQ(33u, Dword(kPerflib, "Last Help"));
  std::vector<std::u16string> counter = Strings(Value(Sub("009"), "Counter"));
  ASSERT_EQ(32u, counter.size());
  EXPECT_EQ(u"2", counter[0]);
  EXPECT_EQ(u"Orvanta", counter[1]);
  ASSERT_EQ(0, provider.Remove());
  // Perflib had no last indexes: they are now written, as 0 and 1.
  EXPECT_EQ(0u, Dword(kPerflib, "Last Counter"));
  EXPECT_EQ(1u, Dword(kPerflib, "Last Help"));
  // The fresh store's lists are empty again (one terminator is enough).
  for (const char* name : {"Counter", "Help"}) {
    std::string value = Value(Sub("009"), name);
    EXPECT_TRUE(Strings(value).empty()) << name;
    ASSERT_GE(value.size(), 2u);
    EXPECT_EQ(std::string(2, '\0'), value.substr(value.size() - 2));
  }
}

}  // namespace
}  // namespace statstest

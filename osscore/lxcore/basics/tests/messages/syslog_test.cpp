// The system log as its users see it: entries read back from the JSON-lines file
// (the datagram form and the fallbacks are the sink's, tests/os).
#include <gtest/gtest.h>
#include <lxframe.h>
#include <lxmessages.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lxtest.h"
#include "os/eventlog.h"

namespace {

constexpr uintptr_t kNone = ~static_cast<uintptr_t>(0);
const std::string kVersion = "(Orvanta 9.5.23.262.0)";
const std::string kPid = std::to_string(getpid());

std::string ProgramPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  return std::string(buf, n > 0 ? size_t(n) : 0);
}

// Each test writes to a log file of its own and leaves the switch as it found it.
class SystemLogTest : public testing::Test {
 protected:
  ~SystemLogTest() override { LxSystemLog()->SetEnabled(1); }
  std::vector<lxos::EventRecord> Entries() {
    std::vector<lxos::EventRecord> entries;
    std::istringstream in(lxtest::ReadFile(path_));
    for (std::string line; std::getline(in, line);) {
      entries.emplace_back();
      EXPECT_TRUE(lxos::EventLogParseLine(line, &entries.back())) << line;
    }
    return entries;
  }
  const std::string path_ = lxtest::MakeTempDir("syslog") + "/Application.log";
  lxtest::ScopedEnv env_{"ORVANTA_EVENTLOG", ("file:" + path_).c_str()};
};

// A log that keeps what Printf hands to Output.
struct CapturingLog : LxVSysLog {
  int Output(int kind, int length, const char* text) override {
    lastKind = kind, lastLength = length, lastText = text;
    return 77;
  }
  int lastKind = -1, lastLength = -1;
  std::string lastText;
};

TEST_F(SystemLogTest, EveryKindHasItsEventTypeIdAndText) {
  const std::string tail = " " + kVersion + "\nPID=" + kPid + "\nEXE=" + ProgramPath();
  const struct {
    int kind;
    const char* text;
    const char* type;
    unsigned eventType;
    uint32_t id;
    std::string message;
  } kCases[] = {
      {1, "t", "success", 0, 1, "SUCCESS: t "},
      {2, "t", "information", 4, 0x40000002, "t"},
      {3, "t", "warning", 2, 0x80000003, "WARNING: t" + tail},
      {4, "t", "error", 1, 0xC0000004, "ERROR: t" + tail},
      {5, "t", "success", 0, 5, "t " + kVersion},
      {6, "t", "success", 0, 6, "t " + kVersion},
      {7, "t", "success", 0, 7, "t" + tail},
      {8, "t", "success", 0, 8, "t " + kVersion + "\nPID=" + kPid},
      {9, "t", "error", 1, 0xC0000009, "t" + tail},
      {10, "t", "error", 1, 0xC000000A, "t" + tail + "\nAborted."},
      {11, "t", "error", 1, 0xC000000B, "t" + tail},
      // Kinds without a text of their own: information, the entry's text alone.
      {0, "t", "information", 4, 0x40000000, "t"},
      {12, "t", "information", 4, 0x4000000C, "t"},
      {0x3FFFFFFF, "t", "information", 4, 0x7FFFFFFF, "t"},
      {-1, "t", "information", 4, 0x3FFFFFFF, "t"},
      // A text that looks like the table's own inserts stays as it is.
      {5, "50%1 done %n%%", "success", 0, 5, "50%1 done %n%% " + kVersion},
  };
  for (const auto& c : kCases) EXPECT_EQ(LxSystemLog()->Printf(c.kind, "%s", c.text), 1) << c.kind;
  std::vector<lxos::EventRecord> entries = Entries();
  ASSERT_EQ(entries.size(), sizeof kCases / sizeof kCases[0]);
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& c = kCases[i];
    const lxos::EventRecord& e = entries[i];
    SCOPED_TRACE(c.kind);
    EXPECT_EQ(e.source, "Orvanta Runtime System");
    EXPECT_EQ(e.type, c.type);
    EXPECT_EQ(e.eventType, c.eventType);
    EXPECT_EQ(e.eventId, c.id);
    EXPECT_EQ(e.message, c.message);
    EXPECT_EQ(std::vector<std::string>(e.strings, e.strings + 4),
              (std::vector<std::string>{kVersion, c.text, kPid, ProgramPath()}));
    EXPECT_TRUE(e.time.size() == 24 && e.time.back() == 'Z') << e.time;  // UTC, ISO 8601
  }
}

TEST_F(SystemLogTest, TextIsCutAfter1023Characters) {
  CapturingLog log;
  std::string big(2000, 'x');
  big[1022] = 'L';
  EXPECT_EQ(log.Printf(3, "%s", big.c_str()), 77);
  EXPECT_EQ(log.lastKind, 3);
  EXPECT_EQ(log.lastLength, 1024);
  EXPECT_EQ(log.lastText, big.substr(0, 1023));
  log.Printf(1, "%s", big.substr(0, 1023).c_str());
  EXPECT_EQ(log.lastLength, 1023);
  const char* none = nullptr;
  log.Printf(1, none);
  EXPECT_EQ(log.lastLength, 0);
  EXPECT_EQ(log.lastText, "");
  ASSERT_EQ(LxSystemLog()->Printf(2, "%s", big.c_str()), 1);
  EXPECT_EQ(Entries().at(0).strings[1], big.substr(0, 1023));
}

TEST_F(SystemLogTest, SwitchKeepsAnyValueAndZeroDropsEntries) {
  LxSysLog log;
  EXPECT_EQ(LxSystemLog()->SetEnabled(5), 1);
  EXPECT_EQ(LxSystemLog()->Printf(2, "while 5"), 1);
  EXPECT_EQ(LxSystemLog()->SetEnabled(0), 5);
  CapturingLog capturing;
  EXPECT_EQ(capturing.Printf(2, "dropped"), 0);
  EXPECT_EQ(capturing.lastKind, -1) << "Output must not be called while switched off";
  EXPECT_EQ(LxSystemLog()->Printf(4, "dropped"), 0);
  log.Open("Module A");  // a switched-off log opens no source
  EXPECT_EQ(log.GetEventSource(), kNone);
  EXPECT_STREQ(log.GetProcessIdText(), "");
  EXPECT_STREQ(log.GetSourceName(), "");
  EXPECT_EQ(LxSystemLog()->SetEnabled(-3), 0);
  EXPECT_EQ(LxSystemLog()->SetEnabled(1), -3);
  EXPECT_EQ(LxSystemLog()->Printf(2, "back"), 1);
  std::vector<lxos::EventRecord> entries = Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].message, "while 5");
  EXPECT_EQ(entries[1].message, "back");
}

TEST_F(SystemLogTest, SourceOpensOnceUnderTheFirstName) {
  LxSysLog named, lazy;
  EXPECT_EQ(named.GetEventLogAvailable(), 1u);
  named.Open("Module A");
  const uintptr_t handle = named.GetEventSource();
  named.Open("Module B");
  EXPECT_EQ(named.GetEventSource(), handle);
  EXPECT_STREQ(named.GetSourceName(), "Module A");
  EXPECT_STREQ(named.GetProcessIdText(), kPid.c_str());
  ASSERT_EQ(named.Printf(2, "from A"), 1);
  EXPECT_EQ(Entries().at(0).source, "Module A");
  // The first entry opens the default source.
  EXPECT_EQ(lazy.GetEventSource(), kNone);
  ASSERT_EQ(lazy.Printf(1, "first"), 1);
  lazy.Open("Too late");
  EXPECT_STREQ(lazy.GetSourceName(), "Orvanta Runtime System");
}

TEST_F(SystemLogTest, ThreadsWritingTheFirstEntriesAtOnceShareOneSource) {
  LxSysLog log;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 20; ++i) log.Printf(2, "thread %d entry %d", t, i);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_STREQ(log.GetSourceName(), "Orvanta Runtime System");
  EXPECT_EQ(Entries().size(), 160u);
}

TEST_F(SystemLogTest, UnavailableWhenOffAtConstructionAndErrorsReported) {
  {
    lxtest::ScopedEnv off("ORVANTA_EVENTLOG", "off");
    LxSysLog log;
    EXPECT_EQ(log.GetEventLogAvailable(), 0u);
    lxtest::ScopedEnv on("ORVANTA_EVENTLOG", ("file:" + path_).c_str());
    log.Open("Module A");  // the flag was taken when the object was built
    EXPECT_EQ(log.GetEventSource(), kNone);
    EXPECT_EQ(log.Printf(4, "dropped"), 0);
  }
  EXPECT_TRUE(Entries().empty());
  const std::string dir = lxtest::MakeTempDir("blocked");
  ASSERT_TRUE(lxtest::WriteFile(dir + "/plain", "not a directory"));
  lxtest::ScopedEnv blocked("ORVANTA_EVENTLOG", ("file:" + dir + "/plain/Application.log").c_str());
  EXPECT_EQ(LxSystemLog()->Printf(4, "lost"), ENOTDIR);
}

TEST_F(SystemLogTest, ForkedChildWritesItsOwnProcessId) {
  ASSERT_EQ(LxSystemLog()->Printf(8, "parent"), 1);
  lxtest::ChildResult child = lxtest::RunInChild(
      [] { return LxSystemLog()->Printf(8, "%d", static_cast<int>(getpid())) == 1 ? 0 : 1; });
  ASSERT_EQ(child.code, 0);
  std::vector<lxos::EventRecord> entries = Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].strings[2], kPid);
  EXPECT_EQ(entries[1].strings[2], entries[1].strings[1]);
}

}  // namespace

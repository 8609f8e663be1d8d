// The system log as its users see it: entries read back from the JSON-lines file (the
// sink's own forms: tests/os), the message table's texts, the source's registration.
#include "messages/syslog.h"

#include <gtest/gtest.h>
#include <lxmessages.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lxtest.h"
#include "messages/message_table.h"
#include "os/eventlog.h"
#include "os/paths.h"
#include "os/registry.h"

namespace {

const std::string kVersion = "(Orvanta 9.5.23.262.0)";
const std::string kPid = std::to_string(getpid());
const std::string kBase = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

const std::string kProgram = std::filesystem::read_symlink("/proc/self/exe");

// Whether a source's key holds both values as registration writes them.
std::string Registration(const std::string& name) {
  const std::string key = kBase + name;
  char file[1100], types[4];
  uint32_t type = 0, typesType = 0, size = sizeof file, typesSize = 4;
  if (lxos::RegKeyExists(key.c_str()) != lxos::kRegOk) return "no key";
  std::string library;
  lxos::LibraryPath(&library);
  const bool ok =
      lxos::RegQueryValue(key.c_str(), "EventMessageFile", &type, file, &size) == lxos::kRegOk &&
      lxos::RegQueryValue(key.c_str(), "TypesSupported", &typesType, types, &typesSize) == lxos::kRegOk;
  return ok && std::string(file, size) == library + '\0' && type == lxos::kRegExpandSz &&
                 typesType == lxos::kRegDword && std::string(types, 4) == std::string("\x07\0\0\0", 4)
             ? "registered"
             : "wrong or missing values";
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
  const std::string tail = " " + kVersion + "\nPID=" + kPid + "\nEXE=" + kProgram;
  const struct {
    int kind;
    const char* type;
    unsigned eventType;
    uint32_t id;
    std::string message;
  } kCases[] = {
      // kinds 2 and 10: lxtool's eventlog rows (tests/tools)
      {1, "success", 0, 1, "SUCCESS: t "},
      {3, "warning", 2, 0x80000003, "WARNING: t" + tail},
      {4, "error", 1, 0xC0000004, "ERROR: t" + tail},
      {5, "success", 0, 5, "t " + kVersion},
      {7, "success", 0, 7, "t" + tail},
      {8, "success", 0, 8, "t " + kVersion + "\nPID=" + kPid},
      {9, "error", 1, 0xC0000009, "t" + tail},
      // Kinds without a text of their own: information, the entry's text alone.
      {0, "information", 4, 0x40000000, "t"},
      {12, "information", 4, 0x4000000C, "t"},
      {-1, "information", 4, 0x3FFFFFFF, "t"},
  };
  for (const auto& c : kCases) EXPECT_EQ(LxSystemLog()->Printf(c.kind, "t"), 1) << c.kind;
  std::vector<lxos::EventRecord> entries = Entries();
  ASSERT_EQ(entries.size(), sizeof kCases / sizeof kCases[0]);
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& c = kCases[i];
    const lxos::EventRecord& e = entries[i];
    EXPECT_TRUE(e.source == "Orvanta Runtime System" && e.type == c.type && e.eventType == c.eventType) << i;
    EXPECT_EQ(e.eventId, c.id) << c.kind;
    EXPECT_EQ(e.message, c.message) << c.kind;
    EXPECT_EQ(std::vector<std::string>(e.strings, e.strings + 4),
              (std::vector<std::string>{kVersion, "t", kPid, kProgram}));
    EXPECT_TRUE(e.time.size() == 24 && e.time.back() == 'Z') << e.time;  // UTC, ISO 8601
  }
  EXPECT_EQ(Registration("Orvanta Runtime System"), "registered");
}

TEST(MessageTable, InsertsEscapesAndLineBreaks) {
  using lxmessages::ExpandMessage;
  const char* const kStrings[4] = {"V", "T", "P", "E"};
  const char* const kSparse[4] = {nullptr, "t", nullptr, nullptr};
  const char* const kTricky[4] = {"%2", "%1%n", "", ""};   // an inserted %-sequence is text
  EXPECT_EQ(ExpandMessage("a%n\r\nb", kStrings), "a\nb");  // %n takes the CR and LF after it
  EXPECT_EQ(ExpandMessage("a%n\nb", kStrings), "a\nb");
  EXPECT_EQ(ExpandMessage("a%n\r\n\r\nb", kStrings), "a\n\r\nb");
  EXPECT_EQ(ExpandMessage("%4 %3 %2 %1", kStrings), "E P T V");
  EXPECT_EQ(ExpandMessage("100%% %5 %x %", kStrings), "100% %5 %x %");
  EXPECT_EQ(ExpandMessage("[%1][%2][%3][%4]", kSparse), "[][t][][]");
  EXPECT_EQ(ExpandMessage(nullptr, kStrings), "");
  EXPECT_EQ(ExpandMessage("%2 %1", kTricky), "%1%n %2");
}

TEST(SystemLogText, IsCutAfter1023Characters) {
  CapturingLog log;
  std::string big(2000, 'x');
  big[1022] = 'L';
  EXPECT_EQ(log.Printf(3, "%s", big.c_str()), 77);
  EXPECT_TRUE(log.lastKind == 3 && log.lastLength == 1024 && log.lastText == big.substr(0, 1023));
  log.Printf(1, "%s", big.substr(0, 1023).c_str());
  EXPECT_EQ(log.lastLength, 1023);
  const char* none = nullptr;
  log.Printf(1, none);
  EXPECT_TRUE(log.lastLength == 0 && log.lastText.empty());
}

// Sources open once, under the first name, and only while the switch is on (it
// keeps any value, zero drops entries) and the log was available when built.
TEST_F(SystemLogTest, SourcesAndTheSwitch) {
  LxSysLog named, lazy, silent;
  named.Open("Query Engine");
  const uintptr_t handle = named.GetEventSource();
  named.Open("Module B");
  EXPECT_EQ(named.GetEventSource(), handle);
  ASSERT_EQ(named.Printf(2, "from A"), 1);
  EXPECT_EQ(Registration("QUERY ENGINE"), "registered");  // names compare without regard to case
  ASSERT_EQ(lazy.Printf(1, "first"), 1);                  // opens the default source
  lazy.Open("Too late");
  EXPECT_STREQ(lazy.GetSourceName(), "Orvanta Runtime System");

  EXPECT_EQ(LxSystemLog()->SetEnabled(5), 1);
  EXPECT_EQ(LxSystemLog()->Printf(2, "while 5"), 1);
  EXPECT_EQ(LxSystemLog()->SetEnabled(0), 5);
  CapturingLog capturing;
  EXPECT_TRUE(capturing.Printf(2, "dropped") == 0 && capturing.lastKind == -1);  // Output is not called
  silent.Open("Silent Module");
  EXPECT_EQ(silent.GetEventSource(), lxos::kNoEventSource);
  EXPECT_EQ(LxSystemLog()->SetEnabled(1), 0);
  {
    lxtest::ScopedEnv off("ORVANTA_EVENTLOG", "off");
    LxSysLog log;
    lxtest::ScopedEnv on("ORVANTA_EVENTLOG", ("file:" + path_).c_str());
    log.Open("Module A");  // the flag was taken when the object was built
    EXPECT_EQ(log.GetEventSource(), lxos::kNoEventSource);
    EXPECT_EQ(log.Printf(4, "dropped"), 0);
  }
  EXPECT_EQ(LxSystemLog()->Printf(2, "back"), 1);
  std::vector<std::string> messages, sources;
  for (const lxos::EventRecord& e : Entries()) messages.push_back(e.strings[1]), sources.push_back(e.source);
  EXPECT_EQ(messages, (std::vector<std::string>{"from A", "first", "while 5", "back"}));
  EXPECT_EQ(sources[0], "Query Engine");
  const std::string dir = lxtest::MakeTempDir("blocked");
  ASSERT_TRUE(lxtest::WriteFile(dir + "/plain", "not a directory"));
  lxtest::ScopedEnv blocked("ORVANTA_EVENTLOG", ("file:" + dir + "/plain/Application.log").c_str());
  EXPECT_EQ(LxSystemLog()->Printf(4, "lost"), ENOTDIR);
}

TEST_F(SystemLogTest, ThreadsAndForkedChildren) {
  LxSysLog log;  // threads writing the first entries at once share one source
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 20; ++i) log.Printf(2, "thread %d entry %d", t, i);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_STREQ(log.GetSourceName(), "Orvanta Runtime System");
  // A forked child writes its own process id.
  lxtest::ChildResult child = lxtest::RunInChild(
      [] { return LxSystemLog()->Printf(8, "%d", static_cast<int>(getpid())) == 1 ? 0 : 1; });
  ASSERT_EQ(child.code, 0);
  std::vector<lxos::EventRecord> entries = Entries();
  ASSERT_EQ(entries.size(), 161u);
  EXPECT_TRUE(entries[160].strings[2] == entries[160].strings[1] && entries[160].strings[2] != kPid);
}

// Registry operations that fail on the n-th value written, and count their calls.
int g_failOnSet = 0, g_sets = 0, g_creates = 0, g_deletes = 0;
int32_t CountingCreate(const char* path) { return ++g_creates, lxos::RegCreateKey(path); }
int32_t RefusingCreate(const char*) { return ++g_creates, lxos::kRegAccessDenied; }
int32_t FailingSet(const char* path, const char* name, uint32_t type, const void* data, uint32_t size) {
  return ++g_sets == g_failOnSet ? lxos::kRegIoFailed : lxos::RegSetValue(path, name, type, data, size);
}
int32_t ThrowingSet(const char*, const char*, uint32_t, const void*, uint32_t) { throw std::bad_alloc(); }
int32_t CountingDelete(const char* path) { return ++g_deletes, lxos::RegDeleteKey(path); }

TEST(EventSourceRegistration, AHalfWrittenKeyIsRemoved) {
  const lxmessages::RegistryOps kOps = {CountingCreate, FailingSet, CountingDelete};
  const struct {
    std::string name;
    lxmessages::RegistryOps ops;
    int failOnSet;
    bool registered;
    int creates, sets, deletes;
  } kCases[] = {
      {"Broken", kOps, 1, false, 1, 1, 1},
      {"Working", kOps, 0, true, 1, 2, 0},
      {"Working", kOps, 2, false, 1, 2, 1},  // takes the earlier key
      {"Refused", {RefusingCreate, FailingSet, CountingDelete}, 0, false, 1, 0, 1},
      {"Thrown", {CountingCreate, ThrowingSet, CountingDelete}, 0, false, 1, 0, 1},
      // The key path is the 55-character base and the name; it must fit 512 bytes.
      {std::string(512 - kBase.size(), 'n'), kOps, 0, false, 0, 0, 0},
      // One that fits is still longer than a key name may be: the store refuses the key.
      {std::string(511 - kBase.size(), 'n'), kOps, 0, false, 1, 0, 1},
  };
  for (const auto& c : kCases) {
    g_failOnSet = c.failOnSet, g_sets = g_creates = g_deletes = 0;
    EXPECT_EQ(lxmessages::RegisterEventSource(c.name.c_str(), c.ops), c.registered) << c.name;
    EXPECT_EQ(std::vector<int>({g_creates, g_sets, g_deletes}),
              std::vector<int>({c.creates, c.sets, c.deletes}))
        << c.name << " " << c.failOnSet;
    EXPECT_EQ(Registration(c.name), c.registered ? "registered" : "no key") << c.name;
  }
  // The parent keys that creating a key made stay.
  EXPECT_EQ(lxos::RegKeyExists(kBase.substr(0, kBase.size() - 1).c_str()), lxos::kRegOk);
}

}  // namespace

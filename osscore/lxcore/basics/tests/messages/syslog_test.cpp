// The system log as its users see it: entries read back from the JSON-lines file
// and from a datagram socket that stands in for the log daemon.
#include <gtest/gtest.h>
#include <lxframe.h>
#include <lxmessages.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "lxtest.h"
#include "syslog_reader.h"

namespace {

using syslogtest::DatagramSink;
using syslogtest::Entry;
using syslogtest::ScopedEnv;

constexpr uintptr_t kNone = ~static_cast<uintptr_t>(0);
const char kVersion[] = "(Orvanta 9.5.23.262.0)";

std::string ProgramPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string Pid() { return std::to_string(getpid()); }

// Replaces {T}, {V}, {P} and {E} in `pattern`.
std::string Expand(std::string pattern, const std::string& text) {
  const std::pair<const char*, std::string> subs[] = {
      {"{T}", text}, {"{V}", kVersion}, {"{P}", Pid()}, {"{E}", ProgramPath()}};
  for (const auto& s : subs) {
    for (size_t at; (at = pattern.find(s.first)) != std::string::npos;) pattern.replace(at, 3, s.second);
  }
  return pattern;
}

// Each test writes to a log file of its own and leaves the switch as it found it.
class SystemLogTest : public testing::Test {
 protected:
  SystemLogTest()
      : path_(lxtest::MakeTempDir("syslog") + "/Application.log"),
        env_("ORVANTA_EVENTLOG", ("file:" + path_).c_str()) {}
  ~SystemLogTest() override { LxSystemLog()->SetEnabled(1); }

  std::vector<Entry> Entries() {
    std::vector<Entry> entries;
    EXPECT_TRUE(syslogtest::ReadEntries(lxtest::ReadFile(path_), &entries));
    return entries;
  }

  std::string path_;
  ScopedEnv env_;
};

// A log that keeps what Printf hands to Output.
class CapturingLog : public LxVSysLog {
 public:
  int Output(int kind, int length, const char* text) override {
    lastKind = kind;
    lastLength = length;
    lastText = text;
    return 77;
  }
  int lastKind = -1;
  int lastLength = -1;
  std::string lastText;
};

TEST_F(SystemLogTest, EveryKindHasItsEventTypeIdAndText) {
  const std::string exeLines = "\nPID={P}\nEXE={E}";
  struct Case {
    int kind;
    const char* type;
    unsigned eventType;
    uint32_t id;
    std::string pattern;
  } cases[] = {
      {1, "success", 0, 1, "SUCCESS: {T} "},
      {2, "information", 4, 0x40000002, "{T}"},
      {3, "warning", 2, 0x80000003, "WARNING: {T} {V}" + exeLines},
      {4, "error", 1, 0xC0000004, "ERROR: {T} {V}" + exeLines},
      {5, "success", 0, 5, "{T} {V}"},
      {6, "success", 0, 6, "{T} {V}"},
      {7, "success", 0, 7, "{T} {V}" + exeLines},
      {8, "success", 0, 8, "{T} {V}\nPID={P}"},
      {9, "error", 1, 0xC0000009, "{T} {V}" + exeLines},
      {10, "error", 1, 0xC000000A, "{T} {V}" + exeLines + "\nAborted."},
      {11, "error", 1, 0xC000000B, "{T} {V}" + exeLines},
      // Kinds without a text of their own: information, the entry's text alone.
      {0, "information", 4, 0x40000000, "{T}"},
      {12, "information", 4, 0x4000000C, "{T}"},
      {0x3FFFFFFF, "information", 4, 0x7FFFFFFF, "{T}"},
      {-1, "information", 4, 0x3FFFFFFF, "{T}"},
  };
  for (const Case& c : cases) EXPECT_EQ(1, LxSystemLog()->Printf(c.kind, "entry %d%%", c.kind)) << c.kind;

  std::vector<Entry> entries = Entries();
  ASSERT_EQ(sizeof cases / sizeof cases[0], entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const Case& c = cases[i];
    Entry& e = entries[i];
    std::string text = "entry " + std::to_string(c.kind) + "%";
    SCOPED_TRACE("kind " + std::to_string(c.kind));
    EXPECT_EQ("Orvanta Runtime System", e.text["source"]);
    EXPECT_EQ(c.type, e.text["type"]);
    EXPECT_EQ(c.eventType, e.number["event_type"]);
    EXPECT_EQ(c.id, e.number["event_id"]);
    EXPECT_EQ(Expand(c.pattern, text), e.text["message"]);
    // A time of day in UTC, in ISO 8601.
    EXPECT_EQ(e.text["time"].size(), 24u);
    EXPECT_EQ('Z', e.text["time"].back());
  }
}

TEST_F(SystemLogTest, ErrorEntryCarriesTheFourInsertionStrings) {
  ASSERT_EQ(1, LxSystemLog()->Printf(4, "%s %d", "cannot open file", 42));
  std::vector<Entry> entries = Entries();
  ASSERT_EQ(1u, entries.size());
  std::vector<std::string> expected = {kVersion, "cannot open file 42", Pid(), ProgramPath()};
  EXPECT_EQ(expected, entries[0].strings);
  EXPECT_STREQ(Pid().c_str(), LxSystemLog()->GetProcessIdText());
}

TEST_F(SystemLogTest, InsertionStringsAreNotExpandedAgain) {
  // A text that looks like the table's own inserts stays as it is.
  ASSERT_EQ(1, LxSystemLog()->Printf(5, "%s", "50%1 done %n%%"));
  std::vector<Entry> entries = Entries();
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(std::string("50%1 done %n%% ") + kVersion, entries[0].text["message"]);
}

TEST_F(SystemLogTest, TextIsCutAfter1023Characters) {
  CapturingLog log;
  std::string big(2000, 'x');
  big[1022] = 'L';
  big[1023] = 'C';
  EXPECT_EQ(77, log.Printf(3, "%s", big.c_str()));
  EXPECT_EQ(1024, log.lastLength);
  EXPECT_EQ(big.substr(0, 1023), log.lastText);
  EXPECT_EQ(3, log.lastKind);

  // Exactly 1,023 characters fit; one more does not.
  log.Printf(1, "%s", std::string(1023, 'y').c_str());
  EXPECT_EQ(1023, log.lastLength);
  EXPECT_EQ(1023u, log.lastText.size());
  log.Printf(1, "%s", std::string(1024, 'z').c_str());
  EXPECT_EQ(1024, log.lastLength);
  EXPECT_EQ(1023u, log.lastText.size());
  log.Printf(1, "%s", "");
  EXPECT_EQ(0, log.lastLength);

  // The real log passes the cut text on as the entry's text.
  ASSERT_EQ(1, LxSystemLog()->Printf(2, "%s", big.c_str()));
  std::vector<Entry> entries = Entries();
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(big.substr(0, 1023), entries[0].strings.at(1));
}

TEST_F(SystemLogTest, SwitchKeepsAnyValueAndZeroDropsEntries) {
  EXPECT_EQ(1, LxSystemLog()->SetEnabled(5));
  EXPECT_EQ(1, LxSystemLog()->Printf(2, "while 5"));
  EXPECT_EQ(5, LxSystemLog()->SetEnabled(0));
  CapturingLog capturing;
  EXPECT_EQ(0, capturing.Printf(2, "dropped"));
  EXPECT_EQ(-1, capturing.lastKind) << "Output must not be called while switched off";
  EXPECT_EQ(0, LxSystemLog()->Printf(4, "dropped"));
  EXPECT_EQ(0, LxSystemLog()->SetEnabled(-3));
  EXPECT_EQ(-3, LxSystemLog()->SetEnabled(1));
  EXPECT_EQ(1, LxSystemLog()->Printf(2, "back"));
  std::vector<Entry> entries = Entries();
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ("while 5", entries[0].text["message"]);
  EXPECT_EQ("back", entries[1].text["message"]);
}

TEST_F(SystemLogTest, SwitchedOffLogOpensNoSource) {
  LxSysLog log;
  ASSERT_EQ(1u, log.GetEventLogAvailable());
  LxSystemLog()->SetEnabled(0);
  EXPECT_EQ(0, log.Printf(4, "nothing"));
  log.Open("Module A");
  EXPECT_EQ(kNone, log.GetEventSource());
  EXPECT_STREQ("", log.GetSourceName());
  EXPECT_STREQ("", log.GetProcessIdText());
  LxSystemLog()->SetEnabled(1);
  log.Open("Module A");
  EXPECT_NE(kNone, log.GetEventSource());
  EXPECT_STREQ("Module A", log.GetSourceName());
  EXPECT_TRUE(Entries().empty());
}

TEST_F(SystemLogTest, OpenTakesTheFirstNameAndKeepsIt) {
  LxSysLog log;
  log.Open("Module A");
  uintptr_t handle = log.GetEventSource();
  log.Open("Module B");
  log.Open(nullptr);
  EXPECT_EQ(handle, log.GetEventSource());
  EXPECT_STREQ("Module A", log.GetSourceName());
  EXPECT_STREQ(Pid().c_str(), log.GetProcessIdText());
  ASSERT_EQ(1, log.Printf(2, "from A"));
  std::vector<Entry> entries = Entries();
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ("Module A", entries[0].text["source"]);
}

TEST_F(SystemLogTest, FirstEntryOpensTheDefaultSource) {
  LxSysLog log;
  EXPECT_EQ(kNone, log.GetEventSource());
  ASSERT_EQ(1, log.Printf(1, "first"));
  EXPECT_STREQ("Orvanta Runtime System", log.GetSourceName());
  log.Open("Too late");
  EXPECT_STREQ("Orvanta Runtime System", log.GetSourceName());
}

TEST_F(SystemLogTest, ThreadsWritingTheFirstEntriesAtOnceShareOneSource) {
  LxSysLog log;
  constexpr int kThreads = 8, kEach = 20;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kEach; ++i) log.Printf(2, "thread %d entry %d", t, i);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_STREQ("Orvanta Runtime System", log.GetSourceName());
  std::vector<Entry> entries = Entries();
  ASSERT_EQ(static_cast<size_t>(kThreads * kEach), entries.size());
  for (Entry& e : entries) EXPECT_EQ(0u, e.text["message"].find("thread "));
}

TEST_F(SystemLogTest, LogIsUnavailableWhenOffAtConstruction) {
  {
    ScopedEnv off("ORVANTA_EVENTLOG", "off");
    LxSysLog log;
    EXPECT_EQ(0u, log.GetEventLogAvailable());
    EXPECT_EQ(0, log.Printf(4, "dropped"));
  }
  {
    ScopedEnv off("ORVANTA_EVENTLOG", "off");
    LxSysLog log;
    ScopedEnv on("ORVANTA_EVENTLOG", ("file:" + path_).c_str());
    // The flag was taken when the object was built.
    log.Open("Module A");
    EXPECT_EQ(kNone, log.GetEventSource());
    EXPECT_EQ(0, log.Printf(4, "dropped"));
  }
  EXPECT_TRUE(lxtest::ReadFile(path_).empty());
}

TEST_F(SystemLogTest, FailedWriteReturnsTheErrorNumber) {
  std::string dir = lxtest::MakeTempDir("blocked");
  ASSERT_TRUE(lxtest::WriteFile(dir + "/plain", "not a directory"));
  ScopedEnv blocked("ORVANTA_EVENTLOG", ("file:" + dir + "/plain/Application.log").c_str());
  EXPECT_EQ(ENOTDIR, LxSystemLog()->Printf(4, "lost"));
}

TEST_F(SystemLogTest, DatagramCarriesTheRenderedTextWithItsPriority) {
  std::string socketPath = lxtest::MakeTempDir("sock") + "/log";
  DatagramSink daemon(socketPath);
  ASSERT_TRUE(daemon.ok());
  ScopedEnv toSocket("ORVANTA_EVENTLOG", ("syslog:" + socketPath).c_str());
  struct {
    int kind;
    const char* priority;
    std::string message;
  } cases[] = {
      {1, "<13>", "SUCCESS: disk ok "},
      {2, "<14>", "disk ok"},
      {3, "<12>", Expand("WARNING: disk ok {V}\nPID={P}\nEXE={E}", "")},
      {4, "<11>", Expand("ERROR: disk ok {V}\nPID={P}\nEXE={E}", "")},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(1, LxSystemLog()->Printf(c.kind, "disk %s", "ok"));
    std::string datagram = daemon.Receive();
    SCOPED_TRACE(datagram);
    EXPECT_EQ(0u, datagram.find(c.priority));
    // "<PRI>Mmm dd hh:mm:ss " then the identifier with its process id.
    std::string tag = "Orvanta_Runtime_System[" + Pid() + "]: ";
    ASSERT_EQ(std::strlen(c.priority) + 16, datagram.find(tag));
    EXPECT_EQ(c.message, datagram.substr(datagram.find(tag) + tag.size()));
  }
  EXPECT_TRUE(lxtest::ReadFile(path_).empty());
}

TEST_F(SystemLogTest, RefusedDatagramGoesToTheStateFile) {
  std::string dir = lxtest::MakeTempDir("nodaemon");
  std::string fallback = lxtest::StateDir() + "/eventlog/Application.log";
  std::string before = lxtest::ReadFile(fallback);
  {
    // A socket file whose daemon has gone: the datagram is refused.
    DatagramSink gone(dir + "/gone");
    ASSERT_TRUE(gone.ok());
  }
  ScopedEnv toSocket("ORVANTA_EVENTLOG", ("syslog:" + dir + "/missing").c_str());
  ASSERT_EQ(1, LxSystemLog()->Printf(4, "no daemon"));
  ScopedEnv toGone("ORVANTA_EVENTLOG", ("syslog:" + dir + "/gone").c_str());
  ASSERT_EQ(1, LxSystemLog()->Printf(2, "daemon gone"));

  std::string added = lxtest::ReadFile(fallback).substr(before.size());
  std::vector<Entry> entries;
  ASSERT_TRUE(syslogtest::ReadEntries(added, &entries));
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(0xC0000004u, entries[0].number["event_id"]);
  EXPECT_EQ("no daemon", entries[0].strings.at(1));
  EXPECT_EQ("daemon gone", entries[1].text["message"]);
}

TEST_F(SystemLogTest, ForkedChildWritesItsOwnProcessId) {
  ASSERT_EQ(1, LxSystemLog()->Printf(8, "parent"));
  lxtest::ChildResult child = lxtest::RunInChild(
      [] { return LxSystemLog()->Printf(8, "%d", static_cast<int>(getpid())) == 1 ? 0 : 1; });
  ASSERT_TRUE(child.exited);
  ASSERT_EQ(0, child.code);
  std::vector<Entry> entries = Entries();
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(Pid(), entries[0].strings.at(2));
  EXPECT_EQ(entries[1].strings.at(1), entries[1].strings.at(2));
  EXPECT_NE(Pid(), entries[1].strings.at(2));
}

TEST_F(SystemLogTest, NullFormatWritesAnEmptyText) {
  const char* format = nullptr;
  CapturingLog log;
  log.Printf(2, format);
  EXPECT_EQ(0, log.lastLength);
  EXPECT_EQ("", log.lastText);
}

#if !defined(__SANITIZE_ADDRESS__)
// A memory handler that reports through both objects, as the library's default
// handler does, and notes how deeply it was nested.
int g_depth = 0;
int g_maxDepth = 0;
int32_t ReportingHandler(uint32_t size) {
  ++g_depth;
  if (g_depth > g_maxDepth) g_maxDepth = g_depth;
  LxSystemLog()->Printf(10, "out of memory (%u)", size);
  LxMessage()->Printf(nullptr, 0, "out of memory (%u)", size);
  --g_depth;
  return 0;
}

// Uses up the heap of the calling process (the blocks stay in use).
void ExhaustHeap() {
  static void* chain = nullptr;
  for (size_t block : {size_t{1} << 16, size_t{4096}, size_t{64}, size_t{16}}) {
    while (void* p = std::malloc(block)) {
      *static_cast<void**>(p) = chain;
      chain = p;
    }
  }
}

TEST_F(SystemLogTest, ReportingOutOfMemoryWhileMemoryIsGoneEnds) {
  // With the heap used up, writing the entry and showing the message fail to
  // allocate in turn; the handler is called again from inside them and must
  // neither recurse without end nor wait for itself.
  lxtest::ChildResult child = lxtest::RunWithMemoryLimit(64 << 20, [] {
    alarm(30);
    mmLxSetHandler(ReportingHandler);
    ExhaustHeap();
    try {
      char* p = new char[1 << 20];
      delete[] p;
      return 1;
    } catch (const std::bad_alloc&) {
    }
    return g_maxDepth >= 2 ? 0 : 2;
  });
  EXPECT_TRUE(child.exited) << "signal " << child.signal;
  EXPECT_EQ(0, child.code) << "2: the handler was never called from inside the objects";
}

TEST_F(SystemLogTest, OpeningWhileMemoryIsGoneEnds) {
  lxtest::ChildResult child = lxtest::RunWithMemoryLimit(64 << 20, [] {
    alarm(30);
    LxSysLog log;
    mmLxSetHandler(ReportingHandler);
    ExhaustHeap();
    log.Open("Opened without memory");
    return g_maxDepth >= 1 ? 0 : 2;
  });
  EXPECT_TRUE(child.exited) << "signal " << child.signal;
  EXPECT_EQ(0, child.code) << "2: opening did not run out of memory";
}
#endif

}  // namespace

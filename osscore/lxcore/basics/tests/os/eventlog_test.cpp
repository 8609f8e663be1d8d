// The system-log sink: target selection, the file's line format (fixed vectors
// and round trips), datagrams to a socket the test binds, the fallback to the
// state file, failed appends, and appends from several processes at once.
#include "os/eventlog.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "lxtest.h"
#include "os/syscall.h"

namespace {

class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    const char* v = std::getenv(name);
    if ((had_ = v != nullptr)) old_ = v;
  }
  ~EnvGuard() {
    if (had_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  std::istringstream in(content);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int BindSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

const char* const kStrings[4] = {"(Orvanta 9.5.23.262.0)", "text", "123", "/bin/prog"};

TEST(EventLogTarget, FollowsTheEnvironment) {
  EnvGuard guard("ORVANTA_EVENTLOG");
  setenv("ORVANTA_EVENTLOG", "off", 1);
  EXPECT_EQ(lxos::EventTarget::kOff, lxos::EventLogTarget().target);
  EXPECT_FALSE(lxos::EventLogAvailable());

  setenv("ORVANTA_EVENTLOG", "syslog:/run/x.sock", 1);
  lxos::EventSink sink = lxos::EventLogTarget();
  EXPECT_EQ(lxos::EventTarget::kSyslog, sink.target);
  EXPECT_EQ("/run/x.sock", sink.path);
  EXPECT_TRUE(lxos::EventLogAvailable());

  setenv("ORVANTA_EVENTLOG", "file:/var/x.log", 1);
  sink = lxos::EventLogTarget();
  EXPECT_EQ(lxos::EventTarget::kFile, sink.target);
  EXPECT_EQ("/var/x.log", sink.path);

  // Unset, empty targets and unknown values: the daemon if there is one.
  struct stat st;
  bool daemon = stat("/dev/log", &st) == 0 && S_ISSOCK(st.st_mode);
  for (const char* value : {static_cast<const char*>(nullptr), "", "syslog:", "file:", "OFF", "journal"}) {
    if (value) {
      setenv("ORVANTA_EVENTLOG", value, 1);
    } else {
      unsetenv("ORVANTA_EVENTLOG");
    }
    sink = lxos::EventLogTarget();
    SCOPED_TRACE(value ? value : "(unset)");
    if (daemon) {
      EXPECT_EQ(lxos::EventTarget::kSyslog, sink.target);
      EXPECT_EQ("/dev/log", sink.path);
    } else {
      EXPECT_EQ(lxos::EventTarget::kFile, sink.target);
      EXPECT_EQ(lxtest::StateDir() + "/eventlog/Application.log", sink.path);
    }
  }
  EXPECT_EQ(lxtest::StateDir() + "/eventlog/Application.log", lxos::EventLogDefaultFile());
}

TEST(EventLogFormat, LineMatchesFixedVector) {
  lxos::EventRecord r;
  r.time = "2026-01-02T03:04:05.678Z";
  r.source = "Orvanta Runtime System";
  r.type = "error";
  r.eventType = 1;
  r.eventId = 0xC0000004;
  r.strings[0] = "(Orvanta 9.5.23.262.0)";
  r.strings[1] = "say \"hi\"\\ \t\x01";
  r.strings[2] = "42";
  // Valid UTF-8 (two and four bytes) is kept; a lone Latin-1 byte, a surrogate
  // and an overlong form are escaped byte by byte.
  r.strings[3] = "/opt/\xC3\xA9t\xE9\xF0\x9F\x98\x80\xED\xA0\x80\xC0\xAF";
  r.message = "ERROR: x\nPID=42\r";
  EXPECT_EQ(
      "{\"time\":\"2026-01-02T03:04:05.678Z\",\"source\":\"Orvanta Runtime System\",\"type\":\"error\","
      "\"event_type\":1,\"event_id\":3221225476,\"strings\":[\"(Orvanta 9.5.23.262.0)\","
      "\"say \\\"hi\\\"\\\\ \\t\\u0001\",\"42\","
      "\"/opt/\xC3\xA9t\\u00e9\xF0\x9F\x98\x80\\u00ed\\u00a0\\u0080\\u00c0\\u00af\"],"
      "\"message\":\"ERROR: x\\nPID=42\\r\"}\n",
      lxos::EventLogFormatLine(r));
}

TEST(EventLogFormat, RoundTripsAnyBytes) {
  srand(7);
  for (int round = 0; round < 200; ++round) {
    lxos::EventRecord r;
    r.time = "t";
    r.source = "s";
    r.type = lxos::EventTypeName(static_cast<uint16_t>(round % 5));
    r.eventType = static_cast<uint16_t>(round % 5);
    r.eventId = static_cast<uint32_t>(rand()) * 2654435761u;
    for (std::string* s : {&r.strings[0], &r.strings[1], &r.strings[2], &r.strings[3], &r.message}) {
      int len = rand() % 40;
      for (int i = 0; i < len; ++i) s->push_back(static_cast<char>(1 + rand() % 255));
    }
    std::string line = lxos::EventLogFormatLine(r);
    ASSERT_EQ(line.find('\n'), line.size() - 1) << "one line per entry";
    lxos::EventRecord back;
    ASSERT_TRUE(lxos::EventLogParseLine(line, &back)) << line;
    EXPECT_EQ(r.eventId, back.eventId);
    EXPECT_EQ(r.eventType, back.eventType);
    EXPECT_EQ(r.type, back.type);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r.strings[i], back.strings[i]);
    EXPECT_EQ(r.message, back.message);
  }
}

TEST(EventLogFormat, ParserRefusesBrokenLines) {
  lxos::EventRecord r;
  r.type = "warning";
  r.eventType = 2;
  r.eventId = 7;
  r.message = "m";
  std::string good = lxos::EventLogFormatLine(r);
  ASSERT_TRUE(lxos::EventLogParseLine(good, &r));
  for (size_t cut = 0; cut + 2 < good.size(); cut += 3) {
    EXPECT_FALSE(lxos::EventLogParseLine(good.substr(0, cut), &r)) << cut;
  }
  EXPECT_FALSE(lxos::EventLogParseLine("{\"event_type\":1,\"message\":\"x\"}", &r));  // no id
  EXPECT_FALSE(lxos::EventLogParseLine("{\"event_type\":1,\"event_id\":4294967296}", &r));
  EXPECT_FALSE(lxos::EventLogParseLine("{\"event_type\":1,\"event_id\":1,\"message\":\"\\q\"}", &r));
  EXPECT_FALSE(lxos::EventLogParseLine("{\"event_type\":1,\"event_id\":1} trailing", &r));
  // Members it does not know are skipped.
  ASSERT_TRUE(
      lxos::EventLogParseLine("{\"host\":\"h\",\"n\":-3,\"tags\":[1,\"a\",null],\"event_type\":4,\"event_"
                              "id\":9,\"message\":\"\\u00e9\"}",
                              &r));
  EXPECT_EQ(9u, r.eventId);
  EXPECT_EQ("\xE9", r.message);
}

TEST(EventLogFile, AppendsOneLinePerEntry) {
  EnvGuard guard("ORVANTA_EVENTLOG");
  std::string path = lxtest::MakeTempDir("file") + "/sub/dir/app.log";
  setenv("ORVANTA_EVENTLOG", ("file:" + path).c_str(), 1);
  ASSERT_EQ(0, lxos::EventLogWrite("Src", lxos::kEventWarning, 0x80000003, kStrings, "first\nline"));
  const char* const partial[4] = {nullptr, "only", nullptr, nullptr};
  ASSERT_EQ(0, lxos::EventLogWrite("Src", lxos::kEventSuccess, 1, partial, "second"));
  std::vector<std::string> lines = Lines(lxtest::ReadFile(path));
  ASSERT_EQ(2u, lines.size());
  lxos::EventRecord r;
  ASSERT_TRUE(lxos::EventLogParseLine(lines[0], &r));
  EXPECT_EQ("Src", r.source);
  EXPECT_EQ("warning", r.type);
  EXPECT_EQ(2, r.eventType);
  EXPECT_EQ(0x80000003u, r.eventId);
  EXPECT_EQ("first\nline", r.message);
  EXPECT_EQ("/bin/prog", r.strings[3]);
  // The time is now, in UTC.
  time_t now = time(nullptr);
  tm t{};
  ASSERT_NE(nullptr, strptime(r.time.c_str(), "%Y-%m-%dT%H:%M:%S", &t));
  EXPECT_LE(std::labs(static_cast<long>(timegm(&t) - now)), 5L);
  ASSERT_TRUE(lxos::EventLogParseLine(lines[1], &r));
  EXPECT_EQ("success", r.type);
  EXPECT_EQ("", r.strings[0]);
  EXPECT_EQ("only", r.strings[1]);
}

TEST(EventLogFile, OffWritesNothingAndFailedAppendsGiveTheirError) {
  EnvGuard guard("ORVANTA_EVENTLOG");
  std::string before = lxtest::ReadFile(lxos::EventLogDefaultFile());
  setenv("ORVANTA_EVENTLOG", "off", 1);
  EXPECT_EQ(0, lxos::EventLogWrite("Src", lxos::kEventError, 4, kStrings, "gone"));
  EXPECT_EQ(before, lxtest::ReadFile(lxos::EventLogDefaultFile()));
  // Interrupted calls are repeated (an interrupted close has closed all the
  // same); a call that fails ends the append with its error number. The entry
  // is named after the failing call.
  const std::string path = lxtest::MakeTempDir("faults") + "/app.log";
  setenv("ORVANTA_EVENTLOG", ("file:" + path).c_str(), 1);
  const struct {
    const char* call;
    int error;
  } kFaults[] = {{"open", EINTR},  {"flock", EINTR}, {"write", EINTR},
                 {"close", EINTR}, {"open", EACCES}, {"write", ENOSPC}};
  for (const auto& f : kFaults) {
    ASSERT_TRUE(lxos::FailSyscall(f.call, f.error, 1));
    EXPECT_EQ(f.error == EINTR ? 0 : f.error, lxos::EventLogWrite("Src", 1, 4, kStrings, f.call)) << f.call;
    EXPECT_EQ(1, lxos::InjectedFailures(f.call)) << f.call;
    lxos::ResetSyscalls();
  }
  std::vector<std::string> lines = Lines(lxtest::ReadFile(path));
  ASSERT_EQ(4u, lines.size());
  lxos::EventRecord r;
  for (size_t i = 0; i < lines.size(); ++i) {
    ASSERT_TRUE(lxos::EventLogParseLine(lines[i], &r));
    EXPECT_EQ(kFaults[i].call, r.message);
  }
  EXPECT_EQ(EINVAL, lxos::EventSourceReport(lxos::kNoEventSource, lxos::kEventSuccess, 1, kStrings, "x"));
}

TEST(EventLogFile, ConcurrentWritersNeverInterleave) {
  EnvGuard guard("ORVANTA_EVENTLOG");
  std::string path = lxtest::MakeTempDir("many") + "/app.log";
  setenv("ORVANTA_EVENTLOG", ("file:" + path).c_str(), 1);
  constexpr int kChildren = 4, kEach = 150;
  std::vector<pid_t> pids;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::string big(3000, static_cast<char>('a' + c));
      for (int i = 0; i < kEach; ++i) {
        std::string text = std::to_string(c) + ":" + std::to_string(i) + ":" + big;
        if (lxos::EventLogWrite("Src", lxos::kEventInformation, 2, kStrings, text) != 0) _exit(1);
      }
      _exit(0);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<std::string> lines = Lines(lxtest::ReadFile(path));
  ASSERT_EQ(static_cast<size_t>(kChildren * kEach), lines.size());
  std::set<std::string> seen;
  for (const std::string& line : lines) {
    lxos::EventRecord r;
    ASSERT_TRUE(lxos::EventLogParseLine(line, &r));
    size_t colon = r.message.find(':', r.message.find(':') + 1);
    ASSERT_NE(std::string::npos, colon);
    char fill = r.message[colon + 1];
    EXPECT_EQ(std::string(3000, fill), r.message.substr(colon + 1));
    seen.insert(r.message.substr(0, colon));
  }
  EXPECT_EQ(static_cast<size_t>(kChildren * kEach), seen.size());
}

TEST(EventLogSyslog, DatagramFormat) {
  EnvGuard tz("TZ");
  setenv("TZ", "UTC", 1);
  tzset();
  const int64_t when = 1767323045;  // 2026-01-02 03:04:05 UTC
  EXPECT_EQ("<11>Jan  2 03:04:05 Orvanta_Runtime_System[42]: ERROR: a\nb",
            lxos::SyslogDatagram("Orvanta Runtime System", lxos::kEventError, "ERROR: a\nb", 42, when));
  EXPECT_EQ("<12>Jan  2 03:04:05 a_b_c_d_e[7]: w",
            lxos::SyslogDatagram("a:b[c]d\te", lxos::kEventWarning, "w", 7, when));
  EXPECT_EQ("<13>Jan  2 03:04:05 s[1]: ", lxos::SyslogDatagram("s", lxos::kEventSuccess, "", 1, when));
  EXPECT_EQ("<14>Jan 12 03:04:05 s[1]: i",
            lxos::SyslogDatagram("s", lxos::kEventInformation, "i", 1, when + 10 * 86400));
  EXPECT_EQ("<14>Jan  2 03:04:05 s[1]: i", lxos::SyslogDatagram("s", 99, "i", 1, when));
}

TEST(EventLogSyslog, SendsToTheBoundSocketAndFallsBackWhenRefused) {
  EnvGuard guard("ORVANTA_EVENTLOG");
  const std::string fallback = lxos::EventLogDefaultFile();
  const size_t baseline = Lines(lxtest::ReadFile(fallback)).size();
  std::string dir = lxtest::MakeTempDir("sock");
  int fd = BindSocket(dir + "/log");
  ASSERT_GE(fd, 0);
  setenv("ORVANTA_EVENTLOG", ("syslog:" + dir + "/log").c_str(), 1);
  ASSERT_EQ(0, lxos::EventLogWrite("My Source", lxos::kEventError, 0xC0000004, kStrings, "ERROR: it\nPID=1"));
  char buf[4096];
  ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  ASSERT_GT(n, 0);
  std::string datagram(buf, static_cast<size_t>(n));
  std::string tail = "My_Source[" + std::to_string(getpid()) + "]: ERROR: it\nPID=1";
  EXPECT_EQ(0u, datagram.find("<11>"));
  EXPECT_EQ(datagram.size() - tail.size(), datagram.find(tail)) << datagram;
  EXPECT_EQ(baseline, Lines(lxtest::ReadFile(fallback)).size());

  // A daemon that has gone, and one whose queue is full: the entry lands in the
  // state file.
  close(fd);
  ASSERT_EQ(0, lxos::EventLogWrite("My Source", lxos::kEventWarning, 3, kStrings, "refused"));
  fd = BindSocket(dir + "/full");
  ASSERT_GE(fd, 0);
  setenv("ORVANTA_EVENTLOG", ("syslog:" + dir + "/full").c_str(), 1);
  std::string big(60000, 'q');
  int fallbacks = 0;
  const size_t before = Lines(lxtest::ReadFile(fallback)).size();
  for (int i = 0; i < 200 && fallbacks == 0; ++i) {
    ASSERT_EQ(0, lxos::EventLogWrite("My Source", lxos::kEventInformation, 2, kStrings, big));
    fallbacks = static_cast<int>(Lines(lxtest::ReadFile(fallback)).size() - before);
  }
  close(fd);
  EXPECT_EQ(1, fallbacks);
  std::vector<std::string> lines = Lines(lxtest::ReadFile(fallback));
  ASSERT_EQ(baseline + 2, lines.size());
  lxos::EventRecord r;
  ASSERT_TRUE(lxos::EventLogParseLine(lines[baseline], &r));
  EXPECT_EQ("refused", r.message);
  EXPECT_EQ("My Source", r.source);
  ASSERT_TRUE(lxos::EventLogParseLine(lines[baseline + 1], &r));
  EXPECT_EQ(big, r.message);
}

}  // namespace

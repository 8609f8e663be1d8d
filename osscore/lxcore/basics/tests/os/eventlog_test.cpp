// The system-log sink (round trips of any bytes: the eventlog_line fuzz model) and
// the atomic file writer, each step's failure injected through the system-call table.
#include "os/eventlog.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "lxtest.h"
#include "os/atomic_file.h"
#include "os/syscall.h"

namespace {

const char* const kStrings[4] = {"(Orvanta 9.5.23.262.0)", "text", "123", "/bin/prog"};

std::vector<lxos::EventRecord> Entries(const std::string& path) {
  std::vector<lxos::EventRecord> entries;
  std::istringstream in(lxtest::ReadFile(path));
  for (std::string line; std::getline(in, line);) {
    entries.emplace_back();
    EXPECT_TRUE(lxos::EventLogParseLine(line, &entries.back())) << line;
  }
  return entries;
}

TEST(EventLogTarget, FollowsTheEnvironment) {
  const bool daemon = std::filesystem::is_socket("/dev/log");
  EXPECT_EQ(lxos::EventLogDefaultFile(), lxtest::StateDir() + "/eventlog/Application.log");
  const lxos::EventSink byDefault{daemon ? lxos::EventTarget::kSyslog : lxos::EventTarget::kFile,
                                  daemon ? "/dev/log" : lxos::EventLogDefaultFile()};
  const std::pair<const char*, lxos::EventSink> kCases[] = {
      {"off", {lxos::EventTarget::kOff, ""}},
      {"syslog:/run/x.sock", {lxos::EventTarget::kSyslog, "/run/x.sock"}},
      {"file:/var/x.log", {lxos::EventTarget::kFile, "/var/x.log"}},
      // Unset, empty targets and unknown values: the daemon if there is one.
      {nullptr, byDefault},
      {"", byDefault},
      {"syslog:", byDefault},
      {"file:", byDefault},
      {"OFF", byDefault}};
  for (const auto& [setting, expected] : kCases) {
    lxtest::ScopedEnv env("ORVANTA_EVENTLOG", setting);
    const lxos::EventSink sink = lxos::EventLogTarget();
    EXPECT_TRUE(sink.target == expected.target && sink.path == expected.path)
        << (setting ? setting : "unset");
  }
}

TEST(EventLogFormat, LineMatchesFixedVectorAndBrokenLinesAreRefused) {
  // Valid UTF-8 (two and four bytes) is kept; a lone Latin-1 byte, a surrogate and an
  // overlong form are escaped byte by byte.
  lxos::EventRecord r{"2026-01-02T03:04:05.678Z", "Orvanta Runtime System", "error", 1, 0xC0000004, {}, {}};
  const char* const kStringsIn[4] = {"(Orvanta 9.5.23.262.0)", "say \"hi\"\\ \t\x01", "42",
                                     "/opt/\xC3\xA9t\xE9\xF0\x9F\x98\x80\xED\xA0\x80\xC0\xAF"};
  for (int i = 0; i < 4; ++i) r.strings[i] = kStringsIn[i];
  r.message = "ERROR: x\nPID=42\r";
  const std::string line = lxos::EventLogFormatLine(r);
  EXPECT_EQ(line,
            "{\"time\":\"2026-01-02T03:04:05.678Z\",\"source\":\"Orvanta Runtime System\",\"type\":\"error\","
            "\"event_type\":1,\"event_id\":3221225476,\"strings\":[\"(Orvanta 9.5.23.262.0)\","
            "\"say \\\"hi\\\"\\\\ \\t\\u0001\",\"42\","
            "\"/opt/\xC3\xA9t\\u00e9\xF0\x9F\x98\x80\\u00ed\\u00a0\\u0080\\u00c0\\u00af\"],"
            "\"message\":\"ERROR: x\\nPID=42\\r\"}\n");
  for (size_t cut = 0; cut + 1 < line.size(); ++cut)
    EXPECT_FALSE(lxos::EventLogParseLine(line.substr(0, cut), &r));
  for (const char* bad :
       {"{\"event_type\":1,\"message\":\"x\"}", "{\"event_type\":1,\"event_id\":4294967296}",
        "{\"event_type\":1,\"event_id\":1,\"message\":\"\\q\"}",
        "{\"event_type\":1,\"event_id\":1} trailing"}) {
    EXPECT_FALSE(lxos::EventLogParseLine(bad, &r)) << bad;
  }
  // Unknown members are skipped.
  ASSERT_TRUE(lxos::EventLogParseLine(
      "{\"host\":\"h\",\"n\":-3,\"z\":0,\"tags\":[1,\"a\",null],\"event_type\":4,\"event_"
      "id\":9,\"message\":\"\\u00e9\"}",
      &r));
  EXPECT_TRUE(r.eventId == 9u && r.message == "\xE9") << r.message;
}

TEST(EventLogFile, AppendsOneLinePerEntryAndReportsFailedAppends) {
  const std::string path = lxtest::MakeTempDir("file") + "/sub/dir/app.log";
  lxtest::ScopedEnv file("ORVANTA_EVENTLOG", ("file:" + path).c_str());
  const char* const partial[4] = {nullptr, "only", nullptr, nullptr};
  ASSERT_EQ(lxos::EventLogWrite("Src", lxos::kEventWarning, 0x80000003, kStrings, "first\nline"), 0);
  ASSERT_EQ(lxos::EventLogWrite("Src", lxos::kEventSuccess, 1, partial, "second"), 0);
  // Interrupted calls are repeated (close's EINTR is success); a failed call ends the append.
  const struct {
    const char* call;
    int error;
  } kFaults[] = {{"open", EINTR}, {"close", EINTR}, {"open", EACCES}, {"write", ENOSPC}};
  for (const auto& f : kFaults) {
    ASSERT_TRUE(lxos::FailSyscall(f.call, f.error, 1));
    EXPECT_EQ(lxos::EventLogWrite("Src", 1, 4, kStrings, f.call), f.error == EINTR ? 0 : f.error) << f.call;
    EXPECT_EQ(lxos::InjectedFailures(f.call), 1) << f.call;
    lxos::ResetSyscalls();
  }
  const std::vector<lxos::EventRecord> entries = Entries(path);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_TRUE(entries[0].eventId == 0x80000003u && entries[0].message == "first\nline");
  EXPECT_TRUE(entries[1].strings[0].empty() && entries[1].strings[1] == "only");  // null strings are empty
  for (int i = 0; i < 2; ++i) EXPECT_EQ(entries[2 + i].message, kFaults[i].call);
  const size_t inDefault = Entries(lxos::EventLogDefaultFile()).size();
  lxtest::ScopedEnv off("ORVANTA_EVENTLOG", "off");
  EXPECT_EQ(lxos::EventLogWrite("Src", lxos::kEventError, 4, kStrings, "gone"), 0);
  EXPECT_TRUE(Entries(path).size() == 4 && Entries(lxos::EventLogDefaultFile()).size() == inDefault);
  EXPECT_EQ(lxos::EventSourceReport(lxos::kNoEventSource, lxos::kEventSuccess, 1, kStrings, "x"), EINVAL);
}

TEST(EventLogFile, ConcurrentWritersNeverInterleave) {
  const std::string path = lxtest::MakeTempDir("many") + "/app.log";
  lxtest::ScopedEnv file("ORVANTA_EVENTLOG", ("file:" + path).c_str());
  std::vector<std::unique_ptr<lxtest::Child>> children;
  for (int c = 0; c < 4; ++c) {
    children.emplace_back(new lxtest::Child([c](int) {
      for (int i = 0; i < 150; ++i) {
        const std::string text = std::to_string(c * 1000 + i) + ":" + std::string(3000, 'a' + c);
        if (lxos::EventLogWrite("Src", lxos::kEventInformation, 2, kStrings, text) != 0) return 1;
      }
      return 0;
    }));
  }
  for (auto& child : children) ASSERT_EQ(child->Wait(), 0);
  std::set<std::string> seen;
  for (const lxos::EventRecord& e : Entries(path)) {
    const size_t colon = e.message.find(':');
    ASSERT_NE(colon, std::string::npos);
    EXPECT_EQ(e.message.substr(colon + 1), std::string(3000, e.message[colon + 1]));
    seen.insert(e.message.substr(0, colon));
  }
  EXPECT_EQ(seen.size(), 600u);
}

TEST(EventLogSyslog, DatagramFormat) {
  lxtest::ScopedEnv tz("TZ", "UTC");
  tzset();
  const int64_t when = 1767323045;  // 2026-01-02 03:04:05 UTC
  auto datagram = [](const char* source, uint16_t type, int64_t at) {
    return lxos::SyslogDatagram(source, type, "m", 42, at);
  };
  EXPECT_EQ(datagram("a:b[c]d\te", lxos::kEventWarning, when), "<12>Jan  2 03:04:05 a_b_c_d_e[42]: m");
  EXPECT_EQ(datagram("s", lxos::kEventSuccess, when), "<13>Jan  2 03:04:05 s[42]: m");
  EXPECT_EQ(datagram("s", lxos::kEventInformation, when + 10 * 86400), "<14>Jan 12 03:04:05 s[42]: m");
  EXPECT_EQ(datagram("s", 99, when), "<14>Jan  2 03:04:05 s[42]: m");
}

// A Unix datagram socket bound at `path`, standing in for the log daemon.
int Bind(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{AF_UNIX, {}};
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  return bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? fd : (close(fd), -1);
}

TEST(EventLogSyslog, SendsToTheSocketAndFallsBackToTheStateFile) {
  const std::string fallback = lxos::EventLogDefaultFile(), dir = lxtest::MakeTempDir("sock");
  int fd = Bind(dir + "/log");
  ASSERT_GE(fd, 0);
  lxtest::ScopedEnv daemon("ORVANTA_EVENTLOG", ("syslog:" + dir + "/log").c_str());
  ASSERT_EQ(lxos::EventLogWrite("My Source", lxos::kEventError, 0xC0000004, kStrings, "ERROR: it\nPID=1"), 0);
  char buf[4096];
  const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  const std::string datagram(buf, n > 0 ? size_t(n) : 0),
      tail = "My_Source[" + std::to_string(getpid()) + "]: ERROR: it\nPID=1";
  EXPECT_TRUE(datagram.find("<11>") == 0 && datagram.find(tail) == datagram.size() - tail.size()) << datagram;
  // A daemon that has gone, one that was never there, and one whose queue is full.
  close(fd);
  ASSERT_EQ(lxos::EventLogWrite("My Source", lxos::kEventWarning, 3, kStrings, "refused"), 0);
  lxtest::ScopedEnv missing("ORVANTA_EVENTLOG", ("syslog:" + dir + "/missing").c_str());
  ASSERT_EQ(lxos::EventLogWrite("My Source", lxos::kEventError, 4, kStrings, "no daemon"), 0);
  fd = Bind(dir + "/full");
  lxtest::ScopedEnv full("ORVANTA_EVENTLOG", ("syslog:" + dir + "/full").c_str());
  const std::string big(60000, 'q');
  for (int i = 0; i < 200 && Entries(fallback).size() < 3; ++i) {
    ASSERT_EQ(lxos::EventLogWrite("My Source", lxos::kEventInformation, 2, kStrings, big), 0);
  }
  close(fd);
  const std::vector<lxos::EventRecord> entries = Entries(fallback);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_TRUE(entries[0].message == "refused" && entries[0].source == "My Source");
  EXPECT_TRUE(entries[1].message == "no daemon" && entries[1].eventId == 4);
  EXPECT_EQ(entries[2].message, big);
}

TEST(AtomicFile, ReplacesTheTargetWholeWithTheGivenMode) {
  const std::string dir = lxtest::MakeTempDir("atomic"), target = dir + "/out";
  // A symbolic link in the target's place is replaced, not followed.
  ASSERT_TRUE(lxtest::WriteFile(dir + "/other", "keep"));
  ASSERT_EQ(0, symlink("other", target.c_str()));
  // Writes that take two bytes at a time still write everything.
  ASSERT_TRUE(lxos::SetSyscall(
      "write", +[](int fd, const void* data, size_t size) -> ssize_t {
        return write(fd, data, size < 2 ? size : 2);
      }));
  ASSERT_EQ(0, lxos::WriteFileAtomically(target, "new content", 0640));
  struct stat st;
  ASSERT_EQ(0, lstat(target.c_str(), &st));
  EXPECT_EQ(S_IFREG | 0640u, st.st_mode);
  EXPECT_EQ("new content", lxtest::ReadFile(target));
  EXPECT_EQ("keep", lxtest::ReadFile(dir + "/other"));
  // A write that takes nothing ends the loop with EIO instead of repeating forever.
  ASSERT_TRUE(lxos::SetSyscall(
      "write", +[](int, const void*, size_t) -> ssize_t { return 0; }));
  EXPECT_EQ(EIO, lxos::WriteFileAtomically(target, "lost", 0640));
  lxos::ResetSyscalls();
  {
    lxos::AtomicFile dropped;  // content that is never committed leaves no trace
    ASSERT_EQ(0, dropped.Open(target, 0644));
    ASSERT_EQ(0, dropped.Write("lost", 4));
  }
  EXPECT_EQ("new content", lxtest::ReadFile(target));
  EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(dir), {}));  // no temporary file
  // The seam takes only functions of the call's own type.
  EXPECT_FALSE(lxos::SetSyscall(
      "fsync", +[](int, int) { return 0; }));
  EXPECT_FALSE(lxos::FailSyscall("no such call", EIO));
  char plain[] = "/tmp/lxb-no-template";  // a name without X's to fill stays as it is
  EXPECT_EQ(-1, lxos::sys::MakeTemp(plain));
  EXPECT_STREQ("/tmp/lxb-no-template", plain);
}

TEST(AtomicFile, FailedStepsLeaveTheOldTargetAndNoTemporaryFile) {
  const std::string dir = lxtest::MakeTempDir("atomic"), target = dir + "/out";
  const struct {
    const char* call;
    int error, skip;  // skip: calls of `call` that go through first
    int32_t result;
    const char* content;
  } kFaults[] = {
      {"mkostemp", EACCES, 0, EACCES, "old"}, {"fchmod", EPERM, 0, EPERM, "old"},
      {"write", ENOSPC, 0, ENOSPC, "old"},    {"fsync", EIO, 0, EIO, "old"},
      {"close", EIO, 0, EIO, "old"},          {"rename", EACCES, 0, EACCES, "old"},
      {"open", EACCES, 0, EACCES, "new"},  // after the rename: the directory cannot be flushed
      {"fsync", EIO, 1, EIO, "new"},          {"fsync", EINVAL, 1, 0, "new"},
  };
  for (const auto& f : kFaults) {
    SCOPED_TRACE(std::string(f.call) + " " + std::to_string(f.error) + " after " + std::to_string(f.skip));
    ASSERT_TRUE(lxtest::WriteFile(target, "old"));
    ASSERT_TRUE(lxos::FailSyscall(f.call, f.error, 1, f.skip));
    lxos::AtomicFile file;
    int32_t result = file.Open(target, 0644);
    if (result == 0) result = file.Write("ne", 2);
    if (result == 0) result = file.Write("w", 1);
    if (result == 0) result = file.Commit();
    EXPECT_EQ(f.result, result);
    EXPECT_EQ(1, lxos::InjectedFailures(f.call));
    lxos::ResetSyscalls();
    EXPECT_EQ(f.content, lxtest::ReadFile(target));
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(dir), {}));
    // A failure sticks until the next Open; committed content takes no more.
    EXPECT_EQ(result != 0 ? result : EBADF, file.Write("x", 1));
  }
}

}  // namespace

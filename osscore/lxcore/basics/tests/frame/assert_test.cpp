// Failed assertions: the fatal-error callback first, the mode read once, and each
// mode's reaction in a child process of its own.
#include <gtest/gtest.h>
#include <lxframe.h>

#include <string>

#include "lxtest.h"

namespace {

std::string g_seen;
void RecordFatal(const char* expression, const char* file, int line) {
  g_seen = std::string(expression) + "|" + file + "|" + std::to_string(line);
}

TEST(VeskAssert, CallbackComesFirstAndTheModeIsReadOnce) {
  lxtest::Config config;
  config.ints["debug/assertMode"] = 1;
  EXPECT_EQ(DefaultConfig(LX_QUERY_CONFIG), nullptr);
  EXPECT_EQ(DefaultConfig(&config), &config);
  EXPECT_EQ(DefaultConfig(LX_QUERY_CONFIG), &config);
  EXPECT_EQ(SetFatalErrorCallback(RecordFatal), nullptr);
  EXPECT_EQ(GetFatalErrorCallback(), RecordFatal);
  EXPECT_EQ(VESK_assert("a == b", "f.cpp", 7), 0);
  EXPECT_EQ(g_seen, "a == b|f.cpp|7");
  config.ints["debug/assertMode"] = 7;  // not seen: the mode was read at the first failure
  EXPECT_EQ(VESK_assert("e", "f", 2), 0);
  EXPECT_EQ(config.reads, 1);
  EXPECT_EQ(lxtest::ReadFile(lxtest::StateDir() + "/debug.txt"), "");
  EXPECT_EQ(SetFatalErrorCallback(nullptr), RecordFatal);
  EXPECT_EQ(DefaultConfig(nullptr), nullptr);
}

TEST(VeskAssert, EachModeReactsInItsOwnWay) {
  const std::string report = "Assertion 'x > 0' failed.\nFile 'src/file.cpp' \nLine 12 \n";
  // The report has 280 bytes: a long expression is cut to what the rest leaves.
  const std::string cut =
      "Assertion '" + std::string(228, 'e') + "' failed.\nFile 'src/file.cpp' \nLine 12 \n";
  const struct {
    int32_t mode;  // -1: no configuration
    const char* answer;
    bool trapIgnored;
    int signal;             // 0: VESK_assert returned 0
    std::string stderrHas;  // "": nothing on standard error
    std::string debugOutput;
    size_t expressionLength;
  } kCases[] = {
      {-1, nullptr, false, SIGABRT, "x > 0", "", 0},  // glibc's assertion routine
      {1, nullptr, false, 0, "", "", 0},
      {2, nullptr, false, SIGSEGV, "", "", 0},
      {3, nullptr, false, SIGSEGV, "", "", 0},
      {4, nullptr, false, SIGTRAP, "", "", 0},
      {4, nullptr, true, 0, "", "", 0},
      {5, nullptr, false, SIGABRT, "", "", 0},
      {6, "ignore", false, 0, "Orvanta Runtime Debugging ==\n" + report + "Press retry TO DEBUG.", "", 0},
      {6, "abort", false, SIGABRT, "Press retry TO DEBUG.", "", 0},
      {6, "retry", false, SIGTRAP, "Press retry TO DEBUG.", "", 0},
      {7, nullptr, false, 0, "", "Orvanta Runtime Debugging" + report, 0},
      {-5, nullptr, false, 0, "", "Orvanta Runtime Debugging" + report, 0},
      {7, nullptr, false, 0, "", "Orvanta Runtime Debugging" + cut, 1000},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode) + " answer " + (c.answer ? c.answer : "none"));
    std::remove((lxtest::StateDir() + "/debug.txt").c_str());
    lxtest::ChildResult r = lxtest::RunInChild([&c] {
      static lxtest::Config config;
      config.ints["debug/assertMode"] = c.mode;
      if (c.mode != -1) DefaultConfig(&config);
      if (c.answer) setenv("ORVANTA_MESSAGE_ANSWER", c.answer, 1);
      if (c.trapIgnored) signal(SIGTRAP, SIG_IGN);
      const std::string expression = c.expressionLength ? std::string(c.expressionLength, 'e') : "x > 0";
      return 40 + VESK_assert(expression.c_str(), "src/file.cpp", 12);
    });
    EXPECT_EQ(r.exited ? 0 : r.signal, c.signal);
    EXPECT_EQ(r.code, c.signal == 0 ? 40 : -1);
    EXPECT_TRUE(c.stderrHas.empty() ? r.err.empty() : r.err.find(c.stderrHas) != std::string::npos) << r.err;
    EXPECT_EQ(lxtest::ReadFile(lxtest::StateDir() + "/debug.txt"), c.debugOutput);
  }
}

}  // namespace

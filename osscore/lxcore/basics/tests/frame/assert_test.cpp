// Failed assertions: the callback, the mode read once, and each reaction.
#include <gtest/gtest.h>
#include <lxframe.h>
#include <signal.h>

#include <cstdlib>
#include <string>

#include "fake_config.h"
#include "lxtest.h"

namespace {

std::string g_seen;
void RecordFatal(const char* expression, const char* file, int line) {
  g_seen = std::string(expression) + "|" + file + "|" + std::to_string(line);
}

// Runs one failed assertion in a child with the given assertMode (no configuration
// when mode is null); the child exits with 40 + VESK_assert's result.
lxtest::ChildResult AssertInChild(const int32_t* mode, const char* expression = "x > 0") {
  return lxtest::RunInChild([mode, expression] {
    static FakeConfig config;
    if (mode) {
      config.SetInt("debug/assertMode", *mode);
      DefaultConfig(&config);
    }
    return 40 + VESK_assert(expression, "src/file.cpp", 12);
  });
}

std::string DebugOutputText() { return lxtest::ReadFile(lxtest::StateDir() + "/debug.txt"); }

}  // namespace

TEST(FatalErrorCallback, SetReturnsPreviousAndIsCalledFirst) {
  EXPECT_EQ(SetFatalErrorCallback(RecordFatal), nullptr);
  EXPECT_EQ(GetFatalErrorCallback(), RecordFatal);
  FakeConfig config;
  config.SetInt("debug/assertMode", 1);
  DefaultConfig(&config);
  EXPECT_EQ(VESK_assert("a == b", "f.cpp", 7), 0);
  EXPECT_EQ(g_seen, "a == b|f.cpp|7");
  EXPECT_EQ(SetFatalErrorCallback(nullptr), RecordFatal);
  DefaultConfig(nullptr);
}

TEST(VeskAssert, ModeIsReadOnceAtTheFirstFailure) {
  FakeConfig config;
  config.SetInt("debug/assertMode", 1);
  DefaultConfig(&config);
  EXPECT_EQ(VESK_assert("e", "f", 1), 0);
  EXPECT_EQ(config.reads, 1);
  config.SetInt("debug/assertMode", 7);  // later changes are not seen
  EXPECT_EQ(VESK_assert("e", "f", 2), 0);
  EXPECT_EQ(config.reads, 1);
  EXPECT_EQ(DebugOutputText(), "");
  DefaultConfig(nullptr);
}

TEST(VeskAssert, WithoutConfigurationUsesTheRuntimeAssertion) {
  lxtest::ChildResult r = AssertInChild(nullptr, "ptr != 0");
  EXPECT_FALSE(r.exited);
  EXPECT_EQ(r.signal, SIGABRT);
  EXPECT_NE(r.err.find("ptr != 0"), std::string::npos) << r.err;
}

TEST(VeskAssert, ModesThatStopTheProcess) {
  for (int32_t mode : {2, 3}) {
    lxtest::ChildResult r = AssertInChild(&mode);
    EXPECT_FALSE(r.exited) << mode;
    EXPECT_EQ(r.signal, SIGSEGV) << mode;
    EXPECT_EQ(r.err, "") << mode;
  }
  int32_t mode = 5;
  lxtest::ChildResult r = AssertInChild(&mode);
  EXPECT_EQ(r.signal, SIGABRT);
  mode = 4;
  r = AssertInChild(&mode);
  EXPECT_EQ(r.signal, SIGTRAP);
}

TEST(VeskAssert, BreakpointModeReturnsWhenTheTrapIsHandled) {
  lxtest::ChildResult r = lxtest::RunInChild([] {
    signal(SIGTRAP, SIG_IGN);
    static FakeConfig config;
    config.SetInt("debug/assertMode", 4);
    DefaultConfig(&config);
    return 40 + VESK_assert("e", "f", 1);
  });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.code, 40);
}

TEST(VeskAssert, OtherModesWriteCaptionAndReportToDebuggerOutput) {
  for (int32_t mode : {7, -5}) {
    std::remove((lxtest::StateDir() + "/debug.txt").c_str());
    lxtest::ChildResult r = AssertInChild(&mode);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.code, 40);
    EXPECT_EQ(DebugOutputText(),
              "Orvanta Runtime DebuggingAssertion 'x > 0' failed.\nFile 'src/file.cpp' \nLine 12 \n");
  }
}

TEST(VeskAssert, LongTextsAreCutToTheReportBuffer) {
  int32_t mode = 7;
  std::string expression(1000, 'e');
  lxtest::ChildResult r = AssertInChild(&mode, expression.c_str());
  ASSERT_TRUE(r.exited);
  std::string out = DebugOutputText();
  std::string report = out.substr(std::string("Orvanta Runtime Debugging").size());
  EXPECT_EQ(report.size(), 279u);
  EXPECT_EQ(report.compare(0, 12, "Assertion 'e"), 0);
  EXPECT_NE(report.find("' failed.\nFile 'src/file.cpp' \nLine 12 \n"), std::string::npos) << report;
}

TEST(VeskAssert, MessageModeFollowsTheAnswer) {
  int32_t mode = 6;
  setenv("ORVANTA_MESSAGE_ANSWER", "ignore", 1);
  lxtest::ChildResult r = AssertInChild(&mode);
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.code, 40);
  EXPECT_NE(r.err.find("Orvanta Runtime Debugging"), std::string::npos);
  EXPECT_NE(r.err.find("Line 12 \nPress retry TO DEBUG."), std::string::npos) << r.err;

  setenv("ORVANTA_MESSAGE_ANSWER", "abort", 1);
  r = AssertInChild(&mode);
  EXPECT_EQ(r.signal, SIGABRT);

  setenv("ORVANTA_MESSAGE_ANSWER", "retry", 1);
  r = AssertInChild(&mode);
  EXPECT_EQ(r.signal, SIGTRAP);
  unsetenv("ORVANTA_MESSAGE_ANSWER");
}

// Assertions (each mode in a child), resizing, memory handlers where the allocator fails
// (a child with a capped address space), the failure injector, the memory-check pass-through.
#include <gtest/gtest.h>
#include <lxframe.h>

#include <cstring>
#include <new>
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
  DefaultConfig(&config);
  EXPECT_EQ(SetFatalErrorCallback(RecordFatal), nullptr);
  EXPECT_EQ(GetFatalErrorCallback(), RecordFatal);
  EXPECT_EQ(VESK_assert("a == b", "f.cpp", 7), 0);
  EXPECT_EQ(g_seen, "a == b|f.cpp|7");
  config.ints["debug/assertMode"] = 7;  // not seen: the mode was read at the first failure
  EXPECT_EQ(VESK_assert("e", "f", 2), 0);
  EXPECT_EQ(config.reads, 1);
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
    int signal;                          // 0: VESK_assert returned 0
    std::string stderrHas, debugOutput;  // stderrHas "": nothing on standard error
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

int g_calls = 0;
int32_t g_answer = 0;
void* g_reserve = nullptr;
char* volatile g_escape = nullptr;  // keeps the compiler from eliding an allocation
int32_t CountingHandler(uint32_t) {
  ++g_calls;
  std::free(g_reserve);  // makes room for a retry
  g_reserve = nullptr;
  return g_answer;
}
constexpr size_t kLimit = 64u << 20;      // address space a child may add
constexpr uint32_t kTooLarge = 1u << 30;  // never fits under that limit

TEST(MmResize, SizeZeroFreesAndTheHandlerSlotSwaps) {
  void* block = nullptr;
  EXPECT_EQ(mmResize(&block, 0), 0);
  ASSERT_EQ(mmResize(&block, 10), 0);
  EXPECT_EQ(mmFarResize(&block, 0), 0);
  EXPECT_EQ(block, nullptr);
  const LxMemoryHandler first = mmLxSetHandler(CountingHandler);
  g_answer = 7;
  EXPECT_EQ(LxCallMemoryHandler(5), 7);
  EXPECT_EQ(mmLxSetHandler(first), CountingHandler);
  EXPECT_EQ(g_calls, 1);
}

// With assertions that return (mode 1) the handler's report is all that is left to see.
TEST(DefaultMemoryHandler, ReportsOnEveryChannelThenAsserts) {
#ifdef LXTEST_ASAN
  GTEST_SKIP() << "AddressSanitizer owns the allocator";
#endif
  lxtest::ChildResult r = lxtest::RunWithMemoryLimit(kLimit, [] {
    static lxtest::Config config;
    config.ints["debug/assertMode"] = 1;
    DefaultConfig(&config);
    void* block = nullptr;
    return mmResize(&block, kTooLarge) == LX_RESIZE_FAILED && block == nullptr ? 0 : 1;
  });
  const std::string report = "\nOrvanta runs out of memory.\nTried to allocate 1073741824 bytes of memory.\n";
  EXPECT_TRUE(r.exited && r.code == 0 && r.err.compare(0, report.size(), report) == 0) << r.err;
  EXPECT_NE(r.err.find("== Orvanta Runtime System ==\n" + report), std::string::npos) << r.err;
  const std::string log = lxtest::ReadFile(lxtest::StateDir() + "/eventlog.jsonl");
  EXPECT_NE(log.find("Tried to allocate 1073741824 bytes of memory."), std::string::npos) << log;
}

TEST(NewHandler, FailedNewReachesTheHandlerAndRetriesOnRequest) {
#ifdef LXTEST_ASAN
  GTEST_SKIP() << "AddressSanitizer owns the allocator";
#endif
  lxtest::ChildResult r = lxtest::RunWithMemoryLimit(kLimit, [] {
    mmLxSetHandler(CountingHandler);
    g_reserve = std::malloc(40u << 20);
    g_answer = 1;
    char* p = new (std::nothrow) char[30u << 20];
    if (p == nullptr || g_calls != 1) return 10;
    delete[] p;
    g_answer = 0;
    try {
      g_escape = new char[kTooLarge];
      return 11;
    } catch (const std::bad_alloc&) {
    }
    return g_calls == 2 ? 0 : 13;
  });
  EXPECT_TRUE(r.exited && r.code == 0) << r.code << r.err;
}

TEST(TestHandler, InjectsTheConfiguredNumberOfFailures) {
  lxtest::Config config;
  config.ints["test/growErrorCounter"] = 2;
  DefaultConfig(&config);
  const int32_t kExpected[] = {0, LX_TEST_HANDLER_FAILURE, 0, LX_TEST_HANDLER_FAILURE, 0};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(TestHandler(i == 0 || i == 2 ? 0 : 1, nullptr, nullptr), kExpected[i]) << i;
  config.ints["test/growErrorCounter"] = 1;
  EXPECT_EQ(TestHandler(1, nullptr, nullptr), 0);  // not read again ...
  EXPECT_EQ(TestHandlerReset(), 0);
  EXPECT_EQ(TestHandler(1, nullptr, nullptr), LX_TEST_HANDLER_FAILURE);  // ... until the reset
  DefaultConfig(nullptr);
  TestHandlerReset();
  EXPECT_EQ(TestHandler(1, nullptr, nullptr), 0);
}

TEST(VeskCheckMemory, ResolvesTheConfiguredFunctionOnce) {
  const struct {
    const char* library;  // null: the default name, which this host does not have
    const char* function;
    int32_t result;
    const char* debugOutput;
  } kCases[] = {
      {LXB_MEMCHECK_MODULE, nullptr, 4321, "memory checking enabled"},
      {LXB_MEMCHECK_MODULE, "NoSuchCheck", LX_MEMORY_CHECK_NONE, "unable to get the memory check function"},
      {nullptr, nullptr, LX_MEMORY_CHECK_NONE, "unable to load the memory checking dll"},
      {"off", nullptr, LX_MEMORY_CHECK_NONE, ""},  // debug/memory not set
  };
  for (const auto& c : kCases) {
    std::remove((lxtest::StateDir() + "/debug.txt").c_str());
    lxtest::ChildResult r = lxtest::RunInChild([&c] {
      lxtest::Config config;
      if (c.library == nullptr || std::strcmp(c.library, "off") != 0) config.ints["debug/memory"] = 1;
      if (c.library) config.strings["debug/memory/library"] = c.library;
      if (c.function) config.strings["debug/memory/function"] = c.function;
      DefaultConfig(&config);
      const int32_t first = VeskCheckMemory(1, 2, 3, 4);
      const int reads = config.reads;
      config.ints["debug/memory"] = 1;
      const bool again = VeskCheckMemory(1, 2, 3, 4) == first && config.reads == reads;
      return again && first == c.result ? 0 : 1;
    });
    EXPECT_EQ(r.code, 0) << c.debugOutput;
    EXPECT_EQ(lxtest::ReadFile(lxtest::StateDir() + "/debug.txt"), c.debugOutput);
  }
}

}  // namespace

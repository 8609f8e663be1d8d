// Memory resizing, the handler slot, the default handler and the new hook. Real
// allocation failures come from a child process whose address space is capped.
#include <gtest/gtest.h>
#include <lxframe.h>

#include <cstring>
#include <new>
#include <string>

#include "fake_config.h"
#include "lxtest.h"

namespace {

int g_calls = 0;
uint32_t g_lastSize = 0;
int32_t g_answer = 0;
void* g_reserve = nullptr;
char* volatile g_escape = nullptr;

int32_t CountingHandler(uint32_t size) {
  ++g_calls;
  g_lastSize = size;
  if (g_reserve != nullptr) {
    std::free(g_reserve);
    g_reserve = nullptr;
  }
  return g_answer;
}
int32_t OtherHandler(uint32_t) { return 7; }

constexpr size_t kLimit = 64u << 20;      // address space the child may add
constexpr uint32_t kTooLarge = 1u << 30;  // never fits under that limit

#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_ASAN() GTEST_SKIP() << "address-space limits do not work under AddressSanitizer"
#else
#define SKIP_UNDER_ASAN() (void)0
#endif

}  // namespace

TEST(MmResize, SizeZeroFreesAndNulls) {
  mmLxSetHandler(CountingHandler);
  void* block = nullptr;
  EXPECT_EQ(mmResize(&block, 0), 0);
  EXPECT_EQ(block, nullptr);
  ASSERT_EQ(mmResize(&block, 10), 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(mmFarResize(&block, 0), 0);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(g_calls, 0);
}

TEST(MmResize, GrowthAndShrinkKeepTheContents) {
  void* block = nullptr;
  ASSERT_EQ(mmResize(&block, 100), 0);
  std::memset(block, 0xAB, 100);
  ASSERT_EQ(mmFarResize(&block, 1 << 20), 0);
  ASSERT_EQ(mmResize(&block, 50), 0);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(static_cast<unsigned char*>(block)[i], 0xAB);
  mmResize(&block, 0);
}

TEST(MmLxSetHandler, ReturnsThePreviousHandler) {
  LxMemoryHandler first = mmLxSetHandler(CountingHandler);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(first, CountingHandler);
  EXPECT_EQ(mmLxSetHandler(OtherHandler), CountingHandler);
  EXPECT_EQ(LxCallMemoryHandler(5), 7);
  EXPECT_EQ(mmLxSetHandler(first), OtherHandler);
}

TEST(MmResize, FailedGrowthKeepsTheOldBlockAndCallsTheHandlerOnce) {
  SKIP_UNDER_ASAN();
  lxtest::ChildResult r = lxtest::RunWithMemoryLimit(kLimit, [] {
    mmLxSetHandler(CountingHandler);
    g_answer = 1;  // asking for a retry does not make the resize try again
    void* block = nullptr;
    if (mmResize(&block, 4096) != 0) return 10;
    std::memset(block, 0x5C, 4096);
    void* before = block;
    if (mmResize(&block, kTooLarge) != -1) return 11;
    if (block != before || g_calls != 1 || g_lastSize != kTooLarge) return 12;
    for (int i = 0; i < 4096; ++i) {
      if (static_cast<unsigned char*>(block)[i] != 0x5C) return 13;
    }
    void* none = nullptr;
    if (mmFarResize(&none, kTooLarge) != -1 || none != nullptr || g_calls != 2) return 14;
    return 0;
  });
  EXPECT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.code, 0) << r.err;
}

TEST(DefaultMemoryHandler, ReportsOnAllChannelsThenAsserts) {
  SKIP_UNDER_ASAN();
  lxtest::ChildResult r = lxtest::RunWithMemoryLimit(kLimit, [] {
    static FakeConfig config;
    config.SetInt("debug/assertMode", 1);
    DefaultConfig(&config);
    void* block = nullptr;
    return mmResize(&block, kTooLarge) == -1 && block == nullptr ? 0 : 1;
  });
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.code, 0);
  const std::string report = "\nOrvanta runs out of memory.\nTried to allocate 1073741824 bytes of memory.\n";
  EXPECT_EQ(r.err.compare(0, report.size(), report), 0) << r.err;
  EXPECT_NE(r.err.find("Orvanta Runtime System"), std::string::npos) << "the message object shows it too";
  std::string log = lxtest::ReadFile(lxtest::StateDir() + "/eventlog.jsonl");
  EXPECT_NE(log.find("Tried to allocate 1073741824 bytes of memory."), std::string::npos) << log;
}

TEST(DefaultMemoryHandler, EndsTheProcessInTheDefaultAssertionMode) {
  SKIP_UNDER_ASAN();
  lxtest::ChildResult r = lxtest::RunWithMemoryLimit(kLimit, [] {
    void* block = nullptr;
    mmResize(&block, kTooLarge);
    return 0;
  });
  EXPECT_FALSE(r.exited);
  EXPECT_EQ(r.signal, SIGABRT);
  EXPECT_NE(r.err.find("Out of memory. Aborting!"), std::string::npos) << r.err;
}

TEST(NewHandler, FailedNewReachesTheHandlerAndRetriesOnRequest) {
  SKIP_UNDER_ASAN();
  lxtest::ChildResult r = lxtest::RunWithMemoryLimit(kLimit, [] {
    mmLxSetHandler(CountingHandler);
    g_reserve = std::malloc(40u << 20);  // freed by the handler, so the retry fits
    g_answer = 1;
    char* p = new (std::nothrow) char[30u << 20];
    if (p == nullptr || g_calls != 1) return 10;
    delete[] p;
    g_answer = 0;
    try {
      char* q = new char[kTooLarge];
      g_escape = q;  // keeps the compiler from eliding the allocation
      delete[] q;
      return 11;
    } catch (const std::bad_alloc&) {
    }
    return g_calls == 2 ? 0 : 12;
  });
  EXPECT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.code, 0) << r.err;
}

TEST(TestHandler, InjectsTheConfiguredNumberOfFailures) {
  FakeConfig config;
  config.SetInt("test/growErrorCounter", 2);
  DefaultConfig(&config);
  EXPECT_EQ(TestHandler(0, nullptr, nullptr), 0);  // other kinds never fail nor count
  EXPECT_EQ(TestHandler(1, nullptr, nullptr), -313);
  EXPECT_EQ(TestHandler(0, nullptr, nullptr), 0);
  EXPECT_EQ(TestHandler(1, nullptr, nullptr), -313);
  EXPECT_EQ(TestHandler(1, nullptr, nullptr), 0);
  EXPECT_EQ(config.reads, 1);
  config.SetInt("test/growErrorCounter", 1);
  EXPECT_EQ(TestHandler(1, nullptr, nullptr), 0);  // not read again ...
  EXPECT_EQ(TestHandlerReset(), 0);
  EXPECT_EQ(TestHandler(1, nullptr, nullptr), -313);  // ... until the reset
  EXPECT_EQ(config.reads, 2);
  DefaultConfig(nullptr);
  EXPECT_EQ(TestHandlerReset(), 0);
  EXPECT_EQ(TestHandler(1, nullptr, nullptr), 0);
}

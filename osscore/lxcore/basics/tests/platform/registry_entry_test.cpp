// Registry entries under the library's key, the host name and the
// priority-boost setting.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "lxframe.h"
#include "lxplatform.h"
#include "lxtest.h"

namespace {

// What a get returns: the result, the size, and the buffer's first bytes.
struct Got {
  int rc;
  int32_t size;
  std::string bytes;
};

Got Get(const char* const* path, int32_t size) {
  char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  int32_t s = size;
  int rc = LxGetRegistryEntry(path, buffer, s);
  return {rc, s, std::string(buffer, static_cast<size_t>(size > 0 && size < 64 ? size : 64))};
}

int Set(const char* const* path, const char* value) {
  int32_t size = 1;
  return LxSetRegistryEntry(path, value, size);
}

}  // namespace

TEST(RegistryEntry, RoundTripWithoutTerminator) {
  const char* port[] = {"Server", "Port", nullptr};
  ASSERT_EQ(Set(port, "abc"), 0);
  Got g = Get(port, 10);
  EXPECT_EQ(g.rc, 0);
  EXPECT_EQ(g.size, 3);
  // a b c and nothing after them: no terminator was stored or added.
  EXPECT_EQ(g.bytes, "abc#######");
  // Names compare without regard to case.
  const char* shout[] = {"SERVER", "PORT", nullptr};
  EXPECT_EQ(Get(shout, 10).bytes.substr(0, 3), "abc");
  // Replacing a value.
  ASSERT_EQ(Set(port, "5000x"), 0);
  g = Get(port, 10);
  EXPECT_EQ(g.size, 5);
  EXPECT_EQ(g.bytes.substr(0, 6), "5000x#");
  // The empty string is a value of length 0.
  ASSERT_EQ(Set(port, ""), 0);
  g = Get(port, 10);
  EXPECT_EQ(g.rc, 0);
  EXPECT_EQ(g.size, 0);
}

TEST(RegistryEntry, PathsOfOneAndSeveralNames) {
  const char* top[] = {"Top", nullptr};
  const char* deep[] = {"A", "B", "C", "Top", nullptr};
  ASSERT_EQ(Set(top, "base"), 0);
  ASSERT_EQ(Set(deep, "deep"), 0);
  EXPECT_EQ(Get(top, 10).bytes.substr(0, 4), "base");
  EXPECT_EQ(Get(deep, 10).bytes.substr(0, 4), "deep");
  const char* middle[] = {"A", "B", "Top", nullptr};
  EXPECT_EQ(Get(middle, 10).rc, -1);
  // A path that is not null-terminated in the middle: the mutable form works too.
  const char* names[] = {"A", "B", "C", "Top", nullptr};
  const char** mutablePath = names;
  int32_t size = 10;
  char buf[10];
  EXPECT_EQ(LxGetRegistryEntry(mutablePath, buf, size), 0);
  EXPECT_EQ(size, 4);
}

TEST(RegistryEntry, SizeRules) {
  const char* path[] = {"Sizes", "v", nullptr};
  ASSERT_EQ(Set(path, "0123456789"), 0);
  // size - 1 bytes are offered: 11 is exactly enough for 10.
  Got g = Get(path, 11);
  EXPECT_EQ(g.rc, 0);
  EXPECT_EQ(g.size, 10);
  EXPECT_EQ(g.bytes, "0123456789#");
  // 10 offers 9: too small, and size reports what the value needs.
  g = Get(path, 10);
  EXPECT_EQ(g.rc, -1);
  EXPECT_EQ(g.size, 10);
  g = Get(path, 1);
  EXPECT_EQ(g.rc, -1);
  EXPECT_EQ(g.size, 10);
  // A missing key leaves size alone; a missing value leaves what was offered.
  const char* noKey[] = {"Nowhere", "v", nullptr};
  g = Get(noKey, 20);
  EXPECT_EQ(g.rc, -1);
  EXPECT_EQ(g.size, 20);
  const char* noValue[] = {"Sizes", "w", nullptr};
  g = Get(noValue, 20);
  EXPECT_EQ(g.rc, -1);
  EXPECT_EQ(g.size, 19);
}

TEST(RegistryEntry, InvalidParametersLeaveTheStoreAlone) {
  const char* path[] = {"Params", "v", nullptr};
  char buf[8];
  int32_t size = 0;
  EXPECT_EQ(LxGetRegistryEntry(path, buf, size), -2530);
  EXPECT_EQ(size, 0);
  size = 8;
  EXPECT_EQ(LxGetRegistryEntry(path, nullptr, size), -2530);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(LxGetRegistryEntry(nullptr, buf, size), -2530);
  size = -5;
  EXPECT_EQ(LxGetRegistryEntry(path, buf, size), -2530);

  size = 0;
  EXPECT_EQ(LxSetRegistryEntry(path, "x", size), -2530);
  size = 3;
  EXPECT_EQ(LxSetRegistryEntry(path, nullptr, size), -2530);
  EXPECT_EQ(LxSetRegistryEntry(nullptr, "x", size), -2530);
  EXPECT_EQ(size, 3);  // not changed by a set
  EXPECT_EQ(LxDeleteRegistryEntry(nullptr), -2530);
  const char* empty[] = {nullptr};
  EXPECT_EQ(LxSetRegistryEntry(empty, "x", size), -2530);
  EXPECT_EQ(LxDeleteRegistryEntry(empty), -2530);
  // Nothing was written by the refused calls.
  size = 8;
  EXPECT_EQ(LxGetRegistryEntry(path, buf, size), -1);

  // Any non-zero size is accepted by set, negative included.
  size = -1;
  EXPECT_EQ(LxSetRegistryEntry(path, "x", size), 0);
  EXPECT_EQ(size, -1);
}

TEST(RegistryEntry, OverLongKeyPathIsRefusedNotCut) {
  // The base key is 30 characters; with the backslash each 100-character name
  // adds 101. Two names make 232 characters: allowed. Three make 333.
  const std::string name(100, 'n');
  const char* fits[] = {name.c_str(), name.c_str(), "v", nullptr};
  const char* tooLong[] = {name.c_str(), name.c_str(), name.c_str(), "v", nullptr};
  EXPECT_EQ(Set(fits, "ok"), 0);
  EXPECT_EQ(Set(tooLong, "no"), -2530);
  EXPECT_EQ(Get(tooLong, 10).rc, -2530);
  EXPECT_EQ(LxDeleteRegistryEntry(tooLong), -2530);
  // 259 characters fit the 260-character buffer with its zero byte; 260 do not.
  const std::string last259(259 - 30 - 1, 'x');
  const std::string last260(260 - 30 - 1, 'x');
  const char* at259[] = {last259.c_str(), "v", nullptr};
  const char* at260[] = {last260.c_str(), "v", nullptr};
  EXPECT_EQ(Set(at259, "ok"), 0);
  EXPECT_EQ(Set(at260, "no"), -2530);
}

TEST(RegistryEntry, DeleteRemovesOnlyTheValue) {
  const char* a[] = {"Del", "a", nullptr};
  const char* b[] = {"Del", "b", nullptr};
  EXPECT_EQ(LxDeleteRegistryEntry(a), -1);  // key missing
  ASSERT_EQ(Set(a, "1"), 0);
  ASSERT_EQ(Set(b, "2"), 0);
  EXPECT_EQ(LxDeleteRegistryEntry(a), 0);
  EXPECT_EQ(LxDeleteRegistryEntry(a), -1);  // value missing
  EXPECT_EQ(Get(a, 10).rc, -1);
  EXPECT_EQ(Get(b, 10).bytes.substr(0, 1), "2");
  // A set of a value that does not exist succeeds.
  EXPECT_EQ(Set(a, "3"), 0);
  EXPECT_EQ(Get(a, 10).bytes.substr(0, 1), "3");
}

TEST(RegistryEntry, UnopenableStoreFails) {
  const char* old = std::getenv("ORVANTA_REGISTRY");
  std::string saved = old ? old : "";
  setenv("ORVANTA_REGISTRY", lxtest::StateDir().c_str(), 1);  // a directory
  const char* path[] = {"Gone", "v", nullptr};
  EXPECT_EQ(Set(path, "x"), -1);
  EXPECT_EQ(Get(path, 10).rc, -1);
  EXPECT_EQ(LxDeleteRegistryEntry(path), -1);
  setenv("ORVANTA_REGISTRY", saved.c_str(), 1);
}

TEST(Hostname, IsTheHostsNameAndNeverOverrunsTheBuffer) {
  char expected[256] = {};
  ASSERT_EQ(gethostname(expected, sizeof expected - 1), 0);
  size_t len = std::strlen(expected);
  char buf[256];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(LxGetHostname(buf, sizeof buf), 0);
  EXPECT_STREQ(buf, expected);
  // Exactly enough room for the name and its zero byte.
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(LxGetHostname(buf, static_cast<int>(len + 1)), 0);
  EXPECT_STREQ(buf, expected);
  // One byte short: the buffer stays as it was.
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(LxGetHostname(buf, static_cast<int>(len)), 0);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(LxGetHostname(nullptr, 10), 0);
  EXPECT_EQ(LxGetHostname(buf, 0), 0);
}

namespace {

// A configuration that answers the flag with `value` (or fails) and counts.
class FlagConfig : public LxConfig {
 public:
  FlagConfig(short value, int result) : value_(value), result_(result) {}
  int ReadInt(const char*, int32_t*, const char* const*) override { return 1; }
  int ReadFlag(const char* key, short* value, const char* const* section) override {
    ++calls;
    lastKey = key;
    for (const char* const* s = section; s && *s; ++s) lastSection += std::string(*s) + "/";
    if (result_ == 0) *value = value_;
    return result_;
  }
  int ReadString(const char*, char**, const char* const*) override { return 1; }

  int calls = 0;
  std::string lastKey;
  std::string lastSection;

 private:
  short value_;
  int result_;
};

// The answer of two calls in a fresh child, with `config` installed (null:
// none), and how often the configuration was asked.
std::string AskTwice(FlagConfig* config) {
  lxtest::ChildResult r = lxtest::RunInChild([config] {
    DefaultConfig(config);
    unsigned short first = GetDisableWin32PriorityBoost();
    unsigned short second = GetDisableWin32PriorityBoost();
    if (config == nullptr) {
      std::fprintf(stderr, "%u %u", first, second);
    } else {
      std::fprintf(stderr, "%u %u calls=%d %s %s", first, second, config->calls, config->lastKey.c_str(),
                   config->lastSection.c_str());
    }
    DefaultConfig(nullptr);
    return 0;
  });
  return r.err;
}

}  // namespace

TEST(PriorityBoost, ReadFromTheServerSectionOnce) {
  FlagConfig on(1, 0);
  EXPECT_EQ(AskTwice(&on), "1 1 calls=1 disableWin32PriorityBoost servers/lxserver/");
  FlagConfig other(-7, 0);
  EXPECT_EQ(AskTwice(&other), "1 1 calls=1 disableWin32PriorityBoost servers/lxserver/");
  FlagConfig off(0, 0);
  EXPECT_EQ(AskTwice(&off), "0 0 calls=1 disableWin32PriorityBoost servers/lxserver/");
  FlagConfig failing(1, 1);
  EXPECT_EQ(AskTwice(&failing), "0 0 calls=1 disableWin32PriorityBoost servers/lxserver/");
  EXPECT_EQ(AskTwice(nullptr), "0 0");
}

TEST(PriorityBoost, LaterConfigurationIsNotSeen) {
  lxtest::ChildResult r = lxtest::RunInChild([] {
    unsigned short before = GetDisableWin32PriorityBoost();
    FlagConfig on(1, 0);
    DefaultConfig(&on);
    unsigned short after = GetDisableWin32PriorityBoost();
    DefaultConfig(nullptr);
    std::fprintf(stderr, "%u %u %d", before, after, on.calls);
    return 0;
  });
  EXPECT_EQ(r.err, "0 0 0");
}

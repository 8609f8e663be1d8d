// Registry entries under the library's key where the registry fuzz target's model
// does not reach (exact limits, what a get leaves in the buffer and the size),
// the host name, and the priority-boost setting.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "lxframe.h"
#include "lxplatform.h"
#include "lxtest.h"

namespace {

// A get into a buffer of `size` bytes: the result, the size after, and the buffer.
std::string Got(int result, int32_t size, const char* bytes) {
  return std::to_string(result) + " " + std::to_string(size) + " " + bytes;
}
std::string Get(const char* const* path, int32_t size) {
  char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  const int result = LxGetRegistryEntry(path, buffer, size);
  return Got(result, size, std::string(buffer, 12).c_str());
}
int Set(const char* const* path, const char* value, int32_t size = 1) {
  return LxSetRegistryEntry(path, value, size);
}

TEST(RegistryEntry, LimitsAndWhatAGetLeaves) {
  const char* value[] = {"Server", "Port", nullptr};
  const char* shout[] = {"SERVER", "PORT", nullptr};
  ASSERT_EQ(Set(value, "0123456789"), 0);
  EXPECT_EQ(Get(shout, 11), Got(0, 10, "0123456789##"));  // size - 1 bytes offered, no terminator added
  // Too small: the size the value needs. A missing key leaves the size alone, a
  // missing value leaves what was offered.
  EXPECT_EQ(Get(value, 10), Got(LX_REGISTRY_FAILED, 10, "############"));
  const char* noKey[] = {"Nowhere", "v", nullptr};
  const char* noValue[] = {"Server", "w", nullptr};
  EXPECT_EQ(Get(noKey, 20), Got(LX_REGISTRY_FAILED, 20, "############"));
  EXPECT_EQ(Get(noValue, 20), Got(LX_REGISTRY_FAILED, 19, "############"));
  ASSERT_EQ(Set(value, ""), 0);
  EXPECT_EQ(Get(value, 10), Got(0, 0, "############"));
  EXPECT_EQ(Set(value, "x", -1), 0);  // any non-zero size is accepted by a set
  EXPECT_EQ(Set(value, nullptr), LX_REGISTRY_INVALID_PARAMETER);
  const char** mutablePath = value;
  int32_t size = 10;
  char buffer[10];
  EXPECT_EQ(LxGetRegistryEntry(mutablePath, buffer, size), 0);
  // The base key has 30 characters; the key path with its zero byte must fit 260.
  const std::string fits(259 - 30 - 1, 'x'), tooLong(260 - 30 - 1, 'x');
  const char* atLimit[] = {fits.c_str(), "v", nullptr};
  const char* beyond[] = {tooLong.c_str(), "v", nullptr};
  EXPECT_EQ(Set(atLimit, "ok"), 0);
  EXPECT_EQ(Set(beyond, "no"), LX_REGISTRY_INVALID_PARAMETER);
  EXPECT_EQ(Get(beyond, 10), Got(LX_REGISTRY_INVALID_PARAMETER, 10, "############"));
  EXPECT_EQ(LxDeleteRegistryEntry(beyond), LX_REGISTRY_INVALID_PARAMETER);
  lxtest::ScopedEnv unopenable("ORVANTA_REGISTRY", lxtest::StateDir().c_str());  // a directory
  EXPECT_EQ(Set(value, "x"), LX_REGISTRY_FAILED);
  EXPECT_EQ(Get(value, 10), Got(LX_REGISTRY_FAILED, 10, "############"));
  EXPECT_EQ(LxDeleteRegistryEntry(value), LX_REGISTRY_FAILED);
}

TEST(Hostname, IsTheHostsNameAndNeverOverrunsTheBuffer) {
  char expected[256] = {}, buf[256];
  ASSERT_EQ(gethostname(expected, sizeof expected - 1), 0);
  const int length = static_cast<int>(std::strlen(expected));
  for (int size : {256, length + 1, length, 0}) {
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(LxGetHostname(buf, size), 0);
    EXPECT_EQ(std::string(buf, size > length ? length + 1 : 1),
              size > length ? expected + std::string(1, '\0') : "#");
  }
  EXPECT_EQ(LxGetHostname(nullptr, 10), 0);
}

TEST(PriorityBoost, ReadFromTheServerSectionOnce) {
  const struct {
    bool configured, answers;
    int32_t value;
    const char* expected;  // the answer, the answer after another configuration came, reads
  } kCases[] = {{true, true, 1, "1 1 1"},
                {true, true, -7, "1 1 1"},
                {true, true, 0, "0 0 1"},
                {true, false, 1, "0 0 1"},
                {false, true, 1, "0 0 0"}};
  for (const auto& c : kCases) {
    lxtest::ChildResult r = lxtest::RunInChild([&c] {
      lxtest::Config config;
      if (c.answers) config.ints["servers/lxserver/disableWin32PriorityBoost"] = c.value;
      if (c.configured) DefaultConfig(&config);
      const unsigned first = GetDisableWin32PriorityBoost();
      DefaultConfig(&config);
      const unsigned second = GetDisableWin32PriorityBoost();  // before `reads` is read
      std::fprintf(stderr, "%u %u %d", first, second, config.reads);
      return 0;
    });
    EXPECT_EQ(r.err, c.expected) << c.value;
  }
}

}  // namespace

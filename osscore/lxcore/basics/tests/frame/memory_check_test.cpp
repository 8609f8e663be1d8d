#include <gtest/gtest.h>
#include <lxframe.h>

#include "fake_config.h"
#include "lxtest.h"

namespace {
std::string DebugOutputText() { return lxtest::ReadFile(lxtest::StateDir() + "/debug.txt"); }
}  // namespace

TEST(VeskCheckMemory, OffResolvesNothingAndAsksOnce) {
  FakeConfig config;
  DefaultConfig(&config);
  EXPECT_EQ(VeskCheckMemory(1, 2, 3, 4), -1);
  int reads = config.reads;
  EXPECT_EQ(reads, 1);  // debug/memory only
  config.SetInt("debug/memory", 1);
  EXPECT_EQ(VeskCheckMemory(1, 2, 3, 4), -1);
  EXPECT_EQ(config.reads, reads);
  EXPECT_EQ(DebugOutputText(), "");
  DefaultConfig(nullptr);
}

TEST(VeskCheckMemory, ForwardsToTheConfiguredFunction) {
  FakeConfig config;
  config.SetInt("debug/memory", 1);
  config.SetString("debug/memory/library", LXB_MEMCHECK_MODULE);
  DefaultConfig(&config);
  EXPECT_EQ(VeskCheckMemory(1, 2, 3, 4), 4321);
  EXPECT_EQ(VeskCheckMemory(5, 0, 0, 0), 5);
  EXPECT_EQ(DebugOutputText(), "memory checking enabled");
  DefaultConfig(nullptr);
}

TEST(VeskCheckMemory, ReportsAMissingLibraryOrFunction) {
  FakeConfig config;
  config.SetInt("debug/memory", 1);
  config.SetString("debug/memory/library", LXB_MEMCHECK_MODULE);
  config.SetString("debug/memory/function", "NoSuchCheck");
  DefaultConfig(&config);
  EXPECT_EQ(VeskCheckMemory(1, 2, 3, 4), -1);
  EXPECT_EQ(DebugOutputText(), "unable to get the memory check function");

  DefaultConfig(nullptr);
}

TEST(VeskCheckMemory, ReportsALibraryThatCannotBeLoaded) {
  FakeConfig config;
  config.SetInt("debug/memory", 1);  // the library defaults to a name that is not on this host
  DefaultConfig(&config);
  EXPECT_EQ(VeskCheckMemory(0, 0, 0, 0), -1);
  EXPECT_EQ(DebugOutputText(), "unable to load the memory checking dll");
  EXPECT_EQ(VeskCheckMemory(0, 0, 0, 0), -1);
  EXPECT_EQ(DebugOutputText(), "unable to load the memory checking dll");
  DefaultConfig(nullptr);
}

#include <gtest/gtest.h>
#include <lxframe.h>

#include "fake_config.h"

TEST(DefaultConfig, QueryReturnsWhatWasInstalled) {
  EXPECT_EQ(DefaultConfig(LX_QUERY_CONFIG), nullptr);
  FakeConfig config;
  EXPECT_EQ(DefaultConfig(&config), &config);
  EXPECT_EQ(DefaultConfig(LX_QUERY_CONFIG), &config);
  EXPECT_EQ(DefaultConfig(LX_QUERY_CONFIG), &config);
  EXPECT_EQ(DefaultConfig(nullptr), nullptr);
  EXPECT_EQ(DefaultConfig(LX_QUERY_CONFIG), nullptr);
}

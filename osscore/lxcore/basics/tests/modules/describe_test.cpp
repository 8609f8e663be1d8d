#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lxmodules.h>
#include <stdlib.h>

#include <cstring>
#include <regex>
#include <string>

#include "modules_test_support.h"

namespace {

using modtest::ModuleDir;

TEST(VersionCheck, LxCheckDllAcceptsThisRelease) {
  EXPECT_EQ(LxCheckDll(0), 0);
  EXPECT_EQ(LxCheckDll(LX_CHECK_BUILD), 0);
  EXPECT_EQ(LxCheckDll(LX_CHECK_PATCH), 0);
  EXPECT_EQ(LxCheckDll(LX_CHECK_RELEASE | LX_CHECK_BUILD | LX_CHECK_PATCH), 0);
}

TEST(VersionCheck, CheckLxVersionNumber) {
  struct Case {
    uint32_t major, minor, release, build, patch;
    int flags;
    int expected;
  };
  const Case cases[] = {
      {9, 5, 23, 262, 0, 1, 0},
      {9, 5, 99, 999, 9, 1, 0},  // bit 0 checks nothing
      {9, 5, 23, 262, 0, 0, ERR_LX_MODULE_VERSION},
      {9, 5, 24, 262, 0, 0x2, ERR_LX_MODULE_VERSION},
      {9, 5, 24, 262, 0, 0x10000002, 0},
      {9, 5, 23, 263, 0, 0x4, ERR_LX_MODULE_VERSION},
      {9, 5, 23, 263, 0, 0x20000004, 0},
      {9, 5, 23, 262, 1, 0x8, ERR_LX_MODULE_VERSION},
      {9, 5, 23, 262, 1, 0x40000008, 0},
      {9, 5, 23, 263, 1, 0x2, 0},  // only the release is asked for
      // Every check is made: waiving one failure leaves the other.
      {9, 5, 24, 263, 0, 0x10000006, ERR_LX_MODULE_VERSION},
      {9, 5, 24, 263, 0, 0x30000006, 0},
      {9, 5, 24, 263, 1, 0x7000000E, 0},
      // Major and minor are never waived.
      {9, 6, 23, 262, 0, 3, ERR_LX_MODULE_VERSION},
      {9, 6, 23, 262, 0, 0x7000000F, ERR_LX_MODULE_VERSION},
      {8, 5, 23, 262, 0, 0x7000000F, ERR_LX_MODULE_VERSION},
      {9, 5, 23, 262, 0, -1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckLxVersionNumber(c.major, c.minor, c.release, c.build, c.patch, c.flags), c.expected)
        << c.major << "." << c.minor << "." << c.release << "." << c.build << "." << c.patch << " flags 0x"
        << std::hex << c.flags;
  }
}

// The compiler that built this test is the one that built the library.
uint32_t ExpectedCompilerVersion() {
#if defined(__clang__)
  return __clang_major__ * 100 + __clang_minor__;
#else
  return __GNUC__ * 100 + __GNUC_MINOR__;
#endif
}

TEST(Describe, LibraryDescribesItself) {
  uint32_t major = 0, minor = 0, release = 0, build = 0, patch = 1, compilerVersion = 0;
  const char *moduleName = nullptr, *stamp = nullptr, *extra1 = nullptr, *compiler = nullptr,
             *extra2 = nullptr;
  const char* description = LxDescribeDll(&major, &minor, &release, &build, &patch, &moduleName, &stamp,
                                          &extra1, &compilerVersion, &compiler, &extra2);
  EXPECT_STREQ(description, "Orvanta Basic Algorithms");
  EXPECT_EQ(major, 9u);
  EXPECT_EQ(minor, 5u);
  EXPECT_EQ(release, 23u);
  EXPECT_EQ(build, 262u);
  EXPECT_EQ(patch, 0u);
  EXPECT_STREQ(moduleName, "lx95Cbs71");
  ASSERT_NE(stamp, nullptr);
  EXPECT_TRUE(std::regex_match(
      stamp, std::regex("[A-Z][a-z]{2} [ 123][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9]")))
      << stamp;
  EXPECT_STREQ(extra1, "unknown");
  EXPECT_STREQ(extra2, "");
  EXPECT_EQ(compilerVersion, ExpectedCompilerVersion());
  ASSERT_NE(compiler, nullptr);
  EXPECT_NE(std::string(compiler).find(__VERSION__), std::string::npos) << compiler;
}

TEST(Describe, InfoTextIsRebuiltInOneStaticBuffer) {
  const char *compiler = nullptr, *text1 = nullptr, *text2 = nullptr, *date = nullptr, *module = nullptr;
  uint32_t version = 0;
  GETLXBASICSINFO(&compiler, &version, &text1, &date, &module);
  EXPECT_STREQ(text1, "Orvanta Basic Algorithms 9.5.23.262.0 ");
  EXPECT_STREQ(module, "lx95Cbs71");
  EXPECT_EQ(version, ExpectedCompilerVersion());

  // The build date is the date part of the stamp.
  uint32_t n[6];
  const char *name, *stamp, *extra1, *compilerName, *extra2;
  LxDescribeDll(&n[0], &n[1], &n[2], &n[3], &n[4], &name, &stamp, &extra1, &n[5], &compilerName, &extra2);
  EXPECT_EQ(std::string(stamp), std::string(date) + (stamp + std::strlen(date)));
  EXPECT_EQ(std::strlen(date), 11u);
  EXPECT_STREQ(compiler, compilerName);

  std::strcpy(const_cast<char*>(text1), "overwritten");
  GETLXBASICSINFO(nullptr, nullptr, &text2, nullptr, nullptr);
  EXPECT_EQ(text1, text2);
  EXPECT_STREQ(text2, "Orvanta Basic Algorithms 9.5.23.262.0 ");
  ___LxBasicsContext(0);
}

// Buffers for LxGetDescription, each preset to a marker so that untouched ones show.
struct DescriptionBuffers {
  char path[1024], description[256], moduleName[256], stamp[256], extra1[256], compiler[256], extra2[256];
  uint32_t major = 77, minor = 77, release = 77, build = 77, patch = 77;
  int compilerVersion = 77;
  DescriptionBuffers() {
    for (char* b : {path, description, moduleName, stamp, extra1, compiler, extra2}) std::strcpy(b, "marker");
  }
  int Get(const char* module) {
    return LxGetDescription(module, path, major, minor, release, build, patch, description, moduleName, stamp,
                            extra1, compiler, extra2, compilerVersion);
  }
};

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  std::string result = resolved ? resolved : "";
  free(resolved);
  return result;
}

TEST(GetDescription, ReadsTheModulesDescription) {
  DescriptionBuffers b;
  ASSERT_EQ(b.Get((ModuleDir("described") + "/lx95Tdm71").c_str()), 0);
  EXPECT_EQ(std::string(b.path), RealPath(ModuleDir("described") + "/lx95Tdm71.so"));
  EXPECT_STREQ(b.description, "Described test module");
  EXPECT_STREQ(b.moduleName, "lx95Tdm71");
  EXPECT_STREQ(b.stamp, "Jan  2 2003 04:05:06");
  EXPECT_STREQ(b.extra1, "first extra");
  EXPECT_STREQ(b.compiler, "Test Compiler 1.0");
  EXPECT_STREQ(b.extra2, "second extra");
  EXPECT_EQ(b.major, 1u);
  EXPECT_EQ(b.minor, 2u);
  EXPECT_EQ(b.release, 3u);
  EXPECT_EQ(b.build, 4u);
  EXPECT_EQ(b.patch, 5u);
  EXPECT_EQ(b.compilerVersion, 4242);
  // Unloaded again.
  std::string file = ModuleDir("described") + "/lx95Tdm71.so";
  EXPECT_EQ(dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(GetDescription, NullBuffersAreSkipped) {
  uint32_t n[5] = {};
  int compilerVersion = 0;
  char description[256] = "";
  EXPECT_EQ(LxGetDescription((ModuleDir("described") + "/lx95Tdm71").c_str(), nullptr, n[0], n[1], n[2], n[3],
                             n[4], description, nullptr, nullptr, nullptr, nullptr, nullptr, compilerVersion),
            0);
  EXPECT_STREQ(description, "Described test module");
  EXPECT_EQ(n[4], 5u);
}

TEST(GetDescription, OfThisLibraryByItsName) {
  DescriptionBuffers b;
  ASSERT_EQ(b.Get("lx95Cbs71"), 0);  // found in the library's own directory
  EXPECT_EQ(std::string(b.path), RealPath(LXB_LIBRARY_FILE));
  EXPECT_STREQ(b.description, "Orvanta Basic Algorithms");
  EXPECT_STREQ(b.moduleName, "lx95Cbs71");
  EXPECT_EQ(b.build, 262u);
}

TEST(GetDescription, ModuleWithoutDescription) {
  DescriptionBuffers b;
  EXPECT_EQ(b.Get((ModuleDir("linked") + "/lx95Tln71").c_str()), ERR_LX_COULD_NOT_GET_ENTRY);
  EXPECT_EQ(std::string(b.path), RealPath(ModuleDir("linked") + "/lx95Tln71.so"));
  for (const char* text : {b.description, b.moduleName, b.stamp, b.extra1, b.compiler, b.extra2}) {
    EXPECT_STREQ(text, "marker");
  }
  EXPECT_EQ(b.major, 77u);
  EXPECT_EQ(b.patch, 77u);
  EXPECT_EQ(b.compilerVersion, 77);
}

TEST(GetDescription, MissingModule) {
  DescriptionBuffers b;
  EXPECT_EQ(b.Get("lx95Tzz71"), ERR_LX_COULD_NOT_LOAD_MODULE);
  EXPECT_STREQ(b.path, "marker");
  EXPECT_STREQ(b.description, "marker");
}

}  // namespace

// lxtool reg and lxtool time, run as the user runs them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "lxplatform.h"
#include "lxtest.h"

namespace {

using lxtest::ToolRun;

ToolRun Lxtool(const std::vector<std::string>& args, const std::string& env = "") {
  return lxtest::RunLxtool(args, env);
}

// Each test gets a fresh store, which the tool inherits through the environment.
class RegTool : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("ORVANTA_REGISTRY");
    saved_ = old ? old : "";
    std::string dir = lxtest::MakeTempDir("regtool");
    ASSERT_FALSE(dir.empty());
    setenv("ORVANTA_REGISTRY", (dir + "/registry.db").c_str(), 1);
  }
  void TearDown() override { setenv("ORVANTA_REGISTRY", saved_.c_str(), 1); }

  std::string saved_;
};

}  // namespace

TEST_F(RegTool, SetsAndListsEveryType) {
  const std::string key = "SOFTWARE\\Test\\Types";
  EXPECT_EQ(Lxtool({"reg", "set", key, "Name", "sz", "hello world"}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "set", key, "Path", "expand_sz", "%HOME%\\x"}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "set", key, "Count", "dword", "0x2A"}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "set", key, "Max", "dword", "4294967295"}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "set", key, "List", "multi_sz", "a;b\xc3\xa4;c"}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "set", key, "Empty", "multi_sz", ""}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "set", key, "Raw", "binary", "00FF10"}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "set", key, "", "sz", "dflt"}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "set", key + "\\Sub", "x", "dword", "1"}).code, 0);
  ToolRun list = Lxtool({"reg", "list", "software\\test\\TYPES"});
  EXPECT_EQ(list.code, 0) << list.err;
  EXPECT_EQ(list.out,
            "Name\tsz\thello world\n"
            "Path\texpand_sz\t%HOME%\\x\n"
            "Count\tdword\t0x0000002a (42)\n"
            "Max\tdword\t0xffffffff (4294967295)\n"
            "List\tmulti_sz\ta;b\xc3\xa4;c\n"
            "Empty\tmulti_sz\t\n"
            "Raw\tbinary\t00ff10\n"
            "(default)\tsz\tdflt\n"
            "Sub\\\n");
  ToolRun one = Lxtool({"reg", "query", key, "LIST"});
  EXPECT_EQ(one.code, 0);
  EXPECT_EQ(one.out, "LIST\tmulti_sz\ta;b\xc3\xa4;c\n");
  // query KEY alone shows the values, without the sub-keys.
  ToolRun values = Lxtool({"reg", "query", key + "\\Sub"});
  EXPECT_EQ(values.out, "x\tdword\t0x00000001 (1)\n");
}

TEST_F(RegTool, FreshStoreShowsTheEmptyEnglishCounterNames) {
  ToolRun run = Lxtool({"reg", "list", "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "009\\\n");
  run = Lxtool({"reg", "list", "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009"});
  EXPECT_EQ(run.out, "Counter\tmulti_sz\t\nHelp\tmulti_sz\t\n");
}

TEST_F(RegTool, LibraryEntriesGoThroughTheEntryFunctions) {
  // Written by the tool: a string without terminator, as the runtime writes it.
  EXPECT_EQ(Lxtool({"reg", "set", "software\\vesk software\\ORVANTA\\Server", "Port", "sz", "5000"}).code, 0);
  const char* port[] = {"Server", "Port", nullptr};
  char buf[16];
  int32_t size = sizeof buf;
  ASSERT_EQ(LxGetRegistryEntry(port, buf, size), 0);
  EXPECT_EQ(size, 4);
  // Written by the library, read by the tool.
  const char* host[] = {"Host", nullptr};
  int32_t unused = 1;
  ASSERT_EQ(LxSetRegistryEntry(host, "db.example", unused), 0);
  ToolRun run = Lxtool({"reg", "query", "SOFTWARE\\Vesk Software\\Orvanta", "host"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "host\tsz\tdb.example\n");
  // A long value needs a second, larger buffer.
  const std::string longValue(1000, 'v');
  ASSERT_EQ(LxSetRegistryEntry(host, longValue.c_str(), unused), 0);
  run = Lxtool({"reg", "query", "SOFTWARE\\Vesk Software\\Orvanta", "Host"});
  EXPECT_EQ(run.out, "Host\tsz\t" + longValue + "\n");
  // Delete through the tool; a second delete fails.
  EXPECT_EQ(Lxtool({"reg", "delete", "SOFTWARE\\Vesk Software\\Orvanta\\Server", "Port"}).code, 0);
  size = sizeof buf;
  EXPECT_EQ(LxGetRegistryEntry(port, buf, size), -1);
  ToolRun again = Lxtool({"reg", "delete", "SOFTWARE\\Vesk Software\\Orvanta\\Server", "Port"});
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("(-1)"), std::string::npos) << again.err;
  // A key that only begins like the library's key is an ordinary key.
  EXPECT_EQ(Lxtool({"reg", "set", "SOFTWARE\\Vesk Software\\OrvantaX", "v", "sz", "ab"}).code, 0);
  run = Lxtool({"reg", "query", "SOFTWARE\\Vesk Software\\OrvantaX", "v"});
  EXPECT_EQ(run.out, "v\tsz\tab\n");
}

TEST_F(RegTool, DeletesValuesAndKeys) {
  EXPECT_EQ(Lxtool({"reg", "set", "Del\\A\\B", "v", "sz", "x"}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "set", "Del\\A", "w", "sz", "y"}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "delete", "Del\\A", "w"}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "delete", "Del\\A", "w"}).code, 1);
  ToolRun refused = Lxtool({"reg", "delete-key", "Del\\A"});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("sub-keys"), std::string::npos) << refused.err;
  EXPECT_EQ(Lxtool({"reg", "delete-key", "Del\\A\\B"}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "set", "Del\\A\\B\\C", "v", "sz", "x"}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "delete-key", "--tree", "Del\\A"}).code, 0);
  EXPECT_EQ(Lxtool({"reg", "list", "Del"}).out, "");
  EXPECT_EQ(Lxtool({"reg", "list", "Del\\A"}).code, 1);
}

TEST_F(RegTool, UsageErrorsAndHelp) {
  ToolRun help = Lxtool({"reg", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("lxtool reg set KEY VALUE TYPE DATA"), std::string::npos);
  EXPECT_EQ(Lxtool({"reg"}).code, 2);
  EXPECT_EQ(Lxtool({"reg", "frobnicate"}).code, 2);
  EXPECT_EQ(Lxtool({"reg", "set", "K", "v", "sz"}).code, 2);
  EXPECT_EQ(Lxtool({"reg", "set", "K", "v", "qword", "1"}).code, 2);
  EXPECT_EQ(Lxtool({"reg", "set", "K", "v", "dword", "4294967296"}).code, 2);
  EXPECT_EQ(Lxtool({"reg", "set", "K", "v", "dword", "-1"}).code, 2);
  EXPECT_EQ(Lxtool({"reg", "set", "K", "v", "dword", "12z"}).code, 2);
  EXPECT_EQ(Lxtool({"reg", "set", "K", "v", "binary", "abc"}).code, 2);
  EXPECT_EQ(Lxtool({"reg", "set", "K", "v", "binary", "zz"}).code, 2);
  EXPECT_EQ(Lxtool({"reg", "delete-key", "K", "L"}).code, 2);
  // Nothing was written by the refused commands.
  EXPECT_EQ(Lxtool({"reg", "list", "K"}).code, 1);
  // A malformed path is an operation failure, not a usage error.
  ToolRun bad = Lxtool({"reg", "set", "K\\\\L", "v", "sz", "x"});
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("malformed"), std::string::npos) << bad.err;
  EXPECT_EQ(Lxtool({"reg", "query", "Missing", "v"}).code, 1);
}

TEST(TimeTool, ReportsDateTimeAndZone) {
  ToolRun run = Lxtool({"time"}, "TZ=UTC0");
  ASSERT_EQ(run.code, 0) << run.err;
  std::regex shape(
      "local date      \\d{4}-\\d\\d-\\d\\d\n"
      "local time      \\d\\d:\\d\\d:\\d\\d\n"
      "utc date        \\d{4}-\\d\\d-\\d\\d\n"
      "utc time        \\d\\d:\\d\\d:\\d\\d\n"
      "time zone       0 \\(UTC\\+0:00\\)\n"
      "hour offset     0\n"
      "tick count      \\d+ ms .*\n");
  EXPECT_TRUE(std::regex_match(run.out, shape)) << run.out;
  // An offset of 30 hours lifts both hours to 30..53.
  run = Lxtool({"time", "--offset", "30"}, "TZ=UTC0");
  ASSERT_EQ(run.code, 0);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(run.out, m, std::regex("local time      (\\d+):")));
  int hour = std::stoi(m[1]);
  EXPECT_GE(hour, 30);
  EXPECT_LE(hour, 53);
  EXPECT_EQ(Lxtool({"time", "--offset", "x"}).code, 2);
  EXPECT_EQ(Lxtool({"time", "--help"}).code, 0);
}

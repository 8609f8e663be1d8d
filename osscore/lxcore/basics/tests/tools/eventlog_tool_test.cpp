// lxtool eventlog over a system-log file that the library wrote.
#include <gtest/gtest.h>
#include <lxmessages.h>

#include <cstdlib>
#include <string>

#include "lxtest.h"

namespace {

// Writes three entries into a fresh file sink and returns its path.
std::string WriteThreeEntries() {
  std::string file = lxtest::MakeTempDir("eventlog") + "/Application.log";
  setenv("ORVANTA_EVENTLOG", ("file:" + file).c_str(), 1);
  LxSystemLog()->Printf(4, "first %d", 1);
  LxSystemLog()->Printf(2, "second");
  LxSystemLog()->Printf(10, "third");
  return file;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(EventlogTool, PrintsEntriesNewestLast) {
  std::string file = WriteThreeEntries();
  lxtest::ToolRun all = lxtest::RunLxtool({"eventlog", "--file", file});
  ASSERT_EQ(all.code, 0) << all.err;
  size_t first = all.out.find("0xC0000004  ERROR: first 1 (Orvanta 9.5.23.262.0)");
  size_t second = all.out.find("information  0x40000002  second");
  size_t third = all.out.find("0xC000000A  third (Orvanta 9.5.23.262.0)");
  ASSERT_NE(first, std::string::npos) << all.out;
  ASSERT_NE(second, std::string::npos) << all.out;
  ASSERT_NE(third, std::string::npos) << all.out;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_NE(all.out.find("Aborted."), std::string::npos);

  lxtest::ToolRun last = lxtest::RunLxtool({"eventlog", "--file", file, "-n", "2"});
  ASSERT_EQ(last.code, 0);
  EXPECT_EQ(last.out.find("first 1"), std::string::npos) << last.out;
  EXPECT_EQ(Count(last.out, "Orvanta Runtime System"), 2u) << last.out;
}

TEST(EventlogTool, FindsTheFileThroughTheEnvironment) {
  std::string file = WriteThreeEntries();
  lxtest::ToolRun run = lxtest::RunLxtool({"eventlog", "-n", "1"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("third"), std::string::npos) << run.out;
}

TEST(EventlogTool, ReportsMissingFilesAndBadUsage) {
  EXPECT_EQ(lxtest::RunLxtool({"eventlog", "--file", lxtest::StateDir() + "/none.log"}).code, 1);
  lxtest::ToolRun bad = lxtest::RunLxtool({"eventlog", "--bogus"});
  EXPECT_EQ(bad.code, 2);
  EXPECT_NE(bad.err.find("--bogus"), std::string::npos);
  lxtest::ToolRun help = lxtest::RunLxtool({"eventlog", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("eventlog"), std::string::npos);
}

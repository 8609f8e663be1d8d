// `lxtool error`: codes to texts from the shell, and its listing of the catalog
// against the catalog's copy in data/catalog.tsv.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "lxtest.h"

namespace {

using lxtest::ToolRun;

ToolRun RunTool(const std::string& arguments) { return lxtest::RunLxtoolShell(arguments); }

}  // namespace

TEST(ErrorTool, PrintsTextsWithAndWithoutPrefix) {
  ToolRun run = RunTool("error -2002 0 5 -7026");
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out,
            "One of the parameters passed to this function is not valid.\nok\ncount\n"
            "The schema registry URL is not specified. \n");

  run = RunTool("error --prefix 'Open base' -2002 0");
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out,
            "Open base : -2002 -> One of the parameters passed to this function is not valid.\n"
            "Open base : ok\n");
}

TEST(ErrorTool, RejectsWhatIsNotACode) {
  for (const char* arguments :
       {"error", "error 12x", "error 4294967296", "error --prefix", "error --list 5"}) {
    ToolRun run = RunTool(arguments);
    EXPECT_EQ(run.code, 2) << arguments;
    EXPECT_EQ(run.out, "") << arguments;
  }
  EXPECT_EQ(RunTool("error --help").code, 0);
}

TEST(ErrorTool, ListMatchesTheCatalogCopy) {
  ToolRun run = RunTool("error --list");
  ASSERT_EQ(run.code, 0);
  // catalog.tsv quotes each text; the tool prints it bare. No text of the
  // catalog holds a quote or a backslash, so dropping the quotes is enough.
  std::string expected;
  std::string data = lxtest::ReadFile(std::string(LXB_TEST_DATA_DIR) + "/catalog.tsv");
  ASSERT_FALSE(data.empty());
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find('\n', start);
    std::string line = data.substr(start, end - start);
    start = end == std::string::npos ? data.size() : end + 1;
    if (line.empty() || line[0] == '#') continue;
    size_t tab = line.find("\t\"");
    ASSERT_NE(tab, std::string::npos);
    ASSERT_EQ(line.back(), '"');
    expected += line.substr(0, tab + 1) + line.substr(tab + 2, line.size() - tab - 3) + "\n";
  }
  EXPECT_EQ(run.out, expected);
}

// Test main: gives the process a private state directory before any test runs and
// removes it afterwards (set LXB_KEEP_STATE=1 to keep it for inspection).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "lxtest.h"

namespace lxtest {
void SetStateDir(const std::string& dir);
}

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/lxbtest.XXXXXX";
  if (mkdtemp(&templ[0]) == nullptr) return 2;
  lxtest::SetStateDir(templ);
  setenv("ORVANTA_STATE_DIR", templ.c_str(), 1);
  setenv("ORVANTA_REGISTRY", (templ + "/registry.db").c_str(), 1);
  setenv("ORVANTA_EVENTLOG", ("file:" + templ + "/eventlog.jsonl").c_str(), 1);
  setenv("ORVANTA_DEBUG_OUTPUT", (templ + "/debug.txt").c_str(), 1);
  unsetenv("ORVANTA_MESSAGE_ANSWER");
  testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  int rc = RUN_ALL_TESTS();
  const char* keep = std::getenv("LXB_KEEP_STATE");
  if (!(keep && *keep == '1')) {
    std::string cmd = "rm -rf '" + templ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  }
  return rc;
}

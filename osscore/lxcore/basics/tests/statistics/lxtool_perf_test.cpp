// lxtool perf as the monitor: installation through the library, collection and
// watching through the entry points that the registry names, and the
// Prometheus output, against a writer in another process.
#include <lxstatistics.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>

#include "stats_fixture.h"

namespace statstest {
namespace {

using lxtest::ToolRun;

ToolRun Tool(const std::string& args) { return lxtest::RunLxtoolShell(args); }

// The value printed on the text line of counter `name`.
std::string TextValue(const std::string& out, const std::string& name) {
  std::istringstream in(out);
  std::string line;
  std::string last;
  while (std::getline(in, line)) {
    if (line.compare(0, 2 + name.size(), "  " + name) == 0 && line.size() > 2 + name.size() &&
        line[2 + name.size()] == ' ') {
      last = line.substr(line.find_last_of(' ') + 1);
    }
  }
  return last;
}

using LxtoolPerf = StatsTest;

TEST_F(LxtoolPerf, InstallCollectAndRemove) {
  EXPECT_EQ(1, Tool("perf collect").code);  // not installed
  ToolRun install = Tool("perf install");
  ASSERT_EQ(0, install.code) << install.out;
  EXPECT_EQ(1, Tool("perf install").code);

  LiveChild writer([](LiveChild& self) {
    LxStatistics* s = Statistics();
    s->Enable();
    if (!s->GetEnabled()) return 3;
    for (int i = 0; i < 7; ++i) s->IncCommits();
    s->IncClients();
    s->IncClients();
    s->AddLocks(-3);
    // A running total past 2^31 shows unsigned.
    s->AddDeliveredObjects(2000000000);
    s->AddDeliveredObjects(2000000000);
    self.Ready();
    self.Proceed();
    return 0;
  });
  ASSERT_TRUE(writer.WaitReady());

  ToolRun text = Tool("perf collect");
  ASSERT_EQ(0, text.code);
  EXPECT_NE(std::string::npos, text.out.find("Orvanta (index 2)")) << text.out;
  EXPECT_EQ("7", TextValue(text.out, "Commits/sec")) << text.out;
  EXPECT_EQ("2", TextValue(text.out, "Clients"));
  EXPECT_EQ("-3", TextValue(text.out, "Locks"));
  EXPECT_EQ("0", TextValue(text.out, "Internal Transactions/sec"));
  EXPECT_EQ("4000000000", TextValue(text.out, "DeliveredObjects/sec"));

  ToolRun prom = Tool("perf collect --format prometheus");
  ASSERT_EQ(0, prom.code);
  const std::string& p = prom.out;
  EXPECT_NE(std::string::npos,
            p.find("# HELP orvanta_transactions The number of currently registered transactions.\n"));
  EXPECT_NE(std::string::npos, p.find("# TYPE orvanta_transactions gauge\n"));
  EXPECT_NE(std::string::npos, p.find("# TYPE orvanta_commits_total counter\norvanta_commits_total 7\n"));
  EXPECT_NE(std::string::npos, p.find("# TYPE orvanta_locks gauge\norvanta_locks -3\n"));
  EXPECT_NE(std::string::npos, p.find("orvanta_c_s_requests_total 0\n"));
  EXPECT_NE(std::string::npos, p.find("orvanta_delivered_objects_total 4000000000\n"));
  // Every line is a comment of the exposition format or a valid sample.
  const std::regex comment("# (HELP|TYPE) [a-zA-Z_:][a-zA-Z0-9_:]* .*");
  const std::regex sample("[a-zA-Z_:][a-zA-Z0-9_:]* -?[0-9]+");
  std::istringstream in(p);
  std::string line;
  int samples = 0;
  while (std::getline(in, line)) {
    if (line[0] == '#') {
      EXPECT_TRUE(std::regex_match(line, comment)) << line;
    } else {
      EXPECT_TRUE(std::regex_match(line, sample)) << line;
      ++samples;
    }
  }
  EXPECT_EQ(15, samples);

  // --output replaces the file as a whole.
  const std::string file = lockDir + "/orvanta.prom";
  ASSERT_EQ(0, Tool("perf collect --format prometheus --output " + file).code);
  EXPECT_EQ(p, lxtest::ReadFile(file));

  writer.Release();
  EXPECT_EQ(0, writer.Wait());
  ASSERT_EQ(0, Tool("perf remove").code);
  EXPECT_EQ(1, Tool("perf remove").code);
  EXPECT_EQ(1, Tool("perf collect").code);
}

TEST_F(LxtoolPerf, WatchShowsRatesPerSecond) {
  ASSERT_EQ(0, Tool("perf install").code);
  LiveChild writer([](LiveChild& self) {
    LxStatistics* s = Statistics();
    s->Enable();
    if (!s->GetEnabled()) return 3;
    s->IncClients();
    self.Ready();
    // Keep counting commits until the parent is done watching.
    for (int i = 0; i < 400; ++i) {
      for (int k = 0; k < 10; ++k) s->IncCommits();
      usleep(5000);
    }
    self.Proceed();
    return 0;
  });
  ASSERT_TRUE(writer.WaitReady());
  ToolRun watch = Tool("perf watch --interval 0.3 --count 2");
  ASSERT_EQ(0, watch.code);
  const size_t second = watch.out.find("\n-- ");
  ASSERT_NE(std::string::npos, second) << watch.out;
  const std::string first = watch.out.substr(0, second), next = watch.out.substr(second);
  EXPECT_EQ("-", TextValue(first, "Commits/sec")) << watch.out;
  EXPECT_EQ("1", TextValue(first, "Clients"));
  // About 2,000 a second; anything clearly above zero and below the whole count.
  double rate = std::atof(TextValue(next, "Commits/sec").c_str());
  EXPECT_GT(rate, 100.0) << watch.out;
  EXPECT_LT(rate, 4000.0 / 0.3) << watch.out;
  EXPECT_EQ("0.00", TextValue(next, "Aborts/sec"));
  EXPECT_EQ("1", TextValue(next, "Clients"));
  writer.Release();
  writer.Kill();
}

TEST_F(LxtoolPerf, UsageErrors) {
  EXPECT_EQ(2, Tool("perf").code);
  EXPECT_EQ(0, Tool("perf --help").code);
  EXPECT_EQ(2, Tool("perf frobnicate").code);
  EXPECT_EQ(2, Tool("perf watch --count 0").code);
  EXPECT_EQ(2, Tool("perf watch --interval x").code);
  EXPECT_EQ(2, Tool("perf collect --format xml").code);
  EXPECT_EQ(2, Tool("perf collect --count 3").code);
  EXPECT_EQ(2, Tool("perf install --format prometheus").code);
  EXPECT_EQ(2, Tool("perf watch --interval").code);
}

}  // namespace
}  // namespace statstest

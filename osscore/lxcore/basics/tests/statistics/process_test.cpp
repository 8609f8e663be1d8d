// Writers and monitors in separate processes: one writer at a time, a killed
// writer does not keep the next one out (nor do its children), a child forked
// from the writer counts privately, and a block nobody maps starts afresh.
#include <lxstatistics.h>

#include <vector>

#include "stats_fixture.h"

namespace statstest {
namespace {

using StatisticsProcesses = StatsTest;

// Collects one sample through the entry points; empty when nothing came back.
std::vector<unsigned char> CollectSample() {
  std::vector<unsigned char> buf(4096);
  void* data = buf.data();
  uint32_t size = static_cast<uint32_t>(buf.size());
  uint32_t objects = 0;
  if (PrfData_Collect(const_cast<char16_t*>(u"Global"), &data, &size, &objects) != 0 || objects != 1)
    return {};
  buf.resize(size);
  return buf;
}

uint32_t SampleValue(const std::vector<unsigned char>& s, int position) {
  return Get32(s.data() + 672 + 8 * position);
}

TEST_F(StatisticsProcesses, MonitorSeesWhatTheWriterCounts) {
  ExpectPasses([] { EXPECT_EQ(0, RegisterStatistics()); });
  LiveChild writer([](LiveChild& self) {
    LxStatistics* s = Statistics();
    s->Enable();
    if (!s->GetEnabled()) return 3;
    for (int i = 0; i < 7; ++i) s->IncCommits();
    // A child forked now counts privately and cannot become the writer.
    EXPECT_EQ(0, InChild([s] {
                for (int i = 0; i < 100; ++i) s->IncCommits();
                s->Enable();
                EXPECT_EQ(0, s->GetEnabled());
                EXPECT_EQ(107, s->GetCommits());
              }));
    s->AddDeliveredObjects(1000);
    s->IncClients();
    self.Ready();
    self.Proceed();
    s->IncClients();
    s->IncCommits();
    self.Ready();
    self.Proceed();
    return 0;
  });
  ASSERT_TRUE(writer.WaitReady());
  // The monitor maps the block the writer made, and leaves it as it is.
  LiveChild monitor([](LiveChild& self) {
    EXPECT_EQ(0u, PrfData_Open(nullptr));
    std::vector<unsigned char> first = CollectSample();
    EXPECT_EQ(792u, first.size());
    if (first.size() != 792) return 1;
    EXPECT_EQ(7u, SampleValue(first, 1));
    EXPECT_EQ(1000u, SampleValue(first, 13));
    EXPECT_EQ(1u, SampleValue(first, 7));
    self.Ready();
    self.Proceed();
    std::vector<unsigned char> second = CollectSample();
    EXPECT_EQ(8u, SampleValue(second, 1));
    EXPECT_EQ(2u, SampleValue(second, 7));
    EXPECT_EQ(0u, PrfData_Close());
    return 0;
  });
  ASSERT_TRUE(monitor.WaitReady());
  writer.Release();
  ASSERT_TRUE(writer.WaitReady());
  monitor.Release();
  EXPECT_EQ(0, monitor.Wait());
  writer.Release();
  EXPECT_EQ(0, writer.Wait());
}

TEST_F(StatisticsProcesses, SecondWriterRefusedUntilTheFirstIsKilled) {
  ExpectPasses([] { EXPECT_EQ(0, RegisterStatistics()); });
  LiveChild first([](LiveChild& self) {
    Statistics()->Enable();
    if (!Statistics()->GetEnabled()) return 3;
    Statistics()->AddLocks(42);
    // A child that outlives this writer for a while must not keep the next one out.
    const pid_t writer = getpid();
    if (fork() == 0) {
      while (getppid() == writer) usleep(10000);
      usleep(1000000);
      _exit(0);
    }
    self.Ready();
    self.Proceed();
    return 0;
  });
  ASSERT_TRUE(first.WaitReady());
  ExpectPasses([&] {
    LxStatistics* s = Statistics();
    s->IncClients();
    s->Enable();
    EXPECT_EQ(0, s->GetEnabled());
    // Its counts stay private: not cleared, not published.
    EXPECT_EQ(1, s->GetClients());
    s->AddLocks(5);
    ASSERT_NE(nullptr, MapBlock());
    EXPECT_EQ(42u, Slot(10));
    EXPECT_EQ(0u, Slot(7));
  });
  first.Kill();
  EXPECT_EQ(128 + SIGKILL, first.Wait());
  // The killed writer left its counts behind; they are not the next writer's.
  ASSERT_NE(nullptr, MapBlock());
  EXPECT_EQ(42u, Slot(10));
  std::memset(view + 16, 0xAB, 4);  // scribble on the leftover definitions
  UnmapBlock();
  ExpectPasses([&] {
    LxStatistics* s = Statistics();
    s->IncClients();
    s->Enable();
    EXPECT_EQ(1, s->GetEnabled());
    EXPECT_EQ(0, s->GetClients());
    ASSERT_NE(nullptr, MapBlock());
    EXPECT_EQ(0u, Slot(10));
    EXPECT_EQ(0u, Get32(view + 16));
    EXPECT_EQ(664u, Get32(view + 4));
    s->IncClients();
    EXPECT_EQ(1u, Slot(7));
  });
}

TEST_F(StatisticsProcesses, WriterFindsTheMonitorsBlockAndLeavesTheDefinitions) {
  ExpectPasses([] { EXPECT_EQ(0, RegisterStatistics()); });
  LiveChild monitor([](LiveChild& self) {
    PrfData_Open(nullptr);
    std::vector<unsigned char> sample = CollectSample();
    EXPECT_EQ(792u, sample.size());
    self.Ready();
    self.Proceed();
    return 0;
  });
  ASSERT_TRUE(monitor.WaitReady());
  ASSERT_NE(nullptr, MapBlock());
  EXPECT_EQ(664u, Get32(view + 4));
  EXPECT_EQ(0u, Slot(1));
  // Marks that a rewrite of the definitions or a missed clear would show.
  view[16] = 0x5A;
  view[672 + 8] = 9;
  ExpectPasses([&] {
    Statistics()->Enable();
    EXPECT_EQ(1, Statistics()->GetEnabled());
    ASSERT_NE(nullptr, MapBlock());
    EXPECT_EQ(0x5Au, Get32(view + 16));
    EXPECT_EQ(0u, Slot(1));
  });
  monitor.Release();
  EXPECT_EQ(0, monitor.Wait());
}

TEST_F(StatisticsProcesses, SwitchedOffOrUninstalledCountersStayPrivate) {
  ExpectPasses([&] {
    Statistics()->Enable();
    EXPECT_EQ(0, Statistics()->GetEnabled());
    EXPECT_EQ(0u, PrfData_Open(nullptr));
    EXPECT_FALSE(BlockExists());
    std::vector<unsigned char> buf(1024, 0xEE);
    void* data = buf.data();
    uint32_t size = 1024;
    uint32_t objects = 7;
    EXPECT_EQ(0u, PrfData_Collect(const_cast<char16_t*>(u"Global"), &data, &size, &objects));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(0u, objects);
    EXPECT_EQ(buf.data(), data);
    EXPECT_EQ(0xEE, buf[0]);
  });
}

}  // namespace
}  // namespace statstest

// The tick timer over a tick counter that the test moves.
#include <gtest/gtest.h>

#include <memory>

#include "lxplatform.h"
#include "os/clock.h"

namespace {

uint32_t g_ticks = 0;
uint32_t FakeTicks() { return g_ticks; }

class TickTimer : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ticks = 1000;
    previous_ = lxos::SetTickSource(&FakeTicks);
  }
  void TearDown() override { lxos::SetTickSource(previous_); }

  lxos::TickFunc previous_ = nullptr;
};

}  // namespace

TEST_F(TickTimer, AccumulatesStartToStopIntervals) {
  LxTickTimer timer;
  EXPECT_EQ(timer.TicksPerSecond(), 1000u);
  timer.Start();
  g_ticks += 1500;
  timer.Stop();
  g_ticks += 7000;  // not measured
  timer.Start();
  g_ticks += 500;
  timer.Stop();
  EXPECT_EQ(timer.MilliSeconds(), 2000u);
  EXPECT_DOUBLE_EQ(timer.Seconds(), 2.0);
  // Stop keeps the start: a second Stop adds the whole interval again.
  g_ticks += 250;
  timer.Stop();
  EXPECT_EQ(timer.MilliSeconds(), 2000u + 750u);
  timer.Reset();
  EXPECT_EQ(timer.MilliSeconds(), 0u);
  EXPECT_EQ(timer.Seconds(), 0.0);
  EXPECT_EQ(timer.GetStart(), 0u);
  // After Reset (and before the first Start) the elapsed time is the tick count.
  EXPECT_EQ(timer.ElapsedTime(), g_ticks);
  EXPECT_EQ(LxTickTimer().ElapsedTime(), g_ticks);
}

TEST_F(TickTimer, ElapsedTimeAndStopSurviveTheCounterWrapping) {
  LxTickTimer timer;
  g_ticks = 0xFFFFFF00u;
  timer.Start();
  g_ticks += 0x200;  // wraps to 0x100
  EXPECT_EQ(g_ticks, 0x100u);
  EXPECT_EQ(timer.ElapsedTime(), 0x200u);
  timer.Stop();
  EXPECT_EQ(timer.MilliSeconds(), 0x200u);
  EXPECT_EQ(timer.IsTimeOver(1, 0), 0);  // 512 ms < 1 s
  g_ticks += 500;
  EXPECT_EQ(timer.IsTimeOver(1, 0), 1);
}

TEST_F(TickTimer, IsTimeOverRestartsOnlyWhenAskedTo) {
  LxTickTimer timer;
  timer.Start();
  g_ticks += 1999;
  EXPECT_EQ(timer.IsTimeOver(2, 1), 0);
  g_ticks += 1;
  EXPECT_EQ(timer.IsTimeOver(2, 1), 1);
  // Restarted at the tick of the answer.
  EXPECT_EQ(timer.ElapsedTime(), 0u);
  EXPECT_EQ(timer.IsTimeOver(2, 1), 0);
  g_ticks += 2500;
  EXPECT_EQ(timer.IsTimeOver(2, 0), 1);
  g_ticks += 10;
  EXPECT_EQ(timer.IsTimeOver(2, 0), 1);
  EXPECT_EQ(timer.ElapsedTime(), 2510u);
  // Zero seconds are always over.
  EXPECT_EQ(timer.IsTimeOver(0, 0), 1);
  // IsTimeOver measures from Start, not from the accumulated time.
  EXPECT_EQ(timer.MilliSeconds(), 0u);
}

TEST_F(TickTimer, EstimatesAndSplitsItsElapsedTime) {
  std::unique_ptr<LxTimer> timer(LxTimer::MakeTimer());
  ASSERT_NE(timer, nullptr);
  ASSERT_NE(dynamic_cast<LxTickTimer*>(timer.get()), nullptr);
  timer->Start();
  g_ticks += 1000;
  EXPECT_EQ(timer->EstimatedTimeLeft(25), 4000u);
  EXPECT_EQ(timer->EstimatedTimeLeft(0), 0u);
  EXPECT_EQ(timer->EstimatedTimeLeft(100), 0u);
  EXPECT_EQ(timer->EstimatedTimeLeft(99), 1010u);
  g_ticks += 3722456;  // 1:02:03.456 since Start
  uint32_t h = 9, m = 9, s = 9;
  EXPECT_EQ(timer->HourMinSec(h, m, s), 456u);
  EXPECT_EQ(h, 1u);
  EXPECT_EQ(m, 2u);
  EXPECT_EQ(s, 3u);
  // The estimate is computed in 32 bits: 50,000,000 ms * 100 wraps.
  timer->Start();
  g_ticks += 50000000u;
  EXPECT_EQ(timer->EstimatedTimeLeft(50), static_cast<uint32_t>(50000000ull * 100 % 0x100000000ull) / 50);
}

// The timer base and the tick timer over a tick counter that the test moves.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "lxplatform.h"
#include "os/clock.h"

namespace {

uint32_t g_ticks = 1000;
uint32_t FakeTicks() { return g_ticks; }

// A timer whose elapsed time the test sets.
struct SetTimer : LxTimer {
  explicit SetTimer(uint32_t elapsed) : elapsed(elapsed) {}
  uint32_t ElapsedTime() const override { return elapsed; }
  uint32_t elapsed;
};

TEST(Timer, BaseMeasuresNothingAndComputesFromTheElapsedTime) {
  LxTimer base;
  base.Start(), base.Stop(), base.Reset();
  EXPECT_EQ(base.TicksPerSecond() + base.IsTimeOver(0, 1) + base.MilliSeconds() + base.ElapsedTime(), 0u);
  EXPECT_EQ(base.Seconds(), 0.0);
  const struct {
    uint32_t milliseconds, h, m, s, rest;
  } kSplits[] = {{3723456, 1, 2, 3, 456}, {90000000, 25, 0, 0, 0}, {0xFFFFFFFEu, 1193, 2, 47, 294}};
  for (const auto& c : kSplits) {
    uint32_t h = 7, m = 7, s = 7;
    EXPECT_EQ(base.HourMinSec(h, m, s, c.milliseconds), c.rest);
    EXPECT_EQ(std::vector<uint32_t>({h, m, s}), std::vector<uint32_t>({c.h, c.m, c.s})) << c.milliseconds;
  }
  uint32_t h = 7, m = 7, s = 7;
  EXPECT_EQ(SetTimer(59999).HourMinSec(h, m, s), 999u);  // 0xFFFFFFFF: the timer's own elapsed time
  EXPECT_EQ(h + m + s, 59u);
  EXPECT_EQ(base.HourMinSec(h, m, s), 0u);
  // The estimate is computed in 32 bits: 50,000,000 ms * 100 wraps.
  const uint32_t kEstimates[][3] = {{1000, 25, 4000},        {1000, 1, 100000}, {1000, 0, 0},
                                    {1000, 100, 0},          {1000, 250, 0},    {7, 3, 233},
                                    {50000000, 50, 14100654}};
  for (const auto& e : kEstimates)
    EXPECT_EQ(SetTimer(e[0]).EstimatedTimeLeft(e[1]), e[2]) << e[0] << " " << e[1];
}

TEST(TickTimer, AccumulatesRestartsAndSurvivesTheCounterWrapping) {
  const lxos::TickFunc previous = lxos::SetTickSource(&FakeTicks);
  std::unique_ptr<LxTimer> made(LxTimer::MakeTimer());
  ASSERT_NE(dynamic_cast<LxTickTimer*>(made.get()), nullptr);
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
  g_ticks += 250;
  timer.Stop();  // Stop keeps the start: the whole interval again
  EXPECT_EQ(timer.MilliSeconds(), 2750u);
  timer.Reset();
  EXPECT_EQ(timer.MilliSeconds() + timer.GetStart(), 0u);
  EXPECT_EQ(timer.ElapsedTime(), g_ticks);  // from 0 until the next Start
  g_ticks = 0xFFFFFF00u;
  timer.Start();
  g_ticks += 0x200;  // wraps to 0x100
  EXPECT_EQ(timer.ElapsedTime(), 0x200u);
  EXPECT_EQ(timer.IsTimeOver(1, 1), 0);  // 512 ms < 1 s
  g_ticks += 488;
  EXPECT_EQ(timer.IsTimeOver(1, 0), 1);
  EXPECT_EQ(timer.IsTimeOver(1, 1), 1);
  EXPECT_EQ(timer.ElapsedTime(), 0u);  // restarted at the tick of the answer
  EXPECT_EQ(timer.IsTimeOver(0, 0), 1);
  g_ticks += 3722456;
  uint32_t h = 9, m = 9, s = 9;
  EXPECT_EQ(timer.HourMinSec(h, m, s), 456u);
  EXPECT_EQ(h * 10000 + m * 100 + s, 10202u);  // 1:02:02.456
  EXPECT_EQ(timer.EstimatedTimeLeft(50), 2 * 3722456u);
  lxos::SetTickSource(previous);
  LxTickTimer real;  // on the host's clock
  real.Start();
  EXPECT_LT(real.ElapsedTime(), 60000u);
  EXPECT_EQ(LxTickTimer(real).GetStart(), real.GetStart());
}

}  // namespace

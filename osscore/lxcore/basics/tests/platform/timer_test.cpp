// The timer base: its no-op operations and the two operations that every timer
// computes from ElapsedTime.
#include <gtest/gtest.h>

#include "lxplatform.h"

namespace {

// A timer whose elapsed time the test sets.
class SetTimer : public LxTimer {
 public:
  explicit SetTimer(uint32_t elapsed) : elapsed_(elapsed) {}
  uint32_t ElapsedTime() const override { return elapsed_; }

 private:
  uint32_t elapsed_;
};

}  // namespace

TEST(Timer, BaseMeasuresNothing) {
  LxTimer timer;
  timer.Start();
  timer.Stop();
  timer.Reset();
  EXPECT_EQ(timer.TicksPerSecond(), 0u);
  EXPECT_EQ(timer.IsTimeOver(0, 1), 0);
  EXPECT_EQ(timer.Seconds(), 0.0);
  EXPECT_EQ(timer.MilliSeconds(), 0u);
  EXPECT_EQ(timer.ElapsedTime(), 0u);
  EXPECT_EQ(timer.EstimatedTimeLeft(50), 0u);
  uint32_t h = 7, m = 7, s = 7;
  EXPECT_EQ(timer.HourMinSec(h, m, s, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(h + m + s, 0u);
}

TEST(Timer, HourMinSecSplitsMillisecondsWithoutReducingHours) {
  LxTimer timer;
  uint32_t h = 0, m = 0, s = 0;
  EXPECT_EQ(timer.HourMinSec(h, m, s, 3723456), 456u);
  EXPECT_EQ(h, 1u);
  EXPECT_EQ(m, 2u);
  EXPECT_EQ(s, 3u);
  EXPECT_EQ(timer.HourMinSec(h, m, s, 90000000), 0u);
  EXPECT_EQ(h, 25u);
  EXPECT_EQ(m, 0u);
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(timer.HourMinSec(h, m, s, 0xFFFFFFFEu), 294u);  // 1193:02:47.294
  EXPECT_EQ(h, 1193u);
  EXPECT_EQ(m, 2u);
  EXPECT_EQ(s, 47u);
  // 0xFFFFFFFF stands for the timer's elapsed time, through the virtual call.
  SetTimer set(59999);
  EXPECT_EQ(set.HourMinSec(h, m, s), 999u);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(m, 0u);
  EXPECT_EQ(s, 59u);
}

TEST(Timer, EstimatedTimeLeftScalesTheElapsedTime) {
  EXPECT_EQ(SetTimer(1000).EstimatedTimeLeft(25), 4000u);
  EXPECT_EQ(SetTimer(1000).EstimatedTimeLeft(1), 100000u);
  EXPECT_EQ(SetTimer(1000).EstimatedTimeLeft(0), 0u);
  EXPECT_EQ(SetTimer(1000).EstimatedTimeLeft(100), 0u);
  EXPECT_EQ(SetTimer(1000).EstimatedTimeLeft(250), 0u);
  EXPECT_EQ(SetTimer(7).EstimatedTimeLeft(3), 233u);  // integer division
}

TEST(Timer, TickTimerRunsOnTheHostClock) {
  LxTickTimer timer;
  EXPECT_EQ(timer.TicksPerSecond(), 1000u);
  timer.Start();
  EXPECT_LT(timer.ElapsedTime(), 60000u);
  EXPECT_EQ(timer.IsTimeOver(3600, 0), 0);
  timer.Stop();
  EXPECT_LT(timer.MilliSeconds(), 60000u);
  LxTickTimer copy(timer);
  EXPECT_EQ(copy.GetStart(), timer.GetStart());
  EXPECT_EQ(copy.GetAccumulated(), timer.GetAccumulated());
}

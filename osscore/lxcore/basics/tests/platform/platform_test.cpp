// Registry entries' limits, the host name, timers over a tick counter the test moves, and in
// child processes (the zone is read once per process) date, time and zone, and the boost setting.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lxframe.h"
#include "lxplatform.h"
#include "lxtest.h"
#include "os/clock.h"

namespace {

// A get into a buffer of `size` bytes: the result, the size after, and the buffer.
std::string Got(int r, int32_t n, const char* b) {
  return std::to_string(r) + " " + std::to_string(n) + " " + b;
}
std::string Get(const char* const* path, int32_t size) {
  char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  const int result = LxGetRegistryEntry(path, buffer, size);
  return Got(result, size, std::string(buffer, 12).c_str());
}
int Set(const char* const* path, const char* v, int32_t n = 1) { return LxSetRegistryEntry(path, v, n); }

TEST(RegistryEntry, LimitsAndWhatAGetLeaves) {
  const char *value[] = {"Server", "Port", nullptr}, *shout[] = {"SERVER", "PORT", nullptr};
  ASSERT_EQ(Set(value, "0123456789"), 0);
  EXPECT_EQ(Get(shout, 11), Got(0, 10, "0123456789##"));  // size - 1 bytes offered, no terminator added
  // Too small: the size needed. A missing key leaves the size, a missing value what was offered.
  EXPECT_EQ(Get(value, 10), Got(LX_REGISTRY_FAILED, 10, "############"));
  const char *noKey[] = {"Nowhere", "v", nullptr}, *noValue[] = {"Server", "w", nullptr};
  EXPECT_EQ(Get(noKey, 20), Got(LX_REGISTRY_FAILED, 20, "############"));
  EXPECT_EQ(Get(noValue, 20), Got(LX_REGISTRY_FAILED, 19, "############"));
  ASSERT_EQ(Set(value, ""), 0);
  EXPECT_EQ(Get(value, 10), Got(0, 0, "############"));
  EXPECT_EQ(Set(value, "x", -1), 0);  // any non-zero size is accepted by a set
  EXPECT_EQ(Set(value, nullptr), LX_REGISTRY_INVALID_PARAMETER);
  // The base key has 30 characters; the key path with its zero byte must fit 260.
  const std::string fits(259 - 30 - 1, 'x'), tooLong(260 - 30 - 1, 'x');
  const char *atLimit[] = {fits.c_str(), "v", nullptr}, *beyond[] = {tooLong.c_str(), "v", nullptr};
  EXPECT_EQ(Set(atLimit, "ok"), 0);
  EXPECT_EQ(Set(beyond, "no"), LX_REGISTRY_INVALID_PARAMETER);
  EXPECT_EQ(Get(beyond, 10), Got(LX_REGISTRY_INVALID_PARAMETER, 10, "############"));
  EXPECT_EQ(LxDeleteRegistryEntry(beyond), LX_REGISTRY_INVALID_PARAMETER);
  lxtest::ScopedEnv unopenable("ORVANTA_REGISTRY", lxtest::StateDir().c_str());  // a directory
  EXPECT_EQ(Set(value, "x"), LX_REGISTRY_FAILED);
  EXPECT_EQ(Get(value, 10), Got(LX_REGISTRY_FAILED, 10, "############"));
  EXPECT_EQ(LxDeleteRegistryEntry(value), LX_REGISTRY_FAILED);
}

TEST(Hostname, IsTheHostsNameAndNeverOverrunsTheBuffer) {
  char expected[256] = {}, buf[256];
  ASSERT_EQ(gethostname(expected, sizeof expected - 1), 0);
  const int length = static_cast<int>(std::strlen(expected));
  for (int size : {256, length + 1, length, 0}) {
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(LxGetHostname(buf, size), 0);
    EXPECT_EQ(std::string(buf, size > length ? length + 1 : 1),
              size > length ? expected + std::string(1, '\0') : "#");
  }
  EXPECT_EQ(LxGetHostname(nullptr, 10), 0);
}

uint32_t g_ticks = 1000;
uint32_t FakeTicks() { return g_ticks; }

struct SetTimer : LxTimer {  // a timer whose elapsed time the test sets
  explicit SetTimer(uint32_t elapsed) : elapsed(elapsed) {}
  uint32_t ElapsedTime() const override { return elapsed; }
  uint32_t elapsed;
};

TEST(Timer, BaseMeasuresNothingAndComputesFromTheElapsedTime) {
  LxTimer base;
  base.Start(), base.Stop(), base.Reset();
  EXPECT_EQ(base.TicksPerSecond() + base.IsTimeOver(0, 1) + base.MilliSeconds() + base.ElapsedTime(), 0u);
  EXPECT_EQ(base.Seconds(), 0.0);
  uint32_t h = 7, m = 7, s = 7;
  EXPECT_EQ(base.HourMinSec(h, m, s, 0xFFFFFFFEu), 294u);  // hours go on past 24
  EXPECT_EQ(std::vector<uint32_t>({h, m, s}), std::vector<uint32_t>({1193, 2, 47}));
  EXPECT_EQ(SetTimer(59999).HourMinSec(h, m, s), 999u);  // 0xFFFFFFFF: the timer's own elapsed time
  EXPECT_EQ(h + m + s, 59u);
  EXPECT_EQ(base.HourMinSec(h, m, s), 0u);
  // The estimate is computed in 32 bits: 50,000,000 ms * 100 wraps.
  const uint32_t kEstimates[][3] = {
      {1000, 25, 4000}, {1000, 0, 0}, {1000, 100, 0}, {7, 3, 233}, {50000000, 50, 14100654}};
  for (const auto& e : kEstimates)
    EXPECT_EQ(SetTimer(e[0]).EstimatedTimeLeft(e[1]), e[2]) << e[0] << " " << e[1];
}

TEST(TickTimer, AccumulatesRestartsAndSurvivesTheCounterWrapping) {
  lxos::SetTickSource(&FakeTicks);
  std::unique_ptr<LxTimer> made(LxTimer::MakeTimer());
  ASSERT_NE(dynamic_cast<LxTickTimer*>(made.get()), nullptr);
  LxTickTimer timer;
  EXPECT_EQ(timer.TicksPerSecond(), 1000u);
  timer.Start(), g_ticks += 1500, timer.Stop();
  g_ticks += 7000;  // not measured
  timer.Start(), g_ticks += 500, timer.Stop();
  EXPECT_EQ(timer.MilliSeconds(), 2000u);
  EXPECT_DOUBLE_EQ(timer.Seconds(), 2.0);
  g_ticks += 250, timer.Stop();  // Stop keeps the start: the whole interval again
  EXPECT_EQ(timer.MilliSeconds(), 2750u);
  timer.Reset();
  EXPECT_EQ(timer.MilliSeconds() + timer.GetStart(), 0u);
  EXPECT_EQ(timer.ElapsedTime(), g_ticks);                 // from 0 until the next Start
  g_ticks = 0xFFFFFF00u, timer.Start(), g_ticks += 0x200;  // wraps to 0x100
  EXPECT_EQ(timer.ElapsedTime(), 0x200u);
  EXPECT_EQ(timer.IsTimeOver(1, 1), 0);  // 512 ms < 1 s
  g_ticks += 488;
  EXPECT_EQ(timer.IsTimeOver(1, 0), 1);
  EXPECT_EQ(timer.IsTimeOver(1, 1), 1);
  EXPECT_EQ(timer.ElapsedTime(), 0u);  // restarted at the tick of the answer
  EXPECT_EQ(timer.IsTimeOver(0, 0), 1);
}

int64_t g_now = 0;
int g_reads = 0, g_step = 0;  // seconds the clock moves on after each reading
void FixedClock(int64_t* s, int32_t* ns) { *s = g_now, *ns = 250000000, g_now += g_step, ++g_reads; }

const char kCet[] = "CET-1CEST,M3.5.0,M10.5.0/3";
const char kEastern[] = "EST5EDT,M3.2.0,M11.1.0";
const char kSydney[] = "AEST-10AEDT,M10.1.0,M4.1.0/3";
// UTC 2024-01-15 12:00, 2024-07-15 12:00, 2024-01-15 22:10:05, 2024-12-31 23:30, 2024-01-14 23:10.
const int64_t kWinter = 1705320000, kSummer = 1721044800, kLate = 1705356605, kEve = 1735687800,
              kEarly = 1705273800;

template <typename... A>
std::string Format(const char* format, A... args) {
  char buf[96];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}
std::string ZoneState() {  // state, bias and daylight bias as the Linux layer reads them
  lxos::TimeZoneInfo info;
  const uint32_t state = lxos::ReadTimeZone(&info);
  return Format("%u %d %d", state, info.bias, info.daylightBias);
}
std::string Local() {
  bdate d;
  btime t;
  bksgetdate(&d), bksgettime(&t);
  return Format("%u-%02u-%02u %u:%02u:%02u %d", d.year, d.month, d.day, t.hour, t.minute, t.second,
                t.timezone);
}
std::string SystemTime() {  // and the clock readings it took
  bksgettimezone();
  g_reads = 0;
  btime t;
  bdate d;
  bksgetsystemtime(&t, &d);
  return Format("%u-%02u-%02u %u:%02u:%02u %d reads=%d", d.year, d.month, d.day, t.hour, t.minute, t.second,
                t.timezone, g_reads);
}
std::function<std::string()> WithOffset(int32_t hours, std::string (*read)()) {
  return [=] { return LxOffsetHours(hours), read(); };
}
std::string ZoneOnce() {  // determined once for the process: later zones and seasons are not seen
  const int32_t first = bksgettimezone();
  g_now = kSummer, setenv("TZ", kEastern, 1);
  btime t;
  bksgettime(&t);
  return Format("%d %d %d", first, bksgettimezone(), t.timezone);
}
std::string Offsets() {  // the offset keeps its low eight bits, signed
  std::string out;
  for (int32_t h : {2, -1, 0x1FE, 254, 0x7F, 0}) out += std::to_string(LxOffsetHours(h)) + " ";
  return out;
}
// The priority-boost setting (read once): the answer, the answer after another configuration came, the reads.
std::function<std::string()> Boost(bool configured, bool answers, int32_t value) {
  return [=] {
    lxtest::Config config;
    if (answers) config.ints["servers/lxserver/disableWin32PriorityBoost"] = value;
    if (configured) DefaultConfig(&config);
    const unsigned first = GetDisableWin32PriorityBoost();
    DefaultConfig(&config);
    const unsigned second = GetDisableWin32PriorityBoost();  // before `reads` is read
    return Format("%u %u %d", first, second, config.reads);
  };
}

TEST(DateTimeAndSettings, AtFixedInstantsInFixedZones) {
  const struct {
    const char* tz;
    int64_t now;
    std::function<std::string()> read;
    std::string expected;
  } kCases[] = {
      {kCet, kWinter, Local, "2024-01-15 13:00:00 60"},
      {kCet, kSummer, Local, "2024-07-15 14:00:00 120"},
      {kCet, kWinter, ZoneState, "1 -60 -60"},  // standard time now, daylight time later in the year
      {kEastern, kWinter, Local, "2024-01-15 7:00:00 -300"},
      {"NST3:30NDT,M3.2.0,M11.1.0", kWinter, Local, "2024-01-15 8:30:00 -210"},
      // South of the equator daylight time spans the new year; without it, the standard offset.
      {kSydney, kWinter, Local, "2024-01-15 23:00:00 660"},
      {"IST-5:30", kSummer, Local, "2024-07-15 17:30:00 330"},
      {kCet, kEve, Local, "2025-01-01 0:30:00 60"},
      {kEastern, kEve, Local, "2024-12-31 18:30:00 -300"},
      // The hour offset wraps past 24 and below 0 without touching the date.
      {kCet, kLate, WithOffset(2, Local), "2024-01-15 25:10:05 60"},
      {kCet, kEarly, WithOffset(-1, Local), "2024-01-15 255:10:00 60"},
      {kCet, kEarly, WithOffset(3, SystemTime), "2024-01-14 26:10:00 60 reads=1"},
      {kCet, kWinter, ZoneOnce, "60 60 60"},
      // Date and time come from one reading: a second one would give the next day's date.
      {kEastern, kEve + 1799, [] { return bksgettimezone(), g_step = 1, SystemTime(); },
       "2024-12-31 23:59:59 -300 reads=1"},
      {"UTC0", kWinter, Offsets, "0 2 -1 -2 -2 127 "},
      {"UTC0", kWinter, Boost(true, true, 1), "1 1 1"},
      {"UTC0", kWinter, Boost(true, true, 0), "0 0 1"},
      {"UTC0", kWinter, Boost(true, false, 1), "0 0 1"},
      {"UTC0", kWinter, Boost(false, true, 1), "0 0 0"},
  };
  for (const auto& c : kCases) {
    const lxtest::ChildResult r = lxtest::RunInChild([&c] {
      setenv("TZ", c.tz, 1), tzset(), g_now = c.now, lxos::SetRealtimeSource(&FixedClock);
      std::fputs(c.read().c_str(), stderr);
      return 0;
    });
    EXPECT_EQ(r.err, c.expected) << c.tz << " at " << c.now;
  }
}

}  // namespace

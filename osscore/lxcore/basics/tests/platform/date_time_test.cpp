// Date, time and time zone at fixed instants under zones the tests set. The zone
// is determined once per process, so every case runs in a child of its own.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdio>
#include <functional>
#include <string>

#include "lxplatform.h"
#include "lxtest.h"
#include "os/clock.h"

namespace {

int64_t g_now = 0;
int g_reads = 0, g_step = 0;  // seconds the clock moves on after each reading
void FixedClock(int64_t* seconds, int32_t* nanoseconds) {
  *seconds = g_now;
  *nanoseconds = 250000000;
  g_now += g_step;
  ++g_reads;
}

int64_t Utc(int year, int month, int day, int hour, int minute, int second) {
  struct tm t = {};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
  t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
  return static_cast<int64_t>(timegm(&t));
}

template <typename... A>
std::string Format(const char* format, A... args) {
  char buf[96];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}
std::string Zone() { return std::to_string(bksgettimezone()); }
std::string ZoneState() {  // state, bias and daylight bias as the Linux layer reads them
  lxos::TimeZoneInfo info;
  const uint32_t state = lxos::ReadTimeZone(&info);
  return Format("%u %d %d", state, info.bias, info.daylightBias);
}
std::string Time() {
  btime t;
  bksgettime(&t);
  return Format("%u:%02u:%02u %d", t.hour, t.minute, t.second, t.timezone);
}
std::string Date() {
  bdate d;
  bksgetdate(&d);
  return Format("%u-%02u-%02u", d.year, d.month, d.day);
}
std::string SystemTime() {
  btime t;
  bdate d;
  bksgetsystemtime(&t, &d);
  return Format("%u-%02u-%02u %u:%02u:%02u %d", d.year, d.month, d.day, t.hour, t.minute, t.second,
                t.timezone);
}
std::function<std::string()> WithOffset(int32_t hours, std::string (*read)()) {
  return [=] { return LxOffsetHours(hours), read() + " " + Date(); };
}

const char kCet[] = "CET-1CEST,M3.5.0,M10.5.0/3";
const char kEastern[] = "EST5EDT,M3.2.0,M11.1.0";
const char kSydney[] = "AEST-10AEDT,M10.1.0,M4.1.0/3";
const int64_t kWinter = Utc(2024, 1, 15, 12, 0, 0), kSummer = Utc(2024, 7, 15, 12, 0, 0);
const int64_t kLate = Utc(2024, 1, 15, 22, 10, 5), kEve = Utc(2024, 12, 31, 23, 30, 0);
const int64_t kEarly = Utc(2024, 1, 14, 23, 10, 0);

TEST(DateTime, AtFixedInstantsInFixedZones) {
  const struct {
    const char* tz;
    int64_t now;
    std::function<std::string()> read;
    std::string expected;
  } kCases[] = {
      {kCet, kWinter, Zone, "60"},
      {kCet, kSummer, Zone, "120"},
      {kCet, kWinter, ZoneState, "1 -60 -60"},  // standard time now, daylight time later in the year
      {kEastern, kWinter, Zone, "-300"},
      {kEastern, kSummer, Zone, "-240"},
      {"NST3:30NDT,M3.2.0,M11.1.0", kWinter, Zone, "-210"},
      {kSydney, kWinter, Zone, "660"},  // south of the equator daylight time spans the new year
      {kSydney, kSummer, Zone, "600"},
      {"UTC0", kWinter, Zone, "0"},  // zones without daylight time: their standard offset
      {"IST-5:30", kSummer, Zone, "330"},
      {"JST-9", kSummer, Time, "21:00:00 540"},
      {kCet, kLate, Time, "23:10:05 60"},
      {kCet, kLate, Date, "2024-01-15"},
      {kCet, kEve, Date, "2025-01-01"},
      {kEastern, kEve, Date, "2024-12-31"},
      // The hour offset wraps past 24 and below 0 without touching the date.
      {kCet, kLate, WithOffset(2, Time), "25:10:05 60 2024-01-15"},
      {kCet, kEarly, WithOffset(-1, Time), "255:10:00 60 2024-01-15"},
      {kCet, kEarly, WithOffset(3, SystemTime), "2024-01-14 26:10:00 60 2024-01-15"},
      // The zone is determined once for the process: later zones and seasons are not seen.
      {kCet, kWinter,
       [] {
         const std::string first = Zone();
         g_now = kSummer;
         setenv("TZ", kEastern, 1);
         btime t;
         bksgettime(&t);
         return first + " " + Zone() + " " + std::to_string(t.timezone);
       },
       "60 60 60"},
      // Date and time come from one reading: a second one would give the next day's date.
      {kEastern, Utc(2024, 12, 31, 23, 59, 59),
       [] {
         Zone();
         g_step = 1, g_reads = 0;
         const std::string read = SystemTime();
         return read + " reads=" + std::to_string(g_reads);
       },
       "2024-12-31 23:59:59 -300 reads=1"},
      // The offset keeps its low eight bits, signed.
      {"UTC0", kWinter,
       [] {
         std::string out;
         for (int32_t h : {2, -1, 0x1FE, 254, 0x7F, 0}) out += std::to_string(LxOffsetHours(h)) + " ";
         return out;
       },
       "0 2 -1 -2 -2 127 "},
  };
  for (const auto& c : kCases) {
    lxtest::ChildResult r = lxtest::RunInChild([&c] {
      setenv("TZ", c.tz, 1);
      tzset();
      g_now = c.now;
      lxos::SetRealtimeSource(&FixedClock);
      std::fputs(c.read().c_str(), stderr);
      return 0;
    });
    EXPECT_EQ(r.err, c.expected) << c.tz << " at " << c.now;
  }
}

}  // namespace

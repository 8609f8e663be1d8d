// Date, time and time zone at fixed instants under zones the tests set.
//
// The time-zone answer is cached once per process, so every case that asks for
// it runs in a child process of its own.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "lxplatform.h"
#include "lxtest.h"
#include "os/clock.h"

namespace {

int64_t g_now = 0;
int g_reads = 0;
int g_step = 0;  // seconds the clock moves forward after each reading

void FixedClock(int64_t* seconds, int32_t* nanoseconds) {
  *seconds = g_now;
  *nanoseconds = 250000000;
  g_now += g_step;
  ++g_reads;
}

// Seconds since the epoch of a UTC calendar time.
int64_t Utc(int year, int month, int day, int hour, int minute, int second) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<int64_t>(timegm(&t));
}

// Runs `body` in a child with TZ = `tz` and the clock at `now`; returns what the
// body returned, or a note of how the child failed.
std::string InChild(const char* tz, int64_t now, const std::function<std::string()>& body) {
  lxtest::ChildResult r = lxtest::RunInChild([&] {
    setenv("TZ", tz, 1);
    tzset();
    g_now = now;
    lxos::SetRealtimeSource(&FixedClock);
    std::string out = body();
    std::fputs(out.c_str(), stderr);
    return 0;
  });
  if (!r.exited || r.code != 0) return "child failed: " + r.err;
  return r.err;
}

std::string Zone() { return std::to_string(bksgettimezone()); }

std::string Time() {
  btime t;
  bksgettime(&t);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%u:%02u:%02u %d", t.hour, t.minute, t.second, t.timezone);
  return buf;
}

std::string Date() {
  bdate d;
  bksgetdate(&d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%u-%02u-%02u", d.year, d.month, d.day);
  return buf;
}

std::string SystemTime() {
  btime t;
  bdate d;
  bksgetsystemtime(&t, &d);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%u-%02u-%02u %u:%02u:%02u %d", d.year, d.month, d.day, t.hour, t.minute,
                t.second, t.timezone);
  return buf;
}

const char kCentralEurope[] = "CET-1CEST,M3.5.0,M10.5.0/3";
const char kUsEastern[] = "EST5EDT,M3.2.0,M11.1.0";
const char kNewfoundland[] = "NST3:30NDT,M3.2.0,M11.1.0";
const char kSydney[] = "AEST-10AEDT,M10.1.0,M4.1.0/3";

const int64_t kWinter = Utc(2024, 1, 15, 12, 0, 0);
const int64_t kSummer = Utc(2024, 7, 15, 12, 0, 0);

}  // namespace

TEST(TimeZone, StandardAndDaylightEastAndWestOfUtc) {
  EXPECT_EQ(InChild(kCentralEurope, kWinter, Zone), "60");
  EXPECT_EQ(InChild(kCentralEurope, kSummer, Zone), "120");
  EXPECT_EQ(InChild(kUsEastern, kWinter, Zone), "-300");
  EXPECT_EQ(InChild(kUsEastern, kSummer, Zone), "-240");
  EXPECT_EQ(InChild(kNewfoundland, kWinter, Zone), "-210");
  // South of the equator daylight time spans the turn of the year.
  EXPECT_EQ(InChild(kSydney, kWinter, Zone), "660");
  EXPECT_EQ(InChild(kSydney, kSummer, Zone), "600");
}

TEST(TimeZone, HostPartsAreBiasesWestOfUtc) {
  auto parts = [] {
    lxos::TimeZoneInfo info;
    int state = static_cast<int>(lxos::ReadTimeZone(&info));
    return std::to_string(state) + " " + std::to_string(info.bias) + " " + std::to_string(info.standardBias) +
           " " + std::to_string(info.daylightBias);
  };
  EXPECT_EQ(InChild(kCentralEurope, kWinter, parts), "1 -60 0 -60");
  EXPECT_EQ(InChild(kCentralEurope, kSummer, parts), "2 -60 0 -60");
  EXPECT_EQ(InChild(kSydney, kWinter, parts), "2 -600 0 -60");
  EXPECT_EQ(InChild(kUsEastern, kSummer, parts), "2 300 0 -60");
  EXPECT_EQ(InChild("JST-9", kSummer, parts), "1 -540 0 0");
}

TEST(TimeZone, ZoneWithoutDaylightTimeReportsItsStandardOffset) {
  EXPECT_EQ(InChild("UTC0", kWinter, Zone), "0");
  EXPECT_EQ(InChild("IST-5:30", kSummer, Zone), "330");
  // 12:00 UTC is 21:00 in Tokyo, and bksgettime carries the zone.
  EXPECT_EQ(InChild("JST-9", kSummer, Time), "21:00:00 540");
  // The answer stays for the process, even for a later query.
  EXPECT_EQ(InChild("UTC0", kWinter,
                    [] {
                      std::string first = Zone();
                      setenv("TZ", kCentralEurope, 1);
                      return first + " " + Zone();
                    }),
            "0 0");
}

TEST(TimeZone, DeterminedOnceForTheProcess) {
  EXPECT_EQ(InChild(kCentralEurope, kWinter,
                    [] {
                      std::string first = Zone();
                      g_now = kSummer;  // daylight time begins: not seen
                      std::string second = Zone();
                      setenv("TZ", kUsEastern, 1);  // another zone: not seen either
                      btime t;
                      bksgettime(&t);
                      return first + " " + second + " " + Zone() + " " + std::to_string(t.timezone);
                    }),
            "60 60 60 60");
}

TEST(DateTime, LocalTimeAndDate) {
  // 22:10:05 UTC on 15 January is 23:10:05 in Central Europe.
  const int64_t late = Utc(2024, 1, 15, 22, 10, 5);
  EXPECT_EQ(InChild(kCentralEurope, late, Time), "23:10:05 60");
  EXPECT_EQ(InChild(kCentralEurope, late, Date), "2024-01-15");
  // 23:30 UTC on New Year's Eve is already the new year there, not in New York.
  const int64_t eve = Utc(2024, 12, 31, 23, 30, 0);
  EXPECT_EQ(InChild(kCentralEurope, eve, Date), "2025-01-01");
  EXPECT_EQ(InChild(kUsEastern, eve, Date), "2024-12-31");
  EXPECT_EQ(InChild(kUsEastern, eve, Time), "18:30:00 -300");
  // A leap day.
  EXPECT_EQ(InChild("UTC0", Utc(2024, 2, 29, 0, 0, 0), Date), "2024-02-29");
}

TEST(DateTime, HourOffsetWrapsPast24AndBelow0WithoutTouchingTheDate) {
  // With offset 2 at 23:10 local time the hour is 25; the date stays.
  const int64_t late = Utc(2024, 1, 15, 22, 10, 0);
  EXPECT_EQ(InChild(kCentralEurope, late,
                    [] {
                      LxOffsetHours(2);
                      return Time() + " " + Date();
                    }),
            "25:10:00 60 2024-01-15");
  // With offset -1 at 00:10 local time the hour is 255.
  const int64_t early = Utc(2024, 1, 14, 23, 10, 0);
  EXPECT_EQ(InChild(kCentralEurope, early,
                    [] {
                      LxOffsetHours(-1);
                      return Time() + " " + Date();
                    }),
            "255:10:00 60 2024-01-15");
  // The UTC reading gets the offset too: 23:10 UTC + 3 = 26.
  EXPECT_EQ(InChild(kCentralEurope, early,
                    [] {
                      LxOffsetHours(3);
                      return SystemTime();
                    }),
            "2024-01-14 26:10:00 60");
}

TEST(DateTime, SystemTimeTakesDateAndTimeFromOneReading) {
  // The clock moves one second per reading: a second reading would give the
  // next day's date with the old day's time.
  const int64_t midnight = Utc(2024, 12, 31, 23, 59, 59);
  EXPECT_EQ(InChild(kUsEastern, midnight,
                    [] {
                      Zone();
                      g_step = 1;
                      g_reads = 0;
                      std::string out = SystemTime();
                      return out + " reads=" + std::to_string(g_reads);
                    }),
            "2024-12-31 23:59:59 -300 reads=1");
}

TEST(DateTime, OffsetKeepsTheLowEightBitsSigned) {
  lxtest::ChildResult r = lxtest::RunInChild([] {
    int32_t a = LxOffsetHours(2);
    int32_t b = LxOffsetHours(-1);
    int32_t c = LxOffsetHours(0x1FE);  // low byte 0xFE: -2
    int32_t d = LxOffsetHours(254);
    int32_t e = LxOffsetHours(0x7F);
    int32_t f = LxOffsetHours(0);
    std::fprintf(stderr, "%d %d %d %d %d %d", a, b, c, d, e, f);
    return 0;
  });
  EXPECT_EQ(r.err, "0 2 -1 -2 -2 127");
}

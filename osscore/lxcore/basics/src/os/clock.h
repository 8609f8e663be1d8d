// Clocks of the host: calendar time (local and UTC), the time zone with its
// standard and daylight parts, and a millisecond tick counter.
//
// Calendar time comes from CLOCK_REALTIME, converted with localtime_r/gmtime_r
// under the current TZ (tzset is called on every local reading, so a changed TZ
// is seen). The tick counter is CLOCK_MONOTONIC in milliseconds, modulo 2^32:
// it wraps like the host's tick count after about 49.7 days.
//
// Both sources can be replaced for tests (SetRealtimeSource, SetTickSource).
// The replacement is a plain process-wide pointer: set it before other threads
// read the clocks.
#pragma once

#include <cstdint>

namespace lxos {

// One reading of the calendar, broken down. month 1..12, day 1..31, hour 0..23.
struct CalendarTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Reads the realtime clock once and breaks it down as local time (`local`) and
// UTC (`utc`); either may be null. Returns false, leaving both zeroed, when the
// time cannot be broken down (a clock far outside the calendar's range).
bool ReadCalendar(CalendarTime* local, CalendarTime* utc);

// The host's time-zone state, numbered as the design's platform numbers it. A
// zone that keeps no daylight time is in standard time all year.
enum TimeZoneState : uint32_t {
  kTimeZoneStandard = 1,  // standard time is in effect
  kTimeZoneDaylight = 2,  // daylight time is in effect
  kTimeZoneInvalid = 0xFFFFFFFFu,
};

// Biases in minutes, counted west of UTC as the design's platform counts them:
// local time = UTC - (bias + standardBias) in standard time and
// UTC - (bias + standardBias + daylightBias) in daylight time.
struct TimeZoneInfo {
  int32_t bias = 0;
  int32_t standardBias = 0;
  int32_t daylightBias = 0;
};

// Describes the time zone at the current time of the realtime source. bias is
// the standard offset negated, standardBias 0, daylightBias the negated step
// from standard to daylight time (-60 for a one-hour step; 0 for a zone that has
// no daylight time in the current year, which reports kTimeZoneStandard).
// kTimeZoneInvalid when the time cannot be broken down; `info` is then zeroed.
TimeZoneState ReadTimeZone(TimeZoneInfo* info);

// Milliseconds of the monotonic clock, modulo 2^32.
uint32_t TickCount();

// Test hooks. A realtime source stores seconds and nanoseconds since the epoch.
// Each setter returns the previous source; null restores the host's clock.
using RealtimeFunc = void (*)(int64_t* seconds, int32_t* nanoseconds);
using TickFunc = uint32_t (*)();
RealtimeFunc SetRealtimeSource(RealtimeFunc source);
TickFunc SetTickSource(TickFunc source);

}  // namespace lxos

#include "os/clock.h"

#include <time.h>

#include <atomic>
#include <initializer_list>

namespace lxos {

namespace {

void HostRealtime(int64_t* seconds, int32_t* nanoseconds) {
  struct timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) {
    ts.tv_sec = 0;
    ts.tv_nsec = 0;
  }
  *seconds = static_cast<int64_t>(ts.tv_sec);
  *nanoseconds = static_cast<int32_t>(ts.tv_nsec);
}

uint32_t HostTicks() {
  struct timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

std::atomic<RealtimeFunc> g_realtime{&HostRealtime};
std::atomic<TickFunc> g_ticks{&HostTicks};

void Fill(const struct tm& tm, int32_t nanoseconds, CalendarTime* out) {
  out->year = tm.tm_year + 1900;
  out->month = tm.tm_mon + 1;
  out->day = tm.tm_mday;
  out->hour = tm.tm_hour;
  out->minute = tm.tm_min;
  out->second = tm.tm_sec;
  out->millisecond = nanoseconds / 1000000;
}

// Local time at `t`, under the current TZ. False when out of range.
bool Local(time_t t, struct tm* out) { return localtime_r(&t, out) != nullptr; }

}  // namespace

bool ReadCalendar(CalendarTime* local, CalendarTime* utc) {
  int64_t seconds = 0;
  int32_t nanoseconds = 0;
  g_realtime.load(std::memory_order_relaxed)(&seconds, &nanoseconds);
  // localtime_r, unlike localtime, need not look at TZ again; tzset makes it.
  tzset();
  time_t t = static_cast<time_t>(seconds);
  struct tm lt, ut;
  bool ok = Local(t, &lt) && gmtime_r(&t, &ut) != nullptr;
  if (local != nullptr) *local = CalendarTime();
  if (utc != nullptr) *utc = CalendarTime();
  if (!ok) return false;
  if (local != nullptr) Fill(lt, nanoseconds, local);
  if (utc != nullptr) Fill(ut, nanoseconds, utc);
  return true;
}

TimeZoneState ReadTimeZone(TimeZoneInfo* info) {
  *info = TimeZoneInfo();
  int64_t seconds = 0;
  int32_t nanoseconds = 0;
  g_realtime.load(std::memory_order_relaxed)(&seconds, &nanoseconds);
  tzset();
  struct tm now;
  if (!Local(static_cast<time_t>(seconds), &now)) return kTimeZoneInvalid;

  bool daylightNow = now.tm_isdst > 0;
  long standardOffset = daylightNow ? 0 : now.tm_gmtoff;  // seconds east of UTC
  long daylightOffset = daylightNow ? now.tm_gmtoff : 0;
  bool haveStandard = !daylightNow;
  bool haveDaylight = daylightNow;
  // The other part: probe the year twice a month. Every daylight period in use
  // lasts longer than two weeks.
  for (int month = 0; month < 12 && !(haveStandard && haveDaylight); ++month) {
    for (int day : {1, 15}) {
      struct tm probe = {};
      probe.tm_year = now.tm_year;
      probe.tm_mon = month;
      probe.tm_mday = day;
      probe.tm_hour = 12;
      struct tm lt;
      if (!Local(timegm(&probe), &lt)) continue;
      if (lt.tm_isdst > 0 && !haveDaylight) {
        daylightOffset = lt.tm_gmtoff;
        haveDaylight = true;
      } else if (lt.tm_isdst == 0 && !haveStandard) {
        standardOffset = lt.tm_gmtoff;
        haveStandard = true;
      }
    }
  }
  if (!haveStandard) standardOffset = -timezone;  // a zone in daylight time all year
  info->bias = static_cast<int32_t>(-standardOffset / 60);
  if (!haveDaylight) return kTimeZoneStandard;
  info->daylightBias = static_cast<int32_t>(-(daylightOffset - standardOffset) / 60);
  return daylightNow ? kTimeZoneDaylight : kTimeZoneStandard;
}

uint32_t TickCount() { return g_ticks.load(std::memory_order_relaxed)(); }

RealtimeFunc SetRealtimeSource(RealtimeFunc source) {
  return g_realtime.exchange(source ? source : &HostRealtime, std::memory_order_relaxed);
}

TickFunc SetTickSource(TickFunc source) {
  return g_ticks.exchange(source ? source : &HostTicks, std::memory_order_relaxed);
}

}  // namespace lxos

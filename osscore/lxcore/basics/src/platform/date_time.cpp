// Date, time of day and time zone, with the process-wide hour offset.
#include <atomic>

#include "lxplatform.h"
#include "os/clock.h"

namespace {

// The time-zone cache's value before the first determination.
constexpr int32_t kNotDetermined = 0x0FFFFFFF;

std::atomic<signed char> g_offsetHours{0};
std::atomic<int32_t> g_timeZone{kNotDetermined};

void FillTime(const lxos::CalendarTime& c, btime* time) {
  time->hour = static_cast<unsigned char>(g_offsetHours.load(std::memory_order_relaxed) + c.hour);
  time->minute = static_cast<unsigned char>(c.minute);
  time->second = static_cast<unsigned char>(c.second);
  int32_t zone = bksgettimezone();
  time->timezone = zone == LX_TIME_ZONE_UNKNOWN ? 0 : zone;
}

void FillDate(const lxos::CalendarTime& c, bdate* date) {
  date->year = static_cast<unsigned short>(c.year);
  date->month = static_cast<unsigned char>(c.month);
  date->day = static_cast<unsigned char>(c.day);
}

}  // namespace

int32_t LxOffsetHours(int32_t hours) {
  signed char now = static_cast<signed char>(static_cast<uint32_t>(hours) & 0xff);
  return g_offsetHours.exchange(now, std::memory_order_relaxed);
}

void bksgetdate(bdate* date) {
  lxos::CalendarTime local;
  lxos::ReadCalendar(&local, nullptr);
  FillDate(local, date);
}

void bksgettime(btime* time) {
  lxos::CalendarTime local;
  lxos::ReadCalendar(&local, nullptr);
  FillTime(local, time);
}

void bksgetsystemtime(btime* time, bdate* date) {
  lxos::CalendarTime utc;
  lxos::ReadCalendar(nullptr, &utc);
  FillTime(utc, time);
  FillDate(utc, date);
}

int32_t bksgettimezone() {
  int32_t cached = g_timeZone.load(std::memory_order_relaxed);
  if (cached != kNotDetermined) return cached;
  lxos::TimeZoneInfo info;
  int32_t zone;
  switch (lxos::ReadTimeZone(&info)) {
    case lxos::kTimeZoneStandard:
      zone = -(info.bias + info.standardBias);
      break;
    case lxos::kTimeZoneDaylight:
      zone = -(info.bias + info.standardBias + info.daylightBias);
      break;
    default:
      zone = LX_TIME_ZONE_UNKNOWN;
      break;
  }
  g_timeZone.store(zone, std::memory_order_relaxed);
  return zone;
}

// lxtool time: what the library reports for date, time of day, time zone and
// the tick timer.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "commands.h"
#include "lxplatform.h"

namespace lxtool {

const char kTimeHelp[] =
    "usage: lxtool time [--offset HOURS]\n"
    "\n"
    "Prints the local date and time (bksgetdate, bksgettime), the UTC date and time\n"
    "from one reading (bksgetsystemtime), the time zone in minutes east of UTC\n"
    "(bksgettimezone; a zone without daylight time gives its standard offset, and\n"
    "-2171 stands for an offset that could not be determined) and the milliseconds\n"
    "since the tick counter's start. --offset sets the hour offset first\n"
    "(LxOffsetHours); it is added to both hours, modulo 256.\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 usage.\n";

int RunTime(const Invocation& in) {
  int32_t offset = 0;
  if (const char* text = in.Value("--offset")) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || *text == '\0' || *end != '\0' || v < -128 || v > 255) {
      return UsageError("--offset wants a number of hours from -128 to 255");
    }
    offset = static_cast<int32_t>(v);
  }
  LxOffsetHours(offset);

  bdate date;
  btime time;
  bksgetdate(&date);
  bksgettime(&time);
  std::printf("local date      %04u-%02u-%02u\n", date.year, date.month, date.day);
  std::printf("local time      %02u:%02u:%02u\n", time.hour, time.minute, time.second);
  bksgetsystemtime(&time, &date);
  std::printf("utc date        %04u-%02u-%02u\n", date.year, date.month, date.day);
  std::printf("utc time        %02u:%02u:%02u\n", time.hour, time.minute, time.second);
  int32_t zone = bksgettimezone();
  if (zone == LX_TIME_ZONE_UNKNOWN) {
    std::printf("time zone       %d (could not be determined; times report 0)\n", zone);
  } else {
    int32_t magnitude = zone < 0 ? -zone : zone;
    std::printf("time zone       %d (UTC%c%d:%02d)\n", zone, zone < 0 ? '-' : '+', magnitude / 60,
                magnitude % 60);
  }
  std::printf("hour offset     %d\n", offset);
  std::unique_ptr<LxTimer> timer(LxTimer::MakeTimer());
  if (timer == nullptr) return Fail("no memory for a timer");
  uint32_t h = 0, m = 0, s = 0;
  uint32_t ticks = timer->ElapsedTime();  // not started: the whole tick count
  uint32_t ms = timer->HourMinSec(h, m, s, ticks);
  std::printf("tick count      %u ms (%u:%02u:%02u.%03u)\n", ticks, h, m, s, ms);
  return 0;
}

}  // namespace lxtool

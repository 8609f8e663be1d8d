// lxtool time: what the library reports for date, time of day, time zone and
// the tick timer.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "command.h"
#include "lxplatform.h"

namespace {

const char kUsage[] =
    "usage: lxtool time [--offset HOURS]\n"
    "\n"
    "Prints the local date and time (bksgetdate, bksgettime), the UTC date and time\n"
    "from one reading (bksgetsystemtime), the time zone in minutes east of UTC\n"
    "(bksgettimezone; a zone without daylight time gives its standard offset, and\n"
    "-2171 stands for an offset that could not be determined) and the milliseconds since the tick counter's "
    "start. --offset sets the\n"
    "hour offset first (LxOffsetHours); it is added to both hours, modulo 256.\n";

int RunTime(int argc, char** argv) {
  if (lxtool::WantsHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  int32_t offset = 0;
  if (argc == 3 && std::strcmp(argv[1], "--offset") == 0) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(argv[2], &end, 10);
    if (errno != 0 || *argv[2] == '\0' || *end != '\0' || v < -128 || v > 255) {
      return lxtool::Fail(2, "time: --offset wants a number of hours from -128 to 255");
    }
    offset = static_cast<int32_t>(v);
  } else if (argc != 1) {
    std::fputs(kUsage, stderr);
    return 2;
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
  if (timer == nullptr) return lxtool::Fail(1, "time: no memory for a timer");
  uint32_t h = 0, m = 0, s = 0;
  uint32_t ticks = timer->ElapsedTime();  // not started: the whole tick count
  uint32_t ms = timer->HourMinSec(h, m, s, ticks);
  std::printf("tick count      %u ms (%u:%02u:%02u.%03u)\n", ticks, h, m, s, ms);
  return 0;
}

}  // namespace

LXTOOL_COMMAND(time, "time", "print the date, time, time zone and tick count the library reports", RunTime);

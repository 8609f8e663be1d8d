// Platform services as a server module uses them: today's date and the time of
// day with the time zone, a timer around a piece of work, a setting kept under
// the library's registry key, and the host's name.
#include <lxbasics.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "demo.h"

namespace {

int PlatformDemo() {
  int failures = 0;

  bdate date;
  btime time;
  bksgetdate(&date);
  bksgettime(&time);
  std::printf("local date and time: %04u-%02u-%02u %02u:%02u:%02u\n", date.year, date.month, date.day,
              time.hour, time.minute, time.second);
  int32_t zone = bksgettimezone();
  if (zone == LX_TIME_ZONE_UNKNOWN) {
    std::printf("time zone: could not be determined (times carry 0)\n");
  } else {
    std::printf("time zone: %d minutes east of UTC\n", zone);
  }
  // An hour offset shifts every reported hour without touching the date.
  LxOffsetHours(24);
  btime shifted;
  bksgettime(&shifted);
  int previous = LxOffsetHours(0);
  std::printf("with an hour offset of %d the hour reads %u\n", previous, shifted.hour);
  // (The hour may have turned between the two readings.)
  if (previous != 24 || (shifted.hour != time.hour + 24 && shifted.hour != (time.hour + 1) % 24 + 24))
    ++failures;

  std::unique_ptr<LxTimer> timer(LxTimer::MakeTimer());
  if (!timer) return 1;
  timer->Start();
  volatile uint64_t sum = 0;
  for (uint32_t i = 0; i < 20000000; ++i) sum = sum + i;
  timer->Stop();
  uint32_t h = 0, m = 0, s = 0;
  uint32_t ms = timer->HourMinSec(h, m, s, timer->MilliSeconds());
  std::printf("a loop of 20 million additions took %u:%02u:%02u.%03u\n", h, m, s, ms);

  const char* path[] = {"Quickstart", "Greeting", nullptr};
  int32_t unused = 1;
  if (LxSetRegistryEntry(path, "hello", unused) != 0) {
    std::printf("registry store not writable here: skipping the registry step\n");
  } else {
    char buffer[32];
    int32_t size = sizeof buffer;
    int rc = LxGetRegistryEntry(path, buffer, size);
    if (rc == 0) buffer[size] = '\0';  // entries are stored without terminator
    std::printf("registry entry Quickstart\\Greeting = \"%s\" (%d bytes)\n", rc == 0 ? buffer : "?", size);
    if (rc != 0 || std::strcmp(buffer, "hello") != 0) ++failures;
    if (LxDeleteRegistryEntry(path) != 0) ++failures;
  }

  char host[256] = "";
  LxGetHostname(host, sizeof host);
  std::printf("host name: %s\n", host);
  std::printf("priority boost disabled by configuration: %u\n", GetDisableWin32PriorityBoost());
  return failures == 0 && host[0] != '\0' ? 0 : 1;
}

}  // namespace

QUICKSTART_DEMO(platform, 70, "Platform services: date, time, timers, registry, host", PlatformDemo);

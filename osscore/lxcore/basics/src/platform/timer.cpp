// The no-op timer base and the tick-count timer.

#include "frame/resize.h"
#include "lxplatform.h"
#include "os/clock.h"

LxTimer::~LxTimer() = default;

uint32_t LxTimer::TicksPerSecond() { return 0; }
void LxTimer::Start() {}
void LxTimer::Stop() {}
void LxTimer::Reset() {}
int LxTimer::IsTimeOver(uint32_t, int) { return 0; }
double LxTimer::Seconds() const { return 0.0; }
uint32_t LxTimer::MilliSeconds() const { return 0; }
uint32_t LxTimer::ElapsedTime() const { return 0; }

uint32_t LxTimer::EstimatedTimeLeft(uint32_t percentDone) const {
  if (percentDone == 0 || percentDone >= 100) return 0;
  return ElapsedTime() * 100u / percentDone;
}

uint32_t LxTimer::HourMinSec(uint32_t& hours, uint32_t& minutes, uint32_t& seconds,
                             uint32_t milliseconds) const {
  if (milliseconds == 0xFFFFFFFFu) milliseconds = ElapsedTime();
  seconds = milliseconds / 1000;
  minutes = seconds / 60;
  seconds %= 60;
  hours = minutes / 60;
  minutes %= 60;
  return milliseconds % 1000;
}

LxTimer* LxTimer::MakeTimer() { return lxframe::NewOrNull<LxTickTimer>(); }

LxTickTimer::~LxTickTimer() = default;

uint32_t LxTickTimer::TicksPerSecond() { return 1000; }

void LxTickTimer::Start() { start = lxos::TickCount(); }

void LxTickTimer::Stop() { accumulated += lxos::TickCount() - start; }

void LxTickTimer::Reset() {
  start = 0;
  accumulated = 0;
}

int LxTickTimer::IsTimeOver(uint32_t seconds, int restart) {
  uint32_t now = lxos::TickCount();
  if (now - start < seconds * 1000u) return 0;
  if (restart) start = now;
  return 1;
}

double LxTickTimer::Seconds() const { return accumulated / 1000.0; }

uint32_t LxTickTimer::MilliSeconds() const { return accumulated; }

uint32_t LxTickTimer::ElapsedTime() const { return lxos::TickCount() - start; }

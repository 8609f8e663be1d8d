// Platform services: the calendar date, the time of day and the time zone with a
// process-wide hour offset; timers over a millisecond tick counter; string
// values under the library's registry key; the host name and the server's
// priority-boost setting.
//
// Time of day: `btime::hour` is the clock's hour plus the hour offset modulo 256,
// never reduced modulo 24 and never carried into the date. Time zones are in
// minutes east of UTC (UTC+1 is 60).
//
// Registry entries live below the key "SOFTWARE\Vesk Software\Orvanta" of the
// registry store. An entry path is a null-terminated array of names: all but the
// last name the sub-keys below that key, the last names the value. Values are
// string values stored with the string's characters and no terminating zero
// byte; reading adds none either.
//
// Threading: nothing here locks. The hour offset, the time-zone cache and the
// priority-boost cache are process-wide plain values; a timer belongs to one
// thread at a time.
#pragma once

#include "lxdefs.h"
#include "lxresult.h"

// ---------------------------------------------------------------------------
// Date and time
// ---------------------------------------------------------------------------

struct bdate {
  unsigned short year;  // full year, e.g. 2024
  unsigned char month;  // 1 to 12
  unsigned char day;    // 1 to 31
};

struct btime {
  unsigned char hour;    // hour of the day plus the hour offset, modulo 256
  unsigned char minute;  // 0 to 59
  unsigned char second;  // 0 to 59
  int32_t timezone;      // minutes east of UTC; 0 when unknown
};

// Sets the hour offset to the low 8 bits of `hours`, taken as a signed value
// (so 254 and -2 are the same offset), and returns the previous offset.
LX_API int32_t LxOffsetHours(int32_t hours);

// Fills `date` with the local date.
LX_API void bksgetdate(bdate* date);

// Fills `time` with the local time of day (hour plus the hour offset) and the
// time zone (0 when bksgettimezone reports LX_TIME_ZONE_UNKNOWN).
LX_API void bksgettime(btime* time);

// Fills `time` and `date` from one reading of the clock in UTC, so that they
// agree at midnight; hour offset and time zone as in bksgettime.
LX_API void bksgetsystemtime(btime* time, bdate* date);

// The local time zone in minutes east of UTC, including daylight time when it is
// in effect; a zone that keeps no daylight time is in standard time all year
// (UTC gives 0, UTC+5:30 gives 330). Determined at the first call and cached for
// the process: a later change of TZ or between standard and daylight time is not
// seen. Returns LX_TIME_ZONE_UNKNOWN ("Timezone information could not be
// retrieved from the operating system.") for the rest of the process when the
// offset cannot be determined at all (a clock outside the calendar's range).
LX_API int32_t bksgettimezone();

// ---------------------------------------------------------------------------
// Timers
// ---------------------------------------------------------------------------

// Measures elapsed time. This base class is a timer that measures nothing: every
// operation returns 0 (0.0 for Seconds). EstimatedTimeLeft and HourMinSec are
// computed from ElapsedTime and serve every derived timer.
class LX_API LxTimer {
 public:
  LxTimer() = default;
  LxTimer(const LxTimer&) = default;
  LxTimer& operator=(const LxTimer&) = default;
  virtual ~LxTimer();

  // Ticks of the timer's clock per second.
  virtual uint32_t TicksPerSecond();
  // Starts a measurement: ElapsedTime counts from here.
  virtual void Start();
  // Adds the time since Start to the accumulated time. Start is kept, so a
  // second Stop adds the time since Start again.
  virtual void Stop();
  // Clears the start and the accumulated time.
  virtual void Reset();
  // 1 when at least `seconds` have passed since Start, else 0. With `restart`
  // non-zero a measurement that is over starts again at the current tick.
  virtual int IsTimeOver(uint32_t seconds, int restart);
  // Accumulated time in seconds.
  virtual double Seconds() const;
  // Accumulated time in milliseconds.
  virtual uint32_t MilliSeconds() const;
  // Milliseconds since the last Start.
  virtual uint32_t ElapsedTime() const;
  // Milliseconds still to go when `percentDone` percent of the work took
  // ElapsedTime(): ElapsedTime() * 100 / percentDone in 32-bit arithmetic;
  // 0 when percentDone is 0 or at least 100.
  virtual uint32_t EstimatedTimeLeft(uint32_t percentDone) const;
  // Splits `milliseconds` (0xFFFFFFFF: ElapsedTime()) into hours (not reduced
  // modulo 24), minutes and seconds; returns the milliseconds below a second.
  virtual uint32_t HourMinSec(uint32_t& hours, uint32_t& minutes, uint32_t& seconds,
                              uint32_t milliseconds = 0xFFFFFFFFu) const;

  // A new tick timer, or null when memory is short. The caller owns it and
  // deletes it through the virtual destructor.
  static LxTimer* MakeTimer();
};

// A timer over the host's millisecond tick count, which wraps at 2^32; all
// differences are taken modulo 2^32, so one wrap between two readings is
// harmless. A new timer has start and accumulated time 0: before the first
// Start, ElapsedTime is the whole tick count.
class LX_API LxTickTimer : public LxTimer {
 public:
  LxTickTimer() = default;
  LxTickTimer(const LxTickTimer&) = default;
  LxTickTimer& operator=(const LxTickTimer&) = default;
  ~LxTickTimer() override;

  uint32_t TicksPerSecond() override;  // 1000
  void Start() override;
  void Stop() override;
  void Reset() override;
  int IsTimeOver(uint32_t seconds, int restart) override;
  double Seconds() const override;
  uint32_t MilliSeconds() const override;
  uint32_t ElapsedTime() const override;

  uint32_t GetStart() const { return start; }
  uint32_t GetAccumulated() const { return accumulated; }

 protected:
  uint32_t start = 0;        // tick count at the last Start
  uint32_t accumulated = 0;  // milliseconds of all Start-to-Stop intervals
};

// ---------------------------------------------------------------------------
// Registry entries, host name, priority boost
// ---------------------------------------------------------------------------

// Reads the entry `path` into `buffer`, offering the store size - 1 bytes, and
// adds no terminator: the caller terminates the string at the returned size.
// Returns 0 with size = the value's length; LX_REGISTRY_FAILED when the key or the value is
// missing or unreadable. When the value needs more than size - 1 bytes, returns
// LX_REGISTRY_FAILED with size = the bytes it needs (the buffer's content is then undefined);
// when the key is missing, size is unchanged; when only the value is missing,
// size is size - 1 (what was offered). LX_REGISTRY_INVALID_PARAMETER for a null or empty path, a null
// buffer, a size below 1, or a key path of 260 characters or more; the store
// is not touched then. LX_REGISTRY_INVALID_PARAMETER is the catalog's "Invalid parameter.".
LX_API int LxGetRegistryEntry(const char* const* path, char* buffer, int32_t& size);

// Stores the zero-terminated `value` as a string value without its terminator,
// creating missing keys. The old value is deleted first, so a failure (LX_REGISTRY_FAILED) can
// leave the entry deleted. `size` must not be 0 and is not otherwise used.
// Returns 0, LX_REGISTRY_FAILED when the store fails, LX_REGISTRY_INVALID_PARAMETER for a null or empty path,
// a null value, a size of 0 or an over-long key path (nothing is changed then).
LX_API int LxSetRegistryEntry(const char* const* path, const char* value, int32_t& size);

// Deletes the value that `path` names; the key and its other values stay.
// Returns 0, LX_REGISTRY_FAILED when the key or the value is missing or the store fails,
// LX_REGISTRY_INVALID_PARAMETER for a null or empty path or an over-long key path.
LX_API int LxDeleteRegistryEntry(const char* const* path);

// Stores the host's name, zero-terminated, in `buffer` of `size` bytes. A name
// that does not fit, or a failure of the host, leaves the buffer untouched (a
// null buffer or a size below 1 too). Always returns 0.
LX_API int LxGetHostname(char* buffer, int size);

// 1 when the flag "disableWin32PriorityBoost" of configuration section
// servers/lxserver is set, else 0 (also without a configuration object or when
// the lookup fails). The configuration is asked at the first call only.
LX_API unsigned short GetDisableWin32PriorityBoost();

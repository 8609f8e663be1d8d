// The monitor's side of the runtime's performance counters, shared by lxtool
// perf collect, watch and serve: the provider library loaded through the
// service's Performance key, the counters' names and help texts from Perflib's
// English ("009") texts, and the forms a sample is shown in.
//
// Rate counters (types with kCounterDeltaBit) hold a running total; a monitor
// shows their increase per second between two samples. Raw counts are shown
// as they are, signed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "perf_block.h"

namespace lxtool {

extern const char kPerformanceKey[];  // the service's Performance key

// The bytes of registry value `name` of `key`; *found false (and "") when it
// cannot be read.
std::string ReadRegistryValue(const char* key, const char* name, bool* found);

// A wide string value as UTF-8, without its terminator. False when it cannot be read.
bool ReadWideString(const char* key, const char* name, std::string* out);

// The performance library's side of the provider: loaded once, sampled often.
// Not copyable. Not thread-safe: one thread at a time samples.
class Provider {
 public:
  Provider() = default;
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
  ~Provider();

  // Loads the library that the Performance key names, once the registry store
  // and the library have been found trustworthy, and calls its open entry
  // point. Returns 0, or prints why not and returns 1.
  int Load();

  // Calls the open entry point again: a monitor that could not map the block
  // yet (it did not exist) tries again. REQUIRES: Load succeeded.
  void Reopen();

  // Collects one sample of every object ("Global") into *objects. Returns 0
  // (*objects empty when the library maps no block), or prints why not and
  // returns 1. REQUIRES: Load succeeded.
  int Sample(std::vector<ObjectSample>* objects);

 private:
  using OpenFunc = uint32_t (*)(char16_t*);
  using CollectFunc = uint32_t (*)(char16_t*, void**, uint32_t*, uint32_t*);
  using CloseFunc = uint32_t (*)();

  void* module_ = nullptr;
  OpenFunc open_ = nullptr;
  CollectFunc collect_ = nullptr;
  CloseFunc close_ = nullptr;
  std::vector<unsigned char> buffer_;
};

// The names and help texts of the counters, by title index, as installed.
struct Titles {
  std::map<uint32_t, std::string> names, help;

  // Reads them from Perflib's "009" key.
  void Read();
  // The name without trailing blanks, or "counter INDEX" when there is none.
  std::string Name(uint32_t index) const;
  // The help text without trailing blanks, or "".
  std::string Help(uint32_t index) const;
  // Whether every name and help index of `objects` has its text.
  bool Cover(const std::vector<ObjectSample>& objects) const;
};

inline bool IsRate(uint32_t type) { return (type & kCounterDeltaBit) != 0; }

// A raw count's value: signed, 32 or 64 bits as its type says.
long long RawValue(const CounterSample& c);

// The increase of a rate counter from `before` to `now`; a 32-bit counter
// wraps, so its increase is taken modulo 2^32.
uint64_t Increase(const CounterSample& now, const CounterSample& before);

// The Prometheus name of every counter of `objects`, in the order of the
// objects and of their counters: the counter name in lower-case words joined by
// '_' after the object's name (an abbreviation spelled with slashes, "C/S", is
// one word), "_total" added for a rate counter; a name taken already gets the
// counter's title index added.
std::vector<std::string> MetricNames(const std::vector<ObjectSample>& objects, const Titles& titles);

// The sample in the Prometheus text exposition format: per counter its HELP,
// TYPE and value lines; rate counters as counters of their running totals
// (orvanta_<name>_total), raw counts as gauges, named as MetricNames says. The
// HELP text is the installed help text, where a rate counter's "since last
// sample" says instead what the total counts from.
std::string Prometheus(const std::vector<ObjectSample>& objects, const Titles& titles);

// The writer lock file of the runtime's statistics, which the writer holds (an
// exclusive flock) for as long as it runs.
std::string WriterLockFile();

}  // namespace lxtool

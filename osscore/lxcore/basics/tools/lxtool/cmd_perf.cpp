// lxtool perf: the performance monitor of this host. It installs and removes the
// runtime's counters, and collects them exactly as a system performance library
// would: from the service's Performance key it takes the library file and the
// names of its open, collect and close entry points, loads that library into
// this process, collects samples through it and decodes the performance-data
// objects it returns, naming each counter from Perflib's English ("009") texts
// (perf_monitor.h). perf serve publishes them over HTTP (perf_serve.h).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "io.h"
#include "lxstatistics.h"
#include "os/clock.h"
#include "os/paths.h"
#include "os/registry.h"
#include "perf_monitor.h"
#include "perf_serve.h"

namespace lxtool {

const char kPerfHelp[] =
    "usage: lxtool perf install\n"
    "       lxtool perf remove\n"
    "       lxtool perf collect [--format text|prometheus] [--output FILE]\n"
    "       lxtool perf watch [--interval S] [--count N] [--format text|prometheus] [--output FILE]\n"
    "       lxtool perf serve [--listen ADDR:PORT] [--interval S]\n"
    "       lxtool perf simulate [--interval S] [--count N]\n"
    "\n"
    "install   registers the runtime's counters (names and help texts in every\n"
    "          language of Perflib, and the service's Performance key) through the\n"
    "          library's RegisterStatistics: the library that lxtool runs with\n"
    "          becomes the one that monitors load, and its path is printed.\n"
    "remove    removes them again through the library's DeregisterStatistics.\n"
    "collect   loads the library that the Performance key names, calls its open,\n"
    "          collect and close entry points, and prints every counter with its\n"
    "          name and value (rate counters as their running totals).\n"
    "watch     samples every S seconds (default 1), N times (default: until\n"
    "          interrupted), and shows raw counts as they are and rate counters as\n"
    "          their increase per second since the previous sample.\n"
    "serve     publishes the counters over HTTP on ADDR:PORT (default\n"
    "          127.0.0.1:9477; port 0 picks a free one; the address and port are\n"
    "          printed once listening) until SIGINT or SIGTERM, sampling every S\n"
    "          seconds (default 1): GET /metrics in the Prometheus text format\n"
    "          (as --format prometheus, plus orvanta_up and\n"
    "          orvanta_scrape_duration_seconds), GET / a page that plots every\n"
    "          counter live, GET /api/counters the latest sample as JSON. There\n"
    "          is no authentication: listen on loopback, or behind a proxy that\n"
    "          has it.\n"
    "simulate  a stand-in server for trying the monitor: enables the statistics\n"
    "          as their writer and counts made-up activity every S seconds\n"
    "          (default 1), N times (default: until interrupted).\n"
    "\n"
    "--format prometheus  prints the Prometheus text exposition format: HELP and\n"
    "          TYPE lines, rate counters as counters of their running totals\n"
    "          (orvanta_<name>_total), raw counts as gauges.\n"
    "--output FILE  writes each sample to FILE (through a temporary file beside it\n"
    "          and a rename, so a node exporter's textfile collector never reads\n"
    "          half a file).\n"
    "\n"
    "The registry store, the block name ($ORVANTA_SHM_NAME) and the lock directory\n"
    "($ORVANTA_LOCK_DIR) are the ones the library itself uses.\n"
    "\n"
    "Exit status: 0 success, 1 failure (not installed, refused, nothing collected),\n"
    "2 wrong usage.\n";

namespace {

uint32_t Get32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// ---------------------------------------------------------------------------
// Installation
// ---------------------------------------------------------------------------

// Installs or removes the counters through this library's own installer, so
// that the library registers its own file path, and reports the outcome.
int RunInstaller(bool install) {
  const bool before = lxos::RegKeyExists(kPerformanceKey) == lxos::kRegOk;
  if (install) {
    RegisterStatistics();
  } else {
    DeregisterStatistics();
  }
  const bool after = lxos::RegKeyExists(kPerformanceKey) == lxos::kRegOk;
  if (install) {
    if (before) return Fail("the counters are installed already (lxtool perf remove first)");
    if (!after) return Fail("installation failed: the registry store cannot be written");
    std::string library;
    ReadWideString(kPerformanceKey, "Library", &library);
    bool found = false;
    std::string first = ReadRegistryValue(kPerformanceKey, "First Counter", &found);
    std::string last = ReadRegistryValue(kPerformanceKey, "Last Counter", &found);
    std::printf("installed: counters %u to %u, library %s\n",
                first.size() == 4 ? Get32(reinterpret_cast<const unsigned char*>(first.data())) : 0,
                last.size() == 4 ? Get32(reinterpret_cast<const unsigned char*>(last.data())) : 0,
                library.c_str());
    return kExitOk;
  }
  if (!before) return Fail("the counters are not installed");
  if (after) return Fail("removal refused: the stored indexes do not agree with Perflib's");
  std::printf("removed\n");
  return kExitOk;
}

// ---------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------

// The text form. With `previous` (same layout) and `seconds`, rate counters
// show their increase per second; without, their running total.
std::string Text(const std::vector<ObjectSample>& objects, const std::vector<ObjectSample>* previous,
                 double seconds, const Titles& titles) {
  std::string out;
  char line[256];
  for (size_t o = 0; o < objects.size(); ++o) {
    const ObjectSample& obj = objects[o];
    std::snprintf(line, sizeof line, "%s (index %u)\n", titles.Name(obj.nameIndex).c_str(), obj.nameIndex);
    out += line;
    for (size_t k = 0; k < obj.counters.size(); ++k) {
      const CounterSample& c = obj.counters[k];
      const std::string name = titles.Name(c.nameIndex);
      if (IsRate(c.type) && previous != nullptr && o < previous->size() &&
          k < (*previous)[o].counters.size() && seconds > 0) {
        std::snprintf(line, sizeof line, "  %-28s %14.2f\n", name.c_str(),
                      static_cast<double>(Increase(c, (*previous)[o].counters[k])) / seconds);
      } else if (IsRate(c.type) && previous == nullptr && seconds < 0) {
        std::snprintf(line, sizeof line, "  %-28s %14s\n", name.c_str(), "-");
      } else {
        std::snprintf(line, sizeof line, "  %-28s %14lld\n", name.c_str(),
                      IsRate(c.type) ? static_cast<long long>(c.value) : RawValue(c));
      }
      out += line;
    }
  }
  return out;
}

int Emit(const std::string& text, const char* output) {
  Output out;
  if (!out.Open(output ? output : "-") || !out.Write(text) || !out.Commit()) {
    return Fail("cannot write %s: %s", output ? output : "the output", std::strerror(errno));
  }
  return kExitOk;
}

struct Options {
  const char* output = nullptr;
  bool prometheus = false;
  double interval = 1.0;
  long count = -1;
};

// Reads the options of the command line. Returns kExitOk, or kExitUsage after
// printing why.
int ParseOptions(const Invocation& in, Options* opt) {
  opt->output = in.Value("--output");
  if (const char* format = in.Value("--format")) {
    if (std::strcmp(format, "prometheus") == 0) {
      opt->prometheus = true;
    } else if (std::strcmp(format, "text") != 0) {
      return UsageError("unknown format '%s'", format);
    }
  }
  if (const char* value = in.Value("--interval")) {
    char* end = nullptr;
    opt->interval = std::strtod(value, &end);
    if (end == value || *end != '\0' || !(opt->interval > 0) || opt->interval > 86400) {
      return UsageError("bad interval '%s'", value);
    }
  }
  if (const char* value = in.Value("--count")) {
    uint64_t n = 0;
    if (!ParseNumber(value, 0x7fffffff, &n) || n < 1) return UsageError("bad count '%s'", value);
    opt->count = static_cast<long>(n);
  }
  return kExitOk;
}

int Collect(const Options& opt) {
  Provider provider;
  if (provider.Load() != 0) return kExitFailed;
  std::vector<ObjectSample> objects;
  if (provider.Sample(&objects) != 0) return kExitFailed;
  if (objects.empty()) return Fail("nothing collected: the library maps no statistics block");
  Titles titles;
  titles.Read();
  return Emit(opt.prometheus ? Prometheus(objects, titles) : Text(objects, nullptr, 0, titles), opt.output);
}

int Watch(const Options& opt) {
  Provider provider;
  if (provider.Load() != 0) return kExitFailed;
  Titles titles;
  titles.Read();
  std::vector<ObjectSample> previous, current;
  uint32_t previousTick = lxos::TickCount();
  for (long n = 0; opt.count < 0 || n < opt.count; ++n) {
    if (n > 0) std::this_thread::sleep_for(std::chrono::duration<double>(opt.interval));
    if (provider.Sample(&current) != 0) return kExitFailed;
    const uint32_t tick = lxos::TickCount();
    const double seconds = static_cast<uint32_t>(tick - previousTick) / 1000.0;  // the tick count wraps
    std::string text;
    if (opt.prometheus) {
      text = Prometheus(current, titles);
    } else {
      lxos::CalendarTime local;
      lxos::ReadCalendar(&local, nullptr);
      char stamp[32];
      std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", local.year, local.month, local.day,
                    local.hour, local.minute, local.second);
      text = std::string(n > 0 && !opt.output ? "\n" : "") + "-- " + stamp + "\n" +
             Text(current, n > 0 ? &previous : nullptr, n > 0 ? seconds : -1, titles);
    }
    if (Emit(text, opt.output) != 0) return kExitFailed;
    previous.swap(current);
    previousTick = tick;
  }
  return kExitOk;
}

// Counts a varying amount of server activity each tick, as a busy server would.
int Simulate(const Options& opt) {
  LxStatistics* stats = Statistics();
  stats->Enable();
  if (!stats->GetEnabled()) {
    return Fail(
        "the statistics stay disabled: the counters are not installed, are switched off, or "
        "another process is the writer");
  }
  std::printf("writing statistics (process %lu); stop with Ctrl-C\n", lxos::ProcessId());
  std::fflush(stdout);
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t range) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int32_t>((seed >> 16) % range);
  };
  for (long n = 0; opt.count < 0 || n < opt.count; ++n) {
    if (n > 0) std::this_thread::sleep_for(std::chrono::duration<double>(opt.interval));
    if (stats->GetClients() < 5) stats->IncClients();
    for (int32_t i = next(40) + 10; i > 0; --i) stats->IncCSRequests();
    for (int32_t i = next(8); i > 0; --i) {
      stats->IncTransactions();
      stats->IncCommits();
    }
    if (next(4) == 0) stats->IncAborts();
    if (next(10) == 0) stats->IncFailedCSRequests();
    for (int32_t i = next(5); i > 0; --i) stats->IncQueries();
    const int32_t lockChange = next(7) - 3;
    if (stats->GetLocks() + lockChange >= 0) stats->AddLocks(lockChange);
    stats->AddDeliveredObjects(next(200));
    stats->AddRefreshedObjects(next(20));
    stats->IncServerNotifications();
    stats->IncInternalTransactions();
    while (stats->GetTransactions() > 3) stats->DecTransactions();
  }
  return kExitOk;
}

}  // namespace

int RunPerfInstall(const Invocation&) { return RunInstaller(true); }

int RunPerfRemove(const Invocation&) { return RunInstaller(false); }

int RunPerfCollect(const Invocation& in) {
  Options opt;
  if (int r = ParseOptions(in, &opt)) return r;
  return Collect(opt);
}

int RunPerfWatch(const Invocation& in) {
  Options opt;
  if (int r = ParseOptions(in, &opt)) return r;
  return Watch(opt);
}

int RunPerfServe(const Invocation& in) {
  Options opt;
  if (int r = ParseOptions(in, &opt)) return r;
  ServeOptions serve;
  serve.interval = opt.interval;
  if (const char* listen = in.Value("--listen")) {
    if (!ParseListenAddress(listen, &serve.host, &serve.port)) return UsageError("bad address '%s'", listen);
  }
  return Serve(serve);
}

int RunPerfSimulate(const Invocation& in) {
  Options opt;
  if (int r = ParseOptions(in, &opt)) return r;
  return Simulate(opt);
}

}  // namespace lxtool

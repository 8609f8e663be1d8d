// lxtool perf: the performance monitor of this host. It installs and removes the
// runtime's counters, and collects them exactly as a system performance library
// would: from the service's Performance key it takes the library file and the
// names of its open, collect and close entry points, loads that library into
// this process, collects samples through it and decodes the performance-data
// objects it returns, naming each counter from Perflib's English ("009") texts.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "io.h"
#include "lxstatistics.h"
#include "os/clock.h"
#include "os/dynlib.h"
#include "os/paths.h"
#include "os/registry.h"
#include "os/utf.h"
#include "perf_block.h"

namespace lxtool {

const char kPerfHelp[] =
    "usage: lxtool perf install\n"
    "       lxtool perf remove\n"
    "       lxtool perf collect [--format text|prometheus] [--output FILE]\n"
    "       lxtool perf watch [--interval S] [--count N] [--format text|prometheus] [--output FILE]\n"
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

const char kPerflib[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
const char kPerformance[] = "SYSTEM\\CurrentControlSet\\Services\\Orvanta\\Performance";
constexpr uint32_t kMoreData = 234;

using OpenFunc = uint32_t (*)(char16_t*);
using CollectFunc = uint32_t (*)(char16_t*, void**, uint32_t*, uint32_t*);
using CloseFunc = uint32_t (*)();

uint32_t Get32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string ReadValue(const char* key, const char* name, bool* found) {
  uint32_t size = 0;
  *found = false;
  if (lxos::RegQueryValue(key, name, nullptr, nullptr, &size) != lxos::kRegOk) return std::string();
  std::string data(size, '\0');
  if (lxos::RegQueryValue(key, name, nullptr, size ? &data[0] : nullptr, &size) != lxos::kRegOk) {
    return std::string();
  }
  data.resize(size);
  *found = true;
  return data;
}

// A wide string value as UTF-8, without its terminator.
bool ReadWideString(const char* key, const char* name, std::string* out) {
  bool found = false;
  std::u16string wide = lxos::Utf16FromBytes(ReadValue(key, name, &found));
  if (!found) return false;
  size_t end = wide.find(u'\0');
  if (end != std::u16string::npos) wide.resize(end);
  *out = lxos::Utf16ToUtf8(wide);
  return true;
}

// The pairs of a Perflib "Counter" or "Help" multi-string: index -> text.
std::map<uint32_t, std::string> ReadTitles(const char* name) {
  std::map<uint32_t, std::string> titles;
  bool found = false;
  std::u16string all =
      lxos::Utf16FromBytes(ReadValue((std::string(kPerflib) + "\\009").c_str(), name, &found));
  std::vector<std::u16string> strings;
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find(u'\0', pos);
    if (end == std::u16string::npos) end = all.size();
    if (end == pos) break;
    strings.push_back(all.substr(pos, end - pos));
    pos = end + 1;
  }
  for (size_t i = 0; i + 1 < strings.size(); i += 2) {
    std::string digits = lxos::Utf16ToUtf8(strings[i]);
    char* stop = nullptr;
    unsigned long index = std::strtoul(digits.c_str(), &stop, 10);
    if (stop != digits.c_str() && *stop == '\0')
      titles[static_cast<uint32_t>(index)] = lxos::Utf16ToUtf8(strings[i + 1]);
  }
  return titles;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

// ---------------------------------------------------------------------------
// Installation
// ---------------------------------------------------------------------------

// Installs or removes the counters through this library's own installer, so
// that the library registers its own file path, and reports the outcome.
int RunInstaller(bool install) {
  const bool before = lxos::RegKeyExists(kPerformance) == lxos::kRegOk;
  if (install) {
    RegisterStatistics();
  } else {
    DeregisterStatistics();
  }
  const bool after = lxos::RegKeyExists(kPerformance) == lxos::kRegOk;
  if (install) {
    if (before) return Fail("the counters are installed already (lxtool perf remove first)");
    if (!after) return Fail("installation failed: the registry store cannot be written");
    std::string library;
    ReadWideString(kPerformance, "Library", &library);
    bool found = false;
    std::string first = ReadValue(kPerformance, "First Counter", &found);
    std::string last = ReadValue(kPerformance, "Last Counter", &found);
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
// Collection
// ---------------------------------------------------------------------------

// The performance library's side of the provider: loaded once, sampled often.
class Provider {
 public:
  Provider() = default;
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
  ~Provider() {
    if (close_ != nullptr) close_();
    if (module_ != nullptr) lxos::CloseModule(module_);
  }

  // Loads the library that the Performance key names and opens it. Returns 0
  // or prints why not and returns 1.
  int Load() {
    if (lxos::RegKeyExists(kPerformance) != lxos::kRegOk) {
      return Fail("the counters are not installed (lxtool perf install)");
    }
    std::string library, open, collect, close;
    if (!ReadWideString(kPerformance, "Library", &library) || !ReadWideString(kPerformance, "Open", &open) ||
        !ReadWideString(kPerformance, "Collect", &collect) ||
        !ReadWideString(kPerformance, "Close", &close)) {
      return Fail("the Performance key lacks Library, Open, Collect or Close");
    }
    // Code is loaded only when the store that names it and the library itself
    // can be changed by no one but this user or root.
    std::string why;
    if (!lxos::IsTrustedPath(lxos::RegistryFile(), &why) || !lxos::IsTrustedPath(library, &why)) {
      return Fail("not loading %s: %s", library.c_str(), why.c_str());
    }
    module_ = lxos::OpenModule(library.c_str());
    if (module_ == nullptr) {
      return Fail("cannot load %s: %s", library.c_str(), lxos::LastErrorText().c_str());
    }
    auto openFunc = reinterpret_cast<OpenFunc>(lxos::ModuleSymbol(module_, open.c_str()));
    collect_ = reinterpret_cast<CollectFunc>(lxos::ModuleSymbol(module_, collect.c_str()));
    auto closeFunc = reinterpret_cast<CloseFunc>(lxos::ModuleSymbol(module_, close.c_str()));
    if (openFunc == nullptr || collect_ == nullptr || closeFunc == nullptr) {
      return Fail("%s does not define %s, %s and %s", library.c_str(), open.c_str(), collect.c_str(),
                  close.c_str());
    }
    char16_t none[1] = {0};
    uint32_t rc = openFunc(none);
    if (rc != 0) return Fail("%s failed with %u", open.c_str(), rc);
    close_ = closeFunc;
    return 0;
  }

  // Collects one sample of every object ("Global"). Returns 0, or prints why
  // not and returns 1.
  int Sample(std::vector<ObjectSample>* objects) {
    objects->clear();
    char16_t request[] = u"Global";
    for (size_t room = 4096; room <= (16u << 20); room *= 2) {
      buffer_.assign(room, 0);
      void* data = buffer_.data();
      uint32_t bytes = static_cast<uint32_t>(room);
      uint32_t count = 0;
      uint32_t rc = collect_(request, &data, &bytes, &count);
      if (rc == kMoreData) continue;
      if (rc != 0) return Fail("collect failed with %u", rc);
      if (bytes > room || static_cast<unsigned char*>(data) != buffer_.data() + bytes) {
        return Fail("collect reported %u bytes that do not match its buffer", bytes);
      }
      return Decode(bytes, count, objects);
    }
    return Fail("collect wants more than 16 MiB");
  }

 private:
  int Decode(uint32_t bytes, uint32_t count, std::vector<ObjectSample>* objects) const {
    std::string error;
    if (!DecodePerfObjects(buffer_.data(), bytes, count, objects, &error)) return Fail("%s", error.c_str());
    for (const ObjectSample& o : *objects) {
      if (o.hasInstances)
        std::fprintf(stderr, "lxtool: object %u has instances; only its definition is shown\n", o.nameIndex);
    }
    return kExitOk;
  }

  void* module_ = nullptr;
  CollectFunc collect_ = nullptr;
  CloseFunc close_ = nullptr;
  std::vector<unsigned char> buffer_;
};

// ---------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------

struct Titles {
  std::map<uint32_t, std::string> names = ReadTitles("Counter");
  std::map<uint32_t, std::string> help = ReadTitles("Help");

  std::string Name(uint32_t index) const {
    auto it = names.find(index);
    return it == names.end() ? "counter " + std::to_string(index) : TrimRight(it->second);
  }
  std::string Help(uint32_t index) const {
    auto it = help.find(index);
    return it == help.end() ? std::string() : TrimRight(it->second);
  }
};

bool IsRate(uint32_t type) { return (type & kCounterDeltaBit) != 0; }

// A counter's name as a Prometheus metric name: lower case words joined by '_'
// ("C/S Requests/sec" -> "c_s_requests", "RefreshedObjects" -> "refreshed_objects").
std::string MetricWords(std::string name, bool rate) {
  name = TrimRight(name);
  if (rate && name.size() > 4 && name.compare(name.size() - 4, 4, "/sec") == 0) name.resize(name.size() - 4);
  std::string out;
  char prev = 0;
  for (char c : name) {
    bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum) {
      if (!out.empty() && out.back() != '_') out.push_back('_');
    } else {
      if (c >= 'A' && c <= 'Z' && prev >= 'a' && prev <= 'z' && out.back() != '_') out.push_back('_');
      out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    prev = c;
  }
  while (!out.empty() && out.back() == '_') out.pop_back();
  if (out.empty() || (out[0] >= '0' && out[0] <= '9')) out.insert(0, "c_");
  return out;
}

std::string EscapeHelp(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string Prometheus(const std::vector<ObjectSample>& objects, const Titles& titles) {
  std::string out;
  std::set<std::string> used;
  for (const ObjectSample& obj : objects) {
    const std::string prefix = MetricWords(titles.Name(obj.nameIndex), false) + "_";
    for (const CounterSample& c : obj.counters) {
      const bool rate = IsRate(c.type);
      std::string metric = prefix + MetricWords(titles.Name(c.nameIndex), rate) + (rate ? "_total" : "");
      while (!used.insert(metric).second) metric += "_" + std::to_string(c.nameIndex);
      std::string help = titles.Help(c.helpIndex);
      out += "# HELP " + metric + " " + EscapeHelp(help.empty() ? titles.Name(c.nameIndex) : help) + "\n";
      out += "# TYPE " + metric + (rate ? " counter\n" : " gauge\n");
      // Rate counters are running totals (unsigned); raw counts are signed.
      const long long value =
          rate || (c.type & kCounterSizeMask) == kCounterSizeLarge
              ? static_cast<long long>(c.value)
              : static_cast<long long>(static_cast<int32_t>(static_cast<uint32_t>(c.value)));
      out += metric + " " + std::to_string(value) + "\n";
    }
  }
  return out;
}

long long RawValue(const CounterSample& c) {
  return (c.type & kCounterSizeMask) == kCounterSizeLarge
             ? static_cast<long long>(c.value)
             : static_cast<int32_t>(static_cast<uint32_t>(c.value));
}

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
        // 32-bit counters wrap: the difference is taken modulo 2^32.
        const uint64_t was = (*previous)[o].counters[k].value;
        const uint64_t diff = (c.type & kCounterSizeMask) == kCounterSizeLarge
                                  ? c.value - was
                                  : static_cast<uint32_t>(c.value - was);
        std::snprintf(line, sizeof line, "  %-28s %14.2f\n", name.c_str(),
                      static_cast<double>(diff) / seconds);
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
  return Emit(opt.prometheus ? Prometheus(objects, titles) : Text(objects, nullptr, 0, titles), opt.output);
}

int Watch(const Options& opt) {
  Provider provider;
  if (provider.Load() != 0) return kExitFailed;
  Titles titles;
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

int RunPerfSimulate(const Invocation& in) {
  Options opt;
  if (int r = ParseOptions(in, &opt)) return r;
  return Simulate(opt);
}

}  // namespace lxtool

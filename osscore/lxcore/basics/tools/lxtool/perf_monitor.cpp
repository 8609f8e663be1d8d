#include "perf_monitor.h"

#include <cstdio>
#include <cstdlib>
#include <set>

#include "command.h"
#include "os/dynlib.h"
#include "os/filelock.h"
#include "os/paths.h"
#include "os/registry.h"
#include "os/utf.h"

namespace lxtool {

const char kPerformanceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Orvanta\\Performance";

namespace {

const char kPerflib[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
constexpr uint32_t kMoreData = 234;

// The pairs of a Perflib "Counter" or "Help" multi-string: index -> text.
std::map<uint32_t, std::string> ReadTitles(const char* name) {
  std::map<uint32_t, std::string> titles;
  bool found = false;
  std::u16string all =
      lxos::Utf16FromBytes(ReadRegistryValue((std::string(kPerflib) + "\\009").c_str(), name, &found));
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

bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
bool IsAlnum(char c) { return IsUpper(c) || IsLower(c) || (c >= '0' && c <= '9'); }

// A counter's name as a Prometheus metric name: lower-case words joined by '_'
// ("RefreshedObjects" -> "refreshed_objects"), single letters in a row joined
// into one word ("C/S Requests/sec" -> "cs_requests").
std::string MetricWords(std::string name, bool rate) {
  name = TrimRight(name);
  if (rate && name.size() > 4 && name.compare(name.size() - 4, 4, "/sec") == 0) name.resize(name.size() - 4);
  std::vector<std::string> words(1);
  char prev = 0;
  for (char c : name) {
    if (!IsAlnum(c) || (IsUpper(c) && IsLower(prev))) {
      if (!words.back().empty()) words.emplace_back();
    }
    if (IsAlnum(c)) words.back().push_back(IsUpper(c) ? static_cast<char>(c - 'A' + 'a') : c);
    prev = c;
  }
  std::string out;
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i].empty()) continue;
    const bool abbreviation = i > 0 && words[i].size() == 1 && words[i - 1].size() == 1;
    if (!out.empty() && !abbreviation) out.push_back('_');
    out += words[i];
  }
  if (out.empty() || (out[0] >= '0' && out[0] <= '9')) out.insert(0, "c_");
  return out;
}

// The HELP text: the installed help text, escaped. A rate counter's value is
// its running total, so "since last sample" (true of the rate a monitor
// shows) gives way to where the total starts.
std::string MetricHelp(std::string text, bool rate) {
  static const std::string kPerSample = "since last sample";
  const size_t at = text.find(kPerSample);
  if (rate && at != std::string::npos)
    text.replace(at, kPerSample.size(), "since the writer enabled its statistics");
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

}  // namespace

std::string ReadRegistryValue(const char* key, const char* name, bool* found) {
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

bool ReadWideString(const char* key, const char* name, std::string* out) {
  bool found = false;
  std::u16string wide = lxos::Utf16FromBytes(ReadRegistryValue(key, name, &found));
  if (!found) return false;
  size_t end = wide.find(u'\0');
  if (end != std::u16string::npos) wide.resize(end);
  *out = lxos::Utf16ToUtf8(wide);
  return true;
}

// ---------------------------------------------------------------------------
// Provider
// ---------------------------------------------------------------------------

Provider::~Provider() {
  if (close_ != nullptr) close_();
  if (module_ != nullptr) lxos::CloseModule(module_);
}

int Provider::Load() {
  if (lxos::RegKeyExists(kPerformanceKey) != lxos::kRegOk) {
    return Fail("the counters are not installed (lxtool perf install)");
  }
  std::string library, open, collect, close;
  if (!ReadWideString(kPerformanceKey, "Library", &library) ||
      !ReadWideString(kPerformanceKey, "Open", &open) ||
      !ReadWideString(kPerformanceKey, "Collect", &collect) ||
      !ReadWideString(kPerformanceKey, "Close", &close)) {
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
  open_ = openFunc;
  close_ = closeFunc;
  return 0;
}

void Provider::Reopen() {
  char16_t none[1] = {0};
  open_(none);
}

int Provider::Sample(std::vector<ObjectSample>* objects) {
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
    std::string error;
    if (!DecodePerfObjects(buffer_.data(), bytes, count, objects, &error)) return Fail("%s", error.c_str());
    for (const ObjectSample& o : *objects) {
      if (o.hasInstances)
        std::fprintf(stderr, "lxtool: object %u has instances; only its definition is shown\n", o.nameIndex);
    }
    return kExitOk;
  }
  return Fail("collect wants more than 16 MiB");
}

// ---------------------------------------------------------------------------
// Titles and values
// ---------------------------------------------------------------------------

void Titles::Read() {
  names = ReadTitles("Counter");
  help = ReadTitles("Help");
}

std::string Titles::Name(uint32_t index) const {
  auto it = names.find(index);
  return it == names.end() ? "counter " + std::to_string(index) : TrimRight(it->second);
}

std::string Titles::Help(uint32_t index) const {
  auto it = help.find(index);
  return it == help.end() ? std::string() : TrimRight(it->second);
}

bool Titles::Cover(const std::vector<ObjectSample>& objects) const {
  for (const ObjectSample& o : objects) {
    if (!names.count(o.nameIndex)) return false;
    for (const CounterSample& c : o.counters) {
      if (!names.count(c.nameIndex) || !help.count(c.helpIndex)) return false;
    }
  }
  return true;
}

long long RawValue(const CounterSample& c) {
  return (c.type & kCounterSizeMask) == kCounterSizeLarge
             ? static_cast<long long>(c.value)
             : static_cast<int32_t>(static_cast<uint32_t>(c.value));
}

uint64_t Increase(const CounterSample& now, const CounterSample& before) {
  const uint64_t diff = now.value - before.value;
  return (now.type & kCounterSizeMask) == kCounterSizeLarge ? diff : static_cast<uint32_t>(diff);
}

std::vector<std::string> MetricNames(const std::vector<ObjectSample>& objects, const Titles& titles) {
  std::vector<std::string> names;
  std::set<std::string> used;
  for (const ObjectSample& obj : objects) {
    const std::string prefix = MetricWords(titles.Name(obj.nameIndex), false) + "_";
    for (const CounterSample& c : obj.counters) {
      const bool rate = IsRate(c.type);
      std::string metric = prefix + MetricWords(titles.Name(c.nameIndex), rate) + (rate ? "_total" : "");
      while (!used.insert(metric).second) metric += "_" + std::to_string(c.nameIndex);
      names.push_back(metric);
    }
  }
  return names;
}

std::string Prometheus(const std::vector<ObjectSample>& objects, const Titles& titles) {
  const std::vector<std::string> names = MetricNames(objects, titles);
  std::string out;
  size_t i = 0;
  for (const ObjectSample& obj : objects) {
    for (const CounterSample& c : obj.counters) {
      const bool rate = IsRate(c.type);
      const std::string& metric = names[i++];
      std::string help = titles.Help(c.helpIndex);
      out +=
          "# HELP " + metric + " " + MetricHelp(help.empty() ? titles.Name(c.nameIndex) : help, rate) + "\n";
      out += "# TYPE " + metric + (rate ? " counter\n" : " gauge\n");
      // Rate counters are running totals (unsigned); raw counts are signed.
      out += metric + " " + (rate ? std::to_string(c.value) : std::to_string(RawValue(c))) + "\n";
    }
  }
  return out;
}

std::string WriterLockFile() { return lxos::LockDirectory() + "/Orvanta_mt"; }

}  // namespace lxtool

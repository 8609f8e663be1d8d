// The process-wide system log and its entry source.
//
// The system log and the message object are function-local statics, so that any
// code of the library, static initialisers of other files included, reaches them
// built. They are built while the library loads (see g_loadTimeObjects below), the system
// log first, and destroyed when it unloads or the process exits, in the reverse
// order; the system log's destructor closes its source then.
#include "messages/syslog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "lxmessages.h"
#include "messages/message_table.h"
#include "os/eventlog.h"
#include "os/paths.h"
#include "os/registry.h"

namespace lxmessages {

const RegistryOps kStoreOps = {lxos::RegCreateKey, lxos::RegSetValue, lxos::RegDeleteKey};

EventKind KindToEvent(int kind) {
  uint32_t k = static_cast<uint32_t>(kind);
  switch (kind) {
    case 1:
    case 5:
    case 6:
    case 7:
    case 8:
      return {lxos::kEventSuccess, k};
    case 3:
      return {lxos::kEventWarning, 0x80000000u | k};
    case 4:
    case 9:
    case 10:
    case 11:
      return {lxos::kEventError, 0xC0000000u | k};
    default:
      return {lxos::kEventInformation, k + 0x40000000u};
  }
}

int FormatText(char* buffer, int size, const char* format, va_list args) {
  if (format == nullptr) {
    buffer[0] = '\0';
    return 0;
  }
  int n = std::vsnprintf(buffer, static_cast<size_t>(size), format, args);
  if (n >= 0 && n < size) return n;
  buffer[size - 1] = '\0';
  if (n < 0) buffer[0] = '\0';
  return size;
}

bool RegisterEventSource(const char* sourceName, const RegistryOps& ops) {
  char key[kSourceKeySize];
  int n = std::snprintf(key, sizeof key, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\%s",
                        sourceName);
  if (n < 0 || n >= kSourceKeySize) return false;
  std::string library;
  if (!lxos::LibraryPath(&library) || library.size() >= static_cast<size_t>(kModulePathSize)) return false;
  bool written = false;
  try {
    if (ops.createKey(key) == lxos::kRegOk) {
      const unsigned char types[4] = {7, 0, 0, 0};  // 32-bit little-endian 7
      written = ops.setValue(key, "EventMessageFile", lxos::kRegExpandSz, library.c_str(),
                             static_cast<uint32_t>(library.size() + 1)) == lxos::kRegOk &&
                ops.setValue(key, "TypesSupported", lxos::kRegDword, types, sizeof types) == lxos::kRegOk;
    }
  } catch (...) {
    written = false;
  }
  if (written) return true;
  try {
    ops.deleteKey(key);
  } catch (...) {
  }
  return false;
}

}  // namespace lxmessages

namespace {

// Serialises the lazy opening of the source, so that two first entries written
// at once register and open it only once.
std::mutex g_openMutex;

// Set while this thread is inside LxSysLog::Open or Output. The out-of-memory
// handler writes to the system log; when opening the source or writing the entry
// runs out of memory, the handler is called again from inside, and its entry is
// dropped instead of recursing (or waiting for the open lock this thread holds).
thread_local bool t_inLog = false;

class LogGuard {
 public:
  LogGuard() : entered_(!t_inLog) { t_inLog = true; }
  ~LogGuard() {
    if (entered_) t_inLog = false;
  }
  LogGuard(const LogGuard&) = delete;
  LogGuard& operator=(const LogGuard&) = delete;
  // False when this thread was inside the log already.
  bool entered() const { return entered_; }

 private:
  bool entered_;
};

}  // namespace

int32_t LxVSysLog::enabled = 1;

int LxVSysLog::SetEnabled(int on) {
  int previous = enabled;
  enabled = on;
  return previous;
}

void LxVSysLog::Open(const char*) {}

int LxVSysLog::Printf(int kind, const char* format, ...) {
  if (enabled == 0) return 0;
  char text[lxmessages::kLogTextSize];
  va_list args;
  va_start(args, format);
  int length = lxmessages::FormatText(text, sizeof text, format, args);
  va_end(args);
  return Output(kind, length, text);
}

LxVSysLog::~LxVSysLog() = default;

LxSysLog::LxSysLog() : eventLogAvailable(lxos::EventLogAvailable() ? 1 : 0) {}

LxSysLog::~LxSysLog() {
  lxos::EventSourceClose(eventSource);
  eventSource = kNoSource;
}

void LxSysLog::Open(const char* sourceName) {
  LogGuard guard;
  if (guard.entered()) OpenSource(sourceName);
}

void LxSysLog::OpenSource(const char* sourceName) {
  try {
    std::lock_guard<std::mutex> lock(g_openMutex);
    if (eventSource != kNoSource || eventLogAvailable == 0 || enabled == 0) return;
    const char* name = sourceName != nullptr ? sourceName : lxmessages::kDefaultSourceName;
    // A failed registration does not keep the source from opening; its entries
    // are complete anyway, as the library renders their texts itself.
    lxmessages::RegisterEventSource(name);
    uintptr_t source = lxos::EventSourceOpen(name);
    if (source == lxos::kNoEventSource) return;
    std::snprintf(processIdText, sizeof processIdText, "%lu", lxos::ProcessId());
    eventSource = source;
  } catch (...) {
    // Out of memory, or the lock failed: the source stays closed.
  }
}

int LxSysLog::Output(int kind, int /*length*/, const char* text) {
  LogGuard guard;
  if (!guard.entered()) return 0;
  try {
    return WriteEntry(kind, text);
  } catch (...) {
    return ENOMEM;
  }
}

int LxSysLog::WriteEntry(int kind, const char* text) {
  if (eventSource == kNoSource) {
    if (eventLogAvailable != 0 && enabled != 0) OpenSource(nullptr);
    if (eventSource == kNoSource) return 0;
  }
  // A forked child writes its own process id.
  char pid[sizeof processIdText];
  std::snprintf(pid, sizeof pid, "%lu", lxos::ProcessId());
  if (std::strcmp(pid, processIdText) != 0) std::memcpy(processIdText, pid, sizeof pid);

  char version[64];
  const int* v = lxmessages::kVersionNumbers;
  std::snprintf(version, sizeof version, lxmessages::kVersionFormat, v[0], v[1], v[2], v[3], v[4]);
  std::string program;
  lxos::ProgramPath(&program);
  if (program.size() >= static_cast<size_t>(lxmessages::kModulePathSize)) {
    program.resize(lxmessages::kModulePathSize - 1);
  }
  const char* strings[4] = {version, text != nullptr ? text : "", processIdText, program.c_str()};
  lxmessages::EventKind event = lxmessages::KindToEvent(kind);
  std::string message = lxmessages::RenderMessage(event.id, strings);
  int32_t rc = lxos::EventSourceReport(eventSource, event.type, event.id, strings, message);
  return rc == 0 ? 1 : rc;
}

const char* LxSysLog::GetSourceName() const { return lxos::EventSourceName(eventSource); }

LxSysLog* LxSystemLog() {
  static LxSysLog log;
  return &log;
}

namespace {

// Builds both objects while the library loads: the system log (its constructor
// takes the event-log availability flag) and then the message object.
struct LoadTimeObjects {
  LoadTimeObjects() {
    LxSystemLog();
    LxMessage();
  }
} g_loadTimeObjects;

}  // namespace

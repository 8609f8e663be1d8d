#include "os/eventlog.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "os/clock.h"
#include "os/paths.h"
#include "os/syscall.h"
#include "os/utf.h"

namespace lxos {

namespace {

constexpr const char* kDaemonSocket = "/dev/log";
constexpr int kFacilityUser = 1 << 3;

struct EventSource {
  std::string name;
};

int SyslogSeverity(uint16_t type) {
  switch (type) {
    case kEventError:
      return 3;
    case kEventWarning:
      return 4;
    case kEventSuccess:
      return 5;
    default:
      return 6;
  }
}

bool IsSocket(const char* path) {
  struct stat st;
  return sys::Stat(path, &st) == 0 && S_ISSOCK(st.st_mode);
}

// Sends one datagram to the socket at `path`. Returns 0 or the error number.
int32_t SendDatagram(const std::string& path, const std::string& datagram) {
  sockaddr_un addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return ENAMETOOLONG;
  std::memcpy(addr.sun_path, path.data(), path.size());
  int fd = sys::Socket(AF_UNIX, SOCK_DGRAM, 0);
  if (fd < 0) return LastError();
  // A daemon that cannot keep up must not hold the caller for long: after a
  // second the entry goes to the file instead.
  timeval timeout = {1, 0};
  sys::SetSockOpt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  int32_t result = 0;
  if (sys::SendTo(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr),
                  sizeof addr) < 0) {
    result = LastError();
  }
  sys::Close(fd);
  return result;
}

// Appends `line` to the file at `path` (created with its directory when
// missing). Returns 0 or the error number.
int32_t AppendLine(const std::string& path, const std::string& line) {
  if (path.empty()) return ENOENT;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) MakeDirs(path.substr(0, slash));
  int fd = sys::Open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) return LastError();
  sys::Flock(fd, LOCK_EX);
  int32_t result = WriteAll(fd, line.data(), line.size());
  // Closing the descriptor releases the lock.
  if (sys::Close(fd) != 0 && result == 0) result = LastError();
  return result;
}

std::string UtcNow() {
  CalendarTime utc;
  ReadCalendar(nullptr, &utc);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.year, utc.month, utc.day,
                utc.hour, utc.minute, utc.second, utc.millisecond);
  return buf;
}

void AppendJsonString(std::string* out, const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  out->push_back('"');
  size_t size = text.size();
  for (size_t i = 0; i < size;) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t unused;
    if (c >= 0x80) {
      size_t len = lxos::DecodeUtf8(text.data() + i, size - i, &unused);
      if (len > 0) {
        out->append(text.data() + i, len);
        i += len;
        continue;
      }
    }
    ++i;
    switch (c) {
      case '"':
        *out += "\\\"";
        break;
      case '\\':
        *out += "\\\\";
        break;
      case '\n':
        *out += "\\n";
        break;
      case '\r':
        *out += "\\r";
        break;
      case '\t':
        *out += "\\t";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          *out += "\\u00";
          out->push_back(kHex[c >> 4]);
          out->push_back(kHex[c & 0xF]);
        } else {
          out->push_back(static_cast<char>(c));
        }
    }
  }
  out->push_back('"');
}

// A small reader for the file's lines: one flat object whose members are
// strings, numbers, literals or arrays of those.
class LineReader {
 public:
  explicit LineReader(const std::string& text) : p_(text.data()), end_(text.data() + text.size()) {}

  void SkipBlanks() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n')) ++p_;
  }
  bool Take(char c) {
    SkipBlanks();
    if (p_ < end_ && *p_ == c) {
      ++p_;
      return true;
    }
    return false;
  }
  bool AtEnd() {
    SkipBlanks();
    return p_ == end_;
  }
  char Peek() {
    SkipBlanks();
    return p_ < end_ ? *p_ : '\0';
  }

  bool String(std::string* out) {
    out->clear();
    if (!Take('"')) return false;
    while (p_ < end_) {
      char c = *p_++;
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (p_ == end_) return false;
      c = *p_++;
      switch (c) {
        case '"':
        case '\\':
        case '/':
          out->push_back(c);
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'u': {
          uint32_t cp;
          if (!Hex4(&cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t low;
            if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
            p_ += 2;
            if (!Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendCodePoint(out, cp);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  bool Number(uint64_t* out) {
    SkipBlanks();
    if (p_ == end_ || *p_ < '0' || *p_ > '9') return false;
    uint64_t value = 0;
    while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
      if (value > (UINT64_MAX - 9) / 10) return false;
      value = value * 10 + static_cast<uint64_t>(*p_++ - '0');
    }
    *out = value;
    return true;
  }

  // Skips one value of any kind this format uses, arrays nested to any depth
  // included: the nesting is counted, not recursed into, so no line can
  // exhaust the stack.
  bool SkipValue() {
    size_t open = 0;  // arrays entered and not yet closed
    for (;;) {
      if (Peek() == '[') {
        ++p_;
        if (!Take(']')) {
          ++open;
          continue;  // the array's first element
        }
      } else if (!SkipScalar()) {
        return false;
      }
      // A value ended: close what ends with it, or go on to the next element.
      for (;;) {
        if (open == 0) return true;
        if (Take(',')) break;
        if (!Take(']')) return false;
        --open;
      }
    }
  }

 private:
  bool SkipScalar() {
    char c = Peek();
    std::string ignored;
    uint64_t number;
    if (c == '"') return String(&ignored);
    if (c >= '0' && c <= '9') return Number(&number);
    if (c == '-') {
      ++p_;
      return Number(&number);
    }
    for (const char* word : {"true", "false", "null"}) {
      size_t len = std::strlen(word);
      if (static_cast<size_t>(end_ - p_) >= len && std::memcmp(p_, word, len) == 0) {
        p_ += len;
        return true;
      }
    }
    return false;
  }

  bool Hex4(uint32_t* out) {
    if (end_ - p_ < 4) return false;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      char c = *p_++;
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    *out = value;
    return true;
  }

  // Code points up to 0xFF stand for the single bytes the writer escaped.
  static void AppendCodePoint(std::string* out, uint32_t cp) {
    if (cp < 0x100) {
      out->push_back(static_cast<char>(cp));
    } else {
      lxos::AppendUtf8(out, cp);
    }
  }

  const char* p_;
  const char* end_;
};

}  // namespace

EventSink EventLogTarget() {
  EventSink sink;
  const char* setting = GetEnv("ORVANTA_EVENTLOG");
  if (setting != nullptr) {
    if (std::strcmp(setting, "off") == 0) {
      sink.target = EventTarget::kOff;
      return sink;
    }
    if (std::strncmp(setting, "syslog:", 7) == 0 && setting[7] != '\0') {
      sink.target = EventTarget::kSyslog;
      sink.path = setting + 7;
      return sink;
    }
    if (std::strncmp(setting, "file:", 5) == 0 && setting[5] != '\0') {
      sink.target = EventTarget::kFile;
      sink.path = setting + 5;
      return sink;
    }
  }
  if (IsSocket(kDaemonSocket)) {
    sink.target = EventTarget::kSyslog;
    sink.path = kDaemonSocket;
  } else {
    sink.target = EventTarget::kFile;
    sink.path = EventLogDefaultFile();
  }
  return sink;
}

std::string EventLogDefaultFile() {
  std::string dir = StateDir();
  return dir.empty() ? std::string() : dir + "/eventlog/Application.log";
}

bool EventLogAvailable() { return EventLogTarget().target != EventTarget::kOff; }

const char* EventTypeName(uint16_t type) {
  switch (type) {
    case kEventSuccess:
      return "success";
    case kEventError:
      return "error";
    case kEventWarning:
      return "warning";
    default:
      return "information";
  }
}

std::string EventLogFormatLine(const EventRecord& record) {
  std::string line = "{\"time\":";
  AppendJsonString(&line, record.time);
  line += ",\"source\":";
  AppendJsonString(&line, record.source);
  line += ",\"type\":";
  AppendJsonString(&line, record.type);
  line += ",\"event_type\":" + std::to_string(record.eventType);
  line += ",\"event_id\":" + std::to_string(record.eventId);
  line += ",\"strings\":[";
  for (int i = 0; i < 4; ++i) {
    if (i > 0) line += ',';
    AppendJsonString(&line, record.strings[i]);
  }
  line += "],\"message\":";
  AppendJsonString(&line, record.message);
  line += "}\n";
  return line;
}

bool EventLogParseLine(const std::string& line, EventRecord* record) {
  *record = EventRecord();
  LineReader in(line);
  if (!in.Take('{')) return false;
  bool seenId = false;
  bool seenType = false;
  if (!in.Take('}')) {
    do {
      std::string key;
      if (!in.String(&key) || !in.Take(':')) return false;
      uint64_t number = 0;
      if (key == "time") {
        if (!in.String(&record->time)) return false;
      } else if (key == "source") {
        if (!in.String(&record->source)) return false;
      } else if (key == "type") {
        if (!in.String(&record->type)) return false;
      } else if (key == "message") {
        if (!in.String(&record->message)) return false;
      } else if (key == "event_type") {
        if (!in.Number(&number) || number > 0xFFFF) return false;
        record->eventType = static_cast<uint16_t>(number);
        seenType = true;
      } else if (key == "event_id") {
        if (!in.Number(&number) || number > 0xFFFFFFFFu) return false;
        record->eventId = static_cast<uint32_t>(number);
        seenId = true;
      } else if (key == "strings") {
        if (!in.Take('[')) return false;
        int i = 0;
        if (!in.Take(']')) {
          do {
            std::string value;
            if (!in.String(&value)) return false;
            if (i < 4) record->strings[i] = value;
            ++i;
          } while (in.Take(','));
          if (!in.Take(']')) return false;
        }
      } else if (!in.SkipValue()) {
        return false;
      }
    } while (in.Take(','));
    if (!in.Take('}')) return false;
  }
  return in.AtEnd() && seenId && seenType;
}

std::string SyslogDatagram(const char* source, uint16_t type, const std::string& message, unsigned long pid,
                           int64_t when) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t seconds = static_cast<time_t>(when);
  tm parts;
  if (localtime_r(&seconds, &parts) == nullptr) std::memset(&parts, 0, sizeof parts);
  char head[64];
  std::snprintf(head, sizeof head, "<%d>%s %2d %02d:%02d:%02d ", kFacilityUser | SyslogSeverity(type),
                kMonths[parts.tm_mon >= 0 && parts.tm_mon < 12 ? parts.tm_mon : 0], parts.tm_mday,
                parts.tm_hour, parts.tm_min, parts.tm_sec);
  std::string datagram = head;
  for (const char* p = source != nullptr ? source : ""; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    datagram += (c <= ' ' || c == 0x7F || c == ':' || c == '[' || c == ']') ? '_' : static_cast<char>(c);
  }
  datagram += '[' + std::to_string(pid) + "]: ";
  datagram += message;
  return datagram;
}

namespace {

int32_t WriteEntry(const char* source, uint16_t type, uint32_t eventId, const char* const strings[4],
                   const std::string& message) {
  EventSink sink = EventLogTarget();
  if (sink.target == EventTarget::kOff) return 0;
  if (sink.target == EventTarget::kSyslog) {
    std::string datagram =
        SyslogDatagram(source, type, message, ProcessId(), static_cast<int64_t>(time(nullptr)));
    if (SendDatagram(sink.path, datagram) == 0) return 0;
    sink.path = EventLogDefaultFile();
  }
  EventRecord record;
  record.time = UtcNow();
  record.source = source != nullptr ? source : "";
  record.type = EventTypeName(type);
  record.eventType = type;
  record.eventId = eventId;
  for (int i = 0; i < 4; ++i) {
    if (strings != nullptr && strings[i] != nullptr) record.strings[i] = strings[i];
  }
  record.message = message;
  return AppendLine(sink.path, EventLogFormatLine(record));
}

}  // namespace

int32_t EventLogWrite(const char* source, uint16_t type, uint32_t eventId, const char* const strings[4],
                      const std::string& message) {
  try {
    return WriteEntry(source, type, eventId, strings, message);
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

uintptr_t EventSourceOpen(const char* name) {
  EventSource* source = new (std::nothrow) EventSource;
  if (source == nullptr) return kNoEventSource;
  try {
    source->name = name != nullptr ? name : "";
  } catch (...) {
    delete source;
    return kNoEventSource;
  }
  return reinterpret_cast<uintptr_t>(source);
}

void EventSourceClose(uintptr_t source) {
  if (source == kNoEventSource || source == 0) return;
  delete reinterpret_cast<EventSource*>(source);
}

const char* EventSourceName(uintptr_t source) {
  if (source == kNoEventSource || source == 0) return "";
  return reinterpret_cast<EventSource*>(source)->name.c_str();
}

int32_t EventSourceReport(uintptr_t source, uint16_t type, uint32_t eventId, const char* const strings[4],
                          const std::string& message) {
  if (source == kNoEventSource || source == 0) return EINVAL;
  return EventLogWrite(EventSourceName(source), type, eventId, strings, message);
}

}  // namespace lxos

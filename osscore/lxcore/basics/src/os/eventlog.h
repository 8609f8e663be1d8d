// The system-log sink: where the entries of the library's system log end up.
//
// An entry is rendered by the caller from the message table with its four
// insertion strings. The sink delivers it to one of three targets, chosen by
// $ORVANTA_EVENTLOG at each write:
//   "syslog:SOCKET"  a syslog datagram to the Unix datagram socket SOCKET;
//   "file:PATH"      one JSON object per line appended to PATH;
//   "off"            nowhere: the entry is discarded;
//   unset (or any other value): the host's log daemon when /dev/log exists, else
//                    the file eventlog/Application.log in the state directory.
// A daemon that does not take the datagram (no socket, refused, full for more
// than a second, datagram too long) sends the entry to the default file instead:
// an enabled log never drops an entry silently.
//
// Datagram format (what glibc's syslog() sends, which journald and rsyslog read):
//   "<PRI>Mmm dd hh:mm:ss IDENT[PID]: MESSAGE"
// with facility user and the severity from the event type: error = err (3),
// warning = warning (4), success = notice (5), information = info (6). IDENT is
// the entry source with each blank, control character, ':', '[' and ']' replaced
// by '_' ("Orvanta_Runtime_System"), because log daemons end the identifier at
// the first blank.
//
// File format, one line per entry:
//   {"time":"2026-01-31T12:00:00.000Z","source":"...","type":"error",
//    "event_type":1,"event_id":3221225476,"strings":["...","...","...","..."],
//    "message":"..."}
// time is UTC; type is "success", "information", "warning" or "error". Texts are
// 8-bit: valid UTF-8 is kept, every other byte above 0x7F is written as the
// \u00XX escape of its Latin-1 character. Each line is written with one append
// under an exclusive flock, so entries of several processes never interleave.
//
// Every function here may be called from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace lxos {

// Event types of the host's event log.
enum EventType : uint16_t { kEventSuccess = 0, kEventError = 1, kEventWarning = 2, kEventInformation = 4 };

// The target that $ORVANTA_EVENTLOG selects right now.
enum class EventTarget { kOff, kSyslog, kFile };
struct EventSink {
  EventTarget target = EventTarget::kFile;
  std::string path;  // the socket or the file; empty for kOff
};
EventSink EventLogTarget();

// The file that takes entries when no other file is named, and the daemon's
// fallback: eventlog/Application.log in the state directory. Empty when there is
// no state directory.
std::string EventLogDefaultFile();

// False only while $ORVANTA_EVENTLOG is "off": every other setting has a target.
bool EventLogAvailable();

// Writes one entry from `source` (the identifier). `message` is the rendered
// text (line breaks as '\n'); `strings` (nulls count as empty) go into the file
// form only. Returns 0 when the entry was delivered or the log is off, else the
// system's error number of the last target tried (ENOMEM when memory ran out);
// the entry is then lost.
int32_t EventLogWrite(const char* source, uint16_t type, uint32_t eventId, const char* const strings[4],
                      const std::string& message);

// Event sources: the handle of a registered source, which stands for its name.
// EventSourceOpen returns kNoEventSource only when memory is short; the caller
// owns the handle and gives it back with EventSourceClose (which accepts
// kNoEventSource). Reporting through a handle is EventLogWrite with its name.
constexpr uintptr_t kNoEventSource = ~static_cast<uintptr_t>(0);
uintptr_t EventSourceOpen(const char* name);
void EventSourceClose(uintptr_t source);
// The handle's source name; "" for kNoEventSource.
const char* EventSourceName(uintptr_t source);
int32_t EventSourceReport(uintptr_t source, uint16_t type, uint32_t eventId, const char* const strings[4],
                          const std::string& message);

// One entry of the file, as written and as read back.
struct EventRecord {
  std::string time;
  std::string source;
  std::string type;  // "success", "information", "warning" or "error"
  uint16_t eventType = 0;
  uint32_t eventId = 0;
  std::string strings[4];
  std::string message;
};

// The name of an event type ("information" for a value the log does not know).
const char* EventTypeName(uint16_t type);

// The file line of `record`, with its terminating '\n'.
std::string EventLogFormatLine(const EventRecord& record);

// Reads one file line (with or without its '\n'). Members the format does not
// know are skipped. Returns false, with *record unspecified, when the line is not
// such an object; \u escapes above 0xFF are kept as UTF-8.
bool EventLogParseLine(const std::string& line, EventRecord* record);

// The syslog datagram of an entry written at `when` (seconds since the epoch,
// formatted in local time) by process `pid`.
std::string SyslogDatagram(const char* source, uint16_t type, const std::string& message, unsigned long pid,
                           int64_t when);

}  // namespace lxos

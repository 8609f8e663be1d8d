// The system-log sink: where the entries of the library's system log end up.
//
// An entry is rendered from the compiled-in message table with its four
// insertion strings. It goes to the host's log daemon as a syslog datagram on
// /dev/log (identifier = entry source, priority from the event type), or is
// appended as one JSON object per line to eventlog/Application.log in the state
// directory. $ORVANTA_EVENTLOG chooses: "syslog:SOCKET", "file:PATH" or "off";
// unset, the daemon when /dev/log exists and the file otherwise. A daemon that
// does not take the datagram sends the entry to the file instead: an enabled log
// never drops an entry silently.
#pragma once

#include <cstdint>
#include <string>

namespace lxos {

// Event types of the host's event log.
enum EventType : uint16_t { kEventSuccess = 0, kEventError = 1, kEventWarning = 2, kEventInformation = 4 };

// Writes one entry. `message` is the rendered text (line breaks as '\n').
// Returns 0 on success or the system's error number.
int32_t EventLogWrite(const char* source, uint16_t type, uint32_t eventId, const char* const strings[4],
                      const std::string& message);

}  // namespace lxos

// Internals of the system log (lxmessages.h): the mapping of entry kinds to event
// types and ids, the insertion strings, and the registration of an entry source
// in the registry store.
//
// Registration writes the key
//   SYSTEM\CurrentControlSet\Services\EventLog\Application\<source>
// with "EventMessageFile" (expandable string: this library's full path and its
// terminator) and "TypesSupported" (32-bit: 7 = error, warning and information).
// A registration that fails half-way removes the key it created.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace lxmessages {

// Name of the default entry source and caption of the message object.
constexpr const char kDefaultSourceName[] = "Orvanta Runtime System";

// Format and numbers of insertion string %1: "(Orvanta 9.5.23.262.0)".
constexpr const char kVersionFormat[] = "(Orvanta %d.%d.%d.%d.%d)";
constexpr int kVersionNumbers[5] = {9, 5, 23, 262, 0};

// Printf buffers: the text is cut after kLogTextSize - 1 (kMessageTextSize - 1)
// characters.
constexpr int kLogTextSize = 1024;
constexpr int kMessageTextSize = 4096;

// Limits of the registration: the formatted key path and the library's path are
// given up on when they would not fit these buffers (terminator included).
constexpr int kSourceKeySize = 512;
constexpr int kModulePathSize = 1024;

struct EventKind {
  uint16_t type;  // lxos::EventType
  uint32_t id;
};

// Kinds 1 and 5 to 8 are success entries with the kind as id; 3 a warning
// (0x80000003); 4 and 9 to 11 errors (0xC0000000 | kind); 2 and every other kind
// information entries with id kind + 0x40000000 (modulo 2^32).
EventKind KindToEvent(int kind);

// Formats `format` into `buffer` of `size` bytes. Returns the length of the text,
// or `size` when it had to be cut after size - 1 characters (or could not be
// formatted at all). The buffer always ends with its terminator; a null format
// gives the empty text.
int FormatText(char* buffer, int size, const char* format, va_list args);

// The registry operations that registration uses (lxos by default); tests put
// failing ones in their place.
struct RegistryOps {
  int32_t (*createKey)(const char* path);
  int32_t (*setValue)(const char* path, const char* name, uint32_t type, const void* data, uint32_t size);
  int32_t (*deleteKey)(const char* path);
};
extern const RegistryOps kStoreOps;

// Registers `sourceName` (REQUIRES: not null) as above. Returns true when both
// values were written.
// Returns false without touching the store when the key path or the library's
// path does not fit or the library's path is unknown; after any later failure the
// key has been deleted (which fails, and leaves it, only when it has sub-keys or
// the store itself fails).
bool RegisterEventSource(const char* sourceName, const RegistryOps& ops = kStoreOps);

}  // namespace lxmessages

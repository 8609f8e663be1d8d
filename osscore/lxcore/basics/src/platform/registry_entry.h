// Composition of the registry key that an entry path names (the public
// functions are declared in lxplatform.h).
//
// The key path is the base key followed by a backslash and each name but the
// last; it must fit a buffer of kEntryKeyBuffer characters with its terminating
// zero, as in the design, and a longer one is refused rather than cut.
#pragma once

#include <cstddef>
#include <string>

namespace lxplatform {

// The library's own key below HKEY_LOCAL_MACHINE (defined here, so that lxtool
// needs no object of this module).
inline constexpr char kEntryBaseKey[] = "SOFTWARE\\Vesk Software\\Orvanta";
constexpr size_t kEntryKeyBuffer = 260;

// Fills `key` with the key path of `path` and `value` with its last name.
// Returns false, leaving the outputs unspecified, for a null or empty path or a
// key path of kEntryKeyBuffer characters or more.
bool ComposeEntryKey(const char* const* path, std::string* key, const char** value);

}  // namespace lxplatform

// The registry store: the host's stand-in for the system registry below
// HKEY_LOCAL_MACHINE, kept in one SQLite database (lxos::RegistryFile()).
//
// Keys are backslash-separated paths relative to HKEY_LOCAL_MACHINE, such as
// "SOFTWARE\Vesk Software\Orvanta". Key and value names compare without regard to
// case (ASCII), and keep the spelling they were created with. A path is malformed
// when it is empty, starts or ends with a backslash, holds an empty component, or
// is longer than kMaxKeyPath bytes; a value name longer than kMaxValueName is
// refused too. Malformed names are refused with kRegBadPath, never shortened.
// The empty value name "" is a key's default value.
//
// Values keep their type and bytes exactly as written: strings are stored with
// the bytes the caller gives (with or without terminator); multi-strings are the
// caller's bytes (UTF-16 for the performance counters).
//
// Several processes may use the store at once (SQLite locking with a busy
// timeout); each call is one transaction and durable when it returns. A process
// that forks reopens its connection in the child. Results are the host
// registry's error numbers.
#pragma once

#include <cstdint>
#include <string>

namespace lxos {

enum RegResult : int32_t {
  kRegOk = 0,
  kRegNotFound = 2,           // ERROR_FILE_NOT_FOUND: key or value missing
  kRegAccessDenied = 5,       // store cannot be opened or written
  kRegInvalidParameter = 87,
  kRegBadPath = 161,          // ERROR_BAD_PATHNAME
  kRegMoreData = 234,         // buffer too small; *size holds the size needed
  kRegNoMoreItems = 259,      // enumeration past the end
  kRegKeyHasChildren = 1020,  // deleting a key that has sub-keys
  kRegIoFailed = 1016,        // the database failed
};

enum RegType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
};

constexpr size_t kMaxKeyPath = 1024;
constexpr size_t kMaxValueName = 255;

// Creates the key and its missing parents; an existing key is left as it is.
int32_t RegCreateKey(const char* path);

// kRegOk when the key exists, kRegNotFound otherwise.
int32_t RegKeyExists(const char* path);

// Reads value `name` of key `path`. `type` may be null. With `data` null, stores
// the value's size in *size and returns kRegOk. With a buffer of *size bytes that
// is too small, stores the size needed in *size and returns kRegMoreData (the
// buffer's content is then undefined). Otherwise copies the value, stores its size
// in *size and returns kRegOk.
int32_t RegQueryValue(const char* path, const char* name, uint32_t* type, void* data, uint32_t* size);

// Stores a value in an existing key (kRegNotFound when the key is missing).
int32_t RegSetValue(const char* path, const char* name, uint32_t type, const void* data, uint32_t size);

// Deletes one value; kRegNotFound when the key or the value is missing.
int32_t RegDeleteValue(const char* path, const char* name);

// Deletes a key that has no sub-keys, with its values. kRegNotFound when missing,
// kRegKeyHasChildren when it has sub-keys.
int32_t RegDeleteKey(const char* path);

// Deletes a key with all its sub-keys and values.
int32_t RegDeleteTree(const char* path);

// The name of the index-th direct sub-key of `path` (in order of creation), or
// kRegNoMoreItems past the end.
int32_t RegEnumKey(const char* path, uint32_t index, std::string* name);

// The name and type of the index-th value of `path` (in order of creation), or
// kRegNoMoreItems past the end.
int32_t RegEnumValue(const char* path, uint32_t index, std::string* name, uint32_t* type);

}  // namespace lxos

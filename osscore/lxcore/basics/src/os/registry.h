// The registry store: the host's stand-in for the system registry below
// HKEY_LOCAL_MACHINE, kept in one SQLite database (lxos::RegistryFile()).
//
// Keys are backslash-separated paths relative to HKEY_LOCAL_MACHINE, such as
// "SOFTWARE\Vesk Software\Orvanta". Key and value names compare without regard to
// case (ASCII), and keep the spelling they were created with. A path is malformed
// when it is empty, starts or ends with a backslash, holds an empty component or
// one longer than 255 bytes, or is longer than kMaxKeyPath bytes; a value name
// longer than kMaxValueName is refused too. Malformed names are refused with
// kRegBadPath, never shortened. A null path is kRegInvalidParameter. The empty
// value name "" (or null) is a key's default value.
//
// Values keep their type and bytes exactly as written: strings are stored with
// the bytes the caller gives (with or without terminator), nothing is added on
// reading; multi-strings are the caller's bytes (UTF-16 for the performance
// counters). Any type number is accepted and returned as given.
//
// A store created fresh holds the key
// "SOFTWARE\Microsoft\Windows NT\CurrentVersion\Perflib" with the sub-key "009",
// whose values "Counter" and "Help" are empty multi-strings: 4 zero bytes, that
// is an empty UTF-16 string followed by the list's terminating zero character.
// Counter installation appends "index\0name\0" pairs in place of that final
// terminator, so each pair is preceded by a zero character, as removal expects.
//
// Several processes may use the store at once; each call is one transaction
// and durable when it returns. A call waits up to 30 seconds for another
// process's lock on the store, even to read: opening the store writes its first
// content once, in a write transaction. Whoever may read the store's files can
// lock them, and with the monitoring group (paths.h) that includes another
// user, who can keep each call that opens the store or writes waiting the full
// 30 seconds. Callers that must not wait on another user bound their calls with
// a RegWaitLimit. Threads of one process share one connection under a lock. A
// process that forks opens a connection of its own in the child (forking while
// another thread is inside a call is not supported). Results are the host
// registry's error numbers; every call may also return kRegAccessDenied when
// the store cannot be opened (no state directory, not a database, no
// permission) and kRegIoFailed when the database fails (or stays locked by
// another process beyond the wait). After a failure nothing has changed in the
// store.
#pragma once

#include <cstdint>
#include <string>

namespace lxos {

enum RegResult : int32_t {
  kRegOk = 0,
  kRegNotFound = 2,      // ERROR_FILE_NOT_FOUND: key or value missing
  kRegAccessDenied = 5,  // store cannot be opened or written
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

// Bounds the waits of the registry calls that the constructing thread makes
// while the object lives, for the process's own connection and for locks that
// other processes hold on the store: once `timeoutMs` milliseconds (of
// TickCount) have passed since construction, a call gives up instead of
// waiting, as at the end of the busy timeout (kRegIoFailed, or
// kRegAccessDenied when the store could not be opened), and Expired() is true
// from then on. The innermost limit of a thread applies.
class RegWaitLimit {
 public:
  explicit RegWaitLimit(uint32_t timeoutMs);
  ~RegWaitLimit();
  RegWaitLimit(const RegWaitLimit&) = delete;
  RegWaitLimit& operator=(const RegWaitLimit&) = delete;

  // Whether a call gave up a wait because the limit had passed.
  bool Expired() const { return expired_; }

  // For the store, about to wait: true, and Expired() from then on, once the
  // limit has passed.
  bool Passed();

 private:
  RegWaitLimit* outer_;
  uint32_t start_;
  uint32_t timeoutMs_;
  bool expired_ = false;
};

// Creates the key and its missing parents; an existing key is left as it is.
int32_t RegCreateKey(const char* path);

// kRegOk when the key exists, kRegNotFound otherwise.
int32_t RegKeyExists(const char* path);

// Reads value `name` of key `path`. `type` may be null; it receives the type
// whenever the value exists. With `data` null, stores the value's size in *size
// (when `size` is not null) and returns kRegOk. With a buffer of *size bytes that
// is too small, stores the size needed in *size and returns kRegMoreData (the
// buffer's content is then undefined). Otherwise copies the value, stores its size
// in *size and returns kRegOk. kRegNotFound when the key or the value is missing
// (*size and the buffer untouched); kRegInvalidParameter for `data` without `size`.
int32_t RegQueryValue(const char* path, const char* name, uint32_t* type, void* data, uint32_t* size);

// Stores a value in an existing key (kRegNotFound when the key is missing),
// replacing one of the same name, which keeps its place in the enumeration and
// its spelling. `data` may be null only when `size` is 0 (else
// kRegInvalidParameter).
int32_t RegSetValue(const char* path, const char* name, uint32_t type, const void* data, uint32_t size);

// Deletes one value; kRegNotFound when the key or the value is missing.
int32_t RegDeleteValue(const char* path, const char* name);

// Deletes a key that has no sub-keys, with its values. kRegNotFound when missing,
// kRegKeyHasChildren when it has sub-keys.
int32_t RegDeleteKey(const char* path);

// Deletes a key with all its sub-keys and values; kRegNotFound when missing.
int32_t RegDeleteTree(const char* path);

// The name of the index-th direct sub-key of `path` (in order of creation), as
// spelled; kRegNoMoreItems past the end, kRegNotFound when `path` is missing.
// `name` is left alone on failure.
int32_t RegEnumKey(const char* path, uint32_t index, std::string* name);

// The name and type (`type` may be null) of the index-th value of `path` (in
// order of creation); kRegNoMoreItems past the end, kRegNotFound when `path` is
// missing. The out-arguments are left alone on failure.
int32_t RegEnumValue(const char* path, uint32_t index, std::string* name, uint32_t* type);

}  // namespace lxos

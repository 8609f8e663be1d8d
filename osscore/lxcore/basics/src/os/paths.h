// Where the library keeps its state on this host, the files it runs from, and
// the rules by which it trusts files and directories that others could have made.
//
// State directory: $ORVANTA_STATE_DIR, else /var/lib/orvanta for root, else
// ${XDG_STATE_HOME:-$HOME/.local/state}/orvanta, with the home directory from the
// password database when HOME is unset (never a shared directory such as /tmp).
// Missing directories are created 0700 (the state directory itself 02750 with the
// monitoring group, see below); the state directory is used only when it is
// trusted (TrustPath). The registry store is registry.db in it unless
// $ORVANTA_REGISTRY names a file.
//
// Every ORVANTA_* variable is read with secure_getenv: a set-user-id program
// ignores them.
//
// Monitoring group: $ORVANTA_SHM_GROUP names a group that may read what the
// library shares: the statistics block 0640, the state directory 02750 (set-group-id,
// so that the files SQLite adds beside the store share its group) and the
// registry store 0640 with that group, instead of 0600 and 0700 owner only.
// Modes are always set explicitly on the open descriptor, never left to the umask.
//
// Trust: a file or directory that another local user could have made is used
// only when it is owned by the effective user or by root, is of the expected
// kind, and is writable by neither its group nor others (the monitoring group
// reads, it never writes). Directories above it are checked the same way, except
// that a sticky directory (/tmp, /dev/shm) may be writable by all: nobody but
// the owner can replace what lies in it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace lxos {

// The state directory, created if missing. Empty when it cannot be created or
// is not trusted; StateDirProblem() then says why and how to fix it, and the
// same text goes to the debugger output once per process.
std::string StateDir();

// Why the last StateDir() in this process came back empty ("" when it did not).
std::string StateDirProblem();

// The registry store's file name (its directory is created if missing). Empty
// when it lives in the state directory and StateDir() is empty.
std::string RegistryFile();

// Creates `dir` and its missing parents with `mode` (subject to the umask, which
// can only take bits away). Returns true when `dir` is a directory afterwards.
bool MakeDirs(const std::string& dir, mode_t mode = 0700);

// The value of environment variable `name` (secure_getenv), or null.
const char* GetEnv(const char* name);

// The monitoring group. Returns 0 with *configured false when $ORVANTA_SHM_GROUP
// is unset or empty; 0 with *configured true and *gid set when it names a group
// (by name, or by number); ENOENT when it names no group (*configured true).
int32_t SharedGroup(bool* configured, gid_t* gid);

// The mode and group for something the monitoring group may read: a file 0600
// and a directory 0700 with no group change (*gid = -1); with the monitoring
// group, 0640 and 02750 (set-group-id) with that group. Returns 0, or ENOENT as SharedGroup
// (*mode and *gid then hold the owner-only choice). The registry store's creator
// applies it with ApplySharedMode.
int32_t SharedMode(bool directory, mode_t* mode, gid_t* gid);

// Gives the open file or directory `fd` the SharedMode (fchown to the group
// first, then fchmod). Returns 0 or the system's error number (ENOENT for an
// unknown group, EPERM when the owner is not in the group); the mode is then
// left owner-only (0600 or 0700).
int32_t ApplySharedMode(int fd, bool directory);

// What TrustOpen expects of an open file.
struct TrustRule {
  bool directory = false;                    // a directory instead of a regular file
  int64_t size = -1;                         // its exact size in bytes; -1 for any
  uid_t alsoOwner = static_cast<uid_t>(-1);  // one more accepted owner, besides the user and root
  bool groupMustMatch = false;  // when not owned by the user: its group must be the monitoring group
};

// Checks with fstat what `fd` is: of the rule's kind and size, owned by the
// effective user, root or `alsoOwner`, and writable by neither its group nor
// others. Returns 0, or EPERM with
// *why (may be null) saying what is wrong, naming the file as `name`; the
// system's error number when fstat fails.
int32_t TrustOpen(int fd, const TrustRule& rule, const std::string& name, std::string* why);

// Whether code or data may be loaded from `path`: true when it is a regular file
// owned by the effective user or root and not writable by group or others, and
// every directory on the way to it (symbolic links followed, the directories
// that hold the links included) is owned by the user or root and writable by
// neither group nor others unless sticky. Relative paths start at the working
// directory. False with *why (may be null) naming the first untrusted file or
// directory otherwise. The caller must then open the same path it checked:
// nothing on that path can be changed except by the user or root.
bool IsTrustedPath(const std::string& path, std::string* why);

// The owner of the registry store file. Returns false when it cannot be opened.
bool RegistryOwner(uid_t* owner);

// Full path of this library's own file (dladdr on one of its symbols). Returns
// false, leaving `out` empty, when the system cannot tell.
bool LibraryPath(std::string* out);

// Full path of the program's executable (/proc/self/exe), or false.
bool ProgramPath(std::string* out);

// The current process id.
unsigned long ProcessId();

}  // namespace lxos

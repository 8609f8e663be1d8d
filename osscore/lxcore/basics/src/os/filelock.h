// Single-owner locks kept as files: the host's stand-in for a named mutex.
//
// A lock is an exclusive flock on a file in a directory that other users may
// share (/dev/shm by default). The file is opened with O_NOFOLLOW | O_CLOEXEC,
// created 0600 and set to 0600 with fchmod whatever the umask, and used only
// when fstat on the open descriptor shows a regular file owned by the effective
// user or root that neither its group nor others may write: so no other user can
// open it, hold its lock or make it point elsewhere. The owner holds the lock for
// as long as its descriptor is open, normally until the process ends; the kernel
// releases it when the process ends in any way, SIGKILL included. The file is
// never removed: removing a lock file while others open it would let two owners
// hold two different files. Children made by fork share the lock until they
// close their descriptor; exec does not inherit it (close-on-exec).
//
// Byte locks (open-file-description locks on single bytes of the same file) are
// independent of the flock; they serialise short steps between the user's own
// processes, and nobody waits for one longer than the time given.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace lxos {

// The directory of the machine-wide lock files: $ORVANTA_LOCK_DIR when set and
// not empty, else /dev/shm (beside the shared-memory objects).
std::string LockDirectory();

// Result of FileLockTry when another open file description holds the lock.
constexpr int32_t kLockBusy = -1;

// Opens the lock file `path`, creating it when missing, and checks it as above.
// Returns 0 with the descriptor in *handle (the caller closes it with
// FileLockRelease); EPERM with *why (may be null) saying what is wrong when the
// file is not to be trusted; otherwise the system's error number (ELOOP: a
// symbolic link; EACCES: another user's file). *handle is -1 after a failure.
int32_t FileLockOpen(const std::string& path, int* handle, std::string* why);

// Opens `path` as FileLockOpen does and takes its exclusive lock without
// waiting. Returns 0 with the descriptor that holds it in *handle; kLockBusy
// when someone else holds it; otherwise what FileLockOpen returns. *handle is
// -1 after any failure.
int32_t FileLockTry(const std::string& path, int* handle, std::string* why = nullptr);

// Sets (F_RDLCK, F_WRLCK) or clears (F_UNLCK) an open-file-description lock on
// byte `byte` of the open file `fd` without waiting. Returns 0, EAGAIN when
// another open file description holds a lock that conflicts, or the system's
// error number.
int32_t SetByteLock(int fd, off_t byte, short type);

// Takes an exclusive lock on byte `byte` of the open lock file `handle`, waiting
// at most `timeoutMs` milliseconds (of TickCount) for its holder. Returns 0,
// ETIMEDOUT when it stayed held, or the system's error number.
int32_t FileLockByte(int handle, off_t byte, int timeoutMs);

// Drops a byte lock taken by FileLockByte.
void FileUnlockByte(int handle, off_t byte);

// Closes the descriptor, and with it this process's flock and byte locks (unless
// a forked child still shares them); -1 is ignored.
void FileLockRelease(int handle);

// Tells whether some process holds the exclusive flock of the lock file `path`,
// without opening the file or taking any lock, so that a process that may not
// open it (another user) can ask too: the kernel's table of locks
// (/proc/locks) is searched for an exclusive flock on the file's device and
// inode. fcntl's F_GETLK cannot answer this: it sees only record locks, never a
// flock. The table lists the locks of the caller's PID namespace only. Returns 0
// with *held set (false when `path` does not exist or is a symbolic link); else
// the error number of the lstat, open or read that failed, *held then false.
int32_t FileLockHeld(const std::string& path, bool* held);

}  // namespace lxos

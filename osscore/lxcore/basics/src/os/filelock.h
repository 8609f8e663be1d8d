// Single-owner locks kept as files: the host's stand-in for a named mutex.
//
// A lock is an exclusive flock on a file, created when missing (mode 0666,
// subject to the umask). The owner holds it for as long as its descriptor is
// open, normally until the process ends; the kernel releases it when the process
// ends in any way, SIGKILL included, so a killed owner never keeps the next one
// out. The file itself is never removed: removing a lock file while others open
// it would let two owners hold two different files. Children made by fork share
// the lock; exec does not inherit it (close-on-exec).
#pragma once

#include <cstdint>
#include <string>

namespace lxos {

// The directory of the machine-wide lock files: $ORVANTA_LOCK_DIR when set and
// not empty, else /dev/shm (beside the shared-memory objects).
std::string LockDirectory();

// Result of FileLockTry when another open file description holds the lock.
constexpr int32_t kLockBusy = -1;

// Takes the exclusive lock on file `path` without waiting. Returns 0 and stores
// the descriptor that holds it in *handle; kLockBusy when someone else holds it;
// otherwise the system's error number (the file cannot be created or opened).
// *handle is -1 after any failure.
int32_t FileLockTry(const std::string& path, int* handle);

// Releases a lock taken by FileLockTry and closes its descriptor; -1 is ignored.
void FileLockRelease(int handle);

}  // namespace lxos

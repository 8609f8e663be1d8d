// The system calls of the library, each wrapped once, and the seam through which
// tests make them fail.
//
// Every call that src/os makes into the kernel, the dynamic loader or the
// environment goes through one slot of a process-wide table. A slot starts empty,
// which means the system's own function; a test fills it to inject a failure
// (FailSyscall: ENOSPC on the third write, EINTR once, EACCES on every open) or
// to put in a function of its own (SetSyscall), and empties the table again with
// ResetSyscalls. The library pays one relaxed pointer load per call for this.
// Slots are named after the system call ("open", "write", "fcntl", "dlopen");
// the list is in syscall.cpp.
//
// The wrappers in lxos::sys keep the system's conventions: -1 (null, MAP_FAILED
// for Mmap) with errno set on failure. On top of the plain call they
//   - open every descriptor close-on-exec (O_CLOEXEC, SOCK_CLOEXEC);
//   - repeat a call that a signal interrupted (EINTR), except Close, whose
//     descriptor is gone on Linux even when it reports EINTR (Close then
//     returns 0), and Connect, which goes on in the background after an
//     interruption.
//
// Not in the table: calls that cannot fail in a way the library handles
// (getpid, geteuid, raise, signal, _exit, nanosleep, usleep), the clocks, which have
// their own replaceable sources (clock.h), and the lookups in the password and
// group databases (getpwuid_r, getgrnam_r), which are not system calls. SQLite makes its own file calls for
// the registry store; the store's file is opened through this table first (see registry.cpp).
//
// Thread safety: the wrappers may be called from any thread. The test functions
// change slots that other threads may be reading; set them while no other thread
// makes the calls concerned.
#pragma once

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <typeinfo>

struct flock;

namespace lxos {
namespace sys {

// Files and descriptors.
int Open(const char* path, int flags, mode_t mode = 0);
int OpenAt(int dir, const char* path, int flags, mode_t mode = 0);
// mkostemp: replaces the trailing "XXXXXX" of `pattern` and creates that file,
// 0600, close-on-exec.
int MakeTemp(char* pattern);
ssize_t Read(int fd, void* buffer, size_t size);
ssize_t PRead(int fd, void* buffer, size_t size, off_t offset);
ssize_t Write(int fd, const void* data, size_t size);
ssize_t PWrite(int fd, const void* data, size_t size, off_t offset);
int Close(int fd);
int Fsync(int fd);
int Fdatasync(int fd);
int Ftruncate(int fd, off_t size);
int Fstat(int fd, struct stat* st);
int Stat(const char* path, struct stat* st);
int Lstat(const char* path, struct stat* st);
int Fchmod(int fd, mode_t mode);
int Fchown(int fd, uid_t owner, gid_t group);
int Mkdir(const char* path, mode_t mode);
int Rename(const char* from, const char* to);
int Unlink(const char* path);
ssize_t ReadLink(const char* path, char* buffer, size_t size);
// realpath; `resolved` null lets it allocate the result (free it).
char* RealPath(const char* path, char* resolved);
// getcwd: the working directory into `buffer`, or null (ERANGE: too small).
char* GetCwd(char* buffer, size_t size);

// Locks: flock, and fcntl with a lock command (F_SETLK, F_SETLKW, F_GETLK and
// their F_OFD_ forms).
int Flock(int fd, int operation);
int FcntlLock(int fd, int command, struct flock* lock);

// Shared memory.
int ShmOpen(const char* name, int flags, mode_t mode);
int ShmUnlink(const char* name);
void* Mmap(void* address, size_t size, int protection, int flags, int fd, off_t offset);
int Munmap(void* address, size_t size);

// Sockets.
int Socket(int domain, int type, int protocol);
int Connect(int fd, const struct sockaddr* address, socklen_t length);
ssize_t SendTo(int fd, const void* data, size_t size, int flags, const struct sockaddr* address,
               socklen_t length);
int SetSockOpt(int fd, int level, int name, const void* value, socklen_t length);

// The dynamic loader. Its failures are told by DlError, not errno.
void* DlOpen(const char* file, int flags);
void* DlSym(void* module, const char* name);
int DlClose(void* module);
char* DlError();
int DlInfo(void* module, int request, void* out);
int DlAddr(const void* address, Dl_info* info);
int DlAddr1(const void* address, Dl_info* info, void** extra, int flags);

// The environment and the host. GetEnv and SecureGetEnv give null for a variable
// that is not set (SecureGetEnv also in a set-user-id or set-group-id program).
const char* GetEnv(const char* name);
const char* SecureGetEnv(const char* name);
int GetHostName(char* buffer, size_t size);

// Terminals. isatty: 1 when `fd` is a terminal, else 0 with errno set (ENOTTY,
// EBADF).
int IsATty(int fd);

}  // namespace sys

// The result of a call that has just failed: its errno, or EIO when it left errno
// at 0, so that a failure never reads as success.
int32_t LastError();

// Writes all `size` bytes of `data` to `fd`, going on after short writes. Returns
// 0, or the error number of the write that failed (an unknown number of bytes has
// then been written).
int32_t WriteAll(int fd, const void* data, size_t size);

// ---------------------------------------------------------------------------
// Test seam
// ---------------------------------------------------------------------------

using SyscallPtr = void (*)();

// Puts `fn` into the slot `name`; `fn` must have the slot's type (the system
// function's, with mode_t for the mode of open, openat and shm_open and struct
// flock* for the argument of fcntl). Null empties the slot. Returns false, leaving
// the slot alone, for an unknown name or a function of another type.
template <typename R, typename... A>
bool SetSyscall(const char* name, R (*fn)(A...));
bool SetSyscallPtr(const char* name, SyscallPtr fn, const std::type_info& type);

// Makes calls of slot `name` fail with errno `error`: after `skip` calls that go
// through, the next `count` calls fail (count < 0: every call until the slot is
// reset); later calls go through again. A failed call returns -1 (null for the
// calls that return a pointer, MAP_FAILED for mmap) without reaching the system;
// only a failed close closes the descriptor first, as Linux always does.
// Replaces whatever the slot held. Returns false, changing nothing, for an
// unknown name or an error number that is not positive.
bool FailSyscall(const char* name, int error, int count = -1, int skip = 0);

// How many failures FailSyscall's arrangement on `name` has injected so far; -1
// for an unknown name.
int InjectedFailures(const char* name);

// Empties every slot: all calls go to the system again.
void ResetSyscalls();

template <typename R, typename... A>
bool SetSyscall(const char* name, R (*fn)(A...)) {
  return SetSyscallPtr(name, reinterpret_cast<SyscallPtr>(fn), typeid(fn));
}

}  // namespace lxos

// The table of system calls.
//
// Each slot is an atomic pointer that is null while the system's function is
// meant: a call loads it once and either calls the system directly (the function
// is known at compile time) or the function the test put in. An arranged failure
// puts in the slot's own Injector, which counts the calls, fails the chosen ones
// and passes the others on to the system. All slot state starts as zero bytes, so calls made by static
// initialisers of other files work before this file's initialisers have run.
#include "os/syscall.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace lxos {

namespace {

// The variadic system functions, with the types of their slots.
int SystemOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int SystemOpenAt(int dir, const char* path, int flags, mode_t mode) {
  return ::openat(dir, path, flags, mode);
}
int SystemFcntlLock(int fd, int command, struct flock* lock) { return ::fcntl(fd, command, lock); }

// Every slot: its name, its type and the system's function.
#define LXOS_SYSCALLS(X)                                                                              \
  X(open, int (*)(const char*, int, mode_t), &SystemOpen)                                             \
  X(openat, int (*)(int, const char*, int, mode_t), &SystemOpenAt)                                    \
  X(mkostemp, int (*)(char*, int), &::mkostemp)                                                       \
  X(read, ssize_t (*)(int, void*, size_t), &::read)                                                   \
  X(pread, ssize_t (*)(int, void*, size_t, off_t), &::pread)                                          \
  X(write, ssize_t (*)(int, const void*, size_t), &::write)                                           \
  X(pwrite, ssize_t (*)(int, const void*, size_t, off_t), &::pwrite)                                  \
  X(close, int (*)(int), &::close)                                                                    \
  X(fsync, int (*)(int), &::fsync)                                                                    \
  X(fdatasync, int (*)(int), &::fdatasync)                                                            \
  X(ftruncate, int (*)(int, off_t), &::ftruncate)                                                     \
  X(fstat, int (*)(int, struct stat*), &::fstat)                                                      \
  X(stat, int (*)(const char*, struct stat*), &::stat)                                                \
  X(lstat, int (*)(const char*, struct stat*), &::lstat)                                              \
  X(fchmod, int (*)(int, mode_t), &::fchmod)                                                          \
  X(fchown, int (*)(int, uid_t, gid_t), &::fchown)                                                    \
  X(mkdir, int (*)(const char*, mode_t), &::mkdir)                                                    \
  X(rename, int (*)(const char*, const char*), &::rename)                                             \
  X(unlink, int (*)(const char*), &::unlink)                                                          \
  X(readlink, ssize_t (*)(const char*, char*, size_t), &::readlink)                                   \
  X(realpath, char* (*)(const char*, char*), &::realpath)                                             \
  X(getcwd, char* (*)(char*, size_t), &::getcwd)                                                      \
  X(flock, int (*)(int, int), &::flock)                                                               \
  X(fcntl, int (*)(int, int, struct flock*), &SystemFcntlLock)                                        \
  X(shm_open, int (*)(const char*, int, mode_t), &::shm_open)                                         \
  X(shm_unlink, int (*)(const char*), &::shm_unlink)                                                  \
  X(mmap, void* (*)(void*, size_t, int, int, int, off_t), &::mmap)                                    \
  X(munmap, int (*)(void*, size_t), &::munmap)                                                        \
  X(socket, int (*)(int, int, int), &::socket)                                                        \
  X(connect, int (*)(int, const struct sockaddr*, socklen_t), &::connect)                             \
  X(sendto, ssize_t (*)(int, const void*, size_t, int, const struct sockaddr*, socklen_t), &::sendto) \
  X(setsockopt, int (*)(int, int, int, const void*, socklen_t), &::setsockopt)                        \
  X(dlopen, void* (*)(const char*, int), &::dlopen)                                                   \
  X(dlsym, void* (*)(void*, const char*), &::dlsym)                                                   \
  X(dlclose, int (*)(void*), &::dlclose)                                                              \
  X(dlerror, char* (*)(), &::dlerror)                                                                 \
  X(dlinfo, int (*)(void*, int, void*), &::dlinfo)                                                    \
  X(dladdr, int (*)(const void*, Dl_info*), &::dladdr)                                                \
  X(dladdr1, int (*)(const void*, Dl_info*, void**, int), &::dladdr1)                                 \
  X(getenv, char* (*)(const char*), &::getenv)                                                        \
  X(secure_getenv, char* (*)(const char*), &::secure_getenv)                                          \
  X(gethostname, int (*)(char*, size_t), &::gethostname)                                              \
  X(isatty, int (*)(int), &::isatty)

enum SlotId {
#define LXOS_ID(name, type, system) k_##name,
  LXOS_SYSCALLS(LXOS_ID)
#undef LXOS_ID
      kSlotCount
};

template <SlotId id>
struct SlotTraits;
#define LXOS_TRAITS(name, type, system)   \
  template <>                             \
  struct SlotTraits<k_##name> {           \
    using Fn = type;                      \
    static constexpr Fn kSystem = system; \
  };
LXOS_SYSCALLS(LXOS_TRAITS)
#undef LXOS_TRAITS

// The changing state of one slot. `current` null: the system's function.
// An arranged failure: after `skip` calls, `count` calls fail with `error`
// (count < 0: all); `injected` counts the failures so far.
struct Slot {
  std::atomic<SyscallPtr> current;
  std::atomic<int> error;
  std::atomic<int> skip;
  std::atomic<int> count;
  std::atomic<int> injected;
};

Slot g_slots[kSlotCount];

// Decides whether this call of `slot` fails; returns the error number or 0.
int TakeFailure(Slot& slot) {
  int skip = slot.skip.load(std::memory_order_relaxed);
  while (skip > 0) {
    if (slot.skip.compare_exchange_weak(skip, skip - 1, std::memory_order_relaxed)) return 0;
  }
  int count = slot.count.load(std::memory_order_relaxed);
  for (;;) {
    if (count == 0) return 0;
    if (count < 0 || slot.count.compare_exchange_weak(count, count - 1, std::memory_order_relaxed)) break;
  }
  slot.injected.fetch_add(1, std::memory_order_relaxed);
  return slot.error.load(std::memory_order_relaxed);
}

template <typename R>
R FailureValue(SlotId id) {
  if constexpr (std::is_pointer_v<R>) {
    return id == k_mmap ? static_cast<R>(MAP_FAILED) : nullptr;
  } else {
    return -1;
  }
}

template <SlotId id, typename Fn = typename SlotTraits<id>::Fn>
struct Slotted;

template <SlotId id, typename R, typename... A>
struct Slotted<id, R (*)(A...)> {
  using Fn = R (*)(A...);

  static R Call(A... args) {
    SyscallPtr fn = g_slots[id].current.load(std::memory_order_relaxed);
    if (fn == nullptr) return SlotTraits<id>::kSystem(args...);
    return reinterpret_cast<Fn>(fn)(args...);
  }

  // What a slot with an arranged failure holds.
  static R Injector(A... args) {
    Slot& slot = g_slots[id];
    int error = TakeFailure(slot);
    if (error != 0) {
      // Linux frees the descriptor whatever close reports: so does a failed one.
      if constexpr (id == k_close) SlotTraits<id>::kSystem(args...);
      errno = error;
      return FailureValue<R>(id);
    }
    return SlotTraits<id>::kSystem(args...);
  }
};

// Calls slot `id`.
template <SlotId id, typename... Args>
auto Call(Args... args) {
  return Slotted<id>::Call(args...);
}

// The one loop that repeats interrupted calls.
template <typename Body>
auto RetryOnEintr(Body body) {
  for (;;) {
    auto result = body();
    if (result != -1 || errno != EINTR) return result;
  }
}

// What the test functions need to know of each slot.
struct SlotInfo {
  const char* name;
  const std::type_info* type;
  SyscallPtr injector;
};

const SlotInfo* FindSlot(const char* name, SlotId* id) {
  static const SlotInfo kInfo[kSlotCount] = {
#define LXOS_INFO(name, type, system) \
  {#name, &typeid(type), reinterpret_cast<SyscallPtr>(&Slotted<k_##name>::Injector)},
      LXOS_SYSCALLS(LXOS_INFO)
#undef LXOS_INFO
  };
  if (name == nullptr) return nullptr;
  for (int i = 0; i < kSlotCount; ++i) {
    if (std::strcmp(kInfo[i].name, name) == 0) {
      *id = static_cast<SlotId>(i);
      return &kInfo[i];
    }
  }
  return nullptr;
}

}  // namespace

namespace sys {

// LXOS_RETRIED repeats a call after EINTR; LXOS_ONCE makes it once (connect,
// and the calls that do not report through errno).
#define LXOS_RETRIED(slot, ...) return RetryOnEintr([&] { return Call<k_##slot>(__VA_ARGS__); })
#define LXOS_ONCE(slot, ...) return Call<k_##slot>(__VA_ARGS__)

int Open(const char* path, int flags, mode_t mode) { LXOS_RETRIED(open, path, flags | O_CLOEXEC, mode); }
int OpenAt(int dir, const char* path, int flags, mode_t mode) {
  LXOS_RETRIED(openat, dir, path, flags | O_CLOEXEC, mode);
}
int MakeTemp(char* pattern) {
  // mkostemp may have filled in the X's when it is interrupted: each try starts
  // from them again.
  size_t length = std::strlen(pattern);
  bool templated = length >= 6 && std::strcmp(pattern + length - 6, "XXXXXX") == 0;
  return RetryOnEintr([&] {
    if (templated) std::memcpy(pattern + length - 6, "XXXXXX", 6);
    return Call<k_mkostemp>(pattern, O_CLOEXEC);
  });
}
ssize_t Read(int fd, void* buffer, size_t size) { LXOS_RETRIED(read, fd, buffer, size); }
ssize_t PRead(int fd, void* buffer, size_t size, off_t offset) {
  LXOS_RETRIED(pread, fd, buffer, size, offset);
}
ssize_t Write(int fd, const void* data, size_t size) { LXOS_RETRIED(write, fd, data, size); }
ssize_t PWrite(int fd, const void* data, size_t size, off_t offset) {
  LXOS_RETRIED(pwrite, fd, data, size, offset);
}
int Close(int fd) {
  // The descriptor is gone on Linux whatever close reports: an interruption is
  // no failure, and a second close could hit a descriptor opened meanwhile.
  int rc = Call<k_close>(fd);
  return rc != 0 && errno == EINTR ? 0 : rc;
}
int Fsync(int fd) { LXOS_RETRIED(fsync, fd); }
int Fdatasync(int fd) { LXOS_RETRIED(fdatasync, fd); }
int Ftruncate(int fd, off_t size) { LXOS_RETRIED(ftruncate, fd, size); }
int Fstat(int fd, struct stat* st) { LXOS_RETRIED(fstat, fd, st); }
int Stat(const char* path, struct stat* st) { LXOS_RETRIED(stat, path, st); }
int Lstat(const char* path, struct stat* st) { LXOS_RETRIED(lstat, path, st); }
int Fchmod(int fd, mode_t mode) { LXOS_RETRIED(fchmod, fd, mode); }
int Fchown(int fd, uid_t owner, gid_t group) { LXOS_RETRIED(fchown, fd, owner, group); }
int Mkdir(const char* path, mode_t mode) { LXOS_RETRIED(mkdir, path, mode); }
int Rename(const char* from, const char* to) { LXOS_RETRIED(rename, from, to); }
int Unlink(const char* path) { LXOS_RETRIED(unlink, path); }
ssize_t ReadLink(const char* path, char* buffer, size_t size) { LXOS_RETRIED(readlink, path, buffer, size); }
char* RealPath(const char* path, char* resolved) { LXOS_ONCE(realpath, path, resolved); }
char* GetCwd(char* buffer, size_t size) { LXOS_ONCE(getcwd, buffer, size); }
int Flock(int fd, int operation) { LXOS_RETRIED(flock, fd, operation); }
int FcntlLock(int fd, int command, struct flock* lock) { LXOS_RETRIED(fcntl, fd, command, lock); }
int ShmOpen(const char* name, int flags, mode_t mode) {
  LXOS_RETRIED(shm_open, name, flags | O_CLOEXEC, mode);
}
int ShmUnlink(const char* name) { LXOS_RETRIED(shm_unlink, name); }
void* Mmap(void* address, size_t size, int protection, int flags, int fd, off_t offset) {
  LXOS_ONCE(mmap, address, size, protection, flags, fd, offset);
}
int Munmap(void* address, size_t size) { LXOS_RETRIED(munmap, address, size); }
int Socket(int domain, int type, int protocol) {
  LXOS_RETRIED(socket, domain, type | SOCK_CLOEXEC, protocol);
}
int Connect(int fd, const struct sockaddr* address, socklen_t length) {
  LXOS_ONCE(connect, fd, address, length);
}
ssize_t SendTo(int fd, const void* data, size_t size, int flags, const struct sockaddr* address,
               socklen_t length) {
  LXOS_RETRIED(sendto, fd, data, size, flags, address, length);
}
int SetSockOpt(int fd, int level, int name, const void* value, socklen_t length) {
  LXOS_RETRIED(setsockopt, fd, level, name, value, length);
}
void* DlOpen(const char* file, int flags) { LXOS_ONCE(dlopen, file, flags); }
void* DlSym(void* module, const char* name) { LXOS_ONCE(dlsym, module, name); }
int DlClose(void* module) { LXOS_ONCE(dlclose, module); }
char* DlError() { LXOS_ONCE(dlerror); }
int DlInfo(void* module, int request, void* out) { LXOS_ONCE(dlinfo, module, request, out); }
int DlAddr(const void* address, Dl_info* info) { LXOS_ONCE(dladdr, address, info); }
int DlAddr1(const void* address, Dl_info* info, void** extra, int flags) {
  LXOS_ONCE(dladdr1, address, info, extra, flags);
}
const char* GetEnv(const char* name) { LXOS_ONCE(getenv, name); }
const char* SecureGetEnv(const char* name) { LXOS_ONCE(secure_getenv, name); }
int GetHostName(char* buffer, size_t size) { LXOS_RETRIED(gethostname, buffer, size); }
int IsATty(int fd) { LXOS_ONCE(isatty, fd); }

#undef LXOS_RETRIED
#undef LXOS_ONCE

}  // namespace sys

int32_t LastError() { return errno != 0 ? errno : EIO; }

int32_t WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = sys::Write(fd, p, size);
    if (n < 0) return LastError();
    if (n == 0) return EIO;  // no progress: not a file that takes the bytes
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

bool SetSyscallPtr(const char* name, SyscallPtr fn, const std::type_info& type) {
  SlotId id;
  const SlotInfo* info = FindSlot(name, &id);
  if (info == nullptr || *info->type != type) return false;
  g_slots[id].current.store(fn, std::memory_order_relaxed);
  return true;
}

bool FailSyscall(const char* name, int error, int count, int skip) {
  SlotId id;
  const SlotInfo* info = FindSlot(name, &id);
  if (info == nullptr || error <= 0) return false;
  Slot& slot = g_slots[id];
  slot.error.store(error, std::memory_order_relaxed);
  slot.skip.store(skip, std::memory_order_relaxed);
  slot.count.store(count, std::memory_order_relaxed);
  slot.injected.store(0, std::memory_order_relaxed);
  slot.current.store(info->injector, std::memory_order_relaxed);
  return true;
}

int InjectedFailures(const char* name) {
  SlotId id;
  if (FindSlot(name, &id) == nullptr) return -1;
  return g_slots[id].injected.load(std::memory_order_relaxed);
}

void ResetSyscalls() {
  for (Slot& slot : g_slots) {
    slot.current.store(nullptr, std::memory_order_relaxed);
    slot.count.store(0, std::memory_order_relaxed);
    slot.skip.store(0, std::memory_order_relaxed);
  }
}

}  // namespace lxos

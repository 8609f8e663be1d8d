#include "os/filelock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "os/clock.h"
#include "os/paths.h"
#include "os/syscall.h"

namespace lxos {

std::string LockDirectory() {
  const char* dir = GetEnv("ORVANTA_LOCK_DIR");
  return dir && *dir ? std::string(dir) : std::string("/dev/shm");
}

int32_t FileLockOpen(const std::string& path, int* handle, std::string* why) {
  *handle = -1;
  int fd = sys::Open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY, 0600);
  if (fd < 0) return LastError();
  int32_t rc = TrustOpen(fd, TrustRule{}, path, why);
  struct stat st;
  if (rc == 0 && sys::Fstat(fd, &st) != 0) rc = LastError();
  // Created just now, or left with read rights for others by an older release.
  if (rc == 0 && (st.st_mode & 07777) != 0600 && st.st_uid == geteuid() && sys::Fchmod(fd, 0600) != 0)
    rc = LastError();
  if (rc != 0) {
    sys::Close(fd);
    return rc;
  }
  *handle = fd;
  return 0;
}

int32_t FileLockTry(const std::string& path, int* handle, std::string* why) {
  int fd = -1;
  int32_t rc = FileLockOpen(path, &fd, why);
  if (rc != 0) {
    *handle = -1;
    return rc;
  }
  if (sys::Flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = LastError();
    sys::Close(fd);
    *handle = -1;
    return err == EWOULDBLOCK ? kLockBusy : err;
  }
  *handle = fd;
  return 0;
}

int32_t SetByteLock(int fd, off_t byte, short type) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  if (sys::FcntlLock(fd, F_OFD_SETLK, &fl) == 0) return 0;
  int32_t err = LastError();
  return err == EACCES ? EAGAIN : err;
}

int32_t FileLockByte(int handle, off_t byte, int timeoutMs) {
  // Polled, not F_OFD_SETLKW: a blocking wait could not be bounded without a
  // signal, and the host's signals are not the library's.
  const uint32_t start = TickCount();
  for (;;) {
    int32_t rc = SetByteLock(handle, byte, F_WRLCK);
    if (rc != EAGAIN) return rc;
    if (TickCount() - start >= static_cast<uint32_t>(timeoutMs)) return ETIMEDOUT;
    struct timespec nap = {0, 5 * 1000 * 1000};
    nanosleep(&nap, nullptr);
  }
}

void FileUnlockByte(int handle, off_t byte) { SetByteLock(handle, byte, F_UNLCK); }

void FileLockRelease(int handle) {
  if (handle < 0) return;
  sys::Close(handle);
}

namespace {

// Whether one line of /proc/locks is a granted exclusive flock on the file
// whose device and inode `key` spells as the table does ("00:1b:119086"). A
// granted lock reads "1: FLOCK  ADVISORY  WRITE 6883 00:1b:119086 0 EOF"; a
// waiter has "->" after the number.
bool IsExclusiveFlock(const std::string& line, const std::string& key) {
  char kind[16], mode[16], access[16], where[64];
  int pid = 0;
  if (std::sscanf(line.c_str(), "%*d: %15s %15s %15s %d %63s", kind, mode, access, &pid, where) != 5) {
    return false;  // also a waiter: "->" does not read as the kind's field
  }
  return std::string(kind) == "FLOCK" && std::string(access) == "WRITE" && where == key;
}

}  // namespace

int32_t FileLockHeld(const std::string& path, bool* held) {
  *held = false;
  struct stat st;
  if (sys::Lstat(path.c_str(), &st) != 0) {
    const int32_t err = LastError();
    return err == ENOENT ? 0 : err;
  }
  if (!S_ISREG(st.st_mode)) return 0;
  char key[64];
  std::snprintf(key, sizeof key, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  const int fd = sys::Open("/proc/locks", O_RDONLY);
  if (fd < 0) return LastError();
  std::string line;
  char buffer[4096];
  int32_t rc = 0;
  for (;;) {
    const ssize_t n = sys::Read(fd, buffer, sizeof buffer);
    if (n < 0) rc = LastError();
    if (n <= 0) break;
    for (ssize_t i = 0; i < n && !*held; ++i) {
      if (buffer[i] != '\n') {
        line.push_back(buffer[i]);
        continue;
      }
      *held = IsExclusiveFlock(line, key);
      line.clear();
    }
    if (*held) break;
  }
  sys::Close(fd);
  if (rc != 0) *held = false;
  return rc;
}

}  // namespace lxos

#include "os/filelock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

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

}  // namespace lxos

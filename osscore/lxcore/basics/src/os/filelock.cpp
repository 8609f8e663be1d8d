#include "os/filelock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "os/paths.h"

namespace lxos {

std::string LockDirectory() {
  const char* dir = GetEnv("ORVANTA_LOCK_DIR");
  return dir && *dir ? std::string(dir) : std::string("/dev/shm");
}

int32_t FileLockOpen(const std::string& path, int* handle, std::string* why) {
  *handle = -1;
  int fd;
  do {
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  int32_t rc = TrustOpen(fd, TrustRule{}, path, why);
  struct stat st;
  if (rc == 0 && fstat(fd, &st) != 0) rc = errno;
  // Created just now, or left with read rights for others by an older release.
  if (rc == 0 && (st.st_mode & 07777) != 0600 && st.st_uid == geteuid() && fchmod(fd, 0600) != 0) rc = errno;
  if (rc != 0) {
    close(fd);
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
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int err = errno;
    close(fd);
    *handle = -1;
    return err == EWOULDBLOCK ? kLockBusy : err;
  }
  *handle = fd;
  return 0;
}

namespace {

int SetByteLock(int fd, off_t byte, short type) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  int rc;
  do {
    rc = fcntl(fd, F_OFD_SETLK, &fl);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return 0;
  return errno == EACCES ? EAGAIN : errno;
}

int64_t NowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

int32_t FileLockByte(int handle, off_t byte, int timeoutMs) {
  // Polled, not F_OFD_SETLKW: a blocking wait could not be bounded without a
  // signal, and the host's signals are not the library's.
  const int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    int rc = SetByteLock(handle, byte, F_WRLCK);
    if (rc != EAGAIN) return rc;
    if (NowMs() >= deadline) return ETIMEDOUT;
    struct timespec nap = {0, 5 * 1000 * 1000};
    nanosleep(&nap, nullptr);
  }
}

void FileUnlockByte(int handle, off_t byte) { SetByteLock(handle, byte, F_UNLCK); }

void FileLockRelease(int handle) {
  if (handle < 0) return;
  close(handle);
}

}  // namespace lxos

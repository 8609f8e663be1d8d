#include "os/filelock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "os/paths.h"

namespace lxos {

std::string LockDirectory() {
  const char* dir = GetEnv("ORVANTA_LOCK_DIR");
  return dir && *dir ? std::string(dir) : std::string("/dev/shm");
}

int32_t FileLockTry(const std::string& path, int* handle) {
  *handle = -1;
  int fd;
  do {
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int err = errno;
    close(fd);
    return err == EWOULDBLOCK ? kLockBusy : err;
  }
  *handle = fd;
  return 0;
}

void FileLockRelease(int handle) {
  if (handle < 0) return;
  // Closing the descriptor drops the flock with it.
  close(handle);
}

}  // namespace lxos

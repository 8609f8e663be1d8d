#include "os/shm.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lxos {

namespace {

constexpr off_t kPresenceByte = 0;
constexpr off_t kSetupByte = 1;

// Sets (F_RDLCK, F_WRLCK) or clears (F_UNLCK) an open-file-description lock on
// one byte. Returns 0 or the system's error number (EAGAIN: held by another).
int LockByte(int fd, off_t byte, short type, bool wait) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  int rc;
  do {
    rc = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return 0;
  return errno == EACCES ? EAGAIN : errno;
}

int Truncate(int fd, off_t size) {
  int rc;
  do {
    rc = ftruncate(fd, size);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

// Decides between a new and a found block and maps it. Runs with the setup
// byte locked. Returns 0 or the system's error number.
int MapLocked(int fd, size_t size, ShmInitFunc init, void* context, void** view, bool* created) {
  int rc = LockByte(fd, kPresenceByte, F_WRLCK, false);
  if (rc == 0) {
    // Nobody maps the block: whatever it holds is left over. Start it afresh.
    *created = true;
    if ((rc = Truncate(fd, 0)) != 0 || (rc = Truncate(fd, static_cast<off_t>(size))) != 0) return rc;
  } else if (rc == EAGAIN) {
    *created = false;
    struct stat st;
    if (fstat(fd, &st) != 0) return errno;
    if (st.st_size < static_cast<off_t>(size)) return EINVAL;
  } else {
    return rc;
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return errno;
  if (*created && init != nullptr) init(p, size, context);
  // Under the setup lock nobody else can probe the presence byte, so turning an
  // exclusive presence lock into a shared one has no window.
  rc = LockByte(fd, kPresenceByte, F_RDLCK, false);
  if (rc != 0) {
    munmap(p, size);
    return rc;
  }
  *view = p;
  return 0;
}

}  // namespace

int32_t ShmAttach(const char* name, size_t size, ShmInitFunc init, void* context, ShmBlock* block,
                  bool* created) {
  if (name == nullptr || *name == '\0' || size == 0) return EINVAL;
  for (;;) {
    int fd;
    do {
      fd = shm_open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    int rc = LockByte(fd, kSetupByte, F_WRLCK, true);
    if (rc != 0) {
      close(fd);
      return rc;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
      rc = errno;
      close(fd);
      return rc;
    }
    if (st.st_nlink == 0) {
      // The name was removed between opening and locking: open the new one.
      close(fd);
      continue;
    }
    void* view = nullptr;
    bool isNew = false;
    rc = MapLocked(fd, size, init, context, &view, &isNew);
    LockByte(fd, kSetupByte, F_UNLCK, false);
    if (rc != 0) {
      close(fd);  // drops any presence lock taken on the way
      return rc;
    }
    block->fd = fd;
    block->view = view;
    block->size = size;
    if (created != nullptr) *created = isNew;
    return 0;
  }
}

void ShmDetach(ShmBlock* block) {
  if (block->view != nullptr) munmap(block->view, block->size);
  if (block->fd >= 0) close(block->fd);
  block->fd = -1;
  block->view = nullptr;
  block->size = 0;
}

int32_t ShmRemove(const char* name) {
  if (name == nullptr || *name == '\0') return EINVAL;
  return shm_unlink(name) == 0 ? 0 : errno;
}

}  // namespace lxos

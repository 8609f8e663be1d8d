#include "os/shm.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include "os/filelock.h"
#include "os/syscall.h"

namespace lxos {

namespace {

constexpr off_t kPresenceByte = 0;
constexpr off_t kSetupByte = 1;  // of the setup lock file

int ShmOpen(const char* name, int flags) { return sys::ShmOpen(name, flags | O_NOFOLLOW, 0600); }

// Gives a block that nobody else uses its mode and group.
int SetMode(int fd, const ShmAccess& access) {
  if (access.group != static_cast<gid_t>(-1) && sys::Fchown(fd, static_cast<uid_t>(-1), access.group) != 0)
    return LastError();
  return sys::Fchmod(fd, access.mode) == 0 ? 0 : LastError();
}

// Decides between a new and a found block and maps it. Runs under the setup
// lock. Returns 0 or the system's error number.
int MapLocked(int fd, size_t size, const ShmAccess& access, ShmInitFunc init, void* context, void** view,
              bool* created, std::string* why) {
  int rc = SetByteLock(fd, kPresenceByte, F_WRLCK);
  if (rc == 0) {
    // Nobody uses the block: whatever it holds is left over. Start it afresh.
    *created = true;
    if ((rc = SetMode(fd, access)) != 0) return rc;
    if (sys::Ftruncate(fd, 0) != 0 || sys::Ftruncate(fd, static_cast<off_t>(size)) != 0) return LastError();
  } else if (rc == EAGAIN) {
    *created = false;
    struct stat st;
    if (sys::Fstat(fd, &st) != 0) return LastError();
    if (st.st_size != static_cast<off_t>(size)) {
      if (why != nullptr)
        *why =
            "the block is in use with " + std::to_string(st.st_size) + " bytes, not " + std::to_string(size);
      return EINVAL;
    }
  } else {
    return rc;
  }
  void* p = sys::Mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return LastError();
  if (*created && init != nullptr) init(p, size, context);
  // Under the setup lock nobody else can probe the presence byte, so turning an
  // exclusive presence lock into a shared one has no window.
  rc = SetByteLock(fd, kPresenceByte, F_RDLCK);
  if (rc != 0) {
    sys::Munmap(p, size);
    return rc;
  }
  *view = p;
  return 0;
}

// Opens (creating when missing) and checks the block. Returns the descriptor,
// or -1 with *rc set.
int OpenTrusted(const char* name, const ShmAccess& access, int* rc, std::string* why) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = ShmOpen(name, O_RDWR | O_CREAT | O_EXCL);
    if (fd >= 0) {
      if ((*rc = SetMode(fd, access)) == 0) return fd;
      sys::Close(fd);
      sys::ShmUnlink(name);
      return -1;
    }
    if (errno != EEXIST) break;
    fd = ShmOpen(name, O_RDWR);
    if (fd < 0) {
      if (errno == ENOENT) continue;  // removed in between: create it
      break;
    }
    struct stat st;
    *rc = TrustOpen(fd, TrustRule{}, std::string("/dev/shm") + name, why);
    if (*rc == 0 && sys::Fstat(fd, &st) != 0) *rc = LastError();
    if (*rc == 0 && st.st_nlink > 0) return fd;
    sys::Close(fd);
    if (*rc != 0) return -1;
    // The name was removed after opening: open the new one.
  }
  *rc = errno != 0 ? errno : EAGAIN;
  return -1;
}

}  // namespace

int32_t ShmAttach(const char* name, size_t size, const ShmAccess& access, ShmInitFunc init, void* context,
                  ShmBlock* block, bool* created, std::string* why) {
  if (name == nullptr || *name == '\0' || size == 0) return EINVAL;
  int rc = FileLockByte(access.setupLock, kSetupByte, access.setupTimeoutMs);
  if (rc != 0) {
    if (rc == ETIMEDOUT && why != nullptr)
      *why = "another process of this user held the setup lock for more than " +
             std::to_string(access.setupTimeoutMs) + " ms";
    return rc;
  }
  int fd = OpenTrusted(name, access, &rc, why);
  void* view = nullptr;
  bool isNew = false;
  if (fd >= 0) rc = MapLocked(fd, size, access, init, context, &view, &isNew, why);
  FileUnlockByte(access.setupLock, kSetupByte);
  if (rc != 0) {
    if (fd >= 0) sys::Close(fd);  // drops any presence lock taken on the way
    return rc;
  }
  block->fd = fd;
  block->view = view;
  block->size = size;
  if (created != nullptr) *created = isNew;
  return 0;
}

int32_t ShmOpenReadOnly(const char* name, const TrustRule& rule, ShmBlock* block, std::string* why) {
  if (name == nullptr || *name == '\0' || rule.size <= 0) return EINVAL;
  int fd = ShmOpen(name, O_RDONLY);
  if (fd < 0) return LastError();
  int32_t rc = TrustOpen(fd, rule, std::string("/dev/shm") + name, why);
  if (rc != 0) {
    sys::Close(fd);
    return rc;
  }
  block->fd = fd;
  block->view = nullptr;
  block->size = static_cast<size_t>(rule.size);
  return 0;
}

int32_t ShmRead(const ShmBlock& block, size_t offset, void* out, size_t length) {
  if (block.fd < 0) return EBADF;
  struct stat st;
  if (sys::Fstat(block.fd, &st) != 0) return LastError();
  if (st.st_size != static_cast<off_t>(block.size) || offset + length > block.size) return EIO;
  auto* p = static_cast<unsigned char*>(out);
  while (length > 0) {
    ssize_t n = sys::PRead(block.fd, p, length, static_cast<off_t>(offset));
    if (n < 0) return LastError();
    if (n == 0) return EIO;
    p += n;
    offset += static_cast<size_t>(n);
    length -= static_cast<size_t>(n);
  }
  return 0;
}

void ShmDetach(ShmBlock* block) {
  if (block->view != nullptr) sys::Munmap(block->view, block->size);
  if (block->fd >= 0) sys::Close(block->fd);
  block->fd = -1;
  block->view = nullptr;
  block->size = 0;
}

}  // namespace lxos

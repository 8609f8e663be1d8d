#include "os/atomic_file.h"

#include <errno.h>
#include <fcntl.h>

#include "os/syscall.h"

namespace lxos {

namespace {

// The directory that holds `path`.
std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Flushes the directory entries of `dir` to the disk. Returns 0 or the error number.
int32_t SyncDirectory(const std::string& dir) {
  int fd = sys::Open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return LastError();
  int32_t result = 0;
  if (sys::Fsync(fd) != 0 && errno != EINVAL) result = LastError();
  sys::Close(fd);
  return result;
}

}  // namespace

AtomicFile::~AtomicFile() { Discard(); }

int32_t AtomicFile::Open(const std::string& path, mode_t mode) {
  Discard();
  error_ = 0;
  std::string name = path + ".XXXXXX";
  int fd = sys::MakeTemp(&name[0]);
  if (fd < 0) return error_ = LastError();
  target_ = path;
  temporary_ = name;
  fd_ = fd;
  if (sys::Fchmod(fd_, mode) != 0) {
    error_ = LastError();
    Discard();
    return error_;
  }
  return 0;
}

int32_t AtomicFile::Write(const void* data, size_t size) {
  if (error_ != 0) return error_;
  if (fd_ < 0) return EBADF;
  int32_t result = WriteAll(fd_, data, size);
  if (result != 0) {
    error_ = result;
    Discard();
  }
  return result;
}

int32_t AtomicFile::Commit() {
  if (error_ != 0) return error_;
  if (fd_ < 0) return EBADF;
  int32_t result = 0;
  if (sys::Fsync(fd_) != 0) result = LastError();
  int fd = fd_;
  fd_ = -1;
  if (sys::Close(fd) != 0 && result == 0) result = LastError();
  if (result == 0 && sys::Rename(temporary_.c_str(), target_.c_str()) != 0) result = LastError();
  if (result != 0) {
    error_ = result;
    Discard();
    return result;
  }
  temporary_.clear();
  error_ = SyncDirectory(DirectoryOf(target_));
  return error_;
}

void AtomicFile::Discard() {
  if (fd_ >= 0) sys::Close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) sys::Unlink(temporary_.c_str());
  temporary_.clear();
}

int32_t WriteFileAtomically(const std::string& path, const std::string& data, mode_t mode) {
  AtomicFile file;
  int32_t result = file.Open(path, mode);
  if (result == 0) result = file.Write(data.data(), data.size());
  if (result == 0) result = file.Commit();
  return result;
}

}  // namespace lxos

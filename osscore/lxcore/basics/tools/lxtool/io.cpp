#include "io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "os/syscall.h"

namespace lxtool {

namespace {

// Sets errno from a result of the library's layer; true for success.
bool Succeeded(int32_t result) {
  if (result != 0) errno = result;
  return result == 0;
}

}  // namespace

Input::~Input() {
  if (own_) lxos::sys::Close(fd_);
}

bool Input::Open(const std::string& path) {
  if (path == "-") {
    fd_ = STDIN_FILENO;
    return true;
  }
  fd_ = lxos::sys::Open(path.c_str(), O_RDONLY);
  own_ = fd_ >= 0;
  return own_;
}

uint64_t Input::Size() const {
  struct stat st;
  if (fd_ < 0 || lxos::sys::Fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<uint64_t>(st.st_size);
}

ssize_t Input::Read(void* to, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t r = lxos::sys::Read(fd_, static_cast<char*>(to) + done, n - done);
    if (r < 0) return -1;
    if (r == 0) break;
    done += static_cast<size_t>(r);
    if (progress_ != nullptr) progress_->Add(static_cast<uint64_t>(r));
  }
  return static_cast<ssize_t>(done);
}

ssize_t Input::ReadAppend(std::string* out, size_t n) {
  char piece[65536];
  size_t done = 0;
  while (done < n) {
    const ssize_t r = lxos::sys::Read(fd_, piece, std::min(n - done, sizeof piece));
    if (r < 0) return -1;
    if (r == 0) break;
    out->append(piece, static_cast<size_t>(r));
    done += static_cast<size_t>(r);
    if (progress_ != nullptr) progress_->Add(static_cast<uint64_t>(r));
  }
  return static_cast<ssize_t>(done);
}

bool Input::ReadAll(std::string* out, size_t limit) {
  const size_t before = out->size();
  if (ReadAppend(out, limit + 1) < 0) return false;
  if (out->size() - before <= limit) return true;
  out->resize(before + limit);
  errno = EFBIG;
  return false;
}

bool Output::Open(const std::string& path) {
  toStdout_ = path == "-";
  if (toStdout_) return true;
  const mode_t mask = umask(0);
  umask(mask);
  return Succeeded(file_.Open(path, 0666 & ~mask));
}

bool Output::Write(const void* data, size_t n) {
  if (toStdout_) return std::fwrite(data, 1, n, stdout) == n;
  return Succeeded(file_.Write(data, n));
}

bool Output::Commit() {
  if (toStdout_) return std::fflush(stdout) == 0;
  return Succeeded(file_.Commit());
}

bool ReadFileFrom(const std::string& path, uint64_t offset, std::string* out, uint64_t* size) {
  out->clear();
  const int fd = lxos::sys::Open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  struct stat st;
  bool ok = lxos::sys::Fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ok = false;
  }
  if (ok) {
    *size = static_cast<uint64_t>(st.st_size);
    // Only what the file held when it was looked at: a writer that appends
    // meanwhile is read at the next call.
    if (*size > offset) {
      out->resize(static_cast<size_t>(*size - offset));
      size_t done = 0;
      while (done < out->size()) {
        const ssize_t r =
            lxos::sys::PRead(fd, &(*out)[done], out->size() - done, static_cast<off_t>(offset + done));
        if (r < 0) ok = false;
        if (r <= 0) break;
        done += static_cast<size_t>(r);
      }
      out->resize(done);
    }
  }
  const int error = errno;
  lxos::sys::Close(fd);
  errno = error;
  return ok;
}

}  // namespace lxtool

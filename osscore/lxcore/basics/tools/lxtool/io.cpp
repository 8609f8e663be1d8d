#include "io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace lxtool {

namespace {

// write() of all n bytes, resumed after signals and short writes.
bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

ssize_t ReadSome(int fd, void* to, size_t n) {
  ssize_t r;
  do {
    r = read(fd, to, n);
  } while (r < 0 && errno == EINTR);
  return r;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

Input::~Input() {
  if (own_) close(fd_);
}

bool Input::Open(const std::string& path) {
  if (path == "-") {
    fd_ = STDIN_FILENO;
    return true;
  }
  do {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  own_ = fd_ >= 0;
  return own_;
}

ssize_t Input::Read(void* to, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t r = ReadSome(fd_, static_cast<char*>(to) + done, n - done);
    if (r < 0) return -1;
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(done);
}

ssize_t Input::ReadAppend(std::string* out, size_t n) {
  char piece[65536];
  size_t done = 0;
  while (done < n) {
    const ssize_t r = ReadSome(fd_, piece, std::min(n - done, sizeof piece));
    if (r < 0) return -1;
    if (r == 0) break;
    out->append(piece, static_cast<size_t>(r));
    done += static_cast<size_t>(r);
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

Output::~Output() { Discard(); }

void Output::Discard() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
}

bool Output::Open(const std::string& path) {
  path_ = path;
  if (path == "-") return true;
  std::string name = path + ".XXXXXX";
  fd_ = mkostemp(&name[0], O_CLOEXEC);
  if (fd_ < 0) return false;
  temporary_ = name;
  // mkstemp makes the file private; give it the mode a new file would get.
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd_, 0666 & ~mask) != 0) {
    const int error = errno;
    Discard();
    errno = error;
    return false;
  }
  return true;
}

bool Output::Write(const void* data, size_t n) {
  if (path_ == "-") return std::fwrite(data, 1, n, stdout) == n;
  return WriteAll(fd_, static_cast<const char*>(data), n);
}

bool Output::Commit() {
  if (path_ == "-") return std::fflush(stdout) == 0;
  int error = 0;
  if (fsync(fd_) != 0 || close(fd_) != 0) error = errno;
  fd_ = -1;
  if (error == 0 && rename(temporary_.c_str(), path_.c_str()) != 0) error = errno;
  if (error != 0) {
    Discard();
    errno = error;
    return false;
  }
  temporary_.clear();
  // The rename is durable once the directory is synced; a directory that
  // cannot be opened for that leaves the file complete all the same.
  const int dir = open(DirectoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

bool ReadFileFrom(const std::string& path, uint64_t offset, std::string* out, uint64_t* size) {
  out->clear();
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
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
      while (ok && done < out->size()) {
        const ssize_t r = pread(fd, &(*out)[done], out->size() - done, static_cast<off_t>(offset + done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) ok = false;
        if (r <= 0) break;
        done += static_cast<size_t>(r);
      }
      out->resize(done);
    }
  }
  const int error = errno;
  close(fd);
  errno = error;
  return ok;
}

}  // namespace lxtool

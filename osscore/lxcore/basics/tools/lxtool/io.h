// Files of lxtool's commands: the one place where the tool opens, reads and
// replaces files, through the library's system-call seam (os/syscall.h) and
// its atomic file writer (os/atomic_file.h). "-" names standard input or output.
//
// An output file is written under a temporary name in its directory (made by
// mkstemp, so nothing planted there is followed) and renamed over its path only
// once it is complete and synced: a run that fails or is killed leaves the path
// as it was. It gets the mode a new file would get (0666 less the umask). Every
// failure leaves errno set for the caller's message.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "os/atomic_file.h"
#include "progress.h"

namespace lxtool {

// A file or standard input, read from its start. Not copyable.
class Input {
 public:
  Input() = default;
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  ~Input();

  // Opens `path` for reading. False when it cannot be opened.
  bool Open(const std::string& path);

  // The size of the input when it is a regular file; 0 for anything else (a
  // pipe, a terminal) and before Open.
  uint64_t Size() const;

  // Counts the bytes of every later read in *progress (null: no longer), which
  // must outlive those reads.
  void Track(Progress* progress) { progress_ = progress; }

  // Reads up to `n` bytes; fewer only at the end of the input. Returns the
  // count, or -1 on a read error.
  ssize_t Read(void* to, size_t n);

  // Appends up to `n` bytes to *out, fewer only at the end of the input; *out
  // grows with what arrives, not with `n`. Returns the count, or -1 on a read
  // error (*out then holds what was read before it).
  ssize_t ReadAppend(std::string* out, size_t n);

  // Appends the rest of the input to *out. False on a read error, or (errno
  // EFBIG) when more than `limit` bytes remain; *out then holds what was read.
  bool ReadAll(std::string* out, size_t limit);

 private:
  int fd_ = -1;
  bool own_ = false;
  Progress* progress_ = nullptr;
};

// Standard output, or a file that takes the place of its path at Commit. Not
// copyable; an output file that was not committed is removed at destruction.
class Output {
 public:
  Output() = default;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Starts the output to `path`: creates its temporary file. False when that
  // cannot be created.
  bool Open(const std::string& path);

  // Appends bytes. False on a write error (the output is then unusable).
  bool Write(const void* data, size_t n);
  bool Write(const std::string& text) { return Write(text.data(), text.size()); }

  // Completes the output: flushes standard output, or syncs the temporary file,
  // renames it over the path and syncs the directory. False on failure; the
  // path is then as it was before Open (unless only the directory's sync
  // failed, after the rename).
  bool Commit();

 private:
  bool toStdout_ = false;
  lxos::AtomicFile file_;
};

// Reads the regular file `path` from `offset` to its end into *out (empty when
// the file is not longer than `offset`) and stores its size in *size. False
// when it cannot be opened or read, or (errno EISDIR, EINVAL) is no regular file.
bool ReadFileFrom(const std::string& path, uint64_t offset, std::string* out, uint64_t* size);

}  // namespace lxtool

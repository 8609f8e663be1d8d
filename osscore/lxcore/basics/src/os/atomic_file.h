// Files replaced as a whole: a reader, and the disk after a crash or a power
// loss, sees the old content or the new one, never a part of it or a mix.
//
// The new content goes into a temporary file beside the target, made by mkostemp
// from the target's name ("NAME.XXXXXX"), close-on-exec, and given the mode the
// caller asks for (explicitly: the umask does not apply). Commit flushes it to the
// disk, renames it over the target (a symbolic link in the target's place is
// replaced, never followed) and flushes the directory, so that the rename itself
// survives a power loss. Until Commit, and after a failure, the target is as it
// was and no temporary file stays behind; the one exception is a failure to
// flush the directory, which Commit describes.
//
// One AtomicFile is used by one thread at a time. Only lxtool writes files this
// way: the module is built into lxbasics_internal, not into the shared object.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace lxos {

class AtomicFile {
 public:
  AtomicFile() = default;
  // Discards content that was not committed.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Starts the new content of `path`, which gets `mode` once committed. Content
  // started earlier and not committed is discarded first. Returns 0, or the
  // system's error number when the temporary file cannot be made (no such
  // directory, no permission, no space).
  int32_t Open(const std::string& path, mode_t mode);

  // Appends `size` bytes. Returns 0 or the error number; after a failure the
  // content is discarded. EBADF when nothing is open. After any failure of Open,
  // Write or Commit, Write and Commit return that error until the next Open.
  int32_t Write(const void* data, size_t size);

  // Puts the content in the target's place. Returns 0, or the error number of the
  // step that failed; the target is then untouched and the temporary file gone.
  // Only when flushing the directory fails, after the rename, is the result that
  // error while the target already holds the new content, which a power loss may
  // still undo. A file system that cannot flush directories (EINVAL) counts as
  // flushed. EBADF when nothing is open.
  int32_t Commit();

  // Removes the temporary file; the target stays as it was.
  void Discard();

 private:
  std::string target_;
  std::string temporary_;  // empty while none exists
  int fd_ = -1;
  int32_t error_ = 0;  // the failure that discarded the content
};

// Replaces the content of `path` with `data` (mode `mode`) through an AtomicFile.
// Returns 0 or the error number of the step that failed, as Commit describes.
int32_t WriteFileAtomically(const std::string& path, const std::string& data, mode_t mode);

}  // namespace lxos

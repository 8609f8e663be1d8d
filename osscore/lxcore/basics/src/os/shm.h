// Named shared memory blocks: the host's stand-in for a named file mapping.
//
// A block is a POSIX shared-memory object (shm_open, in /dev/shm) of a fixed
// size. It must behave like a mapping that lives while any process maps it,
// although a POSIX object outlives its users. Presence is therefore kept with an
// open-file-description lock on byte 0 of the object: every process that
// attaches read-write holds a shared lock on it for as long as it stays
// attached, and the kernel drops it when the last descriptor goes, crashes
// included. An exclusive lock that can be had means that nobody uses the block,
// so whatever it holds is left over from processes that ended and it counts as
// new. Attachments are serialised by a byte lock on a lock file that only the
// user can open (lxos::FileLockByte), never by a lock on the block itself, which
// the monitoring group may be able to open; nobody waits for it longer than
// the time given.
//
// Modes: a block is created 0600, then given its mode and group with fchmod and
// fchown (never through the umask). A block found under the name is used only
// when fstat on the descriptor trusts it (lxos::TrustOpen: owner, kind, mode,
// size). Names are opened with O_NOFOLLOW | O_CLOEXEC.
//
// Reading: ShmRead copies with pread on the descriptor, so a block cut short
// under the reader gives an error, never a fault. A view mapped by ShmAttach
// does fault (SIGBUS) when the block is cut short under it; with the modes above
// only the user's own processes or root can do that, and it is not defended.
//
// Children made by fork share the parent's locks and mapping until they close
// the descriptor; exec drops both. Attaching and detaching are not thread-safe
// for one ShmBlock; the mapped bytes are the caller's to coordinate.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "os/paths.h"

namespace lxos {

// One attached block. `fd` -1 and `view` null while not attached; a block
// opened read-only has a descriptor and no view.
struct ShmBlock {
  int fd = -1;
  void* view = nullptr;
  size_t size = 0;
};

// How ShmAttach creates and serialises.
struct ShmAccess {
  int setupLock = -1;                    // an open lock file; its byte 1 serialises attachments
  int setupTimeoutMs = 2000;             // longest wait for that byte
  mode_t mode = 0600;                    // given to a block created or started afresh here
  gid_t group = static_cast<gid_t>(-1);  // and this group, unless -1
};

// Called with the zero-filled view of a block that counts as new, before any
// other process can attach it.
using ShmInitFunc = void (*)(void* view, size_t size, void* context);

// Attaches the block `name` (a POSIX shared-memory name, "/Orvanta") read-write,
// creating it when missing, and maps its first `size` bytes. A block that nobody
// uses is cut to `size` zero bytes, given the mode and group of `access` and
// handed to `init` (may be null); *created is then true. A block that another
// process uses is left as it is (*created false).
// Returns 0, or: EINVAL for an empty name or a zero size, and (with *why, may be
// null) for a block in use whose size is not `size`; EPERM with *why for a
// block that is not trusted; ETIMEDOUT with *why when the setup lock stayed held;
// otherwise the system's error number (EACCES: another user's block). After a
// failure `block` is unchanged and nothing stays open or mapped.
int32_t ShmAttach(const char* name, size_t size, const ShmAccess& access, ShmInitFunc init, void* context,
                  ShmBlock* block, bool* created, std::string* why = nullptr);

// Opens the block `name` read-only, for a process of another user: never
// creates it, takes no lock and maps nothing (read it with ShmRead). The block
// must pass TrustOpen with `rule`, its size included. Returns 0; ENOENT when
// there is no such block; EPERM with *why when it is not trusted; otherwise the
// system's error number. After a failure `block` is unchanged.
int32_t ShmOpenReadOnly(const char* name, const TrustRule& rule, ShmBlock* block, std::string* why);

// Copies `length` bytes at `offset` of an attached or opened block into `out`
// with pread. Returns 0; EIO when the block's size is no longer the one it was
// attached with (cut short or grown) or the bytes lie beyond it; or the system's
// error number; `out` is then unspecified. Never faults.
int32_t ShmRead(const ShmBlock& block, size_t offset, void* out, size_t length);

// Unmaps the view and closes the descriptor (giving up this process's presence
// when no forked child still shares it). The object itself stays: the next
// attachment finds nobody using it and starts it afresh. `block` is reset.
void ShmDetach(ShmBlock* block);

}  // namespace lxos

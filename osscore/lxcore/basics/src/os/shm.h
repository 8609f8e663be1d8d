// Named shared memory blocks: the host's stand-in for a named file mapping.
//
// A block is a POSIX shared-memory object (shm_open, in /dev/shm) of a fixed
// size, mapped read/write. It must behave like a mapping that lives while any
// process maps it, although a POSIX object outlives its users. Presence is
// therefore kept with open-file-description locks (F_OFD_SETLK) on the object
// itself, which the kernel drops when the last descriptor of a process goes,
// crashes included:
//   byte 0  every process that maps the block holds a shared lock on it for as
//           long as the mapping lives; an exclusive lock that can be had means
//           that nobody maps the block, so whatever it holds is left over from
//           processes that ended and the block counts as new;
//   byte 1  an exclusive lock serialises attachments, so that one process at a
//           time decides between "new" and "found" and initialises a new block
//           before anybody else maps it.
// Children made by fork share the parent's locks and mapping; exec drops both
// (descriptors are close-on-exec). Attaching and detaching are not thread-safe
// for one ShmBlock; the mapped bytes are the caller's to coordinate.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lxos {

// One attached block. `fd` -1 and `view` null while not attached.
struct ShmBlock {
  int fd = -1;
  void* view = nullptr;
  size_t size = 0;
};

// Called with the zero-filled view of a block that counts as new, before any
// other process can map it.
using ShmInitFunc = void (*)(void* view, size_t size, void* context);

// Attaches the block `name` (a POSIX shared-memory name, "/Orvanta"), creating it
// when missing, and maps its first `size` bytes. A block that nobody maps is
// cut to `size` zero bytes and handed to `init` (may be null); *created is then
// true. A block that another process maps is left as it is (*created false).
// Returns 0, or the system's error number: EINVAL for an empty name, a zero size
// or a block that another process maps with fewer than `size` bytes. After a
// failure `block` is unchanged and nothing stays open or mapped.
int32_t ShmAttach(const char* name, size_t size, ShmInitFunc init, void* context, ShmBlock* block,
                  bool* created);

// Unmaps the view and closes the descriptor (giving up this process's presence
// when no forked child still shares it). The object itself stays: the next
// attachment finds nobody mapping it and starts it afresh. `block` is reset.
void ShmDetach(ShmBlock* block);

// Removes the name of block `name` (processes that map it keep their mapping).
// Returns 0 or the system's error number (ENOENT when there is none).
int32_t ShmRemove(const char* name);

}  // namespace lxos

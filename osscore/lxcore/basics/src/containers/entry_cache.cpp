// The entry cache: fixed-size entries carved from heap blocks, recycled through
// a free list, and taken back all at once.
//
// The cache calls the C heap directly and reports exhaustion by a null entry;
// the tree turns that into LX_CONTAINER_OUT_OF_MEMORY.
#include <cstdint>
#include <cstdlib>

#include "lxcontainers.h"

namespace {

// The first word of a block (and of a free entry) links to the next one.
inline char*& Link(char* block) { return *reinterpret_cast<char**>(block); }

// Bytes of entries per block when the caller leaves the choice to the cache.
constexpr uint32_t kAutomaticBlockBytes = 494;

}  // namespace

LxEntryCache::LxEntryCache(uint32_t entrySize, uint32_t entriesPerBlock, unsigned short alignment) {
  Init(entrySize, entriesPerBlock, alignment);
}

LxEntryCache::LxEntryCache(const LxEntryCache& other) {
  Init(other.entrySize, other.entriesPerBlock, other.alignment);
}

LxEntryCache::~LxEntryCache() { Clear(); }

void LxEntryCache::Init(uint32_t size, uint32_t perBlock, unsigned short align) {
  Clear();
  if (size < sizeof(void*)) size = sizeof(void*);
  if (align > 1 && size % align != 0) size += align - size % align;
  entrySize = size;
  alignment = align;
  if (perBlock == 0) {
    perBlock = kAutomaticBlockBytes / entrySize;
    if (perBlock == 0) perBlock = 1;
  }
  entriesPerBlock = perBlock;
}

void* LxEntryCache::GetEntryFromNewBlock() {
  if (entrySize == 0 || entriesPerBlock == 0) return nullptr;
  size_t area = size_t{entriesPerBlock} * entrySize;
  if (area > UINT32_MAX) return nullptr;  // `remaining` could not address it
  char* block = spareBlocks;
  if (block != nullptr) {
    spareBlocks = Link(block);
  } else {
    block = static_cast<char*>(std::malloc(sizeof(void*) + area));
    if (block == nullptr) return nullptr;
  }
  Link(block) = blocks;
  blocks = block;
  if (oldestBlock == nullptr) oldestBlock = block;
  remaining = static_cast<uint32_t>(area) - entrySize;
  return block + sizeof(void*) + remaining;
}

void LxEntryCache::UngetAllEntries() {
  if (blocks != nullptr) {
    Link(oldestBlock) = spareBlocks;
    spareBlocks = blocks;
  }
  blocks = nullptr;
  oldestBlock = nullptr;
  freeEntries = nullptr;
  remaining = 0;
}

void LxEntryCache::Clear() {
  UngetAllEntries();
  while (spareBlocks != nullptr) {
    char* b = spareBlocks;
    spareBlocks = Link(b);
    std::free(b);
  }
}

uint32_t LxEntryCache::CountBlocks() const {
  uint32_t n = 0;
  for (char* b = blocks; b != nullptr; b = Link(b)) ++n;
  for (char* b = spareBlocks; b != nullptr; b = Link(b)) ++n;
  return n;
}

// MemQueue: a byte queue on a MemFile, compacting or with a read offset.
#include "lxmemfile.h"

MemQueue::MemQueue(unsigned short compactFlag) : MemFile(0, 8), readOffset(0), compact(compactFlag) {}

MemQueue::MemQueue(const MemQueue& source)
    : MemFile(source), readOffset(source.readOffset), compact(source.compact) {}

MemQueue& MemQueue::operator=(const MemQueue& source) {
  readOffset = source.readOffset;
  compact = source.compact;
  MemFile::operator=(source);
  return *this;
}

int MemQueue::Put(const void* bytes, uint32_t length) {
  const int32_t end = size;
  if (GrowTo(static_cast<int64_t>(end) + length) != 0) return LX_MEMQUEUE_NO_MEMORY;
  if (MemFile::Put(bytes, end, static_cast<int32_t>(length)) != static_cast<int32_t>(length)) {
    return LX_MEMQUEUE_SHORT_WRITE;
  }
  return 0;
}

int MemQueue::Get(void* bytes, uint32_t length) {
  const uint32_t available = static_cast<uint32_t>(size) - readOffset;
  if (available == 0) return LX_MEMQUEUE_EMPTY;
  if (available < length) return LX_MEMQUEUE_TOO_FEW;
  const int32_t count = static_cast<int32_t>(length);
  if (MemFile::Get(bytes, static_cast<int32_t>(readOffset), count) != count) return LX_MEMQUEUE_SHORT_READ;
  if (compact == 0) {
    readOffset += length;
    return 0;
  }
  const int32_t rest = static_cast<int32_t>(available - length);
  if (Copy(0, count, rest) != rest) return LX_MEMQUEUE_SHORT_READ;
  if (SizeSet(rest) != 0) return LX_MEMQUEUE_NOT_REDUCED;
  return 0;
}

int MemQueue::Delete(uint32_t offset) {
  if (offset > readOffset) return 0;
  MemFile::Delete(offset, readOffset - offset);
  readOffset = offset;
  return 0;
}

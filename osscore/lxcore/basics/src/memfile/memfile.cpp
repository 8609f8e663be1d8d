// MemFile: one contiguous heap block, sized in whole segments.
//
// Geometry: a file of n bytes needs ceil(n / segment) segments. While that is
// more than seven and the segment is below 32768 bytes, the segment doubles (and
// the count halves, rounded up), so a file that grows in small steps is
// reallocated four times per doubling until its segments reach 32768 bytes and
// then once per 32768 bytes. Shrinking to a single segment returns the segment
// to the initial size. The block always holds exactly count * segment bytes.
#include <cstdlib>
#include <cstring>
#include <utility>

#include "frame/resize.h"
#include "lxframe.h"
#include "lxmemfile.h"

namespace {

constexpr unsigned char kMaxSegmentShift = 15;  // 32768-byte segments
constexpr uint32_t kWidenAbove = 7;             // segments before the segment size doubles
constexpr uint32_t kMaxSegments = 32767;        // the count is a 16-bit field
constexpr int64_t kMaxFileSize = int64_t{kMaxSegments} << kMaxSegmentShift;

// log2 of the segment size: the number of halvings that take segmentSize / 2 to 0.
unsigned char ShiftFor(int32_t segmentSize) {
  unsigned char shift = 0;
  for (int32_t g = segmentSize / 2; g != 0; g >>= 1) ++shift;
  return shift;
}

inline uint32_t SegmentsFor(uint32_t bytes, unsigned char shift) {
  return static_cast<uint32_t>((static_cast<uint64_t>(bytes) + (uint64_t{1} << shift) - 1) >> shift);
}

// What the out-of-memory handler is told for a request that has no 32-bit size.
inline uint32_t Clamp32(uint64_t bytes) {
  return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
}

}  // namespace

MemFile::MemFile(int32_t initialSize, int32_t segmentSize)
    : buffer(nullptr),
      size(0),
      position(0),
      segmentCount(0),
      segmentShift(ShiftFor(segmentSize)),
      initialSegmentShift(segmentShift) {
  if (initialSize != 0) SizeSet(initialSize);
}

MemFile::MemFile(const MemFile& source)
    : buffer(nullptr),
      size(0),
      position(0),
      segmentCount(0),
      segmentShift(source.segmentShift),
      initialSegmentShift(source.segmentShift) {
  CopyFrom(source);
}

MemFile& MemFile::operator=(const MemFile& source) {
  position = 0;
  CopyFrom(source);
  return *this;
}

MemFile::~MemFile() {
  std::free(buffer);
  // Through a volatile view: a plain store into a dying object may be dropped.
  *static_cast<char* volatile*>(&buffer) = reinterpret_cast<char*>(static_cast<uintptr_t>(0xDEADDEADu));
}

void MemFile::CopyFrom(const MemFile& source) {
  // A failed reduction still takes the size and the copy goes ahead in the larger
  // block; a failed growth leaves this file as it was.
  if (SizeSet(source.size) != 0 && size != source.size) return;
  const int32_t sourcePosition = source.position;
  uint32_t length = static_cast<uint32_t>(source.size);
  const char* bytes = const_cast<MemFile&>(source).Seek(0, 0, &length);
  if (bytes != nullptr) Put(bytes, 0, static_cast<int32_t>(length));
  if (sourcePosition <= source.size) source.position = sourcePosition;
}

int32_t MemFile::SizeSet(int32_t newSize, unsigned short) {
  if (newSize == 0) {
    std::free(buffer);
    buffer = nullptr;
    size = 0;
    segmentCount = 0;
    segmentShift = initialSegmentShift;
    return 0;
  }

  const uint32_t wanted = static_cast<uint32_t>(newSize);
  unsigned char shift = segmentShift;
  uint32_t needed = SegmentsFor(wanted, shift);
  if (newSize < size && needed <= 1 && shift > initialSegmentShift) {
    shift = initialSegmentShift;
    needed = SegmentsFor(wanted, shift);
  }
  while (needed > kWidenAbove && shift < kMaxSegmentShift) {
    needed = (needed + 1) / 2;
    ++shift;
  }

  const uint64_t oldCapacity = GetCapacity();
  const uint64_t newCapacity = static_cast<uint64_t>(needed) << shift;
  if (buffer == nullptr || newCapacity != oldCapacity) {
    void* block = nullptr;
    if (needed > kMaxSegments) {
      // Beyond the largest file: nothing to allocate, report as out of memory.
      LxCallMemoryHandler(Clamp32(newCapacity));
    } else if (buffer == nullptr) {
      block = mmAllocate(static_cast<uint32_t>(newCapacity));
    } else {
      block = mmReallocate(buffer, static_cast<uint32_t>(newCapacity));
    }
    if (block == nullptr) {
      // The old block and geometry stay. A reduction still takes the new size:
      // the bytes that remain are valid in the larger block.
      if (buffer != nullptr && newCapacity < oldCapacity) size = newSize;
      return LX_MEMFILE_NO_MEMORY;
    }
    buffer = static_cast<char*>(block);
  }
  size = newSize;
  segmentCount = static_cast<short>(needed);
  segmentShift = shift;
  return 0;
}

int32_t MemFile::GrowTo(int64_t newSize) {
  if (newSize > kMaxFileSize) {
    LxCallMemoryHandler(Clamp32(static_cast<uint64_t>(newSize)));
    return LX_MEMFILE_NO_MEMORY;
  }
  return SizeSet(static_cast<int32_t>(newSize));
}

int32_t MemFile::SizeSetDontShrink(int32_t newSize, unsigned short flag) {
  if (static_cast<int64_t>(newSize) > static_cast<int64_t>(GetCapacity())) return SizeSet(newSize, flag);
  size = newSize;
  return 0;
}

int32_t MemFile::SetLogicalSize(int32_t newSize) {
  if (static_cast<int64_t>(newSize) > static_cast<int64_t>(GetCapacity())) return LX_MEMFILE_BEYOND_CAPACITY;
  size = newSize;
  return 0;
}

void MemFile::SetSizeZeroAndShrink(uint32_t maxCapacity) {
  if (GetCapacity() > maxCapacity) {
    std::free(buffer);
    buffer = nullptr;
    segmentCount = 0;
    segmentShift = initialSegmentShift;
  }
  size = 0;
  position = 0;
}

char* MemFile::Seek(int32_t offset, unsigned short mode, uint32_t* length, unsigned short) {
  int64_t target = offset;
  if (mode == 1) {
    target += position;
  } else if (mode == 2) {
    target = static_cast<int64_t>(size) - offset;
  }
  const int64_t wanted = length != nullptr ? *length : 0;
  if (target < 0 || wanted + target > size) {
    if (target < 0 || target >= size) {
      if (length != nullptr) *length = 0;
      return nullptr;
    }
    *length = static_cast<uint32_t>(size - target);
  }
  position = static_cast<int32_t>(target);
  return buffer + target;
}

int32_t MemFile::PutSlow(const void* source, int32_t offset, int32_t length) {
  const int64_t end = static_cast<int64_t>(offset) + length;
  if (end > size) {
    if (FitsLastSegment(end)) {
      size = static_cast<int32_t>(end);
    } else if (GrowTo(end) != 0) {
      return 0;
    }
  }
  if (buffer == nullptr) return 0;
  if (length > 0) {
    if (length <= 16) {
      // Short records (the common case of lists and queues) without a library call;
      // all bytes are loaded before any is stored, so overlap is safe.
      unsigned char bytes[16];
      std::memcpy(bytes, source, static_cast<size_t>(length));
      std::memcpy(buffer + offset, bytes, static_cast<size_t>(length));
    } else {
      std::memmove(buffer + offset, source, static_cast<size_t>(length));
    }
  }
  return length;
}

int32_t MemFile::Get(void* target, int32_t offset, int32_t length) const {
  if (static_cast<int64_t>(offset) + length > size) {
    if (offset > size) return 0;
    length = size - offset;
  }
  if (buffer == nullptr) return 0;
  if (length > 0) std::memcpy(target, buffer + offset, static_cast<size_t>(length));
  return length;
}

uint32_t MemFile::Put(const MemFile* source, uint32_t length, uint32_t sourceOffset) {
  if (sourceOffset > static_cast<uint32_t>(source->size)) return 0;
  if (length == 0) length = static_cast<uint32_t>(source->size) - sourceOffset;
  const int32_t sourcePosition = source->position;
  const char* bytes = const_cast<MemFile*>(source)->Seek(static_cast<int32_t>(sourceOffset), 0, &length);
  if (bytes == nullptr) return 0;
  // From this file into itself the bytes move by offset: a growth may move the block.
  const int32_t written =
      source == this ? Copy(position, static_cast<int32_t>(sourceOffset), static_cast<int32_t>(length))
                     : Put(bytes, position, static_cast<int32_t>(length));
  if (sourcePosition <= source->size) source->position = sourcePosition;
  return static_cast<uint32_t>(written);
}

uint32_t MemFile::Get(MemFile* target, uint32_t length, uint32_t targetOffset) const {
  if (position < 0 || static_cast<int64_t>(position) + length > size) return 0;
  const int64_t end = static_cast<int64_t>(targetOffset) + length;
  if (end > target->size && target->GrowTo(end) != 0) return 0;
  if (target->buffer == nullptr) return 0;
  if (length > 0) std::memmove(target->buffer + targetOffset, buffer + position, length);
  return length;
}

int32_t MemFile::Copy(int32_t targetOffset, int32_t sourceOffset, int32_t length) {
  const int64_t end = static_cast<int64_t>(targetOffset) + length;
  if (end > size && GrowTo(end) != 0) return 0;
  if (length == 0 || targetOffset == sourceOffset) return length;
  std::memmove(buffer + targetOffset, buffer + sourceOffset, static_cast<size_t>(length));
  return length;
}

int32_t MemFile::Delete(uint32_t offset, uint32_t length) {
  if (static_cast<uint64_t>(offset) + length > static_cast<uint64_t>(size)) return 0;
  const int32_t from = static_cast<int32_t>(offset);
  const int32_t count = static_cast<int32_t>(length);
  Copy(from, from + count, size - from - count);
  SizeSet(size - count);
  return 0;
}

void MemFile::Exchange(MemFile* other) {
  std::swap(buffer, other->buffer);
  std::swap(size, other->size);
  std::swap(position, other->position);
  std::swap(segmentCount, other->segmentCount);
  std::swap(segmentShift, other->segmentShift);
  std::swap(initialSegmentShift, other->initialSegmentShift);
}

char* MemFile::GetPtr(int32_t offset, const uint32_t* length) const {
  if (length != nullptr && static_cast<int64_t>(*length) + offset > size) return nullptr;
  return buffer + offset;
}

void MemFile::InitializeWith(unsigned char value, int32_t from) {
  if (buffer == nullptr || size <= 0 || from < 0 || from >= size) return;
  std::memset(buffer + from, value, static_cast<size_t>(size - from));
}

int32_t MemFile::Write(uint32_t value, int& result) {
  result = 0;
  const int32_t grown = size + 4;
  if (static_cast<uint32_t>(grown) <= GetCapacity()) {
    size = grown;
  } else if ((result = SizeSet(grown)) != 0) {
    return 4;
  }
  LongStore(buffer + position, &value, 1, 1);
  position += 4;
  return 4;
}

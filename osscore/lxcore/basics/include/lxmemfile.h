// Memory files and encodings: the growable in-memory byte file MemFile, the byte
// queue MemQueue built on it, the run-length block format (DScomp, DSdecomp,
// DSlen), CRC-32 checksums (CalcCheckSum, MemFile::CheckSum) and the stored form
// of basic values (CharStore ... DoubleStore, ldchar/stchar, ldfloat/stfloat,
// lddbl/stdbl).
//
// A MemFile keeps all of its bytes in one contiguous heap block whose capacity is
// a whole number of segments; the segment size starts at a power of two chosen by
// the creator and doubles while the file grows, up to 32768 bytes. Pointers into
// the block (from Seek, GetPtr, GetSegment) stay valid only until the next call
// that may reallocate it. The file owns its block.
//
// Encoded and stored forms leave the process, so their bytes are fixed:
//   - run-length records: run (N, V) with N = 1..255 stands for N copies of V;
//     literal (0, L, L bytes) stands for those L bytes. No header, length or
//     checksum; the caller keeps the encoded length.
//   - checksums: CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, preset
//     and final complement); a seed is the checksum of data that precede.
//   - stored basic values: fixed width per type; mode 2 reverses the bytes of each
//     element (big-endian here), every other mode copies them. Integer converters
//     test the low four bits of the mode, floating-point converters the low seven.
//
// Threading: MemFile and MemQueue are used by one thread at a time (even their
// const operations move the position). The free functions keep no state and may
// run on any number of threads.
//
// CalcCheckSum, DScomp and DSdecomp pick the fastest code path this processor
// runs when the library is loaded (carry-less multiplication, AVX-512); the
// environment variable ORVANTA_SIMD=sse4 or =baseline holds them to the paths
// of older processors. Every path gives the same results.
#pragma once

#include <cstring>

#include "lxdefs.h"
#include "lxresult.h"

// ---------------------------------------------------------------------------
// MemFile
// ---------------------------------------------------------------------------

// Sizes, offsets and positions are byte counts. A file holds at most 32767
// segments of 32768 bytes (1073709056 bytes): a growth beyond that, whether
// asked for directly or as the end of a range (offset + length, computed without
// wrapping), fails as when memory runs out: the out-of-memory handler is called
// once and the operation reports its failure with the file unchanged. Outside
// the contract, and not checked: negative sizes and offsets.
class LX_API MemFile {
 public:
  // An empty file whose segments start at `segmentSize` bytes rounded down to a
  // power of two (0 and 1 give 1-byte segments). A non-zero `initialSize` is set
  // with SizeSet; if that fails the file stays empty.
  // REQUIRES: segmentSize >= 0.
  explicit MemFile(int32_t initialSize = 0, int32_t segmentSize = 8);

  // Takes the source's current segment size as its own segment and initial
  // segment size and copies the source's bytes; the new file's position is 0.
  // The source's position is used and then restored (to 0 if it lay beyond the
  // source's size). When memory runs out the new file stays empty.
  MemFile(const MemFile& source);

  // Keeps this file's segment sizes, sets its position to 0, resizes it to the
  // source's size and copies the source's bytes; the source's position is
  // restored as by the copy constructor. When memory runs out this file keeps its
  // old size and bytes.
  MemFile& operator=(const MemFile& source);

  // Frees the block.
  virtual ~MemFile();

  // Sets the logical size to `newSize` and the capacity to the segment geometry
  // for it: 0 frees the block; otherwise the block is reallocated to exactly the
  // new capacity unless that equals the current one. `flag` has no effect.
  // Returns 0, or LX_MEMFILE_NO_MEMORY after the out-of-memory handler
  // was called once with the wanted capacity. After a failed growth size,
  // geometry and bytes are as before; after a failed reduction the larger block
  // stays, with its geometry, and the size is the new one. The position is never
  // changed.
  int32_t SizeSet(int32_t newSize, unsigned short flag = 0);

  // Like SizeSet when `newSize` exceeds the capacity; otherwise only sets the
  // size and returns 0 (the block never shrinks).
  int32_t SizeSetDontShrink(int32_t newSize, unsigned short flag = 0);

  // Sets the size without touching the block. Returns 0, or
  // LX_MEMFILE_BEYOND_CAPACITY, changing nothing, when `newSize` exceeds
  // the capacity.
  int32_t SetLogicalSize(int32_t newSize);

  // Sets size and position to 0. The block is freed (and the segment size goes
  // back to the initial one) only when the capacity exceeds `maxCapacity`, so a
  // file that is emptied and refilled can keep its block.
  void SetSizeZeroAndShrink(uint32_t maxCapacity);

  // Moves the position to `offset` from the start (mode 0 and any mode other than
  // 1 and 2), from the current position (mode 1) or backwards from the end (mode
  // 2). *length (0 when `length` is null) is the number of bytes wanted there:
  // when they run past the size it is cut to what remains. Returns the pointer to
  // the byte at the new position (the end pointer for the size itself with 0
  // wanted), or null when bytes are wanted at or beyond the size or the new
  // position lies before the start (computed without wrapping); then *length
  // becomes 0 and the position is unchanged. The last argument has no effect.
  char* Seek(int32_t offset, unsigned short mode, uint32_t* length = nullptr, unsigned short unused = 0);

  // Writes `length` bytes at `offset`, growing the file with SizeSet when they
  // reach past its size (a gap before `offset` holds undefined bytes). Returns
  // `length`, or 0 when the growth failed or the file has no block; the file is
  // then unchanged. The position is not moved.
  int32_t Put(const void* source, int32_t offset, int32_t length) {
    // Fast path: a short record inside the size or inside the last segment.
    const int64_t end = static_cast<int64_t>(offset) + length;
    if (length <= 0 || length > 16 || offset < 0 || (end > size && !FitsLastSegment(end))) {
      return PutSlow(source, offset, length);
    }
    unsigned char bytes[16];  // all loaded before any is stored: overlap is safe
    std::memcpy(bytes, source, static_cast<size_t>(length));
    std::memcpy(buffer + offset, bytes, static_cast<size_t>(length));
    if (end > size) size = static_cast<int32_t>(end);
    return length;
  }

  // Reads up to `length` bytes from `offset`, cut at the size. Returns the count
  // read: 0 when `offset` is at or beyond the size or the file has no block.
  // The position is not moved.
  int32_t Get(void* target, int32_t offset, int32_t length) const;

  // Writes `length` bytes of `source` (0: up to its end) from `sourceOffset` at
  // this file's current position, which does not advance; the length is cut to
  // what the source holds. Returns the count written, or 0 when the source has
  // nothing there (`sourceOffset` beyond its size included) or the growth failed
  // (this file unchanged). The source's position is restored unless it now lies
  // beyond the source's size.
  uint32_t Put(const MemFile* source, uint32_t length, uint32_t sourceOffset);
  // Same with plain int arguments, so that calls with literals are not ambiguous.
  uint32_t Put(const MemFile* source, int32_t length, int32_t sourceOffset) {
    return Put(source, static_cast<uint32_t>(length), static_cast<uint32_t>(sourceOffset));
  }

  // Copies `length` bytes from this file's current position into `target` at
  // `targetOffset`, growing the target when needed. Returns `length`, or 0 when
  // the target could not grow or has no block, or when position + length lies
  // beyond this file's size (target unchanged). Neither position moves.
  uint32_t Get(MemFile* target, uint32_t length, uint32_t targetOffset) const;
  uint32_t Get(MemFile* target, int32_t length, int32_t targetOffset) const {
    return Get(target, static_cast<uint32_t>(length), static_cast<uint32_t>(targetOffset));
  }

  // Moves `length` bytes from `sourceOffset` to `targetOffset` as memmove does,
  // growing the file first when the target range reaches past the size. Returns
  // `length`, or 0 (file unchanged) when that growth failed.
  // REQUIRES: sourceOffset + length <= size.
  int32_t Copy(int32_t targetOffset, int32_t sourceOffset, int32_t length);

  // Removes `length` bytes at `offset`, moving the rest down and shrinking the
  // file with SizeSet. Always returns 0 (a failed reduction keeps the larger
  // block); a range that reaches past the size removes nothing.
  int32_t Delete(uint32_t offset, uint32_t length);

  // Swaps block, size, position and segment geometry with `other`.
  void Exchange(MemFile* other);

  // Pointer to the first byte of segment `index`, unchecked.
  char* GetSegment(uint32_t index) const { return buffer + (static_cast<size_t>(index) << segmentShift); }

  // Pointer to the byte at `offset`; with a non-null `length`, null when
  // offset + *length exceeds the size. Neither cuts the length nor moves the
  // position.
  char* GetPtr(int32_t offset, const uint32_t* length = nullptr) const;

  // Sets every byte from `from` to the end of the file to `value`; does nothing
  // unless the file has a block and 0 <= from < size.
  void InitializeWith(unsigned char value, int32_t from);

  // Grows the size by 4 and stores `value` at the current position in native
  // byte order, advancing the position by 4. `result` receives 0, or the growth's
  // negative code, in which case nothing changed. Always returns 4.
  // REQUIRES: position <= size (the value lands at the end when position == size).
  int32_t Write(uint32_t value, int& result);

  // CRC-32 of the data that `seed` stands for (null: none) followed by the bytes
  // from `offset` up to offset + length, cut at the size; length 0xFFFFFFFF
  // means the file's size. Returns the seed's value (0 without one) for an empty
  // range. A non-empty range moves the position to `offset`; *seed is only read.
  uint32_t CheckSum(uint32_t offset, uint32_t length, const uint32_t* seed) const;

  char* GetBuffer() const { return buffer; }
  int32_t GetSize() const { return size; }
  int32_t GetPosition() const { return position; }
  short GetSegmentCount() const { return segmentCount; }
  unsigned char GetSegmentShift() const { return segmentShift; }
  unsigned char GetInitialSegmentShift() const { return initialSegmentShift; }
  // Segment count times segment size: the bytes the block holds.
  uint32_t GetCapacity() const { return static_cast<uint32_t>(segmentCount) << segmentShift; }

 protected:
  // The copying half of copy construction and assignment: resizes this file to
  // the source's size and copies its bytes, restoring the source's position.
  void CopyFrom(const MemFile& source);
  // True when SizeSet(newSize), newSize above the size, would keep the block and
  // its geometry: newSize falls into the last segment and no widening is due.
  bool FitsLastSegment(int64_t newSize) const {
    return newSize <= static_cast<int64_t>(GetCapacity()) && segmentCount > 0 &&
           newSize > static_cast<int64_t>(segmentCount - 1) << segmentShift &&
           (segmentCount <= 7 || segmentShift >= 15);
  }
  // SizeSet for a size computed in 64 bits: beyond the largest file it calls the
  // out-of-memory handler and returns LX_MEMFILE_NO_MEMORY, changing nothing.
  int32_t GrowTo(int64_t newSize);
  // Put for everything else: growth through SizeSet, longer or odd ranges.
  int32_t PutSlow(const void* source, int32_t offset, int32_t length);

  char* buffer;
  int32_t size;
  mutable int32_t position;  // const operations that read through Seek move it
  short segmentCount;
  unsigned char segmentShift;
  unsigned char initialSegmentShift;
};

// ---------------------------------------------------------------------------
// MemQueue
// ---------------------------------------------------------------------------

// A first-in, first-out byte queue on a MemFile (segment size 8). A compacting
// queue moves the unread bytes to the front after every Get, so the file holds
// only unread bytes; a non-compacting one advances the read offset and keeps the
// consumed bytes until Delete removes them. A failed Put or Get leaves the queue
// as it was, except after LX_MEMQUEUE_NOT_REDUCED.
class LX_API MemQueue : public MemFile {
 public:
  explicit MemQueue(unsigned short compact = 0);
  // Copies the file and takes the source's read offset and compact flag.
  MemQueue(const MemQueue& source);
  MemQueue& operator=(const MemQueue& source);

  // Appends `length` bytes. Returns 0, LX_MEMQUEUE_NO_MEMORY (also when
  // the file would pass its largest size) or LX_MEMQUEUE_SHORT_WRITE.
  int Put(const void* bytes, uint32_t length);

  // Takes exactly `length` bytes from the front. Returns 0, LX_MEMQUEUE_EMPTY,
  // LX_MEMQUEUE_TOO_FEW (nothing taken), LX_MEMQUEUE_SHORT_READ
  // or, for a compacting queue whose block could not be reduced,
  // LX_MEMQUEUE_NOT_REDUCED (the bytes were delivered).
  int Get(void* buffer, uint32_t length);

  // Removes the consumed bytes from `offset` up to the read offset and moves the
  // read offset to `offset`; Delete(0) drops all consumed bytes. Returns 0; an
  // offset beyond the read offset changes nothing.
  int Delete(uint32_t offset);

  uint32_t GetReadOffset() const { return readOffset; }
  unsigned short GetCompact() const { return compact; }

 protected:
  uint32_t readOffset;
  unsigned short compact;
};

// ---------------------------------------------------------------------------
// Run-length block compression
// ---------------------------------------------------------------------------

// Encodes `length` (>= 1) bytes in one greedy pass. *room is the size of
// `output`: the encoding succeeds only when it is strictly shorter. Returns 0 and
// sets *room to the encoded length, or -1 when the encoding would not be shorter
// than *room; then *room is unchanged and `output` may hold a partial encoding
// (never more than *room bytes are written).
LX_API int DScomp(const void* input, int length, void* output, int* room);

// Decodes `length` encoded bytes into `output`, which holds *room bytes. Sets
// *room to the bytes decoded and returns 0, or 2 when the next record does not fit
// (the records before it are decoded and counted) or when non-empty input gave
// nothing. A decode that fills the room stops there. Empty input gives 0 and 0.
// Input that ends inside a record: the cut record decodes to nothing; no byte
// beyond `length` is read. The count never passes *room, however much the
// records would decode to.
LX_API int DSdecomp(const void* input, int length, void* output, int* room);

// The decoded length of `length` encoded bytes (0 for length <= 0); a record cut
// by the end of the input counts nothing. Returns -1 when the decoded length does
// not fit in an int (more than INT_MAX bytes).
LX_API int DSlen(const void* input, int length);

// ---------------------------------------------------------------------------
// Checksums
// ---------------------------------------------------------------------------

// CRC-32 of the data that `seed` stands for (null: none) followed by `length`
// bytes at `bytes`. A null `bytes` or a length of 0 returns the seed's value, or
// 0 without a seed. *seed is only read.
LX_API uint32_t CalcCheckSum(const void* bytes, uint32_t length, const uint32_t* seed);

// ---------------------------------------------------------------------------
// Stored form of basic values
// ---------------------------------------------------------------------------

// Each converter copies `count` elements from `source` to `destination`, the
// bytes of every element reversed when the mode says so (see the top of this
// header), and returns count times the element's width. Store and load are the
// same transformation; the names say which side is the stored form.
LX_API uint32_t CharStore(void* destination, const void* source, unsigned char mode, uint32_t count);
LX_API uint32_t ShortStore(void* destination, const void* source, unsigned char mode, uint32_t count);
LX_API uint32_t LongStore(void* destination, const void* source, unsigned char mode, uint32_t count);
LX_API uint32_t IntStore(void* destination, const void* source, unsigned char mode, uint32_t count);
LX_API uint32_t UnsignedStore(void* destination, const void* source, unsigned char mode, uint32_t count);
LX_API uint32_t FloatStore(void* destination, const void* source, unsigned char mode, uint32_t count);
LX_API uint32_t DoubleStore(void* destination, const void* source, unsigned char mode, uint32_t count);
LX_API uint32_t IntLoad(void* destination, const void* source, unsigned char mode, uint32_t count);
LX_API uint32_t UnsignedLoad(void* destination, const void* source, unsigned char mode, uint32_t count);

// Stored size of `count` values: count times the width (1 char, 2 short, 4 int,
// long and float, 8 double). The value and the modes are not looked at, and a
// null value takes as many bytes as any other.
LX_API uint32_t CharSizeGet(const void* value, unsigned char mode, unsigned char mode2, uint32_t count);
LX_API uint32_t ShortSizeGet(const void* value, unsigned char mode, unsigned char mode2, uint32_t count);
LX_API uint32_t IntSizeGet(const void* value, unsigned char mode, unsigned char mode2, uint32_t count);
LX_API uint32_t LongSizeGet(const void* value, unsigned char mode, unsigned char mode2, uint32_t count);
LX_API uint32_t FloatSizeGet(const void* value, unsigned char mode, unsigned char mode2, uint32_t count);
LX_API uint32_t DoubleSizeGet(const void* value, unsigned char mode, unsigned char mode2, uint32_t count);
LX_API uint32_t CharNullSizeGet(uint32_t count);
LX_API uint32_t ShortNullSizeGet(uint32_t count);
LX_API uint32_t IntNullSizeGet(uint32_t count);
LX_API uint32_t LongNullSizeGet(uint32_t count);
LX_API uint32_t FloatNullSizeGet(uint32_t count);
LX_API uint32_t DoubleNullSizeGet(uint32_t count);

// Copies the blank-padded field of `length` bytes to `out` up to its first blank,
// which becomes a zero byte; a field without a blank is copied whole and gets no
// zero byte. Bytes after the first blank are ignored.
LX_API void ldchar(const char* field, int length, char* out);

// Writes exactly `length` bytes: the string, cut to `length`, padded with blanks;
// no zero byte.
LX_API void stchar(const char* string, char* field, int length);

// One IEEE 754 value in big-endian stored form (4 bytes for float, 8 for double).
LX_API float ldfloat(const void* stored);
LX_API void stfloat(float value, void* stored);
LX_API double lddbl(const void* stored);
LX_API void stdbl(double value, void* stored);

// _LxBitString: bits in bytes, least significant bit first, with a running count
// of the bits that are set. Scans read the storage 64 bits at a time: on this
// little-endian target, bit i of the string is bit i mod 64 of the 64-bit word
// loaded from byte 8 * (i / 64).
#include <cstdlib>
#include <cstring>

#include "lxarrays.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the word scans assume little-endian storage");

namespace {

size_t StorageBytes(uint32_t length) { return static_cast<size_t>(length / 8) + 1; }

// The 64 bits from byte 8 * word on; bytes beyond the storage read as 0.
uint64_t LoadWord(const unsigned char* bits, size_t bytes, size_t word) {
  size_t offset = word * 8;
  uint64_t w = 0;
  std::memcpy(&w, bits + offset, bytes - offset >= 8 ? 8 : bytes - offset);
  return w;
}

// The first bit in [from, to) whose value is `one`, or `to`.
uint32_t Scan(const unsigned char* bits, size_t bytes, uint32_t from, uint32_t to, bool one) {
  if (from >= to) return to;
  const uint64_t invert = one ? 0 : ~uint64_t{0};
  size_t word = from / 64;
  uint64_t w = (LoadWord(bits, bytes, word) ^ invert) & (~uint64_t{0} << (from % 64));
  const size_t lastWord = (static_cast<size_t>(to) - 1) / 64;
  for (;;) {
    if (w != 0) {
      uint64_t index = word * 64 + static_cast<uint64_t>(__builtin_ctzll(w));
      return index < to ? static_cast<uint32_t>(index) : to;
    }
    if (++word > lastWord) return to;
    w = LoadWord(bits, bytes, word) ^ invert;
  }
}

// Sets (one) or clears the bits in [from, to).
void Fill(unsigned char* bits, uint32_t from, uint32_t to, bool one) {
  if (from >= to) return;
  uint32_t firstByte = from / 8;
  uint32_t lastByte = (to - 1) / 8;
  auto maskFrom = static_cast<unsigned char>(0xFFu << (from % 8));
  auto maskTo = static_cast<unsigned char>(0xFFu >> (7 - (to - 1) % 8));
  if (firstByte == lastByte) {
    auto mask = static_cast<unsigned char>(maskFrom & maskTo);
    bits[firstByte] = one ? (bits[firstByte] | mask) : (bits[firstByte] & ~mask);
    return;
  }
  bits[firstByte] = one ? (bits[firstByte] | maskFrom) : (bits[firstByte] & ~maskFrom);
  std::memset(bits + firstByte + 1, one ? 0xFF : 0x00, lastByte - firstByte - 1);
  bits[lastByte] = one ? (bits[lastByte] | maskTo) : (bits[lastByte] & ~maskTo);
}

}  // namespace

_LxBitString::_LxBitString(uint32_t length)
    : bits(static_cast<unsigned char*>(std::calloc(StorageBytes(length), 1))), length(length), setCount(0) {
  if (bits == nullptr) this->length = 0;
}

_LxBitString::~_LxBitString() {
  std::free(bits);
  bits = nullptr;
  length = 0;
}

int32_t _LxBitString::Set(uint32_t index) {
  if (index >= length) return LX_BITSTRING_OUT_OF_RANGE;
  auto mask = static_cast<unsigned char>(1u << (index % 8));
  if ((bits[index / 8] & mask) == 0) {
    bits[index / 8] |= mask;
    ++setCount;
  }
  return 0;
}

int32_t _LxBitString::Reset(uint32_t index) {
  if (index >= length) return LX_BITSTRING_OUT_OF_RANGE;
  auto mask = static_cast<unsigned char>(1u << (index % 8));
  if ((bits[index / 8] & mask) != 0) {
    bits[index / 8] &= static_cast<unsigned char>(~mask);
    --setCount;
  }
  return 0;
}

int32_t _LxBitString::Get(uint32_t index, int& value) const {
  if (index >= length) return LX_BITSTRING_OUT_OF_RANGE;
  value = bits[index / 8] & (1 << (index % 8));
  return 0;
}

int32_t _LxBitString::Flip(uint32_t index, int& old) {
  if (index >= length) return LX_BITSTRING_OUT_OF_RANGE;
  auto mask = static_cast<unsigned char>(1u << (index % 8));
  bits[index / 8] ^= mask;
  if ((bits[index / 8] & mask) != 0) {
    old = 0;
    ++setCount;
  } else {
    old = 1;
    --setCount;
  }
  return 0;
}

int32_t _LxBitString::SetAll() {
  if (bits != nullptr) std::memset(bits, 0xFF, StorageBytes(length));
  setCount = length;
  return 0;
}

int32_t _LxBitString::ResetAll() {
  if (bits != nullptr) std::memset(bits, 0, StorageBytes(length));
  setCount = 0;
  return 0;
}

int32_t _LxBitString::TestAndSetArea(uint32_t start, uint32_t n, uint32_t& blocked) {
  if (start > length || n > length - start) return LX_BITSTRING_OUT_OF_RANGE;
  uint32_t end = start + n;
  uint32_t one = Scan(bits, StorageBytes(length), start, end, true);
  if (one != end) {
    blocked = one - start;
    return LX_BITSTRING_BLOCKED;
  }
  Fill(bits, start, end, true);
  setCount += n;
  return 0;
}

int32_t _LxBitString::TestAndResetArea(uint32_t start, uint32_t n, uint32_t& blocked) {
  if (start > length || n > length - start) return LX_BITSTRING_OUT_OF_RANGE;
  uint32_t end = start + n;
  uint32_t zero = Scan(bits, StorageBytes(length), start, end, false);
  if (zero != end) {
    blocked = zero - start;
    return LX_BITSTRING_BLOCKED;
  }
  Fill(bits, start, end, false);
  setCount -= n;
  return 0;
}

int32_t _LxBitString::Find(uint32_t start, int value, uint32_t& position) const {
  if (start >= length) {
    position = length;
    return LX_BITSTRING_OUT_OF_RANGE;
  }
  position = Scan(bits, StorageBytes(length), start, length, value != 0);
  return position < length ? 0 : LX_BITSTRING_OUT_OF_RANGE;
}

// Decoding of the performance-data objects that a collect entry point returns.
//
// The bytes come from another module (and, through it, from a block that other
// processes write), so every length and offset in them is checked against the
// bytes at hand, in 64-bit arithmetic, before anything is read through it.
//
// Layout, all fields 32-bit little-endian, offsets in bytes:
//   object header (at least 64 bytes)
//     +0 total length, +4 definition length, +8 header length, +12 name index,
//     +20 help index, +32 counter count, +40 instance count (-1: none)
//   counter definitions, 40 bytes each, from the header's end
//     +4 name index, +12 help index, +28 type, +36 offset of the value
//   counter block, at the definition length: +0 its length, then the values
//     (4 bytes, or 8 for a counter whose type has the large size)
// The next object starts at the total length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lxtool {

struct CounterSample {
  uint32_t nameIndex = 0;
  uint32_t helpIndex = 0;
  uint32_t type = 0;
  uint64_t value = 0;
};

struct ObjectSample {
  uint32_t nameIndex = 0;
  uint32_t helpIndex = 0;
  bool hasInstances = false;  // then `counters` stays empty: only instances carry values
  std::vector<CounterSample> counters;
};

// Counter types: the size field, and the bit of the types shown as differences.
constexpr uint32_t kCounterSizeMask = 0x00000300;
constexpr uint32_t kCounterSizeLarge = 0x00000100;
constexpr uint32_t kCounterDeltaBit = 0x00400000;

// Decodes `count` objects from the `size` bytes at `data`. Returns true with
// *objects holding them; false with *error naming the object or counter and
// what is wrong ("object 0: inconsistent lengths"), *objects then unspecified.
bool DecodePerfObjects(const unsigned char* data, size_t size, uint32_t count,
                       std::vector<ObjectSample>* objects, std::string* error);

}  // namespace lxtool

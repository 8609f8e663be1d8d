// Arbitrary encoded input and an arbitrary room for DSdecomp and DSlen, on every
// code path this processor runs. The first two bytes choose the room
// (0..65535); the rest is the encoded input, handed over in a block of exactly
// its length so that any read past it is caught. Results must agree with the
// reference record walk, and no byte after the decoded ones may change.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lxmemfile.h"
#include "memfile/rle_reference.h"
#include "memfile/simd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int room = data[0] | (data[1] << 8);
  const lxtest::Bytes encoded(data + 2, data + size);
  const int length = static_cast<int>(encoded.size());

  const lxtest::Bytes expected = lxtest::ReferenceDecode(encoded);
  if (DSlen(encoded.data(), length) != static_cast<int>(expected.size())) std::abort();

  const int before = lxmemfile::ActiveSimdLevel();
  for (int level = lxmemfile::kSimdBaseline; level <= lxmemfile::SupportedSimdLevel(); ++level) {
    lxmemfile::SetSimdLevel(level);
    std::vector<unsigned char> out(static_cast<size_t>(room), 0xEE);
    int decoded = room;
    const int result = DSdecomp(encoded.data(), length, out.data(), &decoded);
    if (decoded < 0 || decoded > room) std::abort();
    if (static_cast<size_t>(decoded) > expected.size()) std::abort();
    if (decoded > 0 && std::memcmp(out.data(), expected.data(), static_cast<size_t>(decoded)) != 0)
      std::abort();
    for (int i = decoded; i < room; ++i) {
      if (out[static_cast<size_t>(i)] != 0xEE) std::abort();
    }
    if (length == 0) {
      if (result != 0 || decoded != 0) std::abort();
    } else if (static_cast<int>(expected.size()) <= room) {
      if (decoded != static_cast<int>(expected.size())) std::abort();
      if (result != (decoded != 0 ? 0 : 2)) std::abort();
    } else if (result != (decoded == room && room > 0 ? 0 : 2)) {
      std::abort();
    }
  }
  lxmemfile::SetSimdLevel(before);
  return 0;
}

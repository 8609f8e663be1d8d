// DScomp of arbitrary input (bytes 2..) into a room (bytes 0-1; 0xFFFF: twice the input)
// on every code path, then DSdecomp: the reference encoder's output, never past the
// room, success exactly when shorter than the room, and the input back.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "lxmemfile.h"
#include "memfile/rle_reference.h"
#include "memfile/simd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const lxtest::Bytes input(data + 2, data + size);
  const int length = static_cast<int>(input.size());
  int room = data[0] | (data[1] << 8);
  if (room == 0xFFFF) room = 2 * length + 2;
  const lxtest::Bytes expected = lxtest::ReferenceEncode(input);
  lxtest::ForEachSimdLevel([&] {
    std::vector<unsigned char> out(static_cast<size_t>(room) + 16, 0xEE);
    int encoded = room;
    const int result = DScomp(input.data(), length, out.data(), &encoded);
    for (size_t i = static_cast<size_t>(room); i < out.size(); ++i) FUZZ_CHECK(out[i] == 0xEE);
    // The same with input and output ending 1 to 63 bytes before a page boundary.
    const size_t gap = 1 + static_cast<size_t>(room + length) % 63;
    const lxtest::AtPageEnd inEnd(input.data(), input.size(), gap),
        outEnd(nullptr, static_cast<size_t>(room), gap);
    int again = room;
    FUZZ_CHECK(DScomp(inEnd.get(), length, outEnd.get(), &again) == result && again == encoded &&
               std::equal(outEnd.get(), outEnd.get() + room, out.begin()));
    if (static_cast<int>(expected.size()) >= room) {
      FUZZ_CHECK(result == -1 && encoded == room);
      return;
    }
    FUZZ_CHECK(result == 0 && encoded == static_cast<int>(expected.size()));
    FUZZ_CHECK(std::equal(expected.begin(), expected.end(), out.begin()));
    FUZZ_CHECK(DSlen(out.data(), encoded) == length);
    lxtest::Bytes back(static_cast<size_t>(length));
    int decoded = length;
    FUZZ_CHECK(DSdecomp(out.data(), encoded, back.data(), &decoded) == 0 && decoded == length &&
               back == input);
  });
  return 0;
}

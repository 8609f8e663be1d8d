// DSdecomp and DSlen on arbitrary input (bytes 2..) and room (bytes 0-1), on every code
// path this processor runs, against the reference record walk; no byte after the
// decoded ones may change. The input's block has its exact length, so over-reads show;
// a second decode places input and output just before the end of a page.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "lxmemfile.h"
#include "memfile/rle_reference.h"
#include "memfile/simd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int room = data[0] | (data[1] << 8);
  const lxtest::Bytes encoded(data + 2, data + size);
  const int length = static_cast<int>(encoded.size());
  const lxtest::Bytes expected = lxtest::ReferenceDecode(encoded);
  const int all = static_cast<int>(expected.size());
  FUZZ_CHECK(DSlen(encoded.data(), length) == all);
  lxtest::ForEachSimdLevel([&] {
    std::vector<unsigned char> out(static_cast<size_t>(room), 0xEE);
    int decoded = room;
    const int result = DSdecomp(encoded.data(), length, out.data(), &decoded);
    FUZZ_CHECK(decoded >= 0 && decoded <= room && decoded <= all);
    FUZZ_CHECK(std::equal(out.begin(), out.begin() + decoded, expected.begin()));
    for (int i = decoded; i < room; ++i) FUZZ_CHECK(out[static_cast<size_t>(i)] == 0xEE);
    // The same with input and output ending 1 to 63 bytes before a page boundary.
    const size_t gap = 1 + static_cast<size_t>(room + length) % 63;
    const lxtest::AtPageEnd inEnd(encoded.data(), encoded.size(), gap),
        outEnd(nullptr, static_cast<size_t>(room), gap);
    int again = room;
    FUZZ_CHECK(DSdecomp(inEnd.get(), length, outEnd.get(), &again) == result && again == decoded &&
               std::equal(out.begin(), out.end(), outEnd.get()));
    if (length == 0) {
      FUZZ_CHECK(result == 0 && decoded == 0);
    } else if (all <= room) {
      FUZZ_CHECK(decoded == all && result == (decoded != 0 ? 0 : 2));
    } else {
      FUZZ_CHECK(result == (decoded == room && room > 0 ? 0 : 2));
    }
  });
  return 0;
}

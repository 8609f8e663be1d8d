#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "memfile/rle.h"
#include "memfile/simd.h"

namespace {

struct Result {
  int code;
  int room;
  std::vector<unsigned char> out;
};

// Decodes into a buffer of room + 80 marked bytes, so writes past the decoded
// bytes show.
template <typename Decoder>
Result Decode(Decoder decode, const std::vector<unsigned char>& in, int room) {
  std::vector<unsigned char> heapIn(in);  // exactly the input's length
  Result r{0, room, std::vector<unsigned char>(static_cast<size_t>(room) + 80, 0xA5)};
  r.code = decode(heapIn.data(), heapIn.data() + heapIn.size(), r.out.data(), &r.room);
  return r;
}

TEST(RleDecoders, AVX512AndPortableAgreeByteForByte) {
  if (lxmemfile::SupportedSimdLevel() < lxmemfile::kSimdAvx512)
    GTEST_SKIP() << "no AVX-512 on this processor";
  std::mt19937 rng(314);
  for (int trial = 0; trial < 20000; ++trial) {
    std::vector<unsigned char> in;
    const int records = static_cast<int>(rng() % 20) + 1;
    for (int k = 0; k < records; ++k) {
      if (rng() % 2) {
        in.push_back(static_cast<unsigned char>(1 + rng() % 255));
        in.push_back(static_cast<unsigned char>(rng()));
      } else {
        const unsigned length = rng() % 4 == 0 ? rng() % 256 : rng() % 70;
        in.push_back(0);
        in.push_back(static_cast<unsigned char>(length));
        for (unsigned i = 0; i < length; ++i) in.push_back(static_cast<unsigned char>(rng()));
      }
    }
    if (rng() % 4 == 0) in.resize(rng() % in.size() + 1);  // cut inside a record
    const int room = static_cast<int>(rng() % 3000);
    const Result a = Decode(lxmemfile::DecodeRecordsAvx512, in, room);
    const Result b = Decode(lxmemfile::DecodeRecords, in, room);
    ASSERT_EQ(b.code, a.code) << trial;
    ASSERT_EQ(b.room, a.room) << trial;
    ASSERT_EQ(b.out, a.out) << trial;
  }
}

}  // namespace

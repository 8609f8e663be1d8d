#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "lxmemfile.h"

namespace {

// Bit-at-a-time CRC-32 (reflected 0xEDB88320), independent of any table.
uint32_t BitwiseCrc(uint32_t seed, const unsigned char* p, size_t n) {
  uint32_t c = ~seed;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

TEST(Checksum, KnownValues) {
  EXPECT_EQ(0xCBF43926u, CalcCheckSum("123456789", 9, nullptr));  // the CRC-32 check value
  EXPECT_EQ(0x352441C2u, CalcCheckSum("abc", 3, nullptr));
  const uint32_t first = CalcCheckSum("12345", 5, nullptr);
  EXPECT_EQ(0xCBF43926u, CalcCheckSum("6789", 4, &first));
  const uint32_t seed = 0xDEADBEEFu;
  EXPECT_EQ(seed, CalcCheckSum(nullptr, 10, &seed));
  EXPECT_EQ(seed, CalcCheckSum("x", 0, &seed));
  EXPECT_EQ(0u, CalcCheckSum(nullptr, 0, nullptr));
  EXPECT_EQ(0u, CalcCheckSum("x", 0, nullptr));
  // 32 bytes of zeros and of 0xFF (common test vectors of this CRC).
  std::vector<unsigned char> zeros(32, 0), ones(32, 0xFF);
  EXPECT_EQ(0x190A55ADu, CalcCheckSum(zeros.data(), 32, nullptr));
  EXPECT_EQ(0xFF6CAB0Bu, CalcCheckSum(ones.data(), 32, nullptr));
}

// Every length up to a few blocks of the wide engines, at every alignment, with
// and without a seed, must equal the bit-wise computation.
TEST(Checksum, MatchesBitwiseReferenceAtAllLengthsAndAlignments) {
  std::mt19937 rng(42);
  std::vector<unsigned char> data(4096 + 64);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  for (size_t len = 0; len <= 600; ++len) {
    for (size_t align = 0; align < 16; align += (len < 100 ? 1 : 5)) {
      const uint32_t seed = static_cast<uint32_t>(rng());
      ASSERT_EQ(BitwiseCrc(0, data.data() + align, len), CalcCheckSum(data.data() + align, len, nullptr))
          << len << "/" << align;
      ASSERT_EQ(BitwiseCrc(seed, data.data() + align, len), CalcCheckSum(data.data() + align, len, &seed))
          << len << "/" << align;
    }
  }
  ASSERT_EQ(BitwiseCrc(0, data.data() + 3, 4096), CalcCheckSum(data.data() + 3, 4096, nullptr));
}

TEST(Checksum, ChainedPiecesGiveTheWhole) {
  std::mt19937 rng(7);
  std::vector<unsigned char> data(200000);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  const uint32_t whole = BitwiseCrc(0, data.data(), data.size());
  ASSERT_EQ(whole, CalcCheckSum(data.data(), static_cast<uint32_t>(data.size()), nullptr));
  for (int trial = 0; trial < 50; ++trial) {
    uint32_t crc = 0;
    size_t at = 0;
    while (at < data.size()) {
      size_t piece = rng() % (trial % 2 ? 300 : 20000);
      if (piece > data.size() - at) piece = data.size() - at;
      crc = CalcCheckSum(data.data() + at, static_cast<uint32_t>(piece),
                         trial % 3 == 0 && at == 0 ? nullptr : &crc);
      at += piece;
    }
    ASSERT_EQ(whole, crc) << trial;
  }
}

TEST(Checksum, MemFileRangesMatchTheBufferFunction) {
  std::mt19937 rng(3);
  MemFile f;
  std::vector<unsigned char> data(5000);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  f.Put(data.data(), 0, 5000);
  for (int trial = 0; trial < 300; ++trial) {
    const uint32_t offset = rng() % 5200, length = rng() % 6000;
    const uint32_t seed = static_cast<uint32_t>(rng());
    f.Seek(17, 0);
    const uint32_t got = f.CheckSum(offset, length, &seed);
    if (offset >= 5000 || length == 0) {
      ASSERT_EQ(seed, got);
      ASSERT_EQ(17, f.GetPosition());
    } else {
      const size_t end = std::min<size_t>(5000, static_cast<size_t>(offset) + length);
      ASSERT_EQ(BitwiseCrc(seed, data.data() + offset, end - offset), got);
      ASSERT_EQ(static_cast<int32_t>(offset), f.GetPosition());
    }
  }
}

}  // namespace

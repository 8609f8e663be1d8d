#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "memfile/crc32.h"

namespace {

uint32_t BitwiseRegister(uint32_t c, const unsigned char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return c;
}

std::vector<unsigned char> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<unsigned char> v(n);
  for (auto& b : v) b = static_cast<unsigned char>(rng());
  return v;
}

TEST(Crc32Engines, TableEngineAtEveryLength) {
  const auto data = RandomBytes(1200, 1);
  for (size_t len = 0; len <= 1100; ++len) {
    const uint32_t start = static_cast<uint32_t>(len * 2654435761u);
    ASSERT_EQ(BitwiseRegister(start, data.data() + len % 7, len),
              lxmemfile::Crc32Table(start, data.data() + len % 7, len))
        << len;
  }
}

TEST(Crc32Engines, ClmulEngineOnWholeBlocks) {
  if (!lxmemfile::HaveClmul()) GTEST_SKIP() << "no carry-less multiplication on this processor";
  const auto data = RandomBytes(70000, 2);
  for (size_t len = 64; len <= 2048; len += 16) {
    for (size_t align : {0, 1, 8, 15}) {
      const uint32_t start = static_cast<uint32_t>(len * 40503u + align);
      ASSERT_EQ(BitwiseRegister(start, data.data() + align, len),
                lxmemfile::Crc32Clmul(start, data.data() + align, len))
          << len << "/" << align;
    }
  }
  ASSERT_EQ(BitwiseRegister(0xFFFFFFFFu, data.data(), 69632),
            lxmemfile::Crc32Clmul(0xFFFFFFFFu, data.data(), 69632));
  // Registers that are all ones, all zeros and single bits exercise the reduction.
  for (uint32_t start : {0u, 0xFFFFFFFFu, 1u, 0x80000000u}) {
    const std::vector<unsigned char> zeros(64, 0);
    ASSERT_EQ(BitwiseRegister(start, zeros.data(), 64), lxmemfile::Crc32Clmul(start, zeros.data(), 64));
  }
}

TEST(Crc32Engines, DispatchJoinsTheEngines) {
  const auto data = RandomBytes(5000, 3);
  for (size_t len : {0, 1, 15, 63, 64, 65, 79, 80, 127, 1000, 4999}) {
    ASSERT_EQ(BitwiseRegister(0x12345678u, data.data(), len),
              lxmemfile::Crc32Update(0x12345678u, data.data(), len))
        << len;
  }
}

}  // namespace

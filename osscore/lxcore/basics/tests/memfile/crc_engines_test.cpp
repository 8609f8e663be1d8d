// CRC-32: known answers, and each engine (whatever this processor would pick)
// and the dispatch at every level against the bit-wise definition.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "lxmemfile.h"
#include "memfile/crc32.h"
#include "memfile/simd.h"

namespace {

TEST(Checksum, KnownValues) {
  EXPECT_EQ(0xCBF43926u, CalcCheckSum("123456789", 9, nullptr));  // the CRC-32 check value
  EXPECT_EQ(0x352441C2u, CalcCheckSum("abc", 3, nullptr));
  const uint32_t first = CalcCheckSum("12345", 5, nullptr);  // chained
  EXPECT_EQ(0xCBF43926u, CalcCheckSum("6789", 4, &first));
  EXPECT_EQ(first, CalcCheckSum(nullptr, 10, &first));
  EXPECT_EQ(0u, CalcCheckSum(nullptr, 0, nullptr));
}

// The register after `n` bytes, one bit at a time (reflected 0xEDB88320).
uint32_t Bitwise(uint32_t c, const unsigned char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return c;
}

// Each engine, and the dispatch at each level (folding for whole 16-byte blocks
// of 64 bytes or more, then the table), at every length it takes up to a few of
// the widest steps and at a long one, at odd alignments and varying registers.
TEST(Crc32Engines, EachEngineMatchesTheBitwiseDefinition) {
  using lxmemfile::kSimdAvx512, lxmemfile::kSimdBaseline, lxmemfile::kSimdSse4;
  const struct {
    const char* name;
    int level;  // needed to run it, and set while it runs
    lxmemfile::Crc32Engine run;
    size_t minimum, step;
  } kEngines[] = {{"table", kSimdBaseline, lxmemfile::Crc32Table, 0, 1},
                  {"pclmul", kSimdSse4, lxmemfile::Crc32Clmul, 64, 16},
                  {"vpclmul", kSimdAvx512, lxmemfile::Crc32Vpclmul, 64, 16},
                  {"baseline dispatch", kSimdBaseline, lxmemfile::Crc32Update, 0, 1},
                  {"sse4 dispatch", kSimdSse4, lxmemfile::Crc32Update, 0, 1},
                  {"avx512 dispatch", kSimdAvx512, lxmemfile::Crc32Update, 0, 1}};
  std::mt19937 rng(2);
  std::vector<unsigned char> data(70000);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  const int before = lxmemfile::ActiveSimdLevel();
  for (const auto& e : kEngines) {
    if (e.level > lxmemfile::SupportedSimdLevel() ||
        (e.run == lxmemfile::Crc32Vpclmul && !lxmemfile::HaveVpclmulqdq())) {
      std::printf("%s: not supported by this processor\n", e.name);
      continue;
    }
    lxmemfile::SetSimdLevel(e.level);
    for (size_t len = e.minimum; len <= 1100; len += e.step) {
      for (size_t align : {0, 1, 8, 15}) {
        const uint32_t start = static_cast<uint32_t>(len * 2654435761u + align);
        ASSERT_EQ(Bitwise(start, data.data() + align, len), e.run(start, data.data() + align, len))
            << e.name << " " << len << "/" << align;
      }
    }
    ASSERT_EQ(Bitwise(~0u, data.data(), 69632), e.run(~0u, data.data(), 69632)) << e.name;
  }
  lxmemfile::SetSimdLevel(before);
  EXPECT_EQ(kSimdBaseline, lxmemfile::SimdLevelNamed("baseline"));
  EXPECT_EQ(kSimdSse4, lxmemfile::SimdLevelNamed("sse4"));
  EXPECT_EQ(lxmemfile::SupportedSimdLevel(), lxmemfile::SimdLevelNamed(nullptr));
}

}  // namespace

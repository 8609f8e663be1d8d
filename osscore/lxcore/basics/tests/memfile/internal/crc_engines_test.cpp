#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "memfile/crc32.h"
#include "memfile/simd.h"

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

struct Engine {
  const char* name;
  int level;  // needed to run it
  lxmemfile::Crc32Engine run;
  size_t minimum, step;  // lengths it takes: minimum, minimum + step, ...
};

const Engine kEngines[] = {
    {"table", lxmemfile::kSimdBaseline, lxmemfile::Crc32Table, 0, 1},
    {"pclmul", lxmemfile::kSimdSse4, lxmemfile::Crc32Clmul, 64, 16},
    {"vpclmul", lxmemfile::kSimdAvx512, lxmemfile::Crc32Vpclmul, 64, 16},
};

// Every engine this processor runs, at every length it takes up to a few of its
// widest steps and at a long one, at odd alignments, from registers that
// exercise the reduction, against the bit-wise definition.
TEST(Crc32Engines, EachEngineMatchesTheBitwiseDefinition) {
  const auto data = RandomBytes(70000, 2);
  for (const Engine& e : kEngines) {
    if (e.level > lxmemfile::SupportedSimdLevel() ||
        (e.run == lxmemfile::Crc32Vpclmul && !lxmemfile::HaveVpclmulqdq())) {
      std::printf("engine %s: not supported by this processor\n", e.name);
      continue;
    }
    for (size_t len = e.minimum; len <= 1100; len += e.step) {
      for (size_t align : {0, 1, 8, 15}) {
        const uint32_t start = static_cast<uint32_t>(len * 2654435761u + align);
        ASSERT_EQ(BitwiseRegister(start, data.data() + align, len), e.run(start, data.data() + align, len))
            << e.name << " " << len << "/" << align;
      }
    }
    ASSERT_EQ(BitwiseRegister(0xFFFFFFFFu, data.data(), 69632), e.run(0xFFFFFFFFu, data.data(), 69632))
        << e.name;
    const std::vector<unsigned char> zeros(256, 0);
    for (uint32_t start : {0u, 0xFFFFFFFFu, 1u, 0x80000000u}) {
      ASSERT_EQ(BitwiseRegister(start, zeros.data(), 256), e.run(start, zeros.data(), 256)) << e.name;
    }
  }
}

// At every level this processor runs, the dispatch joins a folding engine and the
// table at every split.
TEST(Crc32Engines, DispatchAtEveryLevel) {
  const auto data = RandomBytes(5000, 3);
  const int before = lxmemfile::ActiveSimdLevel();
  for (int level = lxmemfile::kSimdBaseline; level <= lxmemfile::SupportedSimdLevel(); ++level) {
    ASSERT_EQ(level, lxmemfile::SetSimdLevel(level));
    for (size_t len : {0, 1, 15, 63, 64, 65, 79, 80, 127, 255, 256, 257, 1000, 4999}) {
      ASSERT_EQ(BitwiseRegister(0x12345678u, data.data(), len),
                lxmemfile::Crc32Update(0x12345678u, data.data(), len))
          << level << "/" << len;
    }
  }
  lxmemfile::SetSimdLevel(before);
  EXPECT_EQ(lxmemfile::kSimdBaseline, lxmemfile::SimdLevelNamed("baseline"));
  EXPECT_EQ(lxmemfile::SupportedSimdLevel(), lxmemfile::SimdLevelNamed(nullptr));
}

}  // namespace

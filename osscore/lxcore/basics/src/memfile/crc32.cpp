// CRC-32 (IEEE 802.3) over buffers and memory-file ranges.
//
// Three engines compute the same register. The table engine is the classic
// byte-wise table lookup, widened to sixteen bytes per step with fifteen derived
// tables ("slicing"), so that the sixteen lookups of a step are independent.
// The clmul engines fold the data with carry-less multiplication: a block of
// 128 bits moved D bits further along the message is its low half times
// x^(D+32) mod P plus its high half times x^(D-32) mod P, in the bit-reflected
// domain (constants from FoldConstant below). The 128-bit engine folds four
// 128-bit lanes by 512 bits per step; the 512-bit engine folds four 512-bit
// lanes by 2048 bits per step. Both end with the 128-bit remainder, which a
// fold to 64 bits and a Barrett step (x^64 mod P, P and floor(x^64 / P)) reduce
// to the register.
#include "memfile/crc32.h"

#include <cstring>

#include "lxmemfile.h"
#include "memfile/simd.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define LXMF_HAVE_X86 1
#endif

namespace lxmemfile {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

struct Tables {
  uint32_t slice[16][256];
};

constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    t.slice[0][i] = c;
  }
  // slice[k][i]: byte i followed by k zero bytes.
  for (int k = 1; k < 16; ++k) {
    for (int i = 0; i < 256; ++i) {
      const uint32_t prev = t.slice[k - 1][i];
      t.slice[k][i] = (prev >> 8) ^ t.slice[0][prev & 0xFF];
    }
  }
  return t;
}

constexpr Tables kTables = MakeTables();

// x^n mod P bit-reflected and shifted left by one, the form in which carry-less
// products of reflected data come out aligned: a 33-bit folding constant.
constexpr uint64_t FoldConstant(unsigned n) {
  uint64_t r = 1;  // x^0, normal bit order, P = x^32 + 0x04C11DB7
  for (unsigned i = 0; i < n; ++i) {
    r <<= 1;
    if (r & (uint64_t{1} << 32)) r ^= 0x104C11DB7u;
  }
  uint64_t reflected = 0;
  for (int bit = 0; bit < 32; ++bit) reflected |= ((r >> bit) & 1) << (31 - bit);
  return reflected << 1;
}

inline uint32_t LoadLe32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

}  // namespace

uint32_t Crc32Table(uint32_t crc, const unsigned char* p, size_t n) {
  const auto& t = kTables.slice;
  while (n >= 16) {
    const uint32_t w0 = LoadLe32(p) ^ crc;
    const uint32_t w1 = LoadLe32(p + 4);
    const uint32_t w2 = LoadLe32(p + 8);
    const uint32_t w3 = LoadLe32(p + 12);
    crc = t[15][w0 & 0xFF] ^ t[14][(w0 >> 8) & 0xFF] ^ t[13][(w0 >> 16) & 0xFF] ^ t[12][w0 >> 24] ^
          t[11][w1 & 0xFF] ^ t[10][(w1 >> 8) & 0xFF] ^ t[9][(w1 >> 16) & 0xFF] ^ t[8][w1 >> 24] ^
          t[7][w2 & 0xFF] ^ t[6][(w2 >> 8) & 0xFF] ^ t[5][(w2 >> 16) & 0xFF] ^ t[4][w2 >> 24] ^
          t[3][w3 & 0xFF] ^ t[2][(w3 >> 8) & 0xFF] ^ t[1][(w3 >> 16) & 0xFF] ^ t[0][w3 >> 24];
    p += 16;
    n -= 16;
  }
  while (n-- != 0) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
  return crc;
}

#if LXMF_HAVE_X86
// acc folded 128 bits forward (multiplied by the pair of constants in k) and
// added to the next block.
__attribute__((target("pclmul,sse4.1"))) static inline __m128i Fold128(__m128i acc, __m128i next, __m128i k) {
  const __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// The register for a 128-bit remainder: folded to 64 bits with 32 zero bits
// appended, then reduced with a Barrett step.
__attribute__((target("pclmul,sse4.1"))) static inline uint32_t Reduce128(__m128i x1) {
  alignas(16) static const uint64_t k3k4[2] = {FoldConstant(160), FoldConstant(96)};
  alignas(16) static const uint64_t k5k0[2] = {FoldConstant(64), 0};
  alignas(16) static const uint64_t poly[2] = {0x01db710641,
                                               0x01f7011641};  // P and floor(x^64 / P), reflected
  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  __m128i x2;
  // 128 bits to 64, appending 32 zero bits.
  const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
  x2 = _mm_clmulepi64_si128(x1, k, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, mask32);
  x1 = _mm_clmulepi64_si128(x1, k, 0x00);
  x1 = _mm_xor_si128(x1, x2);

  // Barrett reduction to 32 bits.
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  x2 = _mm_and_si128(x1, mask32);
  x2 = _mm_clmulepi64_si128(x2, k, 0x10);
  x2 = _mm_and_si128(x2, mask32);
  x2 = _mm_clmulepi64_si128(x2, k, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

__attribute__((target("pclmul,sse4.1"))) uint32_t Crc32Clmul(uint32_t crc, const unsigned char* p, size_t n) {
  alignas(16) static const uint64_t k1k2[2] = {FoldConstant(512 + 32), FoldConstant(512 - 32)};
  alignas(16) static const uint64_t k3k4[2] = {FoldConstant(128 + 32), FoldConstant(128 - 32)};

  __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x00));
  __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x10));
  __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x20));
  __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x30));
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  p += 64;
  n -= 64;

  // Four lanes of 128 bits, each folded 512 bits forward per step.
  while (n >= 64) {
    const __m128i l1 = _mm_clmulepi64_si128(x1, k, 0x00);
    const __m128i l2 = _mm_clmulepi64_si128(x2, k, 0x00);
    const __m128i l3 = _mm_clmulepi64_si128(x3, k, 0x00);
    const __m128i l4 = _mm_clmulepi64_si128(x4, k, 0x00);
    x1 = _mm_clmulepi64_si128(x1, k, 0x11);
    x2 = _mm_clmulepi64_si128(x2, k, 0x11);
    x3 = _mm_clmulepi64_si128(x3, k, 0x11);
    x4 = _mm_clmulepi64_si128(x4, k, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, l1), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x00)));
    x2 = _mm_xor_si128(_mm_xor_si128(x2, l2), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x10)));
    x3 = _mm_xor_si128(_mm_xor_si128(x3, l3), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x20)));
    x4 = _mm_xor_si128(_mm_xor_si128(x4, l4), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x30)));
    p += 64;
    n -= 64;
  }

  // Fold the four lanes into one, then the remaining 16-byte blocks into it.
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  x1 = Fold128(x1, x2, k);
  x1 = Fold128(x1, x3, k);
  x1 = Fold128(x1, x4, k);
  while (n >= 16) {
    x1 = Fold128(x1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), k);
    p += 16;
    n -= 16;
  }

  return Reduce128(x1);
}

// GCC 12 reports the undefined upper lanes inside some AVX-512 intrinsics as
// uninitialised; they are never read.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#define LXMF_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,vpclmulqdq,pclmul,sse4.1")))

// Four 128-bit lanes, each folded forward by the pair of constants in k and
// added to the next 512 bits.
LXMF_TARGET_AVX512 static inline __m512i Fold512(__m512i acc, __m512i next, __m512i k) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(acc, k, 0x00),
                                   _mm512_clmulepi64_epi128(acc, k, 0x11), next, 0x96);
}

// The constants for the low and the high half of each 128-bit lane.
LXMF_TARGET_AVX512 static inline __m512i Pair512(uint64_t lo, uint64_t hi) {
  return _mm512_broadcast_i32x4(_mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo)));
}

LXMF_TARGET_AVX512 static inline __m512i LoadZmm(const unsigned char* p) { return _mm512_loadu_si512(p); }

// Constants that fold lane j of the i-th of four consecutive 512-bit blocks onto
// the last lane of the last block: distance (15 - 4i - j) * 128 bits; the last
// lane itself gets zeros and is added unchanged.
struct LaneTable {
  alignas(64) uint64_t k[4][8];
};
constexpr LaneTable MakeLaneTable() {
  LaneTable t{};
  for (unsigned i = 0; i < 4; ++i) {
    for (unsigned j = 0; j < 4; ++j) {
      const unsigned d = (15 - 4 * i - j) * 128;
      t.k[i][2 * j] = d != 0 ? FoldConstant(d + 32) : 0;
      t.k[i][2 * j + 1] = d != 0 ? FoldConstant(d - 32) : 0;
    }
  }
  return t;
}
constexpr LaneTable kLaneTable = MakeLaneTable();

LXMF_TARGET_AVX512 static inline __m512i LaneConstants(int block) {
  return _mm512_load_si512(kLaneTable.k[block]);
}

// The register after adding up the four 128-bit lanes of t, then folding in
// the remaining whole 16-byte blocks of [p, p + n).
LXMF_TARGET_AVX512 static inline uint32_t ReduceLanes(__m512i t, const unsigned char* p, size_t n) {
  const __m256i h = _mm256_xor_si256(_mm512_castsi512_si256(t), _mm512_extracti64x4_epi64(t, 1));
  __m128i x = _mm_xor_si128(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(FoldConstant(128 - 32)),
                                      static_cast<long long>(FoldConstant(128 + 32)));
  while (n >= 16) {
    x = Fold128(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), k128);
    p += 16;
    n -= 16;
  }
  return Reduce128(x);
}

LXMF_TARGET_AVX512 uint32_t Crc32Vpclmul(uint32_t crc, const unsigned char* p, size_t n) {
  const __m512i k2048 = Pair512(FoldConstant(2048 + 32), FoldConstant(2048 - 32));
  const __m512i k512 = Pair512(FoldConstant(512 + 32), FoldConstant(512 - 32));

  __m512i x0 = _mm512_xor_si512(LoadZmm(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
  p += 64;
  n -= 64;
  if (n >= 192) {
    // Four lanes of 512 bits, each folded 2048 bits forward per step.
    __m512i x1 = LoadZmm(p), x2 = LoadZmm(p + 64), x3 = LoadZmm(p + 128);
    p += 192;
    n -= 192;
    while (n >= 256) {
      x0 = Fold512(x0, LoadZmm(p), k2048);
      x1 = Fold512(x1, LoadZmm(p + 64), k2048);
      x2 = Fold512(x2, LoadZmm(p + 128), k2048);
      x3 = Fold512(x3, LoadZmm(p + 192), k2048);
      p += 256;
      n -= 256;
    }
    while (n >= 64) {  // the window of four blocks moves on by one
      x0 = Fold512(x0, x1, k512);
      x1 = x2;
      x2 = x3;
      x3 = LoadZmm(p);
      p += 64;
      n -= 64;
    }
    // The sixteen 128-bit lanes straight into one, each by its own distance.
    const __m512i t0 = _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x0, LaneConstants(0), 0x00),
                                                 _mm512_clmulepi64_epi128(x0, LaneConstants(0), 0x11),
                                                 _mm512_clmulepi64_epi128(x1, LaneConstants(1), 0x00), 0x96);
    const __m512i t1 = _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x1, LaneConstants(1), 0x11),
                                                 _mm512_clmulepi64_epi128(x2, LaneConstants(2), 0x00),
                                                 _mm512_clmulepi64_epi128(x2, LaneConstants(2), 0x11), 0x96);
    const __m512i t2 = _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x3, LaneConstants(3), 0x00),
                                                 _mm512_clmulepi64_epi128(x3, LaneConstants(3), 0x11),
                                                 _mm512_maskz_mov_epi64(0xC0, x3), 0x96);
    return ReduceLanes(_mm512_ternarylogic_epi64(t0, t1, t2, 0x96), p, n);
  }
  while (n >= 64) {
    x0 = Fold512(x0, LoadZmm(p), k512);
    p += 64;
    n -= 64;
  }

  // The four 128-bit lanes into one: lane i folded by (3 - i) * 128 bits.
  const __m512i k = LaneConstants(3);
  return ReduceLanes(
      _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x0, k, 0x00), _mm512_clmulepi64_epi128(x0, k, 0x11),
                                _mm512_maskz_mov_epi64(0xC0, x0), 0x96),
      p, n);
}
#pragma GCC diagnostic pop
#else
uint32_t Crc32Clmul(uint32_t crc, const unsigned char* p, size_t n) { return Crc32Table(crc, p, n); }
uint32_t Crc32Vpclmul(uint32_t crc, const unsigned char* p, size_t n) { return Crc32Table(crc, p, n); }
#endif

namespace {
// The folding engine in force for whole 16-byte blocks of 64 bytes or more; null
// for the table alone. Constant-initialised, so a call before the library's
// static initialisation takes the table.
Crc32Engine g_fold = nullptr;
}  // namespace

void UseCrc32Level(int level) {
  g_fold = level >= kSimdAvx512 && HaveVpclmulqdq() ? Crc32Vpclmul
           : level >= kSimdSse4                     ? Crc32Clmul
                                                    : nullptr;
}

uint32_t Crc32Update(uint32_t crc, const unsigned char* p, size_t n) {
  const Crc32Engine fold = g_fold;
  if (n >= 64 && fold != nullptr) {
    const size_t blocks = n & ~static_cast<size_t>(15);
    crc = fold(crc, p, blocks);
    p += blocks;
    n -= blocks;
    if (n == 0) return crc;
  }
  return Crc32Table(crc, p, n);
}

}  // namespace lxmemfile

uint32_t CalcCheckSum(const void* bytes, uint32_t length, const uint32_t* seed) {
  const uint32_t crc = seed != nullptr ? ~*seed : 0xFFFFFFFFu;
  if (bytes == nullptr || length == 0) return ~crc;
  return ~lxmemfile::Crc32Update(crc, static_cast<const unsigned char*>(bytes), length);
}

uint32_t MemFile::CheckSum(uint32_t offset, uint32_t length, const uint32_t* seed) const {
  const uint32_t start = seed != nullptr ? *seed : 0;
  if (length == 0xFFFFFFFFu) length = static_cast<uint32_t>(size);
  if (length == 0 || size <= 0 || offset >= static_cast<uint32_t>(size)) return start;
  uint64_t end = static_cast<uint64_t>(offset) + length;
  if (end > static_cast<uint64_t>(size)) end = static_cast<uint64_t>(size);
  position = static_cast<int32_t>(offset);
  return CalcCheckSum(buffer + offset, static_cast<uint32_t>(end - offset), &start);
}

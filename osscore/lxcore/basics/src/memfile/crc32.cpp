// CRC-32 (IEEE 802.3) over buffers and memory-file ranges.
//
// Two engines compute the same register. The table engine is the classic
// byte-wise table lookup, widened to sixteen bytes per step with fifteen derived
// tables ("slicing"), so that the sixteen lookups of a step are independent.
// The clmul engine folds 64 bytes per step with carry-less multiplication by
// x^k mod P and reduces the last 128 bits with a Barrett step; its constants are
// those of the bit-reflected domain (x^(4*128+32), x^(4*128-32), x^(128+32),
// x^(128-32), x^64 mod P, P and floor(x^64 / P)).
#include "memfile/crc32.h"

#include <cstring>

#include "lxmemfile.h"

#if defined(__x86_64__) || defined(__i386__)
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

inline uint32_t LoadLe32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

bool DetectClmul() {
#if LXMF_HAVE_X86
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
#else
  return false;
#endif
}

// Decided once at load; a call during another module's static initialisation,
// before this runs, simply takes the table engine.
const bool kHaveClmul = DetectClmul();

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

bool HaveClmul() { return kHaveClmul; }

#if LXMF_HAVE_X86
// acc folded 128 bits forward (multiplied by the pair of constants in k) and
// added to the next block.
__attribute__((target("pclmul,sse4.1"))) static inline __m128i Fold128(__m128i acc, __m128i next, __m128i k) {
  const __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

__attribute__((target("pclmul,sse4.1"))) uint32_t Crc32Clmul(uint32_t crc, const unsigned char* p, size_t n) {
  alignas(16) static const uint64_t k1k2[2] = {0x0154442bd4, 0x01c6e41596};
  alignas(16) static const uint64_t k3k4[2] = {0x01751997d0, 0x00ccaa009e};
  alignas(16) static const uint64_t k5k0[2] = {0x0163cd6124, 0x0000000000};
  alignas(16) static const uint64_t poly[2] = {0x01db710641, 0x01f7011641};

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
#else
uint32_t Crc32Clmul(uint32_t crc, const unsigned char* p, size_t n) { return Crc32Table(crc, p, n); }
#endif

uint32_t Crc32Update(uint32_t crc, const unsigned char* p, size_t n) {
  if (n >= 64 && kHaveClmul) {
    const size_t blocks = n & ~static_cast<size_t>(15);
    crc = Crc32Clmul(crc, p, blocks);
    p += blocks;
    n -= blocks;
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

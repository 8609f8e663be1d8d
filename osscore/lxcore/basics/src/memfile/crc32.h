// CRC-32 engines behind CalcCheckSum, exposed for the library's own tests.
//
// Each engine advances the CRC register (the complemented checksum) over a
// range: Crc32Update(~seed, bytes, n) is the complement of the checksum. The
// table engine works everywhere; the folding engines need the instructions of
// their level (memfile/simd.h) and handle lengths that are multiples of 16, at
// least 64. All give the same register for the same input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lxmemfile {

using Crc32Engine = uint32_t (*)(uint32_t crc, const unsigned char* bytes, size_t length);

// Table engine: one lookup per byte, sixteen bytes per step.
uint32_t Crc32Table(uint32_t crc, const unsigned char* bytes, size_t length);

// Folding engines. REQUIRES: length >= 64, length % 16 == 0, and the level:
// kSimdSse4 for Crc32Clmul (128-bit lanes), kSimdAvx512 and HaveVpclmulqdq() for Crc32Vpclmul
// (512-bit lanes).
uint32_t Crc32Clmul(uint32_t crc, const unsigned char* bytes, size_t length);
uint32_t Crc32Vpclmul(uint32_t crc, const unsigned char* bytes, size_t length);

// The engine of the level in force: the folding engine for the longest multiple
// of 16 when the range is long enough, the table for the rest.
uint32_t Crc32Update(uint32_t crc, const unsigned char* bytes, size_t length);

}  // namespace lxmemfile

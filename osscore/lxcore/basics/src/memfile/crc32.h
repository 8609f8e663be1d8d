// CRC-32 engines behind CalcCheckSum, exposed for the library's own tests.
//
// Each engine advances the CRC register (the complemented checksum) over a
// range: Crc32Update(~seed, bytes, n) is the complement of the checksum. The
// table engine works everywhere; the carry-less-multiplication engine needs the
// PCLMULQDQ and SSE4.1 instructions, found at run time, and handles lengths that
// are multiples of 16, at least 64. Both give the same register for the same
// input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lxmemfile {

// Table engine: one lookup per byte, sixteen bytes per step.
uint32_t Crc32Table(uint32_t crc, const unsigned char* bytes, size_t length);

// True when this processor can run Crc32Clmul.
bool HaveClmul();

// Carry-less-multiplication engine. REQUIRES: HaveClmul(), length >= 64,
// length % 16 == 0.
uint32_t Crc32Clmul(uint32_t crc, const unsigned char* bytes, size_t length);

// The fastest engine for the length: clmul for the longest multiple of 16 when it
// is available and the range is long enough, the table for the rest.
uint32_t Crc32Update(uint32_t crc, const unsigned char* bytes, size_t length);

}  // namespace lxmemfile

// Decoders behind DSdecomp, exposed for the library's own tests.
//
// Both walk the records of [p, end) (non-empty) into `out`, which holds *room
// bytes, with the results of DSdecomp: 0 or 2, and *room set to the bytes
// decoded. The portable one works everywhere; the AVX-512 one needs the level
// kSimdAvx512 (memfile/simd.h) and writes and reads exactly the same bytes.
#pragma once

namespace lxmemfile {

using RecordDecoder = int (*)(const unsigned char* p, const unsigned char* end, unsigned char* out,
                              int* room);

int DecodeRecords(const unsigned char* p, const unsigned char* end, unsigned char* out, int* room);
int DecodeRecordsAvx512(const unsigned char* p, const unsigned char* end, unsigned char* out, int* room);

}  // namespace lxmemfile

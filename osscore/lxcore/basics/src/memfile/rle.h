// The code paths behind DScomp and DSdecomp, one encoder and one decoder per
// instruction-set level (memfile/simd.h): the portable ones work everywhere,
// the AVX-512 ones need the level kSimdAvx512.
//
// The encoders take n >= 1 input bytes and give exactly DScomp's results and
// bytes. The decoders walk the records of [p, end) (non-empty) into `out`, which
// holds *room bytes, with the results of DSdecomp: 0 or 2, and *room set to the
// bytes decoded; both read only [p, end) and write only the bytes they decode.
#pragma once

namespace lxmemfile {

using RecordEncoder = int (*)(const unsigned char* in, int n, unsigned char* out, int* room);

int EncodeRecords(const unsigned char* in, int n, unsigned char* out, int* room);
int EncodeRecordsAvx512(const unsigned char* in, int n, unsigned char* out, int* room);

using RecordDecoder = int (*)(const unsigned char* p, const unsigned char* end, unsigned char* out,
                              int* room);

int DecodeRecords(const unsigned char* p, const unsigned char* end, unsigned char* out, int* room);
int DecodeRecordsAvx512(const unsigned char* p, const unsigned char* end, unsigned char* out, int* room);

}  // namespace lxmemfile

// Decoders behind DSdecomp, exposed for the library's own tests.
//
// Both walk the records of [p, end) (non-empty) into `out`, which holds *room
// bytes, with the results of DSdecomp: 0 or 2, and *room set to the bytes
// decoded. The portable one works everywhere; the AVX-512 one needs AVX512F,
// AVX512BW and BMI2, found at run time, and writes and reads exactly the same
// bytes.
#pragma once

namespace lxmemfile {

int DecodeRecords(const unsigned char* p, const unsigned char* end, unsigned char* out, int* room);

// True when this processor can run DecodeRecordsAvx512.
bool HaveAvx512Decoder();
int DecodeRecordsAvx512(const unsigned char* p, const unsigned char* end, unsigned char* out, int* room);

}  // namespace lxmemfile

// Code paths of the checksum and block-format functions by instruction set.
//
// CalcCheckSum, DScomp and DSdecomp have versions for newer x86-64 processors
// that give exactly the results of the portable ones. One level is in force for
// the whole process: at load, the best this processor runs, capped by the
// environment variable ORVANTA_SIMD (avx512, sse4 or baseline), so that the
// path of an older machine can be measured and tested on a newer one.
#pragma once

namespace lxmemfile {

// Levels, lowest first; each includes the ones below it.
// x86-64 baseline (SSE2): table CRC, portable block format.
constexpr int kSimdBaseline = 0;
// PCLMULQDQ and SSE4.1: CRC folded 128 bits at a time.
constexpr int kSimdSse4 = 1;
// AVX-512 F/BW/VL and BMI2: AVX-512 block format, and CRC folded 512 bits at a
// time where the processor has VPCLMULQDQ too.
constexpr int kSimdAvx512 = 2;

// The highest level this processor runs.
int SupportedSimdLevel();

// True when this processor has VPCLMULQDQ (512-bit carry-less multiplication).
bool HaveVpclmulqdq();

// The level in force.
int ActiveSimdLevel();

// Puts `level`, capped at the supported one, in force and returns the level now
// in force. For tests and benchmarks: not safe while another thread runs
// CalcCheckSum, DScomp or DSdecomp.
int SetSimdLevel(int level);

// The level that a value of ORVANTA_SIMD asks for (null: the supported level;
// an unknown name: the baseline).
int SimdLevelNamed(const char* name);

// Called by SetSimdLevel: each module installs its functions for `level`.
void UseCrc32Level(int level);
void UseRleLevel(int level);

}  // namespace lxmemfile

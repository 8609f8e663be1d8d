// Choice of the instruction-set level at load, and the switch for tests.
#include "memfile/simd.h"

#include <cstring>

#include "os/paths.h"

namespace lxmemfile {
namespace {

int DetectLevel() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("pclmul") || !__builtin_cpu_supports("sse4.1")) return kSimdBaseline;
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("bmi2")) {
    return kSimdAvx512;
  }
  return kSimdSse4;
#else
  return kSimdBaseline;
#endif
}

int g_active = kSimdBaseline;

// Runs during the library's static initialisation; a call before it uses the
// baseline functions, which every module installs statically.
const int g_initial = SetSimdLevel(SimdLevelNamed(lxos::GetEnv("ORVANTA_SIMD")));

}  // namespace

int SupportedSimdLevel() {
  static const int supported = DetectLevel();
  return supported;
}

bool HaveVpclmulqdq() {
#if defined(__x86_64__)
  static const bool have = (__builtin_cpu_init(), __builtin_cpu_supports("vpclmulqdq") != 0);
  return have;
#else
  return false;
#endif
}

int ActiveSimdLevel() { return g_active; }

int SimdLevelNamed(const char* name) {
  if (name == nullptr || std::strcmp(name, "avx512") == 0) return SupportedSimdLevel();
  if (std::strcmp(name, "sse4") == 0) return kSimdSse4;
  return kSimdBaseline;
}

int SetSimdLevel(int level) {
  if (level > SupportedSimdLevel()) level = SupportedSimdLevel();
  if (level < kSimdBaseline) level = kSimdBaseline;
  UseCrc32Level(level);
  UseRleLevel(level);
  g_active = level;
  return level;
}

}  // namespace lxmemfile

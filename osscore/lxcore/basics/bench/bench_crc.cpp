// CalcCheckSum against the CRC-32 of ISA-L, libdeflate and zlib (same
// polynomial, same values; each is checked against zlib) and memcpy for scale.
//   CalcCheckSum/lx/N          the library, on the best path this processor runs
//   CalcCheckSum/lx_sse4/N     the library on the path of processors without
//                              AVX-512 (128-bit PCLMULQDQ folding)
//   CalcCheckSum/lx_baseline/N the library on the table path
//   CalcCheckSum/isal/N        ISA-L crc32_gzip_refl
//   CalcCheckSum/libdeflate/N  libdeflate_crc32
//   CalcCheckSum/zlib/N        zlib crc32
//   CalcCheckSum/memcpy/N      copying the buffer
#include <benchmark/benchmark.h>
#include <isa-l/crc.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "lxmemfile.h"
#include "memfile/simd.h"

namespace {

std::vector<unsigned char> RandomBuffer(size_t n) {
  std::vector<unsigned char> v(n);
  std::mt19937_64 rng(n);
  for (size_t i = 0; i + 8 <= n; i += 8) {
    const uint64_t x = rng();
    std::memcpy(&v[i], &x, 8);
  }
  return v;
}

uint32_t Lx(const unsigned char* p, size_t n) { return CalcCheckSum(p, static_cast<uint32_t>(n), nullptr); }
uint32_t Isal(const unsigned char* p, size_t n) { return crc32_gzip_refl(0, p, n); }
uint32_t Libdeflate(const unsigned char* p, size_t n) { return libdeflate_crc32(0, p, n); }
uint32_t Zlib(const unsigned char* p, size_t n) {
  return static_cast<uint32_t>(crc32(0L, p, static_cast<uInt>(n)));
}

template <uint32_t (*Crc)(const unsigned char*, size_t), int level = lxmemfile::kSimdAvx512>
void BM_Crc(benchmark::State& state) {
  const auto data = RandomBuffer(static_cast<size_t>(state.range(0)));
  const int before = lxmemfile::SetSimdLevel(level);
  if (Crc(data.data(), data.size()) != Zlib(data.data(), data.size()))
    state.SkipWithError("value differs from zlib's");
  for (auto _ : state) benchmark::DoNotOptimize(Crc(data.data(), data.size()));
  lxmemfile::SetSimdLevel(before);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Memcpy(benchmark::State& state) {
  const auto data = RandomBuffer(static_cast<size_t>(state.range(0)));
  std::vector<unsigned char> copy(data.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), data.data(), data.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (int64_t n : {int64_t{64}, int64_t{256}, int64_t{4} << 10, int64_t{64} << 10, int64_t{1} << 20,
                    int64_t{64} << 20}) {
    b->Arg(n);
  }
}

}  // namespace

BENCHMARK(BM_Crc<Lx>)->Name("CalcCheckSum/lx")->Apply(Sizes);
BENCHMARK(BM_Crc<Lx, lxmemfile::kSimdSse4>)->Name("CalcCheckSum/lx_sse4")->Apply(Sizes);
BENCHMARK(BM_Crc<Lx, lxmemfile::kSimdBaseline>)->Name("CalcCheckSum/lx_baseline")->Apply(Sizes);
BENCHMARK(BM_Crc<Isal>)->Name("CalcCheckSum/isal")->Apply(Sizes);
BENCHMARK(BM_Crc<Libdeflate>)->Name("CalcCheckSum/libdeflate")->Apply(Sizes);
BENCHMARK(BM_Crc<Zlib>)->Name("CalcCheckSum/zlib")->Apply(Sizes);
BENCHMARK(BM_Memcpy)->Name("CalcCheckSum/memcpy")->Apply(Sizes);
BENCHMARK_MAIN();

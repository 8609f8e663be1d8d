// CalcCheckSum against zlib's crc32 and against memcpy of the same buffer.
//   CalcCheckSum/lx/N      the library
//   CalcCheckSum/zlib/N    zlib's crc32 (same polynomial, same values)
//   CalcCheckSum/memcpy/N  copying the buffer, for scale
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "lxmemfile.h"

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

void CheckSameValue(const std::vector<unsigned char>& data, benchmark::State& state) {
  const uint32_t ours = CalcCheckSum(data.data(), static_cast<uint32_t>(data.size()), nullptr);
  const uint32_t theirs = static_cast<uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size())));
  if (ours != theirs) state.SkipWithError("CalcCheckSum and zlib disagree");
}

void BM_Lx(benchmark::State& state) {
  const auto data = RandomBuffer(static_cast<size_t>(state.range(0)));
  CheckSameValue(data, state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(CalcCheckSum(data.data(), static_cast<uint32_t>(data.size()), nullptr));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Zlib(benchmark::State& state) {
  const auto data = RandomBuffer(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(crc32(0L, data.data(), static_cast<uInt>(data.size())));
  }
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
  for (int64_t n : {int64_t{64}, int64_t{4096}, int64_t{1} << 20, int64_t{64} << 20}) b->Arg(n);
}

}  // namespace

BENCHMARK(BM_Lx)->Name("CalcCheckSum/lx")->Apply(Sizes);
BENCHMARK(BM_Zlib)->Name("CalcCheckSum/zlib")->Apply(Sizes);
BENCHMARK(BM_Memcpy)->Name("CalcCheckSum/memcpy")->Apply(Sizes);
BENCHMARK_MAIN();

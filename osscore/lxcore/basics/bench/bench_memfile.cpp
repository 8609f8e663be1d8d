// Appending 16-byte records to a MemFile against a std::vector<char>, from empty
// up to the given total size; every iteration starts with a new container.
//   Append/lx/N       MemFile::Put at the end (the block grows in place by realloc)
//   Append/lxwrite/N  MemFile::Write of four 32-bit values per record
//   Append/vector/N   std::vector<char>::insert at the end
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "lxmemfile.h"

namespace {

struct Record {
  char bytes[16];
};

Record MakeRecord() {
  Record r;
  for (int i = 0; i < 16; ++i) r.bytes[i] = static_cast<char>(i * 13 + 1);
  return r;
}

void BM_MemFile(benchmark::State& state) {
  const Record rec = MakeRecord();
  const int32_t total = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    MemFile f;
    for (int32_t at = 0; at < total; at += 16) f.Put(rec.bytes, at, 16);
    benchmark::DoNotOptimize(f.GetBuffer());
    if (f.GetSize() != total) state.SkipWithError("short file");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_MemFileWrite(benchmark::State& state) {
  const Record rec = MakeRecord();
  uint32_t words[4];
  std::memcpy(words, rec.bytes, 16);
  const int32_t total = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    MemFile f;
    int result = 0;
    for (int32_t at = 0; at < total; at += 16) {
      f.Write(words[0], result);
      f.Write(words[1], result);
      f.Write(words[2], result);
      f.Write(words[3], result);
    }
    benchmark::DoNotOptimize(f.GetBuffer());
    if (f.GetSize() != total || result != 0) state.SkipWithError("short file");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Vector(benchmark::State& state) {
  const Record rec = MakeRecord();
  const int64_t total = state.range(0);
  for (auto _ : state) {
    std::vector<char> v;
    for (int64_t at = 0; at < total; at += 16) v.insert(v.end(), rec.bytes, rec.bytes + 16);
    benchmark::DoNotOptimize(v.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (int64_t n : {int64_t{64} << 10, int64_t{1} << 20, int64_t{64} << 20}) b->Arg(n);
  b->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_MemFile)->Name("Append/lx")->Apply(Sizes);
BENCHMARK(BM_MemFileWrite)->Name("Append/lxwrite")->Apply(Sizes);
BENCHMARK(BM_Vector)->Name("Append/vector")->Apply(Sizes);
BENCHMARK_MAIN();

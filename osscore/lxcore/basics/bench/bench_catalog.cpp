// Text lookup of result codes: LxError's sorted table against a hash map that
// holds the same texts, for codes with a row and codes without one, and the
// formatted form with a prefix against snprintf over the hash map.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "lxframe.h"
#include "lxmessages.h"

namespace {

struct Fixture {
  std::unordered_map<int, const char*> map;
  std::vector<int> rowCodes;      // codes with a text of their own, shuffled
  std::vector<int> missingCodes;  // codes that read "unknown error", shuffled

  Fixture() {
    for (int code = -8000; code <= 10000; ++code) {
      const char* text = LxError(nullptr, nullptr, code, 1);
      if (std::strcmp(text, "unknown error") == 0) {
        if (code % 7 == 0) missingCodes.push_back(code);
      } else {
        map.emplace(code, text);
        rowCodes.push_back(code);
      }
    }
    std::mt19937 rng(42);
    std::shuffle(rowCodes.begin(), rowCodes.end(), rng);
    std::shuffle(missingCodes.begin(), missingCodes.end(), rng);
  }
};

const Fixture& Data() {
  static const Fixture fixture;
  return fixture;
}

const std::vector<int>& Codes(const benchmark::State& state) {
  return state.range(0) ? Data().rowCodes : Data().missingCodes;
}

void TextLxError(benchmark::State& state) {
  const std::vector<int>& codes = Codes(state);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(LxError(nullptr, nullptr, codes[i], 1));
    if (++i == codes.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void TextUnorderedMap(benchmark::State& state) {
  const std::vector<int>& codes = Codes(state);
  const auto& map = Data().map;
  size_t i = 0;
  for (auto _ : state) {
    auto it = map.find(codes[i]);
    benchmark::DoNotOptimize(it == map.end() ? "unknown error" : it->second);
    if (++i == codes.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void FormatLxError(benchmark::State& state) {
  const std::vector<int>& codes = Data().rowCodes;
  char buffer[LX_ERROR_BUFFER_SIZE];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(LxError(buffer, "LxBase::Open", codes[i], 0));
    if (++i == codes.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void FormatUnorderedMap(benchmark::State& state) {
  const std::vector<int>& codes = Data().rowCodes;
  const auto& map = Data().map;
  char buffer[LX_ERROR_BUFFER_SIZE];
  size_t i = 0;
  for (auto _ : state) {
    auto it = map.find(codes[i]);
    std::snprintf(buffer, sizeof buffer, "%s : %d -> %s", "LxBase::Open", codes[i], it->second);
    benchmark::DoNotOptimize(buffer);
    if (++i == codes.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

// Argument: 1 = codes with a row, 0 = codes without one.
BENCHMARK(TextLxError)->Name("Text/LxError")->Arg(1)->Arg(0);
BENCHMARK(TextUnorderedMap)->Name("Text/unordered_map")->Arg(1)->Arg(0);
BENCHMARK(FormatLxError)->Name("FormatPrefix/LxError");
BENCHMARK(FormatUnorderedMap)->Name("FormatPrefix/unordered_map");

BENCHMARK_MAIN();

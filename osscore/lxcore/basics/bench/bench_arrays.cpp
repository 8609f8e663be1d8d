// Arrays against the standard library, on the same 16-byte records:
//   Sort     LxVArray::Sort (SortList, 100,000; LxCList, 32,767) vs std::sort
//   Search   LxVArray::Search vs std::lower_bound
//   Append   LxCList / LxLList appends vs std::vector::push_back (the contents
//            of one run of each are checked against the source first)
//   Find     _LxBitString::Find over 1,000,000 bits vs a bit-by-bit loop
// The peer of every comparison is the implementation named "baseline".
// SortQuadratic shows the cost of the shapes that the exact sort still handles in
// quadratic time (at 10,000 elements, since 100,000 would take seconds).
//
// The allocator is told to keep freed memory and to serve large blocks from the
// heap: otherwise every fresh 0.5 MB block page-faults anew, and on a virtual
// machine those faults swamp what the appends themselves cost (by a factor that
// depends on which benchmark ran before).
#include <benchmark/benchmark.h>
#include <lxarrays.h>
#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Record {
  int32_t key;
  uint32_t payload;
  uint64_t filler;
};

int CompareRecords(const LxVArray*, const void* key, const void* element) {
  int32_t a = static_cast<const Record*>(key)->key;
  int32_t b = static_cast<const Record*>(element)->key;
  return a < b ? -1 : (a > b ? 1 : 0);
}

class OrderedCList : public LxCList {
 public:
  OrderedCList() : LxCList(sizeof(Record), 0, nullptr) { comparisonFunction = CompareRecords; }
};

std::vector<Record> Input(const std::string& shape, int n) {
  std::mt19937 rng(1234);
  std::vector<Record> out(n);
  for (int i = 0; i < n; ++i) {
    int32_t key;
    if (shape == "random") {
      key = static_cast<int32_t>(rng());
    } else if (shape == "ascending") {
      key = i;
    } else if (shape == "descending") {
      key = n - i;
    } else if (shape == "equal") {
      key = 42;
    } else if (shape == "smallest_last") {
      key = i == n - 1 ? -1 : i;
    } else {  // descending_pairs
      key = (n - i) / 2;
    }
    out[i] = Record{key, static_cast<uint32_t>(i), 0};
  }
  return out;
}

bool ByKey(const Record& a, const Record& b) { return a.key < b.key; }

template <class List>
void SortRepeatedly(benchmark::State& state, List& list, const std::vector<Record>& input) {
  for (auto _ : state) {
    state.PauseTiming();
    for (uint32_t i = 0; i < input.size(); ++i) list.Update(i, &input[i]);
    state.ResumeTiming();
    list.Sort(0);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}

void SortWithSortList(benchmark::State& state, const std::string& shape, int n) {
  auto input = Input(shape, n);
  SortList list(sizeof(Record), CompareRecords, 0);
  for (const Record& r : input) list.Insert(list.GetCount(), &r);
  SortRepeatedly(state, list, input);
}

void SortWithCList(benchmark::State& state, const std::string& shape, int n) {
  auto input = Input(shape, n);
  OrderedCList list;
  for (const Record& r : input) list.Insert(list.GetCount(), &r);
  SortRepeatedly(state, list, input);
}

void SortWithStd(benchmark::State& state, const std::string& shape, int n) {
  auto input = Input(shape, n);
  std::vector<Record> data;
  for (auto _ : state) {
    state.PauseTiming();
    data = input;
    state.ResumeTiming();
    std::sort(data.begin(), data.end(), ByKey);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

std::vector<Record> SortedKeys(int n) {
  std::vector<Record> out(n);
  for (int i = 0; i < n; ++i) out[i] = Record{2 * i, static_cast<uint32_t>(i), 0};
  return out;
}

std::vector<Record> Probes(int n) {
  std::mt19937 rng(99);
  std::vector<Record> out(4096);
  for (Record& r : out) r = Record{static_cast<int32_t>(rng() % (2u * n + 1)), 0, 0};
  return out;
}

template <class List>
void SearchIn(benchmark::State& state, List& list, int n) {
  for (const Record& r : SortedKeys(n)) list.Insert(list.GetCount(), &r);
  auto probes = Probes(n);
  size_t k = 0;
  uint32_t position;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.Search(&probes[k], &position, nullptr));
    benchmark::DoNotOptimize(position);
    k = (k + 1) & 4095;
  }
}

void SearchWithSortList(benchmark::State& state, int n) {
  SortList list(sizeof(Record), CompareRecords, 0);
  SearchIn(state, list, n);
}

void SearchWithCList(benchmark::State& state, int n) {
  OrderedCList list;
  SearchIn(state, list, n);
}

void SearchWithStd(benchmark::State& state, int n) {
  auto data = SortedKeys(n);
  auto probes = Probes(n);
  size_t k = 0;
  for (auto _ : state) {
    auto it = std::lower_bound(data.begin(), data.end(), probes[k], ByKey);
    bool found = it != data.end() && it->key == probes[k].key;
    benchmark::DoNotOptimize(found);
    benchmark::DoNotOptimize(it);
    k = (k + 1) & 4095;
  }
}

// The appended records come from an array, as when a caller copies records it
// already holds. (Filling one variable and appending it again and again would
// measure the processor's store-to-load forwarding stall on that variable.)
std::vector<Record> AppendSource(int n) { return Input("random", n); }

// Appends the first n records of `source` to `list`, as the timed loops do.
template <class List>
void AppendAll(List& list, const std::vector<Record>& source, int n) {
  for (int i = 0; i < n; ++i) list.Insert(list.GetCount(), &source[i]);
}

// Whether `list` holds exactly the first n records of `source`.
bool HoldsSource(const LxVArray& list, const std::vector<Record>& source, int n) {
  if (list.GetCount() != static_cast<uint32_t>(n)) return false;
  for (int i = 0; i < n; ++i) {
    if (std::memcmp(list.Element(i), &source[i], sizeof(Record)) != 0) return false;
  }
  return true;
}

void AppendToCList(benchmark::State& state, int n) {
  auto source = AppendSource(n);
  {
    LxCList check(sizeof(Record), 0, nullptr);
    AppendAll(check, source, n);
    if (!HoldsSource(check, source, n)) return state.SkipWithError("wrong contents");
  }
  for (auto _ : state) {
    LxCList list(sizeof(Record), 0, nullptr);
    AppendAll(list, source, n);
    benchmark::DoNotOptimize(list.Element(0));
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void AppendToLList(benchmark::State& state, int n) {
  auto source = AppendSource(n);
  {
    LxLList check(sizeof(Record), 0, nullptr);
    AppendAll(check, source, n);
    if (!HoldsSource(check, source, n)) return state.SkipWithError("wrong contents");
  }
  for (auto _ : state) {
    LxLList list(sizeof(Record), 0, nullptr);
    AppendAll(list, source, n);
    benchmark::DoNotOptimize(list.Element(0));
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void AppendToVector(benchmark::State& state, int n) {
  auto source = AppendSource(n);
  {
    std::vector<Record> check;
    for (int i = 0; i < n; ++i) check.push_back(source[i]);
    if (std::memcmp(check.data(), source.data(), n * sizeof(Record)) != 0) {
      return state.SkipWithError("wrong contents");
    }
  }
  for (auto _ : state) {
    std::vector<Record> list;
    for (int i = 0; i < n; ++i) list.push_back(source[i]);
    benchmark::DoNotOptimize(list.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// One set bit in about every 4,096: each Find skips a long clear stretch.
constexpr uint32_t kBits = 1000000;

void FillSparse(_LxBitString& bits) {
  std::mt19937 rng(5);
  for (int i = 0; i < 244; ++i) bits.Set(rng() % kBits);
}

void FindWithBitString(benchmark::State& state) {
  _LxBitString bits(kBits);
  FillSparse(bits);
  for (auto _ : state) {
    uint32_t position = 0, found = 0;
    while (bits.Find(position, 1, position) == 0) {
      ++found;
      ++position;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * kBits);
}

void FindWithLoop(benchmark::State& state) {
  _LxBitString bits(kBits);
  FillSparse(bits);
  const unsigned char* bytes = bits.GetBits();
  for (auto _ : state) {
    uint32_t found = 0;
    for (uint32_t i = 0; i < kBits; ++i) {
      if (bytes[i >> 3] & (1u << (i & 7))) ++found;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * kBits);
}

void Register() {
  for (std::string shape : {"random", "ascending", "descending", "equal"}) {
    benchmark::RegisterBenchmark(("Sort/SortList/" + shape + "_100000").c_str(), SortWithSortList, shape,
                                 100000)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Sort/baseline/" + shape + "_100000").c_str(), SortWithStd, shape, 100000)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Sort/LxCList/" + shape + "_32767").c_str(), SortWithCList, shape, 32767)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Sort/baseline/" + shape + "_32767").c_str(), SortWithStd, shape, 32767)
        ->Unit(benchmark::kMillisecond);
  }
  for (std::string shape : {"smallest_last", "descending_pairs"}) {
    benchmark::RegisterBenchmark(("SortQuadratic/SortList/" + shape + "_10000").c_str(), SortWithSortList,
                                 shape, 10000)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("SortQuadratic/baseline/" + shape + "_10000").c_str(), SortWithStd, shape,
                                 10000)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("Search/SortList/100000", SearchWithSortList, 100000);
  benchmark::RegisterBenchmark("Search/baseline/100000", SearchWithStd, 100000);
  benchmark::RegisterBenchmark("Search/LxCList/32767", SearchWithCList, 32767);
  benchmark::RegisterBenchmark("Search/baseline/32767", SearchWithStd, 32767);
  benchmark::RegisterBenchmark("Append/LxCList/32767", AppendToCList, 32767)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("Append/baseline/32767", AppendToVector, 32767)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("Append/LxLList/100000", AppendToLList, 100000)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("Append/baseline/100000", AppendToVector, 100000)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("Find/_LxBitString/1000000", FindWithBitString)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("Find/baseline/1000000", FindWithLoop)->Unit(benchmark::kMicrosecond);
}

}  // namespace

int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  Register();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

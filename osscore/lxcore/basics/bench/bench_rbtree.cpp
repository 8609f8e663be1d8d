// LxRBTree against std::multiset and boost::intrusive::multiset on the same data:
// 16-byte elements (8-byte key, 8-byte payload), unique random keys. The tree is
// used as a real caller uses it: keys are handed over through a one-entry source
// iterator and every comparison goes through the compare callback.
//
// Operations: RandomInsert, AscendingInsert, LookupPresent, LookupAbsent, Walk
// (in order, with the iterator), DeleteAll (random order); each at 1,000,
// 100,000 and 1,000,000 entries, timed per whole batch. LookupPresentShuffled
// and LookupAbsentShuffled repeat the lookups at 1,000 entries with the keys in
// a new order for every batch (see LookupKeys). Every implementation's
// results are checked against the same data: the keys in order after the first
// insertion batch, the payload sums of lookups and walks, and emptiness after
// the deletions. MemoryPerEntry reports
// the heap bytes per entry (chunk overhead included) as its time in ns.
// EntryCache compares the entry cache's get/unget with malloc/free of 32 bytes.
#include <benchmark/benchmark.h>
#include <lxcontainers.h>
#include <malloc.h>

#include <algorithm>
#include <boost/intrusive/set.hpp>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <vector>

namespace {

struct Item {
  uint64_t key;
  uint64_t payload;
};
bool operator<(const Item& a, const Item& b) { return a.key < b.key; }

struct BoostItem : boost::intrusive::set_base_hook<boost::intrusive::optimize_size<true>> {
  uint64_t key;
  uint64_t payload;
  friend bool operator<(const BoostItem& a, const BoostItem& b) { return a.key < b.key; }
};
using BoostSet = boost::intrusive::multiset<BoostItem>;

struct KeyLess {
  bool operator()(uint64_t k, const BoostItem& b) const { return k < b.key; }
  bool operator()(const BoostItem& b, uint64_t k) const { return b.key < k; }
};

// The data of one size: present keys (even) in random and ascending order and in
// a second random order for deletion, absent keys (odd) in random order, and the
// sum of the payloads (key ^ 1) that every lookup batch and walk must yield.
// For the shuffled lookups (kShuffledSize entries only), kOrders further
// orders of the present and of the absent keys.
struct Data {
  std::vector<uint64_t> random, ascending, absent, deletion;
  std::vector<std::vector<uint64_t>> presentOrders, absentOrders;
  uint64_t payloadSum = 0;
};
constexpr size_t kOrders = 64;
constexpr size_t kShuffledSize = 1000;

const Data& DataFor(size_t n) {
  static std::map<size_t, std::unique_ptr<Data>> cache;
  auto& d = cache[n];
  if (!d) {
    d = std::make_unique<Data>();
    const uint64_t m = 0x9E3779B97F4A7C15ull;  // odd: keeps parity, scatters order
    for (size_t i = 0; i < n; ++i) {
      d->random.push_back(2 * (i + 1) * m);
      d->absent.push_back((2 * (i + 1) + 1) * m);
    }
    std::mt19937_64 rng(n);
    std::shuffle(d->random.begin(), d->random.end(), rng);
    std::shuffle(d->absent.begin(), d->absent.end(), rng);
    d->deletion = d->random;
    std::shuffle(d->deletion.begin(), d->deletion.end(), rng);
    d->ascending = d->random;
    std::sort(d->ascending.begin(), d->ascending.end());
    for (uint64_t k : d->random) d->payloadSum += k ^ 1;
    if (n == kShuffledSize) {
      d->presentOrders.assign(kOrders, d->random);
      d->absentOrders.assign(kOrders, d->absent);
      for (size_t i = 0; i < kOrders; ++i) {
        std::shuffle(d->presentOrders[i].begin(), d->presentOrders[i].end(), rng);
        std::shuffle(d->absentOrders[i].begin(), d->absentOrders[i].end(), rng);
      }
    }
  }
  return *d;
}

// The keys of one lookup batch. A batch that repeats the same keys in the same
// order lets the branch predictor learn a small tree's descents by heart, which
// favours branching searches; Shuffled batches take the keys in a new order each
// time, as lookups without such a pattern see them.
template <bool Present, bool Shuffled>
const std::vector<uint64_t>& LookupKeys(const Data& d, size_t batch) {
  if (Shuffled) return (Present ? d.presentOrders : d.absentOrders)[batch % kOrders];
  return Present ? d.random : d.absent;
}

// ---------------------------------------------------------------------------
// LxRBTree as a caller drives it
// ---------------------------------------------------------------------------

int CompareItem(LxVContainer*, int* keyOrder, int* entryOrder, const LxVIterator*, const void* key,
                const void*, const void* element, LxVParameter*) {
  uint64_t a = *static_cast<const uint64_t*>(key);
  uint64_t b = static_cast<const Item*>(element)->key;
  *keyOrder = *entryOrder = (a > b) - (a < b);
  return 0;
}

// A tree with its callbacks and a reusable one-entry source over `probe`.
struct Tree {
  LxRBTree tree{sizeof(Item)};
  Item probe{0, 0};
  LxOneEntryContainer probeContainer{&probe, nullptr, 0};
  LxOneEntryIterator source{&probeContainer, nullptr};
  Tree() { tree.SetCompareFunc(CompareItem); }

  int Insert(uint64_t key) {
    probe = Item{key, key ^ 1};
    return tree.InsertElement(&source, nullptr, 0, nullptr);
  }
  int Search(uint64_t key, LxRBTreeIterator* result) {
    probe.key = key;
    return tree.SearchElement(&source, nullptr, 0, nullptr, result);
  }
  int Delete(uint64_t key) {
    probe.key = key;
    return tree.DeleteElement(&source, nullptr, 0, nullptr);
  }
};

void Fail(benchmark::State& state, const char* what) { state.SkipWithError(what); }

// Whether the keys met in order are exactly `want`.
template <class Range>
bool SameKeys(const Range& range, const std::vector<uint64_t>& want) {
  auto w = want.begin();
  for (const auto& item : range) {
    if (w == want.end() || item.key != *w) return false;
    ++w;
  }
  return w == want.end();
}

// The tree's keys in order through its iterator, as a caller walks it.
std::vector<Item> Walked(LxRBTree& tree) {
  std::vector<Item> out;
  LxRBTreeIterator it(&tree, nullptr);
  int s = 0;
  while (it.Next() == 0) out.push_back(*static_cast<const Item*>(it.GetElement(s, nullptr)));
  return out;
}

template <bool Ascending>
void LxInsert(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  const std::vector<uint64_t>& keys = Ascending ? d.ascending : d.random;
  bool checked = false;
  for (auto _ : state) {
    state.PauseTiming();
    auto t = std::make_unique<Tree>();
    state.ResumeTiming();
    for (uint64_t k : keys)
      if (t->Insert(k) != 0) return Fail(state, "insert failed");
    state.PauseTiming();
    if (t->tree.GetCount() != keys.size()) return Fail(state, "count");
    if (!checked && (t->tree.CheckTree(nullptr) != 0 || !SameKeys(Walked(t->tree), d.ascending))) {
      return Fail(state, "wrong tree");
    }
    checked = true;
    t.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * keys.size());
}

template <bool Ascending>
void StdInsert(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  const std::vector<uint64_t>& keys = Ascending ? d.ascending : d.random;
  bool checked = false;
  for (auto _ : state) {
    state.PauseTiming();
    auto s = std::make_unique<std::multiset<Item>>();
    state.ResumeTiming();
    for (uint64_t k : keys) s->insert(Item{k, k ^ 1});
    state.PauseTiming();
    if (!checked && !SameKeys(*s, d.ascending)) return Fail(state, "wrong set");
    checked = true;
    s.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * keys.size());
}

template <bool Ascending>
void BoostInsert(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  const std::vector<uint64_t>& keys = Ascending ? d.ascending : d.random;
  std::vector<BoostItem> items(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) items[i].key = keys[i], items[i].payload = keys[i] ^ 1;
  bool checked = false;
  for (auto _ : state) {
    BoostSet s;
    for (BoostItem& it : items) s.insert(it);
    state.PauseTiming();
    if (!checked && !SameKeys(s, d.ascending)) return Fail(state, "wrong set");
    checked = true;
    s.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * keys.size());
}

template <bool Present, bool Shuffled = false>
void LxLookup(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  Tree t;
  for (uint64_t k : d.random) t.Insert(k);
  LxRBTreeIterator result(&t.tree, nullptr);
  int s = 0;
  size_t batch = 0;
  for (auto _ : state) {
    uint64_t sum = 0;
    for (uint64_t k : LookupKeys<Present, Shuffled>(d, batch++)) {
      int r = t.Search(k, &result);
      if (Present) {
        if (r != 0) return Fail(state, "lookup missed");
        sum += static_cast<const Item*>(result.GetElement(s, nullptr))->payload;
      } else if (r != LX_CONTAINER_NOT_FOUND) {
        return Fail(state, "lookup hit");
      }
    }
    if (Present && sum != d.payloadSum) return Fail(state, "payloads");
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * d.random.size());
}

template <bool Present, bool Shuffled = false>
void StdLookup(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  std::multiset<Item> set;
  for (uint64_t k : d.random) set.insert(Item{k, k ^ 1});
  size_t batch = 0;
  for (auto _ : state) {
    uint64_t sum = 0;
    for (uint64_t k : LookupKeys<Present, Shuffled>(d, batch++)) {
      auto it = set.find(Item{k, 0});
      if ((it != set.end()) != Present) return Fail(state, "lookup");
      if (Present) sum += it->payload;
    }
    if (Present && sum != d.payloadSum) return Fail(state, "payloads");
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * d.random.size());
}

template <bool Present, bool Shuffled = false>
void BoostLookup(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  std::vector<BoostItem> items(d.random.size());
  BoostSet set;
  for (size_t i = 0; i < items.size(); ++i) {
    items[i].key = d.random[i];
    items[i].payload = d.random[i] ^ 1;
    set.insert(items[i]);
  }
  size_t batch = 0;
  for (auto _ : state) {
    uint64_t sum = 0;
    for (uint64_t k : LookupKeys<Present, Shuffled>(d, batch++)) {
      auto it = set.find(k, KeyLess());
      if ((it != set.end()) != Present) return Fail(state, "lookup");
      if (Present) sum += it->payload;
    }
    if (Present && sum != d.payloadSum) return Fail(state, "payloads");
    benchmark::DoNotOptimize(sum);
  }
  set.clear();
  state.SetItemsProcessed(state.iterations() * d.random.size());
}

void LxWalk(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  Tree t;
  for (uint64_t k : d.random) t.Insert(k);
  for (auto _ : state) {
    LxRBTreeIterator it(&t.tree, nullptr);
    uint64_t sum = 0;
    int s = 0;
    while (it.Next() == 0) sum += static_cast<const Item*>(it.GetElement(s, nullptr))->payload;
    if (sum != d.payloadSum) return Fail(state, "payloads");
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * d.random.size());
}

void StdWalk(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  std::multiset<Item> set;
  for (uint64_t k : d.random) set.insert(Item{k, k ^ 1});
  for (auto _ : state) {
    uint64_t sum = 0;
    for (const Item& i : set) sum += i.payload;
    if (sum != d.payloadSum) return Fail(state, "payloads");
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * d.random.size());
}

void BoostWalk(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  std::vector<BoostItem> items(d.random.size());
  BoostSet set;
  for (size_t i = 0; i < items.size(); ++i) {
    items[i].key = d.random[i];
    items[i].payload = d.random[i] ^ 1;
    set.insert(items[i]);
  }
  for (auto _ : state) {
    uint64_t sum = 0;
    for (const BoostItem& i : set) sum += i.payload;
    if (sum != d.payloadSum) return Fail(state, "payloads");
    benchmark::DoNotOptimize(sum);
  }
  set.clear();
  state.SetItemsProcessed(state.iterations() * d.random.size());
}

void LxDeleteAll(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto t = std::make_unique<Tree>();
    for (uint64_t k : d.random) t->Insert(k);
    state.ResumeTiming();
    for (uint64_t k : d.deletion)
      if (t->Delete(k) != 0) return Fail(state, "delete failed");
    state.PauseTiming();
    if (t->tree.GetCount() != 0) return Fail(state, "not empty");
    t.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * d.random.size());
}

void StdDeleteAll(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto s = std::make_unique<std::multiset<Item>>();
    for (uint64_t k : d.random) s->insert(Item{k, k ^ 1});
    state.ResumeTiming();
    for (uint64_t k : d.deletion) s->erase(s->find(Item{k, 0}));
    state.PauseTiming();
    if (!s->empty()) return Fail(state, "not empty");
    s.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * d.random.size());
}

void BoostDeleteAll(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  std::vector<BoostItem> items(d.random.size());
  for (size_t i = 0; i < items.size(); ++i) items[i].key = d.random[i], items[i].payload = d.random[i] ^ 1;
  for (auto _ : state) {
    state.PauseTiming();
    BoostSet s;
    for (BoostItem& it : items) s.insert(it);
    state.ResumeTiming();
    for (uint64_t k : d.deletion) s.erase(s.find(k, KeyLess()));
    state.PauseTiming();
    if (!s.empty()) return Fail(state, "not empty");
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * d.random.size());
}

// Heap bytes in use, chunk headers and padding included.
size_t HeapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd; }

// Reports bytes per entry as the iteration time in ns (one iteration).
void ReportBytes(benchmark::State& state, double bytesPerEntry) {
  for (auto _ : state) state.SetIterationTime(bytesPerEntry * 1e-9);
  state.counters["bytes_per_entry"] = bytesPerEntry;
}

void LxMemory(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  size_t before = HeapInUse();
  auto t = std::make_unique<Tree>();
  for (uint64_t k : d.random) t->Insert(k);
  double heap = double(HeapInUse() - before) / d.random.size();
  const LxEntryCache& cache = t->tree.GetEntryCache();
  state.counters["block_bytes_per_entry"] =
      double(cache.CountBlocks() * cache.GetBlockSize()) / d.random.size();
  ReportBytes(state, heap);
}

void StdMemory(benchmark::State& state) {
  const Data& d = DataFor(state.range(0));
  size_t before = HeapInUse();
  auto s = std::make_unique<std::multiset<Item>>();
  for (uint64_t k : d.random) s->insert(Item{k, k ^ 1});
  state.counters["block_bytes_per_entry"] = double(sizeof(Item) + 4 * sizeof(void*));  // node as requested
  ReportBytes(state, double(HeapInUse() - before) / d.random.size());
}

void BoostMemory(benchmark::State& state) {
  ReportBytes(state, double(sizeof(BoostItem)));  // the caller's own storage, no heap of its own
}

// Hands out a batch of entries and takes them all back.
constexpr int kBatch = 1000;

void CacheGetUnget(benchmark::State& state) {
  LxEntryCache cache(32, 0, 8);
  std::vector<void*> got(kBatch);
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) got[i] = cache.GetEntry();
    benchmark::DoNotOptimize(got.data());
    for (int i = 0; i < kBatch; ++i) cache.UngetEntry(got[i]);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void MallocFree(benchmark::State& state) {
  std::vector<void*> got(kBatch);
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) got[i] = std::malloc(32);
    benchmark::DoNotOptimize(got.data());
    for (int i = 0; i < kBatch; ++i) std::free(got[i]);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

#define SIZES ->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond)
#define SHUFFLED ->Arg(kShuffledSize)->Unit(benchmark::kMicrosecond)

BENCHMARK(LxInsert<false>)->Name("RandomInsert/LxRBTree") SIZES;
BENCHMARK(StdInsert<false>)->Name("RandomInsert/std_multiset") SIZES;
BENCHMARK(BoostInsert<false>)->Name("RandomInsert/boost_intrusive") SIZES;
BENCHMARK(LxInsert<true>)->Name("AscendingInsert/LxRBTree") SIZES;
BENCHMARK(StdInsert<true>)->Name("AscendingInsert/std_multiset") SIZES;
BENCHMARK(BoostInsert<true>)->Name("AscendingInsert/boost_intrusive") SIZES;
BENCHMARK(LxLookup<true>)->Name("LookupPresent/LxRBTree") SIZES;
BENCHMARK(StdLookup<true>)->Name("LookupPresent/std_multiset") SIZES;
BENCHMARK(BoostLookup<true>)->Name("LookupPresent/boost_intrusive") SIZES;
BENCHMARK(LxLookup<false>)->Name("LookupAbsent/LxRBTree") SIZES;
BENCHMARK(StdLookup<false>)->Name("LookupAbsent/std_multiset") SIZES;
BENCHMARK(BoostLookup<false>)->Name("LookupAbsent/boost_intrusive") SIZES;
BENCHMARK(LxLookup<true, true>)->Name("LookupPresentShuffled/LxRBTree") SHUFFLED;
BENCHMARK(StdLookup<true, true>)->Name("LookupPresentShuffled/std_multiset") SHUFFLED;
BENCHMARK(BoostLookup<true, true>)->Name("LookupPresentShuffled/boost_intrusive") SHUFFLED;
BENCHMARK(LxLookup<false, true>)->Name("LookupAbsentShuffled/LxRBTree") SHUFFLED;
BENCHMARK(StdLookup<false, true>)->Name("LookupAbsentShuffled/std_multiset") SHUFFLED;
BENCHMARK(BoostLookup<false, true>)->Name("LookupAbsentShuffled/boost_intrusive") SHUFFLED;
BENCHMARK(LxWalk)->Name("Walk/LxRBTree") SIZES;
BENCHMARK(StdWalk)->Name("Walk/std_multiset") SIZES;
BENCHMARK(BoostWalk)->Name("Walk/boost_intrusive") SIZES;
BENCHMARK(LxDeleteAll)->Name("DeleteAll/LxRBTree") SIZES;
BENCHMARK(StdDeleteAll)->Name("DeleteAll/std_multiset") SIZES;
BENCHMARK(BoostDeleteAll)->Name("DeleteAll/boost_intrusive") SIZES;
BENCHMARK(LxMemory)->Name("MemoryPerEntry/LxRBTree")->Arg(1000000)->UseManualTime()->Iterations(1);
BENCHMARK(StdMemory)->Name("MemoryPerEntry/std_multiset")->Arg(1000000)->UseManualTime()->Iterations(1);
BENCHMARK(BoostMemory)->Name("MemoryPerEntry/boost_intrusive")->Arg(1000000)->UseManualTime()->Iterations(1);
BENCHMARK(CacheGetUnget)->Name("EntryCache/LxEntryCache/32");
BENCHMARK(MallocFree)->Name("EntryCache/malloc_free/32");

}  // namespace

BENCHMARK_MAIN();

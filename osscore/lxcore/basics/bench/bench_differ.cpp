// The container differ over memory-file sequences of int32 records, against a
// peer that counts both sequences in a std::unordered_map and reads the
// difference off the counters.
//
// Cases (argument: records per sequence):
//   Equal     the same records in the same order: the differ's walk in step.
//   Reordered the second is the first rotated by half: everything disagrees and
//             goes through the diff list (fraction 1).
//   Parked    as Reordered with fraction 0: no comparisons at all.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "lxcontainers.h"
#include "lxmemfile.h"

namespace {

std::vector<int32_t> Values(int64_t n) {
  std::vector<int32_t> v(static_cast<size_t>(n));
  uint32_t x = 12345;
  for (int32_t& e : v) {
    x = x * 1103515245u + 12345u;
    e = static_cast<int32_t>(x >> 8);
  }
  return v;
}

class Records {
 public:
  explicit Records(const std::vector<int32_t>& values) : file_(0, 4096) {
    file_.Put(values.data(), 0, static_cast<int32_t>(values.size() * 4));
    file_.Seek(0, 0);
    container_.reset(new LxMemFileContainer(&file_, 4, static_cast<uint32_t>(values.size())));
  }
  LxMemFileContainer* container() { return container_.get(); }

 private:
  MemFile file_;
  std::unique_ptr<LxMemFileContainer> container_;
};

int32_t ValueOf(const LxVIterator* source) {
  int status = 0;
  int32_t v = 0;
  const void* key = source->GetKey(status, nullptr);
  if (key) std::memcpy(&v, key, 4);
  return v;
}

// A diff list over std::map, as a caller of the differ would supply one.
class MapList : public LxVContainer {
 public:
  MapList() : LxVContainer(4, 0) {}
  std::map<int32_t, int32_t> entries;
};

class MapListIterator : public LxDiffListIteratorInterface {
 public:
  explicit MapListIterator(MapList* list) : LxDiffListIteratorInterface(list), list_(list) {}
  int SearchElement(const LxVIterator* source, LxVParameter*, unsigned short, LxVParameter*) override {
    pos_ = list_->entries.find(ValueOf(source));
    return status = pos_ == list_->entries.end() ? LX_CONTAINER_NOT_FOUND : 0;
  }
  int InsertElement(const LxVIterator* source, LxVParameter*, unsigned short, LxVParameter* param) override {
    list_->entries.emplace(ValueOf(source), (param->callerFlags & 1) ? 1 : -1);
    return 0;
  }
  int DeleteElement(unsigned short, LxVParameter*) override {
    list_->entries.erase(pos_);
    return status = LX_CONTAINER_BEHIND_LAST;
  }
  int First() override {
    pos_ = list_->entries.begin();
    return status = pos_ == list_->entries.end() ? LX_CONTAINER_BEFORE_FIRST : 0;
  }
  int Next() override {
    ++pos_;
    return status = pos_ == list_->entries.end() ? LX_CONTAINER_BEHIND_LAST : 0;
  }
  const void* GetEntry(int& s, LxVParameter*) const override {
    s = status;
    return status == 0 ? &pos_->first : nullptr;
  }
  const void* GetKey(int& s, LxVParameter* p) const override { return GetEntry(s, p); }
  int32_t* GetDiffCount() override { return &pos_->second; }

 private:
  MapList* list_;
  std::map<int32_t, int32_t>::iterator pos_;
};

class Sink : public LxVContainer {
 public:
  Sink() : LxVContainer(4, 0) {}
  int InsertElement(const LxVIterator*, LxVParameter*, unsigned short, LxVParameter*) override {
    ++count;
    return 0;
  }
};

class Differ : public LxVContainerDiffer {
 public:
  explicit Differ(LxDiffListIteratorInterface* list) { diffList = list; }
};

void RunDiffer(benchmark::State& state, const std::vector<int32_t>& a, const std::vector<int32_t>& b,
               double fraction) {
  Records ra(a), rb(b);
  for (auto _ : state) {
    MapList list;
    MapListIterator listIt(&list);
    Sink onlyA, onlyB;
    LxMemFileIterator ia(ra.container()), ib(rb.container());
    Differ differ(&listIt);
    benchmark::DoNotOptimize(differ.Diff(&ia, &ib, &onlyA, &onlyB, fraction));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(a.size() + b.size()));
}

void RunCounting(benchmark::State& state, const std::vector<int32_t>& a, const std::vector<int32_t>& b) {
  for (auto _ : state) {
    std::unordered_map<int32_t, int32_t> balance;
    balance.reserve(a.size());
    for (int32_t v : a) --balance[v];
    for (int32_t v : b) ++balance[v];
    size_t onlyA = 0, onlyB = 0;
    for (const auto& e : balance) {
      if (e.second < 0) onlyA += static_cast<size_t>(-e.second);
      if (e.second > 0) onlyB += static_cast<size_t>(e.second);
    }
    benchmark::DoNotOptimize(onlyA + onlyB);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(a.size() + b.size()));
}

std::vector<int32_t> Rotated(std::vector<int32_t> v) {
  std::rotate(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
  return v;
}

void Equal_differ(benchmark::State& s) { RunDiffer(s, Values(s.range(0)), Values(s.range(0)), 1.0); }
void Equal_map(benchmark::State& s) { RunCounting(s, Values(s.range(0)), Values(s.range(0))); }
void Reordered_differ(benchmark::State& s) {
  RunDiffer(s, Values(s.range(0)), Rotated(Values(s.range(0))), 1.0);
}
void Reordered_map(benchmark::State& s) { RunCounting(s, Values(s.range(0)), Rotated(Values(s.range(0)))); }
void Parked_differ(benchmark::State& s) {
  RunDiffer(s, Values(s.range(0)), Rotated(Values(s.range(0))), 0.0);
}
void Parked_map(benchmark::State& s) { RunCounting(s, Values(s.range(0)), Rotated(Values(s.range(0)))); }

}  // namespace

BENCHMARK(Equal_differ)->Name("Equal/differ")->Arg(1000)->Arg(100000);
BENCHMARK(Equal_map)->Name("Equal/unordered_map")->Arg(1000)->Arg(100000);
BENCHMARK(Reordered_differ)->Name("Reordered/differ")->Arg(1000)->Arg(100000);
BENCHMARK(Reordered_map)->Name("Reordered/unordered_map")->Arg(1000)->Arg(100000);
BENCHMARK(Parked_differ)->Name("Parked/differ")->Arg(1000)->Arg(100000);
BENCHMARK(Parked_map)->Name("Parked/unordered_map")->Arg(1000)->Arg(100000);

BENCHMARK_MAIN();

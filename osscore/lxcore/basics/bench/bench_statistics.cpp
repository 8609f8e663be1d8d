// Cost of an enabled statistics update against a plain increment of an int32_t
// in memory. The program installs the counters in a private registry store and
// enables the statistics on a private block name before any benchmark runs, so
// it never touches the machine's real store or block.
#include <benchmark/benchmark.h>
#include <lxstatistics.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int32_t g_plain = 0;

void Increment_plain(benchmark::State& state) {
  for (auto _ : state) {
    ++g_plain;
    benchmark::ClobberMemory();
  }
}

void Increment_IncCommits(benchmark::State& state) {
  LxStatistics* s = Statistics();
  for (auto _ : state) {
    s->IncCommits();
    benchmark::ClobberMemory();
  }
}

void Add_plain(benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    g_plain += n;
    benchmark::ClobberMemory();
  }
}

void Add_AddLocks(benchmark::State& state) {
  LxStatistics* s = Statistics();
  const int32_t n = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    s->AddLocks(n);
    benchmark::ClobberMemory();
  }
}

// What a monitor pays per sample.
void Collect_PrfData(benchmark::State& state) {
  unsigned char buf[792];
  char16_t global[] = u"Global";
  for (auto _ : state) {
    void* data = buf;
    uint32_t size = sizeof buf;
    uint32_t objects = 0;
    benchmark::DoNotOptimize(PrfData_Collect(global, &data, &size, &objects));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 792);
}

BENCHMARK(Increment_plain)->Name("Increment/plain_int32");
BENCHMARK(Increment_IncCommits)->Name("Increment/IncCommits");
BENCHMARK(Add_plain)->Name("Add/plain_int32")->Arg(5);
BENCHMARK(Add_AddLocks)->Name("Add/AddLocks")->Arg(5);
BENCHMARK(Collect_PrfData)->Name("Collect/PrfData_Collect");

}  // namespace

int main(int argc, char** argv) {
  char dir[] = "/tmp/lxbbench.XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string shm = "/lxbbench-" + std::to_string(getpid());
  setenv("ORVANTA_STATE_DIR", dir, 1);
  setenv("ORVANTA_REGISTRY", (std::string(dir) + "/registry.db").c_str(), 1);
  setenv("ORVANTA_LOCK_DIR", dir, 1);
  setenv("ORVANTA_SHM_NAME", shm.c_str(), 1);
  RegisterStatistics();
  Statistics()->Enable();
  PrfData_Open(nullptr);
  int rc = 0;
  if (!Statistics()->GetEnabled()) {
    std::fprintf(stderr, "bench_statistics: the statistics could not be enabled\n");
    rc = 1;
  } else {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
  }
  shm_unlink(shm.c_str());
  std::system((std::string("rm -rf '") + dir + "'").c_str());
  return rc;
}

// Server statistics: enable them, count, and read them back as a performance
// monitor in another process would, through the performance-data entry points.
//
// The quick start keeps its counters apart from any real server on this
// machine: while the step runs, the registry store, the shared block's name and
// the lock directory point into a temporary directory, and afterwards they are
// set back and the temporary files removed.
#include <lxbasics.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "demo.h"

namespace {

uint32_t Get32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

// Short labels of counter positions 0..14; a monitor takes the full names from
// the registry's Perflib texts (lxtool perf collect does).
const char* const kLabels[15] = {
    "transactions",  "commits", "aborts",    "C/S requests",        "failed C/S requests",
    "notifications", "queries", "clients",   "object descriptions", "extents",
    "locks",         "watches", "refreshed", "delivered",           "internal transactions"};

int Run() {
  // 1. Install the counters (registry) and enable the statistics as the writer.
  RegisterStatistics();
  LxStatistics* stats = Statistics();
  stats->Enable();
  std::printf("statistics enabled: %s\n", stats->GetEnabled() ? "yes" : "no");
  if (!stats->GetEnabled()) return 1;

  // 2. Count what a server would.
  stats->IncClients();
  stats->IncClients();
  for (int i = 0; i < 3; ++i) stats->IncCommits();
  stats->IncAborts();
  stats->AddLocks(5);
  stats->AddDeliveredObjects(120);
  std::printf("counted: clients %d, commits %d, locks %d\n", stats->GetClients(), stats->GetCommits(),
              stats->GetLocks());

  // 3. Collect the block as a monitor does: open, collect "Global", close.
  PrfData_Open(nullptr);
  std::vector<unsigned char> buffer(1024);
  void* data = buffer.data();
  uint32_t bytes = static_cast<uint32_t>(buffer.size());
  uint32_t objects = 0;
  char16_t global[] = u"Global";
  uint32_t rc = PrfData_Collect(global, &data, &bytes, &objects);
  PrfData_Close();
  std::printf("collect: result %u, %u object(s), %u bytes\n", rc, objects, bytes);
  if (rc != 0 || objects != 1 || bytes != 792) return 1;

  // 4. Decode the performance-data object: header, definitions, counter block.
  const unsigned char* obj = buffer.data();
  const uint32_t definitionLength = Get32(obj + 4), headerLength = Get32(obj + 8), counters = Get32(obj + 32);
  std::printf("object: name index %u, %u counters\n", Get32(obj + 12), counters);
  for (uint32_t k = 0; k < counters && k < 15; ++k) {
    const unsigned char* def = obj + headerLength + 40 * k;
    const uint32_t type = Get32(def + 28);
    const int32_t value = static_cast<int32_t>(Get32(obj + definitionLength + Get32(def + 36)));
    std::printf("  %5u  %-22s %-5s %d\n", Get32(def + 4), kLabels[k], type == 0x10410400 ? "rate" : "raw",
                value);
  }
  const int32_t commits = static_cast<int32_t>(Get32(obj + definitionLength + 8 + 8 * 1));
  const int32_t locks = static_cast<int32_t>(Get32(obj + definitionLength + 8 + 8 * 10));
  return commits == 3 && locks == 5 ? 0 : 1;
}

int StatisticsDemo() {
  char dir[] = "/tmp/lxbquickstart.XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string block = "/lxbquickstart-" + std::to_string(getpid());
  int result;
  {
    ScopedEnv registry("ORVANTA_REGISTRY", std::string(dir) + "/registry.db");
    ScopedEnv shm("ORVANTA_SHM_NAME", block);
    ScopedEnv locks("ORVANTA_LOCK_DIR", dir);
    result = Run();
  }
  // The block stays mapped in this process until it ends; only its name goes.
  shm_unlink(block.c_str());
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return result;
}

}  // namespace

QUICKSTART_DEMO(statistics, 70, "Server statistics and the performance-data provider", StatisticsDemo);

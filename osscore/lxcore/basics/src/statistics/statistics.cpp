#include <mutex>

#include "lxstatistics.h"
#include "statistics/prfdata.h"

namespace {

LxStatistics g_statistics;

// Where the slot addresses point once the statistics stop publishing. Never
// freed: an update may still hold one of these addresses.
int32_t g_unpublished[LxStatistics::kCounterCount];

// Reaches the protected members of the one object from free functions here.
struct StatisticsAccess : LxStatistics {
  static unsigned short& Enabled(LxStatistics& s) { return s.*(&StatisticsAccess::enabled); }
  static int32_t** Slots() { return slots; }
};

}  // namespace

int32_t* LxStatistics::slots[LxStatistics::kCounterCount] = {};

LxStatistics* Statistics() { return &g_statistics; }

void LxStatistics::Enable() {
  std::lock_guard<std::mutex> hold(lxstats::EnableMutex());
  if (GetEnabled()) return;
  lxstats::PrfData& provider = lxstats::PrfDataProvider();
  if (provider.Activate(true) != 0) return;
  int32_t* found[kCounterCount];
  for (int k = 0; k < kCounterCount; ++k) {
    found[k] = reinterpret_cast<int32_t*>(provider.CounterSlot(101 + static_cast<uint32_t>(k), 0));
    if (found[k] == nullptr) return;
  }
  for (int k = 0; k < kCounterCount; ++k) __atomic_store_n(&slots[k], found[k], __ATOMIC_RELAXED);
  Clear();
  __atomic_store_n(&enabled, static_cast<unsigned short>(1), __ATOMIC_RELEASE);
}

void LxStatistics::Clear() {
  int32_t* counts[kCounterCount] = {&transactions,
                                    &commits,
                                    &aborts,
                                    &csRequests,
                                    &failedCsRequests,
                                    &serverNotifications,
                                    &queries,
                                    &clients,
                                    &objDescs,
                                    &extents,
                                    &locks,
                                    &watches,
                                    &refreshedObjects,
                                    &deliveredObjects,
                                    &internalTransactions};
  for (int32_t* c : counts) __atomic_store_n(c, 0, __ATOMIC_RELAXED);
  lxstats::PrfData& provider = lxstats::PrfDataProvider();
  for (int k = 0; k < kCounterCount; ++k) {
    auto* slot = reinterpret_cast<int32_t*>(provider.CounterSlot(101 + static_cast<uint32_t>(k), 0));
    if (slot != nullptr) __atomic_store_n(slot, 0, __ATOMIC_RELAXED);
  }
}

namespace lxstats {

std::mutex& EnableMutex() {
  static std::mutex mutex;
  return mutex;
}

void StopPublishing() {
  __atomic_store_n(&StatisticsAccess::Enabled(g_statistics), static_cast<unsigned short>(0),
                   __ATOMIC_RELEASE);
  for (int k = 0; k < LxStatistics::kCounterCount; ++k)
    __atomic_store_n(&StatisticsAccess::Slots()[k], &g_unpublished[k], __ATOMIC_RELAXED);
}

}  // namespace lxstats

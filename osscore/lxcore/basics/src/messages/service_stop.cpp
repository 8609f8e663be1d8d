// The process-wide service stop flag.
#include <atomic>

#include "lxmessages.h"

namespace {
// 0 at load, 1 once a stop was requested. Atomic, so that threads polling it
// without a lock see either value and nothing torn.
std::atomic<int32_t> g_serviceStopped{0};
}  // namespace

void StopVESK_Service() { g_serviceStopped.store(1, std::memory_order_release); }

int VESK_Service_hasStopped() { return g_serviceStopped.load(std::memory_order_acquire); }

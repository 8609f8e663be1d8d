// The host name and the server's priority-boost setting.
#include <atomic>
#include <cstring>
#include <string>

#include "frame/config.h"
#include "lxframe.h"
#include "lxplatform.h"
#include "os/host.h"

namespace {

// 0xFFFFFFFF until the configuration has been asked, then 0 or 1.
std::atomic<uint32_t> g_priorityBoost{0xFFFFFFFFu};

}  // namespace

int LxGetHostname(char* buffer, int size) {
  if (buffer == nullptr || size < 1) return 0;
  std::string name;
  if (!lxos::HostName(&name) || name.size() >= static_cast<size_t>(size)) return 0;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return 0;
}

unsigned short GetDisableWin32PriorityBoost() {
  uint32_t cached = g_priorityBoost.load(std::memory_order_relaxed);
  if (cached <= 1) return static_cast<unsigned short>(cached);
  short flag = 0;
  LxConfig* config = DefaultConfig(LX_QUERY_CONFIG);
  if (config == nullptr ||
      config->ReadFlag("disableWin32PriorityBoost", &flag, lxframe::kSectionServer) != 0) {
    flag = 0;
  }
  uint32_t answer = flag != 0 ? 1 : 0;
  g_priorityBoost.store(answer, std::memory_order_relaxed);
  return static_cast<unsigned short>(answer);
}

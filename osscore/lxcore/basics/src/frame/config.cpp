#include "frame/config.h"

namespace lxframe {

const char* const kSectionDebug[] = {"debug", nullptr};
const char* const kSectionDebugMemory[] = {"debug", "memory", nullptr};
const char* const kSectionTop[] = {nullptr};
const char* const kSectionTest[] = {"test", nullptr};
const char* const kSectionServer[] = {"servers", "lxserver", nullptr};

}  // namespace lxframe

namespace {
LxConfig* g_config = nullptr;
}

LxConfig::~LxConfig() = default;

LxConfig* DefaultConfig(LxConfig* config) {
  if (config != LX_QUERY_CONFIG) g_config = config;
  return g_config;
}

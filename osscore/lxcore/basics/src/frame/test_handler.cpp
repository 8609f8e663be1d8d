// The failure injector that other modules call on events they want to be able to
// fail in tests.
#include "frame/config.h"
#include "lxframe.h"

namespace {
short g_testConfigRead = 0;
int32_t g_failuresLeft = 0;
}  // namespace

int32_t TestHandler(uint32_t kind, void*, void*) {
  if (g_testConfigRead == 0) {
    LxConfig* config = DefaultConfig(LX_QUERY_CONFIG);
    if (config != nullptr) config->ReadInt("growErrorCounter", &g_failuresLeft, lxframe::kSectionTest);
    g_testConfigRead = 1;
  }
  if (kind == 1 && g_failuresLeft > 0) {
    --g_failuresLeft;
    return LX_TEST_HANDLER_FAILURE;
  }
  return 0;
}

int32_t TestHandlerReset() {
  g_testConfigRead = 0;
  g_failuresLeft = 0;
  return 0;
}

// The pass-through to an optional memory-checking function, loaded once from the
// library that the configuration names (debug/memory on, debug/memory/library and
// debug/memory/function, defaults "MSVCRT" and "VeskMemoryCheck"). The library
// name is handed to the module loader as it stands: a bare name goes through the
// system's own search, a name with a slash is a path.
#include <cstdio>

#include "frame/config.h"
#include "lxframe.h"
#include "os/diag.h"
#include "os/dynlib.h"

namespace {

typedef int32_t (*MemoryCheckFunc)(uintptr_t, uintptr_t, uintptr_t, uintptr_t);

int32_t g_resolutionAttempted = 0;
MemoryCheckFunc g_checkFunc = nullptr;

void ResolveCheckFunction(LxConfig* config) {
  g_checkFunc = nullptr;
  short on = 0;
  if (config->ReadFlag("memory", &on, lxframe::kSectionDebug) != 0 || on == 0) return;
  char library[1024] = "";
  char function[1024] = "";
  char* libraryPtr = library;
  char* functionPtr = function;
  if (config->ReadString("library", &libraryPtr, lxframe::kSectionDebugMemory) != 0) {
    std::snprintf(library, sizeof library, "%s", "MSVCRT");
    libraryPtr = library;
  }
  if (config->ReadString("function", &functionPtr, lxframe::kSectionDebugMemory) != 0) {
    std::snprintf(function, sizeof function, "%s", "VeskMemoryCheck");
    functionPtr = function;
  }
  void* module = libraryPtr[0] ? lxos::OpenModule(libraryPtr) : nullptr;
  if (module == nullptr) {
    lxos::DebugOutput("unable to load the memory checking dll");
    return;
  }
  g_checkFunc = reinterpret_cast<MemoryCheckFunc>(lxos::ModuleSymbol(module, functionPtr));
  lxos::DebugOutput(g_checkFunc ? "memory checking enabled" : "unable to get the memory check function");
}

}  // namespace

int32_t VeskCheckMemory(uintptr_t a, uintptr_t b, uintptr_t c, uintptr_t d) {
  if (g_resolutionAttempted == 0) {
    g_resolutionAttempted = 1;
    LxConfig* config = DefaultConfig(LX_QUERY_CONFIG);
    if (config != nullptr) ResolveCheckFunction(config);
  }
  return g_checkFunc ? g_checkFunc(a, b, c, d) : LX_MEMORY_CHECK_NONE;
}

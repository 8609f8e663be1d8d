// lxtool describe: what each module reports about itself through LxDescribeDll.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "lxmessages.h"
#include "lxmodules.h"

namespace lxtool {

const char kDescribeHelp[] =
    "usage: lxtool describe MODULE...\n"
    "\n"
    "Loads each MODULE as the library's module loader does, asks it for its\n"
    "description (its LxDescribeDll) and unloads it again; a text longer than 255\n"
    "characters is cut there. MODULE is a module name such as lx95Cbs71,\n"
    "optionally with a directory; a trailing \".so\" is dropped.\n"
    "The loader looks in the configured module directory, beside the library, in\n"
    "the system's library search and in the directories of PATH.\n"
    "\n"
    "Exit status: 0 when every module described itself, 1 otherwise, 2 usage.\n";

namespace {

// A module's text as shown: at most 255 characters, as much as the runtime's
// own buffers for these texts hold; a null text is empty.
std::string Cut(const char* text) {
  return text == nullptr ? std::string() : std::string(text, strnlen(text, 255));
}

int Describe(const char* argument) {
  std::string name(argument);
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0) name.resize(name.size() - 3);

  LxModuleHandle* module = nullptr;
  int rc = LxDynamicLoader::LoadModule(name.c_str(), 0, module);
  if (rc != 0) {
    // The loader's own reason: the last place it tried.
    std::string reason = LxDynamicLoader::GetErrText();
    return Fail("%s: %s (%d): %s", argument, LxError(nullptr, nullptr, rc, 1), rc, reason.c_str());
  }
  const std::string path = LxDynamicLoader::GetPhysicalModuleName(module);
  void* entry = nullptr;
  rc = LxDynamicLoader::GetEntryPoint("LxDescribeDll", module, entry);
  if (rc != 0) {
    LxDynamicLoader::UnloadModule(module);
    return Fail("%s: %s: %s (%d)", argument, path.c_str(), LxError(nullptr, nullptr, rc, 1), rc);
  }
  uint32_t major = 0, minor = 0, release = 0, build = 0, patch = 0, compilerVersion = 0;
  const char *moduleName = nullptr, *stamp = nullptr, *extra1 = nullptr, *compiler = nullptr,
             *extra2 = nullptr;
  const char* description =
      reinterpret_cast<LxDescribeDllFunc>(entry)(&major, &minor, &release, &build, &patch, &moduleName,
                                                 &stamp, &extra1, &compilerVersion, &compiler, &extra2);
  std::printf("%s\n", argument);
  std::printf("  path          %s\n", path.c_str());
  std::printf("  description   %s\n", Cut(description).c_str());
  std::printf("  version       %u.%u.%u.%u.%u\n", major, minor, release, build, patch);
  std::printf("  module name   %s\n", Cut(moduleName).c_str());
  std::printf("  build stamp   %s\n", Cut(stamp).c_str());
  std::printf("  compiler      %s (%u)\n", Cut(compiler).c_str(), compilerVersion);
  std::printf("  extra text 1  %s\n", Cut(extra1).c_str());
  std::printf("  extra text 2  %s\n", Cut(extra2).c_str());
  // The texts are the module's own: unloaded only once they are printed.
  LxDynamicLoader::UnloadModule(module);
  return kExitOk;
}

}  // namespace

int RunDescribe(const Invocation& in) {
  int status = kExitOk;
  for (const std::string& module : in.Operands()) {
    if (Describe(module.c_str()) != kExitOk) status = kExitFailed;
  }
  return status;
}

}  // namespace lxtool

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
    "description (its LxDescribeDll) and unloads it again. MODULE is a module name\n"
    "such as lx95Cbs71, optionally with a directory; a trailing \".so\" is dropped.\n"
    "The loader looks in the configured module directory, beside the library, in\n"
    "the system's library search and in the directories of PATH.\n"
    "\n"
    "Exit status: 0 when every module described itself, 1 otherwise, 2 usage.\n";

namespace {

int Describe(const char* argument) {
  std::string name(argument);
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0) name.resize(name.size() - 3);

  char path[1024] = "";
  char description[256] = "", moduleName[256] = "", stamp[256] = "";
  char extra1[256] = "", compiler[256] = "", extra2[256] = "";
  uint32_t major = 0, minor = 0, release = 0, build = 0, patch = 0;
  int compilerVersion = 0;
  int rc = LxGetDescription(name.c_str(), path, major, minor, release, build, patch, description, moduleName,
                            stamp, extra1, compiler, extra2, compilerVersion);
  if (rc == ERR_LX_COULD_NOT_LOAD_MODULE) {
    // The loader's own reason: the last place it tried.
    std::string reason = LxDynamicLoader::GetErrText();
    return Fail("%s: %s (%d): %s", argument, LxError(nullptr, nullptr, rc, 1), rc, reason.c_str());
  }
  if (rc != 0) {
    return Fail("%s: %s: %s (%d)", argument, path, LxError(nullptr, nullptr, rc, 1), rc);
  }
  std::printf("%s\n", argument);
  std::printf("  path          %s\n", path);
  std::printf("  description   %s\n", description);
  std::printf("  version       %u.%u.%u.%u.%u\n", major, minor, release, build, patch);
  std::printf("  module name   %s\n", moduleName);
  std::printf("  build stamp   %s\n", stamp);
  std::printf("  compiler      %s (%d)\n", compiler, compilerVersion);
  std::printf("  extra text 1  %s\n", extra1);
  std::printf("  extra text 2  %s\n", extra2);
  return 0;
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

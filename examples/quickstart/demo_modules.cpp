// Modules and versions: the library's own description, module file names, and a
// version check as a module linked against the library makes it.
#include <lxbasics.h>

#include <cstdio>
#include <cstring>

#include "demo.h"

static int ModulesDemo() {
  int failures = 0;

  uint32_t major, minor, release, build, patch, compilerVersion;
  const char *moduleName, *stamp, *extra1, *compiler, *extra2;
  const char* description = LxDescribeDll(&major, &minor, &release, &build, &patch, &moduleName, &stamp,
                                          &extra1, &compilerVersion, &compiler, &extra2);
  std::printf("%s %u.%u.%u.%u.%u (%s), built %s with %s\n", description, major, minor, release, build, patch,
              moduleName, stamp, compiler);

  // The library's file name is composed by the same rule as every sibling's.
  DllNameClass own("Cbs");
  std::printf("module name of component Cbs: %s\n", own.GetDllName());
  if (std::strcmp(own.GetDllName(), moduleName) != 0) ++failures;

  // A module built for this release asks for the release and the build to match.
  int rc = LxCheckDll(LX_CHECK_BUILD);
  std::printf("LxCheckDll(build must match): %d\n", rc);
  if (rc != 0) ++failures;
  // A module built for the next release is refused unless it waives the release.
  rc = CheckLxVersionNumber(9, 5, 24, 262, 0, LX_CHECK_RELEASE);
  std::printf("version 9.5.24.262.0: %d (%s)\n", rc, LxError(nullptr, nullptr, rc, 1));
  if (rc != ERR_LX_MODULE_VERSION) ++failures;
  return failures;
}

QUICKSTART_DEMO(modules, 60, "Modules and versions", ModulesDemo);

// lxtool info: this library's identity, and version checks against it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "lxmodules.h"

namespace lxtool {

const char kInfoHelp[] =
    "usage: lxtool info\n"
    "       lxtool info --check MAJOR.MINOR.RELEASE.BUILD.PATCH [--flags FLAGS]\n"
    "\n"
    "Without options: shows the library's description, version, module name,\n"
    "build and compiler, and the result of its own check LxCheckDll(0).\n"
    "With --check: checks whether the given version is compatible with the\n"
    "library (CheckLxVersionNumber). FLAGS (decimal or 0x hex, default 0x2):\n"
    "  0x2 release, 0x4 build, 0x8 patch must match;\n"
    "  0x10000000, 0x20000000, 0x40000000 waive the release, build, patch check.\n"
    "Major and minor must always match, and FLAGS 0 is never compatible.\n"
    "\n"
    "Exit status: 0 compatible, 1 incompatible, 2 usage.\n";

namespace {

bool ParseVersion(const char* text, uint32_t part[5]) {
  const char* p = text;
  for (int i = 0; i < 5; ++i) {
    char* end = nullptr;
    if (*p < '0' || *p > '9') return false;
    unsigned long value = std::strtoul(p, &end, 10);
    if (value > 0xFFFFFFFFul) return false;
    part[i] = static_cast<uint32_t>(value);
    if (i < 4 && *end != '.') return false;
    if (i == 4 && *end != '\0') return false;
    p = end + 1;
  }
  return true;
}

bool ParseFlags(const char* text, int* flags) {
  uint64_t value = 0;
  if (!ParseNumber(text, 0xFFFFFFFFu, &value)) return false;
  *flags = static_cast<int>(static_cast<uint32_t>(value));
  return true;
}

int ShowIdentity() {
  uint32_t major, minor, release, build, patch, compilerVersion;
  const char *moduleName, *stamp, *extra1, *compiler, *extra2;
  const char* description = LxDescribeDll(&major, &minor, &release, &build, &patch, &moduleName, &stamp,
                                          &extra1, &compilerVersion, &compiler, &extra2);
  const char* descriptionAndVersion = nullptr;
  GETLXBASICSINFO(nullptr, nullptr, &descriptionAndVersion, nullptr, nullptr);
  int check = LxCheckDll(0);
  std::printf("%s\n", descriptionAndVersion);
  std::printf("  description   %s\n", description);
  std::printf("  version       %u.%u.%u.%u.%u\n", major, minor, release, build, patch);
  std::printf("  module name   %s\n", moduleName);
  std::printf("  build stamp   %s\n", stamp);
  std::printf("  compiler      %s (%u)\n", compiler, compilerVersion);
  std::printf("  extra text 1  %s\n", extra1);
  std::printf("  extra text 2  %s\n", extra2);
  std::printf("  LxCheckDll(0) %d (%s)\n", check, check == 0 ? "compatible" : "incompatible");
  return check == 0 ? kExitOk : Fail("the library's own version check fails (%d)", check);
}

}  // namespace

int RunInfo(const Invocation& in) {
  const char* version = in.Value("--check");
  if (version == nullptr) {
    if (in.Has("--flags")) return UsageError("--flags goes with --check");
    return ShowIdentity();
  }
  int flags = LX_CHECK_RELEASE;
  if (in.Has("--flags") && !ParseFlags(in.Value("--flags"), &flags))
    return UsageError("bad flags '%s'", in.Value("--flags"));
  uint32_t v[5];
  if (!ParseVersion(version, v)) return UsageError("bad version '%s'", version);
  int rc = CheckLxVersionNumber(v[0], v[1], v[2], v[3], v[4], flags);
  std::printf("%u.%u.%u.%u.%u with flags 0x%08x: %s (%d)\n", v[0], v[1], v[2], v[3], v[4],
              static_cast<unsigned>(flags), rc == 0 ? "compatible" : "incompatible", rc);
  return rc == 0 ? kExitOk : Fail("%s is not compatible with this library (%d)", version, rc);
}

}  // namespace lxtool

// lxtool info: this library's identity, and version checks against it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command.h"
#include "lxmodules.h"

namespace {

const char kUsage[] =
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
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 0);
  if (*text == '\0' || *end != '\0' || value > 0xFFFFFFFFul) return false;
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
  return check == 0 ? 0 : 1;
}

int InfoCommand(int argc, char** argv) {
  if (lxtool::WantsHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 1) return ShowIdentity();

  const char* version = nullptr;
  int flags = LX_CHECK_RELEASE;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--check") == 0 && i + 1 < argc) {
      version = argv[++i];
    } else if (std::strcmp(argv[i], "--flags") == 0 && i + 1 < argc) {
      if (!ParseFlags(argv[++i], &flags)) return lxtool::Fail(2, "info: bad flags '%s'", argv[i]);
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  uint32_t v[5];
  if (version == nullptr) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!ParseVersion(version, v)) return lxtool::Fail(2, "info: bad version '%s'", version);
  int rc = CheckLxVersionNumber(v[0], v[1], v[2], v[3], v[4], flags);
  std::printf("%u.%u.%u.%u.%u with flags 0x%08x: %s (%d)\n", v[0], v[1], v[2], v[3], v[4],
              static_cast<unsigned>(flags), rc == 0 ? "compatible" : "incompatible", rc);
  return rc == 0 ? 0 : 1;
}

}  // namespace

LXTOOL_COMMAND(info, "info", "show the library's identity and check versions against it", InfoCommand);

// This library's description and version check, and the reading of another
// module's description.
#include <cstdio>
#include <cstring>

#include "lxmodules.h"
#include "modules/identity.h"

namespace {

// The compiler that built the library: its name and version as text, and its
// version as a number, major * 100 + minor (12.2 gives 1202).
#if defined(__clang__)
#define LX_COMPILER_NAME "clang " __clang_version__
constexpr uint32_t kCompilerVersion = __clang_major__ * 100 + __clang_minor__;
#elif defined(__GNUC__)
#define LX_COMPILER_NAME "GCC " __VERSION__
constexpr uint32_t kCompilerVersion = __GNUC__ * 100 + __GNUC_MINOR__;
#else
#define LX_COMPILER_NAME "unknown compiler"
constexpr uint32_t kCompilerVersion = 0;
#endif

constexpr const char* kCompilerName = LX_COMPILER_NAME;
constexpr const char* kBuildStamp = __DATE__ " " __TIME__;
constexpr const char* kBuildDate = __DATE__;
constexpr const char* kExtraText1 = "unknown";
constexpr const char* kExtraText2 = "";

// Version check flags without a name of their own: bit 0 is always added by
// LxCheckDll and checks nothing.
constexpr int kCheckAlways = 0x1;

void CopyText(char* to, const char* from) {
  if (to != nullptr && from != nullptr) std::strcpy(to, from);
}

}  // namespace

int CheckLxVersionNumber(uint32_t major, uint32_t minor, uint32_t release, uint32_t build, uint32_t patch,
                         int flags) {
  if (major != lxmodules::kMajor || minor != lxmodules::kMinor || flags == 0) return ERR_LX_MODULE_VERSION;
  bool ok = true;
  if ((flags & LX_CHECK_RELEASE) && !(flags & LX_ANY_RELEASE) && release != lxmodules::kRelease) ok = false;
  if ((flags & LX_CHECK_BUILD) && !(flags & LX_ANY_BUILD) && build != lxmodules::kBuild) ok = false;
  if ((flags & LX_CHECK_PATCH) && !(flags & LX_ANY_PATCH) && patch != lxmodules::kPatch) ok = false;
  return ok ? 0 : ERR_LX_MODULE_VERSION;
}

int LxCheckDll(int flags) {
  return CheckLxVersionNumber(lxmodules::kMajor, lxmodules::kMinor, lxmodules::kRelease, lxmodules::kBuild,
                              lxmodules::kPatch, flags | kCheckAlways | LX_CHECK_RELEASE);
}

const char* LxDescribeDll(uint32_t* major, uint32_t* minor, uint32_t* release, uint32_t* build,
                          uint32_t* patch, const char** moduleName, const char** buildStamp,
                          const char** extraText1, uint32_t* compilerVersion, const char** compilerName,
                          const char** extraText2) {
  *major = lxmodules::kMajor;
  *minor = lxmodules::kMinor;
  *release = lxmodules::kRelease;
  *build = lxmodules::kBuild;
  *patch = lxmodules::kPatch;
  *moduleName = lxmodules::kModuleName;
  *buildStamp = kBuildStamp;
  *extraText1 = kExtraText1;
  *compilerVersion = kCompilerVersion;
  *compilerName = kCompilerName;
  *extraText2 = kExtraText2;
  return lxmodules::kDescription;
}

void GETLXBASICSINFO(const char** compilerName, uint32_t* compilerVersion, const char** descriptionAndVersion,
                     const char** buildDate, const char** moduleName) {
  static char text[256];
  if (compilerName != nullptr) *compilerName = kCompilerName;
  if (compilerVersion != nullptr) *compilerVersion = kCompilerVersion;
  if (descriptionAndVersion != nullptr) {
    std::snprintf(text, sizeof text, "%s %s", lxmodules::kDescription, lxmodules::kVersionText);
    *descriptionAndVersion = text;
  }
  if (buildDate != nullptr) *buildDate = kBuildDate;
  if (moduleName != nullptr) *moduleName = lxmodules::kModuleName;
}

void ___LxBasicsContext(int) {}

int LxGetDescription(const char* module, char* path, uint32_t& major, uint32_t& minor, uint32_t& release,
                     uint32_t& build, uint32_t& patch, char* description, char* moduleName, char* buildStamp,
                     char* extraText1, char* compilerName, char* extraText2, int& compilerVersion) {
  LxModuleHandle* handle = nullptr;
  int rc = LxDynamicLoader::LoadModule(module, 0, handle);
  if (rc < 0) return rc;
  CopyText(path, LxDynamicLoader::GetPhysicalModuleName(handle));

  void* entry = nullptr;
  rc = LxDynamicLoader::GetEntryPoint("LxDescribeDll", handle, entry);
  if (rc == 0) {
    const char* texts[6] = {};  // module name, stamp, extra 1, compiler, extra 2, description
    // The module writes the caller's variable itself (int and uint32_t may alias).
    uint32_t* version = reinterpret_cast<uint32_t*>(&compilerVersion);
    texts[5] =
        reinterpret_cast<LxDescribeDllFunc>(entry)(&major, &minor, &release, &build, &patch, &texts[0],
                                                   &texts[1], &texts[2], version, &texts[3], &texts[4]);
    CopyText(description, texts[5]);
    CopyText(moduleName, texts[0]);
    CopyText(buildStamp, texts[1]);
    CopyText(extraText1, texts[2]);
    CopyText(compilerName, texts[3]);
    CopyText(extraText2, texts[4]);
  } else {
    rc = ERR_LX_COULD_NOT_GET_ENTRY;
  }
  LxDynamicLoader::UnloadModule(handle);
  return rc;
}

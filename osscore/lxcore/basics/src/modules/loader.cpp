// The dynamic module loader: the four places a module is looked for, the traces
// of a load, and entry points resolved only in the module itself.
#include <cstdio>
#include <cstring>
#include <string>

#include "frame/config.h"
#include "frame/resize.h"
#include "lxframe.h"
#include "lxmessages.h"
#include "lxmodules.h"
#include "modules/identity.h"
#include "os/dynlib.h"
#include "os/paths.h"

namespace lxmodules {

char* TextArea() {
  static char area[kTextAreaSize];
  return area;
}

}  // namespace lxmodules

namespace {

constexpr const char* kSuffix = ".so";
constexpr size_t kMaxConfigPath = 1024;
constexpr size_t kMaxLibraryPath = 1024;
constexpr size_t kMaxErrText = 512;

struct LoaderSettings {
  bool trace = false;
  char defaultPath[kMaxConfigPath] = "";
};

// Reads the settings afresh: the configuration may change between loads.
void ReadSettings(LoaderSettings* settings) {
  LxConfig* config = DefaultConfig(LX_QUERY_CONFIG);
  if (config == nullptr) return;
  short flag = 0;
  config->ReadFlag("loadModule", &flag, lxframe::kSectionDebug);
  settings->trace = flag != 0;
  char* value = settings->defaultPath;
  config->ReadString("defaultModulePath", &value, lxframe::kSectionTop);
  settings->defaultPath[kMaxConfigPath - 1] = '\0';
}

// The file-name part of `name`: its directory and its extension (from the last
// dot of that part on) dropped.
std::string BareFileName(const char* name) {
  const char* slash = std::strrchr(name, '/');
  const char* file = slash ? slash + 1 : name;
  const char* dot = std::strrchr(file, '.');
  return dot ? std::string(file, static_cast<size_t>(dot - file)) : std::string(file);
}

// The directory of this library's file with its trailing slash, or false when
// the path cannot be had or is too long.
bool OwnDirectory(std::string* dir) {
  std::string path;
  if (!lxos::LibraryPath(&path) || path.size() > kMaxLibraryPath) return false;
  size_t slash = path.find_last_of('/');
  dir->assign(path, 0, slash == std::string::npos ? 0 : slash + 1);
  return true;
}

void* LoadFile(const std::string& file) { return file.empty() ? nullptr : lxos::OpenModule(file.c_str()); }

// Steps 1 to 4 of the search; null when nothing loads.
void* FindAndLoad(const char* name, const LoaderSettings& settings) {
  void* module = nullptr;
  if (settings.defaultPath[0] != '\0') {
    module = LoadFile(std::string(settings.defaultPath) + "/" + name + kSuffix);
  }
  std::string dir;
  if (module == nullptr && OwnDirectory(&dir)) {
    module = LoadFile(dir + BareFileName(name) + kSuffix);
  }
  const std::string file = std::string(name) + kSuffix;
  if (module == nullptr) module = LoadFile(file);
  if (module == nullptr) {
    // An empty result means "not found": the error of step 3 stays the last one.
    std::string found;
    lxos::SearchDirectories(lxos::GetEnv("PATH"), file.c_str(), &found);
    module = LoadFile(found);
  }
  return module;
}

}  // namespace

int LxDynamicLoader::LoadModule(const char* name, int /*reserved*/, LxModuleHandle*& handle) {
  handle = nullptr;
  LoaderSettings settings;
  ReadSettings(&settings);
  void* module = name != nullptr && name[0] != '\0' ? FindAndLoad(name, settings) : nullptr;
  if (module != nullptr) {
    handle = lxframe::NewOrNull<LxModuleHandle>(module);
    if (handle == nullptr) {
      lxos::CloseModule(module);
      module = nullptr;
    }
  }
  if (module == nullptr) {
    if (settings.trace) {
      const char* path = lxos::GetEnv("PATH");
      LxMessage()->Printf(0, 0, "Loading of module '%s' failed.\nError code : %lu\nPath : '%.1024s'\n",
                          name ? name : "(null)", static_cast<unsigned long>(lxos::LastErrorCode()),
                          path ? path : "(null)");
    }
    return ERR_LX_COULD_NOT_LOAD_MODULE;
  }
  if (settings.trace) LxMessage()->Printf(0, 0, "Using module: %s", GetPhysicalModuleName(handle));
  return 0;
}

int LxDynamicLoader::UnloadModule(LxModuleHandle*& handle) {
  if (handle == nullptr) return ERR_LX_MODULE_HANDLE_INVALID;
  lxos::CloseModule(handle->GetHandle());
  delete handle;
  handle = nullptr;
  return 0;
}

int LxDynamicLoader::GetEntryPoint(const char* entryName, LxModuleHandle* handle, void*& entry) {
  entry = nullptr;
  if (handle == nullptr) return ERR_LX_MODULE_HANDLE_INVALID;
  if (entryName == nullptr) return ERR_LX_COULD_NOT_GET_ENTRY;
  entry = lxos::ModuleSymbol(handle->GetHandle(), entryName);
  return entry != nullptr ? 0 : ERR_LX_COULD_NOT_GET_ENTRY;
}

const char* LxDynamicLoader::GetErrText() {
  char* area = lxmodules::TextArea();
  std::string text = lxos::LastErrorText();
  if (text.size() > kMaxErrText) text.resize(kMaxErrText);
  std::memcpy(area, text.c_str(), text.size() + 1);
  return area;
}

const char* LxDynamicLoader::GetPhysicalModuleName(LxModuleHandle* handle) {
  char* area = lxmodules::TextArea();
  std::string path;
  if (handle == nullptr || !lxos::ModulePath(handle->GetHandle(), &path) ||
      path.size() >= static_cast<size_t>(lxmodules::kTextAreaSize)) {
    path = "<unknown>";
  }
  std::memcpy(area, path.c_str(), path.size() + 1);
  return area;
}

#include "os/dynlib.h"

#include <dlfcn.h>
#include <errno.h>
#include <link.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "os/syscall.h"

namespace lxos {

namespace {

struct LoaderError {
  bool set = false;
  int code = 0;
  std::string text;
};

thread_local LoaderError t_lastError;

// The errno value whose text ends the loader's message ("...: No such file or
// directory"), or ENOEXEC when the message names no system error.
int CodeOfText(const char* text) {
  const char* cause = std::strrchr(text, ':');
  if (cause != nullptr) {
    cause += (cause[1] == ' ') ? 2 : 1;
    for (int e = 1; e < 134; ++e) {
      if (std::strcmp(strerror(e), cause) == 0) return e;
    }
  }
  return ENOEXEC;
}

void RecordError(const char* text, int code) {
  t_lastError.set = true;
  t_lastError.text.assign(text ? text : "");
  t_lastError.code = code != 0 ? code : CodeOfText(t_lastError.text.c_str());
}

// Records the loader's pending error (dlerror() hands it out once).
void RecordLoaderError(int fallbackCode) {
  const char* text = sys::DlError();
  if (text == nullptr) {
    RecordError(strerror(fallbackCode), fallbackCode);
  } else {
    RecordError(text, 0);
  }
}

}  // namespace

void* OpenModule(const char* file) {
  sys::DlError();
  void* module = sys::DlOpen(file, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) RecordLoaderError(ENOENT);
  return module;
}

bool CloseModule(void* module) {
  sys::DlError();
  if (sys::DlClose(module) == 0) return true;
  RecordLoaderError(EINVAL);
  return false;
}

void* ModuleSymbol(void* module, const char* name) {
  sys::DlError();
  void* address = sys::DlSym(module, name);
  if (address == nullptr) {
    RecordLoaderError(ENOENT);
    return nullptr;
  }
  // dlsym also searches the module's dependencies: accept the address only when
  // the object that holds it is the module itself.
  struct link_map* own = nullptr;
  if (sys::DlInfo(module, RTLD_DI_LINKMAP, &own) != 0 || own == nullptr) {
    RecordLoaderError(EINVAL);
    return nullptr;
  }
  Dl_info info;
  struct link_map* holder = nullptr;
  if (sys::DlAddr1(address, &info, reinterpret_cast<void**>(&holder), RTLD_DL_LINKMAP) == 0 ||
      holder != own) {
    std::string text = std::string(name) + ": symbol is not defined by the module itself";
    RecordError(text.c_str(), ENOENT);
    return nullptr;
  }
  return address;
}

namespace {

// `file` with symbolic links and relative parts resolved, where it still exists.
bool AssignResolved(const char* file, std::string* out) {
  if (file == nullptr || file[0] == '\0') return false;
  char* resolved = sys::RealPath(file, nullptr);
  out->assign(resolved != nullptr ? resolved : file);
  free(resolved);
  return true;
}

}  // namespace

bool ModulePath(void* module, std::string* out) {
  out->clear();
  struct link_map* map = nullptr;
  if (sys::DlInfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return false;
  return AssignResolved(map->l_name, out);
}

bool ModuleFileOf(const void* address, std::string* out) {
  out->clear();
  Dl_info info;
  if (sys::DlAddr(address, &info) == 0) return false;
  return AssignResolved(info.dli_fname, out);
}

bool SearchDirectories(const char* dirs, const char* file, std::string* found) {
  found->clear();
  if (dirs == nullptr) return false;
  const char* p = dirs;
  while (true) {
    const char* end = std::strchr(p, ':');
    size_t len = end ? static_cast<size_t>(end - p) : std::strlen(p);
    if (len > 0) {
      std::string candidate(p, len);
      if (candidate.back() != '/') candidate += '/';
      candidate += file;
      struct stat st;
      if (sys::Stat(candidate.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        *found = candidate;
        return true;
      }
    }
    if (end == nullptr) return false;
    p = end + 1;
  }
}

int LastErrorCode() { return t_lastError.set ? t_lastError.code : 0; }

std::string LastErrorText() { return t_lastError.set ? t_lastError.text : std::string(strerror(errno)); }

}  // namespace lxos

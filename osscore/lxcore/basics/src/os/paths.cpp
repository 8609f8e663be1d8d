#include "os/paths.h"

#include <dlfcn.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace lxos {

const char* GetEnv(const char* name) { return std::getenv(name); }

bool MakeDirs(const std::string& dir) {
  if (dir.empty()) return false;
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(dir.substr(0, slash))) return false;
  if (mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST)
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  return false;
}

static std::string StateDirName() {
  const char* dir = GetEnv("ORVANTA_STATE_DIR");
  if (dir && *dir) return dir;
  if (geteuid() == 0) return "/var/lib/orvanta";
  const char* xdg = GetEnv("XDG_STATE_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/orvanta";
  const char* home = GetEnv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/state/orvanta";
}

std::string StateDir() {
  std::string dir = StateDirName();
  return MakeDirs(dir) ? dir : std::string();
}

std::string RegistryFile() {
  const char* file = GetEnv("ORVANTA_REGISTRY");
  if (file && *file) {
    std::string path(file);
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) MakeDirs(path.substr(0, slash));
    return path;
  }
  std::string dir = StateDir();
  return dir.empty() ? std::string() : dir + "/registry.db";
}

bool LibraryPath(std::string* out) {
  out->clear();
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&LibraryPath), &info) == 0 || info.dli_fname == nullptr) return false;
  char resolved[4096];
  if (realpath(info.dli_fname, resolved) != nullptr) {
    out->assign(resolved);
  } else {
    out->assign(info.dli_fname);
  }
  return !out->empty();
}

bool ProgramPath(std::string* out) {
  out->clear();
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return false;
  out->assign(buf, static_cast<size_t>(n));
  return true;
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

}  // namespace lxos

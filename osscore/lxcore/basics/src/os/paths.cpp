#include "os/paths.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "os/diag.h"
#include "os/dynlib.h"
#include "os/syscall.h"

namespace lxos {

const char* GetEnv(const char* name) { return sys::SecureGetEnv(name); }

bool MakeDirs(const std::string& dir, mode_t mode) {
  if (dir.empty()) return false;
  struct stat st;
  if (sys::Stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(dir.substr(0, slash), mode)) return false;
  if (sys::Mkdir(dir.c_str(), mode) == 0 || errno == EEXIST)
    return sys::Stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  return false;
}

int32_t SharedGroup(bool* configured, gid_t* gid) {
  const char* name = GetEnv("ORVANTA_SHM_GROUP");
  *configured = name != nullptr && *name != '\0';
  if (!*configured) return 0;
  std::vector<char> buf(16384);
  struct group entry;
  struct group* found = nullptr;
  int rc;
  while ((rc = getgrnam_r(name, &entry, buf.data(), buf.size(), &found)) == ERANGE && buf.size() < (1u << 20))
    buf.resize(buf.size() * 2);
  if (rc == 0 && found != nullptr) {
    *gid = found->gr_gid;
    return 0;
  }
  char* end = nullptr;
  unsigned long number = std::strtoul(name, &end, 10);
  if (*end == '\0' && name[0] >= '0' && name[0] <= '9' && number < static_cast<gid_t>(-1)) {
    *gid = static_cast<gid_t>(number);
    return 0;
  }
  return ENOENT;
}

int32_t SharedMode(bool directory, mode_t* mode, gid_t* gid) {
  *mode = directory ? 0700 : 0600;
  *gid = static_cast<gid_t>(-1);
  bool configured = false;
  gid_t group = 0;
  int32_t rc = SharedGroup(&configured, &group);
  if (rc != 0 || !configured) return rc;
  // Set-group-id: what SQLite adds beside the store (-wal, -shm) gets the group too,
  // also when the server does not run as root.
  *mode = directory ? 02750 : 0640;
  *gid = group;
  return 0;
}

int32_t ApplySharedMode(int fd, bool directory) {
  mode_t mode;
  gid_t gid;
  int32_t rc = SharedMode(directory, &mode, &gid);
  if (rc == 0 && gid != static_cast<gid_t>(-1) && sys::Fchown(fd, static_cast<uid_t>(-1), gid) != 0)
    rc = LastError();
  if (rc != 0) mode = directory ? 0700 : 0600;
  if (sys::Fchmod(fd, mode) != 0 && rc == 0) rc = LastError();
  return rc;
}

namespace {

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "0%o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Why `st` (the status of `name`) is not to be trusted, or "" when it is. A
// sticky directory above the object may be writable by all.
std::string Untrusted(const struct stat& st, const std::string& name, bool above, uid_t alsoOwner) {
  if (st.st_uid != geteuid() && st.st_uid != 0 && st.st_uid != alsoOwner)
    return name + " is owned by user id " + std::to_string(st.st_uid) + ", not by this user or root";
  const bool stickyDir = above && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0;
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && !stickyDir) {
    return name + " is writable by " + ((st.st_mode & S_IWOTH) ? "other users" : "its group") + " (mode " +
           Octal(st.st_mode) + ")";
  }
  return std::string();
}

// Walks `path` from the root directory, following symbolic links, and checks
// every directory on the way and the object at the end. Returns "" when all are
// trusted, else why not.
std::string CheckChain(const std::string& path, bool wantDirectory) {
  if (path.empty()) return "an empty path";
  std::string start = path;
  if (start[0] != '/') {
    char cwd[4096];
    if (sys::GetCwd(cwd, sizeof cwd) == nullptr) return "the working directory cannot be named";
    start = std::string(cwd) + "/" + start;
  }
  std::deque<std::string> todo;
  auto push = [&todo](const std::string& text) {
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= text.size()) {
      size_t end = text.find('/', pos);
      if (end == std::string::npos) end = text.size();
      if (end > pos) parts.push_back(text.substr(pos, end - pos));
      pos = end + 1;
    }
    todo.insert(todo.begin(), parts.begin(), parts.end());
  };
  push(start);
  std::string cur = "/";
  struct stat st;
  if (sys::Lstat("/", &st) != 0) return "/ cannot be examined";
  std::string why = Untrusted(st, "/", true, static_cast<uid_t>(-1));
  if (!why.empty()) return why;
  int links = 0;
  while (!todo.empty()) {
    const std::string part = todo.front();
    todo.pop_front();
    if (part == ".") continue;
    if (part == "..") {
      size_t slash = cur.find_last_of('/');
      cur = slash == 0 ? "/" : cur.substr(0, slash);
      continue;
    }
    if (!S_ISDIR(st.st_mode)) return cur + " is not a directory";
    const std::string next = cur == "/" ? "/" + part : cur + "/" + part;
    if (sys::Lstat(next.c_str(), &st) != 0) return next + ": " + std::strerror(errno);
    if (S_ISLNK(st.st_mode)) {
      // The link sits in `cur`, which only trusted users can change.
      char target[4096];
      ssize_t n = sys::ReadLink(next.c_str(), target, sizeof target - 1);
      if (n <= 0 || ++links > 40) return next + ": too many or unreadable symbolic links";
      target[n] = '\0';
      if (target[0] == '/') cur = "/";
      if (sys::Lstat(cur.c_str(), &st) != 0) return cur + ": " + std::strerror(errno);
      push(target);
      continue;
    }
    why = Untrusted(st, next, true, static_cast<uid_t>(-1));
    if (!why.empty()) return why;
    cur = next;
  }
  if (sys::Lstat(cur.c_str(), &st) != 0) return cur + ": " + std::strerror(errno);
  if (wantDirectory ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))
    return cur + (wantDirectory ? " is not a directory" : " is not a regular file");
  return Untrusted(st, cur, false, static_cast<uid_t>(-1));
}

// The last reason why StateDir() failed. Reached through a function: the state
// directory is asked for by other files' static initialisers, and at exit.
std::mutex g_problemMutex;
std::atomic<bool> g_problemShown{false};
std::string& Problem() {
  static std::string* problem = new std::string;
  return *problem;
}

std::string StateDirName(std::string* problem) {
  const char* dir = GetEnv("ORVANTA_STATE_DIR");
  if (dir && *dir) return dir;
  if (geteuid() == 0) return "/var/lib/orvanta";
  const char* xdg = GetEnv("XDG_STATE_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/orvanta";
  const char* home = GetEnv("HOME");
  if (home && *home == '/') return std::string(home) + "/.local/state/orvanta";
  std::vector<char> buf(16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return std::string(found->pw_dir) + "/.local/state/orvanta";
  }
  *problem = "no state directory: user id " + std::to_string(geteuid()) +
             " has no home directory; set ORVANTA_STATE_DIR to a directory of your own";
  return std::string();
}

// Creates the state directory `dir` when missing, with the shared mode.
// Returns "" or why it cannot be had.
std::string MakeStateDir(const std::string& dir) {
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0) MakeDirs(dir.substr(0, slash), 0700);
  bool created = sys::Mkdir(dir.c_str(), 0700) == 0;
  if (!created && errno != EEXIST) return "cannot create " + dir + ": " + std::strerror(errno);
  std::string why = CheckChain(dir, true);
  if (!why.empty()) return why;
  int fd = sys::Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (fd < 0) return "cannot open " + dir + ": " + std::strerror(errno);
  int32_t rc = TrustOpen(fd, TrustRule{true}, dir, &why);
  if (rc == 0 && created) ApplySharedMode(fd, true);  // an unknown group leaves it 0700
  sys::Close(fd);
  return rc == 0 ? std::string() : why;
}

}  // namespace

int32_t TrustOpen(int fd, const TrustRule& rule, const std::string& name, std::string* why) {
  struct stat st;
  if (sys::Fstat(fd, &st) != 0) return LastError();
  std::string problem;
  if (rule.directory ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
    problem = name + (rule.directory ? " is not a directory" : " is not a regular file");
  } else {
    problem = Untrusted(st, name, false, rule.alsoOwner);
  }
  if (problem.empty() && rule.size >= 0 && st.st_size != rule.size) {
    problem = name + " holds " + std::to_string(st.st_size) + " bytes, not " + std::to_string(rule.size);
  }
  if (problem.empty() && rule.groupMustMatch && st.st_uid != geteuid()) {
    bool configured = false;
    gid_t gid = 0;
    if (SharedGroup(&configured, &gid) != 0 || !configured || st.st_gid != gid)
      problem = name + " does not belong to the group that ORVANTA_SHM_GROUP names";
  }
  if (problem.empty()) return 0;
  if (why != nullptr) *why = problem;
  return EPERM;
}

bool IsTrustedPath(const std::string& path, std::string* why) {
  std::string problem = CheckChain(path, false);
  if (why != nullptr) *why = problem;
  return problem.empty();
}

std::string StateDir() {
  std::string problem;
  std::string dir = StateDirName(&problem);
  if (!dir.empty()) {
    problem = MakeStateDir(dir);
    if (!problem.empty()) {
      problem = "state directory " + dir + " not used: " + problem +
                "; make it a directory of your own, mode 0700, or set ORVANTA_STATE_DIR to one";
      dir.clear();
    }
  }
  {
    std::lock_guard<std::mutex> hold(g_problemMutex);
    Problem() = problem;
  }
  if (!problem.empty() && !g_problemShown.exchange(true)) DebugOutput((problem + "\n").c_str());
  return dir;
}

std::string StateDirProblem() {
  std::lock_guard<std::mutex> hold(g_problemMutex);
  return Problem();
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

bool RegistryOwner(uid_t* owner) {
  // stat, not open: closing a descriptor of the store would drop the POSIX
  // locks that SQLite holds on it in this process.
  const std::string file = RegistryFile();
  struct stat st;
  if (file.empty() || sys::Stat(file.c_str(), &st) != 0) return false;
  *owner = st.st_uid;
  return true;
}

bool LibraryPath(std::string* out) { return ModuleFileOf(reinterpret_cast<const void*>(&LibraryPath), out); }

bool ProgramPath(std::string* out) {
  out->clear();
  char buf[4096];
  ssize_t n = sys::ReadLink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return false;
  out->assign(buf, static_cast<size_t>(n));
  return true;
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

}  // namespace lxos

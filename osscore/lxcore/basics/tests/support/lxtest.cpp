#include "lxtest.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace lxtest {

namespace {
std::string g_stateDir;
}

void SetStateDir(const std::string& dir) { g_stateDir = dir; }

const std::string& StateDir() { return g_stateDir; }

std::string MakeTempDir(const std::string& tag) {
  std::string templ = g_stateDir + "/" + tag + ".XXXXXX";
  if (mkdtemp(&templ[0]) == nullptr) return std::string();
  return templ;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string();
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

static ChildResult RunChild(const std::function<void()>& setup, const std::function<int()>& body) {
  ChildResult result;
  int pipefd[2];
  if (pipe(pipefd) != 0) return result;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    close(pipefd[0]);
    dup2(pipefd[1], 2);
    close(pipefd[1]);
    if (setup) setup();
    int code = body();
    fflush(nullptr);
    _exit(code);
  }
  close(pipefd[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(pipefd[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) result.err.append(buf, static_cast<size_t>(n));
  }
  close(pipefd[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exited = true;
    result.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

ChildResult RunInChild(const std::function<int()>& body) { return RunChild(nullptr, body); }

static size_t CurrentVirtualSize() {
  std::ifstream in("/proc/self/statm");
  size_t pages = 0;
  in >> pages;
  return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

ChildResult RunWithMemoryLimit(size_t extraBytes, const std::function<int()>& body) {
  return RunChild(
      [extraBytes] {
        struct rlimit lim;
        lim.rlim_cur = lim.rlim_max = CurrentVirtualSize() + extraBytes;
        setrlimit(RLIMIT_AS, &lim);
      },
      body);
}

}  // namespace lxtest

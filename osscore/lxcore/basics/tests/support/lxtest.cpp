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

#ifdef LXB_COVERAGE
extern "C" void __gcov_dump(void);
#endif

namespace lxtest {

void ExitChild(int code) {
  fflush(nullptr);
#ifdef LXB_COVERAGE
  // Writing the counts allocates: lift a memory limit the child may run under.
  struct rlimit lim;
  if (getrlimit(RLIMIT_AS, &lim) == 0) {
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_AS, &lim);
  }
  __gcov_dump();
#endif
  _exit(code);
}

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
    ExitChild(body());
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
        getrlimit(RLIMIT_AS, &lim);
        lim.rlim_cur = CurrentVirtualSize() + extraBytes;  // the hard limit stays
        setrlimit(RLIMIT_AS, &lim);
      },
      body);
}

static std::string ShellQuote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

static ToolRun RunWithEnvironment(const std::string& env, const std::string& shellArgs) {
  std::string errFile = g_stateDir + "/lxtool.err";
  std::string cmd = (env.empty() ? "" : "env " + env + " ") + ShellQuote(LXB_LXTOOL_PATH) + " " + shellArgs +
                    " 2>" + ShellQuote(errFile);
  ToolRun run;
  fflush(nullptr);
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return run;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) run.out.append(buf, n);
  int status = pclose(p);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = ReadFile(errFile);
  return run;
}

ToolRun RunLxtoolShell(const std::string& shellArgs) { return RunWithEnvironment("", shellArgs); }

ToolRun RunLxtool(const std::vector<std::string>& args, const std::string& env) {
  std::string shellArgs;
  for (const std::string& a : args) shellArgs += " " + ShellQuote(a);
  return RunWithEnvironment(env, shellArgs);
}

}  // namespace lxtest

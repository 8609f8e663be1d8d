#include "lxtest.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
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

namespace {

// The child's end of standard output or error: a pipe, a file, or a
// pseudo-terminal. Returns the parent's reading end (-1 for a file) and stores
// the child's end.
int OpenOutput(const std::string& file, bool terminal, int* childEnd) {
  if (!file.empty()) {
    *childEnd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    return -1;
  }
  if (terminal) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
    *childEnd = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios raw;
    if (*childEnd >= 0 && tcgetattr(*childEnd, &raw) == 0) {
      cfmakeraw(&raw);
      tcsetattr(*childEnd, TCSANOW, &raw);
    }
    return master;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  *childEnd = fds[1];
  return fds[0];
}

[[noreturn]] void ExecLxtool(const std::vector<std::string>& args, const ToolSetup& setup, int in, int out,
                             int err) {
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  for (const std::string& e : setup.env) putenv(const_cast<char*>(e.c_str()));
#ifndef __SANITIZE_ADDRESS__
  if (setup.memoryLimit != 0) {
    struct rlimit lim;
    lim.rlim_cur = lim.rlim_max = setup.memoryLimit;
    setrlimit(RLIMIT_AS, &lim);
  }
#endif
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(LXB_LXTOOL_PATH));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

}  // namespace

ToolRun RunLxtool(const std::vector<std::string>& args, const ToolSetup& setup) {
  ToolRun run;
  std::signal(SIGPIPE, SIG_IGN);  // a tool that stops reading must not end the test
  int in[2], outChild = -1, errChild = -1;
  if (pipe2(in, O_CLOEXEC) != 0) return run;
  const int outParent = OpenOutput(setup.outputFile, setup.terminal, &outChild);
  const int errParent = OpenOutput("", setup.errorTerminal, &errChild);
  if (outChild < 0 || errChild < 0) return run;
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) ExecLxtool(args, setup, in[0], outChild, errChild);
  close(in[0]);
  close(errChild);
  close(outChild);
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  size_t written = 0;
  if (setup.input.empty()) close(in[1]);
  struct pollfd fds[3] = {
      {outParent, POLLIN, 0}, {errParent, POLLIN, 0}, {setup.input.empty() ? -1 : in[1], POLLOUT, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || poll(fds, 3, static_cast<int>(left.count())) == 0) {
      kill(pid, SIGKILL);
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[65536];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {  // a pseudo-terminal ends with EIO
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
    if (fds[2].fd >= 0 && fds[2].revents != 0) {
      const ssize_t n = write(fds[2].fd, setup.input.data() + written, setup.input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == setup.input.size()) {
        close(fds[2].fd);
        fds[2].fd = -1;
      }
    }
  }
  for (const pollfd& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace lxtest

// The shared helpers, and the test main: it makes the private state directory
// before any test runs and removes it afterwards (LXB_KEEP_STATE=1 keeps it).
#include "lxtest.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifdef LXB_COVERAGE
extern "C" void __gcov_dump(void);
#endif

namespace lxtest {

namespace {

std::string g_stateDir;

// Exits at once, writing a coverage build's counts first.
[[noreturn]] void ExitChild(int code) {
  fflush(nullptr);
#ifdef LXB_COVERAGE
  struct rlimit lim;  // writing the counts allocates: lift a memory limit first
  if (getrlimit(RLIMIT_AS, &lim) == 0) lim.rlim_cur = lim.rlim_max, setrlimit(RLIMIT_AS, &lim);
  __gcov_dump();
#endif
  _exit(code);
}

}  // namespace

const std::string& StateDir() { return g_stateDir; }

std::string MakeTempDir(const std::string& tag) {
  std::string templ = g_stateDir + "/" + tag + ".XXXXXX";
  return mkdtemp(&templ[0]) == nullptr ? std::string() : templ;
}

std::string ReadFile(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

bool WriteFile(const std::string& path, const std::string& data) {
  return static_cast<bool>(std::ofstream(path, std::ios::binary | std::ios::trunc) << data);
}

void Child::Start(const std::function<void()>& inChild) {
  std::string name = g_stateDir + "/child.XXXXXX";
  if ((err_ = mkstemp(&name[0])) >= 0) unlink(name.c_str());
  fflush(nullptr);
  if ((pid_ = fork()) == 0) {
    dup2(err_, 2);
    inChild();
  }
}

Child::Child(const std::function<int(int)>& body) {
  int fds[2];
  if (pipe(fds) != 0) return;
  Start([&] { close(fds[0]), ExitChild(body(fds[1])); });
  close(fds[1]);
  progress_ = fds[0];
}

Child::Child(const std::vector<std::string>& argv) {
  Start([&] {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  });
}

Child::~Child() {
  Kill(SIGKILL);
  Wait();
  if (progress_ >= 0) close(progress_);
  if (err_ >= 0) close(err_);
}

bool Child::ReadProgress(uint32_t* word) {
  size_t got = 0;
  while (progress_ >= 0 && got < sizeof *word) {
    const ssize_t n = read(progress_, reinterpret_cast<char*>(word) + got, sizeof *word - got);
    if (n == 0 || (n < 0 && errno != EINTR)) return false;
    if (n > 0) got += static_cast<size_t>(n);
  }
  return got == sizeof *word;
}

void Child::Kill(int signal) {
  if (pid_ > 0 && result_.code == -1 && result_.signal == 0) kill(pid_, signal);
}

int Child::Wait() {
  if (pid_ <= 0) return -1;
  if (result_.code == -1 && result_.signal == 0) {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    result_.exited = WIFEXITED(status);
    result_.code = result_.exited ? WEXITSTATUS(status) : -1;
    result_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    char buf[4096];
    for (ssize_t n; (n = pread(err_, buf, sizeof buf, off_t(result_.err.size()))) > 0;)
      result_.err.append(buf, n);
  }
  return result_.exited ? result_.code : 128 + result_.signal;
}

ChildResult RunInChild(const std::function<int()>& body) {
  Child child([&](int) { return body(); });
  child.Wait();
  return child.Result();
}

ChildResult RunWithMemoryLimit(size_t extraBytes, const std::function<int()>& body) {
  return RunInChild([&] {
    size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    struct rlimit lim;  // the hard limit stays
    getrlimit(RLIMIT_AS, &lim);
    lim.rlim_cur = pages * size_t(sysconf(_SC_PAGESIZE)) + extraBytes;
    setrlimit(RLIMIT_AS, &lim);
    return body();
  });
}

void Report(int fd, uint32_t word) {
  if (write(fd, &word, sizeof word) != sizeof word) _exit(90);
}

void AwaitRelease(int progressFd) {
  sigset_t usr1, others;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(SIG_BLOCK, &usr1, &others);  // from here on the signal waits for sigsuspend
  std::signal(SIGUSR1, [](int) {});
  Report(progressFd, 0);
  sigdelset(&others, SIGUSR1);
  sigsuspend(&others);
}

void Nap(long micros) {
  struct timespec ts = {micros / 1000000, (micros % 1000000) * 1000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace lxtest

int main(int argc, char** argv) {
  // In memory where possible: the registry store's flushes cost nothing there.
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  dir += "/lxbtest.XXXXXX";
  if (mkdtemp(&dir[0]) == nullptr) return 2;
  lxtest::g_stateDir = dir;
  setenv("ORVANTA_STATE_DIR", dir.c_str(), 1);
  setenv("ORVANTA_REGISTRY", (dir + "/registry.db").c_str(), 1);
  setenv("ORVANTA_EVENTLOG", ("file:" + dir + "/eventlog.jsonl").c_str(), 1);
  setenv("ORVANTA_DEBUG_OUTPUT", (dir + "/debug.txt").c_str(), 1);
  unsetenv("ORVANTA_MESSAGE_ANSWER");
  testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int rc = RUN_ALL_TESTS();
  const char* keep = std::getenv("LXB_KEEP_STATE");
  if (!(keep && *keep == '1') && std::system(("rm -rf '" + dir + "'").c_str()) != 0) return 3;
  return rc;
}

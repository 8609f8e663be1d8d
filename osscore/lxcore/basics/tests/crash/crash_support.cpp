#include "crash_support.h"

#include <errno.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "lxtest.h"

namespace crashtest {

Child::Child(const std::function<int(int)>& body) {
  int fds[2];
  if (pipe(fds) != 0) return;
  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    close(fds[0]);
    lxtest::ExitChild(body(fds[1]));
  }
  close(fds[1]);
  progress_ = fds[0];
}

Child::Child(const std::vector<std::string>& argv) {
  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
}

Child::~Child() {
  if (pid_ > 0 && !reaped_) {
    Kill(SIGKILL);
    Wait();
  }
  if (progress_ >= 0) close(progress_);
}

bool Child::ReadProgress(uint32_t* word) {
  if (progress_ < 0) return false;
  size_t got = 0;
  char* to = reinterpret_cast<char*>(word);
  while (got < sizeof *word) {
    ssize_t n = read(progress_, to + got, sizeof *word - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

void Child::Kill(int signal) {
  if (pid_ > 0 && !reaped_) kill(pid_, signal);
}

int Child::Wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void Report(int fd, uint32_t word) {
  if (write(fd, &word, sizeof word) != sizeof word) _exit(90);
}

void Nap(long micros) {
  struct timespec ts;
  ts.tv_sec = micros / 1000000;
  ts.tv_nsec = (micros % 1000000) * 1000;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace crashtest

// Child processes for the crash tests: a forked child that reports progress to
// the parent through a pipe and can be killed at any moment, and a child that
// runs another program.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace crashtest {

class Child {
 public:
  // Forks; the child runs `body` with the write end of the progress pipe and
  // exits with its result. Standard output and error of the child are kept.
  explicit Child(const std::function<int(int progressFd)>& body);
  // Runs `argv[0]` with `argv` in the child (the environment is inherited).
  explicit Child(const std::vector<std::string>& argv);
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  // Kills and reaps a child that is still running.
  ~Child();

  bool Started() const { return pid_ > 0; }
  // Reads one progress word; false when the child closed the pipe (ended).
  bool ReadProgress(uint32_t* word);
  void Kill(int signal = SIGKILL);
  // Exit code, or 128 + signal.
  int Wait();

 private:
  pid_t pid_ = -1;
  int progress_ = -1;
  bool reaped_ = false;
};

// Writes one progress word (from the child).
void Report(int fd, uint32_t word);

// Sleeps for `micros` microseconds.
void Nap(long micros);

}  // namespace crashtest

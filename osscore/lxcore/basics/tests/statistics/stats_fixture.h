// Shared pieces of the statistics tests: a private block name and lock directory
// per test, a child process that the test can step through, and a direct view
// of the shared block.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "lxtest.h"

namespace statstest {

constexpr size_t kBlock = 792;

inline uint32_t Get32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Gives each test its own shared-memory name, lock directory and registry store,
// so that tests running at the same time on the machine (or one after the other
// in one process) never meet, and removes the block afterwards.
class StatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    shmName = "/lxbtest-stats-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    lockDir = lxtest::MakeTempDir("locks");
    ASSERT_FALSE(lockDir.empty());
    setenv("ORVANTA_SHM_NAME", shmName.c_str(), 1);
    setenv("ORVANTA_LOCK_DIR", lockDir.c_str(), 1);
    setenv("ORVANTA_REGISTRY", (lockDir + "/registry.db").c_str(), 1);
  }
  void TearDown() override {
    UnmapBlock();
    shm_unlink(shmName.c_str());
  }

  // Maps the block as a bystander (no presence, so it does not keep the block
  // alive). Returns null when no block exists.
  unsigned char* MapBlock() {
    UnmapBlock();
    int fd = shm_open(shmName.c_str(), O_RDWR, 0);
    if (fd < 0) return nullptr;
    void* p = mmap(nullptr, kBlock, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    view = p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
    return view;
  }
  void UnmapBlock() {
    if (view != nullptr) munmap(view, kBlock);
    view = nullptr;
  }
  bool BlockExists() const {
    int fd = shm_open(shmName.c_str(), O_RDONLY, 0);
    if (fd >= 0) close(fd);
    return fd >= 0;
  }
  uint32_t Slot(int position) const { return Get32(view + 672 + 8 * position); }

  std::string shmName;
  std::string lockDir;
  unsigned char* view = nullptr;
};

// A forked child that the parent steps through: the child signals Ready() and
// waits in Proceed() until the parent calls Release(). The child's exit code is
// 1 when a gtest expectation failed in it, else what its body returns.
class LiveChild {
 public:
  explicit LiveChild(const std::function<int(LiveChild&)>& body) {
    if (pipe(toParent) != 0 || pipe(toChild) != 0) return;
    fflush(nullptr);
    pid = fork();
    if (pid == 0) {
      close(toParent[0]);
      close(toChild[1]);
      int code = body(*this);
      if (::testing::Test::HasFailure() && code == 0) code = 1;
      lxtest::ExitChild(code);
    }
    close(toParent[1]);
    close(toChild[0]);
  }
  ~LiveChild() {
    if (pid > 0 && !reaped) {
      kill(pid, SIGKILL);
      Wait();
    }
    if (pid > 0) {
      close(toParent[0]);
      close(toChild[1]);
    }
  }
  LiveChild(const LiveChild&) = delete;
  LiveChild& operator=(const LiveChild&) = delete;

  // Child side.
  void Ready() {
    char c = 1;
    if (write(toParent[1], &c, 1) != 1) _exit(90);
  }
  void Proceed() {
    char c;
    if (read(toChild[0], &c, 1) != 1) _exit(91);
  }

  // Parent side. WaitReady is false when the child ended instead.
  bool WaitReady() {
    char c;
    return read(toParent[0], &c, 1) == 1;
  }
  void Release() {
    char c = 1;
    if (write(toChild[1], &c, 1) != 1) {
    }
  }
  // Exit code, or 128 + signal.
  int Wait() {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    reaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void Kill() { kill(pid, SIGKILL); }
  bool Started() const { return pid > 0; }

 private:
  pid_t pid = -1;
  bool reaped = false;
  int toParent[2] = {-1, -1};
  int toChild[2] = {-1, -1};
};

// Runs `body` to the end in a child; 0 when it passed.
inline int InChild(const std::function<void()>& body) {
  LiveChild child([&](LiveChild&) {
    body();
    return 0;
  });
  return child.Wait();
}

// Runs `body` in a child and expects it to pass.
inline void ExpectPasses(const std::function<void()>& body) {
  int code = InChild(body);
  EXPECT_EQ(0, code) << "the child process failed (exit code or 128 + signal)";
}

}  // namespace statstest

// Shared pieces of the statistics tests: a private block name, lock directory
// and registry store per test, a view of the block, and stepped children.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "lxstatistics.h"
#include "lxtest.h"

namespace lxtest {

constexpr uint32_t kBlock = 792;

inline uint32_t Get32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Collects every object into `buf` (kBlock bytes); the number of bytes written.
inline uint32_t Collect(unsigned char* buf) {
  void* data = buf;
  uint32_t size = kBlock, objects = 0;
  PrfData_Collect(nullptr, &data, &size, &objects);
  return size;
}

// Runs `body` in a child (RunInChild) and expects no expectation to fail there.
inline void ExpectPasses(const std::function<void()>& body) {
  const ChildResult child = RunInChild([&] {
    body();
    return testing::Test::HasFailure() ? 1 : 0;
  });
  EXPECT_EQ(0, child.code) << "the child failed (signal " << child.signal << ")\n" << child.err;
}

class StatsTest : public testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    shmName = "/lxbtest-stats-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    lockDir = MakeTempDir("locks");
    ASSERT_FALSE(lockDir.empty());
    setenv("ORVANTA_SHM_NAME", shmName.c_str(), 1);
    setenv("ORVANTA_LOCK_DIR", lockDir.c_str(), 1);
    setenv("ORVANTA_REGISTRY", (lockDir + "/registry.db").c_str(), 1);
  }
  void TearDown() override { shm_unlink(shmName.c_str()); }

  unsigned char* MapBlock() {  // as a bystander, who does not keep the block alive
    const int fd = shm_open(shmName.c_str(), O_RDWR, 0);
    void* p = fd < 0 ? MAP_FAILED : mmap(nullptr, kBlock, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (fd >= 0) close(fd);
    return view = p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
  }
  uint32_t Slot(int position) const { return Get32(view + 672 + 8 * position); }  // counter 101 + position

  std::string shmName, lockDir;
  unsigned char* view = nullptr;
};

// A forked child that the parent steps through: the child calls Ready() and
// waits in Proceed() for the parent's Release(). It exits with its body's
// result (1 when an expectation failed), or is killed when the object goes.
class LiveChild {
 public:
  explicit LiveChild(const std::function<int(LiveChild&)>& body) {
    if (pipe(up_) != 0 || pipe(down_) != 0) return;
    fflush(nullptr);
    pid_ = fork();
    close(pid_ == 0 ? down_[1] : up_[1]);  // so that each side sees the other one end
    if (pid_ == 0) {
      const int code = body(*this);
      ExitChild(code == 0 && testing::Test::HasFailure() ? 1 : code);
    }
  }
  ~LiveChild() {
    if (pid_ > 0 && !reaped_) Kill(), Wait();
    close(up_[0]);
    close(down_[1]);
  }
  LiveChild(const LiveChild&) = delete;
  LiveChild& operator=(const LiveChild&) = delete;

  void Ready() { (void)!write(up_[1], "x", 1); }  // in the child
  void Proceed() { Take(down_[0]); }
  bool WaitReady() { return Take(up_[0]); }  // in the parent; false when the child ended
  void Release() { (void)!write(down_[1], "x", 1); }
  void Kill() { kill(pid_, SIGKILL); }
  int Wait() {  // exit code, or 128 + signal
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  static bool Take(int fd) {
    char c;
    return read(fd, &c, 1) == 1;
  }

  pid_t pid_ = -1;
  bool reaped_ = false;
  int up_[2] = {-1, -1};
  int down_[2] = {-1, -1};
};

}  // namespace lxtest

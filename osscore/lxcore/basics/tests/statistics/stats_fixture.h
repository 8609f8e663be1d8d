// The statistics tests' private block, lock directory and store, and a view of the block.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "../fuzz/fuzz_input.h"
#include "lxstatistics.h"
#include "lxtest.h"

namespace lxtest {

constexpr uint32_t kBlock = 792;

using lxfuzz::Get32;

// Collects every object into `buf` (kBlock bytes); the number of bytes written.
inline uint32_t Collect(unsigned char* buf) {
  void* data = buf;
  uint32_t size = kBlock, objects = 0;
  PrfData_Collect(nullptr, &data, &size, &objects);
  return size;
}

// Runs `body` in a child and expects no failure there.
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

}  // namespace lxtest

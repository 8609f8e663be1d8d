// lxtool killed with SIGKILL while it writes: an output file is the old one or
// the whole new one; an entry below the library's key is old or new.
#include <fcntl.h>
#include <glob.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <random>
#include <string>
#include <vector>

#include "lxplatform.h"
#include "lxtest.h"

namespace {

using lxtest::Child;

const std::string kTool = LXB_BINARY_DIR "/bin/lxtool";

class LxtoolCrash : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir.empty()); }
  std::string dir = lxtest::MakeTempDir("lxtool");
};

off_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// The bytes in files named `target`.* (a writer's temporary file).
off_t Beside(const std::string& target) {
  glob_t found;
  off_t bytes = 0;
  if (glob((target + ".*").c_str(), 0, nullptr, &found) == 0)
    for (size_t i = 0; i < found.gl_pathc; ++i) bytes += std::max<off_t>(0, FileSize(found.gl_pathv[i]));
  globfree(&found);
  return bytes;
}

TEST_F(LxtoolCrash, KilledEncoderLeavesTheOldOutputOrNone) {
  std::signal(SIGPIPE, SIG_IGN);  // a tool that died fails the test, not ends it
  const std::string fifo = dir + "/input", previous = "the previous output\n";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  ASSERT_TRUE(lxtest::WriteFile(dir + "/out.rle", previous));
  std::string page(4096, 'x');  // 128 of them: more than the tool's output buffer holds
  for (size_t i = 0; i < page.size(); i += 7) page[i] = static_cast<char>(i);
  for (const char* name : {"/out.rle", "/fresh.rle"}) {
    const std::string target = dir + name, before = lxtest::ReadFile(target);
    const off_t size = before.empty() ? -1 : static_cast<off_t>(before.size());
    Child tool(std::vector<std::string>{kTool, "rle", "encode", fifo, target});
    const int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 128; ++i) ASSERT_EQ(4096, write(fd, page.data(), page.size()));
    // Killed once it has written output (or after 2 s), in the middle of its input.
    for (int i = 0; i < 200 && Beside(target) == 0 && FileSize(target) == size; ++i) lxtest::Nap(10000);
    tool.Kill();
    EXPECT_EQ(128 + SIGKILL, tool.Wait());
    close(fd);
    EXPECT_EQ(size, FileSize(target)) << "the killed encoder left partial output in " << target;
    EXPECT_EQ(before, lxtest::ReadFile(target));
  }
  // What it left beside the output is not mistaken for it by a complete run.
  ASSERT_TRUE(lxtest::WriteFile(dir + "/plain", std::string(10000, 'z')));
  Child whole(std::vector<std::string>{kTool, "rle", "encode", dir + "/plain", dir + "/out.rle"});
  EXPECT_EQ(0, whole.Wait());
  EXPECT_GT(FileSize(dir + "/out.rle"), 8);
  EXPECT_NE(previous, lxtest::ReadFile(dir + "/out.rle"));
}

// The tool's own path: a value below the library's key in one store transaction.
TEST_F(LxtoolCrash, KilledRegSetLeavesTheEntryOldOrNew) {
  std::mt19937 random(99);
  const char* path[] = {"Crash", "Entry", nullptr};
  int32_t one = 1;
  std::string old = "start", stored(2048, '\0');
  ASSERT_EQ(0, LxSetRegistryEntry(path, old.c_str(), one));
  for (uint32_t round = 1; round <= 60; ++round) {
    SCOPED_TRACE(round);
    const std::string entry = "entry-" + std::to_string(round) + std::string(round * 20, 'e');
    Child set(std::vector<std::string>{kTool, "reg", "set", "SOFTWARE\\Vesk Software\\Orvanta\\Crash",
                                       "Entry", "sz", entry});
    lxtest::Nap(static_cast<long>(random() % 20000));
    set.Kill();
    const int code = set.Wait();
    int32_t size = static_cast<int32_t>(stored.size());
    ASSERT_EQ(0, LxGetRegistryEntry(path, &stored[0], size)) << "the killed tool left no entry";
    const std::string now = stored.substr(0, static_cast<size_t>(size));
    EXPECT_TRUE(now == entry || (code != 0 && now == old)) << now;
    ASSERT_EQ(0, LxSetRegistryEntry(path, entry.c_str(), one));
    old = entry;
  }
}

}  // namespace

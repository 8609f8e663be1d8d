// lxtool killed with SIGKILL while it writes: an output file is either the old
// one, untouched, or the complete new one, never a part of it; a killed
// `lxtool reg set` leaves an entry below the library's key old or new.
//
// The encoder reads its input from a FIFO that the test keeps open, so that it
// is certainly in the middle of its output when it is killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
  void SetUp() override {
    if (access(kTool.c_str(), X_OK) != 0) GTEST_SKIP() << "lxtool is not built: " << kTool;
    dir = lxtest::MakeTempDir("lxtool");
    ASSERT_FALSE(dir.empty());
  }
  std::string dir;
};

off_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST_F(LxtoolCrash, KilledEncoderLeavesTheOldOutputOrNone) {
  std::signal(SIGPIPE, SIG_IGN);  // a tool that died must fail the test, not end it
  const std::string fifo = dir + "/input";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const std::string out = dir + "/out.rle";
  const std::string fresh = dir + "/fresh.rle";
  const std::string previous = "the previous output\n";
  ASSERT_TRUE(lxtest::WriteFile(out, previous));

  for (const std::string& target : {out, fresh}) {
    Child tool(std::vector<std::string>{kTool, "rle", "encode", fifo, target});
    ASSERT_TRUE(tool.Started());
    int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    // Half a megabyte of pages: more than the tool's output buffer holds.
    std::string page(4096, 'x');
    for (size_t i = 0; i < page.size(); i += 7) page[i] = static_cast<char>(i);
    for (int i = 0; i < 128; ++i)
      ASSERT_EQ(static_cast<ssize_t>(page.size()), write(fd, page.data(), page.size()));
    // Wait until the tool has written something out (or 2 s), then kill it
    // while its input is still open.
    for (int i = 0; i < 200; ++i) {
      const off_t now = FileSize(target);
      if (now > 0 && lxtest::ReadFile(target) != previous) break;
      lxtest::Nap(10000);
    }
    tool.Kill();
    EXPECT_EQ(128 + SIGKILL, tool.Wait());
    close(fd);
    if (target == out) {
      EXPECT_TRUE(lxtest::ReadFile(out) == previous) << "the killed encoder replaced " << target << " with "
                                                     << FileSize(out) << " bytes of partial output";
    } else {
      EXPECT_EQ(-1, FileSize(fresh)) << "the killed encoder left " << FileSize(fresh)
                                     << " bytes of partial output";
    }
  }
  // Whatever it left beside the output (a temporary file) must not be mistaken
  // for it, and a complete run still produces the whole file.
  const std::string input = dir + "/plain";
  ASSERT_TRUE(lxtest::WriteFile(input, std::string(10000, 'z')));
  Child whole(std::vector<std::string>{kTool, "rle", "encode", input, out});
  EXPECT_EQ(0, whole.Wait());
  EXPECT_TRUE(lxtest::ReadFile(out) != previous);
  EXPECT_GT(FileSize(out), 8);
}

// Runs that the tool does through the library's store directly are the
// registry crash test's; a value below the library's key is its own path.
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

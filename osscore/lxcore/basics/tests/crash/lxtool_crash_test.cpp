// lxtool killed with SIGKILL while it writes: an output file is either the old
// one, untouched, or the complete new one, never a part of it; a killed
// `lxtool reg set` leaves a value old or new (below the library's key too) and
// a store that works.
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

#include "crash_support.h"
#include "lxplatform.h"
#include "lxtest.h"
#include "os/registry.h"

namespace {

using crashtest::Child;

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
      crashtest::Nap(10000);
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

std::string Query(const char* key, const char* name) {
  uint32_t size = 0;
  if (lxos::RegQueryValue(key, name, nullptr, nullptr, &size) != lxos::kRegOk) return "<none>";
  std::string value(size, '\0');
  if (lxos::RegQueryValue(key, name, nullptr, size ? &value[0] : nullptr, &size) != lxos::kRegOk)
    return "<bad>";
  value.resize(size);
  return value;
}

TEST_F(LxtoolCrash, KilledRegSetLeavesOldOrNew) {
  std::mt19937 random(99);
  const char kKey[] = "Crash\\Tool";
  const char kEntryKey[] = "SOFTWARE\\Vesk Software\\Orvanta\\Crash";
  std::string old = "0";
  std::string oldEntry = "start";
  ASSERT_EQ(lxos::kRegOk, lxos::RegCreateKey(kKey));
  ASSERT_EQ(lxos::kRegOk, lxos::RegSetValue(kKey, "count", lxos::kRegDword, "\0\0\0\0", 4));
  const char* path[] = {"Crash", "Entry", nullptr};
  int32_t one = 1;
  ASSERT_EQ(0, LxSetRegistryEntry(path, oldEntry.c_str(), one));
  for (uint32_t round = 1; round <= 60; ++round) {
    const std::string value = std::to_string(round);
    const std::string entry = "entry-" + value + std::string(round * 40, 'e');
    Child set(std::vector<std::string>{kTool, "reg", "set", kKey, "count", "dword", value});
    Child setEntry(std::vector<std::string>{kTool, "reg", "set", kEntryKey, "Entry", "sz", entry});
    crashtest::Nap(static_cast<long>(random() % 20000));
    set.Kill();
    setEntry.Kill();
    const int code = set.Wait();
    const int entryCode = setEntry.Wait();
    const std::string now = Query(kKey, "count");
    const std::string expected(reinterpret_cast<const char*>(&round), 4);
    const uint32_t previous = round - 1;
    const std::string before(reinterpret_cast<const char*>(&previous), 4);
    if (code == 0) {
      EXPECT_EQ(expected, now) << "round " << round;
    } else {
      EXPECT_TRUE(now == expected || now == before) << "round " << round;
    }
    // An entry below the library's key is replaced in one step as well.
    const std::string stored = Query(kEntryKey, "Entry");
    if (entryCode == 0) {
      EXPECT_EQ(entry, stored) << "round " << round;
    } else {
      EXPECT_TRUE(stored == entry || stored == oldEntry) << "round " << round << ": " << stored;
    }
    // Bring both to this round's values for the next one.
    const uint32_t n = round;
    ASSERT_EQ(lxos::kRegOk, lxos::RegSetValue(kKey, "count", lxos::kRegDword, &n, 4));
    ASSERT_EQ(0, LxSetRegistryEntry(path, entry.c_str(), one));
    oldEntry = entry;
  }
}

}  // namespace

// Writers killed with SIGKILL. The registry store amid a burst of sets passes
// SQLite's integrity check, holds every value old or new (new once the writer saw
// it succeed) and takes further writes; an entry (deleted before it is set) may
// also be missing, only the one the writer was working on. lxtool leaves an
// output file old or whole and new, an entry below the library's key old or new.
#include <fcntl.h>
#include <glob.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <random>
#include <string>
#include <vector>

#include "lxplatform.h"
#include "lxtest.h"
#include "os/paths.h"
#include "os/registry.h"

namespace {

using lxtest::Child;

constexpr int kValues = 24;
const char kKey[] = "Crash\\Burst";

// Values of varying length, so that pages of the store split and merge.
std::string Value(const char* generation, int round, int i) {
  return std::string(generation) + "-" + std::to_string(round) + "-" + std::to_string(i) +
         std::string(static_cast<size_t>((i * 97 + round * 31) % 700), static_cast<char>('a' + i % 26));
}

// The value `name`, through the store or as an entry; "<none>" when it cannot be read.
std::string Stored(const std::string& name, bool entry) {
  std::string out(1024, '\0');
  const char* path[] = {"Crash", name.c_str(), nullptr};
  int32_t size = static_cast<int32_t>(out.size());
  uint32_t storeSize = static_cast<uint32_t>(out.size());
  const bool ok = entry
                      ? LxGetRegistryEntry(path, &out[0], size) == 0
                      : lxos::RegQueryValue(kKey, name.c_str(), nullptr, &out[0], &storeSize) == lxos::kRegOk;
  return ok ? out.substr(0, entry ? static_cast<size_t>(size) : storeSize) : "<none>";
}

// Sets `name` through the store and as an entry, reporting steps 2i and 2i + 1.
bool SetBoth(const std::string& name, const std::string& value, int progress = -1, int step = 0) {
  const char* path[] = {"Crash", name.c_str(), nullptr};
  int32_t one = 1;
  if (lxos::RegSetValue(kKey, name.c_str(), lxos::kRegSz, value.data(),
                        static_cast<uint32_t>(value.size())) != lxos::kRegOk)
    return false;
  if (progress >= 0) lxtest::Report(progress, 2 * step);
  if (LxSetRegistryEntry(path, value.c_str(), one) != 0) return false;
  if (progress >= 0) lxtest::Report(progress, 2 * step + 1);
  return true;
}

std::string IntegrityCheck() {  // its last row: "ok" alone when all is well
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(lxos::RegistryFile().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    auto row = [](void* out, int, char** v, char**) { return *static_cast<std::string*>(out) = v[0], 0; };
    sqlite3_exec(db, "PRAGMA integrity_check", row, &result, nullptr);
  }
  sqlite3_close(db);
  return result;
}

TEST(RegistryCrash, KilledWriterLeavesEveryValueOldOrNew) {
  std::mt19937 random(20261205);
  ASSERT_EQ(lxos::kRegOk, lxos::RegCreateKey(kKey));
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    for (int i = 0; i < kValues; ++i) ASSERT_TRUE(SetBoth("v" + std::to_string(i), Value("old", round, i)));
    Child writer([round](int progress) {
      for (int i = 0; i < kValues; ++i) {
        if (!SetBoth("v" + std::to_string(i), Value("new", round, i), progress, i)) return 3;
      }
      for (;;) lxtest::Nap(100000);  // done: wait for the end
    });
    const uint32_t reports = random() % (2 * kValues);
    uint32_t word = 0;
    int32_t lastDone = -1;
    for (uint32_t k = 0; k < reports && writer.ReadProgress(&word); ++k)
      lastDone = static_cast<int32_t>(word);
    lxtest::Nap(static_cast<long>(random() % 4000));
    writer.Kill();
    EXPECT_EQ(128 + SIGKILL, writer.Wait());

    EXPECT_EQ("ok", IntegrityCheck());
    int missingEntries = 0;
    for (int i = 0; i < kValues; ++i) {
      const std::string name = "v" + std::to_string(i);
      const std::string old = Value("old", round, i), fresh = Value("new", round, i);
      for (bool entry : {false, true}) {
        const std::string stored = Stored(name, entry);
        missingEntries += stored == "<none>" && entry;
        EXPECT_TRUE(stored == fresh ||
                    (2 * i + entry > lastDone && (stored == old || (entry && stored == "<none>"))))
            << name << (entry ? " entry: " : ": ") << stored.substr(0, 40);
      }
    }
    EXPECT_LE(missingEntries, 1);
    EXPECT_TRUE(SetBoth("after", "taken"));  // the store takes writes again
    EXPECT_EQ("taken", Stored("after", false));
  }
}

const std::string kTool = LXB_BINARY_DIR "/bin/lxtool";

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

TEST(LxtoolCrash, KilledEncoderLeavesTheOldOutputOrNone) {
  const std::string dir = lxtest::MakeTempDir("lxtool");
  ASSERT_FALSE(dir.empty());
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
    ASSERT_GT(Beside(target), 0) << "the encoder wrote nothing before it was killed";
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
TEST(LxtoolCrash, KilledRegSetLeavesTheEntryOldOrNew) {
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

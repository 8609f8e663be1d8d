// The atomic file writer: a replaced target, and every step's failure injected
// through the system-call table.
#include "os/atomic_file.h"

#include <dirent.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "lxtest.h"
#include "os/syscall.h"

namespace {

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = d ? readdir(d) : nullptr) names.insert(e->d_name);
  if (d) closedir(d);
  return names;
}

TEST(AtomicFile, ReplacesTheTargetWholeWithTheGivenMode) {
  const std::string dir = lxtest::MakeTempDir("atomic"), target = dir + "/out";
  // A symbolic link in the target's place is replaced, not followed.
  ASSERT_TRUE(lxtest::WriteFile(dir + "/other", "keep"));
  ASSERT_EQ(0, symlink("other", target.c_str()));
  // Writes that take two bytes at a time still write everything.
  ASSERT_TRUE(lxos::SetSyscall(
      "write", +[](int fd, const void* data, size_t size) -> ssize_t {
        return write(fd, data, size < 2 ? size : 2);
      }));
  ASSERT_EQ(0, lxos::WriteFileAtomically(target, "new content", 0640));
  struct stat st;
  ASSERT_EQ(0, lstat(target.c_str(), &st));
  EXPECT_EQ(S_IFREG | 0640u, st.st_mode);
  EXPECT_EQ("new content", lxtest::ReadFile(target));
  EXPECT_EQ("keep", lxtest::ReadFile(dir + "/other"));
  // A write that takes nothing ends the loop with EIO instead of repeating forever.
  ASSERT_TRUE(lxos::SetSyscall(
      "write", +[](int, const void*, size_t) -> ssize_t { return 0; }));
  EXPECT_EQ(EIO, lxos::WriteFileAtomically(target, "lost", 0640));
  lxos::ResetSyscalls();
  {
    lxos::AtomicFile dropped;  // content that is never committed leaves no trace
    ASSERT_EQ(0, dropped.Open(target, 0644));
    ASSERT_EQ(0, dropped.Write("lost", 4));
  }
  EXPECT_EQ("new content", lxtest::ReadFile(target));
  EXPECT_EQ((std::set<std::string>{".", "..", "other", "out"}), Names(dir));
  // The seam takes only functions of the call's own type.
  EXPECT_FALSE(lxos::SetSyscall(
      "fsync", +[](int, int) { return 0; }));
  EXPECT_FALSE(lxos::FailSyscall("no such call", EIO));
  char plain[] = "/tmp/lxb-no-template";  // a name without X's to fill stays as it is
  EXPECT_EQ(-1, lxos::sys::MakeTemp(plain));
  EXPECT_STREQ("/tmp/lxb-no-template", plain);
}

TEST(AtomicFile, FailedStepsLeaveTheOldTargetAndNoTemporaryFile) {
  const std::string dir = lxtest::MakeTempDir("atomic"), target = dir + "/out";
  const struct {
    const char* call;
    int error, skip;  // skip: calls of `call` that go through first
    int32_t result;
    const char* content;
  } kFaults[] = {
      {"mkostemp", EACCES, 0, EACCES, "old"},
      {"fchmod", EPERM, 0, EPERM, "old"},
      {"write", ENOSPC, 0, ENOSPC, "old"},
      {"fsync", EIO, 0, EIO, "old"},
      {"close", EIO, 0, EIO, "old"},
      {"rename", EACCES, 0, EACCES, "old"},
      {"write", EINTR, 0, 0, "new"},  // interrupted calls are repeated
      {"fsync", EINTR, 0, 0, "new"},
      {"open", EACCES, 0, EACCES, "new"},  // after the rename: the directory cannot be flushed
      {"fsync", EIO, 1, EIO, "new"},
      {"fsync", EINVAL, 1, 0, "new"},
  };
  for (const auto& f : kFaults) {
    SCOPED_TRACE(std::string(f.call) + " " + std::to_string(f.error) + " after " + std::to_string(f.skip));
    ASSERT_TRUE(lxtest::WriteFile(target, "old"));
    ASSERT_TRUE(lxos::FailSyscall(f.call, f.error, 1, f.skip));
    lxos::AtomicFile file;
    int32_t result = file.Open(target, 0644);
    if (result == 0) result = file.Write("ne", 2);
    if (result == 0) result = file.Write("w", 1);
    if (result == 0) result = file.Commit();
    EXPECT_EQ(f.result, result);
    EXPECT_EQ(1, lxos::InjectedFailures(f.call));
    lxos::ResetSyscalls();
    EXPECT_EQ(f.content, lxtest::ReadFile(target));
    EXPECT_EQ((std::set<std::string>{".", "..", "out"}), Names(dir));
    // A failure sticks until the next Open; committed content takes no more.
    EXPECT_EQ(result != 0 ? result : EBADF, file.Write("x", 1));
  }
}

}  // namespace

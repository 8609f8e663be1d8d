// lxtool crc32 and rle on real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "lxmemfile.h"
#include "lxtest.h"

namespace {

// Runs lxtool with `args` (quoted for the shell); returns its exit status and, in
// *out, its standard output.
int RunTool(const std::string& args, std::string* out = nullptr) {
  lxtest::ToolRun run = lxtest::RunLxtoolShell(args);
  if (out != nullptr) *out = run.out;
  return run.code;
}

std::string Hex8(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", v);
  return buf;
}

TEST(LxToolMemfile, Crc32OfFilesAndTheirChain) {
  const std::string dir = lxtest::MakeTempDir("crc");
  std::string a(300000, '\0'), b = "123456789";
  std::mt19937 rng(1);
  for (auto& c : a) c = static_cast<char>(rng());
  ASSERT_TRUE(lxtest::WriteFile(dir + "/a", a));
  ASSERT_TRUE(lxtest::WriteFile(dir + "/b", b));
  std::string out;
  ASSERT_EQ(0, RunTool("crc32 --chain " + dir + "/a " + dir + "/b", &out));
  const uint32_t ca = CalcCheckSum(a.data(), static_cast<uint32_t>(a.size()), nullptr);
  const std::string ab = a + b;
  const uint32_t chain = CalcCheckSum(ab.data(), static_cast<uint32_t>(ab.size()), nullptr);
  EXPECT_EQ(Hex8(ca) + "  " + dir + "/a\ncbf43926  " + dir + "/b\n" + Hex8(chain) + "  (chain)\n", out);
  EXPECT_EQ(1, RunTool("crc32 " + dir + "/missing"));
  EXPECT_EQ(2, RunTool("crc32"));
}

TEST(LxToolMemfile, RleFramesRoundTrip) {
  const std::string dir = lxtest::MakeTempDir("rle");
  std::string data;
  std::mt19937 rng(2);
  for (int i = 0; i < 200; ++i) {
    data.append(rng() % 600, static_cast<char>(rng() % 3));
    for (int k = rng() % 300; k > 0; --k) data.push_back(static_cast<char>(rng()));
  }
  ASSERT_TRUE(lxtest::WriteFile(dir + "/in", data));
  ASSERT_EQ(0, RunTool("rle encode " + dir + "/in " + dir + "/enc"));
  ASSERT_EQ(0, RunTool("rle decode " + dir + "/enc " + dir + "/out"));
  EXPECT_EQ(data, lxtest::ReadFile(dir + "/out"));
  std::string len;
  ASSERT_EQ(0, RunTool("rle len " + dir + "/enc", &len));
  EXPECT_EQ(std::to_string(data.size()) + "\n", len);

  // The first frame: stored and decoded length, then the block's encoding.
  const std::string enc = lxtest::ReadFile(dir + "/enc");
  ASSERT_GE(enc.size(), 8u);
  auto le32 = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(enc[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(enc[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(enc[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(enc[at + 3])) << 24;
  };
  EXPECT_EQ(4096u, le32(4));
  std::string block(8192, '\0');
  int room = 4096;
  const bool packed = DScomp(data.data(), 4096, &block[0], &room) == 0;
  EXPECT_EQ(packed ? static_cast<uint32_t>(room) : 4096u, le32(0));
  EXPECT_EQ(packed ? block.substr(0, room) : data.substr(0, 4096), enc.substr(8, le32(0)));

  ASSERT_TRUE(lxtest::WriteFile(dir + "/cut", enc.substr(0, enc.size() - 1)));
  EXPECT_EQ(1, RunTool("rle decode " + dir + "/cut " + dir + "/x"));
  EXPECT_EQ(2, RunTool("rle squeeze"));
}

}  // namespace

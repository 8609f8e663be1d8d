// LxOutStreamFILE: the thirteen formats, the manipulators, and a stream that
// outlives its LxOutStreamFILE.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lxmessages.h"

namespace {

// A C stream into memory; the text is visible after each fflush.
class MemoryStream {
 public:
  MemoryStream() : file(open_memstream(&data, &size)) {}
  ~MemoryStream() {
    if (file) std::fclose(file);
    std::free(data);
  }
  std::string Text() {
    std::fflush(file);
    return std::string(data, size);
  }

  char* data = nullptr;
  size_t size = 0;
  FILE* file;
};

}  // namespace

TEST(OutStreamFILE, EachTypeInItsFormat) {
  MemoryStream memory;
  ASSERT_NE(memory.file, nullptr);
  LxOutStreamFILE out(memory.file);
  EXPECT_EQ(out.GetStream(), memory.file);

  out << -5 << '|' << 'x' << '|' << static_cast<unsigned short>(65535) << '|'
      << reinterpret_cast<const void*>(uintptr_t{0x1F});
  EXPECT_EQ(memory.Text(), "-5|x|65535|0x1f");
}

TEST(OutStreamFILE, ExtremeValues) {
  MemoryStream memory;
  LxOutStreamFILE out(memory.file);
  out << static_cast<short>(SHRT_MIN) << ' ' << INT_MIN << ' ' << UINT_MAX << ' ' << LONG_MIN << ' '
      << ULONG_MAX << ' ' << 2.5 << ' ' << -0.125f << ' ' << static_cast<const void*>(nullptr) << ' '
      << reinterpret_cast<const void*>(~uintptr_t{0}) << ' ' << "text" << ' '
      << static_cast<const char*>(nullptr);
  std::string expected = "-32768 -2147483648 4294967295 " + std::to_string(LONG_MIN) + " " +
                         std::to_string(ULONG_MAX) + " 2.500000 -0.125000 0x0 0xffffffffffffffff text (null)";
  EXPECT_EQ(memory.Text(), expected);
}

TEST(OutStreamFILE, ManipulatorsCallNewLineAndFlush) {
  MemoryStream memory;
  LxOutStreamFILE out(memory.file);
  LxOutStreamStub& stub = out;
  (stub << 1 << endl << "two") << flush;
  // flush must have handed the text on: look without flushing again.
  EXPECT_EQ(std::string(memory.data, memory.size), "1\ntwo");
  EXPECT_EQ(&endl(stub), &stub);
  EXPECT_EQ(&flush(stub), &stub);
  EXPECT_EQ(std::string(memory.data, memory.size), "1\ntwo\n");
}

TEST(OutStreamFILE, DestructionLeavesTheStreamOpen) {
  MemoryStream memory;
  {
    LxOutStreamFILE out(memory.file);
    LxOutStreamFILE copy(out);
    copy << "a";
    out << "b";
  }
  EXPECT_GE(std::fputs("c", memory.file), 0);
  EXPECT_EQ(memory.Text(), "abc");
}

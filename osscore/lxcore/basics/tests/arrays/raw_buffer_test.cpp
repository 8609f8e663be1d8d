// LxRawBuffer: copy, adopt and borrow, the copy constructor, EnsureCapacity.
#include <gtest/gtest.h>
#include <lxarrays.h>
#include <lxtest.h>

#include <cstdlib>
#include <cstring>

namespace {

TEST(RawBuffer, ConstructorBehaviours) {
  unsigned char bytes[16];
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(i);

  LxRawBuffer none(bytes, 0, LxRawBufferCopy);
  EXPECT_EQ(none.GetBuf(), nullptr);
  EXPECT_EQ(none.GetBufLen(), 0u);
  LxRawBuffer nothing(nullptr, 16, LxRawBufferCopy);
  EXPECT_EQ(nothing.GetBuf(), nullptr);
  EXPECT_EQ(nothing.GetBufLen(), 0u);

  LxRawBuffer copy(bytes, 16, LxRawBufferCopy);
  ASSERT_NE(copy.GetBuf(), nullptr);
  EXPECT_NE(copy.GetBuf(), bytes);
  bytes[3] = 99;
  EXPECT_EQ(static_cast<unsigned char*>(copy.GetBuf())[3], 3);

  LxRawBuffer borrowed(bytes, 16, LxRawBufferBorrow);
  EXPECT_EQ(borrowed.GetBuf(), bytes);
  LxRawBuffer borrowedCopy(borrowed);
  EXPECT_EQ(borrowedCopy.GetBuf(), bytes);
  EXPECT_EQ(borrowedCopy.GetBufLen(), 16u);

  LxRawBuffer copyOfCopy(copy);
  EXPECT_NE(copyOfCopy.GetBuf(), copy.GetBuf());
  EXPECT_EQ(std::memcmp(copyOfCopy.GetBuf(), copy.GetBuf(), 16), 0);

  // An adopted block is released by the buffer (ASan reports a leak otherwise);
  // its copy owns a block of its own.
  void* block = std::malloc(8);
  std::memset(block, 0xAB, 8);
  LxRawBuffer adopted(block, 8, LxRawBufferAdopt);
  EXPECT_EQ(adopted.GetBuf(), block);
  LxRawBuffer adoptedCopy(adopted);
  EXPECT_NE(adoptedCopy.GetBuf(), block);
  EXPECT_EQ(adoptedCopy.GetBehavior(), LxRawBufferAdopt);
  EXPECT_EQ(static_cast<unsigned char*>(adoptedCopy.GetBuf())[7], 0xAB);
}

TEST(RawBuffer, EnsureCapacity) {
  unsigned char bytes[16] = {1, 2, 3};
  LxRawBuffer owned(bytes, 16, LxRawBufferCopy);
  void* before = owned.GetBuf();
  EXPECT_EQ(owned.EnsureCapacity(8), 0);
  EXPECT_EQ(owned.GetBuf(), before);
  EXPECT_EQ(static_cast<unsigned char*>(owned.GetBuf())[2], 3);
  EXPECT_EQ(owned.EnsureCapacity(64), 0);
  EXPECT_EQ(owned.GetBufLen(), 64u);
  std::memset(owned.GetBuf(), 0, 64);

  LxRawBuffer borrowed(bytes, 16, LxRawBufferBorrow);
  EXPECT_EQ(borrowed.EnsureCapacity(32), 0);
  EXPECT_NE(borrowed.GetBuf(), bytes);
  EXPECT_EQ(borrowed.GetBufLen(), 32u);
  EXPECT_EQ(borrowed.GetBehavior(), LxRawBufferCopy);
  EXPECT_EQ(bytes[0], 1);

  LxRawBuffer empty(nullptr, 0, LxRawBufferBorrow);
  EXPECT_EQ(empty.EnsureCapacity(0), 0);
  EXPECT_EQ(empty.GetBuf(), nullptr);
  EXPECT_EQ(empty.EnsureCapacity(1), 0);
  EXPECT_NE(empty.GetBuf(), nullptr);
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(RawBuffer, EnsureCapacityFailureLeavesAnEmptyBuffer) {
  auto child = lxtest::RunWithMemoryLimit(64u << 20, [] {
    unsigned char bytes[4] = {};
    LxRawBuffer buffer(bytes, 4, LxRawBufferBorrow);
    if (buffer.EnsureCapacity(1u << 30) != -2030) return 1;
    if (buffer.GetBuf() != nullptr || buffer.GetBufLen() != 0) return 2;
    if (buffer.GetBehavior() != LxRawBufferCopy) return 3;
    return buffer.EnsureCapacity(16) == 0 && buffer.GetBufLen() == 16 ? 0 : 4;
  });
  EXPECT_TRUE(child.exited) << child.err;
  EXPECT_EQ(child.code, 0) << child.err;
}
#endif

}  // namespace

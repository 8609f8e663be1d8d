#include <gtest/gtest.h>

#include <vector>

#include "fault_alloc.h"
#include "lxmemfile.h"

namespace {

TEST(MemQueue, EmptyAndShortReads) {
  for (unsigned short compact : {0, 1}) {
    MemQueue q(compact);
    char buf[8] = {};
    EXPECT_EQ(-12001, q.Get(buf, 1));
    ASSERT_EQ(0, q.Put("abc", 3));
    EXPECT_EQ(-12003, q.Get(buf, 4));
    EXPECT_EQ(0, q.Get(buf, 3));
    EXPECT_EQ(std::string("abc"), std::string(buf, 3));
    EXPECT_EQ(-12001, q.Get(buf, 1));

    // A length that would wrap the 32-bit size, and a Delete past the read offset,
    // change nothing.
    lxt::RecordingHandler handler;
    ASSERT_EQ(0, q.Put("0123456789abcdefghij", 20));
    EXPECT_EQ(-12002, q.Put(buf, 0xFFFFFFF0u));
    EXPECT_EQ(0, q.Delete(q.GetReadOffset() + 1));
    EXPECT_EQ(20u, q.GetSize() - q.GetReadOffset());
    EXPECT_EQ(0, q.Get(buf, 8));
    EXPECT_EQ(std::string("01234567"), std::string(buf, 8));
  }
}

TEST(MemQueue, NonCompactingKeepsConsumedBytesUntilDelete) {
  MemQueue q;
  EXPECT_EQ(0, q.GetCompact());
  ASSERT_EQ(0, q.Put("0123456789", 10));
  char buf[4];
  ASSERT_EQ(0, q.Get(buf, 4));
  EXPECT_EQ(10, q.GetSize());
  EXPECT_EQ(4u, q.GetReadOffset());
  EXPECT_EQ(0, q.Delete(0));
  EXPECT_EQ(6, q.GetSize());
  EXPECT_EQ(0u, q.GetReadOffset());
  ASSERT_EQ(0, q.Get(buf, 2));
  EXPECT_EQ(std::string("45"), std::string(buf, 2));

  // Delete from an offset inside the consumed part keeps the bytes before it.
  ASSERT_EQ(0, q.Get(buf, 2));  // read offset 4 of "456789"
  EXPECT_EQ(0, q.Delete(1));
  EXPECT_EQ(1u, q.GetReadOffset());
  EXPECT_EQ(std::string("489"), std::string(q.GetBuffer(), 3));
}

TEST(MemQueue, CompactingHoldsOnlyUnreadBytes) {
  MemQueue q(1);
  ASSERT_EQ(0, q.Put("0123456789", 10));
  char buf[4];
  ASSERT_EQ(0, q.Get(buf, 4));
  EXPECT_EQ(6, q.GetSize());
  EXPECT_EQ(0u, q.GetReadOffset());
  EXPECT_EQ(std::string("456789"), std::string(q.GetBuffer(), 6));
  ASSERT_EQ(0, q.Get(buf, 4));
  ASSERT_EQ(0, q.Get(buf, 2));
  EXPECT_EQ(0, q.GetSize());
  EXPECT_EQ(nullptr, q.GetBuffer());
}

TEST(MemQueue, CopiesTakeOffsetAndFlag) {
  MemQueue q;
  q.Put("abcdef", 6);
  char buf[2];
  q.Get(buf, 2);
  MemQueue copy(q);
  EXPECT_EQ(2u, copy.GetReadOffset());
  ASSERT_EQ(0, copy.Get(buf, 2));
  EXPECT_EQ(std::string("cd"), std::string(buf, 2));

  MemQueue assigned(1);
  assigned.Put("zz", 2);
  assigned = q;
  EXPECT_EQ(0, assigned.GetCompact());
  EXPECT_EQ(2u, assigned.GetReadOffset());
  EXPECT_EQ(6, assigned.GetSize());
}

TEST(MemQueue, FailedGrowthAndReduction) {
#if !defined(LXT_HAVE_FAULT_ALLOC)
  GTEST_SKIP() << "allocation faults need the real allocator";
#else
  lxt::RecordingHandler handler;
  MemQueue q;
  ASSERT_EQ(0, q.Put("12345678", 8));
  lxt::FailReallocs(1);
  EXPECT_EQ(-12002, q.Put("9", 1));
  lxt::FailReallocs(0);
  EXPECT_EQ(8, q.GetSize());

  MemQueue c(1);
  std::vector<char> bytes(1000, 'x');
  bytes[999] = 'y';
  ASSERT_EQ(0, c.Put(bytes.data(), 1000));
  std::vector<char> out(999);
  lxt::FailReallocs(1);
  EXPECT_EQ(12006, c.Get(out.data(), 999));
  lxt::FailReallocs(0);
  EXPECT_EQ(1, c.GetSize());
  char last = 0;
  EXPECT_EQ(0, c.Get(&last, 1));
  EXPECT_EQ('y', last);
  EXPECT_EQ(2u, lxt::RecordingHandler::Calls().size());
#endif
}

}  // namespace

#include <gtest/gtest.h>

#include <deque>
#include <random>
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

// Bytes come out in the order they went in, across any mix of puts and gets.
TEST(MemQueue, RandomSequencesKeepOrder) {
  for (unsigned short compact : {0, 1}) {
    std::mt19937 rng(77 + compact);
    MemQueue q(compact);
    std::deque<unsigned char> model;
    for (int step = 0; step < 3000; ++step) {
      const int action = static_cast<int>(rng() % 10);
      if (action < 5) {
        std::vector<unsigned char> bytes(rng() % 40);
        for (auto& b : bytes) b = static_cast<unsigned char>(rng());
        ASSERT_EQ(0, q.Put(bytes.data(), static_cast<uint32_t>(bytes.size())));
        model.insert(model.end(), bytes.begin(), bytes.end());
      } else if (action < 9) {
        const uint32_t n = rng() % 50;
        std::vector<unsigned char> out(n);
        const int r = q.Get(out.data(), n);
        if (model.empty()) {
          ASSERT_EQ(-12001, r);
        } else if (model.size() < n) {
          ASSERT_EQ(-12003, r);
        } else {
          ASSERT_EQ(0, r);
          for (uint32_t i = 0; i < n; ++i) {
            ASSERT_EQ(model.front(), out[i]);
            model.pop_front();
          }
        }
      } else if (!compact) {
        const uint32_t offset = q.GetReadOffset() == 0 ? 0 : rng() % (q.GetReadOffset() + 1);
        ASSERT_EQ(0, q.Delete(offset));
      }
      ASSERT_EQ(model.size(), q.GetSize() - q.GetReadOffset());
      if (compact) {
        ASSERT_EQ(0u, q.GetReadOffset());
      }
    }
  }
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

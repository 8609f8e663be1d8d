// What PrfData_Collect selects and writes, for every kind of request and buffer.
#include <lxstatistics.h>

#include <string>
#include <vector>

#include "stats_fixture.h"

namespace statstest {
namespace {

using StatisticsCollect = StatsTest;

struct Result {
  uint32_t rc;
  uint32_t size;
  uint32_t objects;
  ptrdiff_t advanced;
  std::vector<unsigned char> buf;  // the whole buffer, guard bytes included
};

constexpr size_t kGuard = 64;
constexpr unsigned char kFill = 0xC3;

// Collects into a buffer of `space` bytes followed by guard bytes.
Result Collect(const char16_t* request, uint32_t space) {
  Result r;
  r.buf.assign(space + kGuard, kFill);
  void* data = r.buf.data();
  r.size = space;
  r.objects = 99;
  std::u16string copy = request ? request : u"";
  r.rc = PrfData_Collect(request ? &copy[0] : nullptr, &data, &r.size, &r.objects);
  r.advanced = static_cast<unsigned char*>(data) - r.buf.data();
  for (size_t i = space; i < r.buf.size(); ++i) {
    EXPECT_EQ(kFill, r.buf[i]) << "written past the buffer at " << i;
  }
  return r;
}

void ExpectWholeObject(const Result& r, const unsigned char* block) {
  EXPECT_EQ(0u, r.rc);
  EXPECT_EQ(792u, r.size);
  EXPECT_EQ(1u, r.objects);
  EXPECT_EQ(792, r.advanced);
  EXPECT_EQ(792u, Get32(r.buf.data()));
  EXPECT_EQ(0xFFFFFFFFu, Get32(r.buf.data() + 40));
  // Everything else is the block as it stands.
  EXPECT_EQ(0, std::memcmp(r.buf.data() + 4, block + 4, 36));
  EXPECT_EQ(0, std::memcmp(r.buf.data() + 44, block + 44, 792 - 44));
}

void ExpectNothing(const Result& r) {
  EXPECT_EQ(0u, r.rc);
  EXPECT_EQ(0u, r.size);
  EXPECT_EQ(0u, r.objects);
  EXPECT_EQ(0, r.advanced);
  EXPECT_EQ(kFill, r.buf[0]);
}

// Installs, opens as a monitor and counts a little, so the block has values.
void OpenWithCounts() {
  EXPECT_EQ(0, RegisterStatistics());
  Statistics()->Enable();
  EXPECT_EQ(1, Statistics()->GetEnabled());
  EXPECT_EQ(0u, PrfData_Open(const_cast<char16_t*>(u"")));
  Statistics()->AddDeliveredObjects(12345);
  Statistics()->IncQueries();
}

TEST_F(StatisticsCollect, GlobalInAnyCaseOrNoNameGivesTheObject) {
  ExpectPasses([&] {
    OpenWithCounts();
    ASSERT_NE(nullptr, MapBlock());
    for (const char16_t* request : {u"Global", u"global", u"GLOBAL", static_cast<const char16_t*>(nullptr)}) {
      Result r = Collect(request, 792);
      ExpectWholeObject(r, view);
    }
    Result big = Collect(u"Global", 4096);
    ExpectWholeObject(big, view);
    EXPECT_EQ(12345u, Get32(big.buf.data() + 672 + 8 * 13));
    EXPECT_EQ(1u, Get32(big.buf.data() + 672 + 8 * 6));
  });
}

TEST_F(StatisticsCollect, TooSmallBufferAsksForMoreAndWritesNothing) {
  ExpectPasses([&] {
    OpenWithCounts();
    for (uint32_t space : {0u, 1u, 64u, 791u}) {
      Result r = Collect(u"Global", space);
      EXPECT_EQ(234u, r.rc) << space;
      EXPECT_EQ(0u, r.size);
      EXPECT_EQ(0, r.advanced);
      for (size_t i = 0; i < r.buf.size(); ++i) ASSERT_EQ(kFill, r.buf[i]) << space << " byte " << i;
    }
    // A request that selects nothing needs no room at all.
    ExpectNothing(Collect(u"Costly", 0));
  });
}

TEST_F(StatisticsCollect, IndexListsSelectByTheObjectsNameIndex) {
  ExpectPasses([&] {
    OpenWithCounts();
    ASSERT_NE(nullptr, MapBlock());
    // A fresh store gives the object the name index 2.
    ASSERT_EQ(2u, Get32(view + 12));
    for (const char16_t* request : {u"2", u"238 2", u"2 4 6", u"  2  ", u"1 2 3"}) {
      ExpectWholeObject(Collect(request, 800), view);
    }
    for (const char16_t* request :
         {u"Costly", u"Foreign", u"", u" ", u"4", u"22", u"12", u"20 3", u"2,4", u"02"}) {
      Result r = Collect(request, 800);
      ExpectNothing(r);
    }
  });
}

// A block cut short, grown or with a damaged header under the monitor (by a
// process of the owner, the only one that may write it) gives nothing, never a
// fault; once repaired, collection works again.
TEST_F(StatisticsCollect, DamagedOrResizedBlockGivesNothing) {
  ExpectPasses([&] {
    ExpectNothing(Collect(u"Global", 800));  // not opened in this process yet
    OpenWithCounts();
    ASSERT_NE(nullptr, MapBlock());
    const std::vector<unsigned char> good(view, view + kBlock);
    UnmapBlock();
    int fd = shm_open(shmName.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    const struct {
      off_t size;  // the block's new size, or -1 to keep it
      size_t offset;
      uint32_t value;  // written at `offset` when the size is kept
    } damage[] = {
        {0, 0, 0},
        {500, 0, 0},
        {4096, 0, 0},
        {-1, 4, 0xFFFFFFF8},
        {-1, 8, 0},
        {-1, 32, 16},
        {-1, 664, 0x7FFFFFFF},
        {-1, 64 + 40 * 3, 400},
        {-1, 64 + 40 * 14 + 36, 8 * 16},
        {-1, 64 + 40 * 7 + 32, 4},
    };
    for (const auto& d : damage) {
      SCOPED_TRACE(d.offset);
      if (d.size >= 0) {
        ASSERT_EQ(0, ftruncate(fd, d.size));
      } else {
        unsigned char le[4] = {static_cast<unsigned char>(d.value), static_cast<unsigned char>(d.value >> 8),
                               static_cast<unsigned char>(d.value >> 16),
                               static_cast<unsigned char>(d.value >> 24)};
        ASSERT_EQ(4, pwrite(fd, le, 4, static_cast<off_t>(d.offset)));
      }
      ExpectNothing(Collect(u"Global", 800));
      ASSERT_EQ(0, ftruncate(fd, kBlock));
      ASSERT_EQ(static_cast<ssize_t>(kBlock), pwrite(fd, good.data(), kBlock, 0));
      EXPECT_EQ(792u, Collect(u"Global", 800).size);
    }
    close(fd);
  });
}

TEST_F(StatisticsCollect, NullArgumentsAreRefusedWithoutWriting) {
  ExpectPasses([&] {
    OpenWithCounts();
    uint32_t size = 792;
    uint32_t objects = 5;
    EXPECT_EQ(0u, PrfData_Collect(const_cast<char16_t*>(u"Global"), nullptr, &size, &objects));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(0u, objects);
    void* data = nullptr;
    size = 792;
    EXPECT_EQ(0u, PrfData_Collect(const_cast<char16_t*>(u"Global"), &data, &size, &objects));
    EXPECT_EQ(nullptr, data);
    EXPECT_EQ(0u, size);
  });
}

}  // namespace
}  // namespace statstest

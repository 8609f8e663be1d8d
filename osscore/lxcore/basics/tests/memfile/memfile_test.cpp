// MemFile beyond its fuzz model and the oom suite's sweep: the exact segment
// geometry, ranges past the largest file, and reductions that realloc refuses;
// and block-compression lengths past INT_MAX (fixed encodings and decodings are
// inputs of the rle_roundtrip and rle_decode fuzz models).
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "lxframe.h"
#include "lxmemfile.h"

// glibc never fails a shrinking realloc: this program's realloc, which the
// library's calls reach, fails once when told to (not under AddressSanitizer).
bool g_refuseRealloc = false;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__clang__)
#define LXT_REFUSE_REALLOC 1
extern "C" void* __libc_realloc(void* block, size_t size);
extern "C" void* realloc(void* block, size_t size) {
  return std::exchange(g_refuseRealloc, false) ? nullptr : __libc_realloc(block, size);
}
#endif

namespace {

// A file made with `segment`, sized to `first` by the constructor and then to
// `then` (unless 0), ends with this capacity and segment size (log2): one SizeSet
// may widen many times; a shrink to one segment goes back to the initial size.
// clang-format off
const struct { int32_t segment, first, then; uint32_t capacity; int shift; } kGeometry[] = {
    {8, 1, 0, 8, 3},       {0, 7, 0, 7, 0},         {0, 8, 0, 8, 1},              {3, 1, 0, 2, 1},
    {100, 1, 0, 64, 6},    {1024, 1, 0, 1024, 10},  {8, 1000, 0, 1024, 8},        {8, 1000000, 0, 1015808, 15},
    {8, 57, 5, 8, 3},      {8, 100000, 1000, 1024, 8}, {8, 100000, 0, 7 << 14, 14}, {8, 100000, 40000, 3 << 14, 14}};
// clang-format on

TEST(MemFileGeometry, CapacityAndSegmentSizeAfterSizeSet) {
  for (const auto& row : kGeometry) {
    MemFile f(row.first, row.segment);
    ASSERT_EQ(0, row.then != 0 ? f.SizeSet(row.then) : 0);
    SCOPED_TRACE(testing::Message() << row.segment << ": " << row.first << ", " << row.then);
    EXPECT_EQ(row.capacity, f.GetCapacity());
    EXPECT_EQ(row.shift, f.GetSegmentShift());
    EXPECT_EQ(row.then != 0 ? row.then : row.first, f.GetSize());
  }
}

// Appends reallocate at 1..7 segments of 8 bytes, at 4..7 segments of each
// doubled size up to 32768 bytes, then every 32768 bytes. Short ones that stay in
// the last segment skip SizeSet but must keep its geometry, also after
// SizeSetDontShrink left the block larger.
TEST(MemFileGeometry, AppendsFollowTheSizeSetSteps) {
  std::vector<uint32_t> steps = {0, 8, 16, 24, 32, 40, 48, 56};
  for (uint32_t segment = 16; segment <= 32768; segment *= 2) {
    for (uint32_t c = 4; c <= 7; ++c) steps.push_back(c * segment);
  }
  for (uint32_t c = 8; steps.back() < 300000; ++c) steps.push_back(c * 32768);
  for (int32_t record : {1, 3, 16, 17, 40}) {
    MemFile appended, sized;
    const std::string bytes(static_cast<size_t>(record), 'r');
    std::vector<uint32_t> capacities = {0};
    bool cut = false;
    for (int32_t n = record; n <= 300000; n += record) {
      if (!cut && n >= 150000) {  // once: back to 10 bytes, keeping the block
        cut = appended.SizeSetDontShrink(10) == 0 && sized.SizeSetDontShrink(10) == 0;
        n = 10 + record;
      }
      ASSERT_EQ(record, appended.Put(bytes.data(), appended.GetSize(), record));
      ASSERT_EQ(0, sized.SizeSet(n));
      ASSERT_EQ(sized.GetCapacity(), appended.GetCapacity()) << record << " " << n;
      ASSERT_EQ(sized.GetSegmentShift(), appended.GetSegmentShift()) << record << " " << n;
      if (capacities.back() < appended.GetCapacity()) capacities.push_back(appended.GetCapacity());
    }
    EXPECT_TRUE(record != 1 || steps == capacities) << testing::PrintToString(capacities);
  }
}

// Operations that cannot have their memory: growths past the largest file or 32
// bits (the fuzz models cover the other operations on such ranges), a Get into a
// file of more than this file holds, and reductions that realloc refuses (the
// larger block stays and takes the new size). The handler hears of each refused
// size (cut to 32 bits); the files change only by a reduction.
struct Files {
  Files() {
    f.Put("0123456789", 0, 10);
    f.Seek(4, 0);
    q.Put("abcdef", 6);
  }
  std::string F() const {
    return std::string(f.GetBuffer(), f.GetSize()) + "@" + std::to_string(f.GetPosition()) + "/" +
           std::to_string(f.GetCapacity());
  }
  std::string Q() const {
    return std::string(q.GetBuffer(), q.GetSize()) + "/" + std::to_string(q.GetCapacity());
  }
  MemFile f;
  MemQueue q;
};
struct FailureRow {
  const char* name;
  std::function<int64_t(Files&)> run;
  int64_t result;
  std::vector<uint32_t> handlerSizes;
  const char* reduced = nullptr;  // when set, realloc fails and this is f afterwards
};
const FailureRow kFailures[] = {
    {"SizeSet", [](Files& x) { return x.f.SizeSet(INT32_MAX); }, LX_MEMFILE_NO_MEMORY, {0x80000000u}},
    {"Put", [](Files& x) { return x.f.Put("abc", INT32_MAX, 3); }, 0, {0x80000002u}},
    {"Get into a file", [](Files& x) { return x.f.Get(&x.q, 4u, 0xFFFFFFFEu); }, 0, {0xFFFFFFFFu}},
    {"Get from past the size", [](Files& x) { return x.f.Get(&x.q, 7u, 0u); }, 0, {}},
#if LXT_REFUSE_REALLOC
    {"assignment", [](Files& x) { return x.f = x.q, 0; }, 0, {8}, "abcdef@0/16"},
    {"Delete", [](Files& x) { return x.f.Delete(0, 6); }, 0, {8}, "6789@4/16"},
#endif
};

TEST(MemFileFailures, RefusedMemoryAndRangesPastTheLargestFile) {
  static std::vector<uint32_t> handled;  // the sizes the out-of-memory handler hears of
  for (const FailureRow& row : kFailures) {
    Files x;
    const std::string f = x.F(), q = x.Q();
    handled.clear();
    const LxMemoryHandler previous = mmLxSetHandler([](uint32_t size) {
      handled.push_back(size);
      return int32_t{0};
    });
    g_refuseRealloc = row.reduced != nullptr;
    EXPECT_EQ(row.result, row.run(x)) << row.name;
    EXPECT_FALSE(std::exchange(g_refuseRealloc, false)) << row.name << ": realloc not called";
    mmLxSetHandler(previous);
    EXPECT_EQ(row.handlerSizes, handled) << row.name;
    EXPECT_EQ(row.reduced ? row.reduced : f, x.F()) << row.name;
    EXPECT_EQ(q, x.Q()) << row.name;
  }
}

// A decoded length past INT_MAX gives -1, also where a 32-bit sum would wrap to
// a small positive value (16843010 x 255 = 2^32 + 254).
TEST(BlockCompression, LengthPastIntMax) {
  std::vector<unsigned char> big;
  for (int i = 0; i < 16843010; ++i) big.insert(big.end(), {0xFF, 0x41});
  const int intMaxRecords = INT_MAX / 255;
  big[2 * intMaxRecords] = INT_MAX % 255;
  EXPECT_EQ(INT_MAX, DSlen(big.data(), 2 * intMaxRecords + 2));
  EXPECT_EQ(-1, DSlen(big.data(), 2 * intMaxRecords + 4));
  big[2 * intMaxRecords] = 0xFF;
  EXPECT_EQ(-1, DSlen(big.data(), static_cast<int>(big.size())));
}

}  // namespace

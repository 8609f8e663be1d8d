#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "fault_alloc.h"
#include "lxmemfile.h"
#include "lxtest.h"

namespace {

std::string Contents(const MemFile& f) {
  return std::string(f.GetBuffer(), static_cast<size_t>(f.GetSize()));
}

MemFile FileWith(const std::string& bytes) {
  MemFile f;
  f.Put(bytes.data(), 0, static_cast<int32_t>(bytes.size()));
  return f;
}

struct Geometry {
  int count;
  int shift;
};

Geometry GeometryAfter(int32_t segmentSize, int32_t n) {
  MemFile f(0, segmentSize);
  EXPECT_EQ(0, f.SizeSet(n));
  return {f.GetSegmentCount(), f.GetSegmentShift()};
}

TEST(MemFileGeometry, SegmentSizeFromCreator) {
  EXPECT_EQ(3, MemFile().GetSegmentShift());
  EXPECT_EQ(0, MemFile(0, 0).GetSegmentShift());
  EXPECT_EQ(0, MemFile(0, 1).GetSegmentShift());
  EXPECT_EQ(1, MemFile(0, 3).GetSegmentShift());
  EXPECT_EQ(6, MemFile(0, 100).GetSegmentShift());
  EXPECT_EQ(10, MemFile(0, 1024).GetInitialSegmentShift());
  MemFile empty;
  EXPECT_EQ(nullptr, empty.GetBuffer());
  EXPECT_EQ(0, empty.GetSize());
  EXPECT_EQ(0u, empty.GetCapacity());
}

TEST(MemFileGeometry, SizesOnANewFile) {
  for (int n = 1; n <= 8; ++n) {
    Geometry g = GeometryAfter(8, n);
    EXPECT_EQ(1, g.count) << n;
    EXPECT_EQ(3, g.shift) << n;
  }
  for (int n = 9; n <= 56; ++n) {
    Geometry g = GeometryAfter(8, n);
    EXPECT_EQ((n + 7) / 8, g.count) << n;
    EXPECT_EQ(3, g.shift) << n;
  }
  Geometry g = GeometryAfter(8, 57);
  EXPECT_EQ(4, g.count);
  EXPECT_EQ(4, g.shift);
  g = GeometryAfter(8, 100);
  EXPECT_EQ(7, g.count);
  EXPECT_EQ(4, g.shift);
  g = GeometryAfter(8, 1000);
  EXPECT_EQ(4, g.count);
  EXPECT_EQ(8, g.shift);
  g = GeometryAfter(8, 1000000);
  EXPECT_EQ(31, g.count);
  EXPECT_EQ(15, g.shift);
  g = GeometryAfter(0, 7);
  EXPECT_EQ(7, g.count);
  EXPECT_EQ(0, g.shift);
  g = GeometryAfter(0, 8);
  EXPECT_EQ(4, g.count);
  EXPECT_EQ(1, g.shift);

  MemFile sized(1000);
  EXPECT_EQ(1000, sized.GetSize());
  EXPECT_EQ(1024u, sized.GetCapacity());
}

// Growing a byte at a time: capacities 1..7 segments of the starting size, then
// four steps per doubling (4, 5, 6, 7 segments), then one step per 32768 bytes.
TEST(MemFileGeometry, GrowthInSmallSteps) {
  MemFile f;
  std::vector<uint32_t> capacities;
  for (int32_t n = 1; n <= 600000; ++n) {
    ASSERT_EQ(0, f.SizeSet(n));
    if (capacities.empty() || capacities.back() != f.GetCapacity()) capacities.push_back(f.GetCapacity());
    ASSERT_LE(static_cast<uint32_t>(n), f.GetCapacity());
    ASSERT_EQ(f.GetCapacity(), static_cast<uint32_t>(f.GetSegmentCount()) << f.GetSegmentShift());
  }
  std::vector<uint32_t> expected;
  for (uint32_t c = 1; c <= 7; ++c) expected.push_back(c * 8);
  for (uint32_t seg = 16; seg <= 32768; seg *= 2) {
    for (uint32_t c = 4; c <= 7; ++c) expected.push_back(c * seg);
  }
  for (uint32_t c = 8; expected.back() < 600000; ++c) expected.push_back(c * 32768);
  EXPECT_EQ(expected, capacities);
}

// Appending with Put (short records take a shortcut inside the last segment)
// must keep exactly the geometry that SizeSet gives, also after the capacity was
// left larger by SizeSetDontShrink.
TEST(MemFileGeometry, AppendsKeepTheSizeSetGeometry) {
  for (int32_t record : {1, 3, 16, 17, 40}) {
    MemFile appended, sized;
    std::string bytes(static_cast<size_t>(record), 'r');
    bool cutBack = false;
    for (int32_t n = record; n <= 300000; n += record) {
      ASSERT_EQ(record, appended.Put(bytes.data(), appended.GetSize(), record));
      ASSERT_EQ(0, sized.SizeSet(n));
      ASSERT_EQ(sized.GetCapacity(), appended.GetCapacity()) << record << " " << n;
      ASSERT_EQ(sized.GetSegmentShift(), appended.GetSegmentShift()) << record << " " << n;
      if (!cutBack && n >= 150000) {
        cutBack = true;
        appended.SizeSetDontShrink(10);  // capacity stays, the next Put must shrink it as SizeSet would
        sized.SizeSetDontShrink(10);
        n = 10;
        ASSERT_EQ(record, appended.Put(bytes.data(), 10, record));
        ASSERT_EQ(0, sized.SizeSet(10 + record));
        n += record;
        ASSERT_EQ(sized.GetCapacity(), appended.GetCapacity());
      }
    }
  }
}

TEST(MemFileGeometry, ShrinkingToOneSegmentReturnsToInitialSize) {
  MemFile f;
  ASSERT_EQ(0, f.SizeSet(57));
  EXPECT_EQ(64u, f.GetCapacity());
  EXPECT_EQ(4, f.GetSegmentCount());
  ASSERT_EQ(0, f.SizeSet(5));
  EXPECT_EQ(8u, f.GetCapacity());
  EXPECT_EQ(1, f.GetSegmentCount());
  EXPECT_EQ(3, f.GetSegmentShift());

  // Shrinking to one large segment widens again from the initial size.
  ASSERT_EQ(0, f.SizeSet(100000));
  ASSERT_EQ(0, f.SizeSet(1000));
  EXPECT_EQ(1024u, f.GetCapacity());
  EXPECT_EQ(8, f.GetSegmentShift());

  // Growth stops widening at seven segments; shrinking to several segments keeps
  // the segment size.
  ASSERT_EQ(0, f.SizeSet(100000));
  EXPECT_EQ(14, f.GetSegmentShift());
  EXPECT_EQ(7, f.GetSegmentCount());
  ASSERT_EQ(0, f.SizeSet(40000));
  EXPECT_EQ(14, f.GetSegmentShift());
  EXPECT_EQ(3, f.GetSegmentCount());

  // SizeSet(0) frees and goes back to the initial shift.
  ASSERT_EQ(0, f.SizeSet(0));
  EXPECT_EQ(nullptr, f.GetBuffer());
  EXPECT_EQ(0u, f.GetCapacity());
  EXPECT_EQ(3, f.GetSegmentShift());
}

TEST(MemFileGeometry, SameCapacityDoesNotReallocate) {
  MemFile f;
  ASSERT_EQ(0, f.SizeSet(50));
  f.Put("abc", 0, 3);
  char* before = f.GetPtr(0);
  ASSERT_EQ(0, f.SizeSet(49));
  EXPECT_EQ(before, f.GetPtr(0));
  ASSERT_EQ(0, f.SizeSet(56));
  EXPECT_EQ(before, f.GetPtr(0));
  EXPECT_EQ(0, std::memcmp(f.GetBuffer(), "abc", 3));
}

TEST(MemFileSize, DontShrinkAndLogicalSize) {
  MemFile f;
  ASSERT_EQ(0, f.SizeSet(100));
  ASSERT_EQ(0, f.SizeSetDontShrink(10));
  EXPECT_EQ(10, f.GetSize());
  EXPECT_EQ(112u, f.GetCapacity());
  ASSERT_EQ(0, f.SizeSetDontShrink(200));
  EXPECT_EQ(200, f.GetSize());
  EXPECT_EQ(224u, f.GetCapacity());

  EXPECT_EQ(-10002, f.SetLogicalSize(225));
  EXPECT_EQ(200, f.GetSize());
  EXPECT_EQ(0, f.SetLogicalSize(224));
  EXPECT_EQ(224, f.GetSize());
  EXPECT_EQ(0, f.SetLogicalSize(3));
  EXPECT_EQ(224u, f.GetCapacity());
}

TEST(MemFileSize, SetSizeZeroAndShrink) {
  MemFile f;
  ASSERT_EQ(0, f.SizeSet(1000));
  f.Seek(10, 0);
  f.SetSizeZeroAndShrink(1024);  // capacity 1024 is not above the limit: kept
  EXPECT_EQ(0, f.GetSize());
  EXPECT_EQ(0, f.GetPosition());
  EXPECT_NE(nullptr, f.GetBuffer());
  EXPECT_EQ(1024u, f.GetCapacity());
  EXPECT_EQ(8, f.GetSegmentShift());

  f.SetSizeZeroAndShrink(1023);
  EXPECT_EQ(nullptr, f.GetBuffer());
  EXPECT_EQ(0u, f.GetCapacity());
  EXPECT_EQ(3, f.GetSegmentShift());
}

TEST(MemFileSeek, ModesAndLengths) {
  MemFile f = FileWith("0123456789");
  uint32_t len = 1;
  EXPECT_EQ(nullptr, f.Seek(10, 0, &len));
  EXPECT_EQ(0u, len);
  EXPECT_EQ(0, f.GetPosition());
  len = 0;
  EXPECT_EQ(f.GetBuffer() + 10, f.Seek(10, 0, &len));
  EXPECT_EQ(10, f.GetPosition());

  EXPECT_EQ(f.GetBuffer() + 7, f.Seek(3, 2, nullptr));
  EXPECT_EQ(7, f.GetPosition());
  EXPECT_EQ(f.GetBuffer() + 9, f.Seek(2, 1, nullptr));
  EXPECT_EQ(9, f.GetPosition());
  EXPECT_EQ(f.GetBuffer() + 4, f.Seek(4, 7, nullptr));  // unknown modes count from the start

  len = 100;
  EXPECT_EQ(f.GetBuffer() + 6, f.Seek(6, 0, &len));
  EXPECT_EQ(4u, len);
  len = 4;
  EXPECT_EQ(f.GetBuffer() + 6, f.Seek(6, 0, &len));
  EXPECT_EQ(4u, len);
  EXPECT_EQ(nullptr, f.Seek(11, 0, nullptr));
  // New positions are computed without wrapping: past 2^31 or before the start is nowhere.
  EXPECT_EQ(nullptr, f.Seek(INT32_MAX, 1, nullptr));
  EXPECT_EQ(nullptr, f.Seek(11, 2, &len));
  EXPECT_EQ(0u, len);
  EXPECT_EQ(nullptr, f.Seek(-7, 1, nullptr));
  EXPECT_EQ(6, f.GetPosition());
}

TEST(MemFileBytes, PutAndGet) {
  MemFile f = FileWith("0123456789");
  char buf[16] = {};
  EXPECT_EQ(2, f.Get(buf, 8, 5));
  EXPECT_EQ(0, std::memcmp(buf, "89", 2));
  EXPECT_EQ(0, f.Get(buf, 11, 1));
  EXPECT_EQ(0, f.Get(buf, 10, 1));
  EXPECT_EQ(3, f.Get(buf, 0, 3));

  EXPECT_EQ(4, f.Put("abcd", 20, 4));
  EXPECT_EQ(24, f.GetSize());
  EXPECT_EQ("abcd", Contents(f).substr(20));
  EXPECT_EQ(0, f.GetPosition());

  MemFile empty;
  EXPECT_EQ(0, empty.Put("x", 0, 0));  // no block
  EXPECT_EQ(0, empty.Get(buf, 0, 4));
}

TEST(MemFileBytes, PutAndGetBetweenFiles) {
  MemFile source = FileWith("abcdefgh");
  source.Seek(5, 0);
  MemFile target = FileWith("XYZ");
  target.Seek(1, 0);

  EXPECT_EQ(5u, target.Put(&source, 0, 3));  // from offset 3 to the end
  EXPECT_EQ("Xdefgh", Contents(target));
  EXPECT_EQ(5, source.GetPosition());
  EXPECT_EQ(1, target.GetPosition());

  EXPECT_EQ(2u, target.Put(&source, 2, 6));  // cut to what the source holds
  EXPECT_EQ("Xghfgh", Contents(target));
  EXPECT_EQ(0u, target.Put(&source, 1, 8));  // nothing there
  EXPECT_EQ(5, source.GetPosition());

  // Get copies from this file's position into the target, growing it.
  source.Seek(2, 0);
  EXPECT_EQ(3u, source.Get(&target, 3, 7));
  EXPECT_EQ(10, target.GetSize());
  EXPECT_EQ("Xghfgh", Contents(target).substr(0, 6));
  EXPECT_EQ("cde", Contents(target).substr(7));
  EXPECT_EQ(2, source.GetPosition());

  // From a file into itself: positioning the source moves this file too, so the
  // bytes land where they came from.
  MemFile self = FileWith("0123");
  self.Seek(4, 0);
  EXPECT_EQ(3u, self.Put(&self, 0, 1));
  EXPECT_EQ("0123", Contents(self));
  EXPECT_EQ(4, self.GetPosition());

  // Ranges beyond the largest file or beyond the source: nothing read or written,
  // and growths past the largest file are reported to the out-of-memory handler.
  lxt::RecordingHandler handler;
  const std::string before = Contents(target);
  EXPECT_EQ(0u, target.Put(&source, 10u, 0x80000000u));
  EXPECT_EQ(0u, FileWith(std::string(40, 'w')).Get(&target, 32u, 0xFFFFFFF0u));
  EXPECT_EQ(0u, source.Get(&target, 7u, 0u));  // only 6 bytes from the source's position
  EXPECT_EQ(0, target.Copy(0x7FFFFFF0, 0, 0x20));
  EXPECT_EQ(0, target.Put("abc", INT32_MAX, 3));
  EXPECT_EQ(0, target.Delete(5u, 0xFFFFFFFFu));
  EXPECT_EQ(before, Contents(target));
  EXPECT_EQ(2, source.GetPosition());
  EXPECT_EQ((std::vector<uint32_t>{0xFFFFFFFFu, 0x80000010u, 0x80000002u}), lxt::RecordingHandler::Calls());
}

TEST(MemFileBytes, CopyDeleteInitialize) {
  MemFile f = FileWith("abcdefgh");
  EXPECT_EQ(5, f.Copy(2, 0, 5));
  EXPECT_EQ("ababcdeh", Contents(f));

  MemFile g = FileWith("abcdefgh");
  EXPECT_EQ(0, g.Delete(1, 2));
  EXPECT_EQ("adefgh", Contents(g));
  EXPECT_EQ(6, g.GetSize());

  MemFile h = FileWith("abcdefgh");
  EXPECT_EQ(3, h.Copy(0, 5, 3));  // backwards, overlapping not
  EXPECT_EQ("fghdefgh", Contents(h));
  EXPECT_EQ(4, h.Copy(6, 0, 4));  // grows first
  EXPECT_EQ("fghdeffghd", Contents(h));
  EXPECT_EQ(0, h.Copy(3, 3, 0));
  EXPECT_EQ(2, h.Copy(3, 3, 2));

  h.InitializeWith(0xFF, h.GetSize());
  EXPECT_EQ("fghdeffghd", Contents(h));
  h.InitializeWith('.', 7);
  EXPECT_EQ("fghdeff...", Contents(h));
  h.InitializeWith('!', -1);
  EXPECT_EQ("fghdeff...", Contents(h));
}

TEST(MemFileBytes, WriteAppendsInNativeOrder) {
  MemFile f;
  int result = -1;
  EXPECT_EQ(4, f.Write(0x01020304u, result));
  EXPECT_EQ(0, result);
  EXPECT_EQ(4, f.GetPosition());
  EXPECT_EQ(std::string("\x04\x03\x02\x01", 4), Contents(f));
  for (uint32_t i = 0; i < 100; ++i) f.Write(i, result);
  EXPECT_EQ(404, f.GetSize());
  uint32_t v = 0;
  f.Get(&v, 400, 4);
  EXPECT_EQ(99u, v);

  f.Seek(0, 0);
  f.Write(0xAABBCCDDu, result);  // lands at the position, the size still grows
  EXPECT_EQ(408, f.GetSize());
  f.Get(&v, 0, 4);
  EXPECT_EQ(0xAABBCCDDu, v);
}

TEST(MemFileBytes, PointersIntoTheBlock) {
  MemFile f(0, 16);
  std::string data(100, '\0');
  for (int i = 0; i < 100; ++i) data[i] = static_cast<char>(i);
  f.Put(data.data(), 0, 100);
  EXPECT_EQ(f.GetBuffer(), f.GetSegment(0));
  EXPECT_EQ(7, f.GetSegmentCount());
  EXPECT_EQ(f.GetBuffer() + 3 * 16, f.GetSegment(3));
  uint32_t len = 10;
  EXPECT_EQ(f.GetBuffer() + 90, f.GetPtr(90, &len));
  len = 11;
  EXPECT_EQ(nullptr, f.GetPtr(90, &len));
  EXPECT_EQ(11u, len);
  EXPECT_EQ(f.GetBuffer() + 95, f.GetPtr(95));
  EXPECT_EQ(0, f.GetPosition());
}

TEST(MemFileLifecycle, CopyRestoresTheSourcePosition) {
  MemFile source(0, 2);
  source.Put("hello, world", 0, 12);
  ASSERT_EQ(0, source.SizeSet(300));
  source.Seek(7, 0);
  const uint8_t shift = source.GetSegmentShift();
  ASSERT_NE(source.GetInitialSegmentShift(), shift);

  MemFile copy(source);
  EXPECT_EQ(300, copy.GetSize());
  EXPECT_EQ(0, copy.GetPosition());
  EXPECT_EQ(shift, copy.GetSegmentShift());
  EXPECT_EQ(shift, copy.GetInitialSegmentShift());
  EXPECT_EQ(0, std::memcmp(copy.GetBuffer(), "hello, world", 12));
  EXPECT_EQ(7, source.GetPosition());

  MemFile target(0, 4);
  target.Put("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", 0, 69);
  target.Seek(5, 0);
  target = source;
  EXPECT_EQ(300, target.GetSize());
  EXPECT_EQ(0, target.GetPosition());
  EXPECT_EQ(2, target.GetInitialSegmentShift());
  EXPECT_EQ(0, std::memcmp(target.GetBuffer(), "hello, world", 12));
  EXPECT_EQ(7, source.GetPosition());

  // A source position beyond the size is not restored.
  MemFile odd = FileWith("abc");
  odd.SetLogicalSize(8);
  odd.Seek(8, 0);
  odd.SetLogicalSize(3);
  MemFile oddCopy(odd);
  EXPECT_EQ(0, odd.GetPosition());
  EXPECT_EQ("abc", Contents(oddCopy));

  MemFile blank;
  MemFile emptyCopy(blank);
  EXPECT_EQ(0, emptyCopy.GetSize());
  EXPECT_EQ(nullptr, emptyCopy.GetBuffer());
}

TEST(MemFileLifecycle, ExchangeSwapsEverything) {
  MemFile a(0, 4);
  a.Put("first file", 0, 10);
  a.Seek(3, 0);
  MemFile b(0, 32);
  b.Put("second", 0, 6);
  b.Seek(6, 0);
  a.Exchange(&b);
  EXPECT_EQ("second", Contents(a));
  EXPECT_EQ(6, a.GetPosition());
  EXPECT_EQ(5, a.GetInitialSegmentShift());
  EXPECT_EQ("first file", Contents(b));
  EXPECT_EQ(3, b.GetPosition());
  EXPECT_EQ(2, b.GetInitialSegmentShift());
}

TEST(MemFileLifecycle, DestructorMarksTheBuffer) {
  alignas(MemFile) unsigned char storage[sizeof(MemFile)];
  MemFile* f = new (storage) MemFile(100);
  f->~MemFile();
  // The object is gone; its bytes remain. One pointer-sized field holds the marker.
  int markers = 0;
  for (size_t at = 0; at + sizeof(uintptr_t) <= sizeof storage; at += alignof(uintptr_t)) {
    uintptr_t word;
    std::memcpy(&word, storage + at, sizeof word);
    markers += word == 0xDEADDEADu;
  }
  EXPECT_EQ(1, markers);
}

TEST(MemFileChecksum, RangesSeedsAndPosition) {
  MemFile f = FileWith("123456789");
  EXPECT_EQ(0xCBF43926u, f.CheckSum(0, 0xFFFFFFFFu, nullptr));
  EXPECT_EQ(0xFB16B375u, f.CheckSum(3, 0xFFFFFFFFu, nullptr));
  EXPECT_EQ(3, f.GetPosition());
  const uint32_t s = 0x12345678u;
  f.Seek(1, 0);
  EXPECT_EQ(s, f.CheckSum(20, 5, &s));
  EXPECT_EQ(1, f.GetPosition());
  EXPECT_EQ(s, f.CheckSum(2, 0, &s));
  EXPECT_EQ(0u, f.CheckSum(9, 1, nullptr));

  // Pieces chain to the whole; a range past the end is cut.
  const uint32_t first = f.CheckSum(0, 4, nullptr);
  EXPECT_EQ(0xCBF43926u, f.CheckSum(4, 100, &first));
  EXPECT_EQ(CalcCheckSum("345", 3, nullptr), f.CheckSum(2, 3, nullptr));
}

// Out of memory for real: an address-space limit makes the growth fail.
TEST(MemFileFailure, GrowthBeyondTheAddressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "RLIMIT_AS does not work with AddressSanitizer";
#else
  lxtest::ChildResult r = lxtest::RunWithMemoryLimit(32u << 20, [] {
    lxt::RecordingHandler handler;
    MemFile f;
    if (f.Put("persistent", 0, 10) != 10) return 10;
    f.Seek(4, 0);
    const uint32_t capacity = f.GetCapacity();
    const char* block = f.GetBuffer();
    if (f.SizeSet(200 << 20) != -10001) return 11;
    if (lxt::RecordingHandler::Calls() != std::vector<uint32_t>{200u << 20}) return 12;
    if (f.GetSize() != 10 || f.GetCapacity() != capacity || f.GetBuffer() != block) return 13;
    if (f.GetSegmentShift() != 3 || f.GetPosition() != 4) return 14;
    if (std::memcmp(f.GetBuffer(), "persistent", 10) != 0) return 15;

    // The implicit growths report 0 bytes and change nothing.
    static char big[1];
    if (f.Put(big, 200 << 20, 1) != 0) return 20;
    if (f.Copy(200 << 20, 0, 4) != 0) return 21;
    MemFile source;
    source.Put("abc", 0, 3);
    if (source.Get(&f, 3u, 300u << 20) != 0) return 22;
    MemFile huge;
    if (huge.SizeSet(20 << 20) != 0) return 23;  // fits in the limit
    MemFile third;
    third.Put("kept", 0, 4);
    third = huge;  // no room for a second copy
    if (third.GetSize() != 4 || std::memcmp(third.GetBuffer(), "kept", 4) != 0) return 24;
    if (third.GetPosition() != 0) return 25;
    MemFile fourth(huge);
    if (fourth.GetSize() != 0 || fourth.GetBuffer() != nullptr) return 26;
    if (lxt::RecordingHandler::Calls().size() != 6) return 27;
    return std::memcmp(f.GetBuffer(), "persistent", 10) == 0 ? 0 : 28;
  });
  EXPECT_TRUE(r.exited) << r.err;
  EXPECT_EQ(0, r.code) << r.err;
#endif
}

TEST(MemFileFailure, FailedReductionKeepsTheLargerBlock) {
#if !defined(LXT_HAVE_FAULT_ALLOC)
  GTEST_SKIP() << "allocation faults need the real allocator";
#else
  lxt::RecordingHandler handler;
  MemFile f;
  std::string data(5000, 'q');
  ASSERT_EQ(5000, f.Put(data.data(), 0, 5000));
  const uint32_t capacity = f.GetCapacity();
  const short count = f.GetSegmentCount();
  const unsigned char shift = f.GetSegmentShift();
  lxt::FailReallocs(1);
  EXPECT_EQ(-10001, f.SizeSet(100));
  lxt::FailReallocs(0);
  EXPECT_EQ(std::vector<uint32_t>{112u}, lxt::RecordingHandler::Calls());  // 7 x 16
  EXPECT_EQ(100, f.GetSize());
  EXPECT_EQ(capacity, f.GetCapacity());
  EXPECT_EQ(count, f.GetSegmentCount());
  EXPECT_EQ(shift, f.GetSegmentShift());
  EXPECT_EQ(std::string(100, 'q'), Contents(f));

  // Delete shrinks through SizeSet and still returns 0.
  lxt::FailReallocs(1);
  EXPECT_EQ(0, f.Delete(0, 90));
  lxt::FailReallocs(0);
  EXPECT_EQ(10, f.GetSize());
  EXPECT_EQ(capacity, f.GetCapacity());

  // A failed first allocation leaves the file empty.
  MemFile g;
  lxt::FailMallocs(1);
  EXPECT_EQ(-10001, g.SizeSet(10));
  lxt::FailMallocs(0);
  EXPECT_EQ(0, g.GetSize());
  EXPECT_EQ(nullptr, g.GetBuffer());
  EXPECT_EQ(0, g.GetSegmentCount());
  EXPECT_EQ((std::vector<uint32_t>{112u, 16u, 16u}), lxt::RecordingHandler::Calls());

  // Write reports the failed growth through its out-argument.
  MemFile w;
  w.Put("12345678", 0, 8);
  w.Seek(8, 0);
  int result = 0;
  lxt::FailReallocs(1);
  EXPECT_EQ(4, w.Write(7, result));
  lxt::FailReallocs(0);
  EXPECT_EQ(-10001, result);
  EXPECT_EQ(8, w.GetSize());
  EXPECT_EQ(8, w.GetPosition());
#endif
}

}  // namespace

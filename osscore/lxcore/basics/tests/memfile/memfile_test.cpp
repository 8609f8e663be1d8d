// What the fuzz models and the oom sweep leave: segment geometry, ranges past the largest file,
// lengths past INT_MAX, CRC-32 engines against the bit-wise definition, stored basic values.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "lxframe.h"
#include "lxmemfile.h"
#include "memfile/crc32.h"
#include "memfile/simd.h"

namespace {

// A file of `segment` sized `first`, then `then` (unless 0): one SizeSet may widen many
// times; a shrink to one segment goes back to the initial segment size.
// clang-format off
const struct { int32_t segment, first, then; uint32_t capacity; int shift; } kGeometry[] = {
    {8, 1, 0, 8, 3},       {0, 7, 0, 7, 0},         {0, 8, 0, 8, 1},              {3, 1, 0, 2, 1},
    {100, 1, 0, 64, 6},    {1024, 1, 0, 1024, 10},  {8, 1000, 0, 1024, 8},        {8, 1000000, 0, 1015808, 15},
    {8, 57, 5, 8, 3},      {8, 100000, 1000, 1024, 8}, {8, 100000, 0, 7 << 14, 14}, {8, 100000, 40000, 3 << 14, 14}};
// clang-format on

// Appends in records of 7 bytes, the second time after a cut that kept the block,
// end in the geometry of one SizeSet (short ones skip SizeSet).
TEST(MemFileGeometry, CapacityAndSegmentSizeAfterSizeSetOrAppends) {
  for (const auto& row : kGeometry) {
    MemFile sized(row.first, row.segment), appended(0, row.segment);
    for (int32_t from : {0, row.first / 2}) {
      ASSERT_EQ(0, appended.SizeSetDontShrink(from));
      for (int32_t n = from; n < row.first; n += 7) appended.Put("abcdefg", n, std::min(7, row.first - n));
    }
    for (MemFile* f : {&sized, &appended}) {
      ASSERT_EQ(0, row.then != 0 ? f->SizeSet(row.then) : 0);
      EXPECT_EQ(
          testing::PrintToString(std::make_tuple(row.capacity, row.shift, row.then ? row.then : row.first)),
          testing::PrintToString(std::make_tuple(f->GetCapacity(), int(f->GetSegmentShift()), f->GetSize())))
          << row.segment << ": " << row.first << ", " << row.then << (f == &sized ? " sized" : " appended");
    }
  }
}

// Growths past the largest file or 32 bits and a Get of more than the file holds: the
// handler hears each refused size (cut to 32 bits) and the files stay as they were.
struct Files {
  Files() { f.Put("0123456789", 0, 10), f.Seek(4, 0), q.Put("abcdef", 6); }
  std::string State() const {
    return std::string(f.GetBuffer(), f.GetSize()) + "@" + std::to_string(f.GetPosition()) + "/" +
           std::to_string(f.GetCapacity()) + " " + std::string(q.GetBuffer(), q.GetSize()) + "/" +
           std::to_string(q.GetCapacity());
  }
  MemFile f;
  MemQueue q;
};
struct FailureRow {
  const char* name;
  std::function<int64_t(Files&)> run;
  int64_t result;
  std::vector<uint32_t> handlerSizes;
};
const FailureRow kFailures[] = {
    {"SizeSet", [](Files& x) { return x.f.SizeSet(INT32_MAX); }, LX_MEMFILE_NO_MEMORY, {0x80000000u}},
    {"Put", [](Files& x) { return x.f.Put("abc", INT32_MAX, 3); }, 0, {0x80000002u}},
    {"Get into a file", [](Files& x) { return x.f.Get(&x.q, 4u, 0xFFFFFFFEu); }, 0, {0xFFFFFFFFu}},
    {"Get from past the size", [](Files& x) { return x.f.Get(&x.q, 7u, 0u); }, 0, {}},
};

TEST(MemFileFailures, RefusedMemoryAndRangesPastTheLargestFile) {
  static std::vector<uint32_t> handled;  // the sizes the out-of-memory handler hears of
  for (const FailureRow& row : kFailures) {
    Files x;
    const std::string before = x.State();
    handled.clear();
    const LxMemoryHandler previous = mmLxSetHandler([](uint32_t size) { return handled.push_back(size), 0; });
    EXPECT_EQ(row.result, row.run(x)) << row.name;
    mmLxSetHandler(previous);
    EXPECT_EQ(row.handlerSizes, handled) << row.name;
    EXPECT_EQ(before, x.State()) << row.name;
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

TEST(Checksum, KnownValues) {
  EXPECT_EQ(0xCBF43926u, CalcCheckSum("123456789", 9, nullptr));  // the CRC-32 check value
  const uint32_t first = CalcCheckSum("12345", 5, nullptr);       // chained
  EXPECT_EQ(0xCBF43926u, CalcCheckSum("6789", 4, &first));
  EXPECT_EQ(first, CalcCheckSum(nullptr, 10, &first));
  EXPECT_EQ(0u, CalcCheckSum(nullptr, 0, nullptr));
}

// The register after `n` bytes, one bit at a time (reflected 0xEDB88320).
uint32_t Bitwise(uint32_t c, const unsigned char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return c;
}

// Each engine and the dispatch at each level, at short and long lengths, odd alignments, any register.
TEST(Crc32Engines, EachEngineMatchesTheBitwiseDefinition) {
  using lxmemfile::kSimdAvx512, lxmemfile::kSimdBaseline, lxmemfile::kSimdSse4;
  const struct {
    const char* name;
    int level;  // needed to run it, and set while it runs
    lxmemfile::Crc32Engine run;
    size_t minimum, step;
  } kEngines[] = {{"table", kSimdBaseline, lxmemfile::Crc32Table, 0, 1},
                  {"pclmul", kSimdSse4, lxmemfile::Crc32Clmul, 64, 16},
                  {"vpclmul", kSimdAvx512, lxmemfile::Crc32Vpclmul, 64, 16},
                  {"baseline dispatch", kSimdBaseline, lxmemfile::Crc32Update, 0, 1},
                  {"sse4 dispatch", kSimdSse4, lxmemfile::Crc32Update, 0, 1},
                  {"avx512 dispatch", kSimdAvx512, lxmemfile::Crc32Update, 0, 1}};
  std::mt19937 rng(2);
  std::vector<unsigned char> data(70000);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  for (const auto& e : kEngines) {
    if (e.level > lxmemfile::SupportedSimdLevel() ||
        (e.run == lxmemfile::Crc32Vpclmul && !lxmemfile::HaveVpclmulqdq()))
      continue;  // not on this processor
    lxmemfile::SetSimdLevel(e.level);
    for (size_t len = e.minimum; len <= 1100; len += e.step)
      for (size_t align : {0, 1, 8, 15}) {
        const uint32_t start = static_cast<uint32_t>(len * 2654435761u + align);
        ASSERT_EQ(Bitwise(start, data.data() + align, len), e.run(start, data.data() + align, len))
            << e.name << " " << len << "/" << align;
      }
    ASSERT_EQ(Bitwise(~0u, data.data(), 69632), e.run(~0u, data.data(), 69632)) << e.name;
  }
  EXPECT_EQ(kSimdBaseline, lxmemfile::SimdLevelNamed("baseline"));
  EXPECT_EQ(kSimdSse4, lxmemfile::SimdLevelNamed("sse4"));
  EXPECT_EQ(lxmemfile::SupportedSimdLevel(), lxmemfile::SimdLevelNamed(nullptr));
}

using Bytes = std::vector<unsigned char>;
using Converter = uint32_t (*)(void*, const void*, unsigned char, uint32_t);

const Bytes k1To8 = {1, 2, 3, 4, 5, 6, 7, 8};
const Bytes k1To16 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const Bytes k8To1And16To9 = {8, 7, 6, 5, 4, 3, 2, 1, 16, 15, 14, 13, 12, 11, 10, 9};
const std::vector<Converter> kIntegers = {LongStore, IntStore, IntLoad, UnsignedStore, UnsignedLoad};

// Each converter of a row turns `count` elements of `in` into `reversed` in the `reversing`
// modes (integers test the mode's low four bits for 2, floats the low seven), copies in `copying`.
const struct {
  std::vector<Converter> converters;
  uint32_t count;
  Bytes in, reversed, reversing, copying;
} kStored[] = {
    {{ShortStore}, 2, {1, 2, 3, 4}, {2, 1, 4, 3}, {0x02, 0x12, 0xF2}, {0x00, 0x01, 0x03, 0x80}},
    {kIntegers, 2, k1To8, {4, 3, 2, 1, 8, 7, 6, 5}, {0x02, 0x12, 0x82, 0xF2}, {0x00, 0x01, 0x03, 0x20}},
    {{FloatStore}, 2, k1To8, {4, 3, 2, 1, 8, 7, 6, 5}, {0x02, 0x82}, {0x12, 0x01}},
    {{DoubleStore}, 2, k1To16, k8To1And16To9, {0x02, 0x82}, {0x12, 0x00}},
    {{CharStore}, 5, {1, 2, 3, 4, 5}, {}, {}, {0x00, 0x01, 0x02, 0x82}},
    {{DoubleStore, LongStore, ShortStore, CharStore}, 0, {}, {}, {0x02}, {0x01}},
};

TEST(BasicStore, ConvertersAndSizes) {
  for (size_t row = 0; row < std::size(kStored); ++row) {
    const auto& r = kStored[row];
    for (size_t c = 0; c < r.converters.size(); ++c)
      for (const Bytes* modes : {&r.reversing, &r.copying}) {
        const Bytes& expected = modes == &r.reversing ? r.reversed : r.in;
        for (unsigned char mode : *modes) {
          SCOPED_TRACE(testing::Message() << "row " << row << ", converter " << c << ", mode " << int(mode));
          Bytes out(expected.size() + 1, 0xEE);
          EXPECT_EQ(expected.size(), r.converters[c](out.data(), r.in.data(), mode, r.count));
          EXPECT_EQ(expected, Bytes(out.begin(), out.end() - 1));
          EXPECT_EQ(0xEE, out.back());
        }
      }
  }
  // The stored size is count times the width, whatever the value (null too) and modes.
  EXPECT_EQ((std::vector<uint32_t>{3, 6, 12, 12, 12, 24}),
            (std::vector<uint32_t>{CharSizeGet(nullptr, 2, 9, 3), ShortSizeGet(nullptr, 2, 9, 3),
                                   IntSizeGet(nullptr, 2, 9, 3), LongSizeGet(nullptr, 2, 9, 3),
                                   FloatSizeGet(nullptr, 2, 9, 3), DoubleSizeGet(nullptr, 2, 9, 3)}));
  EXPECT_EQ((std::vector<uint32_t>{5, 10, 20, 20, 20, 40}),
            (std::vector<uint32_t>{CharNullSizeGet(5), ShortNullSizeGet(5), IntNullSizeGet(5),
                                   LongNullSizeGet(5), FloatNullSizeGet(5), DoubleNullSizeGet(5)}));
}

// Big-endian IEEE 754 values, both ways.
TEST(BasicStore, BigEndianFloatingPoint) {
  const struct {
    double value;
    bool single;
    Bytes stored;
  } kValues[] = {{1.0, true, {0x3F, 0x80, 0, 0}},
                 {3.14159265, true, {0x40, 0x49, 0x0F, 0xDB}},
                 {1.0, false, {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}},
                 {0.1, false, {0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}}};
  for (const auto& v : kValues) {
    unsigned char p[8];
    v.single ? stfloat(static_cast<float>(v.value), p) : stdbl(v.value, p);
    EXPECT_EQ(v.stored, Bytes(p, p + v.stored.size())) << v.value;
    EXPECT_EQ(v.single ? static_cast<float>(v.value) : v.value, v.single ? ldfloat(p) : lddbl(p)) << v.value;
  }
}

// Blank-padded fields: ldchar stops at the first blank, which becomes a zero
// byte; stchar cuts or pads and writes no zero byte. '#': a byte not written.
TEST(BasicStore, CharacterFields) {
  const struct {
    const char *text, *expected;  // expected: n + 1 bytes
    int n;
    bool load;
  } kFields[] = {{"AB CD", "AB\0###", 5, true}, {"ABCDE", "ABCDE#", 5, true}, {" X", "\0##", 2, true},
                 {"Q", "#", 0, true},           {"AB", "AB   #", 5, false},   {"ABCDEFG", "ABCDE#", 5, false},
                 {"", "   #", 3, false}};
  for (const auto& row : kFields) {
    char out[8] = "#######";
    row.load ? ldchar(row.text, row.n, out) : stchar(row.text, out, row.n);
    EXPECT_EQ(0, std::memcmp(out, row.expected, row.n + 1)) << row.text;
  }
}

}  // namespace

// The stored form of basic values, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lxmemfile.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Converter = uint32_t (*)(void*, const void*, unsigned char, uint32_t);

const Bytes k1To8 = {1, 2, 3, 4, 5, 6, 7, 8};
const Bytes k1To16 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const Bytes k8To1And16To9 = {8, 7, 6, 5, 4, 3, 2, 1, 16, 15, 14, 13, 12, 11, 10, 9};
const std::vector<Converter> kIntegers = {LongStore, IntStore, IntLoad, UnsignedStore, UnsignedLoad};

// Each converter of a row turns `count` elements of `in` into `reversed` in the
// `reversing` modes (integers test the low four bits of the mode for 2, floating
// point the low seven) and copies them in the `copying` modes.
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
    for (size_t c = 0; c < r.converters.size(); ++c) {
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

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "lxmemfile.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Converter = uint32_t (*)(void*, const void*, unsigned char, uint32_t);

Bytes Sequence(int n) {
  Bytes b;
  for (int i = 1; i <= n; ++i) b.push_back(static_cast<unsigned char>(i));
  return b;
}

Bytes Convert(Converter f, const Bytes& in, unsigned char mode, uint32_t count, uint32_t* written) {
  Bytes out(in.size() + 4, 0xEE);
  *written = f(out.data(), in.data(), mode, count);
  return out;
}

TEST(BasicStore, ShortReversesInModeTwoOnly) {
  uint32_t n = 0;
  Bytes out = Convert(ShortStore, Sequence(4), 2, 2, &n);
  EXPECT_EQ(4u, n);
  EXPECT_EQ((Bytes{2, 1, 4, 3, 0xEE}), Bytes(out.begin(), out.begin() + 5));
  for (unsigned char mode : {0, 1, 3, 0x80}) {
    out = Convert(ShortStore, Sequence(4), mode, 2, &n);
    EXPECT_EQ((Bytes{1, 2, 3, 4, 0xEE}), Bytes(out.begin(), out.begin() + 5)) << int(mode);
  }
}

TEST(BasicStore, IntegersTestTheLowFourBits) {
  const Bytes reversed = {4, 3, 2, 1, 8, 7, 6, 5};
  for (Converter f : {LongStore, IntStore, IntLoad, UnsignedStore, UnsignedLoad}) {
    for (unsigned char mode : {0x02, 0x12, 0x82, 0xF2}) {
      uint32_t n = 0;
      Bytes out = Convert(f, Sequence(8), mode, 2, &n);
      EXPECT_EQ(8u, n);
      EXPECT_EQ(reversed, Bytes(out.begin(), out.begin() + 8)) << int(mode);
      EXPECT_EQ(0xEE, out[8]);
    }
    for (unsigned char mode : {0x00, 0x01, 0x03, 0x20}) {
      uint32_t n = 0;
      Bytes out = Convert(f, Sequence(8), mode, 2, &n);
      EXPECT_EQ(Sequence(8), Bytes(out.begin(), out.begin() + 8)) << int(mode);
    }
  }
}

TEST(BasicStore, FloatingPointTestsTheLowSevenBits) {
  uint32_t n = 0;
  for (unsigned char mode : {0x02, 0x82}) {
    Bytes out = Convert(FloatStore, Sequence(8), mode, 2, &n);
    EXPECT_EQ(8u, n);
    EXPECT_EQ((Bytes{4, 3, 2, 1, 8, 7, 6, 5}), Bytes(out.begin(), out.begin() + 8));
  }
  Bytes out = Convert(FloatStore, Sequence(8), 0x12, 2, &n);
  EXPECT_EQ(Sequence(8), Bytes(out.begin(), out.begin() + 8));

  out = Convert(DoubleStore, Sequence(16), 2, 2, &n);
  EXPECT_EQ(16u, n);
  EXPECT_EQ((Bytes{8, 7, 6, 5, 4, 3, 2, 1, 16, 15, 14, 13, 12, 11, 10, 9}),
            Bytes(out.begin(), out.begin() + 16));
  out = Convert(DoubleStore, Sequence(16), 0x12, 2, &n);
  EXPECT_EQ(Sequence(16), Bytes(out.begin(), out.begin() + 16));
}

TEST(BasicStore, CharsAndEmptyCounts) {
  uint32_t n = 0;
  for (unsigned char mode : {0, 1, 2, 0x82}) {
    Bytes out = Convert(CharStore, Sequence(5), mode, 5, &n);
    EXPECT_EQ(5u, n);
    EXPECT_EQ(Sequence(5), Bytes(out.begin(), out.begin() + 5));
  }
  Bytes out = Convert(DoubleStore, Sequence(8), 2, 0, &n);
  EXPECT_EQ(0u, n);
  EXPECT_EQ(0xEE, out[0]);

  // In place: the stored form can replace the value.
  Bytes inPlace = Sequence(8);
  EXPECT_EQ(8u, LongStore(inPlace.data(), inPlace.data(), 2, 2));
  EXPECT_EQ((Bytes{4, 3, 2, 1, 8, 7, 6, 5}), inPlace);
}

TEST(BasicStore, Sizes) {
  const int value = 0;
  EXPECT_EQ(24u, DoubleSizeGet(&value, 9, 9, 3));
  EXPECT_EQ(24u, DoubleSizeGet(nullptr, 0, 0, 3));
  EXPECT_EQ(5u, CharSizeGet(nullptr, 2, 2, 5));
  EXPECT_EQ(6u, ShortSizeGet(nullptr, 2, 2, 3));
  EXPECT_EQ(12u, IntSizeGet(nullptr, 2, 2, 3));
  EXPECT_EQ(12u, LongSizeGet(nullptr, 2, 2, 3));
  EXPECT_EQ(12u, FloatSizeGet(nullptr, 2, 2, 3));
  EXPECT_EQ(5u, CharNullSizeGet(5));
  EXPECT_EQ(10u, ShortNullSizeGet(5));
  EXPECT_EQ(20u, IntNullSizeGet(5));
  EXPECT_EQ(20u, LongNullSizeGet(5));
  EXPECT_EQ(20u, FloatNullSizeGet(5));
  EXPECT_EQ(40u, DoubleNullSizeGet(5));
}

TEST(BasicStore, CharacterFields) {
  char out[8];
  std::memset(out, '#', sizeof out);
  ldchar("AB CD", 5, out);
  EXPECT_EQ(0, std::memcmp(out, "AB\0##", 5));
  std::memset(out, '#', sizeof out);
  ldchar("ABCDE", 5, out);
  EXPECT_EQ(0, std::memcmp(out, "ABCDE#", 6));
  std::memset(out, '#', sizeof out);
  ldchar(" X", 2, out);
  EXPECT_EQ('\0', out[0]);
  EXPECT_EQ('#', out[1]);
  ldchar("Q", 0, out);
  EXPECT_EQ('\0', out[0]);

  char field[8];
  std::memset(field, '#', sizeof field);
  stchar("AB", field, 5);
  EXPECT_EQ(0, std::memcmp(field, "AB   #", 6));
  std::memset(field, '#', sizeof field);
  stchar("ABCDEFG", field, 5);
  EXPECT_EQ(0, std::memcmp(field, "ABCDE#", 6));
  std::memset(field, '#', sizeof field);
  stchar("", field, 3);
  EXPECT_EQ(0, std::memcmp(field, "   #", 4));
}

TEST(BasicStore, BigEndianFloatingPoint) {
  unsigned char p[8];
  stfloat(1.0f, p);
  EXPECT_EQ((Bytes{0x3F, 0x80, 0, 0}), Bytes(p, p + 4));
  EXPECT_EQ(1.0f, ldfloat(p));
  stfloat(-2.5f, p);
  EXPECT_EQ((Bytes{0xC0, 0x20, 0, 0}), Bytes(p, p + 4));
  EXPECT_EQ(-2.5f, ldfloat(p));

  stdbl(1.0, p);
  EXPECT_EQ((Bytes{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), Bytes(p, p + 8));
  EXPECT_EQ(1.0, lddbl(p));
  stdbl(0.1, p);
  EXPECT_EQ((Bytes{0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}), Bytes(p, p + 8));
  EXPECT_EQ(0.1, lddbl(p));
}

}  // namespace

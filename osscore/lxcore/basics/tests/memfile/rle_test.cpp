#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <sstream>
#include <string>

#include "lxmemfile.h"
#include "rle_reference.h"

namespace {

using lxt::Bytes;

Bytes Hex(const std::string& text) {
  Bytes out;
  std::istringstream in(text);
  std::string token;
  while (in >> token) out.push_back(static_cast<unsigned char>(std::stoi(token, nullptr, 16)));
  return out;
}

Bytes Repeat(size_t n, unsigned char v) { return Bytes(n, v); }

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Encodes with a generous room; fails the test on -1.
Bytes Encode(const Bytes& in) {
  Bytes out(in.size() * 2 + 16);
  int room = static_cast<int>(out.size());
  EXPECT_EQ(0, DScomp(in.data(), static_cast<int>(in.size()), out.data(), &room));
  out.resize(static_cast<size_t>(room));
  return out;
}

struct Decoded {
  int result;
  int room;
  Bytes bytes;
};

Decoded Decode(const Bytes& in, int room) {
  Bytes out(static_cast<size_t>(room) + 8, 0xEE);
  int r = room;
  const int result = DSdecomp(in.data(), static_cast<int>(in.size()), out.data(), &r);
  for (size_t i = static_cast<size_t>(r); i < out.size(); ++i) {
    if (i >= static_cast<size_t>(room)) {
      EXPECT_EQ(0xEE, out[i]) << "written beyond the room at " << i;
    }
  }
  out.resize(static_cast<size_t>(r));
  return {result, r, out};
}

TEST(BlockCompression, ExamplesEncodeExactly) {
  EXPECT_EQ(Hex("01 41"), Encode(Hex("41")));
  EXPECT_EQ(Hex("00 02 41 42"), Encode(Hex("41 42")));
  EXPECT_EQ(Hex("03 41 01 42"), Encode(Hex("41 41 41 42")));
  EXPECT_EQ(Hex("00 01 42 03 41"), Encode(Hex("42 41 41 41")));
  EXPECT_EQ(Hex("00 03 41 41 42"), Encode(Hex("41 41 42")));
  EXPECT_EQ(Hex("FF 41 2D 41"), Encode(Repeat(300, 0x41)));
  EXPECT_EQ(Hex("FF 41 00 02 41 42"), Encode(Cat(Repeat(256, 0x41), Hex("42"))));
  EXPECT_EQ(Hex("FF 41 01 41"), Encode(Repeat(256, 0x41)));
  EXPECT_EQ(Hex("FF 41"), Encode(Repeat(255, 0x41)));
  EXPECT_EQ(Hex("FF 41 02 41"), Encode(Repeat(257, 0x41)));
  EXPECT_EQ(Hex("00 06 61 62 63 61 62 63 14 00"), Encode(Cat(Hex("61 62 63 61 62 63"), Repeat(20, 0))));

  Bytes ascending(256);
  for (int i = 0; i < 256; ++i) ascending[i] = static_cast<unsigned char>(i);
  Bytes expected(259);
  expected[0] = 0x00;
  expected[1] = 0xFF;
  for (int i = 0; i < 255; ++i) expected[2 + i] = static_cast<unsigned char>(i);
  expected[257] = 0x01;
  expected[258] = 0xFF;
  EXPECT_EQ(expected, Encode(ascending));
}

TEST(BlockCompression, LiteralBoundaries) {
  // 100 bytes without equal neighbours, then 256 x 41: a literal of 100, FF 41, 01 41.
  Bytes in;
  for (int i = 0; i < 100; ++i) in.push_back(static_cast<unsigned char>(i % 2 == 0 ? 0x10 : 0x20));
  in = Cat(in, Repeat(256, 0x41));
  Bytes out(in.size());
  int room = static_cast<int>(in.size());
  ASSERT_EQ(0, DScomp(in.data(), static_cast<int>(in.size()), out.data(), &room));
  ASSERT_EQ(106, room);
  EXPECT_EQ(0, out[0]);
  EXPECT_EQ(100, out[1]);
  EXPECT_EQ(Hex("FF 41 01 41"), Bytes(out.begin() + 102, out.begin() + 106));

  // A pair that completes a 256-byte pending stretch splits it at 254.
  Bytes edge;
  for (int i = 0; i < 254; ++i) edge.push_back(static_cast<unsigned char>(i));
  edge = Cat(edge, Hex("F0 F0 01"));
  EXPECT_EQ(lxt::ReferenceEncode(edge), Encode(edge));
  const Bytes encoded = Encode(edge);
  EXPECT_EQ(254, encoded[1]);
}

TEST(BlockCompression, RoomRules) {
  Bytes out(16, 0xEE);
  const Bytes one = Hex("41");
  for (int room : {1, 2}) {
    int r = room;
    EXPECT_EQ(-1, DScomp(one.data(), 1, out.data(), &r));
    EXPECT_EQ(room, r);
  }
  int r = 3;
  EXPECT_EQ(0, DScomp(one.data(), 1, out.data(), &r));
  EXPECT_EQ(2, r);

  const Bytes four = Hex("41 41 41 42");
  r = 4;
  EXPECT_EQ(-1, DScomp(four.data(), 4, out.data(), &r));
  EXPECT_EQ(4, r);
  r = 5;
  EXPECT_EQ(0, DScomp(four.data(), 4, out.data(), &r));
  EXPECT_EQ(4, r);
  EXPECT_EQ(Hex("03 41 01 42"), Bytes(out.begin(), out.begin() + 4));

  // Never a byte past the room, whatever the room.
  std::mt19937 rng(5);
  for (int trial = 0; trial < 200; ++trial) {
    Bytes in(1 + rng() % 600);
    for (auto& b : in) b = static_cast<unsigned char>(rng() % 3 == 0 ? 7 : rng());
    const Bytes full = lxt::ReferenceEncode(in);
    const int room = static_cast<int>(rng() % (full.size() + 4));
    Bytes buffer(static_cast<size_t>(room) + 32, 0xEE);
    int given = room;
    const int result = DScomp(in.data(), static_cast<int>(in.size()), buffer.data(), &given);
    if (static_cast<int>(full.size()) < room) {
      ASSERT_EQ(0, result);
      ASSERT_EQ(static_cast<int>(full.size()), given);
      ASSERT_EQ(full, Bytes(buffer.begin(), buffer.begin() + given));
    } else {
      ASSERT_EQ(-1, result);
      ASSERT_EQ(room, given);
    }
    for (size_t i = static_cast<size_t>(room); i < buffer.size(); ++i) ASSERT_EQ(0xEE, buffer[i]);
  }
}

TEST(BlockCompression, DecodeRoomsAndOddRecords) {
  const Bytes runs = Hex("FF 41 2D 41");
  Decoded d = Decode(runs, 300);
  EXPECT_EQ(0, d.result);
  EXPECT_EQ(300, d.room);
  EXPECT_EQ(Repeat(300, 0x41), d.bytes);
  d = Decode(runs, 299);
  EXPECT_EQ(2, d.result);
  EXPECT_EQ(255, d.room);
  d = Decode(runs, 0);
  EXPECT_EQ(2, d.result);
  EXPECT_EQ(0, d.room);

  int room = 10;
  EXPECT_EQ(0, DSdecomp(nullptr, 0, nullptr, &room));
  EXPECT_EQ(0, room);

  d = Decode(Hex("00 00"), 10);
  EXPECT_EQ(2, d.result);
  EXPECT_EQ(0, d.room);
  d = Decode(Hex("00 00 02 41"), 10);
  EXPECT_EQ(0, d.result);
  EXPECT_EQ(Hex("41 41"), d.bytes);
  d = Decode(Hex("03 41 02 42"), 3);  // the room is full after the first record
  EXPECT_EQ(0, d.result);
  EXPECT_EQ(Hex("41 41 41"), d.bytes);
  d = Decode(Hex("00 03 61 62 63 01 64"), 4);
  EXPECT_EQ(0, d.result);
  EXPECT_EQ(Hex("61 62 63 64"), d.bytes);
  d = Decode(Hex("00 03 61 62 63 01 64"), 2);
  EXPECT_EQ(2, d.result);
  EXPECT_EQ(0, d.room);

  // Input cut inside a record: the cut record gives nothing, nothing past the end is read.
  d = Decode(Hex("02 41 00 05 61 62"), 100);
  EXPECT_EQ(0, d.result);
  EXPECT_EQ(Hex("41 41"), d.bytes);
  d = Decode(Hex("02 41 07"), 100);
  EXPECT_EQ(Hex("41 41"), d.bytes);
  d = Decode(Hex("00"), 100);
  EXPECT_EQ(2, d.result);
  EXPECT_EQ(2, DSlen(Hex("02 41 00 05 61 62").data(), 6));
  EXPECT_EQ(2, DSlen(Hex("02 41 07").data(), 3));
  EXPECT_EQ(0, DSlen(Hex("00").data(), 1));
  EXPECT_EQ(0, DSlen(nullptr, 0));
  EXPECT_EQ(300, DSlen(runs.data(), 4));
  EXPECT_EQ(2, DSlen(Hex("00 00 02 41").data(), 4));

  // Decoded lengths beyond INT_MAX give -1, also where a 32-bit sum wraps to a
  // small positive value (16843010 x 255 = 2^32 + 254).
  Bytes big;
  for (int i = 0; i < 16843010; ++i) big.insert(big.end(), {0xFF, 0x41});
  const int intMaxRecords = INT_MAX / 255;
  big[2 * intMaxRecords] = INT_MAX % 255;
  EXPECT_EQ(INT_MAX, DSlen(big.data(), 2 * intMaxRecords + 2));
  EXPECT_EQ(-1, DSlen(big.data(), 2 * intMaxRecords + 4));
  big[2 * intMaxRecords] = 0xFF;
  EXPECT_EQ(-1, DSlen(big.data(), static_cast<int>(big.size())));
}

Bytes RandomInput(std::mt19937& rng) {
  Bytes in;
  const size_t target = 1 + rng() % 3000;
  while (in.size() < target) {
    const unsigned kind = rng() % 8;
    const unsigned char v = static_cast<unsigned char>(rng() % 4 == 0 ? 0 : rng());
    if (kind < 3) {
      in.push_back(static_cast<unsigned char>(rng()));
    } else if (kind < 5) {
      in.insert(in.end(), 1 + rng() % 3, v);
    } else if (kind == 5) {
      in.insert(in.end(), 250 + rng() % 12, v);  // around the 255 limits
    } else if (kind == 6) {
      for (unsigned n = 250 + rng() % 12, i = 0; i < n; ++i)
        in.push_back(static_cast<unsigned char>(i * 7 + 1));
    } else {
      in.insert(in.end(), rng() % 1000, v);
    }
  }
  in.resize(target);
  return in;
}

TEST(BlockCompression, RandomInputsMatchTheReferenceAndRoundTrip) {
  std::mt19937 rng(20261205);
  for (int trial = 0; trial < 3000; ++trial) {
    const Bytes in = RandomInput(rng);
    const Bytes expected = lxt::ReferenceEncode(in);
    const Bytes encoded = Encode(in);
    ASSERT_EQ(expected, encoded) << "trial " << trial;
    ASSERT_EQ(static_cast<int>(in.size()), DSlen(encoded.data(), static_cast<int>(encoded.size())));
    Decoded d = Decode(encoded, static_cast<int>(in.size()));
    ASSERT_EQ(0, d.result);
    ASSERT_EQ(in, d.bytes);
    // With the input length as room, success means at least one byte saved.
    Bytes out(in.size());
    int room = static_cast<int>(in.size());
    const int r = DScomp(in.data(), static_cast<int>(in.size()), out.data(), &room);
    ASSERT_EQ(encoded.size() < in.size() ? 0 : -1, r);
  }
}

TEST(BlockCompression, RandomRecordsDecodeLikeTheReference) {
  std::mt19937 rng(99);
  for (int trial = 0; trial < 2000; ++trial) {
    Bytes in(rng() % 200);
    for (auto& b : in) b = static_cast<unsigned char>(rng() % 3 == 0 ? 0 : rng() % 6);
    const Bytes expected = lxt::ReferenceDecode(in);
    ASSERT_EQ(static_cast<int>(expected.size()), DSlen(in.data(), static_cast<int>(in.size())));
    const int room = static_cast<int>(rng() % 300);
    Decoded d = Decode(in, room);
    ASSERT_LE(d.room, room);
    ASSERT_EQ(Bytes(expected.begin(), expected.begin() + d.room), d.bytes);
    if (static_cast<int>(expected.size()) <= room) {
      ASSERT_EQ(static_cast<int>(expected.size()), d.room);
      if (!in.empty()) {
        ASSERT_EQ(expected.empty() ? 2 : 0, d.result);
      }
    } else {
      ASSERT_EQ(d.room == room && room > 0 ? 0 : 2, d.result);
    }
  }
}

}  // namespace

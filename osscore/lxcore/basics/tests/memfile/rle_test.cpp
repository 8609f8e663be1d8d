// Fixed encodings and decodings of the run-length block format. Arbitrary input,
// rooms and code paths are the rle_roundtrip and rle_decode fuzz models.
#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>

#include "lxmemfile.h"
#include "rle_reference.h"

namespace {

using lxtest::Bytes;

// Bytes in a short notation: "41" one byte, "41*300" 300 of them, "00..FE" the
// ascending bytes from 00 to FE; tokens separated by blanks.
Bytes B(const std::string& text) {
  Bytes out;
  std::istringstream in(text);
  for (std::string t; in >> t;) {
    const int first = std::stoi(t.substr(0, 2), nullptr, 16);
    const int last = t.size() > 2 && t[2] == '.' ? std::stoi(t.substr(4), nullptr, 16) : first;
    const size_t copies = t.size() > 2 && t[2] == '*' ? std::stoul(t.substr(3)) : 1;
    for (int v = first; v <= last; ++v) out.insert(out.end(), copies, static_cast<unsigned char>(v));
  }
  return out;
}

// Input, encoding (none: DScomp fails with -1 and the room unchanged), and room
// (0: twice the input and 2).
const struct {
  const char *input, *encoded;
  int room;
} kEncodings[] = {
    {"41", "01 41", 0},
    {"41 42", "00 02 41 42", 0},
    {"41 41 41 42", "03 41 01 42", 0},
    {"42 41 41 41", "00 01 42 03 41", 0},
    {"41 41 42", "00 03 41 41 42", 0},
    {"41*255", "FF 41", 0},
    {"41*256", "FF 41 01 41", 0},
    {"41*257", "FF 41 02 41", 0},
    {"41*300", "FF 41 2D 41", 0},
    {"41*256 42", "FF 41 00 02 41 42", 0},
    {"00..FF", "00 FF 00..FE 01 FF", 0},
    {"61 62 63 61 62 63 00*20", "00 06 61 62 63 61 62 63 14 00", 0},
    {"00..63 41*256", "00 64 00..63 FF 41 01 41", 356},
    {"00..FD F0 F0 01", "00 FE 00..FD 00 03 F0 F0 01", 0},  // a pair ends 256 pending bytes
    {"41 41 41 42", "", 4},                                 // not shorter than the room
};

TEST(BlockCompression, EncodesToFixedBytes) {
  for (const auto& row : kEncodings) {
    const Bytes in = B(row.input), expected = B(row.encoded);
    const int room = row.room != 0 ? row.room : 2 * static_cast<int>(in.size()) + 2;
    Bytes out(static_cast<size_t>(room) + 16, 0xEE);
    int got = room;
    const int result = DScomp(in.data(), static_cast<int>(in.size()), out.data(), &got);
    EXPECT_EQ(expected.empty() ? -1 : 0, result) << row.input;
    EXPECT_EQ(expected.empty() ? room : static_cast<int>(expected.size()), got) << row.input;
    EXPECT_EQ(expected, Bytes(out.begin(), out.begin() + (result == 0 ? got : 0))) << row.input;
    EXPECT_EQ(Bytes(16, 0xEE), Bytes(out.end() - 16, out.end())) << row.input << ": past the room";
  }
}

// Encoded input (in a block of exactly its length, so that a read past it is
// caught), the bytes decoded, room, result, and DSlen.
const struct {
  const char *encoded, *decoded;
  int room, result, length;
} kDecodings[] = {
    {"FF 41 2D 41", "41*300", 300, 0, 300},
    {"FF 41 2D 41", "41*255", 299, 2, 300},  // the next record does not fit
    {"FF 41 2D 41", "", 0, 2, 300},
    {"", "", 10, 0, 0},
    {"00 00", "", 10, 2, 0},  // nothing came out
    {"00 00 02 41", "41 41", 10, 0, 2},
    {"03 41 02 42", "41 41 41", 3, 0, 5},  // a full room ends the decode
    {"00 03 61 62 63 01 64", "61 62 63 64", 4, 0, 4},
    {"00 03 61 62 63 01 64", "", 2, 2, 4},
    {"02 41 00 05 61 62", "41 41", 100, 0, 2},  // cut inside a record
    {"02 41 07", "41 41", 100, 0, 2},
    {"00", "", 100, 2, 0},
};

TEST(BlockCompression, DecodesFixedAndBadInput) {
  for (const auto& row : kDecodings) {
    const Bytes in = B(row.encoded);
    Bytes out(static_cast<size_t>(row.room) + 16, 0xEE);
    int room = row.room;
    EXPECT_EQ(row.result, DSdecomp(in.data(), static_cast<int>(in.size()), out.data(), &room)) << row.encoded;
    EXPECT_EQ(B(row.decoded), Bytes(out.begin(), out.begin() + room)) << row.encoded << " room " << row.room;
    EXPECT_EQ(Bytes(out.size() - room, 0xEE), Bytes(out.begin() + room, out.end())) << row.encoded;
    EXPECT_EQ(row.length, DSlen(in.data(), static_cast<int>(in.size()))) << row.encoded;
  }

  // A decoded length past INT_MAX gives -1, also where a 32-bit sum would wrap to
  // a small positive value (16843010 x 255 = 2^32 + 254).
  Bytes big;
  for (int i = 0; i < 16843010; ++i) big.insert(big.end(), {0xFF, 0x41});
  const int intMaxRecords = INT_MAX / 255;
  big[2 * intMaxRecords] = INT_MAX % 255;
  EXPECT_EQ(INT_MAX, DSlen(big.data(), 2 * intMaxRecords + 2));
  EXPECT_EQ(-1, DSlen(big.data(), 2 * intMaxRecords + 4));
  big[2 * intMaxRecords] = 0xFF;
  EXPECT_EQ(-1, DSlen(big.data(), static_cast<int>(big.size())));
}

}  // namespace

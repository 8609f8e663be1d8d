// _LxBitString against a std::vector<bool> model, and its fixed cases.
#include <gtest/gtest.h>
#include <lxarrays.h>

#include <random>
#include <vector>

namespace {

TEST(BitString, SingleBits) {
  _LxBitString bits(20);
  EXPECT_EQ(bits.Length(), 20u);
  int v = -1;
  EXPECT_EQ(bits.Set(5), 0);
  EXPECT_EQ(bits.Set(5), 0);
  EXPECT_EQ(bits.GetNum(), 1u);
  EXPECT_EQ(bits.Get(5, v), 0);
  EXPECT_EQ(v, 32);
  EXPECT_EQ(bits.Get(6, v), 0);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(bits.Reset(6), 0);
  EXPECT_EQ(bits.GetNum(), 1u);
  int old = -1;
  EXPECT_EQ(bits.Flip(9, old), 0);
  EXPECT_EQ(old, 0);
  EXPECT_EQ(bits.GetNum(), 2u);
  EXPECT_EQ(bits.Flip(9, old), 0);
  EXPECT_EQ(old, 1);
  EXPECT_EQ(bits.GetNum(), 1u);
  v = 77;
  EXPECT_EQ(bits.Get(20, v), -2005);
  EXPECT_EQ(v, 77);
  EXPECT_EQ(bits.Set(20), -2005);
  EXPECT_EQ(bits.Reset(20), -2005);
  EXPECT_EQ(bits.Flip(20, old), -2005);
  EXPECT_EQ(bits.GetNum(), 1u);
}

TEST(BitString, StorageAndSetAll) {
  _LxBitString eight(8);
  eight.SetAll();
  EXPECT_EQ(eight.GetNum(), 8u);
  EXPECT_EQ(eight.GetBits()[0], 0xFF);
  EXPECT_EQ(eight.GetBits()[1], 0xFF);  // the extra byte beyond the length
  uint32_t p = 0;
  EXPECT_EQ(eight.Find(0, 0, p), -2005);  // bits beyond the length are not read
  EXPECT_EQ(p, 8u);
  eight.ResetAll();
  EXPECT_EQ(eight.GetNum(), 0u);
  EXPECT_EQ(eight.GetBits()[1], 0);

  _LxBitString empty(0);
  int v;
  uint32_t b;
  EXPECT_EQ(empty.Set(0), -2005);
  EXPECT_EQ(empty.Get(0, v), -2005);
  EXPECT_EQ(empty.Find(0, 1, p), -2005);
  EXPECT_EQ(p, 0u);
  EXPECT_EQ(empty.TestAndSetArea(0, 1, b), -2005);
  EXPECT_EQ(empty.TestAndSetArea(0, 0, b), 0);
  empty.SetAll();
  EXPECT_EQ(empty.GetNum(), 0u);
}

TEST(BitString, AreasAndFind) {
  _LxBitString bits(100);
  uint32_t blocked = 99, p = 0;
  bits.Set(12);
  EXPECT_EQ(bits.TestAndSetArea(10, 4, blocked), -1);
  EXPECT_EQ(blocked, 2u);
  int v;
  bits.Get(10, v);
  EXPECT_EQ(v, 0);
  bits.Get(11, v);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(bits.GetNum(), 1u);
  EXPECT_EQ(bits.TestAndSetArea(98, 3, blocked), -2005);
  EXPECT_EQ(bits.TestAndSetArea(0xFFFFFFF0u, 0x20, blocked), -2005);  // no wrap-around
  EXPECT_EQ(bits.TestAndSetArea(13, 87, blocked), 0);
  EXPECT_EQ(bits.GetNum(), 88u);
  EXPECT_EQ(bits.TestAndResetArea(12, 10, blocked), 0);
  EXPECT_EQ(bits.GetNum(), 78u);
  EXPECT_EQ(bits.TestAndResetArea(0, 50, blocked), -1);
  EXPECT_EQ(blocked, 0u);
  EXPECT_EQ(bits.Find(0, 1, p), 0);
  EXPECT_EQ(p, 22u);
  EXPECT_EQ(bits.Find(30, 0, p), -2005);
  EXPECT_EQ(p, 100u);

  _LxBitString clear(100);
  EXPECT_EQ(clear.Find(0, 1, p), -2005);
  EXPECT_EQ(p, 100u);
  EXPECT_EQ(clear.Find(100, 0, p), -2005);
  EXPECT_EQ(p, 100u);
  EXPECT_EQ(clear.Find(99, 0, p), 0);
  EXPECT_EQ(p, 99u);
  EXPECT_EQ(clear.TestAndSetArea(100, 0, blocked), 0);
  EXPECT_EQ(clear.TestAndSetArea(101, 0, blocked), -2005);
}

// Random operations on strings of awkward lengths, checked bit for bit.
TEST(BitString, RandomOperationsAgainstModel) {
  std::mt19937 rng(99);
  for (uint32_t length : {1u, 7u, 8u, 63u, 64u, 65u, 200u, 1000u}) {
    SCOPED_TRACE(length);
    _LxBitString bits(length);
    std::vector<bool> model(length, false);
    auto countModel = [&] {
      uint32_t n = 0;
      for (bool b : model) n += b;
      return n;
    };
    for (int step = 0; step < 4000; ++step) {
      uint32_t op = rng() % 8;
      uint32_t i = rng() % (length + 2);
      uint32_t n = rng() % (length / 4 + 3);
      uint32_t blocked = 0xDEAD, position = 0xBEEF;
      int32_t expected;
      switch (op) {
        case 0:
          ASSERT_EQ(bits.Set(i), i < length ? 0 : -2005);
          if (i < length) model[i] = true;
          break;
        case 1:
          ASSERT_EQ(bits.Reset(i), i < length ? 0 : -2005);
          if (i < length) model[i] = false;
          break;
        case 2: {
          int old = -1;
          ASSERT_EQ(bits.Flip(i, old), i < length ? 0 : -2005);
          if (i < length) {
            ASSERT_EQ(old, model[i] ? 1 : 0);
            model[i] = !model[i];
          }
          break;
        }
        case 3:
        case 4: {
          bool set = op == 3;
          int32_t r = set ? bits.TestAndSetArea(i, n, blocked) : bits.TestAndResetArea(i, n, blocked);
          if (i > length || n > length - i) {
            ASSERT_EQ(r, -2005);
            break;
          }
          uint32_t k = 0;
          while (k < n && model[i + k] != set) ++k;
          if (k < n) {
            ASSERT_EQ(r, -1);
            ASSERT_EQ(blocked, k);
          } else {
            ASSERT_EQ(r, 0);
            for (k = 0; k < n; ++k) model[i + k] = set;
          }
          break;
        }
        case 5:
        case 6: {
          int value = op == 5;
          int32_t r = bits.Find(i, value, position);
          uint32_t k = i;
          while (k < length && model[k] != static_cast<bool>(value)) ++k;
          expected = k < length ? 0 : -2005;
          ASSERT_EQ(r, expected);
          ASSERT_EQ(position, i < length ? k : length);
          break;
        }
        default:
          if (rng() % 50 == 0) {
            bits.SetAll();
            model.assign(length, true);
          } else if (rng() % 50 == 0) {
            bits.ResetAll();
            model.assign(length, false);
          }
      }
      ASSERT_EQ(bits.GetNum(), countModel());
    }
    for (uint32_t k = 0; k < length; ++k) {
      int v;
      bits.Get(k, v);
      ASSERT_EQ(v != 0, model[k]) << k;
    }
  }
}

}  // namespace

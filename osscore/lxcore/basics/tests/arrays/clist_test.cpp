// LxCList: growth and shrink of the capacity, the result codes, SizeSet, Copy and
// the behaviour when memory runs out.
#include <gtest/gtest.h>
#include <lxarrays.h>
#include <lxframe.h>
#include <lxtest.h>

#include <cstring>
#include <new>
#include <vector>

namespace {

std::vector<int32_t> Ints(const LxCList& list) {
  std::vector<int32_t> out(list.GetCount());
  for (uint32_t i = 0; i < list.GetCount(); ++i) EXPECT_EQ(list.Get(i, &out[i]), 0);
  return out;
}

TEST(CList, GrowthFromEmptyDoublesThenBendsUnderTheCap) {
  int r = -1;
  LxCList list(4, 0, &r);
  ASSERT_EQ(r, 0);
  EXPECT_EQ(list.GetCurMaxCount(), 0u);
  EXPECT_EQ(list.GetMaxCount(), 32767u);
  EXPECT_EQ(list.GetBuffer(), nullptr);
  std::vector<uint32_t> capacities;
  for (int32_t i = 0; i < 32767; ++i) {
    ASSERT_EQ(list.Insert(list.GetCount(), &i), 0) << i;
    if (capacities.empty() || capacities.back() != list.GetCurMaxCount()) {
      capacities.push_back(list.GetCurMaxCount());
    }
  }
  std::vector<uint32_t> expected = {1,    2,    4,    8,    16,    32,    64,    128,   256,  512,
                                    1024, 2048, 4096, 8192, 16384, 24576, 30720, 32640, 32767};
  EXPECT_EQ(capacities, expected);
  int32_t more = 1;
  EXPECT_EQ(list.Insert(0, &more), -501);
  EXPECT_EQ(list.Insert(16000, &more), -501);
  EXPECT_EQ(list.Insert(32767, &more), -502);
  EXPECT_EQ(list.GetCount(), 32767u);
  int32_t v;
  ASSERT_EQ(list.Get(32766, &v), 0);
  EXPECT_EQ(v, 32766);
}

TEST(CList, GrowthFromInitialCapacityDoubles) {
  int r = -1;
  LxCList list(2, 3, &r);
  ASSERT_EQ(r, 0);
  std::vector<uint32_t> seen;
  for (int i = 0; i < 25; ++i) {
    short s = static_cast<short>(i);
    ASSERT_EQ(list.Insert(0, &s), 0);
    if (seen.empty() || seen.back() != list.GetCurMaxCount()) seen.push_back(list.GetCurMaxCount());
  }
  EXPECT_EQ(seen, (std::vector<uint32_t>{3, 6, 12, 24, 48}));
}

TEST(CList, InitCodes) {
  LxCList big;
  EXPECT_EQ(big.Init(8, 40000), 0);
  EXPECT_EQ(big.GetCurMaxCount(), 32767u);
  EXPECT_NE(big.GetBuffer(), nullptr);

  int r = 0;
  LxCList zero(0, 10, &r);
  EXPECT_EQ(r, -503);
  EXPECT_EQ(zero.GetMaxCount(), 0u);
  EXPECT_EQ(zero.GetBuffer(), nullptr);
  int32_t x = 1;
  EXPECT_EQ(zero.Insert(0, &x), -502);
  EXPECT_EQ(zero.Init(4, 0), 0);
  EXPECT_EQ(zero.Insert(0, &x), 0);

  LxCList unusable;
  EXPECT_EQ(unusable.GetElementSize(), 0u);
  EXPECT_EQ(unusable.GetMaxCount(), 0u);
  EXPECT_EQ(unusable.Insert(0, &x), -502);
  EXPECT_EQ(unusable.PrepareInsert(0), nullptr);
}

TEST(CList, IndexErrorsChangeNothing) {
  LxCList list(4, 0, nullptr);
  int32_t x = 5;
  EXPECT_EQ(list.Insert(1, &x), -502);
  EXPECT_EQ(list.GetCurMaxCount(), 0u);
  ASSERT_EQ(list.Insert(0, &x), 0);
  EXPECT_EQ(list.GetCurMaxCount(), 1u);
  EXPECT_EQ(list.Get(1, &x), -502);
  EXPECT_EQ(list.Update(1, &x), -502);
  EXPECT_EQ(list.Delete(1, 1), -502);
  EXPECT_EQ(list.Element(1), nullptr);
  EXPECT_EQ(list.GetCount(), 1u);
  EXPECT_EQ(*static_cast<int32_t*>(list.Element(0)), 5);
}

TEST(CList, InsertUpdateDeleteKeepOrder) {
  LxCList list(4, 0, nullptr);
  std::vector<int32_t> model;
  uint32_t seed = 12345;
  for (int step = 0; step < 3000; ++step) {
    seed = seed * 1103515245u + 12345u;
    uint32_t pick = seed >> 8;
    int32_t value = static_cast<int32_t>(pick & 0xFFFF);
    if (model.empty() || pick % 3 != 0) {
      uint32_t at = pick % (model.size() + 1);
      ASSERT_EQ(list.Insert(at, &value), 0);
      model.insert(model.begin() + at, value);
    } else if (pick % 5 == 0) {
      uint32_t at = pick % model.size();
      ASSERT_EQ(list.Update(at, &value), 0);
      model[at] = value;
    } else {
      uint32_t at = pick % model.size();
      ASSERT_EQ(list.Delete(at, pick & 1), 0);
      model.erase(model.begin() + at);
    }
    ASSERT_LE(list.GetCount(), list.GetCurMaxCount());
  }
  EXPECT_EQ(Ints(list), model);
}

TEST(CList, PrepareInsertLeavesTheSlotToTheCaller) {
  LxCList list(4, 0, nullptr);
  int32_t a = 1, c = 3;
  list.Insert(0, &a);
  list.Insert(1, &c);
  auto* slot = static_cast<int32_t*>(list.PrepareInsert(1));
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot, list.Element(1));
  *slot = 2;
  EXPECT_EQ(Ints(list), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(list.PrepareInsert(5), nullptr);
  EXPECT_EQ(list.GetCount(), 3u);
}

TEST(CList, ShrinkHalvesWhenHalfEmpty) {
  LxCList list(4, 8, nullptr);
  for (int32_t i = 0; i < 5; ++i) list.Insert(i, &i);
  ASSERT_EQ(list.GetCurMaxCount(), 8u);
  EXPECT_EQ(list.Delete(0, 0), 0);  // count 4: no shrink without the flag
  EXPECT_EQ(list.GetCurMaxCount(), 8u);
  EXPECT_EQ(list.Delete(0, 1), 0);  // count 3 <= 4
  EXPECT_EQ(list.GetCurMaxCount(), 4u);
  EXPECT_EQ(list.Delete(0, 1), 0);  // count 2 <= 2
  EXPECT_EQ(list.GetCurMaxCount(), 2u);
  EXPECT_EQ(Ints(list), (std::vector<int32_t>{3, 4}));
  EXPECT_EQ(list.Delete(1, 1), 0);  // count 1 <= 1
  EXPECT_EQ(list.GetCurMaxCount(), 1u);
  EXPECT_EQ(list.Delete(0, 1), 0);  // count 0 from capacity 1 releases the block
  EXPECT_EQ(list.GetCurMaxCount(), 0u);
  EXPECT_EQ(list.GetBuffer(), nullptr);
}

TEST(CList, SizeSetCodes) {
  LxCList list(4, 0, nullptr);
  for (int32_t i = 0; i < 5; ++i) list.Insert(i, &i);
  ASSERT_EQ(list.GetCurMaxCount(), 8u);
  EXPECT_EQ(list.SizeSet(4), -502);
  const void* before = list.GetBuffer();
  EXPECT_EQ(list.SizeSet(8), 0);
  EXPECT_EQ(list.GetBuffer(), before);
  EXPECT_EQ(list.SizeSet(32768), -501);
  EXPECT_EQ(list.GetCurMaxCount(), 8u);
  EXPECT_EQ(list.SizeSet(5), 0);
  EXPECT_EQ(list.GetCurMaxCount(), 5u);
  EXPECT_EQ(list.SizeSet(32767), 0);
  EXPECT_EQ(Ints(list), (std::vector<int32_t>{0, 1, 2, 3, 4}));
  LxCList empty(4, 10, nullptr);
  EXPECT_EQ(empty.SizeSet(0), 0);
  EXPECT_EQ(empty.GetBuffer(), nullptr);
}

TEST(CList, ClearKeepsTheElementSize) {
  LxCList list(4, 16, nullptr);
  int32_t x = 9;
  list.Insert(0, &x);
  list.Clear();
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(list.GetCurMaxCount(), 0u);
  EXPECT_EQ(list.GetBuffer(), nullptr);
  EXPECT_EQ(list.GetMaxCount(), 32767u);
  EXPECT_EQ(list.GetElementSize(), 4u);
  EXPECT_EQ(list.Insert(0, &x), 0);
}

TEST(CList, CopyTakesCapacityAndContents) {
  LxCList source(4, 0, nullptr);
  for (int32_t i = 0; i < 5; ++i) source.Insert(i, &i);
  LxCList target(2, 0, nullptr);
  short s = 1;
  target.Insert(0, &s);
  ASSERT_EQ(target.Copy(&source), 0);
  EXPECT_EQ(target.GetElementSize(), 4u);
  EXPECT_EQ(target.GetCurMaxCount(), 8u);
  EXPECT_EQ(Ints(target), Ints(source));
  EXPECT_NE(target.GetBuffer(), source.GetBuffer());

  LxCList copy(source);
  EXPECT_EQ(Ints(copy), Ints(source));
  EXPECT_EQ(copy.GetMaxCount(), 32767u);
  EXPECT_EQ(copy.GetComparisonFunction(), nullptr);

  // Into a list whose maximum count is 0: capacity above the maximum, no insertion.
  LxCList unusable;
  ASSERT_EQ(unusable.Copy(&source), 0);
  EXPECT_EQ(unusable.GetCount(), 5u);
  int32_t x = 0;
  EXPECT_EQ(unusable.Insert(5, &x), -502);

  LxLList other(4, 0, nullptr);
  EXPECT_EQ(target.Copy(&other), -506);
  EXPECT_EQ(Ints(target), Ints(source));
}

TEST(CList, DestructorLeavesMarkers) {
  struct Probe : LxCList {
    static size_t CountOffset(Probe& p) {
      return reinterpret_cast<char*>(&p.count) - reinterpret_cast<char*>(&p);
    }
    static size_t SizeOffset(Probe& p) {
      return reinterpret_cast<char*>(&p.elementSize) - reinterpret_cast<char*>(&p);
    }
    static size_t CompareOffset(Probe& p) {
      return reinterpret_cast<char*>(&p.comparisonFunction) - reinterpret_cast<char*>(&p);
    }
  };
  alignas(Probe) unsigned char storage[sizeof(Probe)];
  auto* probe = new (storage) Probe();
  int32_t x = 1;
  probe->Init(4, 0);
  probe->Insert(0, &x);
  size_t countAt = Probe::CountOffset(*probe), sizeAt = Probe::SizeOffset(*probe);
  size_t compareAt = Probe::CompareOffset(*probe);
  std::memset(storage + compareAt, 0x5A, sizeof(void*));
  probe->~Probe();
  // The storage outlives the object; tell the compiler that its bytes are meaningful.
  asm volatile("" : : "r"(storage) : "memory");
  uint32_t count;
  unsigned short size;
  void* compare;
  std::memcpy(&count, storage + countAt, sizeof count);
  std::memcpy(&size, storage + sizeAt, sizeof size);
  std::memcpy(&compare, storage + compareAt, sizeof compare);
  EXPECT_EQ(count, 0xFFFFFFFFu);
  EXPECT_EQ(size, 0xFFFFu);
  EXPECT_EQ(compare, nullptr);
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(CList, OutOfMemoryReportsAndKeepsTheList) {
  auto child = lxtest::RunWithMemoryLimit(64u << 20, [] {
    static int calls = 0;
    mmLxSetHandler([](uint32_t) -> int32_t {
      ++calls;
      return 0;
    });
    int r = 0;
    LxCList huge(65535, 32767, &r);
    if (r != -501 || huge.GetCurMaxCount() != 0 || huge.GetBuffer() != nullptr || calls != 1) return 1;
    LxCList list(60000, 0, &r);
    std::vector<unsigned char> element(60000);
    int result = 0;
    uint32_t i = 0;
    for (; i < 32767; ++i) {
      element[0] = static_cast<unsigned char>(i);
      result = list.Insert(list.GetCount(), element.data());
      if (result != 0) break;
    }
    if (result != -501 || calls != 2 || list.GetCount() != i) return 2;
    if (list.GetCurMaxCount() != i) return 3;  // the failed growth kept the old capacity
    for (uint32_t k = 0; k < i; ++k) {
      if (static_cast<unsigned char*>(list.Element(k))[0] != static_cast<unsigned char>(k)) return 4;
    }
    if (list.SizeSet(32767) != -501 || list.GetCurMaxCount() != i) return 5;
    return 0;
  });
  EXPECT_TRUE(child.exited) << child.err;
  EXPECT_EQ(child.code, 0) << child.err;
}
#endif

}  // namespace

// LxLList and SortList: growth by one, give-back by ten, SizeSet, Copy, Import,
// CreateCopyAndClear and PtrElement.
#include <gtest/gtest.h>
#include <lxarrays.h>
#include <lxframe.h>
#include <lxmemfile.h>
#include <lxtest.h>

#include <memory>
#include <vector>

#include "array_test_util.h"

namespace {

std::vector<int32_t> Ints(const LxVArray& list) {
  std::vector<int32_t> out(list.GetCount());
  for (uint32_t i = 0; i < list.GetCount(); ++i) EXPECT_EQ(list.Get(i, &out[i]), 0);
  return out;
}

void AppendInts(LxVArray& list, int32_t from, int32_t to) {
  for (int32_t i = from; i < to; ++i) ASSERT_EQ(list.Insert(list.GetCount(), &i), 0);
}

TEST(LList, GrowsOneElementAtATime) {
  int r = -1;
  LxLList list(16, 0, &r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(list.GetType(), 2u);
  EXPECT_EQ(list.GetMaxCount(), 0xFFFFFFFFu);
  EXPECT_EQ(list.GetCurMaxCount(), 0u);
  arraytest::Record rec = arraytest::Make(1, 1);
  for (uint32_t i = 1; i <= 50; ++i) {
    ASSERT_EQ(list.Insert(list.GetCount(), &rec), 0);
    ASSERT_EQ(list.GetCurMaxCount(), i);
    ASSERT_EQ(list.GetMemoryFile()->GetSize(), static_cast<int32_t>(i * 16));
  }
  EXPECT_EQ(list.Insert(52, &rec), -502);
  EXPECT_EQ(list.GetCount(), 50u);

  LxLList presized(4, 20, nullptr);
  EXPECT_EQ(presized.GetCurMaxCount(), 20u);
  AppendInts(presized, 0, 21);
  EXPECT_EQ(presized.GetCurMaxCount(), 21u);

  LxLList byDefault;
  EXPECT_EQ(byDefault.GetElementSize(), 4u);
}

TEST(LList, InsertUpdateDeleteAgainstModel) {
  LxLList list(4, 0, nullptr);
  std::vector<int32_t> model;
  uint32_t seed = 777;
  for (int step = 0; step < 3000; ++step) {
    seed = seed * 1664525u + 1013904223u;
    uint32_t pick = seed >> 8;
    int32_t value = static_cast<int32_t>(pick & 0xFFFFF);
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
    ASSERT_EQ(list.GetMemoryFile()->GetSize(), static_cast<int32_t>(list.GetCurMaxCount() * 4));
  }
  EXPECT_EQ(Ints(list), model);
  int32_t x;
  EXPECT_EQ(list.Get(list.GetCount(), &x), -502);
  EXPECT_EQ(list.Update(list.GetCount(), &x), -502);
  EXPECT_EQ(list.Delete(list.GetCount(), 1), -502);
  EXPECT_EQ(list.Element(list.GetCount()), nullptr);
}

TEST(LList, DeleteGivesBackTenSlots) {
  LxLList list(4, 25, nullptr);
  AppendInts(list, 0, 17);
  EXPECT_EQ(list.Delete(0, 1), 0);  // count 16 > 15: stays
  EXPECT_EQ(list.GetCurMaxCount(), 25u);
  EXPECT_EQ(list.Delete(0, 1), 0);  // count 15 <= 15
  EXPECT_EQ(list.GetCurMaxCount(), 15u);
  EXPECT_EQ(list.GetMemoryFile()->GetSize(), 60);
  EXPECT_EQ(Ints(list).front(), 2);

  LxLList small(4, 8, nullptr);
  AppendInts(small, 0, 2);
  EXPECT_EQ(small.Delete(0, 1), 0);
  EXPECT_EQ(small.GetCurMaxCount(), 8u);
  EXPECT_EQ(small.Delete(0, 1), 0);
  EXPECT_EQ(small.GetCurMaxCount(), 0u);
  EXPECT_EQ(small.GetMemoryFile()->GetCapacity(), 0u);
  EXPECT_EQ(small.GetMemoryFile()->GetBuffer(), nullptr);

  LxLList noShrink(4, 25, nullptr);
  AppendInts(noShrink, 0, 3);
  EXPECT_EQ(noShrink.Delete(0, 0), 0);
  EXPECT_EQ(noShrink.GetCurMaxCount(), 25u);
}

TEST(LList, SizeSetAndClear) {
  LxLList list(4, 0, nullptr);
  AppendInts(list, 0, 5);
  EXPECT_EQ(list.SizeSet(4), -502);
  EXPECT_EQ(list.SizeSet(5), 0);
  EXPECT_EQ(list.SizeSet(100), 0);
  EXPECT_EQ(list.GetCurMaxCount(), 100u);
  EXPECT_EQ(list.GetMemoryFile()->GetSize(), 400);
  EXPECT_EQ(Ints(list), (std::vector<int32_t>{0, 1, 2, 3, 4}));
  list.Clear();
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(list.GetCurMaxCount(), 0u);
  EXPECT_EQ(list.GetMemoryFile()->GetSize(), 0);
  EXPECT_EQ(list.GetElementSize(), 4u);
}

TEST(LList, CopyAndCopyConstructor) {
  LxLList source(4, 0, nullptr);
  AppendInts(source, 10, 30);
  LxLList target(8, 3, nullptr);
  ASSERT_EQ(target.Copy(&source), 0);
  EXPECT_EQ(target.GetElementSize(), 4u);
  EXPECT_EQ(target.GetCurMaxCount(), source.GetCurMaxCount());
  EXPECT_EQ(Ints(target), Ints(source));

  SortList sorted(4, arraytest::CompareRecords, 0);
  AppendInts(sorted, 0, 3);
  SortList copy(sorted);
  EXPECT_EQ(copy.GetComparisonFunction(), nullptr);
  EXPECT_EQ(Ints(copy), (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(copy.Sort(0), -2106);

  LxCList other(4, 0, nullptr);
  EXPECT_EQ(target.Copy(&other), -506);
  EXPECT_EQ(Ints(target), Ints(source));
}

TEST(LList, ImportAppendsFromTheSourcePosition) {
  MemFile file;
  std::vector<int32_t> words = {100, 101, 102, 103, 104, 105, 106, 107};
  ASSERT_EQ(file.Put(words.data(), 0, 32), 32);
  file.Seek(20, 0);
  LxLList list(4, 0, nullptr);
  ASSERT_EQ(list.Import(3, &file), 0);
  EXPECT_EQ(file.GetPosition(), 20);
  EXPECT_EQ(list.GetCurMaxCount(), 3u);
  EXPECT_EQ(Ints(list), (std::vector<int32_t>{105, 106, 107}));

  file.Seek(0, 0);
  ASSERT_EQ(list.Import(5, &file), 0);  // capacity 3 + 3 + 5
  EXPECT_EQ(list.GetCurMaxCount(), 11u);
  EXPECT_EQ(Ints(list), (std::vector<int32_t>{105, 106, 107, 100, 101, 102, 103, 104}));

  file.Seek(32, 0);
  EXPECT_EQ(list.Import(1, &file), -501);
  EXPECT_EQ(list.GetCount(), 8u);

  LxLList growth(4, 0, nullptr);
  file.Seek(0, 0);
  growth.Import(5, &file);
  EXPECT_EQ(growth.GetCurMaxCount(), 5u);
  file.Seek(0, 0);
  growth.Import(5, &file);
  EXPECT_EQ(growth.GetCurMaxCount(), 15u);
  MemFile big;
  std::vector<int32_t> many(10, 7);
  big.Put(many.data(), 0, 40);
  big.Seek(0, 0);
  growth.Import(10, &big);
  EXPECT_EQ(growth.GetCurMaxCount(), 35u);
  EXPECT_EQ(growth.GetCount(), 20u);
}

TEST(LList, CreateCopyAndClearMovesTheContents) {
  LxLList list(4, 0, nullptr);
  AppendInts(list, 0, 1000);
  const MemFile* file = list.GetMemoryFile();
  std::unique_ptr<LxLList> moved(list.CreateCopyAndClear());
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(moved->GetMemoryFile(), file);  // handed over, not copied
  EXPECT_EQ(moved->GetCount(), 1000u);
  EXPECT_EQ(moved->GetCurMaxCount(), 1000u);
  EXPECT_EQ(Ints(*moved)[999], 999);
  EXPECT_EQ(dynamic_cast<SortList*>(moved.get()), nullptr);
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(list.GetCurMaxCount(), 0u);
  EXPECT_NE(list.GetMemoryFile(), file);
  AppendInts(list, 5, 6);
  EXPECT_EQ(Ints(list), (std::vector<int32_t>{5}));

  SortList sorted(sizeof(arraytest::Record), arraytest::CompareRecords, 0);
  arraytest::Record rec = arraytest::Make(3, 0);
  sorted.SortedInsert(&rec, nullptr, 1, 1);
  std::unique_ptr<LxLList> sortedCopy(sorted.CreateCopyAndClear());
  ASSERT_NE(dynamic_cast<SortList*>(sortedCopy.get()), nullptr);
  EXPECT_EQ(sortedCopy->GetComparisonFunction(), &arraytest::CompareRecords);
  EXPECT_EQ(sortedCopy->GetCount(), 1u);
  EXPECT_EQ(sorted.GetCount(), 0u);
}

TEST(LList, PtrElementAddressesPointerSlots) {
  int a = 1, b = 2;
  LxLList list(sizeof(void*), 0, nullptr);
  void* pa = &a;
  void* pb = &b;
  list.Insert(0, &pa);
  list.Insert(1, &pb);
  ASSERT_NE(list.PtrElement(1), nullptr);
  EXPECT_EQ(*list.PtrElement(1), &b);
  EXPECT_EQ(list.PtrElement(2), nullptr);
  // Without regard to the element size: slot 1 of a list of 4-byte elements lies
  // at byte 8 as well.
  LxLList words(4, 0, nullptr);
  AppendInts(words, 0, 4);
  EXPECT_EQ(reinterpret_cast<char*>(words.PtrElement(1)), static_cast<char*>(words.Element(2)));
}

TEST(LList, PrepareInsertMakesAnUnwrittenSlot) {
  SortList list(sizeof(arraytest::Record), arraytest::CompareRecords, 0);
  for (int32_t k : {10, 30}) {
    arraytest::Record r = arraytest::Make(k, 0);
    list.SortedInsert(&r, nullptr, 0, 1);
  }
  arraytest::Record r = arraytest::Make(20, 1);
  uint32_t position = 99;
  ASSERT_EQ(list.SortedInsert(&r, &position, 0, 0), 0);
  EXPECT_EQ(position, 1u);
  EXPECT_EQ(list.GetCount(), 3u);
  // The slot holds the bytes of the element that was moved up, not the new one.
  EXPECT_EQ(static_cast<arraytest::Record*>(list.Element(1))->key, 30);
  std::memcpy(list.Element(1), &r, sizeof r);
  EXPECT_EQ(static_cast<arraytest::Record*>(list.Element(2))->key, 30);
}

#if !defined(__SANITIZE_ADDRESS__)
// Growth that the memory file cannot serve: Insert (both its append path and an
// insertion in the middle), Import and SizeSet fail and leave the list as it was.
TEST(LList, OutOfMemoryLeavesTheListAsItWas) {
  auto child = lxtest::RunWithMemoryLimit(48u << 20, [] {
    static int calls = 0;
    mmLxSetHandler([](uint32_t) -> int32_t {
      ++calls;
      return 0;
    });
    LxLList list(16, 0, nullptr);
    arraytest::Record rec = arraytest::Make(0, 0);
    int result = 0;
    while (result == 0 && list.GetCount() < 100000000u) {
      rec.key = static_cast<int32_t>(list.GetCount());
      result = list.Insert(list.GetCount(), &rec);
    }
    const uint32_t n = list.GetCount();
    if (result != -501 || calls == 0) return 1;
    if (list.GetCurMaxCount() != n || list.GetMemoryFile()->GetSize() != static_cast<int32_t>(n * 16))
      return 2;
    if (list.Insert(n / 2, &rec) != -501 || list.GetCount() != n) return 3;
    for (uint32_t i = 0; i < n; i += 997) {
      if (static_cast<arraytest::Record*>(list.Element(i))->key != static_cast<int32_t>(i)) return 4;
    }
    if (list.SizeSet(n * 4) != -10001 || list.GetCurMaxCount() != n) return 5;
    MemFile source;
    source.Put(&rec, 0, 16);
    source.Seek(0, 0);
    if (list.Import(1, &source) != -501 || list.GetCurMaxCount() != n || list.GetCount() != n) return 6;
    // Ten slots come back once ten are free; the reduction needs no new memory.
    for (uint32_t i = 1; i <= 10; ++i) {
      list.Delete(n - i, 1);
      if (list.GetCurMaxCount() != (i < 10 ? n : n - 10)) return 7;
    }
    return list.Insert(list.GetCount(), &rec) == 0 ? 0 : 8;
  });
  EXPECT_TRUE(child.exited) << child.err;
  EXPECT_EQ(child.code, 0) << child.err;
}
#endif

}  // namespace

// Out-of-memory sweeps: every allocation of each operation that allocates fails
// once (one child process per allocation, see alloc_fail.h). After the failure
// the operation has returned its documented code, or the installed memory
// handler has been called where the library routes failures to it, and the data
// that was there before is intact. Runs that meet no failure must succeed.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "alloc_fail.h"
#include "lxarrays.h"
#include "lxcontainers.h"
#include "lxframe.h"
#include "lxmemfile.h"
#include "lxplatform.h"
#include "lxstatistics.h"
#include "lxtest.h"

// Builds its message only on failure: a check may run while allocations fail.
#define OOM_EXPECT(run, cond)                                                                            \
  do {                                                                                                   \
    if (!(cond)) (run).Expect(false, std::string(__FILE__ ":") + std::to_string(__LINE__) + ": " #cond); \
  } while (0)

namespace {

using Probe = lxoom::Run;

class OutOfMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!lxoom::Available()) GTEST_SKIP() << "allocation failures cannot be injected under AddressSanitizer";
  }
  void ExpectSweep(const std::function<void(Probe&)>& body) {
    long runs = 0;
    EXPECT_EQ("", lxoom::Sweep(body, 4000, &runs));
    EXPECT_GT(runs, 1) << "the operation allocated nothing";
  }
};

std::string Pattern(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
  return s;
}

std::string Contents(const MemFile& f) {
  return std::string(f.GetBuffer() ? f.GetBuffer() : "", f.GetSize());
}

// ---------------------------------------------------------------------------
// mmResize, memory files and queues: the handler hears of every failure
// ---------------------------------------------------------------------------

TEST_F(OutOfMemory, ResizeKeepsTheOldBlockAndCallsTheHandlerOnce) {
  ExpectSweep([](Probe& run) {
    const std::string old = Pattern(100, 'a');
    void* block = std::malloc(100);
    std::memcpy(block, old.data(), 100);
    void* fresh = nullptr;
    Probe::ResetHandler();
    run.Arm();
    const int32_t grown = mmResize(&block, 1 << 20);
    const int32_t made = mmFarResize(&fresh, 64);
    run.Disarm();
    OOM_EXPECT(run, (grown == -1) + (made == -1) == (run.Hit() ? 1 : 0));
    OOM_EXPECT(run, Probe::HandlerCalls() == (run.Hit() ? 1 : 0));
    if (grown == -1) OOM_EXPECT(run, Probe::LastHandlerSize() == (1u << 20));
    if (made == -1) OOM_EXPECT(run, Probe::LastHandlerSize() == 64 && fresh == nullptr);
    OOM_EXPECT(run, block != nullptr && std::memcmp(block, old.data(), 100) == 0);
    mmResize(&block, 0);
    mmResize(&fresh, 0);
  });
}

TEST_F(OutOfMemory, MemoryFileGrowthLeavesTheFileAsItWas) {
  ExpectSweep([](Probe& run) {
    MemFile f;
    const std::string old = Pattern(50, 'k');
    f.Put(old.data(), 0, 50);
    f.Seek(7, 0);
    const uint32_t capacity = f.GetCapacity();
    const short segments = f.GetSegmentCount();
    const unsigned char shift = f.GetSegmentShift();
    Probe::ResetHandler();
    run.Arm();
    const int32_t r = f.SizeSet(100000);
    run.Disarm();
    if (run.Hit()) {
      OOM_EXPECT(run, r == LX_MEMFILE_NO_MEMORY);
      OOM_EXPECT(run, Probe::HandlerCalls() == 1 && Probe::LastHandlerSize() >= 100000);
      OOM_EXPECT(run, f.GetSize() == 50 && f.GetCapacity() == capacity && f.GetSegmentCount() == segments &&
                          f.GetSegmentShift() == shift && f.GetPosition() == 7);
      OOM_EXPECT(run, Contents(f) == old);
    } else {
      OOM_EXPECT(run, r == 0 && f.GetSize() == 100000 && std::memcmp(f.GetBuffer(), old.data(), 50) == 0);
    }
  });
}

TEST_F(OutOfMemory, MemoryFileReductionKeepsTheLargerBlockAndTakesTheSize) {
  ExpectSweep([](Probe& run) {
    MemFile f;
    const std::string old = Pattern(5000, 'r');
    f.Put(old.data(), 0, 5000);
    const uint32_t capacity = f.GetCapacity();
    run.Arm();
    const int32_t r = f.SizeSet(20);
    run.Disarm();
    OOM_EXPECT(run, f.GetSize() == 20 && std::memcmp(f.GetBuffer(), old.data(), 20) == 0);
    if (run.Hit()) {
      OOM_EXPECT(run, r == LX_MEMFILE_NO_MEMORY && f.GetCapacity() == capacity);
    } else {
      OOM_EXPECT(run, r == 0 && f.GetCapacity() < capacity);
    }
  });
}

TEST_F(OutOfMemory, ImplicitGrowthReportsNothingWrittenAndChangesNothing) {
  ExpectSweep([](Probe& run) {
    MemFile f, g;
    const std::string old = Pattern(40, 'p');
    const std::string more = Pattern(3000, 'q');
    f.Put(old.data(), 0, 40);
    g.Put(more.data(), 0, 3000);
    f.Seek(40, 0);
    Probe::ResetHandler();
    run.Arm();
    const int32_t put = f.Put(more.data(), 40, 3000);
    run.Disarm();
    if (run.Hit()) {
      OOM_EXPECT(run, put == 0 && Contents(f) == old && Probe::HandlerCalls() == 1);
    } else {
      OOM_EXPECT(run, put == 3000 && Contents(f) == old + more);
    }
    // The other growing operations, each from the same start.
    MemFile h;
    h.Put(old.data(), 0, 40);
    h.Seek(40, 0);
    run.Arm();
    const uint32_t fromFile = h.Put(&g, 0u, 0u);
    run.Disarm();
    OOM_EXPECT(
        run, run.Hit() ? fromFile == 0 && Contents(h) == old : fromFile == 3000 && Contents(h) == old + more);
    MemFile c;
    c.Put(old.data(), 0, 40);
    run.Arm();
    const int32_t copied = c.Copy(4000, 0, 40);
    run.Disarm();
    OOM_EXPECT(run, run.Hit() ? copied == 0 && Contents(c) == old : copied == 40 && c.GetSize() == 4040);
    MemFile w;
    w.Put(old.data(), 0, 40);
    w.Seek(40, 0);
    int result = 1;
    run.Arm();
    for (int i = 0; i < 4 && result != LX_MEMFILE_NO_MEMORY; ++i) {
      OOM_EXPECT(run, w.Write(0x01020304u, result) == 4);
    }
    run.Disarm();
    OOM_EXPECT(run, result == 0 || result == LX_MEMFILE_NO_MEMORY);
    OOM_EXPECT(run, w.GetPosition() == w.GetSize() && std::memcmp(w.GetBuffer(), old.data(), 40) == 0);
  });
}

TEST_F(OutOfMemory, CopiesOfMemoryFilesAreEmptyOrWhole) {
  ExpectSweep([](Probe& run) {
    MemFile source;
    const std::string old = Pattern(700, 's');
    source.Put(old.data(), 0, 700);
    source.Seek(33, 0);
    MemFile target;
    const std::string kept = Pattern(20, 't');
    target.Put(kept.data(), 0, 20);
    run.Arm();
    MemFile copy(source);
    target = source;
    run.Disarm();
    OOM_EXPECT(run, Contents(source) == old && source.GetPosition() == 33);
    OOM_EXPECT(run, Contents(copy) == old || copy.GetSize() == 0);
    OOM_EXPECT(run, Contents(target) == old || Contents(target) == kept);
    if (!run.Hit()) OOM_EXPECT(run, Contents(copy) == old && Contents(target) == old);
  });
}

TEST_F(OutOfMemory, QueuePutAndCompactingGetLoseNoByte) {
  ExpectSweep([](Probe& run) {
    MemQueue q(1);
    const std::string first = Pattern(300, 'a');
    const std::string second = Pattern(2000, 'b');
    q.Put(first.data(), 300);
    std::string got(250, '\0');
    run.Arm();
    const int put = q.Put(second.data(), 2000);
    const int get = q.Get(&got[0], 250);
    run.Disarm();
    const std::string all = put == 0 ? first + second : first;
    OOM_EXPECT(run, put == 0 || put == LX_MEMQUEUE_NO_MEMORY);
    // A compacting Get delivers its bytes even when the block could not be reduced.
    OOM_EXPECT(run, get == 0 || get == LX_MEMQUEUE_NOT_REDUCED);
    OOM_EXPECT(run, got == all.substr(0, 250));
    OOM_EXPECT(run, q.GetSize() == static_cast<int32_t>(all.size() - 250) && q.GetReadOffset() == 0);
    OOM_EXPECT(run, std::memcmp(q.GetBuffer(), all.data() + 250, all.size() - 250) == 0);
    if (!run.Hit()) OOM_EXPECT(run, put == 0 && get == 0);
  });
}

// ---------------------------------------------------------------------------
// Lists
// ---------------------------------------------------------------------------

template <typename List>
std::vector<std::string> Elements(const List& list) {
  std::vector<std::string> out;
  for (uint32_t i = 0; i < list.GetCount(); ++i) {
    std::string e(list.GetElementSize(), '\0');
    list.Get(i, &e[0]);
    out.push_back(e);
  }
  return out;
}

template <typename List>
void Fill(List& list, int n, char seed) {
  for (int i = 0; i < n; ++i)
    list.Insert(list.GetCount(), Pattern(list.GetElementSize(), static_cast<char>(seed + i)).data());
}

TEST_F(OutOfMemory, ContiguousListGrowthAndCopyFailWithTheirCodes) {
  ExpectSweep([](Probe& run) {
    int r = 0;
    LxCList list(6, 0, &r);
    Fill(list, 16, 'a');
    const std::vector<std::string> before = Elements(list);
    const uint32_t capacity = list.GetCurMaxCount();
    Probe::ResetHandler();
    run.Arm();
    const int inserted = list.Insert(3, "zzzzzz");
    run.Disarm();
    if (run.Hit()) {
      OOM_EXPECT(run, inserted == LX_ARRAY_NO_STORAGE && Probe::HandlerCalls() == 1);
      OOM_EXPECT(run, Elements(list) == before && list.GetCurMaxCount() == capacity);
    } else {
      OOM_EXPECT(run, inserted == 0 && list.GetCount() == 17);
    }
    LxCList other(6, 0, &r);
    Fill(other, 3, 'x');
    const std::vector<std::string> kept = Elements(other);
    run.Arm();
    const int copied = other.Copy(&list);
    const int sized = list.SizeSet(1000);
    run.Disarm();
    OOM_EXPECT(run, copied == 0 || (copied == LX_ARRAY_NO_STORAGE && Elements(other) == kept));
    OOM_EXPECT(run, sized == 0 || (sized == LX_ARRAY_NO_STORAGE && list.GetCurMaxCount() != 1000));
    OOM_EXPECT(run, copied != 0 || Elements(other) == Elements(list));
    OOM_EXPECT(run, run.Hit() || (copied == 0 && sized == 0));
  });
}

TEST_F(OutOfMemory, ContiguousListConstructionAndInit) {
  ExpectSweep([](Probe& run) {
    int r = 1;
    run.Arm();
    LxCList list(8, 100, &r);
    run.Disarm();
    OOM_EXPECT(run, r == 0 || (r == LX_ARRAY_NO_STORAGE && list.GetCurMaxCount() == 0));
    OOM_EXPECT(run, run.Hit() || (r == 0 && list.GetCurMaxCount() == 100));
    // A list made without its first block still works once memory is back.
    OOM_EXPECT(run, list.Insert(0, "12345678") == 0 && list.GetCount() == 1);
  });
}

TEST_F(OutOfMemory, SegmentedListGrowthImportAndMoveChangeNothingOnFailure) {
  ExpectSweep([](Probe& run) {
    int r = 0;
    LxLList list(5, 0, &r);
    Fill(list, 30, 'c');
    const std::vector<std::string> before = Elements(list);
    run.Arm();
    int inserted = 0;
    for (int i = 0; i < 40 && inserted == 0; ++i) inserted = list.Insert(0, "vwxyz");
    run.Disarm();
    const uint32_t added = list.GetCount() - 30;
    if (inserted != 0) {
      OOM_EXPECT(run, inserted == LX_ARRAY_NO_STORAGE);
      OOM_EXPECT(run, list.GetCurMaxCount() >= list.GetCount());
    }
    std::vector<std::string> expected(added, "vwxyz");
    expected.insert(expected.end(), before.begin(), before.end());
    OOM_EXPECT(run, Elements(list) == expected);
    OOM_EXPECT(run, run.Hit() || (inserted == 0 && added == 40));

    MemFile source;
    const std::string bytes = Pattern(5 * 200, 'i');
    source.Put(bytes.data(), 0, 1000);
    const uint32_t count = list.GetCount();
    const std::vector<std::string> beforeImport = Elements(list);
    run.Arm();
    const int imported = list.Import(200, &source);
    run.Disarm();
    std::vector<std::string> afterImport = beforeImport;
    if (imported == 0) {
      for (int i = 0; i < 200; ++i) afterImport.push_back(bytes.substr(5 * i, 5));
    } else {
      OOM_EXPECT(run, imported == LX_ARRAY_NO_STORAGE && list.GetCount() == count);
    }
    OOM_EXPECT(run, Elements(list) == afterImport);
    OOM_EXPECT(run, run.Hit() || imported == 0);

    run.Arm();
    LxLList* moved = list.CreateCopyAndClear();
    run.Disarm();
    if (moved != nullptr) {
      OOM_EXPECT(run, Elements(*moved) == afterImport && list.GetCount() == 0 && list.GetCurMaxCount() == 0);
      delete moved;
    } else {
      OOM_EXPECT(run, run.Hit() && Elements(list) == afterImport);
    }
  });
}

TEST_F(OutOfMemory, SegmentedListCopyKeepsItsFileLargeEnoughForItsCount) {
  ExpectSweep([](Probe& run) {
    int r = 0;
    LxLList source(4, 0, &r);
    Fill(source, 500, 'm');
    LxLList target(4, 0, &r);
    Fill(target, 2, 'n');
    const std::vector<std::string> before = Elements(source);
    // The heap stays exhausted from the n-th allocation on: every growth fails.
    run.ArmPersistent();
    const int copied = target.Copy(&source);
    run.Disarm();
    OOM_EXPECT(run, copied == 0 || copied == LX_ARRAY_NO_STORAGE);
    OOM_EXPECT(run, Elements(source) == before);
    // Whatever the copy reports, the list's elements must lie inside its file.
    OOM_EXPECT(run, static_cast<uint32_t>(target.GetMemoryFile()->GetSize()) >=
                        target.GetCount() * target.GetElementSize());
    if (!run.Hit()) OOM_EXPECT(run, Elements(target) == before);
  });
}

int CompareFirst(const LxVArray*, const void* key, const void* element) {
  return *static_cast<const unsigned char*>(key) - *static_cast<const unsigned char*>(element);
}

TEST_F(OutOfMemory, SortScratchAndSortedInsertFailWithoutChange) {
  ExpectSweep([](Probe& run) {
    SortList list(3, CompareFirst, 0);
    const char* values[] = {"q11", "b22", "x33", "a44", "m55", "b66"};
    for (const char* v : values) list.Insert(list.GetCount(), v);
    const std::vector<std::string> before = Elements(list);
    Probe::ResetHandler();
    run.Arm();
    const int sorted = list.Sort(0);
    run.Disarm();
    if (sorted != 0) {
      OOM_EXPECT(run, sorted == -2030 && Elements(list) == before);
      // The sort reports by its result, not through the memory handler.
      OOM_EXPECT(run, Probe::HandlerCalls() == 0);
      return;
    }
    std::vector<std::string> after = Elements(list);
    for (size_t i = 1; i < after.size(); ++i) OOM_EXPECT(run, after[i - 1][0] <= after[i][0]);
    uint32_t position = 99;
    run.Arm();
    int inserted = 0;
    for (int i = 0; i < 20 && inserted == 0; ++i) inserted = list.SortedInsert("c00", &position, 1, 1);
    run.Disarm();
    OOM_EXPECT(run, inserted == 0 || inserted == LX_ARRAY_NO_STORAGE);
    std::vector<std::string> now = Elements(list);
    for (size_t i = 1; i < now.size(); ++i) OOM_EXPECT(run, now[i - 1][0] <= now[i][0]);
    OOM_EXPECT(run, now.size() >= after.size() && now.size() <= after.size() + 20);
  });
}

TEST_F(OutOfMemory, BitStringAndRawBufferReportByTheirResult) {
  ExpectSweep([](Probe& run) {
    Probe::ResetHandler();
    run.Arm();
    _LxBitString bits(1000);
    run.Disarm();
    OOM_EXPECT(run, bits.Length() == 1000 || bits.Length() == 0);
    int value = 7;
    if (bits.Length() == 0) {
      OOM_EXPECT(run, bits.Set(0) == -2005 && bits.Get(0, value) == -2005);
    } else {
      OOM_EXPECT(run, bits.Set(999) == 0 && bits.GetNum() == 1);
    }

    char data[64];
    std::memset(data, 'd', sizeof data);
    run.Arm();
    LxRawBuffer copy(data, sizeof data, LxRawBufferCopy);
    LxRawBuffer second(copy);
    run.Disarm();
    OOM_EXPECT(
        run, copy.GetBufLen() == 0 || (copy.GetBufLen() == 64 && std::memcmp(copy.GetBuf(), data, 64) == 0));
    OOM_EXPECT(run, copy.GetBufLen() != 0 || copy.GetBuf() == nullptr);
    OOM_EXPECT(run, second.GetBufLen() == 0 || std::memcmp(second.GetBuf(), data, 64) == 0);
    run.Arm();
    const int ensured = second.EnsureCapacity(4096);
    run.Disarm();
    OOM_EXPECT(run, ensured == 0 ? second.GetBufLen() == 4096
                                 : ensured == -2030 && second.GetBufLen() == 0 && second.GetBuf() == nullptr);
    OOM_EXPECT(run, Probe::HandlerCalls() == 0);
  });
}

// ---------------------------------------------------------------------------
// Ordered containers
// ---------------------------------------------------------------------------

TEST_F(OutOfMemory, EntryCacheGivesNullAndStaysUsable) {
  ExpectSweep([](Probe& run) {
    LxEntryCache cache(24, 3, 8);
    std::vector<void*> got;
    for (int i = 0; i < 4; ++i) got.push_back(cache.GetEntry());
    run.Arm();
    void* e = nullptr;
    int fresh = 0;
    for (; fresh < 10; ++fresh) {
      e = cache.GetEntry();
      if (e == nullptr) break;
      std::memset(e, 0x42, 24);
    }
    run.Disarm();
    OOM_EXPECT(run, run.Hit() == (e == nullptr));
    void* again = cache.GetEntry();
    OOM_EXPECT(run, again != nullptr);
    if (again != nullptr) std::memset(again, 0x43, 24);
    for (void* p : got) OOM_EXPECT(run, p != nullptr && p != again);
  });
}

struct Pair {
  int32_t key;
  int32_t data;
};

int ComparePairs(LxVContainer*, int* keyOrder, int* entryOrder, const LxVIterator*, const void* key,
                 const void*, const void* element, LxVParameter*) {
  const int32_t k = *static_cast<const int32_t*>(key);
  const int32_t e = static_cast<const Pair*>(element)->key;
  *keyOrder = *entryOrder = k < e ? -1 : k > e ? 1 : 0;
  return 0;
}

int CopyPair(LxVContainer*, void* element, const LxVIterator*, const void* key, const void*, LxVParameter*) {
  static_cast<Pair*>(element)->key = *static_cast<const int32_t*>(key);
  static_cast<Pair*>(element)->data = 0;
  return 0;
}

std::vector<int32_t> Keys(LxRBTree& tree) {
  std::vector<int32_t> keys;
  LxRBTreeIterator it(&tree, nullptr);
  int status = 0;
  while (it.Next() == 0) keys.push_back(static_cast<const Pair*>(it.GetElement(status, nullptr))->key);
  return keys;
}

TEST_F(OutOfMemory, TreeInsertionIteratorsAndClonesFailCleanly) {
  ExpectSweep([](Probe& run) {
    LxRBTree tree(sizeof(Pair), 0, 4);
    tree.SetCompareFunc(ComparePairs);
    tree.SetCopyFunc(CopyPair);
    std::vector<int32_t> keys;
    for (int32_t k = 0; k < 9; ++k) {
      int32_t key = k * 10;
      LxOneEntryContainer one(&key, nullptr, 1);
      LxOneEntryIterator src(&one, nullptr);
      tree.InsertElement(&src, nullptr, 0, nullptr);
      keys.push_back(key);
    }
    const uint32_t stamp = tree.GetStamp();
    run.Arm();
    int inserted = 0;
    int32_t key = 5;
    int added = 0;
    for (; added < 12; ++added, key += 10) {
      LxOneEntryContainer one(&key, nullptr, 1);
      LxOneEntryIterator src(&one, nullptr);
      inserted = tree.InsertElement(&src, nullptr, 0, nullptr);
      if (inserted != 0) break;
    }
    Probe::ResetHandler();
    LxVIterator* it = tree.CreateIterator(nullptr);
    LxVIterator* clone = it != nullptr ? it->Clone(nullptr) : nullptr;
    run.Disarm();
    // A failed iterator of the library's own reaches the handler with its size.
    if (it == nullptr || (clone == nullptr && run.Hit() && added == 12)) {
      OOM_EXPECT(run, Probe::LastHandlerSize() == sizeof(LxRBTreeIterator));
    }
    OOM_EXPECT(run, inserted == 0 || inserted == LX_CONTAINER_OUT_OF_MEMORY);
    for (int i = 0; i < added; ++i) keys.push_back(5 + 10 * i);
    std::sort(keys.begin(), keys.end());
    OOM_EXPECT(run, tree.CheckTree(nullptr) == 0 && Keys(tree) == keys);
    OOM_EXPECT(run, tree.GetStamp() == stamp + static_cast<uint32_t>(added));
    if (!run.Hit()) OOM_EXPECT(run, it != nullptr && clone != nullptr && added == 12);
    if (it != nullptr) OOM_EXPECT(run, it->Next() == 0);
    delete clone;
    delete it;
  });
}

TEST_F(OutOfMemory, NodePoolGivesNullAndStaysUsable) {
  ExpectSweep([](Probe& run) {
    LxMemPool pool(16);
    void* first = pool.GetNode();
    pool.PutNode(first);
    run.Arm();
    void* got[300];
    int n = 0;
    for (; n < 300; ++n) {
      got[n] = pool.GetNode();
      if (got[n] == nullptr) break;
    }
    run.Disarm();
    if (n > 1) pool.PutNode(got[1]);
    OOM_EXPECT(run, run.Hit() == (n < 300));
    // The nodes handed out are distinct and the pool works once memory is back.
    for (int i = 2; i < n; ++i) OOM_EXPECT(run, got[i] != nullptr && got[i] != got[i - 1]);
    OOM_EXPECT(run, pool.GetNode() != nullptr);
  });
}

// ---------------------------------------------------------------------------
// Registry entries: the store keeps what it had and takes writes afterwards
// ---------------------------------------------------------------------------

std::string GetEntry(const char* const* path) {
  char buffer[256];
  int32_t size = sizeof buffer;
  if (LxGetRegistryEntry(path, buffer, size) != 0) return "<none>";
  return std::string(buffer, static_cast<size_t>(size));
}

TEST_F(OutOfMemory, RegistryEntriesSurviveFailedCalls) {
  const char* const other[] = {"Oom", "Other", nullptr};
  const char* const target[] = {"Oom", "Target", nullptr};
  int32_t one = 1;
  ASSERT_EQ(0, LxSetRegistryEntry(other, "kept", one));
  ASSERT_EQ(0, LxSetRegistryEntry(target, "old", one));
  ExpectSweep([&](Probe& run) {
    // The store is a file that every run shares: each starts from the same values.
    int32_t unused = 1;
    OOM_EXPECT(run, LxSetRegistryEntry(target, "old", unused) == 0 && GetEntry(other) == "kept");
    run.Arm();
    const int set = LxSetRegistryEntry(target, "new value", unused);
    run.Disarm();
    OOM_EXPECT(run, set == 0 || set == -1);
    const std::string now = GetEntry(target);
    // A set deletes first, so a failed one may leave the entry deleted.
    OOM_EXPECT(run, set == 0 ? now == "new value" : now == "old" || now == "<none>");
    OOM_EXPECT(run, GetEntry(other) == "kept");

    char buffer[64];
    int32_t size = sizeof buffer;
    run.Arm();
    const int got = LxGetRegistryEntry(other, buffer, size);
    const int deleted = LxDeleteRegistryEntry(target);
    run.Disarm();
    OOM_EXPECT(run, got == -1 || (got == 0 && size == 4 && std::memcmp(buffer, "kept", 4) == 0));
    OOM_EXPECT(run, deleted == 0 || deleted == -1);
    OOM_EXPECT(run, GetEntry(other) == "kept");
    OOM_EXPECT(run, deleted != 0 || GetEntry(target) == "<none>");
    if (!run.AnyHit()) OOM_EXPECT(run, set == 0 && got == 0 && deleted == 0);
  });
}

TEST_F(OutOfMemory, RegistryStoreTakesWritesAfterAFailedCall) {
  const char* const target[] = {"Oom", "Again", nullptr};
  ExpectSweep([&](Probe& run) {
    int32_t unused = 1;
    OOM_EXPECT(run, LxSetRegistryEntry(target, "old", unused) == 0);
    // Two calls, each meeting its own n-th allocation failure.
    run.Arm();
    LxSetRegistryEntry(target, "new value", unused);
    run.Disarm();
    char buffer[64];
    int32_t size = sizeof buffer;
    run.Arm();
    LxGetRegistryEntry(target, buffer, size);
    LxDeleteRegistryEntry(target);
    run.Disarm();
    // A failure inside the store must not leave this process's connection unusable.
    OOM_EXPECT(run, LxSetRegistryEntry(target, "after", unused) == 0 && GetEntry(target) == "after");
  });
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// Statistics entry points: a monitor's calls never throw
// ---------------------------------------------------------------------------

// Runs `call` armed; an exception that leaves it is a violation named after it.
void Guarded(Probe& run, const char* name, const std::function<void()>& call) {
  run.Arm();
  try {
    call();
    run.Disarm();
  } catch (...) {
    run.Disarm();
    run.Expect(false, std::string("an exception left ") + name);
  }
}

TEST_F(OutOfMemory, CollectionAndInstallationReportWithoutThrowing) {
  const std::string dir = lxtest::MakeTempDir("stats");
  ASSERT_FALSE(dir.empty());
  const std::string shm = "/lxbtest-oom-" + std::to_string(getpid());
  setenv("ORVANTA_SHM_NAME", shm.c_str(), 1);
  setenv("ORVANTA_LOCK_DIR", dir.c_str(), 1);
  ExpectSweep([](Probe& run) {
    int installed = -1;
    Guarded(run, "RegisterStatistics", [&] { installed = RegisterStatistics(); });
    OOM_EXPECT(run, installed == 0);
    RegisterStatistics();  // completes an installation that failed half-way, or is refused
    uint32_t opened = 1;
    Guarded(run, "PrfData_Open", [&] { opened = PrfData_Open(nullptr); });
    OOM_EXPECT(run, opened == 0);
    PrfData_Open(nullptr);
    std::vector<unsigned char> buffer(1000, 0xA5);
    void* data = buffer.data();
    uint32_t size = 1000;
    uint32_t objects = 9;
    uint32_t collected = 1;
    Guarded(run, "PrfData_Collect",
            [&] { collected = PrfData_Collect(const_cast<char16_t*>(u"2 4 6 8"), &data, &size, &objects); });
    OOM_EXPECT(run, collected == 0);
    OOM_EXPECT(run, (size == 0 && objects == 0 && data == buffer.data()) ||
                        (size == 792 && objects == 1 && data == buffer.data() + 792));
    OOM_EXPECT(run, buffer[792] == 0xA5);
    int removed = -1;
    Guarded(run, "DeregisterStatistics", [&] { removed = DeregisterStatistics(); });
    OOM_EXPECT(run, removed == 0);
  });
  shm_unlink(shm.c_str());
}

}  // namespace

// The out-of-memory sweep: a row {name, setup, calls, holds[, persistent]} runs on a fresh World
// in a child process (lxtest::AllocSweep) for every n, each call with its n-th allocation failing
// (persistent: every one from the n-th on; Call(fn, false): none). holds checks by HOLDS that each
// call returned its code or called the handler, kept its data, and succeeded without a failure.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "../fuzz/tree_elements.h"
#include "lxarrays.h"
#include "lxcontainers.h"
#include "lxmemfile.h"
#include "lxmessages.h"
#include "lxplatform.h"
#include "lxstatistics.h"
#include "lxtest.h"

namespace {

std::string Pattern(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
  return s;
}
std::string Contents(const MemFile& f) { return {f.GetBuffer() ? f.GetBuffer() : "", size_t(f.GetSize())}; }

template <typename List>
std::vector<std::string> Elements(const List& list) {
  std::vector<std::string> out;
  for (uint32_t i = 0; i < list.GetCount(); ++i) {
    out.emplace_back(list.GetElementSize(), '\0');
    list.Get(i, &out.back()[0]);
  }
  return out;
}
template <typename List>
std::vector<std::string> Fill(List& list, int n, char seed) {
  for (int i = 0; i < n; ++i)
    list.Insert(list.GetCount(), Pattern(list.GetElementSize(), char(seed + i)).data());
  return Elements(list);
}
bool Sorted(const std::vector<std::string>& e) {
  return std::is_sorted(e.begin(), e.end(), [](auto& a, auto& b) { return a[0] < b[0]; });
}

int CompareFirst(const LxVArray*, const void* key, const void* element) {
  return *static_cast<const unsigned char*>(key) - *static_cast<const unsigned char*>(element);
}
std::vector<int32_t> Keys(LxRBTree& tree) {
  std::vector<int32_t> keys;
  LxRBTreeIterator it(&tree, nullptr);
  for (int status = 0; it.Next() == 0;)
    keys.push_back(static_cast<const lxtree::Elem*>(it.GetElement(status, nullptr))->key);
  return keys;
}

// The registry store is one file for all runs: each starts from the same values.
const char* const kKept[] = {"Oom", "Kept", nullptr};
const char* const kTarget[] = {"Oom", "Target", nullptr};
std::string Entry(const char* const* path) {
  char buffer[64];
  int32_t size = sizeof buffer;
  return LxGetRegistryEntry(path, buffer, size) != 0 ? "<none>" : std::string(buffer, size_t(size));
}
int SetEntry(const char* const* path, const char* v, int32_t n = 1) { return LxSetRegistryEntry(path, v, n); }

int g_depth = 0, g_maxDepth = 0;
char* volatile g_escape = nullptr;
int32_t ReportingHandler(uint32_t size) {
  g_maxDepth = std::max(g_maxDepth, ++g_depth);
  LxSystemLog()->Printf(10, "out of memory (%u)", size);
  LxMessage()->Printf(nullptr, 0, "out of memory (%u)", size);
  --g_depth;
  return 0;
}

// What the operations work on. Files: f, h and e hold `old`, g holds `more`.
struct World {
  MemFile f, g, h, e;
  std::optional<MemFile> copy;
  std::string old = Pattern(40, 'p'), more = Pattern(3000, 'q');
  MemQueue queue{1};
  int r = 0;
  LxCList list{6, 0, &r}, other{6, 0, &r};
  std::optional<LxCList> made;
  LxLList llist{5, 0, &r}, small{4, 0, &r}, target{4, 0, &r};
  std::unique_ptr<LxLList> moved;
  SortList sorted{3, CompareFirst, 0};
  std::optional<_LxBitString> bits;
  std::optional<LxRawBuffer> raw, second;
  lxtree::Tree tree{0, 4};
  std::unique_ptr<LxVIterator> it, clone;
  LxEntryCache cache{24, 3, 8};
  LxMemPool pool{16};
  std::vector<void*> got;
  std::vector<std::string> before, kept;
  std::vector<int32_t> keys;
  std::optional<LxSysLog> log;
  uint32_t capacity = 0, gCapacity = 0, stamp = 0, size = 1000, objects = 9;
  int32_t results[2] = {};
  char buffer[1000];
  void *data = buffer, *block = nullptr, *fresh = nullptr;
  std::string shm = "/lxbtest-oom-" + std::to_string(getpid());

  World() {
    for (MemFile* file : {&f, &h, &e}) file->Put(old.data(), 0, 40);
    g.Put(more.data(), 0, 3000);
    std::memset(buffer, 0xA5, sizeof buffer);
    got.reserve(400), keys.reserve(40);  // no allocation of the test's own while a failure is armed
    tree.SetKeyFunc(LxVContainer::DefaultKey), tree.SetDataFunc(LxVContainer::DefaultData);  // a plain tree's
    for (int32_t k = 0; k < 90; k += 10) tree.Insert(k, 0);
    stamp = tree.GetStamp();
  }
};

struct Check {
  int hits = 0;  // calls that met their failure
  int32_t handlerCalls = 0;
  uint32_t handlerSize = 0;
  std::vector<int32_t> handlerAt;  // handler calls after each call
  std::string wrong;
  void Expect(bool ok, int line, const char* what) {
    if (!ok && wrong.empty()) wrong = "line " + std::to_string(line) + ": " + what;
  }
};
#define HOLDS(condition) c.Expect(condition, __LINE__, #condition)

struct Call {  // unarmed, it brings the World to where the next call expects it

  template <typename F>
  Call(F fn, bool armed = true) : fn(fn), armed(armed) {}
  std::function<long(World&)> fn;
  bool armed;
};

using Results = std::vector<long>;
struct Operation {
  const char* name;
  std::function<void(World&)> setup;
  std::vector<Call> calls;
  std::function<void(Check&, World&, const Results&)> holds;
  bool persistent = false;
};
void PrintTo(const Operation& op, std::ostream* out) { *out << op.name; }

const Operation kOperations[] = {
    {"Resize",
     [](World& w) { mmResize(&w.block, 40), std::memcpy(w.block, w.old.data(), 40); },
     {[](World& w) { return mmResize(&w.block, 1 << 20); },
      [](World& w) { return mmFarResize(&w.fresh, 64); }},
     [](Check& c, World& w, const Results& r) {
       HOLDS((r[0] != 0) + (r[1] != 0) == c.hits && c.handlerCalls == c.hits);
       HOLDS(std::memcmp(w.block, w.old.data(), 40) == 0 && (r[0] == 0 || r[0] == LX_RESIZE_FAILED));
       HOLDS(r[1] == 0 ? w.fresh != nullptr : r[1] == LX_RESIZE_FAILED && !w.fresh && c.handlerSize == 64);
       HOLDS(r[0] == 0 || r[1] != 0 || c.handlerSize == 1u << 20);
     }},
    {"MemFileSizeSet",
     [](World& w) { w.f.Seek(7, 0), w.capacity = w.f.GetCapacity(), w.gCapacity = w.g.GetCapacity(); },
     {[](World& w) { return w.f.SizeSet(100000); }, [](World& w) { return w.g.SizeSet(20); },
      [](World& w) { return w.e = w.g, 0; }},
     [](Check& c, World& w, const Results& r) {
       // A failed reduction keeps the larger block and takes the size (an assignment copies into it).
       HOLDS(w.f.GetPosition() == 7 && Contents(w.g) == w.more.substr(0, 20) &&
             Contents(w.e) == Contents(w.g));
       HOLDS(r[0] == 0 ? w.f.GetSize() == 100000 && Contents(w.f).substr(0, 40) == w.old
                       : r[0] == LX_MEMFILE_NO_MEMORY && Contents(w.f) == w.old &&
                             w.f.GetCapacity() == w.capacity && c.handlerCalls >= 1 && c.handlerSize >= 20);
       HOLDS(r[1] == 0 ? w.g.GetCapacity() < w.gCapacity
                       : r[1] == LX_MEMFILE_NO_MEMORY && w.g.GetCapacity() == w.gCapacity);
       HOLDS(c.hits || (r[0] == 0 && r[1] == 0));
     }},
    {"MemFilePutsAndCopies",
     [](World& w) { w.f.Seek(40, 0), w.h.Seek(40, 0), w.g.Seek(33, 0); },
     {[](World& w) { return w.f.Put(w.more.data(), 40, 3000); },
      [](World& w) { return w.h.Put(&w.g, 0u, 0u); }, [](World& w) { return w.copy.emplace(w.g), 0; },
      [](World& w) { return w.e = w.g, 0; }},
     [](Check& c, World& w, const Results& r) {
       // A put that cannot grow the file writes nothing.
       HOLDS(r[0] == 3000 ? Contents(w.f) == w.old + w.more
                          : r[0] == 0 && Contents(w.f) == w.old && c.handlerAt[0] >= 1);
       HOLDS(r[1] == 3000 ? Contents(w.h) == w.old + w.more : r[1] == 0 && Contents(w.h) == w.old);
       HOLDS(c.hits || r[0] + r[1] == 6000);
       HOLDS(Contents(w.g) == w.more && w.g.GetPosition() == 33);
       HOLDS(Contents(*w.copy) == w.more || (c.hits && w.copy->GetSize() == 0));
       HOLDS(Contents(w.e) == w.more || (c.hits && Contents(w.e) == w.old));
     }},
    {"MemFileCopyAndWrite",
     [](World& w) { w.g.Seek(3000, 0); },
     {[](World& w) { return w.f.Copy(4000, 0, 40); },
      [](World& w) {
        int result = 0;
        for (int i = 0; i < 4 && result == 0; ++i)
          if (w.g.Write(0x01020304u, result) != 4) return 1;
        return result;
      }},
     [](Check& c, World& w, const Results& r) {
       HOLDS(r[0] == 40 ? w.f.GetSize() == 4040 : r[0] == 0 && Contents(w.f) == w.old);
       HOLDS(r[1] == 0 ? w.g.GetSize() == 3016 : r[1] == LX_MEMFILE_NO_MEMORY);
       HOLDS(w.g.GetPosition() == w.g.GetSize() && Contents(w.g).substr(0, 3000) == w.more);
       HOLDS(c.hits || r[0] == 40);
     }},
    {"MemQueuePutAndCompactingGet",
     [](World& w) { w.queue.Put(w.more.data(), 300); },
     {[](World& w) { return w.queue.Put(w.more.data() + 300, 2000); },
      [](World& w) { return w.queue.Get(w.buffer, 250); }},
     [](Check& c, World& w, const Results& r) {
       // A compacting Get delivers its bytes even when the block could not be reduced.
       const std::string all = w.more.substr(0, r[0] == 0 ? 2300 : 300);
       HOLDS(std::string(w.buffer, 250) == all.substr(0, 250) &&
             w.queue.GetSize() == int32_t(all.size() - 250));
       HOLDS(w.queue.GetReadOffset() == 0 &&
             std::memcmp(w.queue.GetBuffer(), &all[250], all.size() - 250) == 0);
       HOLDS(r[0] == 0 || (c.hits && r[0] == LX_MEMQUEUE_NO_MEMORY));
       HOLDS(r[1] == 0 || (c.hits && r[1] == LX_MEMQUEUE_NOT_REDUCED));
     }},
    {"CListGrowthCopyAndConstruction",
     [](World& w) { w.before = Fill(w.list, 16, 'a'), w.kept = Fill(w.other, 3, 'x'); },
     {[](World& w) { return w.list.Insert(3, "zzzzzz"); }, [](World& w) { return w.other.Copy(&w.list); },
      [](World& w) { return w.list.SizeSet(1000); },
      [](World& w) { return w.made.emplace(8, 100, &(w.r = 1)), w.r; }},
     [](Check& c, World& w, const Results& r) {
       HOLDS(r[0] == 0 ? w.list.GetCount() == 17
                       : r[0] == LX_ARRAY_NO_STORAGE && c.handlerCalls >= 1 && w.list.GetCount() == 16);
       HOLDS(r[1] == 0 ? Elements(w.other) == (r[0] == 0 ? Elements(w.list) : w.before)
                       : r[1] == LX_ARRAY_NO_STORAGE && Elements(w.other) == w.kept);
       HOLDS(r[2] == 0 ? w.list.GetCurMaxCount() == 1000 : r[2] == LX_ARRAY_NO_STORAGE);
       HOLDS(r[0] != 0 || Elements(w.list).at(3) == "zzzzzz");
       HOLDS(c.hits || (r[0] == 0 && r[1] == 0 && r[2] == 0 && r[3] == 0));
       HOLDS(r[3] == 0 ? w.made->GetCurMaxCount() == 100
                       : c.hits && r[3] == LX_ARRAY_NO_STORAGE && w.made->GetCurMaxCount() == 0);
       // A list made without its first block works once memory is back.
       HOLDS(w.made->Insert(0, "12345678") == 0 && w.made->GetCount() == 1);
     }},
    // Appends (the fast path), insertions and a SizeSet: a failure leaves the list as it was,
    // giving slots back needs no memory, and the list grows again once memory is back.
    {"LListGrowth",
     [](World& w) { w.before = Fill(w.llist, 30, 'c'); },
     {[](World& w) {
        int r = 0;
        for (int i = 0; i < 40 && r == 0; ++i) r = w.llist.Insert(i % 2 ? w.llist.GetCount() : 15, "vwxyz");
        return r;
      },
      [](World& w) { return w.capacity = w.llist.GetCurMaxCount(), w.llist.SizeSet(w.capacity * 40); }},
     [](Check& c, World& w, const Results& r) {
       for (uint32_t i = 0; i < w.llist.GetCount() - 30; ++i)
         w.before.insert(i % 2 ? w.before.end() : w.before.begin() + 15, "vwxyz");
       HOLDS(Elements(w.llist) == w.before);
       HOLDS(r[0] == 0 ? w.llist.GetCount() == 70 : c.hits && r[0] == LX_ARRAY_NO_STORAGE && c.handlerCalls);
       HOLDS(r[1] == 0 ? w.llist.GetCurMaxCount() == w.capacity * 40
                       : r[1] == LX_MEMFILE_NO_MEMORY && w.llist.GetCurMaxCount() == w.capacity);
       const uint32_t n = w.llist.GetCount();
       for (uint32_t i = 1; i <= 10; ++i) w.llist.Delete(n - i, 1);
       HOLDS(r[1] == 0 || w.llist.GetCurMaxCount() == n - 10);
       HOLDS(w.llist.Insert(n - 10, "abcde") == 0 && Elements(w.llist).back() == "abcde");
     }},
    {"LListImportAndMove",
     [](World& w) { w.before = Fill(w.llist, 30, 'c'); },
     {[](World& w) { return w.llist.Import(200, &w.g); },
      [](World& w) {
        return w.capacity = w.llist.GetCurMaxCount(), w.moved.reset(w.llist.CreateCopyAndClear()), 0;
      }},
     [](Check& c, World& w, const Results& r) {
       for (int i = 0; i < 200 && r[0] == 0; ++i) w.before.push_back(w.more.substr(5 * i, 5));
       HOLDS(r[0] == 0 || (c.hits && r[0] == LX_ARRAY_NO_STORAGE && w.capacity == 30));
       HOLDS(w.moved
                 ? Elements(*w.moved) == w.before && w.llist.GetCount() == 0 && w.llist.GetCurMaxCount() == 0
                 : c.hits && Elements(w.llist) == w.before);
     }},
    {"LListCopyUnderExhaustedHeap",
     [](World& w) { w.before = Fill(w.small, 500, 'm'), Fill(w.target, 2, 'n'); },
     {[](World& w) { return w.target.Copy(&w.small); }},
     [](Check& c, World& w, const Results& r) {
       HOLDS(Elements(w.small) == w.before && (r[0] == 0 || r[0] == LX_ARRAY_NO_STORAGE));
       // Whatever the copy reports, the list's elements lie inside its file.
       HOLDS(uint32_t(w.target.GetMemoryFile()->GetSize()) >= w.target.GetCount() * 4);
       HOLDS(c.hits || Elements(w.target) == w.before);
     },
     true},
    {"SortListSortAndSortedInsert",
     [](World& w) {
       for (const char* v : {"q11", "b22", "x33", "a44", "m55", "b66"})
         w.sorted.Insert(w.sorted.GetCount(), v);
       w.before = Elements(w.sorted);
     },
     {[](World& w) { return w.sorted.Sort(0); },
      Call([](World& w) { return w.kept = Elements(w.sorted), w.sorted.Sort(0); }, false),
      [](World& w) {
        uint32_t position = 99;
        int r = 0;
        for (int i = 0; i < 20 && r == 0; ++i) r = w.sorted.SortedInsert("c00", &position, 1, 1);
        return r;
      }},
     [](Check& c, World& w, const Results& r) {
       // The sort reports by its result, not through the memory handler.
       HOLDS(r[0] == 0 ? Sorted(w.kept) : c.hits && r[0] == LX_CORE_OUT_OF_MEMORY && w.kept == w.before);
       HOLDS(c.handlerAt[0] == 0 && Sorted(Elements(w.sorted)));
       HOLDS(r[2] == 0 ? w.sorted.GetCount() == 26 : c.hits && r[2] == LX_ARRAY_NO_STORAGE);
     }},
    {"BitStringAndRawBuffer",
     nullptr,
     {[](World& w) { return w.bits.emplace(1000), 0; },
      [](World& w) { return w.raw.emplace(w.old.data(), 40, LxRawBufferCopy), w.second.emplace(*w.raw), 0; },
      [](World& w) { return w.second->EnsureCapacity(4096); }},
     [](Check& c, World& w, const Results& r) {
       int value = 7;
       HOLDS(w.bits->Length() == 0
                 ? w.bits->Set(0) == LX_BITSTRING_OUT_OF_RANGE &&
                       w.bits->Get(0, value) == LX_BITSTRING_OUT_OF_RANGE
                 : w.bits->Length() == 1000 && w.bits->Set(999) == 0 && w.bits->GetNum() == 1);
       HOLDS(w.raw->GetBufLen() == 0 ? w.raw->GetBuf() == nullptr
                                     : std::memcmp(w.raw->GetBuf(), w.old.data(), 40) == 0);
       HOLDS(r[2] == 0 ? w.second->GetBufLen() == 4096
                       : r[2] == LX_CORE_OUT_OF_MEMORY && w.second->GetBufLen() == 0 && !w.second->GetBuf());
       HOLDS(c.handlerCalls == 0 && (c.hits || (w.bits->Length() == 1000 && w.raw->GetBufLen() == 40)));
     }},
    {"EntryCacheAndNodePool",
     [](World& w) {
       w.got.assign({w.cache.GetEntry(), w.cache.GetEntry(), w.cache.GetEntry()});
       w.pool.PutNode(w.pool.GetNode());
     },
     {[](World& w) {
        int i = 0;
        for (void* e; i < 10 && (e = w.cache.GetEntry()) != nullptr; ++i) std::memset(e, 0x42, 24);
        return i < 10;
      },
      [](World& w) {
        while (w.got.size() < 300 && (w.got.push_back(w.pool.GetNode()), w.got.back() != nullptr)) {
        }
        return w.got.back() == nullptr;
      }},
     [](Check& c, World& w, const Results& r) {
       void* again = w.cache.GetEntry();
       HOLDS(c.hits == r[0] + r[1] && again != nullptr && w.pool.GetNode() != nullptr);
       for (int i = 0; i < 3; ++i) HOLDS(w.got[i] != nullptr && w.got[i] != again);
       // The nodes handed out are distinct and the pool works once memory is back.
       std::sort(w.got.begin() + 3, w.got.end() - r[1]);
       HOLDS(std::adjacent_find(w.got.begin() + 3, w.got.end() - r[1]) == w.got.end() - r[1]);
     }},
    {"TreeInsertAndIterators",
     nullptr,
     {[](World& w) {
        int r = 0;
        for (int32_t key = 5; key < 125 && (r = w.tree.Insert(key, 0)) == 0; key += 10) w.keys.push_back(key);
        return r;
      },
      [](World& w) {
        w.it.reset(w.tree.CreateIterator(nullptr));
        return w.it ? w.clone.reset(w.it->Clone(nullptr)), 0 : 0;
      }},
     [](Check& c, World& w, const Results& r) {
       for (int32_t k = 0; k < 90; k += 10) w.keys.push_back(k);
       std::sort(w.keys.begin(), w.keys.end());
       HOLDS(r[0] == 0 ? w.keys.size() == 21 : c.hits && r[0] == LX_CONTAINER_OUT_OF_MEMORY);
       HOLDS(w.tree.CheckTree(nullptr) == 0 && Keys(w.tree) == w.keys &&
             w.tree.GetStamp() == w.stamp + w.keys.size() - 9);
       // A failed iterator of the library's own reaches the handler with its size.
       HOLDS(w.clone ? c.handlerCalls == c.handlerAt[0] : c.handlerSize == sizeof(LxRBTreeIterator));
       HOLDS(c.hits || w.clone);
       HOLDS(!w.it || w.it->Next() == 0);
     }},
    {"RegistryEntries",
     [](World&) { SetEntry(kKept, "kept"), SetEntry(kTarget, "old"); },
     {[](World&) { return SetEntry(kTarget, "new value"); },
      [](World& w) {
        int32_t size = 64;
        w.results[0] = LxGetRegistryEntry(kKept, w.buffer, size);
        w.results[1] = size;
        return LxDeleteRegistryEntry(kTarget);
      }},
     [](Check& c, World& w, const Results& r) {
       // A set deletes first, so a failed one may leave the entry deleted.
       HOLDS(r[0] == 0 || (c.hits && r[0] == LX_REGISTRY_FAILED));
       HOLDS(w.results[0] == 0 ? std::string(w.buffer, w.results[1]) == "kept"
                               : c.hits && w.results[0] == LX_REGISTRY_FAILED);
       HOLDS(r[1] == 0 ? Entry(kTarget) == "<none>" : c.hits && r[1] == LX_REGISTRY_FAILED);
       // After a failed call the store takes writes again (no transaction left open).
       HOLDS(Entry(kKept) == "kept" && SetEntry(kTarget, "after") == 0 && Entry(kTarget) == "after");
     }},
    {"StatisticsEntryPoints",
     [](World& w) {
       setenv("ORVANTA_SHM_NAME", w.shm.c_str(), 1);
       setenv("ORVANTA_LOCK_DIR", lxtest::StateDir().c_str(), 1);
     },
     {[](World&) { return RegisterStatistics(); },
      Call([](World&) { return RegisterStatistics(); }, false),  // completes a half-done installation
      [](World&) { return PrfData_Open(nullptr); }, Call([](World&) { return PrfData_Open(nullptr); }, false),
      [](World& w) {
        return PrfData_Collect(const_cast<char16_t*>(u"2 4 6 8"), &w.data, &w.size, &w.objects);
      },
      [](World&) { return DeregisterStatistics(); }},
     [](Check& c, World& w, const Results& r) {
       shm_unlink(w.shm.c_str());
       HOLDS(r == Results(6, 0) && uint8_t(w.buffer[792]) == 0xA5);
       HOLDS(w.size == 0 ? w.objects == 0 && w.data == w.buffer
                         : w.size == 792 && w.objects == 1 && w.data == w.buffer + 792);
     }},
    {"SystemLogEntry",
     [](World& w) {
       // A store of the run's own, so that every run meets every allocation of the registration.
       setenv("ORVANTA_REGISTRY", (lxtest::StateDir() + w.shm + ".db").c_str(), 1);
       w.log.emplace();
     },
     {[](World& w) { return w.log->Open("Out Of Memory Source"), 0; },
      [](World& w) { return w.log->Printf(4, "entry under test"); }},
     [](Check& c, World&, const Results& r) {
       // Registration, opening and writing report a failure instead of throwing.
       HOLDS(r[1] == 1 || (c.hits && (r[1] == 0 || r[1] == ENOMEM)));
       HOLDS(LxSysLog().Printf(2, "later") == 1);
       unlink(std::getenv("ORVANTA_REGISTRY"));
     }},
    // A handler that reports through the system log and the message box, as the library's
    // own does, meets failures inside them: it must neither recurse without end nor wait for itself.
    {"ReportingHandlerWithoutMemory",
     [](World& w) { w.log.emplace(), alarm(60); },
     {[](World& w) { return mmLxSetHandler(ReportingHandler), w.log->Open("Opened without memory"), 0; },
      [](World&) {
        try {
          return g_escape = new char[1 << 20], 1;
        } catch (const std::bad_alloc&) {
          return 0;
        }
      }},
     [](Check& c, World&, const Results& r) { HOLDS(r[1] == 1 || g_maxDepth >= 2); },
     true},
};

int32_t g_handlerCalls = 0;
uint32_t g_handlerSize = 0;
int32_t RecordingHandler(uint32_t size) { return ++g_handlerCalls, g_handlerSize = size, 0; }

class OutOfMemory : public testing::TestWithParam<Operation> {};

TEST_P(OutOfMemory, Sweep) {
  if (!lxtest::AllocFaultsAvailable()) GTEST_SKIP() << "AddressSanitizer owns the allocator";
  const Operation& op = GetParam();
  long runs = 0;
  const std::string wrong = lxtest::AllocSweep(
      [&op](long n) {
        World w;
        if (op.setup) op.setup(w);
        mmLxSetHandler(RecordingHandler);
        Check c;
        Results r;
        r.reserve(op.calls.size());
        for (const Call& call : op.calls) {
          if (call.armed) lxtest::ArmAllocFailure(n, op.persistent);
          const long result = call.fn(w);
          if (call.armed) c.hits += lxtest::DisarmAllocFailure();
          r.push_back(result);
          c.handlerAt.push_back(g_handlerCalls);
        }
        c.handlerCalls = g_handlerCalls;
        c.handlerSize = g_handlerSize;
        op.holds(c, w, r);
        return c.wrong;
      },
      4000, &runs);
  EXPECT_EQ("", wrong);
  EXPECT_GT(runs, 1) << "the operation allocated nothing";
}

INSTANTIATE_TEST_SUITE_P(Operations, OutOfMemory, testing::ValuesIn(kOperations),
                         [](const testing::TestParamInfo<Operation>& info) { return info.param.name; });

}  // namespace

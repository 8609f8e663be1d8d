// The tree of the tree tests and the tree fuzz target: elements (key, data, serial)
// ordered by key and data, the serial telling identical entries apart, and callbacks
// that count their calls and fail with Failure(themselves) at their fail point.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "lxcontainers.h"

namespace lxtree {

struct Elem {
  int32_t key, data, serial;
  bool operator==(const Elem& o) const { return key == o.key && data == o.data && serial == o.serial; }
};

inline int Sign(int32_t a, int32_t b) { return (a > b) - (a < b); }
// Orders a pair against an element: by key, then by data unless `data` is null.
inline int Order(int32_t key, const int32_t* data, const Elem& e) {
  return key != e.key || data == nullptr ? Sign(key, e.key) : Sign(*data, e.data);
}
inline int Order(const Elem& a, const Elem& b) { return Order(a.key, &a.data, b); }

enum Callback { kCopy, kKey, kData, kCompare, kCallbacks };
constexpr int Failure(Callback c) { return -770 - c; }

struct Calls {
  int count[kCallbacks] = {}, failAt[kCallbacks] = {};
  int live = 0;  // built and not yet destroyed
  int32_t nextSerial = 1;
  void* lastBuilt = nullptr;
  bool Fails(Callback c) { return ++count[c] == failAt[c]; }
  // The n-th call from now fails (n = 0: none).
  void FailIn(Callback c, int n) { failAt[c] = n > 0 ? count[c] + n : 0; }
  void Disarm() { std::fill(failAt, failAt + kCallbacks, 0); }
};
inline Calls g;

inline int Copy(LxVContainer*, void* element, const LxVIterator*, const void* key, const void* data,
                LxVParameter*) {
  g.lastBuilt = element;
  if (g.Fails(kCopy)) return Failure(kCopy);
  const int32_t* d = static_cast<const int32_t*>(data);
  *static_cast<Elem*>(element) = Elem{*static_cast<const int32_t*>(key), d ? *d : 0, g.nextSerial++};
  return ++g.live, 0;
}

inline void Destroy(LxVContainer*, void* element) {
  if (static_cast<Elem*>(element)->serial == 0) std::abort();  // destroyed twice
  static_cast<Elem*>(element)->serial = 0, --g.live;
}

inline int Compare(LxVContainer*, int* keyOrder, int* entryOrder, const LxVIterator*, const void* key,
                   const void* data, const void* element, LxVParameter*) {
  if (g.Fails(kCompare)) return Failure(kCompare);
  const Elem& e = *static_cast<const Elem*>(element);
  *keyOrder = Sign(*static_cast<const int32_t*>(key), e.key);
  *entryOrder = Order(*static_cast<const int32_t*>(key), static_cast<const int32_t*>(data), e);
  return 0;
}

template <Callback kView>
const void* View(LxVContainer*, const void* element, int* status, LxVParameter*) {
  const Elem* e = static_cast<const Elem*>(element);
  *status = g.Fails(kView) ? Failure(kView) : 0;
  return *status ? nullptr : kView == kKey ? &e->key : &e->data;
}

constexpr int32_t kKeyOnly = -1;  // a source without a data part: it matches every entry with its key

// A key, with data unless kKeyOnly, wrapped as the source of a tree operation.
struct Source {
  Source(int32_t k, int32_t d) : key(k), data(d), one(&key, d == kKeyOnly ? nullptr : &data, 0) {}
  int32_t key, data;
  LxOneEntryContainer one;
  LxOneEntryIterator it{&one, nullptr};
};

// A tree of Elem with the callbacks above; a new tree starts the counts afresh. It
// opens its fields to the self-check's tampering.
struct Tree : LxRBTree {
  explicit Tree(unsigned short flags = 0, uint32_t perBlock = 0) : LxRBTree(sizeof(Elem), flags, perBlock) {
    SetCopyFunc(Copy), SetDestroyFunc(Destroy), SetCompareFunc(Compare);
    SetKeyFunc(View<kKey>), SetDataFunc(View<kData>);
    g = Calls();
  }
  int Insert(int32_t key, int32_t data, unsigned short mode = 0) {
    Source s(key, data);
    return InsertElement(&s.it, nullptr, mode, nullptr);
  }
  // A node from the cache, not linked, holding (key, 0) with serial -1.
  LxRBTreeNode* Loose(int32_t key) {
    int s = 0;
    auto* n = static_cast<LxRBTreeNode*>(CreateEntry(s));
    *static_cast<Elem*>(n->Element()) = Elem{key, 0, -1};
    return n;
  }
  using LxRBTree::count;
  using LxRBTree::root;
};

}  // namespace lxtree

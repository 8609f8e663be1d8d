// The tree's container-level operations (search, insert and delete with a
// source iterator) and LxRBTreeIterator, which walks the tree in order and
// deletes at its position.

#include <cstring>
#include <new>
#include <typeinfo>

#include "containers/rbtree_walk.h"
#include "frame/resize.h"
#include "lxcontainers.h"

namespace {

// The key and data views of the entry `e` of `c`, as GetEntryParts reads them.
inline int ReadViews(LxVContainer* c, const void* e, const void** key, const void** data,
                     LxVParameter* sourceParam) {
  if (c->GetKeyFunc() == nullptr) return LX_CONTAINER_NOT_IMPLEMENTED;
  int status = 0;
  *key = c->GetKeyFunc()(c, e, &status, sourceParam);
  if (status < 0) return status;
  if (c->GetDataFunc() == nullptr) return LX_CONTAINER_NOT_IMPLEMENTED;
  *data = c->GetDataFunc()(c, e, &status, sourceParam);
  return status;
}

// Reads the key and data at which `source` stands. Returns 0 (data null when the
// entry has none), or the source's status or a view's error.
inline int ReadSource(const LxVIterator* source, LxVParameter* sourceParam, const void** key,
                      const void** data) {
  *key = *data = nullptr;
  if (source == nullptr) return LX_CONTAINER_UNBOUND;
  int status = 0;
  LxVContainer* c = source->GetContainer();
  if (typeid(*source) == typeid(LxOneEntryIterator) && c != nullptr &&
      typeid(*c) == typeid(LxOneEntryContainer)) {
    // The usual source. For exactly these classes GetEntry yields the
    // container's key while the iterator stands on it, and GetEntryParts reads
    // the views of that entry, which is its own element: the same without
    // three virtual calls.
    status = source->GetStatus();
    if (status < 0) return status;
    const void* entry = static_cast<const LxOneEntryContainer*>(c)->GetKey();
    status = entry != nullptr ? ReadViews(c, entry, key, data, sourceParam) : 0;
  } else {
    const void* entry = source->GetEntry(status, sourceParam);
    if (status < 0) return status;
    status = source->GetEntryParts(entry, nullptr, key, data, nullptr, sourceParam);
  }
  if (status == LX_CONTAINER_NO_DATA) return 0;
  return status;
}

}  // namespace

// ---------------------------------------------------------------------------
// Element operations of the tree
// ---------------------------------------------------------------------------

int LxRBTree::SearchElement(const LxVIterator* source, LxVParameter* sourceParam, unsigned short mode,
                            LxVParameter* param, LxVIterator* result) {
  const void* key;
  const void* data;
  int status = ReadSource(source, sourceParam, &key, &data);
  if (status < 0) return status;
  if (result == nullptr) {
    if (mode & (LX_MODE_GREATEST_BEFORE | LX_MODE_LEAST_AFTER | LX_MODE_STEP_PAST)) {
      LxRBTreePath path;
      Locate(source, key, data, status, mode, param, &path, nullptr);
    } else {
      Locate(source, key, data, status, mode, param, nullptr, nullptr);
    }
    return status;
  }
  if (result->GetContainer() != this ||
      (typeid(*result) != typeid(LxRBTreeIterator) && result->GetType() != 1)) {
    return LX_CONTAINER_INTERNAL;
  }
  LxRBTreeIterator* it = static_cast<LxRBTreeIterator*>(result);
  if (Locate(source, key, data, status, mode, param, &it->path, nullptr) != nullptr) {
    it->status = 0;
  } else if (mode & LX_MODE_GREATEST_BEFORE) {
    it->status = LX_CONTAINER_BEFORE_FIRST;
  } else if (mode & (LX_MODE_LEAST_AFTER | LX_MODE_STEP_PAST)) {
    it->status = LX_CONTAINER_BEHIND_LAST;
  } else {
    it->status = LX_CONTAINER_POSITION_LOST;
  }
  // The path was built on the tree as it is now.
  it->stamp = stamp;
  return status;
}

int LxRBTree::InsertElement(const LxVIterator* source, LxVParameter* sourceParam, unsigned short mode,
                            LxVParameter* param) {
  const void* key;
  const void* data;
  int status = ReadSource(source, sourceParam, &key, &data);
  if (status < 0) return status;
  LxRBTreeNode* node = static_cast<LxRBTreeNode*>(entryCache.GetEntry());
  if (node == nullptr) return LX_CONTAINER_OUT_OF_MEMORY;
  node->left = 1;
  node->right = nullptr;
  if (copyFunc == DefaultCopy) {
    // What the default copy does, without its call.
    if (elementSize > 0 && key != nullptr) std::memcpy(node->Element(), key, elementSize);
    status = 0;
  } else {
    status = copyFunc != nullptr ? copyFunc(this, node->Element(), source, key, data, param)
                                 : LX_CONTAINER_NOT_IMPLEMENTED;
  }
  if (status < 0) {
    // Nothing was built, so there is nothing to destroy.
    entryCache.UngetEntry(node);
    return status;
  }
  return InsertEntry(node, mode, param);
}

int LxRBTree::DeleteElement(const LxVIterator* source, LxVParameter* sourceParam, unsigned short mode,
                            LxVParameter* param) {
  const void* key;
  const void* data;
  int status = ReadSource(source, sourceParam, &key, &data);
  if (status < 0) return status;
  LxRBTreePath path;
  int32_t found;
  mode = (mode & 0xFE9F) | LX_MODE_KEEP_NEIGHBOUR;
  LxRBTreeNode* n = Locate(source, key, data, status, mode, param, &path, &found);
  if (status < 0) return status;
  if (n == nullptr) return LX_CONTAINER_NOT_FOUND;
  Remove(path, found);
  return 0;
}

LxVIterator* LxRBTree::CreateIterator(LxTransactionContext* ctx) {
  return lxframe::NewOrNull<LxRBTreeIterator>(this, ctx);
}

// ---------------------------------------------------------------------------
// Iterator
// ---------------------------------------------------------------------------

LxRBTreeIterator::LxRBTreeIterator(LxRBTree* tree, LxTransactionContext* ctx)
    : LxVIterator(ctx, tree), stamp(tree != nullptr ? tree->stamp : 0) {}

LxRBTreeIterator::~LxRBTreeIterator() = default;

unsigned short LxRBTreeIterator::GetType() const { return 1; }

LxVIterator* LxRBTreeIterator::Clone(LxVIterator* target) const {
  if (target == nullptr) {
    void* memory = lxframe::AllocateOrNull(sizeof(LxRBTreeIterator));
    return memory != nullptr ? new (memory) LxRBTreeIterator(*this) : nullptr;
  }
  if (target->GetContainer() == nullptr || target->GetContainer()->GetType() != 1 || target->GetType() != 1)
    return nullptr;
  *static_cast<LxRBTreeIterator*>(target) = *this;
  return target;
}

int LxRBTreeIterator::First() {
  if (status == LX_CONTAINER_UNBOUND || container == nullptr) return LX_CONTAINER_UNBOUND;
  path.Reset();
  lxcontainers::PushLeftSpine(path, Tree()->root);
  if (path.Current() == nullptr) return status = LX_CONTAINER_BEFORE_FIRST;
  stamp = Tree()->stamp;
  return status = 0;
}

int LxRBTreeIterator::Last() {
  if (status == LX_CONTAINER_UNBOUND || container == nullptr) return LX_CONTAINER_UNBOUND;
  path.Reset();
  lxcontainers::PushRightSpine(path, Tree()->root);
  if (path.Current() == nullptr) return status = LX_CONTAINER_BEHIND_LAST;
  stamp = Tree()->stamp;
  return status = 0;
}

int LxRBTreeIterator::Next() {
  if (status == LX_CONTAINER_BEFORE_FIRST) {
    int r = First();
    if (r == LX_CONTAINER_BEFORE_FIRST) return status = LX_CONTAINER_BEHIND_LAST;
    return r;
  }
  if (status < 0) return status;
  if (stamp != Tree()->stamp) {
    status = LX_CONTAINER_POSITION_LOST;
    return LX_CONTAINER_CHANGED;
  }
  lxcontainers::Successor(path);
  return status = path.Current() != nullptr ? 0 : LX_CONTAINER_BEHIND_LAST;
}

int LxRBTreeIterator::Prior() {
  if (status == LX_CONTAINER_BEHIND_LAST) {
    int r = Last();
    if (r == LX_CONTAINER_BEHIND_LAST) return status = LX_CONTAINER_BEFORE_FIRST;
    return r;
  }
  if (status < 0) return status;
  if (stamp != Tree()->stamp) {
    status = LX_CONTAINER_POSITION_LOST;
    return LX_CONTAINER_CHANGED;
  }
  lxcontainers::Predecessor(path);
  return status = path.Current() != nullptr ? 0 : LX_CONTAINER_BEFORE_FIRST;
}

const void* LxRBTreeIterator::GetEntry(int& s, LxVParameter*) const {
  s = status;
  if (s < 0) return nullptr;
  if (stamp != Tree()->stamp) {
    s = LX_CONTAINER_CHANGED;
    return nullptr;
  }
  return path.Current();
}

int LxRBTreeIterator::DeleteElement(unsigned short mode, LxVParameter* param) {
  if (status < 0) return status;
  LxRBTree* tree = Tree();
  if (stamp != tree->stamp) return LX_CONTAINER_CHANGED;
  LxRBTreeNode* z = path.Current();
  if (z == nullptr) return 0;
  int32_t zSlot = path.GetTop();

  bool backward = (mode & LX_MODE_DELETE_BACKWARD) != 0;
  int moved = backward ? Prior() : Next();
  if (moved < 0 && moved != LX_CONTAINER_BEFORE_FIRST && moved != LX_CONTAINER_BEHIND_LAST) {
    status = moved;
    return moved;
  }
  const LxRBTreeNode* neighbour = moved == 0 ? path.Current() : nullptr;

  // The slots up to z's are still z's ancestors: a step only pops above them or
  // pushes past them. Removal splices out z's predecessor when z has a left child.
  path.SetTop(zSlot);
  lxcontainers::PushRightSpine(path, z->Left());
  tree->Remove(path, zSlot);
  if (moved == 0) stamp = tree->stamp;
  path.Reset();

  if (neighbour == nullptr) return status = moved;
  int s;
  int32_t found;
  tree->MatchEntry(neighbour, s, backward ? LX_MODE_LAST_MATCH : 0, param, path, found);
  if (s == LX_CONTAINER_NOT_FOUND) return LX_CONTAINER_INTERNAL;
  return status = s;
}

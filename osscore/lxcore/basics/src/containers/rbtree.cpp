// Red-black tree storage: node linking, the uniqueness rules, the locate step
// with its mode bits, removal, both rebalancing procedures, clearing and the
// self-check.
//
// Nodes carry no parent link. Every step that must climb works on an explicit
// LxRBTreePath of ancestors, kept in the caller's frame or in an iterator.
#include "containers/rbtree_walk.h"
#include "lxcontainers.h"

using lxcontainers::PushLeftSpine;
using lxcontainers::PushRightSpine;

namespace {

inline LxRBTreeNode* NodeOf(const void* entry) {
  return const_cast<LxRBTreeNode*>(static_cast<const LxRBTreeNode*>(entry));
}

inline bool IsRed(const LxRBTreeNode* n) { return n != nullptr && n->IsRed(); }

// Starts loading both children of a node that a descent visits, while the compare
// callback runs: in a tree larger than the caches every level is a cache miss,
// and this overlaps the next level's miss with the current comparison. A node's
// links and the start of its element may lie in two cache lines (nodes are only
// pointer-aligned), so both are asked for; when they share a line the second
// request costs next to nothing.
// The addresses are computed as integers: a missing child gives a harmless
// prefetch of a low address, which never faults.
inline void PrefetchNode(uintptr_t node) {
  __builtin_prefetch(reinterpret_cast<const void*>(node));
  __builtin_prefetch(reinterpret_cast<const void*>(node + LxRBTreeNode::kHeaderSize));
}

inline void Prefetch(const LxRBTreeNode* n) {
  PrefetchNode(n->left & ~uintptr_t{1});
  PrefetchNode(reinterpret_cast<uintptr_t>(n->right));
}

// Below this many entries a tree stays in the core's own caches, where the
// prefetches would only cost instructions.
constexpr uint32_t kPrefetchFrom = 16384;

// The left child of `n` when `order` is negative, else the right one, chosen
// without a branch: inside the caches a descent's sides are a coin toss for the
// branch predictor, and a mispredicted side costs more than a comparison. Both
// links are loaded while the compare callback runs, so on x86-64 only a test and
// a conditional move stand between its result and the next level (the compiler
// makes a plain selection a branch; masks take two steps more).
inline LxRBTreeNode* ChildBySign(const LxRBTreeNode* n, int order) {
  const uintptr_t left = n->left & ~uintptr_t{1};
#if defined(__x86_64__)
  uintptr_t child = reinterpret_cast<uintptr_t>(n->right);
  __asm__("testl %2, %2\n\tcmovsq %1, %0" : "+r"(child) : "r"(left), "r"(order) : "cc");
  return reinterpret_cast<LxRBTreeNode*>(child);
#else
  const uintptr_t mask = 0 - static_cast<uintptr_t>(order < 0);
  return reinterpret_cast<LxRBTreeNode*>((left & mask) | (reinterpret_cast<uintptr_t>(n->right) & ~mask));
#endif
}

// The neighbour that a miss yields, with the path ending at it (null past either
// end of the tree): the least entry after the sought pair under
// LX_MODE_LEAST_AFTER, the greatest before it under LX_MODE_GREATEST_BEFORE, and
// otherwise none, with the path reset. `entryOrder` is the pair's order against
// the last node of the descent, the path's current node.
LxRBTreeNode* NeighbourOfMiss(LxRBTreePath& path, unsigned short mode, int entryOrder) {
  if (mode & LX_MODE_LEAST_AFTER) {
    if (entryOrder > 0) lxcontainers::ClimbFromRight(path);
  } else if (mode & LX_MODE_GREATEST_BEFORE) {
    if (entryOrder < 0) lxcontainers::ClimbFromLeft(path);
  } else {
    path.Reset();
  }
  return path.Current();
}

}  // namespace

void LxRBTreePath::Successor() { lxcontainers::Successor(*this); }
void LxRBTreePath::Predecessor() { lxcontainers::Predecessor(*this); }
void LxRBTreePath::ClimbFromRight() { lxcontainers::ClimbFromRight(*this); }
void LxRBTreePath::ClimbFromLeft() { lxcontainers::ClimbFromLeft(*this); }

LxRBTree::LxRBTree(uint32_t elementSize, unsigned short flags, uint32_t entriesPerBlock)
    : LxVContainer(elementSize, flags),
      entryCache(elementSize + LxRBTreeNode::kHeaderSize, entriesPerBlock, alignof(void*)) {}

LxRBTree::~LxRBTree() {
  if (destroyFunc != nullptr) DestroyElements(root);
}

unsigned short LxRBTree::GetType() const { return 1; }

const void* LxRBTree::GetElementOfEntry(const void* entry) const {
  return entry != nullptr ? static_cast<const char*>(entry) + LxRBTreeNode::kHeaderSize : nullptr;
}

void* LxRBTree::CreateEntry(int& status) {
  LxRBTreeNode* n = static_cast<LxRBTreeNode*>(entryCache.GetEntry());
  if (n == nullptr) {
    status = LX_CONTAINER_OUT_OF_MEMORY;
    return nullptr;
  }
  n->left = 1;
  n->right = nullptr;
  return n;
}

void LxRBTree::ReleaseNode(LxRBTreeNode* n) {
  if (destroyFunc != nullptr) destroyFunc(this, n->Element());
  entryCache.UngetEntry(n);
}

// Key and data of a node's element; data is null when the element has none.
int LxRBTree::ReadParts(const LxRBTreeNode* n, const void** key, const void** data, LxVParameter* param) {
  if (keyFunc == nullptr || dataFunc == nullptr) return LX_CONTAINER_NOT_IMPLEMENTED;
  if (keyFunc == DefaultKey && dataFunc == DefaultData) {
    // What the default views yield, without their calls.
    *key = n->Element();
    *data = nullptr;
    return 0;
  }
  int s = 0;
  *key = keyFunc(this, n->Element(), &s, param);
  if (s < 0) return s;
  *data = dataFunc(this, n->Element(), &s, param);
  if (s == LX_CONTAINER_NO_DATA) {
    *data = nullptr;
    return 0;
  }
  return s < 0 ? s : 0;
}

void LxRBTree::Hang(LxRBTreeNode* parent, LxRBTreeNode* old, LxRBTreeNode* n) {
  if (parent == nullptr)
    root = n;
  else if (parent->Left() == old)
    parent->SetLeft(n);
  else
    parent->right = n;
}

// ---------------------------------------------------------------------------
// Insertion
// ---------------------------------------------------------------------------

int LxRBTree::InsertEntry(const void* entry, unsigned short mode, LxVParameter* param) {
  LxRBTreeNode* node = NodeOf(entry);
  const void* key;
  const void* data;
  int status = ReadParts(node, &key, &data, param);
  if (status < 0) goto failure;
  if (root == nullptr) {
    node->SetBlack();
    root = greatest = node;
  } else {
    if (compareFunc == nullptr) {
      status = LX_CONTAINER_NOT_IMPLEMENTED;
      goto failure;
    }
    LxRBTreePath path;
    LxRBTreeNode* parent;
    bool toLeft;
    int keyOrder = 0, entryOrder = 0;
    status = compareFunc(this, &keyOrder, &entryOrder, nullptr, key, data, greatest->Element(), nullptr);
    if (status < 0) goto failure;
    status = 0;
    if (entryOrder > 0 || (entryOrder == 0 && !(mode & LX_MODE_INSERT_BEFORE))) {
      // Append shortcut: the new node follows the greatest one.
      status = CheckUnique(keyOrder, entryOrder);
      if (status < 0) goto failure;
      PushRightSpine(path, root);
      parent = greatest;
      toLeft = false;
      greatest = node;
    } else {
      // The path's top stays in a local while the compare callback runs.
      const bool prefetch = count >= kPrefetchFrom;
      LxRBTreeNode* n = root;
      int32_t top = 0;
      int side;  // the side taken below `parent`: negative left, positive right
      do {
        if (prefetch) Prefetch(n);
        path.slot[++top] = n;
        parent = n;
        status = compareFunc(this, &keyOrder, &entryOrder, nullptr, key, data, n->Element(), nullptr);
        if (status < 0) goto failure;
        side = entryOrder;
        if (keyOrder == 0 || entryOrder == 0) {  // else the uniqueness rules have nothing to say
          status = CheckUnique(keyOrder, entryOrder);
          if (status < 0) goto failure;
          if (entryOrder == 0) side = (mode & LX_MODE_INSERT_BEFORE) ? -1 : 1;
        }
        n = ChildBySign(n, side);
      } while (n != nullptr);
      toLeft = side < 0;
      path.top = top;
    }
    if (toLeft)
      parent->SetLeft(node);
    else
      parent->right = node;
    InsertFixup(node, path);
  }
  ++stamp;
  ++count;
  return 0;

failure:
  ReleaseNode(node);
  return status;
}

void LxRBTree::InsertFixup(LxRBTreeNode* x, LxRBTreePath& path) {
  LxRBTreeNode* p = path.Pop();
  while (p != nullptr && p->IsRed()) {
    LxRBTreeNode* g = path.Pop();  // a red node is never the root
    bool pLeft = g->Left() == p;
    LxRBTreeNode* u = pLeft ? g->right : g->Left();
    if (IsRed(u)) {
      p->SetBlack();
      u->SetBlack();
      g->SetRed();
      x = g;
      p = path.Pop();
      continue;
    }
    if (pLeft && p->right == x) {
      p->right = x->Left();
      x->SetLeft(p);
      g->SetLeft(x);
      LxRBTreeNode* t = x;
      x = p;
      p = t;
    } else if (!pLeft && p->Left() == x) {
      p->SetLeft(x->right);
      x->right = p;
      g->right = x;
      LxRBTreeNode* t = x;
      x = p;
      p = t;
    }
    if (pLeft) {
      g->SetLeft(p->right);
      p->right = g;
    } else {
      g->right = p->Left();
      p->SetLeft(g);
    }
    p->SetBlack();
    g->SetRed();
    Hang(path.Pop(), g, p);
    break;
  }
  root->SetBlack();
}

// ---------------------------------------------------------------------------
// Locate
// ---------------------------------------------------------------------------

// Locate after a match at `n`, the path's current node: takes the first match
// (the last under LX_MODE_LAST_MATCH) or steps past the run under
// LX_MODE_STEP_PAST, and leaves the path ending at the result, or under
// LX_MODE_KEEP_NEIGHBOUR at the in-order neighbour that removal needs. Its
// comparisons pass on what Locate's do.
struct LxRBTree::RunSearch {
  LxRBTree& tree;
  const LxVIterator* source;
  const void* key;
  const void* data;
  LxVParameter* param;
  unsigned short mode;
  LxRBTreePath* path;  // may be null
  int& status;

  LxRBTreeNode* Run(LxRBTreeNode* n, int32_t* foundSlot);
  // Whether the entry `named` equals the match `n` as a whole; false with
  // `status` set when a callback fails.
  bool NamedMatches(const LxRBTreeNode* named, const LxRBTreeNode* n);
  // Walks down from the match `n` towards the wanted end of the run of matches:
  // after a node that matched, left when the first is wanted and right
  // otherwise; after one that did not, the other way. Pushes every node visited;
  // `found` follows the best match, which it returns. Nodes are compared only
  // while duplicateKeys is set; without it the walk just extends the path to
  // n's neighbour. A failing comparison ends the walk with `status` set.
  LxRBTreeNode* Walk(LxRBTreeNode* n, bool firstWanted, int32_t& found);
};

inline LxRBTreeNode* LxRBTree::RunSearch::Run(LxRBTreeNode* n, int32_t* foundSlot) {
  int32_t found = path != nullptr ? path->GetTop() : -1;
  const LxRBTreeNode* named = nullptr;
  if (path != nullptr && (mode & LX_MODE_STEP_PAST) && param != nullptr) {
    named = static_cast<const LxRBTreeNode*>(param->entry);
  }
  bool stepPast = named == n;
  LxRBTreeNode* best = n;
  if (tree.duplicateKeys || (mode & LX_MODE_KEEP_NEIGHBOUR)) {
    if (named != nullptr && !stepPast) stepPast = NamedMatches(named, n);
    if (status >= 0) best = Walk(n, !stepPast && !(mode & LX_MODE_LAST_MATCH), found);
  }
  if (path != nullptr) {
    if (status < 0) {
      // A callback failed: the result is the best match so far, with no step past
      // the run.
      path->SetTop(found);
    } else if (stepPast) {
      if (path->GetTop() == found) lxcontainers::Successor(*path);
      best = path->Current();
      found = path->GetTop();
    } else if (!(mode & LX_MODE_KEEP_NEIGHBOUR)) {
      path->SetTop(found);
    }
  }
  if (foundSlot != nullptr) *foundSlot = found;
  return best;
}

inline bool LxRBTree::RunSearch::NamedMatches(const LxRBTreeNode* named, const LxRBTreeNode* n) {
  const void* namedKey;
  const void* namedData;
  int s = tree.ReadParts(named, &namedKey, &namedData, param);
  if (s >= 0) {
    int keyOrder = 0, entryOrder = 0;
    s = tree.compareFunc(&tree, &keyOrder, &entryOrder, nullptr, namedKey, namedData, n->Element(), param);
    if (s >= 0) return entryOrder == 0;
  }
  status = s;
  return false;
}

inline LxRBTreeNode* LxRBTree::RunSearch::Walk(LxRBTreeNode* n, bool firstWanted, int32_t& found) {
  LxRBTreeNode* best = n;
  bool matched = true;
  for (LxRBTreeNode* cur = n;;) {
    cur = matched == firstWanted ? cur->Left() : cur->right;
    if (cur == nullptr) break;
    if (path != nullptr) path->Push(cur);
    matched = false;
    if (tree.duplicateKeys) {
      int keyOrder = 0, entryOrder = 0;
      int r = tree.compareFunc(&tree, &keyOrder, &entryOrder, source, key, data, cur->Element(), param);
      if (r < 0) {
        status = r;
        break;
      }
      matched = entryOrder == 0;
    }
    if (matched) {
      best = cur;
      if (path != nullptr) found = path->GetTop();
    }
  }
  return best;
}

LxRBTreeNode* LxRBTree::Locate(const LxVIterator* source, const void* key, const void* data, int& status,
                               unsigned short mode, LxVParameter* param, LxRBTreePath* path,
                               int32_t* foundSlot) {
  status = 0;
  if (path != nullptr) path->Reset();
  if (foundSlot != nullptr) *foundSlot = -1;
  if (compareFunc == nullptr) {
    status = LX_CONTAINER_NOT_IMPLEMENTED;
    return nullptr;
  }
  // Descend from the root to the first match. The path's top stays in a local
  // while the compare callback runs.
  const bool prefetch = count >= kPrefetchFrom;
  int keyOrder = 0, entryOrder = 1;
  LxRBTreeNode* n = root;
  LxRBTreeNode** slot = path != nullptr ? path->slot : nullptr;
  int32_t top = 0;
  while (n != nullptr) {
    if (prefetch) Prefetch(n);
    if (slot != nullptr) slot[++top] = n;
    int r = compareFunc(this, &keyOrder, &entryOrder, source, key, data, n->Element(), param);
    if (r < 0) {
      status = r;
      break;
    }
    if (entryOrder == 0) break;
    n = ChildBySign(n, entryOrder);
  }
  if (path != nullptr) path->top = top;
  if (status < 0) return n;  // where the search stopped
  if (n == nullptr) {
    status = LX_CONTAINER_NOT_FOUND;
    return path != nullptr ? NeighbourOfMiss(*path, mode, entryOrder) : nullptr;
  }
  if (!duplicateKeys && !(mode & (LX_MODE_KEEP_NEIGHBOUR | LX_MODE_STEP_PAST))) {
    // The only match, and the path already ends at it.
    if (path != nullptr && foundSlot != nullptr) *foundSlot = path->GetTop();
    return n;
  }
  return RunSearch{*this, source, key, data, param, mode, path, status}.Run(n, foundSlot);
}

// ---------------------------------------------------------------------------
// Exact-entry match and removal
// ---------------------------------------------------------------------------

LxRBTreeNode* LxRBTree::MatchEntry(const LxRBTreeNode* node, int& status, unsigned short mode,
                                   LxVParameter* param, LxRBTreePath& path, int32_t& foundSlot) {
  const void* key;
  const void* data;
  status = ReadParts(node, &key, &data, param);
  if (status < 0) return nullptr;
  LxRBTreeNode* n = Locate(nullptr, key, data, status, mode, nullptr, &path, &foundSlot);
  if (status < 0 || n == nullptr || n == node) return n;
  if (!duplicateKeys) {
    path.Reset();
    status = LX_CONTAINER_NOT_FOUND;
    return nullptr;
  }
  path.SetTop(foundSlot);
  bool backward = (mode & LX_MODE_LAST_MATCH) != 0;
  for (;;) {
    if (backward)
      lxcontainers::Predecessor(path);
    else
      lxcontainers::Successor(path);
    LxRBTreeNode* cur = path.Current();
    if (cur == nullptr) break;
    int keyOrder = 0, entryOrder = 0;
    int r = compareFunc(this, &keyOrder, &entryOrder, nullptr, key, data, cur->Element(), nullptr);
    if (r < 0) {
      status = r;
      return nullptr;
    }
    if (cur == node) {
      foundSlot = path.GetTop();
      if (mode & LX_MODE_KEEP_NEIGHBOUR) {
        if (backward)
          PushLeftSpine(path, cur->right);  // down to the successor
        else
          PushRightSpine(path, cur->Left());  // down to the predecessor
      }
      return cur;
    }
    if (entryOrder != 0) break;
  }
  path.Reset();
  status = LX_CONTAINER_NOT_FOUND;
  return nullptr;
}

int LxRBTree::DeleteEntry(const void* entry, unsigned short mode, LxVParameter* param) {
  if (entry == nullptr) return LX_CONTAINER_NOT_FOUND;
  LxRBTreePath path;
  int32_t found;
  int status;
  mode = (mode & 0xFE9F) | LX_MODE_KEEP_NEIGHBOUR;
  LxRBTreeNode* n = MatchEntry(NodeOf(entry), status, mode, param, path, found);
  if (status < 0) return status;
  if (n == nullptr) return LX_CONTAINER_NOT_FOUND;
  Remove(path, found);
  return 0;
}

void LxRBTree::Remove(LxRBTreePath& path, int32_t foundSlot) {
  LxRBTreeNode* z = path.GetSlot(foundSlot);
  LxRBTreeNode* zp = path.GetSlot(foundSlot - 1);
  LxRBTreeNode* y = path.Pop();
  LxRBTreeNode* yp = path.Current();
  LxRBTreeNode* x = y->Left() != nullptr ? y->Left() : y->right;
  bool yBlack = !y->IsRed();

  if (z == greatest) {
    if (y != z && path.GetSlot(foundSlot + 1) == z->Left()) {
      greatest = y;  // the predecessor takes z's place
    } else if (x != nullptr) {
      LxRBTreeNode* g = x;
      while (g->right != nullptr) g = g->right;
      greatest = g;
    } else {
      greatest = zp;  // also 0 when the tree becomes empty
    }
  }

  int side = 0;
  if (yp == nullptr) {
    root = x;
  } else if (yp->Left() == y) {
    yp->SetLeft(x);
    side = 1;
  } else {
    yp->right = x;
    side = -1;
  }

  if (y != z) {
    path.SetSlot(foundSlot, y);
    y->left = z->left;  // z's left child and z's colour
    y->right = z->right;
    Hang(zp, z, y);
  }

  ReleaseNode(z);
  if (yBlack) DeleteFixup(x, path, side);
  ++stamp;
  --count;
}

void LxRBTree::DeleteFixup(LxRBTreeNode* x, LxRBTreePath& path, int side) {
  while (x != root && !IsRed(x)) {
    LxRBTreeNode* p = path.Current();
    bool xLeft = x != nullptr ? p->Left() == x : side > 0;
    // Rotates w over p; w is hung under p's parent and sits between them on the path.
    auto rotateOverParent = [&](LxRBTreeNode* w) {
      int32_t t = path.GetTop();
      Hang(path.GetSlot(t - 1), p, w);
      path.SetSlot(t, w);
      path.Push(p);
    };
    if (xLeft) {
      LxRBTreeNode* w = p->right;
      if (w->IsRed()) {
        w->SetBlack();
        p->SetRed();
        p->right = w->Left();
        w->SetLeft(p);
        rotateOverParent(w);
        w = p->right;
      }
      if (!IsRed(w->Left()) && !IsRed(w->right)) {
        w->SetRed();
        x = p;
        path.Pop();
        continue;
      }
      if (!IsRed(w->right)) {
        LxRBTreeNode* wl = w->Left();
        wl->SetBlack();
        w->SetRed();
        w->SetLeft(wl->right);
        wl->right = w;
        p->right = wl;
        w = wl;
      }
      w->SetColourOf(p);
      p->SetBlack();
      w->right->SetBlack();
      p->right = w->Left();
      w->SetLeft(p);
      Hang(path.GetSlot(path.GetTop() - 1), p, w);
      x = root;
      break;
    } else {
      LxRBTreeNode* w = p->Left();
      if (w->IsRed()) {
        w->SetBlack();
        p->SetRed();
        p->SetLeft(w->right);
        w->right = p;
        rotateOverParent(w);
        w = p->Left();
      }
      if (!IsRed(w->Left()) && !IsRed(w->right)) {
        w->SetRed();
        x = p;
        path.Pop();
        continue;
      }
      if (!IsRed(w->Left())) {
        LxRBTreeNode* wr = w->right;
        wr->SetBlack();
        w->SetRed();
        w->right = wr->Left();
        wr->SetLeft(w);
        p->SetLeft(wr);
        w = wr;
      }
      w->SetColourOf(p);
      p->SetBlack();
      w->Left()->SetBlack();
      p->SetLeft(w->right);
      w->right = p;
      Hang(path.GetSlot(path.GetTop() - 1), p, w);
      x = root;
      break;
    }
  }
  if (x != nullptr) x->SetBlack();
}

// ---------------------------------------------------------------------------
// Clearing, destruction, self-check
// ---------------------------------------------------------------------------

void LxRBTree::DestroyElements(LxRBTreeNode* n) {
  if (n == nullptr) return;
  DestroyElements(n->Left());
  DestroyElements(n->right);
  destroyFunc(this, n->Element());
}

int LxRBTree::Clear(LxTransactionContext*, uint32_t* countOut, LxVContainer*) {
  if (countOut != nullptr) *countOut = count;
  count = 0;
  if (destroyFunc != nullptr) DestroyElements(root);
  root = greatest = nullptr;
  duplicateKeys = 0;
  entryCache.UngetAllEntries();
  return 0;
}

struct LxRBTree::CheckResult {
  int32_t blackHeight;
  uint32_t nodes;
  const LxRBTreeNode* least;
  const LxRBTreeNode* greatest;
};

int LxRBTree::CheckSubtree(const LxRBTreeNode* n, LxVParameter* param, CheckResult* out) {
  *out = CheckResult{0, 0, nullptr, nullptr};
  if (n == nullptr) return 0;
  CheckResult l, r;
  int s = CheckSubtree(n->Left(), param, &l);
  if (s != 0) return s;
  s = CheckSubtree(n->right, param, &r);
  if (s != 0) return s;
  if (n->IsRed() && (IsRed(n->Left()) || IsRed(n->right))) return -2;
  if (l.blackHeight != r.blackHeight) return -3;
  if (compareFunc == nullptr) return LX_CONTAINER_NOT_IMPLEMENTED;
  const void* key;
  const void* data;
  int keyOrder = 0, entryOrder = 0;
  if (l.greatest != nullptr) {
    s = ReadParts(l.greatest, &key, &data, param);
    if (s < 0) return s;
    s = compareFunc(this, &keyOrder, &entryOrder, nullptr, key, data, n->Element(), nullptr);
    if (s < 0) return s;
    if (entryOrder > 0 || (entryOrder == 0 && !(flags & LX_CONTAINER_EQUAL_ENTRIES))) return -4;
  }
  if (r.least != nullptr) {
    s = ReadParts(r.least, &key, &data, param);
    if (s < 0) return s;
    s = compareFunc(this, &keyOrder, &entryOrder, nullptr, key, data, n->Element(), nullptr);
    if (s < 0) return s;
    if (entryOrder < 0 || (entryOrder == 0 && !(flags & LX_CONTAINER_EQUAL_ENTRIES))) return -4;
  }
  out->blackHeight = l.blackHeight + (n->IsRed() ? 0 : 1);
  out->nodes = l.nodes + r.nodes + 1;
  out->least = l.least != nullptr ? l.least : n;
  out->greatest = r.greatest != nullptr ? r.greatest : n;
  return 0;
}

int LxRBTree::CheckTree(LxVParameter* param) {
  if (IsRed(root)) return -1;
  CheckResult all;
  int s = CheckSubtree(root, param, &all);
  if (s != 0) return s;
  return all.nodes != count ? -5 : 0;
}

void LxRBTree::OutSubtree(const LxRBTreeNode* n, int depth, LxVParameter* param) {
  if (n == nullptr) return;
  OutSubtree(n->right, depth + 2, param);
  OutSubtree(n->Left(), depth + 2, param);
}

void LxRBTree::OutTree(LxVParameter* param) { OutSubtree(root, 0, param); }

// The in-order steps of a tree path, inline for the library's own walks (the
// iterator's Next and Prior, removal, the run searches). LxRBTreePath's exported
// Successor, Predecessor, ClimbFromRight and ClimbFromLeft are the same steps.
//
// A path holds the ancestors of its current node, root first; slot 0 holds 0, so
// climbing past the root leaves the current node 0.
#pragma once

#include "lxcontainers.h"

namespace lxcontainers {

// Pushes `n` and then its left children down to the leftmost node below it.
inline void PushLeftSpine(LxRBTreePath& path, LxRBTreeNode* n) {
  for (; n != nullptr; n = n->Left()) path.Push(n);
}

// Pushes `n` and then its right children down to the rightmost node below it.
inline void PushRightSpine(LxRBTreePath& path, LxRBTreeNode* n) {
  for (; n != nullptr; n = n->Right()) path.Push(n);
}

// Pops until the popped node is the left child of the new current node (the
// current node is then the in-order successor of the popped one), or the bottom
// is reached.
inline void ClimbFromRight(LxRBTreePath& path) {
  LxRBTreeNode* popped;
  do {
    popped = path.Pop();
  } while (path.Current() != nullptr && path.Current()->Left() != popped);
}

// The mirror image: pops until the popped node is the right child of the new
// current node, or the bottom is reached.
inline void ClimbFromLeft(LxRBTreePath& path) {
  LxRBTreeNode* popped;
  do {
    popped = path.Pop();
  } while (path.Current() != nullptr && path.Current()->Right() != popped);
}

// Moves to the in-order successor of the current node; 0 past the end. An empty
// path stays empty.
inline void Successor(LxRBTreePath& path) {
  LxRBTreeNode* n = path.Current();
  if (n == nullptr) return;
  if (n->Right() != nullptr)
    PushLeftSpine(path, n->Right());
  else
    ClimbFromRight(path);
}

// Moves to the in-order predecessor of the current node; 0 before the start.
inline void Predecessor(LxRBTreePath& path) {
  LxRBTreeNode* n = path.Current();
  if (n == nullptr) return;
  if (n->Left() != nullptr)
    PushRightSpine(path, n->Left());
  else
    ClimbFromLeft(path);
}

}  // namespace lxcontainers

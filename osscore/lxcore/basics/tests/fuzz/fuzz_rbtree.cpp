// LxRBTree under every operation, uniqueness flag and mode bit, against a sorted
// vector that keeps the order of identical entries; after every step the self-check,
// both walks and the live elements agree with it. A step may make a callback fail:
// the operation returns that error and the tree is as before.
// Input: byte 0 the flags and entries per block, then at most 64 operations.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/tree_elements.h"

namespace {

using namespace lxtree;
bool Failed(int r) { return r <= Failure(kCopy) && r >= Failure(kCompare); }  // a callback's error

const Elem* ElementAt(const LxRBTree& tree, const LxVIterator& it) {
  int status = 0;
  const void* entry = it.GetEntry(status, nullptr);
  FUZZ_CHECK(entry != nullptr && status == 0);
  return static_cast<const Elem*>(tree.GetElementOfEntry(entry));
}

void CheckTree(LxRBTree& tree, const std::vector<Elem>& model) {
  FUZZ_CHECK(tree.CheckTree(nullptr) == 0 && tree.GetCount() == model.size());
  FUZZ_CHECK(g.live == static_cast<int>(model.size()));
  LxRBTreeIterator it(&tree, nullptr);
  size_t i = 0;
  for (; it.Next() == 0; ++i) FUZZ_CHECK(i < model.size() && *ElementAt(tree, it) == model[i]);
  FUZZ_CHECK(i == model.size() && it.GetStatus() == LX_CONTAINER_BEHIND_LAST);
  // Backwards, from behind the last, and forwards again from before the first.
  for (; it.Prior() == 0; --i) FUZZ_CHECK(i > 0 && *ElementAt(tree, it) == model[i - 1]);
  FUZZ_CHECK(i == 0 && it.GetStatus() == LX_CONTAINER_BEFORE_FIRST);
  FUZZ_CHECK(it.Next() == (model.empty() ? LX_CONTAINER_BEHIND_LAST : 0));
  if (!model.empty()) FUZZ_CHECK(*ElementAt(tree, it) == model[0]);
  FUZZ_CHECK(model.empty()
                 ? tree.GetRoot() == nullptr && tree.GetGreatest() == nullptr
                 : *static_cast<const Elem*>(tree.GetElementOfEntry(tree.GetGreatest())) == model.back());
}

// The run of model entries that a pair matches: same key, and same data when given.
void Matches(const std::vector<Elem>& model, int32_t key, const int32_t* data, size_t* first, size_t* end) {
  auto before = [&](const Elem& e) { return e.key < key || (e.key == key && data && e.data < *data); };
  *first = static_cast<size_t>(std::partition_point(model.begin(), model.end(), before) - model.begin());
  for (*end = *first; *end < model.size() && model[*end].key == key && (!data || model[*end].data == *data);)
    ++*end;
}

// The first matching element that a descent from the root meets, or null.
const Elem* FirstMet(const LxRBTree& tree, int32_t key, const int32_t* data) {
  for (const LxRBTreeNode* n = tree.GetRoot(); n != nullptr;) {
    const Elem* e = static_cast<const Elem*>(n->Element());
    const int order = Order(key, data, *e);
    if (order == 0) return e;
    n = order < 0 ? n->Left() : n->Right();
  }
  return nullptr;
}

// Stands `it` on model index i (First, then i steps).
void Position(LxRBTreeIterator& it, size_t i) {
  FUZZ_CHECK(it.First() == 0);
  for (size_t k = 0; k < i; ++k) FUZZ_CHECK(it.Next() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lxfuzz::Input in(data, size);
  const uint8_t setup = in.Byte();
  const unsigned short flags = setup & 3;
  const bool allowIdentical = (flags & 2) != 0, allowEqualKeys = (flags & 1) != 0;
  std::vector<Elem> model;
  {
    Tree tree(flags, (setup >> 2) & 3);
    LxRBTreeIterator stale(&tree, nullptr);

    for (int step = 0; step < 64 && !in.Empty(); ++step) {
      const uint8_t op = in.Byte(), arg = in.Byte(), faults = in.Byte();
      int32_t key = arg & 15, value = (arg >> 4) & 3;
      const int32_t* pairData = (arg & 0x40) == 0 ? &value : nullptr;
      g.FailIn(kCompare, (faults & 0x80) ? (faults & 7) + 1 : 0);
      g.FailIn(kCopy, (faults & 0x78) == 0x78);
      g.FailIn(kKey, (faults & 0x78) == 0x70 ? (faults & 7) + 1 : 0);
      g.FailIn(kData, (faults & 0x78) == 0x68 ? (faults & 7) + 1 : 0);
      Source pair(key, pairData ? value : kKeyOnly), full(key, value);
      const uint32_t stampBefore = tree.GetStamp();
      const bool staleOn = stale.First() == 0;
      const size_t countBefore = model.size();
      size_t first, end;  // the run of entries that the pair matches
      Matches(model, key, pairData, &first, &end);
      int r = 0;

      switch (op % 5) {
        case 0:
        case 1: {  // InsertElement, before or after identical entries
          const unsigned short mode = (op & 0x10) ? LX_MODE_INSERT_BEFORE : 0;
          r = tree.InsertElement(&full.it, nullptr, mode, nullptr);
          int s = 0;  // a node built for a failed insertion went back to the cache
          if (Failed(r) && r != Failure(kCompare))
            FUZZ_CHECK(tree.GetElementOfEntry(tree.CreateEntry(s)) == g.lastBuilt);
          if (Failed(r)) break;
          const Elem wanted{key, value, g.nextSerial - 1};
          const bool refused = !allowIdentical && std::any_of(model.begin(), model.end(), [&](const Elem& e) {
            return Order(e, wanted) == 0 || (e.key == key && !allowEqualKeys);
          });
          FUZZ_CHECK(r == (refused ? LX_CONTAINER_EXISTS : 0));
          auto less = [](const Elem& a, const Elem& b) { return Order(a, b) < 0; };
          if (!refused)
            model.insert((mode & LX_MODE_INSERT_BEFORE)
                             ? std::lower_bound(model.begin(), model.end(), wanted, less)
                             : std::upper_bound(model.begin(), model.end(), wanted, less),
                         wanted);
          break;
        }
        case 2: {  // SearchElement with a result iterator and any mode
          const unsigned short mode = static_cast<unsigned short>(
              ((op & 0x08) ? LX_MODE_LAST_MATCH : 0) | ((op & 0x10) ? LX_MODE_GREATEST_BEFORE : 0) |
              ((op & 0x20) ? LX_MODE_LEAST_AFTER : 0) | ((op & 0x40) ? LX_MODE_STEP_PAST : 0));
          LxRBTreeParameter param;
          const Elem* named = nullptr;
          if (!model.empty() && (op & 0x80)) {
            LxRBTreeIterator pick(&tree, nullptr);
            Position(pick, faults % model.size());
            param.entry = pick.GetEntry(r, nullptr);
            named = static_cast<const Elem*>(tree.GetElementOfEntry(param.entry));
          }
          LxRBTreeIterator result(&tree, nullptr);
          const bool withResult = (arg & 0x80) == 0;
          r = tree.SearchElement(&pair.it, nullptr, mode, &param, withResult ? &result : nullptr);
          if (Failed(r)) break;
          const bool found = first < end;
          FUZZ_CHECK(r == (found ? 0 : LX_CONTAINER_NOT_FOUND));
          if (!withResult) break;
          // The model index the result should stand on; model.size() for none. The tree
          // steps past the run when the named entry equals the match that the descent meets first.
          size_t want = model.size();
          const Elem* met = found ? FirstMet(tree, key, pairData) : nullptr;
          if (found && (mode & LX_MODE_STEP_PAST) && named != nullptr && Order(*named, *met) == 0) {
            want = end;
          } else if (found) {
            want = (mode & LX_MODE_LAST_MATCH) ? end - 1 : first;
          } else if (mode & LX_MODE_LEAST_AFTER) {
            want = first;
          } else if ((mode & LX_MODE_GREATEST_BEFORE) && first > 0) {
            want = first - 1;
          }
          // Standing on nothing, the status names the mode, 0x0020 first.
          const int wantStatus = want < model.size()                ? 0
                                 : (mode & LX_MODE_GREATEST_BEFORE) ? LX_CONTAINER_BEFORE_FIRST
                                 : (mode & (LX_MODE_LEAST_AFTER | LX_MODE_STEP_PAST))
                                     ? LX_CONTAINER_BEHIND_LAST
                                     : LX_CONTAINER_POSITION_LOST;
          FUZZ_CHECK(result.GetStatus() == wantStatus);
          if (wantStatus == 0) FUZZ_CHECK(*ElementAt(tree, result) == model[want]);
          break;
        }
        case 3: {  // DeleteElement through the tree: the first match, or the last; 0x20 and 0x40 are ignored
          const unsigned short mode =
              static_cast<unsigned short>((op & 0x08 ? LX_MODE_LAST_MATCH : 0) | (op & 0x70));
          const bool last = (mode & LX_MODE_LAST_MATCH) != 0;
          r = tree.DeleteElement(&pair.it, nullptr, mode, nullptr);
          if (Failed(r)) break;
          FUZZ_CHECK(r == (first == end ? LX_CONTAINER_NOT_FOUND : 0));
          if (r == 0) model.erase(model.begin() + static_cast<long>(last ? end - 1 : first));
          break;
        }
        case 4: {  // delete through an iterator, delete one exact node, or clear
          if (model.empty() || (op & 0xE0) == 0xE0) {
            g.Disarm();
            uint32_t former = 0xFFFFFFFF;
            FUZZ_CHECK(tree.Clear(nullptr, &former, nullptr) == 0 && former == model.size());
            FUZZ_CHECK(tree.GetStamp() == stampBefore);  // Clear keeps the stamp
            model.clear();
            CheckTree(tree, model);
            continue;  // other iterators are left to reposition themselves
          }
          const size_t i = arg % model.size();
          const bool backward = (op & 0x08) != 0;
          LxRBTreeIterator it(&tree, nullptr);
          Position(it, i);
          if ((op & 0xE0) == 0xC0) {  // DeleteEntry: that node, whichever identical entries it has
            r = tree.DeleteEntry(it.GetEntry(r, nullptr), backward ? LX_MODE_LAST_MATCH : 0, nullptr);
            FUZZ_CHECK(r == 0 || Failed(r));
            if (r == 0) model.erase(model.begin() + static_cast<long>(i));
            break;
          }
          g.Disarm();
          r = it.DeleteElement(backward ? LX_MODE_DELETE_BACKWARD : 0, nullptr);
          model.erase(model.begin() + static_cast<long>(i));
          // The iterator stands on the neighbour in the direction given, if there is one.
          const bool none = backward ? i == 0 : i == model.size();
          const int edge = backward ? LX_CONTAINER_BEFORE_FIRST : LX_CONTAINER_BEHIND_LAST;
          FUZZ_CHECK(r == (none ? edge : 0) && it.GetStatus() == r);
          if (!none)
            FUZZ_CHECK(it.GetStamp() == tree.GetStamp() && *ElementAt(tree, it) == model[i - backward]);
          r = 0;
          break;
        }
      }
      // A failed operation leaves the stamp; a change moves it and makes other iterators stale.
      const bool changed = model.size() != countBefore;
      if (Failed(r)) FUZZ_CHECK(!changed && tree.GetStamp() == stampBefore);
      if (changed && staleOn) FUZZ_CHECK(stale.Next() == LX_CONTAINER_CHANGED);
      if (changed && model.size() > countBefore) FUZZ_CHECK(tree.GetStamp() == stampBefore + 1);
      g.Disarm();
      CheckTree(tree, model);
    }
  }
  FUZZ_CHECK(g.live == 0);
  return 0;
}

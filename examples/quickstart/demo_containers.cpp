// Ordered containers: the runtime's typical request. An index of object
// references lives in an LxRBTree; a search wraps the key it looks for in a
// one-entry container, reads the match through a result iterator, and walks the
// neighbours from there.
#include <lxbasics.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "demo.h"

namespace {

// One index entry: an object id and the object's name.
struct IndexEntry {
  uint32_t oid;
  char name[12];
};

// Orders a key (an object id) against an entry. Key and entry order are the same:
// the ids are unique.
int CompareOid(LxVContainer*, int* keyOrder, int* entryOrder, const LxVIterator*, const void* key,
               const void*, const void* element, LxVParameter*) {
  uint32_t a = *static_cast<const uint32_t*>(key);
  uint32_t b = static_cast<const IndexEntry*>(element)->oid;
  *keyOrder = *entryOrder = a < b ? -1 : (a > b ? 1 : 0);
  return 0;
}

const IndexEntry* Current(const LxVIterator& it) {
  int status = 0;
  const void* e = it.GetElement(status, nullptr);
  return status == 0 ? static_cast<const IndexEntry*>(e) : nullptr;
}

}  // namespace

static int ContainersDemo() {
  int failures = 0;

  // Build the index. The source of each insertion is a one-entry container over
  // the record; the tree copies it (the default copy callback) into its node.
  LxRBTree index(sizeof(IndexEntry));
  index.SetCompareFunc(CompareOid);
  const IndexEntry objects[] = {
      {40, "invoice"}, {10, "customer"}, {30, "order"}, {20, "address"}, {50, "payment"}};
  for (const IndexEntry& o : objects) {
    LxOneEntryContainer one(&o, nullptr, 0);
    LxOneEntryIterator source(&one, nullptr);
    if (index.InsertElement(&source, nullptr, 0, nullptr) != 0) ++failures;
  }
  std::printf("index holds %u entries, self-check %d\n", index.GetCount(), index.CheckTree(nullptr));
  failures += index.GetCount() != 5 || index.CheckTree(nullptr) != 0;

  // A hit: wrap the key, search with a result iterator, read the entry.
  LxRBTreeIterator result(&index, nullptr);
  const uint32_t key = 30;
  LxOneEntryContainer wanted(&key, nullptr, 0);
  LxOneEntryIterator source(&wanted, nullptr);
  int rc = index.SearchElement(&source, nullptr, 0, nullptr, &result);
  const IndexEntry* hit = Current(result);
  std::printf("search %u: %d -> %s\n", key, rc, hit ? hit->name : "(none)");
  failures += rc != 0 || hit == nullptr || std::strcmp(hit->name, "order") != 0;

  // A miss with a neighbour mode: 0x0040 stands on the least entry after the key.
  const uint32_t missingKey = 35;
  LxOneEntryContainer missing(&missingKey, nullptr, 0);
  LxOneEntryIterator missSource(&missing, nullptr);
  rc = index.SearchElement(&missSource, nullptr, LX_MODE_LEAST_AFTER, nullptr, &result);
  const IndexEntry* next = Current(result);
  std::printf("search %u: %d (no match), least entry after it: %u %s\n", missingKey, rc, next ? next->oid : 0,
              next ? next->name : "(none)");
  failures += rc != LX_CONTAINER_NOT_FOUND || next == nullptr || next->oid != 40;

  // Walk the neighbours from there: back two entries, then on to the end.
  std::printf("neighbours:");
  int steps = 0;
  if (result.Prior() == 0 && result.Prior() == 0) {
    do {
      std::printf(" %u", Current(result)->oid);
      ++steps;
    } while (result.Next() == 0);
  }
  std::printf(" | iterator status %d (behind the last entry)\n", result.GetStatus());
  failures += steps != 4 || result.GetStatus() != LX_CONTAINER_BEHIND_LAST;

  // Failure codes: -510 to -523 are tested by number; codes of the catalog read
  // as texts. A one-entry container cannot be cleared.
  rc = wanted.Clear(nullptr, nullptr, nullptr);
  std::printf("clearing a one-entry container: %s\n", LxError(nullptr, "Clear", rc, 0));
  failures += rc != LX_CONTAINER_NOT_IMPLEMENTED;

  // The tree sees its own change: an iterator positioned before a removal is stale.
  if (result.Last() == 0 && index.DeleteElement(&source, nullptr, 0, nullptr) == 0) {
    int status = 0;
    result.GetEntry(status, nullptr);
    std::printf("after deleting %u elsewhere, the iterator reports %d until it is positioned again\n", key,
                status);
    failures += status != LX_CONTAINER_CHANGED;
  } else {
    ++failures;
  }
  return failures;
}

QUICKSTART_DEMO(containers, 30, "Ordered containers: an index and a search", ContainersDemo);

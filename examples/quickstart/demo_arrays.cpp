// Arrays and lists: a sorted list kept in order by SortedInsert, searched by key;
// the same records sorted in a contiguous list; a bit string handing out runs of
// slots.
#include <lxbasics.h>

#include <cstdio>

#include "demo.h"

namespace {

struct Order {
  int32_t number;
  int32_t quantity;
};

int ByNumber(const LxVArray*, const void* key, const void* element) {
  int32_t a = static_cast<const Order*>(key)->number;
  int32_t b = static_cast<const Order*>(element)->number;
  return a < b ? -1 : (a > b ? 1 : 0);
}

// LxCList leaves the comparison function to the classes that derive from it.
class OrderList : public LxCList {
 public:
  OrderList() : LxCList(sizeof(Order), 0, nullptr) { comparisonFunction = ByNumber; }
};

int ArraysDemo() {
  const Order incoming[] = {{4711, 3}, {1200, 1}, {9001, 7}, {1200, 2}, {3000, 5}};

  SortList sorted(sizeof(Order), ByNumber, 0);
  for (const Order& o : incoming) {
    uint32_t at = 0;
    int r = sorted.SortedInsert(&o, &at, 0, 1);
    std::printf("insert order %d: %s at %u\n", o.number, r == 0 ? "placed" : "duplicate, refused", at);
  }
  Order key = {3000, 0}, found = {};
  uint32_t position = 0;
  if (sorted.Search(&key, &position, &found) != 0 || found.quantity != 5) return 1;
  std::printf("order 3000 is at %u with quantity %d\n", position, found.quantity);
  key.number = 5000;
  if (sorted.Search(&key, &position, nullptr) != -502) return 1;
  std::printf("order 5000 is missing; it would go to %u\n", position);

  OrderList list;
  for (const Order& o : incoming) list.Insert(list.GetCount(), &o);
  if (list.Sort(0) != 0) return 1;
  std::printf("sorted in a contiguous list:");
  for (uint32_t i = 0; i < list.GetCount(); ++i) {
    const auto* o = static_cast<const Order*>(list.Element(i));
    std::printf(" %d(x%d)", o->number, o->quantity);
  }
  std::printf("\n");

  _LxBitString slots(64);
  uint32_t blocked = 0, free = 0;
  slots.TestAndSetArea(0, 10, blocked);
  if (slots.TestAndSetArea(8, 4, blocked) != -1) return 1;
  std::printf("slots 8..11 are taken from slot %u on\n", 8 + blocked);
  if (slots.Find(0, 0, free) != 0 || free != 10) return 1;
  std::printf("first free slot %u; %u of %u slots in use\n", free, slots.GetNum(), slots.Length());
  return 0;
}

}  // namespace

QUICKSTART_DEMO(arrays, 35, "Arrays and lists", ArraysDemo);

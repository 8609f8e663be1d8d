// LxLinkedList and LxSimpleLinkedList: intrusive lists whose links live in the items.
#include "lxarrays.h"

LxLinkedListItem::LxLinkedListItem() : previous(nullptr), next(nullptr) {}

LxLinkedListItem::~LxLinkedListItem() { UnLink(); }

void LxLinkedListItem::UnLink() {
  if (next != nullptr) next->previous = previous;
  if (previous != nullptr) previous->next = next;
  previous = nullptr;
  next = nullptr;
}

LxLinkedList::LxLinkedList() : first(nullptr), last(nullptr) {}

LxLinkedList::~LxLinkedList() { Clear(); }

void LxLinkedList::InsertFirst(LxLinkedListItem* item) {
  if (first == nullptr) {
    last = item;
    item->next = nullptr;
  } else {
    item->next = first;
    first->previous = item;
  }
  first = item;
}

void LxLinkedList::Append(LxLinkedListItem* item) {
  if (last == nullptr) {
    first = item;
  } else {
    last->next = item;
    item->previous = last;
  }
  last = item;
}

void LxLinkedList::RemoveFirst() {
  LxLinkedListItem* item = first;
  if (item == nullptr) return;
  first = item->next;
  if (first == nullptr) {
    last = nullptr;
  } else {
    first->previous = nullptr;
  }
  item->previous = nullptr;
  item->next = nullptr;
}

void LxLinkedList::RemoveLast() {
  LxLinkedListItem* item = last;
  if (item == nullptr) return;
  last = item->previous;
  if (last == nullptr) {
    first = nullptr;
  } else {
    last->next = nullptr;
  }
  item->previous = nullptr;
  item->next = nullptr;
}

int LxLinkedList::RemoveItem(LxLinkedListItem* item) {
  LxLinkedListItem* walk = first;
  while (walk != nullptr && walk != item) walk = walk->next;
  if (walk == nullptr) return LX_ARRAY_OUT_OF_RANGE;
  if (item == first) {
    RemoveFirst();
  } else if (item == last) {
    RemoveLast();
  } else {
    item->UnLink();
  }
  return 0;
}

void LxLinkedList::DeleteFirst() {
  LxLinkedListItem* item = first;
  if (item == nullptr) return;
  RemoveFirst();
  delete item;
}

void LxLinkedList::DeleteLast() {
  LxLinkedListItem* item = last;
  if (item == nullptr) return;
  RemoveLast();
  delete item;
}

int LxLinkedList::DeleteItem(LxLinkedListItem* item) {
  int r = RemoveItem(item);
  if (r == 0) delete item;
  return r;
}

void LxLinkedList::Clear() {
  while (first != nullptr) DeleteFirst();
}

LxSimpleLinkedListItem::LxSimpleLinkedListItem() : next(nullptr) {}

LxSimpleLinkedListItem::~LxSimpleLinkedListItem() = default;

LxSimpleLinkedList::LxSimpleLinkedList() : first(nullptr) {}

LxSimpleLinkedList::~LxSimpleLinkedList() = default;

void LxSimpleLinkedList::InsertFirst(LxSimpleLinkedListItem* item) {
  item->next = first;
  first = item;
}

void LxSimpleLinkedList::Append(LxSimpleLinkedListItem* item) {
  if (first == nullptr) {
    first = item;
    return;
  }
  LxSimpleLinkedListItem* walk = first;
  while (walk->next != nullptr) walk = walk->next;
  walk->next = item;
}

LxSimpleLinkedListItem* LxSimpleLinkedList::RemoveFirst() {
  LxSimpleLinkedListItem* item = first;
  if (item == nullptr) return nullptr;
  first = item->next;
  item->next = nullptr;
  return item;
}

LxSimpleLinkedListItem* LxSimpleLinkedList::RemoveLast() {
  if (first == nullptr) return nullptr;
  if (first->next == nullptr) {
    LxSimpleLinkedListItem* item = first;
    first = nullptr;
    return item;
  }
  LxSimpleLinkedListItem* walk = first;
  while (walk->next->next != nullptr) walk = walk->next;
  LxSimpleLinkedListItem* item = walk->next;
  walk->next = nullptr;
  return item;
}

LxSimpleLinkedListItem* LxSimpleLinkedList::RemoveItem(LxSimpleLinkedListItem* item) {
  LxSimpleLinkedListItem** link = &first;
  while (*link != nullptr && *link != item) link = &(*link)->next;
  if (*link == nullptr) return nullptr;
  *link = item->next;
  item->next = nullptr;
  return item;
}

#include "tree_support.h"

namespace containers_test {

Calls& TheCalls() {
  static Calls calls;
  return calls;
}

int Cmp(int32_t a, int32_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

int Copy(LxVContainer*, void* element, const LxVIterator*, const void* key, const void* data, LxVParameter*) {
  Calls& c = TheCalls();
  c.lastCopied = element;
  if (++c.copies == c.failCopyAt) return c.failCode;
  Elem* e = static_cast<Elem*>(element);
  e->key = *static_cast<const int32_t*>(key);
  e->data = data != nullptr ? *static_cast<const int32_t*>(data) : 0;
  e->serial = c.nextSerial++;
  c.live[e->serial] = e;
  return 0;
}

void Destroy(LxVContainer*, void* element) {
  Calls& c = TheCalls();
  ++c.destroys;
  c.live.erase(static_cast<Elem*>(element)->serial);
}

int Compare(LxVContainer*, int* keyOrder, int* entryOrder, const LxVIterator*, const void* key,
            const void* data, const void* element, LxVParameter*) {
  Calls& c = TheCalls();
  if (++c.compares == c.failCompareAt) return c.failCode;
  const Elem* e = static_cast<const Elem*>(element);
  *keyOrder = Cmp(*static_cast<const int32_t*>(key), e->key);
  *entryOrder = *keyOrder;
  if (*keyOrder == 0 && data != nullptr) *entryOrder = Cmp(*static_cast<const int32_t*>(data), e->data);
  return 0;
}

const void* Key(LxVContainer*, const void* element, int* status, LxVParameter*) {
  Calls& c = TheCalls();
  if (++c.keys == c.failKeyAt) {
    *status = c.failCode;
    return nullptr;
  }
  *status = 0;
  return &static_cast<const Elem*>(element)->key;
}

const void* Data(LxVContainer*, const void* element, int* status, LxVParameter*) {
  Calls& c = TheCalls();
  if (++c.datas == c.failDataAt) {
    *status = c.failCode;
    return nullptr;
  }
  *status = 0;
  return &static_cast<const Elem*>(element)->data;
}

void Install(LxVContainer* c) {
  c->SetCopyFunc(Copy);
  c->SetDestroyFunc(Destroy);
  c->SetCompareFunc(Compare);
  c->SetKeyFunc(Key);
  c->SetDataFunc(Data);
  TheCalls() = Calls();
}

const Elem* At(const LxVIterator& it) {
  int s = 0;
  const void* e = it.GetElement(s, nullptr);
  return s == 0 ? static_cast<const Elem*>(e) : nullptr;
}

int Insert(LxRBTree& tree, int32_t key, int32_t data, unsigned short mode) {
  Source src(key, data);
  return tree.InsertElement(src.get(), nullptr, mode, nullptr);
}

}  // namespace containers_test

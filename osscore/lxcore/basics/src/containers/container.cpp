// The abstract container, iterator and parameter, and the generic element access
// that every iterator inherits.
#include <cstring>

#include "lxcontainers.h"

// ---------------------------------------------------------------------------
// Parameters
// ---------------------------------------------------------------------------

LxVParameter::~LxVParameter() = default;
int LxVParameter::GetType() const { return 0; }

LxRBTreeParameter::~LxRBTreeParameter() = default;
int LxRBTreeParameter::GetType() const { return 1; }

// ---------------------------------------------------------------------------
// Container
// ---------------------------------------------------------------------------

int LxVContainer::DefaultCopy(LxVContainer* c, void* element, const LxVIterator*, const void* key,
                              const void*, LxVParameter*) {
  if (c->elementSize > 0 && key != nullptr) std::memcpy(element, key, c->elementSize);
  return 0;
}

int LxVContainer::DefaultCompare(LxVContainer*, int* keyOrder, int* entryOrder, const LxVIterator*,
                                 const void*, const void*, const void*, LxVParameter*) {
  *keyOrder = 0;
  *entryOrder = 0;
  return 0;
}

const void* LxVContainer::DefaultKey(LxVContainer*, const void* element, int* status, LxVParameter*) {
  *status = 0;
  return element;
}

const void* LxVContainer::DefaultData(LxVContainer*, const void*, int* status, LxVParameter*) {
  *status = LX_CONTAINER_NO_DATA;
  return nullptr;
}

uint32_t LxVContainer::DefaultFlags(LxVContainer*, const void*, int* status, LxVParameter*) {
  *status = 0;
  return 1;
}

LxVContainer::LxVContainer(uint32_t elementSize, unsigned short flags)
    : elementSize(elementSize),
      flags(flags),
      copyFunc(DefaultCopy),
      destroyFunc(nullptr),
      compareFunc(DefaultCompare),
      keyFunc(DefaultKey),
      dataFunc(DefaultData),
      flagsFunc(DefaultFlags) {}

LxVContainer::~LxVContainer() = default;

LxVContainer* LxVContainer::Clone(LxVContainer*) const { return nullptr; }
unsigned short LxVContainer::GetType() const { return 0; }
int LxVContainer::Clear(LxTransactionContext*, uint32_t*, LxVContainer*) {
  return LX_CONTAINER_NOT_IMPLEMENTED;
}
int LxVContainer::SearchElement(const LxVIterator*, LxVParameter*, unsigned short, LxVParameter*,
                                LxVIterator*) {
  return LX_CONTAINER_NOT_IMPLEMENTED;
}
int LxVContainer::InsertElement(const LxVIterator*, LxVParameter*, unsigned short, LxVParameter*) {
  return LX_CONTAINER_NOT_IMPLEMENTED;
}
int LxVContainer::DeleteElement(const LxVIterator*, LxVParameter*, unsigned short, LxVParameter*) {
  return LX_CONTAINER_NOT_IMPLEMENTED;
}
const void* LxVContainer::GetElementOfEntry(const void* entry) const { return entry; }
LxVIterator* LxVContainer::CreateIterator(LxTransactionContext*) { return nullptr; }

// ---------------------------------------------------------------------------
// Iterator
// ---------------------------------------------------------------------------

LxVIterator::LxVIterator(LxTransactionContext* ctx)
    : container(nullptr), transactionContext(ctx), status(LX_CONTAINER_UNBOUND) {}

LxVIterator::LxVIterator(LxTransactionContext* ctx, LxVContainer* c)
    : container(c),
      transactionContext(ctx),
      status(c != nullptr ? LX_CONTAINER_BEFORE_FIRST : LX_CONTAINER_UNBOUND) {}

LxVIterator::~LxVIterator() = default;

LxVIterator& LxVIterator::operator=(LxVContainer* c) {
  SetContainer(c);
  return *this;
}

void LxVIterator::SetContainer(LxVContainer* c) {
  container = c;
  status = c != nullptr ? LX_CONTAINER_BEFORE_FIRST : LX_CONTAINER_UNBOUND;
}

unsigned short LxVIterator::GetType() const { return 0; }
LxVIterator* LxVIterator::Clone(LxVIterator*) const { return nullptr; }
int LxVIterator::First() { return LX_CONTAINER_NOT_IMPLEMENTED; }
int LxVIterator::Next() { return LX_CONTAINER_NOT_IMPLEMENTED; }
int LxVIterator::Prior() { return LX_CONTAINER_NOT_IMPLEMENTED; }
int LxVIterator::Last() { return LX_CONTAINER_NOT_IMPLEMENTED; }
int LxVIterator::SearchElement(const LxVIterator*, LxVParameter*, unsigned short, LxVParameter*) {
  return LX_CONTAINER_NOT_IMPLEMENTED;
}
int LxVIterator::InsertElement(const LxVIterator*, LxVParameter*, unsigned short, LxVParameter*) {
  return LX_CONTAINER_NOT_IMPLEMENTED;
}
int LxVIterator::UpdateElement(const LxVIterator*, LxVParameter*, unsigned short, LxVParameter*) {
  return LX_CONTAINER_NOT_IMPLEMENTED;
}
int LxVIterator::DeleteElement(unsigned short, LxVParameter*) { return LX_CONTAINER_NOT_IMPLEMENTED; }

void LxVIterator::Destroy() {
  container = nullptr;
  status = LX_CONTAINER_UNBOUND;
}

const void* LxVIterator::GetEntry(int& status, LxVParameter*) const {
  status = LX_CONTAINER_NOT_IMPLEMENTED;
  return nullptr;
}

int LxVIterator::GetEntryParts(const void* entry, const void** element, const void** key, const void** data,
                               uint32_t* flags, LxVParameter* param) const {
  if (container == nullptr) return 0;
  if (element == nullptr && key == nullptr && data == nullptr && flags == nullptr) return 0;
  const void* e = container->GetElementOfEntry(entry);
  if (element != nullptr) {
    if (e == nullptr) return LX_CONTAINER_NOT_IMPLEMENTED;
    *element = e;
  }
  if (e == nullptr) return 0;
  int s = 0;
  if (key != nullptr) {
    if (container->GetKeyFunc() == nullptr) return LX_CONTAINER_NOT_IMPLEMENTED;
    *key = container->GetKeyFunc()(container, e, &s, param);
    if (s < 0) return s;
  }
  if (flags != nullptr) {
    if (container->GetFlagsFunc() == nullptr) return LX_CONTAINER_NOT_IMPLEMENTED;
    *flags = container->GetFlagsFunc()(container, e, &s, param);
    if (s < 0) return s;
  }
  if (data != nullptr) {
    if (container->GetDataFunc() == nullptr) return LX_CONTAINER_NOT_IMPLEMENTED;
    *data = container->GetDataFunc()(container, e, &s, param);
  }
  return s;
}

const void* LxVIterator::GetElement(int& status, LxVParameter* param) const {
  const void* entry = GetEntry(status, param);
  if (entry == nullptr || container == nullptr) return nullptr;
  const void* e = container->GetElementOfEntry(entry);
  if (e == nullptr) status = LX_CONTAINER_NOT_IMPLEMENTED;
  return e;
}

const void* LxVIterator::GetKey(int& status, LxVParameter* param) const {
  const void* entry = GetEntry(status, param);
  if (entry == nullptr || container == nullptr) return nullptr;
  const void* e = container->GetElementOfEntry(entry);
  if (e != nullptr && container->GetKeyFunc() != nullptr)
    return container->GetKeyFunc()(container, e, &status, param);
  status = LX_CONTAINER_NOT_IMPLEMENTED;
  return nullptr;
}

const void* LxVIterator::GetDat(int& status, LxVParameter* param) const {
  const void* entry = GetEntry(status, param);
  if (entry == nullptr || container == nullptr) return nullptr;
  const void* e = container->GetElementOfEntry(entry);
  if (e != nullptr && container->GetDataFunc() != nullptr)
    return container->GetDataFunc()(container, e, &status, param);
  status = LX_CONTAINER_NOT_IMPLEMENTED;
  return nullptr;
}

uint32_t LxVIterator::GetFlags(int& status, LxVParameter* param) const {
  const void* entry = GetEntry(status, param);
  if (entry == nullptr || container == nullptr) return 0;
  const void* e = container->GetElementOfEntry(entry);
  if (e != nullptr && container->GetFlagsFunc() != nullptr)
    return container->GetFlagsFunc()(container, e, &status, param);
  status = LX_CONTAINER_NOT_IMPLEMENTED;
  return 0;
}

int LxVIterator::CompareElement(const LxVIterator* other, LxVParameter* otherParam, int& keyOrder,
                                int& entryOrder, LxVParameter* param) const {
  if (status < 0) return status;
  if (other == nullptr) return LX_CONTAINER_UNBOUND;
  if (other->status < 0) return other->status;
  int s = 0;
  const void* k = other->GetKey(s, otherParam);
  if (s < 0) return s;
  const void* d = other->GetDat(s, otherParam);
  if (s == LX_CONTAINER_NO_DATA) {
    s = 0;
    d = nullptr;
  } else if (s < 0) {
    return s;
  }
  const void* e = GetElement(s, param);
  if (s < 0) return s;
  if (container == nullptr || container->GetCompareFunc() == nullptr) return LX_CONTAINER_NOT_IMPLEMENTED;
  int r = container->GetCompareFunc()(container, &keyOrder, &entryOrder, other, k, d, e, param);
  keyOrder = -keyOrder;
  entryOrder = -entryOrder;
  return r;
}

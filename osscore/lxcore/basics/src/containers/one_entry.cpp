// The one-entry container and its iterator: a single key/data pair presented as
// a container, the usual source of searches, insertions and deletions.
#include "lxcontainers.h"

const void* LxOneEntryContainer::KeyView(LxVContainer* c, const void*, int* status, LxVParameter*) {
  *status = 0;
  return static_cast<LxOneEntryContainer*>(c)->key;
}

const void* LxOneEntryContainer::DataView(LxVContainer* c, const void*, int* status, LxVParameter*) {
  const void* d = static_cast<LxOneEntryContainer*>(c)->data;
  *status = d == nullptr ? LX_CONTAINER_NO_DATA : 0;
  return d;
}

uint32_t LxOneEntryContainer::FlagsView(LxVContainer* c, const void*, int* status, LxVParameter*) {
  *status = 0;
  return static_cast<LxOneEntryContainer*>(c)->entryFlags;
}

LxOneEntryContainer::LxOneEntryContainer(const void* key, const void* data, uint32_t flags)
    : LxVContainer(0, 0), key(key), data(data), entryFlags(flags) {
  keyFunc = KeyView;
  dataFunc = DataView;
  flagsFunc = FlagsView;
}

LxOneEntryContainer::~LxOneEntryContainer() = default;

unsigned short LxOneEntryContainer::GetType() const { return 4; }

int LxOneEntryContainer::SearchElement(const LxVIterator*, LxVParameter*, unsigned short, LxVParameter*,
                                       LxVIterator* result) {
  if (result != nullptr) result->status = LX_CONTAINER_BEHIND_LAST;
  return LX_CONTAINER_NOT_FOUND;
}

LxOneEntryIterator::LxOneEntryIterator(LxOneEntryContainer* c, LxTransactionContext* ctx)
    : LxVIterator(ctx, c) {
  if (c != nullptr && c->GetKey() != nullptr) status = 0;
}

LxOneEntryIterator::~LxOneEntryIterator() = default;

unsigned short LxOneEntryIterator::GetType() const { return 4; }

int LxOneEntryIterator::First() {
  if (status == LX_CONTAINER_UNBOUND) return status;
  status = OneEntry()->GetKey() != nullptr ? 0 : LX_CONTAINER_BEFORE_FIRST;
  return status;
}

int LxOneEntryIterator::Last() {
  if (status == LX_CONTAINER_UNBOUND) return status;
  status = OneEntry()->GetKey() != nullptr ? 0 : LX_CONTAINER_BEHIND_LAST;
  return status;
}

int LxOneEntryIterator::Next() {
  if (status == LX_CONTAINER_BEFORE_FIRST)
    status = 0;
  else if (status == 0)
    status = LX_CONTAINER_BEHIND_LAST;
  return status;
}

int LxOneEntryIterator::Prior() {
  if (status == LX_CONTAINER_BEHIND_LAST)
    status = 0;
  else if (status == 0)
    status = LX_CONTAINER_BEFORE_FIRST;
  return status;
}

const void* LxOneEntryIterator::GetEntry(int& status, LxVParameter*) const {
  status = this->status;
  if (status < 0) return nullptr;
  return OneEntry()->GetKey();
}

const void* LxOneEntryIterator::GetKey(int& status, LxVParameter*) const {
  status = this->status;
  if (status < 0) return nullptr;
  return OneEntry()->GetKey();
}

const void* LxOneEntryIterator::GetDat(int& status, LxVParameter*) const {
  status = this->status;
  if (status < 0) return nullptr;
  const void* d = OneEntry()->GetData();
  if (d == nullptr) status = LX_CONTAINER_NO_DATA;
  return d;
}

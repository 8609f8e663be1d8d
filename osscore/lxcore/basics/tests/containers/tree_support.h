// Elements and callbacks shared by the container tests.
//
// An element holds a key and a data value, ordered by key and then by data, and a
// serial number that plays no part in ordering: it tells identical entries apart.
// A source that has no data part matches every entry with its key.
#pragma once

#include <lxcontainers.h>

#include <cstdint>
#include <map>

namespace containers_test {

struct Elem {
  int32_t key;
  int32_t data;
  int32_t serial;
};

// What the callbacks saw; reset by Install.
struct Calls {
  int copies = 0;
  int destroys = 0;
  int compares = 0;
  int keys = 0;
  int datas = 0;
  // A callback fails with its code when its counter reaches the value (0: never).
  int failCompareAt = 0;
  int failKeyAt = 0;
  int failDataAt = 0;
  int failCopyAt = 0;
  int failCode = -777;
  int32_t nextSerial = 1;
  void* lastCopied = nullptr;
  std::map<int32_t, const void*> live;  // serial -> element
};

Calls& TheCalls();

int Cmp(int32_t a, int32_t b);
int Copy(LxVContainer*, void* element, const LxVIterator*, const void* key, const void* data, LxVParameter*);
void Destroy(LxVContainer*, void* element);
int Compare(LxVContainer*, int* keyOrder, int* entryOrder, const LxVIterator*, const void* key,
            const void* data, const void* element, LxVParameter*);
const void* Key(LxVContainer*, const void* element, int* status, LxVParameter*);
const void* Data(LxVContainer*, const void* element, int* status, LxVParameter*);

// Sets the callbacks above on `c` and resets the record.
void Install(LxVContainer* c);

// A key (and optionally data) wrapped as a source, as callers do.
class Source {
 public:
  Source(int32_t k, int32_t d) : key(k), data(d), container(&key, &data, 0), it(&container, nullptr) {}
  explicit Source(int32_t k) : key(k), data(0), container(&key, nullptr, 0), it(&container, nullptr) {}
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
  const LxVIterator* get() const { return &it; }

 private:
  int32_t key;
  int32_t data;
  LxOneEntryContainer container;
  LxOneEntryIterator it;
};

// The element at which a tree iterator stands, or null.
const Elem* At(const LxVIterator& it);

// Inserts (key, data) through the source path; returns the result.
int Insert(LxRBTree& tree, int32_t key, int32_t data, unsigned short mode = 0);

}  // namespace containers_test

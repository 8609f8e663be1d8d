// The entry stack: a growing window over a ring of entries that the caller owns.
#include <cstdint>

#include "lxcontainers.h"

LxEntryStack::LxEntryStack(LxTransactionContext* ctx, char* buffer, unsigned short entrySize,
                           unsigned short count, LxEntryStackFunc enterFunc, LxEntryStackFunc leaveFunc)
    : transactionContext(ctx),
      bufferFirst(buffer),
      bufferLast(buffer + (static_cast<ptrdiff_t>(count) - 1) * entrySize),
      oldest(buffer),
      current(buffer),
      newest(buffer),
      entrySize(entrySize),
      enterFunc(enterFunc),
      leaveFunc(leaveFunc) {
  if (enterFunc != nullptr) enterFunc(ctx, buffer);
}

LxEntryStack::~LxEntryStack() {
  if (leaveFunc == nullptr) return;
  auto at = [](const char* p) { return reinterpret_cast<uintptr_t>(p); };
  if (at(oldest) <= at(newest)) {
    for (char* e = oldest; at(e) <= at(newest); e += entrySize) leaveFunc(transactionContext, e);
  } else {
    for (char* e = bufferFirst; at(e) <= at(newest); e += entrySize) leaveFunc(transactionContext, e);
    for (char* e = oldest; at(e) <= at(bufferLast); e += entrySize) leaveFunc(transactionContext, e);
  }
}

char* LxEntryStack::GetNextEntry() {
  char* n = current == bufferLast ? bufferFirst : current + entrySize;
  if (n == oldest) return nullptr;
  if (current == newest) {
    newest = n;
    if (enterFunc != nullptr) enterFunc(transactionContext, n);
  }
  return n;
}

char* LxEntryStack::GetPrevEntry() {
  char* p = current == bufferFirst ? bufferLast : current - entrySize;
  if (p == newest) return nullptr;
  if (current == oldest) {
    oldest = p;
    if (enterFunc != nullptr) enterFunc(transactionContext, p);
  }
  return p;
}

char* LxEntryStack::SetCurrentEntryWithTest(void* entry) {
  uintptr_t e = reinterpret_cast<uintptr_t>(entry);
  uintptr_t o = reinterpret_cast<uintptr_t>(oldest);
  uintptr_t n = reinterpret_cast<uintptr_t>(newest);
  bool inside;
  if (o <= n) {
    inside = o <= e && e <= n;
  } else {
    inside = (reinterpret_cast<uintptr_t>(bufferFirst) <= e && e <= n) ||
             (o <= e && e <= reinterpret_cast<uintptr_t>(bufferLast));
  }
  if (!inside) return nullptr;
  current = static_cast<char*>(entry);
  return current;
}

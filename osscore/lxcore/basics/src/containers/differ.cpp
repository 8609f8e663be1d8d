// The container differ: the difference of two sequences, counted with
// repetition, through a diff list of parked entries.
#include <cmath>
#include <cstdint>

#include "lxcontainers.h"

LxDiffListIteratorInterface::LxDiffListIteratorInterface(LxVContainer* container)
    : LxVIterator(nullptr, container) {}

LxDiffListIteratorInterface::~LxDiffListIteratorInterface() = default;

namespace {

constexpr uint32_t kFromSecond = 1;  // callerFlags bit 0: the entry comes from the second sequence

// How many disagreeing comparisons the walk tolerates: larger * fraction,
// truncated toward zero and kept as its low 32 bits (fmod is exact, and so is
// the wrap of a negative remainder into 0 .. 2^32 - 1); a positive product below
// 1 gives 10. A product of 2^32 - 1 or more, NaN and -infinity give no limit.
uint32_t MismatchLimit(uint32_t larger, double fraction) {
  double product = static_cast<double>(larger) * fraction;
  if (!std::isfinite(product) || product >= 4294967295.0) return 0xFFFFFFFFu;
  double low = std::fmod(std::trunc(product), 4294967296.0);
  if (low < 0) low += 4294967296.0;
  uint32_t limit = static_cast<uint32_t>(low);
  if (limit == 0 && product > 0) limit = 10;
  return limit;
}

// A result of Next: LX_CONTAINER_BEHIND_LAST means the walk ran off its end, which is no failure.
bool StepFailed(int rc) { return rc < 0 && rc != LX_CONTAINER_BEHIND_LAST; }

bool OnEntry(const LxVIterator* it) { return it->GetStatus() == 0; }

}  // namespace

int32_t LxVContainerDiffer::Diff(LxVIterator* first, LxVIterator* second, LxVContainer* onlyFirst,
                                 LxVContainer* onlySecond, double fraction) {
  if (first == nullptr || second == nullptr || first->GetContainer() == nullptr ||
      second->GetContainer() == nullptr) {
    return LX_CONTAINER_UNBOUND;
  }
  if (diffList == nullptr) return LX_CONTAINER_NOT_IMPLEMENTED;
  uint32_t firstCount = first->GetContainer()->GetCount();
  uint32_t secondCount = second->GetContainer()->GetCount();
  const uint32_t limit = MismatchLimit(firstCount > secondCount ? firstCount : secondCount, fraction);

  LxVParameter param;
  uint32_t pendingFirst = 0;   // diff-list entries with a negative counter
  uint32_t pendingSecond = 0;  // diff-list entries with a positive counter
  uint32_t mismatches = 0;
  bool changed = false;
  int side = 1;  // whose entry is processed next: 1 first, 2 second, 0 none

  int rc = first->First();
  if (rc < 0 && rc != LX_CONTAINER_BEFORE_FIRST) return rc;
  rc = second->First();
  if (rc < 0 && rc != LX_CONTAINER_BEFORE_FIRST) return rc;

  for (;;) {
    const bool onFirst = OnEntry(first);
    const bool onSecond = OnEntry(second);
    if (!onFirst && !onSecond) break;
    bool process = false;
    if (!onFirst) {
      if (pendingFirst > 0) {
        side = 2;
        process = true;
      } else {
        param.callerFlags |= kFromSecond;
        if ((rc = onlySecond->InsertElement(second, nullptr, 0, &param)) < 0) return rc;
        changed = true;
        if (StepFailed(rc = second->Next())) return rc;
        side = 0;
      }
    } else if (!onSecond) {
      if (pendingSecond > 0) {
        side = 1;
        process = true;
      } else {
        param.callerFlags &= ~kFromSecond;
        if ((rc = onlyFirst->InsertElement(first, nullptr, 0, &param)) < 0) return rc;
        changed = true;
        if (StepFailed(rc = first->Next())) return rc;
        side = 0;
      }
    } else if (mismatches >= limit) {
      process = true;
    } else {
      int keyOrder = 0;
      int entryOrder = 0;
      if ((rc = first->CompareElement(second, nullptr, keyOrder, entryOrder, nullptr)) < 0) return rc;
      if (keyOrder != 0 || entryOrder != 0) {
        ++mismatches;
        if (side == 0) side = 1;
        process = true;
      } else {
        if (StepFailed(rc = first->Next())) return rc;
        if (StepFailed(rc = second->Next())) return rc;
        side = 0;
      }
    }
    if (!process) continue;

    if (side == 1) {
      rc = diffList->SearchElement(first, nullptr, 0, nullptr);
      if (rc >= 0) {
        int32_t* counter = diffList->GetDiffCount();
        if (counter == nullptr) return LX_CONTAINER_INTERNAL;
        if (--*counter == 0) {
          if ((rc = diffList->DeleteElement(0, nullptr)) < 0) return rc;
          --pendingSecond;
        }
      } else if (rc == LX_CONTAINER_NOT_FOUND || rc == LX_CONTAINER_NOT_FOUND_2) {
        param.callerFlags &= ~kFromSecond;
        if (!OnEntry(second)) {
          if ((rc = onlyFirst->InsertElement(first, nullptr, 0, &param)) < 0) return rc;
          changed = true;
        } else {
          if ((rc = diffList->InsertElement(first, nullptr, 0, &param)) < 0) return rc;
          ++pendingFirst;
          side = 2;
        }
      } else {
        return rc;
      }
      if (StepFailed(rc = first->Next())) return rc;
    }
    if (side == 2) {
      rc = diffList->SearchElement(second, nullptr, 0, nullptr);
      if (rc >= 0) {
        int32_t* counter = diffList->GetDiffCount();
        if (counter == nullptr) return LX_CONTAINER_INTERNAL;
        if (++*counter == 0) {
          if ((rc = diffList->DeleteElement(0, nullptr)) < 0) return rc;
          --pendingFirst;
        }
      } else if (rc == LX_CONTAINER_NOT_FOUND || rc == LX_CONTAINER_NOT_FOUND_2) {
        param.callerFlags |= kFromSecond;
        if (!OnEntry(first)) {
          if ((rc = onlySecond->InsertElement(second, nullptr, 0, &param)) < 0) return rc;
          changed = true;
        } else {
          if ((rc = diffList->InsertElement(second, nullptr, 0, &param)) < 0) return rc;
          ++pendingSecond;
          side = 1;
        }
      } else {
        return rc;
      }
      if (StepFailed(rc = second->Next())) return rc;
    }
  }

  // What is left parked goes to the side that holds it more often. The counters
  // stay as they are.
  for (rc = diffList->First(); rc >= 0 && OnEntry(diffList); rc = diffList->Next()) {
    int32_t* counter = diffList->GetDiffCount();
    if (counter == nullptr) return LX_CONTAINER_INTERNAL;
    int32_t c = *counter;
    for (; c < 0; ++c) {
      param.callerFlags &= ~kFromSecond;
      if ((rc = onlyFirst->InsertElement(diffList, nullptr, 0, &param)) < 0) return rc;
      changed = true;
    }
    for (; c > 0; --c) {
      param.callerFlags |= kFromSecond;
      if ((rc = onlySecond->InsertElement(diffList, nullptr, 0, &param)) < 0) return rc;
      changed = true;
    }
  }
  if (rc >= 0 || rc == LX_CONTAINER_BEFORE_FIRST || rc == LX_CONTAINER_BEHIND_LAST) return changed ? 1 : 0;
  return rc;
}

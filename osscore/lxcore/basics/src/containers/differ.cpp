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

// One call of Diff. Each sequence is a side: its iterator, its result container,
// the sign it gives diff-list counters and the number of diff-list entries it has
// parked (counters of its sign). An entry that cannot be matched in step is
// settled against the diff list: it cancels a parked entry of the other side, or
// is parked itself.
class DiffWalk {
 public:
  DiffWalk(LxDiffListIteratorInterface* diffList, LxVIterator* first, LxVIterator* second,
           LxVContainer* onlyFirst, LxVContainer* onlySecond)
      : diffList_(diffList),
        first_{first, onlyFirst, -1, 0, 0},
        second_{second, onlySecond, +1, kFromSecond, 0} {}

  // Diff's result: 1 when anything was reported, 0 when not, or the first failure.
  int32_t Run(uint32_t limit);

 private:
  struct Side {
    LxVIterator* it;
    LxVContainer* only;    // its result container
    int32_t step;          // what one of its entries adds to a diff-list counter
    uint32_t callerFlags;  // its side bit
    uint32_t parked;       // diff-list entries whose counter has its sign
  };

  // Walks both sides, in step while they agree; returns 0 or the first failure.
  int Walk(uint32_t limit);
  // Settles the entry at which `me` stands, then steps `me` on. `next` becomes
  // the other side when the entry was parked.
  int Settle(Side& me, Side& other, Side*& next);
  // Inserts the entry at which `source` stands into `me`'s result container.
  int Report(const Side& me, LxVIterator* source);
  // Reports what is left parked to the side that holds it more often; the
  // counters stay as they are. Returns the diff list's last result (its end
  // marker once the walk is through) or the first failure.
  int Flush();

  LxDiffListIteratorInterface* diffList_;
  Side first_, second_;
  LxVParameter param_;  // callerFlags bit 0 tells the result containers the side
  bool changed_ = false;
};

int32_t DiffWalk::Run(uint32_t limit) {
  int rc = first_.it->First();
  if (rc < 0 && rc != LX_CONTAINER_BEFORE_FIRST) return rc;
  rc = second_.it->First();
  if (rc < 0 && rc != LX_CONTAINER_BEFORE_FIRST) return rc;
  if ((rc = Walk(limit)) < 0) return rc;
  rc = Flush();
  if (rc >= 0 || rc == LX_CONTAINER_BEFORE_FIRST || rc == LX_CONTAINER_BEHIND_LAST) return changed_ ? 1 : 0;
  return rc;
}

int DiffWalk::Walk(uint32_t limit) {
  uint32_t mismatches = 0;
  Side* next = &first_;  // whose entry is settled next; null: none
  int rc;
  for (;;) {
    const bool onFirst = OnEntry(first_.it);
    const bool onSecond = OnEntry(second_.it);
    if (!onFirst && !onSecond) return 0;
    if (onFirst != onSecond) {
      // One side has ended: the other's entries settle while the ended side has
      // entries parked, and go straight to their result container after that.
      Side& on = onFirst ? first_ : second_;
      Side& ended = onFirst ? second_ : first_;
      if (ended.parked == 0) {
        if ((rc = Report(on, on.it)) < 0) return rc;
        if (StepFailed(rc = on.it->Next())) return rc;
        next = nullptr;
        continue;
      }
      next = &on;
    } else if (mismatches < limit) {
      int keyOrder = 0;
      int entryOrder = 0;
      if ((rc = first_.it->CompareElement(second_.it, nullptr, keyOrder, entryOrder, nullptr)) < 0) return rc;
      if (keyOrder == 0 && entryOrder == 0) {
        if (StepFailed(rc = first_.it->Next())) return rc;
        if (StepFailed(rc = second_.it->Next())) return rc;
        next = nullptr;
        continue;
      }
      ++mismatches;
      if (next == nullptr) next = &first_;
    }
    // Past the limit both sides take turns through the diff list.
    if (next == &first_ && (rc = Settle(first_, second_, next)) < 0) return rc;
    if (next == &second_ && (rc = Settle(second_, first_, next)) < 0) return rc;
  }
}

// Inline: the walk's loop has two call sites, and a call would keep both sides
// in memory.
inline int DiffWalk::Settle(Side& me, Side& other, Side*& next) {
  int rc = diffList_->SearchElement(me.it, nullptr, 0, nullptr);
  if (rc >= 0) {
    int32_t* counter = diffList_->GetDiffCount();
    if (counter == nullptr) return LX_CONTAINER_INTERNAL;
    *counter += me.step;
    if (*counter == 0) {
      if ((rc = diffList_->DeleteElement(0, nullptr)) < 0) return rc;
      --other.parked;
    }
  } else if (rc == LX_CONTAINER_NOT_FOUND || rc == LX_CONTAINER_NOT_FOUND_2) {
    if (!OnEntry(other.it)) {
      if ((rc = Report(me, me.it)) < 0) return rc;
    } else {
      param_.callerFlags = (param_.callerFlags & ~kFromSecond) | me.callerFlags;
      if ((rc = diffList_->InsertElement(me.it, nullptr, 0, &param_)) < 0) return rc;
      ++me.parked;
      next = &other;
    }
  } else {
    return rc;
  }
  rc = me.it->Next();
  return StepFailed(rc) ? rc : 0;
}

int DiffWalk::Report(const Side& me, LxVIterator* source) {
  param_.callerFlags = (param_.callerFlags & ~kFromSecond) | me.callerFlags;
  int rc = me.only->InsertElement(source, nullptr, 0, &param_);
  if (rc >= 0) changed_ = true;
  return rc;
}

int DiffWalk::Flush() {
  int rc;
  for (rc = diffList_->First(); rc >= 0 && OnEntry(diffList_); rc = diffList_->Next()) {
    int32_t* counter = diffList_->GetDiffCount();
    if (counter == nullptr) return LX_CONTAINER_INTERNAL;
    for (int32_t c = *counter; c != 0; c += c < 0 ? 1 : -1) {
      if ((rc = Report(c < 0 ? first_ : second_, diffList_)) < 0) return rc;
    }
  }
  return rc;
}

}  // namespace

int32_t LxVContainerDiffer::Diff(LxVIterator* first, LxVIterator* second, LxVContainer* onlyFirst,
                                 LxVContainer* onlySecond, double fraction) {
  if (first == nullptr || second == nullptr || first->GetContainer() == nullptr ||
      second->GetContainer() == nullptr) {
    return LX_CONTAINER_UNBOUND;
  }
  if (diffList == nullptr) return LX_CONTAINER_NOT_IMPLEMENTED;
  const uint32_t firstCount = first->GetContainer()->GetCount();
  const uint32_t secondCount = second->GetContainer()->GetCount();
  const uint32_t limit = MismatchLimit(firstCount > secondCount ? firstCount : secondCount, fraction);
  return DiffWalk(diffList, first, second, onlyFirst, onlySecond).Run(limit);
}

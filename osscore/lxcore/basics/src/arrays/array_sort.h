// The sorting engine behind LxVArray::Sort, and direct element addressing for
// the lists.
//
// The result is that of the plain quicksort with the first element of each range
// as pivot (see LxVArray::Sort), element for element, equal keys included. The
// engine reaches it with less work where that cannot change the result: a range
// that is strictly ascending is left alone, one that is strictly descending is
// reversed (distinct keys have only one sorted order), and a range whose keys are
// all equal is rotated left by one place, which is what the partitions would do to
// it one element at a time. The smaller side of each partition is sorted first by
// recursion and the larger one by iteration, so the nesting depth stays below
// log2(count) + 1.
#pragma once

#include <cstdint>

#include "lxarrays.h"

namespace lxarrays {

// Both list kinds keep their elements back to back in one block. Returns the
// first element when the array is one of them and its first and last element
// confirm that layout (so that element i lies at first + i * elementSize), else
// null (also for an empty array).
unsigned char* ContiguousElements(const LxVArray* array);

// Sorts elements 0 .. count - 1 of `array` under `compare`, using `scratch` (one
// element) for moves. REQUIRES: the array's count fits in int32_t.
void SortArray(LxVArray* array, LxArrayCompareFunc compare, unsigned char* scratch);

}  // namespace lxarrays

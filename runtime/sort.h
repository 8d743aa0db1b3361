// In-place sorts of fixed-width records with a comparison callback: a stable
// natural merge sort and a faster unstable partition sort.
//
// Both stay within the array and end whatever the comparator answers (a
// comparator that contradicts itself gives some order, never a fault), and a
// comparator that throws leaves the array a permutation of its input.
#pragma once

#include "runtime/base.h"

namespace zot::sort {

// Below 0 when a sorts before b, 0 when equal, above 0 when after.
using Compare = int (*)(const void* a, const void* b, void* context);

// Sorts stably. Needs a scratch buffer of (count / 2) * width bytes (small
// ones on the machine stack); throws std::bad_alloc when it cannot be had.
void merge_sort(void* base, std::size_t count, std::size_t width, Compare cmp, void* context);

// Sorts in place; equal records end in any order. Never allocates.
void quick_sort(void* base, std::size_t count, std::size_t width, Compare cmp, void* context);

// Sorts stably with merge_sort or else with quick_sort; a scratch buffer that
// cannot be had raises internal/no-memory.
void records(void* base, std::size_t count, std::size_t width, Compare cmp, void* context, bool stable);

// Exchanges two records of width bytes, a byte at a time when bytewise, else
// four bytes at a time (width a multiple of 4).
void swap(void* a, void* b, std::size_t width, bool bytewise);

}  // namespace zot::sort

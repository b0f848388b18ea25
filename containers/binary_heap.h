// Binary min-heap steps over a growable_array under the key order of compare_keys.
// Pure functions over the caller's array; the caller guards it.
//
// The array is an implicit tree: the children of i are 2i + 1 and 2i + 2, the parent (i - 1) / 2,
// and every parent is <= each of its children, so index 0 holds a smallest element. The exact
// swap choices below are part of the observable order of `all` and of a saved heap.
#pragma once

#include <cstdint>
#include <utility>

#include "containers/growable_array.h"
#include "values/scalar.h"

namespace qn::db::nosql::nosql_db {

// Appends v and sifts it up: every node on the way to the root is compared with its parent and
// swapped when the parent is greater; the walk always runs up to index 0.
template <class T>
void heap_push(growable_array<T>& heap, const T& v) {
  heap.push_back(v);
  for (uint64_t i = heap.size() - 1; i != 0;) {
    const uint64_t parent = (i - 1) / 2;
    if (compare_keys(heap[parent], heap[i]) > 0) std::swap(heap[parent], heap[i]);
    i = parent;
  }
}

// Removes index 0: the last element moves there and sifts down. With one child it swaps when the
// child is smaller; with two it takes the right child when left >= right, else the left, and
// swaps when that child is smaller than the node. Requires: !heap.empty().
template <class T>
void heap_pop(growable_array<T>& heap) {
  const uint64_t n = heap.size() - 1;
  if (n != 0) heap[0] = std::move(heap[n]);
  heap.pop_back();
  for (uint64_t i = 0;;) {
    const uint64_t left = 2 * i + 1, right = left + 1;
    if (left >= n) return;
    uint64_t child = left;
    if (right < n && compare_keys(heap[left], heap[right]) >= 0) child = right;
    if (compare_keys(heap[child], heap[i]) >= 0) return;
    std::swap(heap[child], heap[i]);
    i = child;
  }
}

}  // namespace qn::db::nosql::nosql_db

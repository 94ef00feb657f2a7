// heap.h: a binary heap of columns with each column's place in it, so that
// a column can be removed or moved wherever it stands. The order is a
// comparison the caller passes; the potential engine keeps two such heaps.
#ifndef PAIRSOLVE_HEAP_H
#define PAIRSOLVE_HEAP_H

#include "basics.h"

namespace {

// Ordered by before(a, b): column a comes first.
struct ColumnHeap {
  int *entry;  // the columns, entry[0] first
  int *slot;   // per column: its place in entry, or kNone
  int size;
};

inline void heapPlace(ColumnHeap &heap, int at, int c) {
  heap.entry[at] = c;
  heap.slot[c] = at;
}

template <class Before>
void heapUp(ColumnHeap &heap, int at, Before before) {
  int c = heap.entry[at];
  while (at > 0) {
    int parent = (at - 1) / 2;
    if (!before(c, heap.entry[parent])) break;
    heapPlace(heap, at, heap.entry[parent]);
    at = parent;
  }
  heapPlace(heap, at, c);
}

template <class Before>
void heapDown(ColumnHeap &heap, int at, Before before) {
  int c = heap.entry[at];
  for (;;) {
    int child = 2 * at + 1;
    if (child >= heap.size) break;
    if (child + 1 < heap.size && before(heap.entry[child + 1], heap.entry[child])) ++child;
    if (!before(heap.entry[child], c)) break;
    heapPlace(heap, at, heap.entry[child]);
    at = child;
  }
  heapPlace(heap, at, c);
}

template <class Before>
void heapPush(ColumnHeap &heap, int c, Before before) {
  heapPlace(heap, heap.size++, c);
  heapUp(heap, heap.size - 1, before);
}

// Removes the column at place at.
template <class Before>
void heapRemove(ColumnHeap &heap, int at, Before before) {
  heap.slot[heap.entry[at]] = kNone;
  if (--heap.size == at) return;
  heapPlace(heap, at, heap.entry[heap.size]);
  heapDown(heap, at, before);
  heapUp(heap, at, before);
}

}  // namespace

#endif

// replay.h: what the hybrid engine (hybrid.h) knows of the steps' own
// arithmetic. The steps, run in doubles element by element, compute each
// working cost by one chain of roundings: the reduced cost R0 (the cost
// minus its line's least, rounded), then at every step 5 h + F for a
// covered row and F - h for an uncovered column, in that order. This part
// owns the log from which that chain can be run again for any one element
// (the h of every step 5; per phase, when each row was covered and each
// column uncovered; when each column was first starred), the run itself
// (replayElement), a small cache of the last value replayed per element, and
// the margin within which the engine's own value of a working cost is known
// to lie around the steps' one.
//
// Scratch: O(M + N) for the per-line parts and the cache, plus the log,
// which grows by one entry per step 5 and per row covered in step 3.
#ifndef PAIRSOLVE_REPLAY_H
#define PAIRSOLVE_REPLAY_H

#include <cmath>
#include <cstdint>
#include <cstring>

#include "basics.h"

namespace {

// The unit roundoff of doubles: a sum or difference, rounded to nearest,
// differs from the exact one by at most this times its magnitude.
constexpr double kUnitRoundoff = 0x1p-53;
// The margin's weights (see hybridDelta in hybrid.h, which proves them):
// per step 5, per phase and a constant, in units of the roundoff.
#if defined(PAIRSOLVE_HYBRID_MARGIN_ZERO)
// A deliberately wrong build (tests only): no margin, so the randomized
// engine comparison must report mismatches.
constexpr double kMarginPerStep = 0.0;
constexpr double kMarginPerPhase = 0.0;
constexpr double kMarginConstant = 0.0;
#else
constexpr double kMarginPerStep = 128.0;
constexpr double kMarginPerPhase = 64.0;
constexpr double kMarginConstant = 1024.0;
#endif
// The cache holds this many entries per row plus column (a power of two
// at least that large in all).
constexpr int kCachePerLine = 4;
// Step counts are ints: a solve that would take more step 5s goes to the
// dense engine.
constexpr std::int64_t kMostSteps = 1 << 30;
constexpr int kNotYet = 0x7fffffff;  // a column not starred yet

// An array that grows by doubling, its blocks taken from a Scratch (the
// old block stays until the solve ends: at most as much again).
template <class T>
struct Growing {
  T *data = nullptr;
  int size = 0;
  int capacity = 0;
};

template <class T>
void grow(Growing<T> &array, Scratch &scratch, T value) {
  if (array.size == array.capacity) {
    int capacity = array.capacity < 64 ? 64 : 2 * array.capacity;
    T *data = scratch.take<T>(capacity);
    if (array.size > 0) std::memcpy(data, array.data, sizeof(T) * array.size);
    array.data = data;
    array.capacity = capacity;
  }
  array.data[array.size++] = value;
}

// One log of intervals per line: line i's events, newest first through
// previous, each the step count at which the line was covered (rows) or
// uncovered (columns) in step 3 and the phase it happened in; the line
// stays so until that phase ends.
struct LineEvents {
  Growing<int> step;
  Growing<int> phase;
  Growing<int> previous;
  int *last;  // per line: its newest event, or kNone
};

void addEvent(LineEvents &events, Scratch &scratch, int line, int step, int phase) {
  grow(events.step, scratch, step);
  grow(events.phase, scratch, phase);
  grow(events.previous, scratch, events.last[line]);
  events.last[line] = events.step.size - 1;
}

struct Replay {
  const double *C;
  int M, N;
  double substitute;  // stands for every non-finite cost
  // R0 = (cost - rowBase[r]) - colBase[c]: one of them is zero, the other
  // the line's least cost (the reduction of the steps, rounded as they
  // round it).
  const double *rowBase;
  const double *colBase;
  Scratch *scratch;
  Growing<double> h;  // the h of every step 5 so far
  int phase;          // the current phase (phases count from 1)
  int *phaseStart;    // per phase: the step 5s before it began
  LineEvents rows, columns;
  int *starredAt;  // per column: the step 5s before its first star, or kNotYet
  // The cache: per entry an element, its value after the first step
  // entries of h (or key -1: empty).
  std::int64_t *cacheKey;
  double *cacheValue;
  int *cacheStep;
  int cacheBits;
  // The margin's factor now (hybridDelta in hybrid.h): a working cost of
  // the engine lies within delta * (|w| + 4 T) of the steps' one.
  double delta;
  // Replay work left (operations) before the solve is handed to the dense
  // engine, and whether that happened.
  std::int64_t budget;
  bool exhausted;
  // Buffers for one replay's intervals: [start, end) step ranges.
  int *rowFrom, *rowTo, *colFrom, *colTo;
  int *candidates;  // room for M rows: a step 5's candidate zero rows
};

// The reduced cost of (r, c) as the steps compute it.
inline double reducedCost(const Replay &replay, int r, int c) {
  double x = replay.C[at(r, c, replay.M)];
  if (!std::isfinite(x)) x = replay.substitute;
  return (x - replay.rowBase[r]) - replay.colBase[c];
}

// The step count at which the interval of an event of phase phase ends.
inline int phaseEnd(const Replay &replay, int phase) {
  return phase == replay.phase ? replay.h.size : replay.phaseStart[phase + 1];
}

// The intervals of line line's events that end after step from, oldest
// first, clipped to start at from; returns their number.
int eventsAfter(const Replay &replay, const LineEvents &events, int line, int from, int *starts,
                int *ends) {
  int count = 0;
  for (int k = events.last[line]; k != kNone; k = events.previous.data[k]) {
    int end = phaseEnd(replay, events.phase.data[k]);
    if (end <= from) break;
    int start = events.step.data[k];
    starts[count] = start > from ? start : from;
    ends[count] = end;
    ++count;
  }
  for (int i = 0, j = count - 1; i < j; ++i, --j) {
    int s = starts[i], e = ends[i];
    starts[i] = starts[j];
    ends[i] = ends[j];
    starts[j] = s;
    ends[j] = e;
  }
  return count;
}

inline int cacheSlot(const Replay &replay, std::int64_t element) {
  std::uint64_t mixed = static_cast<std::uint64_t>(element) * 0x9E3779B97F4A7C15ull;
  return static_cast<int>(mixed >> (64 - replay.cacheBits));
}

// The working cost (r, c) as the steps have it now: their chain of
// roundings run again, from the cached value when there is one.
double replayElement(Replay &replay, int r, int c) {
  std::int64_t element = at(r, c, replay.M);
  int slot = cacheSlot(replay, element);
  double F;
  int t;
  if (replay.cacheKey[slot] == element) {
    F = replay.cacheValue[slot];
    t = replay.cacheStep[slot];
  } else {
    F = reducedCost(replay, r, c);
    t = 0;
  }
  int now = replay.h.size;
  if (t < now) {
    int rowCount = eventsAfter(replay, replay.rows, r, t, replay.rowFrom, replay.rowTo);
    // A column is uncovered at every step 5 before its first star.
    int *colFrom = replay.colFrom;
    int *colTo = replay.colTo;
    int colCount = 0;
    if (replay.starredAt[c] > t) {
      colFrom[0] = t;
      colTo[0] = replay.starredAt[c] < now ? replay.starredAt[c] : now;
      colCount = 1;
    }
    colCount += eventsAfter(replay, replay.columns, c, t, colFrom + colCount, colTo + colCount);
    const double *h = replay.h.data;
    int i = 0, j = 0;
    std::int64_t operations = 0;
    while (t < now) {
      while (i < rowCount && replay.rowTo[i] <= t) ++i;
      while (j < colCount && colTo[j] <= t) ++j;
      bool covered = i < rowCount && replay.rowFrom[i] <= t;
      bool uncovered = j < colCount && colFrom[j] <= t;
      int end = now;
      if (i < rowCount) end = covered ? replay.rowTo[i] : replay.rowFrom[i];
      if (j < colCount) {
        int other = uncovered ? colTo[j] : colFrom[j];
        if (other < end) end = other;
      }
      if (end > now) end = now;
      if (covered && uncovered) {
        for (int s = t; s < end; ++s) F = (h[s] + F) - h[s];
        operations += 2 * static_cast<std::int64_t>(end - t);
      } else if (covered) {
        for (int s = t; s < end; ++s) F = h[s] + F;
        operations += end - t;
      } else if (uncovered) {
        for (int s = t; s < end; ++s) F = F - h[s];
        operations += end - t;
      }
      t = end;
    }
    replay.budget -= operations + rowCount + colCount + 1;
    replay.exhausted = replay.exhausted || replay.budget < 0;
    replay.cacheKey[slot] = element;
    replay.cacheValue[slot] = F;
    replay.cacheStep[slot] = now;
  }
  return F;
}

}  // namespace

#endif

// replay.h: what the hybrid engine (hybrid.h) knows of the steps' own
// arithmetic. The steps, run in doubles element by element, compute each
// working cost by one chain of roundings: the reduced cost R0 (the cost
// minus its line's least, rounded), then at every step 5 h + F for a
// covered row and F - h for an uncovered column, in that order. This part
// owns the log from which that chain can be run again for any one element
// (the h of every step 5; per phase, when each row was covered and each
// column uncovered; when each column was first starred), the run itself
// (replayElement), and a small cache of the last value replayed per
// element. The margin that says when a replay is needed is the hybrid
// policy's (hybrid.h).
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

// The cache holds this many entries per row plus column (a power of two
// at least that large in all).
constexpr int kCachePerLine = 8;
// Step counts are ints: a solve that would take more step 5s goes to the
// dense engine.
constexpr std::int64_t kMostSteps = 1 << 30;
constexpr int kNotYet = 0x7fffffff;  // a column not starred yet

// An array that grows by doubling from kLeastGrowing entries, its blocks
// taken from a Scratch (the old block stays until the solve ends: at most
// as much again).
constexpr int kLeastGrowing = 16;
template <class T>
struct Growing {
  T *data = nullptr;
  int size = 0;
  int capacity = 0;
};

template <class T>
void grow(Growing<T> &array, Scratch &scratch, T value) {
  if (array.size == array.capacity) {
    int capacity = array.capacity < kLeastGrowing ? kLeastGrowing : 2 * array.capacity;
    T *data = scratch.take<T>(capacity);
    if (array.size > 0) std::memcpy(data, array.data, sizeof(T) * array.size);
    array.data = data;
    array.capacity = capacity;
  }
  array.data[array.size++] = value;
}

// One log of intervals per line. An event: the line was covered (rows) or
// uncovered (columns) in step 3 after some number of step 5s, in some
// phase, and stayed so until that phase ended. A line has at most one event
// per phase. A line's events are kept in chunks of kChunkEvents (one cache
// line), newest chunk first, so that a replay walks them with few misses.
constexpr int kChunkEvents = 7;

struct EventChunk {
  int step[kChunkEvents];
  int phase[kChunkEvents];
  int count;
  int previous;  // the line's chunk before this one, or kNone
};

// What a replay needs of a line's newest events without reading its
// chunks: its newest chunk (or kNone), the newest event's step and phase,
// and the end of the event before it (0 if none).
struct LineNewest {
  int chunk;
  int step;
  int phase;
  int olderEnd;
};

// The chunks of a log, in blocks of 2^blockBits taken as needed (never
// moved, so nothing is copied as the log grows). A block holds about a
// chunk per four rows plus columns, between 2^4 and 2^10, so that a small
// solve's log takes little room and a large one's few blocks.
constexpr int kLeastChunkBlockBits = 4;
constexpr int kMostChunkBlockBits = 10;
constexpr int kLinesPerBlockChunk = 4;

struct LineEvents {
  Growing<EventChunk *> blocks;
  int blockBits;
  int chunks;          // chunks in use
  LineNewest *newest;  // per line
};

// The block size for a matrix of M + N lines.
inline int chunkBlockBits(std::int64_t lines) {
  int bits = kLeastChunkBlockBits;
  while (bits < kMostChunkBlockBits && (std::int64_t{1} << bits) * kLinesPerBlockChunk < lines) {
    ++bits;
  }
  return bits;
}

inline EventChunk &chunkAt(const LineEvents &events, int k) {
  return events.blocks.data[k >> events.blockBits][k & ((1 << events.blockBits) - 1)];
}

// A new chunk at the end of the log, holding no event; returns its index.
int newChunk(LineEvents &events, Scratch &scratch, int previous) {
  if (events.chunks == events.blocks.size << events.blockBits) {
    grow(events.blocks, scratch, scratch.take<EventChunk>(std::int64_t{1} << events.blockBits));
  }
  EventChunk &chunk = chunkAt(events, events.chunks);
  chunk.count = 0;
  chunk.previous = previous;
  return events.chunks++;
}

// Per phase, the step 5s before it began (phaseStart[p]); the current
// phase's intervals end now.
inline int phaseEnd(const Growing<int> &phaseStart, int phase, int now) {
  return phase + 1 < phaseStart.size ? phaseStart.data[phase + 1] : now;
}

void addEvent(LineEvents &events, Scratch &scratch, const Growing<int> &phaseStart, int line,
              int step, int phase) {
  LineNewest &newest = events.newest[line];
  newest.olderEnd = newest.chunk != kNone ? phaseEnd(phaseStart, newest.phase, step) : 0;
  if (newest.chunk == kNone || chunkAt(events, newest.chunk).count == kChunkEvents) {
    newest.chunk = newChunk(events, scratch, newest.chunk);
  }
  EventChunk &chunk = chunkAt(events, newest.chunk);
  chunk.step[chunk.count] = step;
  chunk.phase[chunk.count] = phase;
  ++chunk.count;
  newest.step = step;
  newest.phase = phase;
}

struct Replay {
  const double *C;
  int M, N;
  double substitute;  // stands for every non-finite cost (but NaN when nanInPlace)
  bool nanInPlace;
  // R0 = (cost - rowBase[r]) - colBase[c]: one of them is zero, the other
  // the line's least cost (the reduction of the steps, rounded as they
  // round it).
  const double *rowBase;
  const double *colBase;
  Scratch *scratch;
  Growing<double> h;  // the h of every step 5 so far
  // Per phase (phases count from 1; entry 0 is unused), the step 5s before
  // it began.
  Growing<int> phaseStart;
  LineEvents rows, columns;
  int *starredAt;  // per column: the step 5s before its first star, or kNotYet
  // The cache: per entry an element, its value after the first step
  // entries of h (or key -1: empty).
  std::int64_t *cacheKey;
  double *cacheValue;
  int *cacheStep;
  int cacheBits;
  // Replay work left (operations) before the solve is handed to the dense
  // engine, and whether that happened.
  std::int64_t budget;
  bool exhausted;
  // Buffers for one replay's intervals, [start, end) step ranges: room for
  // intervals per row (one per phase), one more per column.
  int intervals;
  int *rowFrom, *rowTo, *colFrom, *colTo;
};

// A cost as the steps read it: NaN stays NaN when nanInPlace (the first
// solve, which leaves NaN in place), and the other non-finite costs are the
// substitute.
inline double stepsCost(double x, double substitute, bool nanInPlace) {
  return std::isfinite(x) || (nanInPlace && x != x) ? x : substitute;
}

// The reduced cost of (r, c) as the steps compute it.
inline double reducedCost(const Replay &replay, int r, int c) {
  double x = stepsCost(replay.C[at(r, c, replay.M)], replay.substitute, replay.nanInPlace);
  return (x - replay.rowBase[r]) - replay.colBase[c];
}

// The intervals of line line's events that end after step from (now for
// the current phase's), clipped to start at from, oldest first, written to
// the last places of starts[0, capacity) and ends; returns their number.
int eventsAfter(const LineEvents &events, const Growing<int> &phaseStart, int line, int from,
                int now, int *starts, int *ends, int capacity) {
  const LineNewest &newest = events.newest[line];
  if (newest.chunk == kNone) return 0;
  int end = phaseEnd(phaseStart, newest.phase, now);
  if (end <= from) return 0;
  int place = capacity - 1;
  starts[place] = newest.step > from ? newest.step : from;
  ends[place] = end;
  if (newest.olderEnd <= from) return 1;
  // The older events: every event of the newest chunk but its last, then
  // the chunks before it.
  int skip = 1;
  for (int k = newest.chunk; k != kNone;) {
    const EventChunk &chunk = chunkAt(events, k);
    for (int i = chunk.count - 1 - skip; i >= 0; --i) {
      int older = phaseEnd(phaseStart, chunk.phase[i], now);
      if (older <= from) return capacity - place;
      --place;
      starts[place] = chunk.step[i] > from ? chunk.step[i] : from;
      ends[place] = older;
    }
    skip = 0;
    k = chunk.previous;
  }
  return capacity - place;
}

inline int cacheSlotX(const Replay &replay, std::int64_t element) {
  std::uint64_t mixed = static_cast<std::uint64_t>(element) * 0x9E3779B97F4A7C15ull;
  return static_cast<int>(mixed >> (64 - replay.cacheBits));
}

// Element (r, c)'s chain of roundings run from its value F after t step
// 5s up to now; adds the work it took (operations and intervals read) to
// *work.
double runChain(Replay &replay, int r, int c, double F, int t, std::int64_t *work) {
  int now = replay.h.size;
  if (t >= now) return F;
  int capacity = replay.intervals;
  int rowCount = eventsAfter(replay.rows, replay.phaseStart, r, t, now, replay.rowFrom,
                             replay.rowTo, capacity);
  const int *rowFrom = replay.rowFrom + capacity - rowCount;
  const int *rowTo = replay.rowTo + capacity - rowCount;
  // A column is uncovered at every step 5 before its first star: that
  // interval comes before its events.
  int colCount = eventsAfter(replay.columns, replay.phaseStart, c, t, now, replay.colFrom,
                             replay.colTo, capacity + 1);
  int *colFrom = replay.colFrom + capacity + 1 - colCount;
  int *colTo = replay.colTo + capacity + 1 - colCount;
  if (replay.starredAt[c] > t) {
    --colFrom;
    --colTo;
    colFrom[0] = t;
    colTo[0] = replay.starredAt[c] < now ? replay.starredAt[c] : now;
    ++colCount;
  }
  const double *h = replay.h.data;
  int i = 0, j = 0;
  std::int64_t operations = 0;
  while (t < now) {
    while (i < rowCount && rowTo[i] <= t) ++i;
    while (j < colCount && colTo[j] <= t) ++j;
    bool covered = i < rowCount && rowFrom[i] <= t;
    bool uncovered = j < colCount && colFrom[j] <= t;
    int end = now;
    if (i < rowCount) end = covered ? rowTo[i] : rowFrom[i];
    if (j < colCount) {
      int other = uncovered ? colTo[j] : colFrom[j];
      if (other < end) end = other;
    }
    if (end > now) end = now;
    if (covered && uncovered) {
      // (h + 0) - h is 0: a zero stays one through such steps.
      if (F != 0.0) {
        for (int s = t; s < end; ++s) F = (h[s] + F) - h[s];
        operations += 2 * static_cast<std::int64_t>(end - t);
      }
    } else if (covered) {
      for (int s = t; s < end; ++s) F = h[s] + F;
      operations += end - t;
    } else if (uncovered) {
      for (int s = t; s < end; ++s) F = F - h[s];
      operations += end - t;
    }
    t = end;
  }
  *work += operations + rowCount + colCount + 1;
  return F;
}

// The working cost (r, c) as the steps have it now: their chain of
// roundings run again, from the cached value when there is one.
double replayElement(Replay &replay, int r, int c) {
  std::int64_t element = at(r, c, replay.M);
  int slot = cacheSlotX(replay, element);
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
    std::int64_t work = 0;
    F = runChain(replay, r, c, F, t, &work);
    replay.budget -= work;
    replay.exhausted = replay.exhausted || replay.budget < 0;
    replay.cacheKey[slot] = element;
    replay.cacheValue[slot] = F;
    replay.cacheStep[slot] = now;
  }
  return F;
}

// The same from the reduced cost, without the cache or the budget (the
// decision-checking build).
inline double replayUncached(Replay &replay, int r, int c) {
  std::int64_t work = 0;
  return runChain(replay, r, c, reducedCost(replay, r, c), 0, &work);
}

}  // namespace

#endif

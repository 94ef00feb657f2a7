// basics.h: what every part of pairsolve uses. The element index of a
// column-major matrix, the index that stands for no row or column, +Inf,
// the unit roundoff, the outcomes of a solve, and Scratch
// (common/scratch.h), the one owner of a solve's memory, whose allocator
// the caller passes: the plug-in the host's, the tests and benchmarks the
// C library's. No part of the solver needs a host.
#ifndef PAIRSOLVE_BASICS_H
#define PAIRSOLVE_BASICS_H

#include <cstddef>
#include <cstdint>
#include <limits>

#include "scratch.h"

namespace {

// No row or column (an index that is not one).
constexpr int kNone = -1;

constexpr double kInf = std::numeric_limits<double>::infinity();

// The unit roundoff of doubles: a sum or difference, rounded to nearest,
// differs from the exact one by at most this times its magnitude.
constexpr double kUnitRoundoff = 0x1p-53;

// How a solve ends: complete (the stars are the pairs); stuck (the steps
// cannot complete: NaN or overflowed working costs); inexact (the exact
// engine cannot take these costs); refused (the costs were refused before
// anything was solved, with a failure saying why).
enum class SolveOutcome { complete, stuck, inexact, refused };

// Element (r, c) of an M-row column-major matrix.
inline std::int64_t at(int r, int c, int M) {
  return static_cast<std::int64_t>(r) + static_cast<std::int64_t>(M) * c;
}

}  // namespace

#endif

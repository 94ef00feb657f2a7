// pairsolve: minimum-cost assignment of rows to columns by the Munkres
// covering method.
//
//   [assignment, cost] = pairsolve(C)
//
// C is an M-by-N matrix of non-negative costs; Inf (and NaN, see below)
// marks a forbidden pair. assignment(r) is the column paired with row r, or
// 0; cost is the sum of the paired costs.
//
// The result is the one the classic steps reach: an initial reduction and
// initial stars, then step 2b (done?), step 3 (prime uncovered zeros, columns
// ascending, the first uncovered zero row of each column, a new pass after
// every pass that primed), step 4 (move stars along the alternating path),
// step 2a (cover starred columns) and step 5 (add h to the covered rows, then
// subtract it from the uncovered columns). Among equal-cost assignments that
// fixes which one is returned, and the floating-point operations fix every
// working cost. Three engines reach exactly that result, faster than a
// literal transcription of the steps; plan.h chooses among them:
//
// - The dense engine works for every input. It keeps the working costs in a
//   matrix, but stars, primes and covers as row and column indices, follows
//   step 4's path in time proportional to the path, takes h from per-row
//   minima kept up to date, and finds zeros from per-column candidate rows.
//   Step 5 only records h: every working cost later receives exactly the
//   additions and subtractions the steps make, in the same order, when its
//   phase ends or when its column is next uncovered (see dense.h).
// - The potential engine never forms a working matrix: a working cost is a
//   cost minus a column potential minus a row potential; each column keeps
//   the rows of its least reduced costs and a bound for the others (which
//   tell its zeros and its least uncovered cost without reading it), and
//   step 5 takes h from a heap of columns and changes potentials only. Its
//   scratch is O(M + N). It runs with one of three policies, each with its
//   own proof that its decisions are the steps':
//   - exact (exact.h): costs on which one pass proves every operation of
//     the steps exact (integers, or integer multiples of one power of two,
//     small enough), read as they are;
//   - grid (grid.h): finite costs on one power-of-two grid g whose largest
//     is at most 2^53 g, where the steps in doubles may round: read in
//     int64 units of g, then a check in O(M + N) proves the steps in
//     doubles make the same decisions;
//   - hybrid (hybrid.h): the other real-valued inputs, Inf and NaN
//     included: the steps' reduced costs in doubles, each zero test and
//     each least cost decided by a margin that bounds its own and the
//     steps' rounding, or, where the margin is not clear, by replaying that
//     element's floating-point operations from a log (replay.h).
// - The unique-optimum engine (unique.h) solves by shortest augmenting
//   paths, then proves that every other assignment costs more than the
//   steps' rounding could make up for, so the steps end on the same one;
//   where the proof does not hold (ties, near ties) the next engine solves.
//
// Control passes between the steps through loops, so the stack depth stays
// constant however many transitions a solve takes.
//
// The parts, each a header of this folder:
//   basics.h         element indexing, the outcomes of a solve, Scratch
//                    (common/scratch.h, with the caller's allocator)
//   columns.h        kernels over one column: minima, zeros
//   marks.h          stars, primes, covers; steps 3 and 4; the first stars;
//                    runPhases, the loop of phases every engine drives
//   summary.h        the one pass over C: the check and what the engines need
//   plan.h           which engines a solve tries, in which order
//   heap.h           a heap of columns
//   deferred.h       the dense engine's deferred step 5 arithmetic
//   dense.h          the dense engine
//   potentials.h     the potential engine's state, column summaries and zero
//                    tests, generic over its policy
//   phases.h         the potential engine's phases and step 5
//   exact.h          the exact policy, its admission test and proof
//   grid.h           the grid policy, its check and proof
//   replay.h         the log of step 5s and covers, and an element's replay
//   hybrid.h         the hybrid policy: margins, replays and their proof
//   unique.h         the unique-optimum engine: its search, its
//                    certificate and their proof
//   solve.h          one solve: substitute, the plan's engines, NaN fallback,
//                    cost
// This file holds the driver and the gateway. Checks and the driver return
// a Failure (common/failure.h); only mexFunction raises, after releasing
// what the call holds.
#include <cstddef>
#include <limits>

#include "failure.h"
#include "hostbridge.h"
#include "mexapi.h"
#include "mexgateway.h"
#include "solve.h"

namespace {

constexpr char kName[] = "pairsolve";

// The solver driver: checks the costs and solves them. Fails with the plain
// non-negative message for a finite negative cost, and when even the
// re-solve with NaN forbidden cannot complete (the working costs overflow).
bool pairsolve(double *assignment, double *cost, const double *C, int M, int N, Failure *failure) {
  SolveOutcome outcome =
      solveWithFallback(hostAllocator(), assignment, cost, C, M, N, Engine::automatic, failure);
  if (outcome == SolveOutcome::complete) return true;
  if (outcome == SolveOutcome::refused) return false;
  return fail(failure, "costOverflow",
              "The costs are too large to solve with: the working costs overflow. "
              "Scale the finite costs down (divide C by a large constant) and call "
              "pairsolve again.");
}

// What to do with a cost matrix that is not a real, full, two-dimensional
// double matrix, for the end of the message.
const char *conversionHint(const mxArray *input) {
  if (mxGetNumberOfDimensions(input) != 2) {
    return "pairsolve solves one matrix at a time: pass C(:, :, k).";
  }
  if (mxGetClassID(input) == mxCELL_CLASS) {
    return "Pass the costs as a double matrix, such as cell2mat(C) for a cell array of numbers.";
  }
  if (!mxIsNumeric(input) && !mxIsLogical(input) && !mxIsChar(input)) {
    return "Pass the costs as a double matrix.";
  }
  if (!mxIsDouble(input)) {
    return mxIsSparse(input) ? "Convert it with full(double(C))." : "Convert it with double(C).";
  }
  if (mxIsSparse(input)) return "Convert it with full(C).";
  return "Pass real costs, such as abs(C) or real(C).";
}

// The argument counts and the cost matrix; on success, its sizes.
bool checkArguments(int nlhs, int nrhs, const mxArray *prhs[], int *M, int *N, Failure *failure) {
  if (nrhs != 1) {
    return fail(failure, "wrongNumInputs",
                "pairsolve takes exactly one input, the cost matrix C (got %d).", nrhs);
  }
  if (nlhs > 2) {
    return fail(failure, "tooManyOutputs",
                "pairsolve returns at most two outputs, [assignment, cost] (asked for %d).", nlhs);
  }
  const mxArray *input = prhs[0];
  char description[kDescriptionLength];
  if (!mxIsDouble(input) || mxIsComplex(input) || mxIsSparse(input) ||
      mxGetNumberOfDimensions(input) != 2) {
    return fail(failure, "invalidInput",
                "The cost matrix C must be a real, full, two-dimensional double matrix; "
                "got %s. %s",
                describeArray(input, description), conversionHint(input));
  }
  constexpr std::size_t kLargestSize = static_cast<std::size_t>(std::numeric_limits<int>::max());
  if (mxGetM(input) > kLargestSize || mxGetN(input) > kLargestSize) {
    return fail(failure, "tooLarge",
                "The cost matrix C must have at most 2147483647 rows and 2147483647 columns "
                "(32-bit sizes); got %s.",
                describeArray(input, description));
  }
  *M = static_cast<int>(mxGetM(input));
  *N = static_cast<int>(mxGetN(input));
  return true;
}

}  // namespace

MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  Failure failure;
  int M = 0;
  int N = 0;
  if (!checkArguments(nlhs, nrhs, prhs, &M, &N, &failure)) {
    raiseFailure(kName, failure);
    return;
  }
  plhs[0] = mxCreateDoubleMatrix(M, 1, mxREAL);
  double cost = 0.0;
  if (!pairsolve(mxGetPr(plhs[0]), &cost, mxGetPr(prhs[0]), M, N, &failure)) {
    mxDestroyArray(plhs[0]);
    plhs[0] = nullptr;
    raiseFailure(kName, failure);
    return;
  }
  if (nlhs >= 2) {
    plhs[1] = mxCreateDoubleScalar(cost);
  }
}

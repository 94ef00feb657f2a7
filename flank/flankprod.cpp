// flankprod: the product L*X*R of a dense matrix X with 0/1 matrices L and R
// given as position lists (poslist.h).
//
//   Y = flankprod(L, X, R)
//
// X is M-by-N; L is an mL-by-M 0/1 matrix, R an N-by-nR one, and an empty
// list stands for the identity of size M (L) or N (R). Neither 0/1 matrix is
// formed: every combination of an entry (a, b) of L with an entry (c, d) of R
// adds X(b, c) to Y(a, d). Y starts at zero and takes its terms with L's
// entries in the outer loop and R's in the inner loop, each in list order;
// that order fixes the result bit for bit. Only the real part of X is read.
//
// Order of checks. Everything is checked on the inputs as they stand, before
// any list is decoded and before Y is created, so an error never leaves
// scratch behind and "incorrect dimension" is raised for every call whose
// lists are well formed, whatever X holds:
//   1. at least three inputs, at most one output      flankprod:wrongNumInputs,
//                                                     flankprod:tooManyOutputs
//   2. X's sizes fit 32-bit integers                  flankprod:tooLarge
//   3. L, then R: full double, a well-formed list     flankprod:invalidInput,
//      (against its own declared size only)           flankprod:invalidPositionList
//   4. L declares M columns and R declares N rows     "incorrect dimension" (no identifier)
//   5. X is full double; Y has at most 2^31 - 1       flankprod:invalidInput,
//      elements                                       flankprod:tooLarge
//   6. L and R decoded, R grouped by column
// The checks scan the lists only, never X or Y. An empty L is never spelled
// out as its diagonal (the kernel walks its rows directly); an empty R is
// spelled out only when L has terms: otherwise no term exists, and a
// degenerate X such as zeros(2^31 - 1, 0) costs no pairs. The decoded lists
// and every counter of the grouping and ordering are the call's scratch
// (poslist.h).
#include <algorithm>
#include <cstdint>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "hostbridge.h"
#include "mexapi.h"
#include "mexgateway.h"
#include "poslist.h"
#include "scratch.h"

namespace {

constexpr char kName[] = "flankprod";
constexpr char kUsage[] = "flankprod(L, X, R)";
constexpr int kInputCount = 3;
constexpr int kSlotL = 0;
constexpr int kSlotR = 2;
constexpr char kRoleL[] = "Position list L (argument 1)";
constexpr char kRoleR[] = "Position list R (argument 3)";

// How the accumulation is arranged. Every element Y(a, d) starts at 0 and
// takes one term X(b, c) per pair (a, b) of L in row a and pair (c, d) of R
// in column d, ordered by L's list position first and R's second. Those
// sequences fix the result bit for bit, and nothing else does: elements are
// independent. So the work may run in any order that gives every element its
// own sequence:
//  - Column by column of Y. R's pairs are grouped by column, stably (a list
//    already in column order, such as find's or an identity, is kept), and
//    for each column L's pairs are walked once, each adding its terms for
//    the column's pairs in list order. A column of Y and the few columns of
//    X it draws from then stay in cache.
//  - L's pairs in any order that keeps the pairs of each row of L in list
//    order (orderLeft), since only those meet in one element.
//  - L's pairs in blocks, each block against every column in turn: an
//    element's terms from one block all precede those from the next.
//  - An identity L is not spelled out: a column of Y is the sum of whole
//    columns of X, rows side by side in vector additions (each row still
//    takes its terms one by one, in list order).
// For an L of a few pairs, the plain loops themselves run (usePlainLoops).

// The plain loops (L's pairs outer, R's inner, both in list order) are run
// as they stand when L has a single pair, or a few pairs (kPlainLeftPairs at
// most, the diagonal of an identity L counted) and Y is small enough
// (kPlainResultElements, 1 MiB) to stay in cache while R is walked
// at random: the column walk's grouping of R would then cost more than it
// saves.
constexpr std::int32_t kPlainLeftPairs = 16;
constexpr std::int64_t kPlainResultElements = 131072;

// L's pairs taken against every column of Y in one pass: 16 KiB of pairs,
// which stay in the first-level cache beside a column of Y.
constexpr std::int32_t kLeftBlock = 2048;
// Scratch of a counting sort (grouping R by column, ordering L) is allowed
// up to this multiple of the pairs sorted, plus kCountingSlack entries;
// beyond, a very wide R is merge sorted (mergeByColumn) and L keeps its list
// order.
constexpr std::int64_t kCountingRatio = 4;
constexpr std::int64_t kCountingSlack = 4096;
// L is reordered only when each of its pairs meets at least this many pairs
// of R, so that the sort costs less than the walks it speeds up.
constexpr std::int32_t kOrderLeftMinRight = 4;
// Runs of at most this many pairs of R (one column of Y) keep their columns
// of X in registers.
constexpr std::int32_t kRunColumns = 4;
// Rows of Y formed at once by the identity kernel: 4 KiB, kept in the
// first-level cache while every column of X in the run is added.
constexpr std::int32_t kIdentityRows = 512;
// Doubles in a cache line: the identity kernel's step between prefetches.
constexpr std::int32_t kRowsPerLine = 8;
// One software prefetch per this many pairs of L (a cache line of doubles).
constexpr std::int32_t kPrefetchStride = 8;

// Everything the accumulation needs, gathered by prepareProduct.
struct ProductCall {
  std::int32_t M = 0;  // X's rows: L's identity size
  std::int32_t N = 0;  // X's columns: R's identity size
  std::int32_t mL = 0;
  std::int32_t nL = 0;
  std::int32_t mR = 0;
  std::int32_t nR = 0;
  bool identityLeft = false;   // L is the M-by-M identity; left holds no pairs
  bool plain = false;          // the plain loops run (usePlainLoops)
  IndexPair *left = nullptr;   // in the call's scratch, as are right's pairs
  std::int32_t leftCount = 0;  // pairs in left
  const IndexPair *right = nullptr;
  std::int32_t rightCount = 0;  // pairs in right
};

bool sortedByColumn(const IndexPair *pairs, std::int32_t count) {
  for (std::int32_t j = 1; j < count; ++j) {
    if (pairs[j].col < pairs[j - 1].col) return false;
  }
  return true;
}

// Sorts count pairs by column, stably, with buffer (room for count pairs)
// as the other half of a bottom-up merge sort: for an R too wide for a
// counter per column.
void mergeByColumn(IndexPair *pairs, std::int32_t count, IndexPair *buffer) {
  IndexPair *from = pairs;
  IndexPair *to = buffer;
  for (std::int64_t width = 1; width < count; width *= 2) {
    for (std::int64_t low = 0; low < count; low += 2 * width) {
      const std::int64_t middle = std::min<std::int64_t>(low + width, count);
      const std::int64_t high = std::min<std::int64_t>(low + 2 * width, count);
      std::int64_t a = low;
      std::int64_t b = middle;
      std::int64_t out = low;
      // Ties go to the first run: list order is kept within a column.
      while (a < middle && b < high) to[out++] = from[b].col < from[a].col ? from[b++] : from[a++];
      while (a < middle) to[out++] = from[a++];
      while (b < high) to[out++] = from[b++];
    }
    std::swap(from, to);
  }
  if (from != pairs) std::copy(from, from + count, pairs);
}

// A copy of the pairs grouped by column, each column's pairs in list order,
// taken from scratch; the counters or the merge buffer are given back on
// return.
IndexPair *groupByColumn(const IndexPair *pairs, std::int32_t count, std::int32_t columns,
                         Scratch &scratch) {
  IndexPair *grouped = scratch.take<IndexPair>(count);
  ScratchScope counting(scratch);
  if (columns > kCountingRatio * count + kCountingSlack) {
    std::copy(pairs, pairs + count, grouped);
    mergeByColumn(grouped, count, scratch.take<IndexPair>(count));
    return grouped;
  }
  std::int32_t *next = scratch.takeZeroed<std::int32_t>(static_cast<std::int64_t>(columns) + 1);
  for (std::int32_t j = 0; j < count; ++j) ++next[pairs[j].col + 1];
  for (std::int32_t d = 0; d < columns; ++d) next[d + 1] += next[d];
  for (std::int32_t j = 0; j < count; ++j) grouped[next[pairs[j].col]++] = pairs[j];
  return grouped;
}

bool usePlainLoops(const ProductCall &call) {
  const std::int32_t leftPairs = call.identityLeft ? call.M : call.leftCount;
  return leftPairs <= 1 || (leftPairs <= kPlainLeftPairs &&
                            static_cast<std::int64_t>(call.mL) * call.nR <= kPlainResultElements);
}

// Leaves R's pairs grouped by column, for the column walk (the plain loops
// take R as it is listed).
void groupRight(ProductCall *call, Scratch &scratch) {
  if (call->rightCount == 0 || call->plain || sortedByColumn(call->right, call->rightCount)) {
    return;
  }
  call->right = groupByColumn(call->right, call->rightCount, call->nR, scratch);
}

// Reorders L's pairs by (the number of earlier pairs in the same row of L,
// X's row b), ties in list order: a stable counting sort by b, then one by
// that number. The pairs of one row of L keep their list order, all that an
// element's order of terms depends on; the walk through L then reads each
// column of X nearly in sequence. Skipped (the list order is kept) when L
// has no pairs, when it meets few pairs of R, or when the counters would
// outgrow the list. The counters are released on return.
void orderLeft(ProductCall *call, Scratch &scratch) {
  const std::int32_t leftCount = call->leftCount;
  const std::int32_t mL = call->mL;
  const std::int32_t M = call->M;
  if (call->plain || leftCount == 0 || call->rightCount < kOrderLeftMinRight ||
      static_cast<std::int64_t>(mL) + M > kCountingRatio * leftCount + kCountingSlack) {
    return;
  }
  ScratchScope counting(scratch);
  std::int32_t *seen = scratch.takeZeroed<std::int32_t>(mL);
  std::int32_t *next = scratch.takeZeroed<std::int32_t>(static_cast<std::int64_t>(M) + 1);
  std::int32_t *layer = scratch.take<std::int32_t>(leftCount);
  std::int32_t *layerByB = scratch.take<std::int32_t>(leftCount);
  IndexPair *byB = scratch.take<IndexPair>(leftCount);
  IndexPair *left = call->left;
  std::int32_t layers = 0;
  for (std::int32_t i = 0; i < leftCount; ++i) {
    layer[i] = seen[left[i].row]++;
    layers = std::max(layers, layer[i] + 1);
  }
  for (std::int32_t i = 0; i < leftCount; ++i) ++next[left[i].col + 1];
  for (std::int32_t b = 0; b < M; ++b) next[b + 1] += next[b];
  for (std::int32_t i = 0; i < leftCount; ++i) {
    const std::int32_t to = next[left[i].col]++;
    byB[to] = left[i];
    layerByB[to] = layer[i];
  }
  std::int32_t *start = scratch.takeZeroed<std::int32_t>(static_cast<std::int64_t>(layers) + 1);
  for (std::int32_t i = 0; i < leftCount; ++i) ++start[layerByB[i] + 1];
  for (std::int32_t l = 0; l < layers; ++l) start[l + 1] += start[l];
  for (std::int32_t i = 0; i < leftCount; ++i) left[start[layerByB[i]]++] = byB[i];
}

// Runs the checks, the decoding and the grouping, in the order told above,
// and chooses between the plain loops and the column walk; stops at the
// first failure. The lists are decoded and grouped into scratch.
bool prepareProduct(int nlhs, int nrhs, const mxArray *prhs[], Scratch &scratch, ProductCall *call,
                    Failure *failure) {
  if (!checkInputCount(nrhs, kInputCount, kUsage, failure) ||
      !checkOneOutput(nlhs, kName, "Y", failure) ||
      !checkMatrixSizes(prhs[kSlotX], kRoleX, &call->M, &call->N, failure) ||
      !checkPositionList(prhs[kSlotL], kRoleL, failure) ||
      !checkPositionList(prhs[kSlotR], kRoleR, failure)) {
    return false;
  }
  declaredSize(prhs[kSlotL], call->M, &call->mL, &call->nL);
  declaredSize(prhs[kSlotR], call->N, &call->mR, &call->nR);
  if (call->nL != call->M || call->mR != call->N) return failDimension(failure);
  call->identityLeft = mxGetN(prhs[kSlotL]) == 0;
  if (!checkFullDouble(prhs[kSlotX], kRoleX, failure) ||
      !checkResultSize(call->mL, call->nR, failure)) {
    return false;
  }
  call->left = decodeList(prhs[kSlotL], call->M, false, scratch, &call->leftCount);
  const bool leftHasTerms = call->identityLeft ? call->M > 0 : call->leftCount > 0;
  call->right = decodeList(prhs[kSlotR], call->N, leftHasTerms, scratch, &call->rightCount);
  call->plain = usePlainLoops(*call);
  groupRight(call, scratch);
  orderLeft(call, scratch);
  return true;
}

// y = 0 + x, element by element, over rows doubles; the same rows of the
// column of X to be read next (next) are prefetched along the way.
void setColumn(double *y, const double *x, std::int32_t rows, const double *next) {
  std::int32_t a = 0;
#if defined(__SSE2__)
  const __m128d zero = _mm_setzero_pd();
  for (; a + kRowsPerLine <= rows; a += kRowsPerLine) {
    __builtin_prefetch(next + a);
    for (std::int32_t r = a; r < a + kRowsPerLine; r += 2) {
      _mm_storeu_pd(y + r, _mm_add_pd(zero, _mm_loadu_pd(x + r)));
    }
  }
#endif
  for (; a < rows; ++a) y[a] = 0.0 + x[a];
}

// y = y + x, element by element, over rows doubles; next as in setColumn.
void addColumn(double *y, const double *x, std::int32_t rows, const double *next) {
  std::int32_t a = 0;
#if defined(__SSE2__)
  for (; a + kRowsPerLine <= rows; a += kRowsPerLine) {
    __builtin_prefetch(next + a);
    for (std::int32_t r = a; r < a + kRowsPerLine; r += 2) {
      _mm_storeu_pd(y + r, _mm_add_pd(_mm_loadu_pd(y + r), _mm_loadu_pd(x + r)));
    }
  }
#endif
  for (; a < rows; ++a) y[a] = y[a] + x[a];
}

// Yd(a) = X(a, c_1) + ... + X(a, c_q), added from 0 in run order, for every
// row a: the column of I*X*R for a column whose pairs of R are run[0..q).
// Yd is still zero: each column of Y is one run when L is the identity
// (groupRight). Rows go in blocks that stay in cache while every column of
// X in the run is added to them; each pass prefetches the rows of X that
// the next pass reads, the first block of the next run's first column
// (following) after the last.
void identityColumn(double *Yd, const double *X, std::int32_t M, const IndexPair *run,
                    std::int32_t q, const double *following) {
  for (std::int32_t a = 0; a < M; a += kIdentityRows) {
    const std::int32_t rows = std::min(kIdentityRows, M - a);
    for (std::int32_t t = 0; t < q; ++t) {
      const double *x = X + a + static_cast<std::int64_t>(run[t].row) * M;
      const double *next = t + 1 < q ? X + a + static_cast<std::int64_t>(run[t + 1].row) * M
                           : a + kIdentityRows < M
                               ? X + a + kIdentityRows + static_cast<std::int64_t>(run[0].row) * M
                               : following;
      if (t == 0) {
        setColumn(Yd + a, x, rows, next);
      } else {
        addColumn(Yd + a, x, rows, next);
      }
    }
  }
}

// Where the next column's walk will read and write, fetched into the cache
// line by line during the current walk.
struct NextColumn {
  const double *Yd;
  std::int32_t mL;
  const double *Xc;
  std::int32_t M;
};

// Yd(a) = Yd(a) + X(b, c) for each pair (a, b) of left, in order, and within
// it each column c of X in columns, in run order. Q is the run's length, or
// 0 for a length of q.
template <int Q>
void pairsRun(double *Yd, const double *const *columns, std::int32_t q, const IndexPair *left,
              std::int32_t count, const NextColumn &next) {
  const std::int32_t terms = Q > 0 ? Q : q;
  for (std::int32_t i = 0; i < count; ++i) {
    if (i % kPrefetchStride == 0) {
      if (i < next.mL) __builtin_prefetch(next.Yd + i, 1);
      if (i < next.M) __builtin_prefetch(next.Xc + i);
    }
    const std::int32_t a = left[i].row;
    const std::int32_t b = left[i].col;
    double y = Yd[a];
    for (std::int32_t t = 0; t < terms; ++t) y = y + columns[t][b];
    Yd[a] = y;
  }
}

// The same for a run of any length, its columns found through the run.
void pairsLongRun(double *Yd, const double *X, std::int32_t M, const IndexPair *run, std::int32_t q,
                  const IndexPair *left, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) {
    const double *Xb = X + left[i].col;
    double y = Yd[left[i].row];
    for (std::int32_t t = 0; t < q; ++t) y = y + Xb[static_cast<std::int64_t>(run[t].row) * M];
    Yd[left[i].row] = y;
  }
}

void pairsColumn(double *Yd, const double *X, std::int32_t M, const IndexPair *run, std::int32_t q,
                 const IndexPair *left, std::int32_t count, const NextColumn &next) {
  if (q > kRunColumns) {
    pairsLongRun(Yd, X, M, run, q, left, count);
    return;
  }
  const double *columns[kRunColumns];
  for (std::int32_t t = 0; t < q; ++t) columns[t] = X + static_cast<std::int64_t>(run[t].row) * M;
  switch (q) {
    case 1: pairsRun<1>(Yd, columns, q, left, count, next); break;
    case 2: pairsRun<2>(Yd, columns, q, left, count, next); break;
    case 3: pairsRun<3>(Yd, columns, q, left, count, next); break;
    default: pairsRun<kRunColumns>(Yd, columns, q, left, count, next); break;
  }
}

// The plain loops: Y(a, d) += X(b, c) for every pair (a, b) of L, in list
// order, and inside it every pair (c, d) of R, in list order; an identity L
// has no pairs and stands for the pairs (i, i), i < M.
void plainLoops(double *Y, std::int32_t mL, const double *X, std::int32_t M, bool identityLeft,
                const IndexPair *left, std::int32_t leftCount, const IndexPair *right,
                std::int32_t rightCount) {
  const std::int32_t leftPairs = identityLeft ? M : leftCount;
  for (std::int32_t i = 0; i < leftPairs; ++i) {
    const std::int64_t a = identityLeft ? i : left[i].row;
    const std::int64_t b = identityLeft ? i : left[i].col;
    for (std::int32_t j = 0; j < rightCount; ++j) {
      const std::int64_t c = right[j].row;
      const std::int64_t d = right[j].col;
      Y[a + d * mL] = Y[a + d * mL] + X[b + c * M];
    }
  }
}

// The column walk: Y(a, d) += X(b, c) for every pair (a, b) of L and every
// pair (c, d) of R, every element taking its terms in the order of the plain
// loops (see above). right is grouped by column; an identity L has no pairs
// and M rows.
void columnWalk(double *Y, std::int32_t mL, const double *X, std::int32_t M, bool identityLeft,
                const IndexPair *left, std::int32_t leftCount, const IndexPair *right,
                std::int32_t rightCount) {
  const std::int32_t blocks = identityLeft ? 1 : (leftCount + kLeftBlock - 1) / kLeftBlock;
  for (std::int32_t block = 0; block < blocks; ++block) {
    const IndexPair *leftBlock = left + static_cast<std::int64_t>(block) * kLeftBlock;
    const std::int32_t count =
        identityLeft ? 0 : std::min(kLeftBlock, leftCount - block * kLeftBlock);
    for (std::int32_t j = 0; j < rightCount;) {
      const std::int32_t d = right[j].col;
      std::int32_t end = j + 1;
      while (end < rightCount && right[end].col == d) ++end;
      double *Yd = Y + static_cast<std::int64_t>(d) * mL;
      const IndexPair following = right[end < rightCount ? end : j];
      if (identityLeft) {
        identityColumn(Yd, X, M, right + j, end - j,
                       X + static_cast<std::int64_t>(following.row) * M);
      } else {
        const NextColumn next{Y + static_cast<std::int64_t>(following.col) * mL, mL,
                              X + static_cast<std::int64_t>(following.row) * M, M};
        pairsColumn(Yd, X, M, right + j, end - j, leftBlock, count, next);
      }
      j = end;
    }
  }
}

// Y(a, d) += X(b, c) for every pair (a, b) of L, in list order, and inside
// it every pair (c, d) of R, in list order: by the plain loops or by the
// column walk, as prepareProduct chose. Y (mL rows) and X (M rows) are
// column-major; offsets are formed in 64 bits.
void flankprod(double *Y, const double *X, const ProductCall &call) {
  if (call.plain) {
    plainLoops(Y, call.mL, X, call.M, call.identityLeft, call.left, call.leftCount, call.right,
               call.rightCount);
  } else {
    columnWalk(Y, call.mL, X, call.M, call.identityLeft, call.left, call.leftCount, call.right,
               call.rightCount);
  }
}

// The gateway's body: checks, decodes and groups the lists in the call's
// Scratch, creates Y and forms the product. Returns false with the failure,
// having created nothing, when a check fails; the scratch is released on
// return, so the gateway only has to raise the failure.
bool product(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[], Failure *failure) {
  Scratch scratch(hostAllocator());
  ProductCall call;
  if (!prepareProduct(nlhs, nrhs, prhs, scratch, &call, failure)) return false;
  plhs[0] = mxCreateDoubleMatrix(call.mL, call.nR, mxREAL);
  flankprod(mxGetPr(plhs[0]), mxGetPr(prhs[kSlotX]), call);
  return true;
}

}  // namespace

MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  Failure failure;
  if (!product(nlhs, plhs, nrhs, prhs, &failure)) raiseFailure(kName, failure);
}

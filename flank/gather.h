// gather.h: what flankmask, flankscale and flankinner share: their argument
// checks, in one order, the reading of selector entries, the gather loop and
// the body of their gateway (gather). Each of the three gateway sources
// includes this file once; everything is file-local.
//
//   Y = flankmask(u, X, v, P)      Y = flankscale(u, X, v, P, W)
//   y = flankinner(u, X, v, P, W)
//
// X is M-by-N. The row selector u (m-by-1) and the column selector v (1-by-n)
// stand for 0/1 matrices with at most one 1 per row of L and per column of R:
// output row r draws from row u(r) of X and output column c from column v(c);
// an entry that truncates to 0 or less draws from nothing. The pattern P is a
// position list of an m-by-n matrix (an empty P: the N diagonal positions).
// The result is evaluated only at P's positions, in P's order.
//
// Order of checks. Everything that can be checked on the inputs as they stand
// is checked before the pattern is decoded, so "incorrect dimension" is
// raised for every call whose pattern is well formed, whatever u, v, X and W
// hold:
//   1. enough inputs (4, or 5 with W)                  NAME:wrongNumInputs
//      and at most one output                          NAME:tooManyOutputs
//   2. X's sizes fit 32-bit integers                   NAME:tooLarge
//   3. P: full double, a well-formed list (against     NAME:invalidInput,
//      its own declared size only)                     NAME:invalidPositionList
//   4. P declares u's rows and v's columns             "incorrect dimension" (no identifier)
//   5. X, u, v (and W) full double; u and v hold       NAME:invalidInput
//      their entries; W holds at least m*n elements
//   6. an m-by-n result has at most 2^31 - 1 elements  NAME:tooLarge (flankmask, flankscale)
//   7. P decoded
//   8. every selector entry that a pattern position    NAME:indexOutOfRange
//      uses is finite and at most M (u) or N (v)
// A selector entry is accepted when it is finite; it is truncated toward
// zero, and the result must be at most M (u) or N (v); entries below 1
// select nothing, however far below. Selector entries that no pattern
// position uses are not examined: they take no part in the result. The
// checks take time proportional to P and the selectors, never to X, W or the
// result, and all run before the result is created. The checks return a
// failure; the gateway releases its scratch (the decoded pattern) and then
// raises it. An empty P is decoded only after step 5, when u is known to
// hold its N entries, so the scratch never exceeds the size of the inputs.
#ifndef FLANK_GATHER_H
#define FLANK_GATHER_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "hostbridge.h"
#include "largeoutput.h"
#include "mexapi.h"
#include "poslist.h"
#include "scratch.h"

namespace {

constexpr int kSlotU = 0;
constexpr int kSlotV = 2;
constexpr int kSlotP = 3;
constexpr int kSlotW = 4;
constexpr char kRoleU[] = "Row selector u (argument 1)";
constexpr char kRoleV[] = "Column selector v (argument 3)";
constexpr char kRoleP[] = "Pattern P (argument 4)";
constexpr char kRoleW[] = "Weights W (argument 5)";

// How one member of the family differs from the others.
struct GatherForm {
  const char *name;
  const char *usage;
  const char *output;  // what the one output is, for the tooManyOutputs message
  int inputCount;      // 4, or 5 with weights
  bool weighted;       // reads W
  bool matrixResult;   // creates an m-by-n result (otherwise 1-by-1)
};

// Everything the gather loop needs, gathered by checkAndDecode.
struct GatherCall {
  std::int32_t M = 0;                  // X's rows: the bound of u's entries
  std::int32_t N = 0;                  // X's columns: the bound of v's entries, P's identity size
  const IndexPair *pattern = nullptr;  // decoded P, in the call's scratch
  std::int32_t k = 0;                  // pattern pairs
  std::int32_t m = 0;                  // the result's rows, as P declares them
  std::int32_t n = 0;                  // the result's columns
  const double *X = nullptr;
  const double *u = nullptr;
  const double *v = nullptr;
  const double *W = nullptr;  // null for a member without weights
};

// The 0-based row or column a checked selector entry draws from, or -1 for
// nothing (an entry that truncates to 0 or less).
inline std::int32_t selectedIndex(double entry) {
  return entry >= 1.0 ? truncateToInt32(entry) - 1 : -1;
}

// A selector is full double and holds the entries its length promises
// (a 3-by-0 "column" has a length of 3 and no data).
inline bool checkSelector(const mxArray *selector, const char *role, std::size_t length,
                          const char *lengthName, const char *shape, Failure *failure) {
  if (!checkFullDouble(selector, role, failure)) return false;
  if (mxGetNumberOfElements(selector) >= length) return true;
  char got[kDescriptionLength];
  return fail(failure, "invalidInput", "%s must be %s with %zu %s, as P declares; got %s.", role,
              shape, length, lengthName, describeArray(selector, got));
}

// W holds at least one weight per element of the m-by-n result.
inline bool checkWeights(const mxArray *W, std::int32_t m, std::int32_t n, Failure *failure) {
  if (!checkFullDouble(W, kRoleW, failure)) return false;
  const std::int64_t needed = static_cast<std::int64_t>(m) * n;
  const std::size_t held = mxGetNumberOfElements(W);
  if (held >= static_cast<std::size_t>(needed)) return true;
  char got[kDescriptionLength];
  return fail(failure, "invalidInput",
              "%s must hold at least %lld elements, one per element of the %d-by-%d result; got "
              "%s.",
              kRoleW, static_cast<long long>(needed), m, n, describeArray(W, got));
}

// The selector entry at index is finite and selects at most the count-th
// row or column of X; entries below 1 select nothing and always pass.
inline bool checkSelectorEntry(const double *selector, std::int32_t index, std::int32_t count,
                               const char *role, const char *countName, Failure *failure) {
  const double entry = selector[index];
  char text[kValueTextLength];
  if (std::isfinite(entry) && entry < static_cast<double>(count) + 1.0) return true;
  return fail(failure, "indexOutOfRange",
              "%s entry %d is %s; selector entries must be finite and, truncated toward zero, at "
              "most %d, the number of %s of X (entries below 1 select nothing).",
              role, index + 1, valueText(entry, text), count, countName);
}

// Every selector entry used by a pattern position, in pattern order.
inline bool checkSelectedEntries(const double *u, const double *v, const GatherCall &call,
                                 Failure *failure) {
  for (std::int32_t i = 0; i < call.k; ++i) {
    const IndexPair p = call.pattern[i];
    if (!checkSelectorEntry(u, p.row, call.M, kRoleU, "rows", failure) ||
        !checkSelectorEntry(v, p.col, call.N, kRoleV, "columns", failure)) {
      return false;
    }
  }
  return true;
}

// Runs the checks and the decoding in the order told above; stops at the
// first failure. The pattern is decoded into scratch.
inline bool checkAndDecode(const GatherForm &form, int nlhs, int nrhs, const mxArray *prhs[],
                           Scratch &scratch, GatherCall *call, Failure *failure) {
  if (!checkInputCount(nrhs, form.inputCount, form.usage, failure) ||
      !checkOneOutput(nlhs, form.name, form.output, failure) ||
      !checkMatrixSizes(prhs[kSlotX], kRoleX, &call->M, &call->N, failure) ||
      !checkPositionList(prhs[kSlotP], kRoleP, failure)) {
    return false;
  }
  declaredSize(prhs[kSlotP], call->N, &call->m, &call->n);
  const std::size_t mu = mxGetM(prhs[kSlotU]);
  const std::size_t nv = mxGetN(prhs[kSlotV]);
  if (static_cast<std::size_t>(call->m) != mu || static_cast<std::size_t>(call->n) != nv) {
    return failDimension(failure);
  }
  if (!checkFullDouble(prhs[kSlotX], kRoleX, failure) ||
      !checkSelector(prhs[kSlotU], kRoleU, mu, "rows", "an m-by-1 column vector", failure) ||
      !checkSelector(prhs[kSlotV], kRoleV, nv, "columns", "a 1-by-n row vector", failure) ||
      (form.weighted && !checkWeights(prhs[kSlotW], call->m, call->n, failure)) ||
      (form.matrixResult && !checkResultSize(call->m, call->n, failure))) {
    return false;
  }
  call->pattern = decodeList(prhs[kSlotP], call->N, true, scratch, &call->k);
  call->X = mxGetPr(prhs[kSlotX]);
  call->u = mxGetPr(prhs[kSlotU]);
  call->v = mxGetPr(prhs[kSlotV]);
  call->W = form.weighted ? mxGetPr(prhs[kSlotW]) : nullptr;
  return checkSelectedEntries(call->u, call->v, *call, failure);
}

// The body of the family's gateway: checks and decodes the call in its own
// Scratch, creates the result (m-by-n, or 1-by-1 for a member without a
// matrix result) and fills it with kernel(Y, call). Returns false with the
// failure, having created nothing, when a check fails; the scratch is
// released on return, so the gateway only has to raise the failure.
template <typename Kernel>
inline bool gather(const GatherForm &form, Kernel kernel, int nlhs, mxArray *plhs[], int nrhs,
                   const mxArray *prhs[], Failure *failure) {
  Scratch scratch(hostAllocator());
  GatherCall call;
  if (!checkAndDecode(form, nlhs, nrhs, prhs, scratch, &call, failure)) return false;
  plhs[0] = form.matrixResult ? largeoutput::createZeroDoubleMatrix(call.m, call.n)
                              : mxCreateDoubleMatrix(1, 1, mxREAL);
  kernel(mxGetPr(plhs[0]), call);
  return true;
}

// The gather loops take the pattern in blocks. For each block, one pass
// finds the element of X that every entry reads (gatherBlock) and asks for
// it, for the entry's weight and for the entry's element of Y to be brought
// into the cache; the plug-in's own loop then adds the block's terms, in
// pattern order, from the cache. The reads and writes at scattered places
// thus overlap instead of waiting one by one. A block's prefetched lines
// (three per entry at most, 24 KiB) fit the first-level cache.
constexpr std::int32_t kGatherBlock = 128;

// offsets[i] = the offset in X of the element that entry i of block reads,
// or -1 when its selector entries select nothing, for the count entries of
// block; that element is prefetched, and so are the entry's weight in W
// and its element of Y for the entries that add a term (W and Y may be
// null: flankmask has no weights, flankinner no Y).
inline void gatherBlock(const double *X, std::int32_t M, const double *u, const double *v,
                        const double *W, const double *Y, std::int32_t m, const IndexPair *block,
                        std::int32_t count, std::int64_t *offsets) {
  for (std::int32_t i = 0; i < count; ++i) {
    const IndexPair p = block[i];
    const std::int64_t a = selectedIndex(u[p.row]);
    const std::int64_t b = selectedIndex(v[p.col]);
    if (b < 0 || a < 0) {
      offsets[i] = -1;
      continue;
    }
    offsets[i] = a + b * M;
    __builtin_prefetch(X + offsets[i]);
    const std::int64_t o = p.row + static_cast<std::int64_t>(p.col) * m;
    if (W != nullptr) __builtin_prefetch(W + o);
    if (Y != nullptr) __builtin_prefetch(Y + o, 1);
  }
}

// The one gather loop of the family: term(x, o) for every pattern pair
// (r, c) of call whose selector entries select an element x = X(a, b), in
// pattern order, where o = r + c*m is the pair's offset in the m-by-n result
// (and in W). The pattern goes in blocks: gatherBlock finds (and prefetches)
// each entry's element of X, its weight in W and its element of Y (W and Y
// may be null), then the block's terms are taken from the cache.
template <typename Term>
inline void gatherTerms(const GatherCall &call, const double *Y, Term term) {
  const double *X = call.X;
  const std::int32_t m = call.m;
  const std::int32_t k = call.k;
  std::int64_t offsets[kGatherBlock];
  for (std::int32_t start = 0; start < k;) {
    const std::int32_t count = std::min(kGatherBlock, k - start);
    const IndexPair *block = call.pattern + start;
    gatherBlock(X, call.M, call.u, call.v, call.W, Y, m, block, count, offsets);
    for (std::int32_t i = 0; i < count; ++i) {
      if (offsets[i] < 0) continue;
      term(X[offsets[i]], block[i].row + static_cast<std::int64_t>(block[i].col) * m);
    }
    start += count;
  }
}

}  // namespace

#endif

// poslist.h: position lists, the 0/1-matrix format of the flank plug-ins,
// their decoding into 0-based index pairs, and the argument checks that the
// four gateways share. Each gateway source includes this file once; every
// routine here is file-local to that plug-in.
//
// A position list is a full double array with 2 rows and k + 1 columns.
// Columns 1..k each hold the 1-based (row, column) of one of the matrix's
// ones; column k + 1 holds the matrix's (rows, columns). Values truncate
// toward zero. A list without columns (2-by-0, 0-by-0) stands for the
// identity of a size the receiving plug-in supplies; a list with one column
// stands for the all-zero matrix of the size it holds. A position listed
// several times counts once per listing.
//
// Routines are inline so that a plug-in which does not use one of them
// compiles without an unused-function warning.
//
// Memory: decoded lists, and every other block a flank plug-in works in,
// come from the Scratch of the call (scratch.h) with the host's allocator
// (hostAllocator, hostbridge.h). When memory runs out the host raises its
// own MATLAB:nomem from inside the allocation, and the unwinding releases
// the call's Scratch.
//
// Errors: check routines never raise. They describe what is wrong in a
// Failure (failure.h) and return false; the gateway releases its scratch and
// then raises the failure, so no error leaves decoded lists behind. The
// gateways check everything they can on the lists as they stand (their
// declared sizes included) before decoding any, so the scratch of a call
// never exceeds the size of its inputs.
#ifndef FLANK_POSLIST_H
#define FLANK_POSLIST_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "failure.h"
#include "hostbridge.h"
#include "mexapi.h"
#include "scratch.h"

namespace {

// One decoded entry: 0-based row and column, row at the lower address.
struct IndexPair {
  std::int32_t row;
  std::int32_t col;
};
static_assert(sizeof(IndexPair) == 8, "an IndexPair is two adjacent 32-bit integers");

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
// A finite double truncates into a signed 32-bit integer exactly when it lies
// strictly between these two bounds (-2^31 - 1 and 2^31).
constexpr double kTruncationFloor = -2147483649.0;
constexpr double kTruncationCeiling = 2147483648.0;
constexpr std::size_t kListRows = 2;
constexpr std::size_t kValueTextLength = 32;

// X, the dense operand, is the second argument of every flank plug-in.
constexpr int kSlotX = 1;
constexpr char kRoleX[] = "X (argument 2)";

// The message of the dimension error, raised as plain text without identifier.
constexpr char kDimensionMessage[] = "incorrect dimension";

inline bool failDimension(Failure *failure) {
  return fail(failure, "", "%s", kDimensionMessage);
}

// A value as MATLAB writes it: NaN, Inf, -Inf, or up to 15 digits.
inline const char *valueText(double value, char (&text)[kValueTextLength]) {
  if (std::isnan(value)) {
    std::snprintf(text, sizeof text, "NaN");
  } else if (std::isinf(value)) {
    std::snprintf(text, sizeof text, value > 0 ? "Inf" : "-Inf");
  } else {
    std::snprintf(text, sizeof text, "%.15g", value);
  }
  return text;
}

inline bool fitsInt32(double value) {
  return value > kTruncationFloor && value < kTruncationCeiling;
}

// Truncation toward zero; the caller has checked that the value fits.
inline std::int32_t truncateToInt32(double value) {
  return static_cast<std::int32_t>(value);
}

// Decodes a position list into a new array of pairs, taken from scratch.
// count enters as the list's column count minus one (-1 for a list without
// columns) and leaves as the number of pairs; rows and cols receive the
// declared size. A list without columns yields the identitySize diagonal
// pairs (i, i), already 0-based, and values is not read. Validates nothing:
// callers run checkPositionList first, so every truncation fits.
inline IndexPair *indDou2Int(const double *values, std::int32_t &count, std::int32_t identitySize,
                             std::int32_t &rows, std::int32_t &cols, Scratch &scratch) {
  if (count < 0) {
    rows = identitySize;
    cols = identitySize;
    count = identitySize;
    IndexPair *pairs = scratch.take<IndexPair>(identitySize);
    for (std::int32_t i = 0; i < identitySize; ++i) pairs[i] = IndexPair{i, i};
    return pairs;
  }
  const std::int64_t k = count;
  rows = truncateToInt32(values[2 * k]);
  cols = truncateToInt32(values[2 * k + 1]);
  IndexPair *pairs = scratch.take<IndexPair>(k);
  for (std::int64_t j = 0; j < k; ++j) {
    pairs[j] =
        IndexPair{truncateToInt32(values[2 * j]) - 1, truncateToInt32(values[2 * j + 1]) - 1};
  }
  return pairs;
}

// The size of the 0/1 matrix a checked list stands for: the truncated last
// column, or identitySize for a list without columns.
inline void declaredSize(const mxArray *list, std::int32_t identitySize, std::int32_t *rows,
                         std::int32_t *cols) {
  const std::size_t columns = mxGetN(list);
  if (columns == 0) {
    *rows = identitySize;
    *cols = identitySize;
    return;
  }
  const double *values = mxGetPr(list);
  *rows = truncateToInt32(values[2 * (columns - 1)]);
  *cols = truncateToInt32(values[2 * (columns - 1) + 1]);
}

// The number of pairs a checked list decodes to.
inline std::int32_t pairCount(const mxArray *list, std::int32_t identitySize) {
  const std::size_t columns = mxGetN(list);
  return columns == 0 ? identitySize : static_cast<std::int32_t>(columns - 1);
}

// Decodes a checked list into count pairs taken from scratch; a list of no
// pairs takes nothing and yields null. With spellIdentity false, a list
// without columns yields no pairs: the caller knows that no term would use
// them, and a degenerate operand such as zeros(2^31 - 1, 0) then costs no
// scratch.
inline IndexPair *decodeList(const mxArray *list, std::int32_t identitySize, bool spellIdentity,
                             Scratch &scratch, std::int32_t *count) {
  if (mxGetN(list) == 0 && !spellIdentity) identitySize = 0;
  if (pairCount(list, identitySize) == 0) {
    *count = 0;
    return nullptr;
  }
  // Column count minus one; checkPositionList has bounded it.
  *count = static_cast<std::int32_t>(static_cast<std::int64_t>(mxGetN(list)) - 1);
  std::int32_t rows = 0;
  std::int32_t cols = 0;
  return indDou2Int(mxGetPr(list), *count, identitySize, rows, cols, scratch);
}

// An argument the plug-in reads as full double data (a complex array's real
// part is read; sparse and other classes are refused).
inline bool checkFullDouble(const mxArray *array, const char *role, Failure *failure) {
  if (mxIsDouble(array) && !mxIsSparse(array)) return true;
  char got[kDescriptionLength];
  return fail(failure, "invalidInput", "%s must be a full double array; got %s.", role,
              describeArray(array, got));
}

// Validates a position list against its own declared size, without looking
// at the other operands: full double; a list with columns has 2 rows; every
// value is finite and truncates into the signed 32-bit range; the declared
// size is not negative; every entry lies within 1..rows and 1..columns after
// truncation. One pass over the list.
inline bool checkPositionList(const mxArray *list, const char *role, Failure *failure) {
  if (!checkFullDouble(list, role, failure)) return false;
  const std::size_t columns = mxGetN(list);
  if (columns == 0) return true;  // the identity: its data is never read
  if (mxGetM(list) != kListRows) {
    return fail(failure, "invalidPositionList",
                "%s must have 2 rows (the row and column of each entry, then the size in the "
                "last column); it has %zu.",
                role, mxGetM(list));
  }
  if (columns - 1 > static_cast<std::size_t>(kInt32Max)) {
    return fail(failure, "invalidPositionList", "%s has more than 2147483647 entries.", role);
  }
  const double *values = mxGetPr(list);
  const std::size_t k = columns - 1;
  char first[kValueTextLength];
  char second[kValueTextLength];
  for (std::size_t i = 0; i < 2 * columns; ++i) {
    if (!fitsInt32(values[i])) {
      return fail(failure, "invalidPositionList",
                  "%s holds %s at row %zu, column %zu; every value must be a finite whole number "
                  "within the signed 32-bit range.",
                  role, valueText(values[i], first), i % kListRows + 1, i / kListRows + 1);
    }
  }
  const std::int32_t rows = truncateToInt32(values[2 * k]);
  const std::int32_t cols = truncateToInt32(values[2 * k + 1]);
  if (rows < 0 || cols < 0) {
    return fail(failure, "invalidPositionList",
                "%s declares a negative size, %s-by-%s, in its last column.", role,
                valueText(values[2 * k], first), valueText(values[2 * k + 1], second));
  }
  for (std::size_t j = 0; j < k; ++j) {
    const std::int32_t row = truncateToInt32(values[2 * j]);
    const std::int32_t col = truncateToInt32(values[2 * j + 1]);
    if (row < 1 || row > rows || col < 1 || col > cols) {
      return fail(failure, "invalidPositionList",
                  "%s entry %zu, (%s, %s), lies outside the declared %d-by-%d size; entries "
                  "must lie within 1..rows and 1..columns after truncation toward zero.",
                  role, j + 1, valueText(values[2 * j], first),
                  valueText(values[2 * j + 1], second), rows, cols);
    }
  }
  return true;
}

// The caller passed at least the inputs the plug-in reads.
inline bool checkInputCount(int nrhs, int needed, const char *usage, Failure *failure) {
  if (nrhs >= needed) return true;
  return fail(failure, "wrongNumInputs", "%s needs %d inputs (got %d).", usage, needed, nrhs);
}

// X's row and column counts, which the kernels use as 32-bit integers.
inline bool checkMatrixSizes(const mxArray *X, const char *role, std::int32_t *M, std::int32_t *N,
                             Failure *failure) {
  const std::size_t rows = mxGetM(X);
  const std::size_t columns = mxGetN(X);
  if (rows > static_cast<std::size_t>(kInt32Max) || columns > static_cast<std::size_t>(kInt32Max)) {
    return fail(failure, "tooLarge",
                "%s is %zu-by-%zu; this plug-in takes at most 2147483647 rows and columns.", role,
                rows, columns);
  }
  *M = static_cast<std::int32_t>(rows);
  *N = static_cast<std::int32_t>(columns);
  return true;
}

// A result of rows-by-cols elements stays within the 32-bit size interface.
inline bool checkResultSize(std::int32_t rows, std::int32_t cols, Failure *failure) {
  if (static_cast<std::int64_t>(rows) * cols <= kInt32Max) return true;
  return fail(failure, "tooLarge",
              "The result would be %d-by-%d, more than 2147483647 elements; this plug-in works "
              "with 32-bit sizes.",
              rows, cols);
}

}  // namespace

#endif

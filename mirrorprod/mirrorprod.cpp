// mirrorprod: product of a sparse symmetric matrix, passed as its lower
// triangle, with a dense vector.
//
//   y = mirrorprod(x, A)
//
// A is the n-by-n lower triangle (diagonal included) of a symmetric matrix
// in the host's compressed-column form; y = A_full * x, where A_full is the
// symmetric matrix whose lower triangle is A. The upper triangle is never
// formed: each stored off-diagonal entry is used for its own position and for
// its mirror image. Only real parts are read; y is a real n-by-1 vector.
//
// The gateway's checks are O(1) tests of classes and sizes; they return a
// failure, which mexFunction raises. A sparse array
// handed over by the host already holds valid, ascending row indices below
// its row count, so the kernel runs without tests in its loops.
#include <cstdint>
#include <limits>

#include "failure.h"
#include "hostbridge.h"
#include "mexapi.h"
#include "mexgateway.h"
#include "sparse_kernels.h"

namespace {

// The kernel counts rows in a signed 32-bit integer.
constexpr std::uint64_t kMaxOrder = static_cast<std::uint64_t>(std::numeric_limits<int>::max());

constexpr char kName[] = "mirrorprod";
constexpr int kInputs = 2;
constexpr int kSlotX = 0;
constexpr int kSlotA = 1;

// For the %llu of a message.
unsigned long long printable(std::uint64_t value) {
  return static_cast<unsigned long long>(value);
}

// Refuses anything the kernel cannot take as it stands; on success *n is the
// order of A. The checks run in this order; the first that fails decides.
bool checkInputs(int nlhs, int nrhs, const mxArray *prhs[], int *n, Failure *failure) {
  if (nrhs < kInputs) {
    return fail(failure, "wrongNumInputs",
                "mirrorprod takes two inputs, y = mirrorprod(x, A): the vector x and the sparse "
                "lower triangle A (got %d).",
                nrhs);
  }
  if (!checkOneOutput(nlhs, kName, "y", failure)) return false;
  const mxArray *x = prhs[kSlotX];
  const mxArray *A = prhs[kSlotA];
  char got[kDescriptionLength];
  if (!mxIsSparse(A) || !mxIsDouble(A)) {
    // A sparse first input and a full second one: the order of A*x.
    const bool swapped = mxIsSparse(x) && !mxIsSparse(A);
    return fail(
        failure, "notSparse",
        "A (input 2) must be a sparse double matrix holding the lower triangle of a "
        "symmetric matrix, such as sparse(tril(S)); got %s.%s",
        describeArray(A, got),
        swapped ? " The sparse matrix comes second: y = mirrorprod(x, A) computes S*x." : "");
  }
  const std::uint64_t rows = mxGetM(A);
  const std::uint64_t columns = mxGetN(A);
  if (rows > kMaxOrder) {
    return fail(failure, "tooLarge",
                "A (input 2) has %llu rows; mirrorprod handles matrices of at most 2147483647 "
                "rows and columns.",
                printable(rows));
  }
  if (rows != columns) {
    return fail(failure, "notSquare",
                "A (input 2) must be square, the n-by-n lower triangle of a symmetric matrix; "
                "got %llu-by-%llu.",
                printable(rows), printable(columns));
  }
  if (!mxIsDouble(x) || mxIsSparse(x) || mxGetNumberOfElements(x) < rows) {
    return fail(failure, "invalidInput",
                "x (input 1) must be a full double array with at least n = %llu elements, one "
                "per row of A; got %s.",
                printable(rows), describeArray(x, got));
  }
  *n = static_cast<int>(rows);
  return true;
}

}  // namespace

MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  int n = 0;
  Failure failure;
  if (!checkInputs(nlhs, nrhs, prhs, &n, &failure)) {
    raiseFailure(kName, failure);
    return;
  }
  const double *x = mxGetPr(prhs[kSlotX]);
  const mxArray *A = prhs[kSlotA];
  const double *values = mxGetPr(A);
  // Octave's mwIndex is a signed 64-bit integer; the bit patterns of the
  // (non-negative) indices and starts are the same read as unsigned.
  const SparseIndex *rowIndices = reinterpret_cast<const SparseIndex *>(mxGetIr(A));
  const SparseIndex *columnStarts = reinterpret_cast<const SparseIndex *>(mxGetJc(A));
  plhs[0] = mxCreateDoubleMatrix(static_cast<mwSize>(n), 1, mxREAL);
  double *y = mxGetPr(plhs[0]);
  CSRsymm_VecMult_CAB_double_tril(n, values, rowIndices, columnStarts, x, y);
}

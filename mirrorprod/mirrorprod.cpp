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
// The gateway's checks are O(1) tests of classes and sizes. A sparse array
// handed over by the host already holds valid, ascending row indices below
// its row count, so the kernel runs without tests in its loops.
#include <cstdint>
#include <limits>

#include "mex.h"
#include "mexgateway.h"
#include "sparse_kernels.h"

namespace {

// The kernel counts rows in a signed 32-bit integer.
constexpr std::uint64_t kMaxOrder = static_cast<std::uint64_t>(std::numeric_limits<int>::max());

constexpr int kInputs = 2;
constexpr int kMaxOutputs = 1;

unsigned long long asULL(std::uint64_t value) {
  return static_cast<unsigned long long>(value);
}

const char *storageName(const mxArray *array) {
  return mxIsSparse(array) ? "sparse" : "full";
}

// Refuses anything the kernel cannot take as it stands; returns the order n.
int validateInputs(int nlhs, int nrhs, const mxArray *prhs[]) {
  if (nrhs < kInputs) {
    mexErrMsgIdAndTxt("mirrorprod:wrongNumInputs",
                      "mirrorprod takes two inputs, y = mirrorprod(x, A): the vector x and the "
                      "sparse lower triangle A (got %d).",
                      nrhs);
  }
  if (nlhs > kMaxOutputs) {
    mexErrMsgIdAndTxt("mirrorprod:tooManyOutputs",
                      "mirrorprod returns one output, y (asked for %d).", nlhs);
  }
  const mxArray *x = prhs[0];
  const mxArray *A = prhs[1];
  if (!mxIsSparse(A) || !mxIsDouble(A)) {
    mexErrMsgIdAndTxt("mirrorprod:notSparse",
                      "A (input 2) must be a sparse double matrix holding the lower triangle of a "
                      "symmetric matrix, such as sparse(tril(S)); got a %s %s array.",
                      storageName(A), mxGetClassName(A));
  }
  const std::uint64_t rows = mxGetM(A);
  const std::uint64_t columns = mxGetN(A);
  if (rows > kMaxOrder) {
    mexErrMsgIdAndTxt("mirrorprod:tooLarge",
                      "A (input 2) has %llu rows; mirrorprod handles matrices of at most "
                      "2147483647 rows and columns.",
                      asULL(rows));
  }
  if (rows != columns) {
    mexErrMsgIdAndTxt("mirrorprod:notSquare",
                      "A (input 2) must be square, the n-by-n lower triangle of a symmetric "
                      "matrix; got %llu-by-%llu.",
                      asULL(rows), asULL(columns));
  }
  if (!mxIsDouble(x) || mxIsSparse(x)) {
    mexErrMsgIdAndTxt("mirrorprod:invalidInput",
                      "x (input 1) must be a full double array with at least n = %llu elements; "
                      "got a %s %s array.",
                      asULL(rows), storageName(x), mxGetClassName(x));
  }
  const std::uint64_t elements = mxGetNumberOfElements(x);
  if (elements < rows) {
    mexErrMsgIdAndTxt("mirrorprod:invalidInput",
                      "x (input 1) must have at least n = %llu elements, one per row of A; got "
                      "%llu.",
                      asULL(rows), asULL(elements));
  }
  return static_cast<int>(rows);
}

}  // namespace

MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  const int n = validateInputs(nlhs, nrhs, prhs);
  const double *x = mxGetPr(prhs[0]);
  const mxArray *A = prhs[1];
  const double *values = mxGetPr(A);
  // Octave's mwIndex is a signed 64-bit integer; the bit patterns of the
  // (non-negative) indices and starts are the same read as unsigned.
  const SparseIndex *rowIndices = reinterpret_cast<const SparseIndex *>(mxGetIr(A));
  const SparseIndex *columnStarts = reinterpret_cast<const SparseIndex *>(mxGetJc(A));
  plhs[0] = mxCreateDoubleMatrix(static_cast<mwSize>(n), 1, mxREAL);
  double *y = mxGetPr(plhs[0]);
  CSRsymm_VecMult_CAB_double_tril(n, values, rowIndices, columnStarts, x, y);
}

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
//   1. at least three inputs                          flankprod:wrongNumInputs
//   2. X's sizes fit 32-bit integers                  flankprod:tooLarge
//   3. L, then R: full double, a well-formed list     flankprod:invalidInput,
//      (against its own declared size only)           flankprod:invalidPositionList
//   4. L declares M columns and R declares N rows     "incorrect dimension" (no identifier)
//   5. X is full double; Y has at most 2^31 - 1       flankprod:invalidInput,
//      elements                                       flankprod:tooLarge
//   6. L and R decoded                                flankprod:outOfMemory
// The checks scan the lists only, never X or Y. An empty list is spelled out
// as its diagonal only when the other side has pairs: otherwise no term
// exists, and a degenerate X such as zeros(2^31 - 1, 0) costs no scratch.
#include <cstdint>

#include "mex.h"
#include "mexgateway.h"
#include "poslist.h"

namespace {

constexpr char kName[] = "flankprod";
constexpr char kUsage[] = "flankprod(L, X, R)";
constexpr int kInputCount = 3;
constexpr int kSlotL = 0;
constexpr int kSlotX = 1;
constexpr int kSlotR = 2;
constexpr char kRoleL[] = "Position list L (argument 1)";
constexpr char kRoleX[] = "X (argument 2)";
constexpr char kRoleR[] = "Position list R (argument 3)";

// Everything the accumulation needs, gathered by prepareProduct.
struct ProductCall {
  std::int32_t M = 0;  // X's rows: L's identity size
  std::int32_t N = 0;  // X's columns: R's identity size
  std::int32_t mL = 0;
  std::int32_t nL = 0;
  std::int32_t mR = 0;
  std::int32_t nR = 0;
  PairArray left;
  std::int32_t kL = 0;
  PairArray right;
  std::int32_t kR = 0;
};

// Runs the checks and then the decoding, in the order told above; stops at
// the first failure.
bool prepareProduct(int nrhs, const mxArray *prhs[], ProductCall *call, Failure *failure) {
  if (!checkInputCount(nrhs, kInputCount, kUsage, failure) ||
      !checkMatrixSizes(prhs[kSlotX], kRoleX, &call->M, &call->N, failure) ||
      !checkPositionList(prhs[kSlotL], kRoleL, failure) ||
      !checkPositionList(prhs[kSlotR], kRoleR, failure)) {
    return false;
  }
  declaredSize(prhs[kSlotL], call->M, &call->mL, &call->nL);
  declaredSize(prhs[kSlotR], call->N, &call->mR, &call->nR);
  if (call->nL != call->M || call->mR != call->N) return failDimension(failure);
  return checkFullDouble(prhs[kSlotX], kRoleX, failure) &&
         checkResultSize(call->mL, call->nR, failure) &&
         decodeList(prhs[kSlotL], kRoleL, call->M, pairCount(prhs[kSlotR], call->N) > 0,
                    &call->left, &call->kL, failure) &&
         decodeList(prhs[kSlotR], kRoleR, call->N, call->kL > 0, &call->right, &call->kR, failure);
}

// Y(a, d) += X(b, c) for every pair (a, b) of L, in list order, and inside
// it every pair (c, d) of R, in list order. Y (mL rows) and X (M rows) are
// column-major; offsets are formed in 64 bits.
void flankprod(double *Y, std::int32_t mL, const double *X, std::int32_t M, const IndexPair *left,
               std::int32_t kL, const IndexPair *right, std::int32_t kR) {
  for (std::int32_t i = 0; i < kL; ++i) {
    const std::int64_t a = left[i].row;
    const std::int64_t b = left[i].col;
    for (std::int32_t j = 0; j < kR; ++j) {
      const std::int64_t c = right[j].row;
      const std::int64_t d = right[j].col;
      Y[a + d * mL] = Y[a + d * mL] + X[b + c * M];
    }
  }
}

}  // namespace

MEX_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  ProductCall call;
  Failure failure;
  if (!prepareProduct(nrhs, prhs, &call, &failure)) {
    call.left.reset();
    call.right.reset();
    raiseFailure(kName, failure);
    return;
  }
  plhs[0] = mxCreateDoubleMatrix(call.mL, call.nR, mxREAL);
  flankprod(mxGetPr(plhs[0]), call.mL, mxGetPr(prhs[kSlotX]), call.M, call.left.get(), call.kL,
            call.right.get(), call.kR);
  call.left.reset();
  call.right.reset();
}

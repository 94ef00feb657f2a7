// flankmask: the product L*X*R evaluated only at the positions of a pattern.
//
//   Y = flankmask(u, X, v, P)
//
// Y is m-by-n: at every position (r, c) of the pattern P it holds
// X(u(r), v(c)), once per listing of the position, and 0 elsewhere; where
// u(r) or v(c) truncates to 0 or less the position stays 0. Selectors,
// pattern and the order of checks: gather.h. Each term is added to Y in
// pattern order; only the real part of X is read.
#include <cstdint>

#include "gather.h"
#include "hostbridge.h"
#include "largeoutput.h"
#include "mexapi.h"
#include "mexgateway.h"

namespace {

constexpr GatherForm kForm{"flankmask", "flankmask(u, X, v, P)", "Y", 4, false, true};

// Y(r, c) = Y(r, c) + X(a, b) for every pattern pair (r, c), in pattern
// order, where a and b are the row and column u and v select.
void flankmask(double *Y, std::int32_t m, const double *X, std::int32_t M, const double *u,
               const double *v, const IndexPair *pattern, std::int32_t k) {
  gatherTerms(X, M, u, v, nullptr, Y, m, pattern, k,
              [Y](double x, std::int64_t o) { Y[o] = Y[o] + x; });
}

}  // namespace

MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  GatherCall call;
  Failure failure;
  if (!prepareGather(kForm, nlhs, nrhs, prhs, &call, &failure)) {
    raiseFailure(kForm.name, failure);
    return;
  }
  plhs[0] = largeoutput::createZeroDoubleMatrix(call.m, call.n);
  flankmask(mxGetPr(plhs[0]), call.m, mxGetPr(prhs[kSlotX]), call.M, mxGetPr(prhs[kSlotU]),
            mxGetPr(prhs[kSlotV]), call.pattern.get(), call.k);
  call.pattern.reset();
}

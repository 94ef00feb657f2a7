// flankscale: the product L*X*R at the positions of a pattern, weighted.
//
//   Y = flankscale(u, X, v, P, W)
//
// Y is m-by-n: at every position (r, c) of the pattern P it holds
// X(u(r), v(c))*W(r, c), once per listing of the position, and 0 elsewhere;
// where u(r) or v(c) truncates to 0 or less the position stays 0. W is read
// as m-by-n, column-major, whatever its shape. Selectors, pattern and the
// order of checks: gather.h. Each product is formed by itself and then added
// to Y, in pattern order; only the real parts of X and W are read.
#include <cstdint>

#include "gather.h"
#include "hostbridge.h"
#include "largeoutput.h"
#include "mexapi.h"
#include "mexgateway.h"

namespace {

constexpr GatherForm kForm{"flankscale", "flankscale(u, X, v, P, W)", "Y", 5, true, true};

// Y(r, c) = X(a, b)*W(r, c) + Y(r, c) for every pattern pair (r, c), in
// pattern order, where a and b are the row and column u and v select; each
// product is rounded before it is added.
void flankscale(double *Y, std::int32_t m, const double *X, std::int32_t M, const double *u,
                const double *v, const double *W, const IndexPair *pattern, std::int32_t k) {
  gatherTerms(X, M, u, v, W, Y, m, pattern, k, [Y, W](double x, std::int64_t o) {
    const double term = x * W[o];
    Y[o] = term + Y[o];
  });
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
  flankscale(mxGetPr(plhs[0]), call.m, mxGetPr(prhs[kSlotX]), call.M, mxGetPr(prhs[kSlotU]),
             mxGetPr(prhs[kSlotV]), mxGetPr(prhs[kSlotW]), call.pattern.get(), call.k);
  call.pattern.reset();
}

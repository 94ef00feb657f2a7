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
#include "mexapi.h"
#include "mexgateway.h"

namespace {

constexpr GatherForm kForm{"flankmask", "flankmask(u, X, v, P)", "Y", 4, false, true};

// Y(r, c) = Y(r, c) + X(a, b) for every pattern pair (r, c), in pattern
// order, where a and b are the row and column u and v select.
void flankmask(double *Y, const GatherCall &call) {
  gatherTerms(call, Y, [Y](double x, std::int64_t o) { Y[o] = Y[o] + x; });
}

}  // namespace

MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  Failure failure;
  if (!gather(kForm, flankmask, nlhs, plhs, nrhs, prhs, &failure))
    raiseFailure(kForm.name, failure);
}

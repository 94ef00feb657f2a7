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
#include "mexapi.h"
#include "mexgateway.h"

namespace {

constexpr GatherForm kForm{"flankscale", "flankscale(u, X, v, P, W)", "Y", 5, true, true};

// Y(r, c) = X(a, b)*W(r, c) + Y(r, c) for every pattern pair (r, c), in
// pattern order, where a and b are the row and column u and v select; each
// product is rounded before it is added.
void flankscale(double *Y, const GatherCall &call) {
  const double *W = call.W;
  gatherTerms(call, Y, [Y, W](double x, std::int64_t o) {
    const double term = x * W[o];
    Y[o] = term + Y[o];
  });
}

}  // namespace

MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  Failure failure;
  if (!gather(kForm, flankscale, nlhs, plhs, nrhs, prhs, &failure))
    raiseFailure(kForm.name, failure);
}

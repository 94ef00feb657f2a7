// flankinner: the weighted sum of L*X*R over the positions of a pattern.
//
//   y = flankinner(u, X, v, P, W)
//
// y is 1-by-1: the sum, over the positions (r, c) of the pattern P in
// pattern order and once per listing, of X(u(r), v(c))*W(r, c); positions
// where u(r) or v(c) truncates to 0 or less add nothing. It equals the sum
// of all elements of flankscale(u, X, v, P, W) up to the order of the
// additions. W is read as m-by-n, column-major, whatever its shape.
// Selectors, pattern and the order of checks: gather.h. Only the real parts
// of X and W are read.
#include <cstdint>

#include "gather.h"
#include "hostbridge.h"
#include "mexapi.h"
#include "mexgateway.h"

namespace {

constexpr GatherForm kForm{"flankinner", "flankinner(u, X, v, P, W)", "y", 5, true, false};

// y = X(a, b)*W(r, c) + y for every pattern pair (r, c), in pattern order,
// starting from 0, where a and b are the row and column u and v select; each
// product is rounded before it is added. The sum is then stored in *y.
void flankinner(double *y, const GatherCall &call) {
  const double *W = call.W;
  double sum = 0.0;
  gatherTerms(call, nullptr, [&sum, W](double x, std::int64_t o) {
    const double term = x * W[o];
    sum = term + sum;
  });
  *y = sum;
}

}  // namespace

MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  Failure failure;
  if (!gather(kForm, flankinner, nlhs, plhs, nrhs, prhs, &failure))
    raiseFailure(kForm.name, failure);
}

// nullfill(...): every requested output is zeros(...) of the same arguments.
#include "forward.h"
#include "mexgateway.h"

MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  forwardToConstructor("zeros", nlhs, plhs, nrhs, prhs);
}

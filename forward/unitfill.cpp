// unitfill(...): every requested output is ones(...) of the same arguments.
// Built for Linux and, from this same source, for Windows x64.
#include "forward.h"
#include "mexgateway.h"

MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  forwardToConstructor("ones", nlhs, plhs, nrhs, prhs);
}

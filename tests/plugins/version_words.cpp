// A plug-in reporting the version words its build defines, for the loader's
// refusal of unknown API versions.
#include "mex.h"
#include "mexgateway.h"

MEX_EXPORT void mexFunction(int, mxArray *plhs[], int, const mxArray *[]) {
  plhs[0] = mxCreateDoubleScalar(1.0);
}

#if defined(TEST_RELEASE_WORD)
MEX_EXPORT void mexfilerequiredapiversion(unsigned int *release, unsigned int *api) {
  *release = TEST_RELEASE_WORD;
  *api = TEST_API_WORD;
}
#endif

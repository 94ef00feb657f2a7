// A deliberately faulty plug-in for the host's contract tests. Its first
// input names the fault; the remaining inputs are passed along.
#include <cstring>
#include <stdexcept>
#include <string>

#include "mex.h"
#include "mexgateway.h"

MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  char *text = mxArrayToString(prhs[0]);
  std::string fault = text;
  mxFree(text);
  if (fault == "ok") {
    plhs[0] = mxCreateDoubleScalar(1.0);
  } else if (fault == "leak") {
    mxMalloc(64);
    plhs[0] = mxCreateDoubleScalar(1.0);
  } else if (fault == "overrun") {
    plhs[0] = mxCreateDoubleScalar(1.0);
    plhs[nlhs > 1 ? nlhs : 1] = mxCreateDoubleScalar(2.0);
  } else if (fault == "changeInput") {
    mxGetPr(prhs[1])[0] += 1.0;
    plhs[0] = mxCreateDoubleScalar(1.0);
  } else if (fault == "errorAfterMalloc") {
    mxMalloc(1 << 20);
    mxCalloc(10, 8);
    plhs[0] = mxCreateDoubleMatrix(3, 3, mxREAL);
    mexErrMsgIdAndTxt("faulty:boom", "failed after %d allocations", 3);
  } else if (fault == "orphan") {
    mxCreateDoubleMatrix(2, 2, mxREAL);
    plhs[0] = mxCreateDoubleScalar(1.0);
  } else if (fault == "returnInput") {
    plhs[0] = const_cast<mxArray *>(prhs[1]);
  } else if (fault == "noOutput") {
  } else if (fault == "throwStd") {
    throw std::runtime_error("not a MATLAB error");
  } else if (fault == "callZeros") {
    mexCallMATLABWithObject(1, plhs, nrhs - 1, const_cast<mxArray **>(prhs + 1), "zeros");
  } else if (fault == "callUnknown") {
    mexCallMATLAB(1, plhs, 0, nullptr, "noSuchFunction");
  } else if (fault == "plainError") {
    mexErrMsgTxt("plain text");
  }
}

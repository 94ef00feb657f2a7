// forward.h: the one thing nullfill and unitfill do. Each requested output is
// built by its own call of the host's constructor (zeros or ones) with the
// caller's inputs exactly as given, outputs in order; with no output
// requested nothing is called. Argument checking belongs to the constructor:
// an error it raises ends the call. The call's result code carries nothing
// that the constructor's own error does not, so it is not looked at.
#ifndef TOOLBOX_FORWARD_H
#define TOOLBOX_FORWARD_H

#include "mex.h"

#if defined(TOOLBOX_HOST_MATLAB) && !defined(_WIN32)
// MATLAB exports this call-back without declaring it in its headers.
extern "C" int mexCallMATLABWithObject(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[],
                                       const char *name);
#endif

inline void forwardToConstructor(const char *constructor, int nlhs, mxArray *plhs[], int nrhs,
                                 const mxArray *prhs[]) {
  for (int i = 0; i < nlhs; ++i) {
#if defined(_WIN32) || defined(TOOLBOX_HOST_OCTAVE)
    // Windows MATLAB and Octave offer mexCallMATLAB only; it takes the inputs
    // as non-const but does not change them.
    mexCallMATLAB(1, &plhs[i], nrhs, const_cast<mxArray **>(prhs), constructor);
#else
    mexCallMATLABWithObject(1, &plhs[i], nrhs, prhs, constructor);
#endif
  }
}

#endif

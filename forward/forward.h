// forward.h: the one thing nullfill and unitfill do. Each requested output is
// built by its own call of the host's constructor (zeros or ones) with the
// caller's inputs exactly as given, outputs in order; with no output
// requested nothing is called. Argument checking belongs to the constructor:
// an error it raises ends the call. The call's result code carries nothing
// that the constructor's own error does not, so it is not looked at.
#ifndef TOOLBOX_FORWARD_H
#define TOOLBOX_FORWARD_H

#include "mexapi.h"

inline void forwardToConstructor(const char *constructor, int nlhs, mxArray *plhs[], int nrhs,
                                 const mxArray *prhs[]) {
  // Both call-backs take the inputs as non-const but do not change them.
  mxArray **inputs = const_cast<mxArray **>(prhs);
  for (int i = 0; i < nlhs; ++i) {
#if defined(_WIN32) || defined(TOOLBOX_HOST_OCTAVE)
    // Windows and Octave: mexCallMATLAB (Octave has no other).
    mexCallMATLAB(1, &plhs[i], nrhs, inputs, constructor);
#else
    // Linux MATLAB-style hosts: mexCallMATLABWithObject, which mex.h
    // declares there (mexCallMATLAB is a macro for it).
    mexCallMATLABWithObject(1, &plhs[i], nrhs, inputs, constructor);
#endif
  }
}

#endif

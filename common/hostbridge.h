// hostbridge.h: what a gateway needs of the host beside mex.h: raising a
// Failure (failure.h), describing an argument for a message, and the host's
// allocator for a Scratch (scratch.h).
//
// Raising is the gateway's last act: whatever the call holds is released
// first. An allocation inside a host call (mxMalloc, mxCalloc, mxCreate*)
// that fails raises the host's out-of-memory error from within the host, as
// MATLAB and Octave do; the host then reclaims the call's scratch and
// arrays, and the unwinding releases every Scratch on the way.
#ifndef TOOLBOX_HOSTBRIDGE_H
#define TOOLBOX_HOSTBRIDGE_H

#include <cstddef>
#include <cstdio>

#include "failure.h"
#include "mexapi.h"
#include "scratch.h"

namespace {

// The host's allocator: mxMalloc never returns without a block (it raises
// the host's out-of-memory error), and mxFree. Should a host
// return null all the same, the call ends with the error MATLAB raises.
inline ScratchAllocator hostAllocator() {
  return {[](std::size_t bytes) { return mxMalloc(bytes); }, [](void *block) { mxFree(block); },
          [](std::size_t bytes) -> void {
            mexErrMsgIdAndTxt("MATLAB:nomem", "Out of memory: %llu bytes of scratch.",
                              static_cast<unsigned long long>(bytes));
          }};
}

// Raises the failure through the host: a plain message with mexErrMsgTxt,
// every other one with the identifier "plugin:condition". Never returns.
inline void raiseFailure(const char *plugin, const Failure &failure) {
  if (failure.condition == nullptr || failure.condition[0] == '\0') {
    mexErrMsgTxt(failure.message);
    return;
  }
  char identifier[kIdentifierLength];
  std::snprintf(identifier, sizeof identifier, "%s:%s", plugin, failure.condition);
  mexErrMsgIdAndTxt(identifier, "%s", failure.message);
}

// What an argument is, for the "got ..." part of a message: its size, then
// "sparse" and "complex" where they apply, then its class, then "matrix"
// (two dimensions, numeric, logical or char) or "array". For example "a
// 3-by-3 sparse double matrix", "a 2-by-2 int32 matrix", "a 2-by-3-by-4
// complex double array".
inline const char *describeArray(const mxArray *array, char (&text)[kDescriptionLength]) {
  const std::size_t ndims = mxGetNumberOfDimensions(array);
  const auto *dims = mxGetDimensions(array);
  char size[kDescriptionLength / 2] = {};
  std::size_t used = 0;
  for (std::size_t d = 0; d < ndims && used < sizeof size; ++d) {
    const int written = std::snprintf(size + used, sizeof size - used, d == 0 ? "%llu" : "-by-%llu",
                                      static_cast<unsigned long long>(dims[d]));
    if (written < 0) break;
    used += static_cast<std::size_t>(written);
  }
  // Cells and structs are arrays of any shape; only arrays of elements
  // are called matrices when they have two dimensions.
  const bool twoDimensional = ndims == 2;
  const bool elementwise = mxIsNumeric(array) || mxIsLogical(array) || mxIsChar(array);
  std::snprintf(text, sizeof text, "a %s %s%s%s %s", size, mxIsSparse(array) ? "sparse " : "",
                mxIsComplex(array) ? "complex " : "", mxGetClassName(array),
                twoDimensional && elementwise ? "matrix" : "array");
  return text;
}

}  // namespace

#endif

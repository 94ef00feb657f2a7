// failure.h: how a plug-in fails. Checks and kernels never raise: they
// describe what is wrong in a Failure and return false. Only mexFunction
// raises, after everything the call holds has been released, so an error
// never leaves scratch behind and every error is raised in one place.
//
// A Failure holds the condition word of the identifier "NAME:condition" and
// the message. An empty condition raises the message as plain text without
// an identifier (used only by the two plain messages some plug-ins raise).
//
// Raising is the gateway's last act: whatever the call holds is released
// first. An allocation inside a host call (mxMalloc, mxCreate*) that fails
// raises from within the host, as MATLAB and Octave do; the host then
// reclaims the call's scratch and arrays, and memory the plug-in owns through
// C++ objects (unique_ptr, vector) is freed by the unwinding.
//
// Routines are inline so that a plug-in that does not use one of them
// compiles without an unused-function warning.
#ifndef TOOLBOX_FAILURE_H
#define TOOLBOX_FAILURE_H

#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include "mexapi.h"

namespace {

constexpr std::size_t kMessageLength = 512;
constexpr std::size_t kIdentifierLength = 96;
// Room for an array's description, such as "a 2-by-3-by-4 complex double array".
constexpr std::size_t kDescriptionLength = 96;

// A failed check: the condition word of the identifier (empty for a plain
// message) and the message.
struct Failure {
  const char *condition = nullptr;
  char message[kMessageLength] = {};
};

// mingw's C runtime printf lacks %zu; the Windows build uses mingw's own
// (C99, __USE_MINGW_ANSI_STDIO), which the compiler checks as gnu_printf.
// The archetypes are spelled with underscores because MATLAB's mex.h makes
// printf a macro for mexPrintf.
#if defined(__MINGW32__)
#define TOOLBOX_PRINTF_FORMAT __gnu_printf__
#else
#define TOOLBOX_PRINTF_FORMAT __printf__
#endif

// Records a failure; always returns false, so checks can end with it.
__attribute__((format(TOOLBOX_PRINTF_FORMAT, 3, 4))) inline bool fail(Failure *failure,
                                                                      const char *condition,
                                                                      const char *format, ...) {
  failure->condition = condition;
  va_list args;
  va_start(args, format);
  std::vsnprintf(failure->message, sizeof failure->message, format, args);
  va_end(args);
  return false;
}

// A plug-in that returns one output refuses to be asked for more: output
// names what it returns, such as "Y" or "the M-by-N-by-3 image RGB".
inline bool checkOneOutput(int nlhs, const char *plugin, const char *output, Failure *failure) {
  if (nlhs <= 1) return true;
  return fail(failure, "tooManyOutputs", "%s returns one output, %s (asked for %d).", plugin,
              output, nlhs);
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
// (two dimensions, numeric, logical or char) or "array". For example "a 3-by-3 sparse double
// matrix", "a 2-by-2 int32 matrix", "a 2-by-3-by-4 complex double array".
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

// failure.h: how a plug-in's checks and kernels fail. They never raise:
// they describe what is wrong in a Failure and return false. Only
// mexFunction raises (raiseFailure, hostbridge.h), after everything the
// call holds has been released, so an error never leaves scratch behind and
// every error is raised in one place.
//
// A Failure holds the condition word of the identifier "NAME:condition" and
// the message. An empty condition raises the message as plain text without
// an identifier (used only by the two plain messages some plug-ins raise).
// This part needs no host: pairsolve's solver, which fails through it, runs
// without one in its tests and benchmarks.
//
// Routines are inline so that a plug-in that does not use one of them
// compiles without an unused-function warning.
#ifndef TOOLBOX_FAILURE_H
#define TOOLBOX_FAILURE_H

#include <cstdarg>
#include <cstddef>
#include <cstdio>

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

}  // namespace

#endif

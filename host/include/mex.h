/* mex.h: the host (MEX) interface of the bundled host.
 *
 * A plug-in defines mexFunction; the host calls it once per call with the
 * requested number of outputs, the output slots, and the inputs. Errors
 * raised here never return to the plug-in: the call ends, its outputs are
 * dropped and the memory it obtained from mxMalloc/mxCalloc is reclaimed.
 *
 * In a MEX file (MATLAB_MEX_FILE defined) this header does what MATLAB's
 * own does, so that the bundled build fails where a MATLAB build would:
 * printf is a macro for mexPrintf, and on Linux mexCallMATLAB is a macro
 * for mexCallMATLABWithObject, both taking the inputs as non-const.
 */
#ifndef MEXHOST_MEX_H
#define MEXHOST_MEX_H

#include "matrix.h"

#if defined(_WIN32)
#if defined(MEXHOST_BUILDING_MEX)
#define MEX_API __declspec(dllexport)
#else
#define MEX_API __declspec(dllimport)
#endif
#else
#define MEX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Defined by the plug-in. */
void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

#if defined(__GNUC__)
#define MEXHOST_NORETURN __attribute__((noreturn))
#define MEXHOST_PRINTF(fmt, args) __attribute__((format(__printf__, fmt, args)))
#else
#define MEXHOST_NORETURN
#define MEXHOST_PRINTF(fmt, args)
#endif

MEX_API MEXHOST_NORETURN void mexErrMsgTxt(const char *message);
MEX_API MEXHOST_NORETURN void mexErrMsgIdAndTxt(const char *identifier, const char *format, ...)
    MEXHOST_PRINTF(2, 3);
MEX_API void mexWarnMsgTxt(const char *message);
MEX_API void mexWarnMsgIdAndTxt(const char *identifier, const char *format, ...)
    MEXHOST_PRINTF(2, 3);
MEX_API int mexPrintf(const char *format, ...) MEXHOST_PRINTF(1, 2);

/* Call a host function by name. An error inside it ends the plug-in's call.
 * The inputs are only read, though neither declaration says so. */
MEX_API int mexCallMATLAB(int nlhs, mxArray *plhs[], int nrhs, mxArray *prhs[], const char *name);
MEX_API int mexCallMATLABWithObject(int nlhs, mxArray *plhs[], int nrhs, mxArray *prhs[],
                                    const char *name);

#ifdef __cplusplus
}
#endif

#if defined(MATLAB_MEX_FILE)
#define printf mexPrintf
#if !defined(_WIN32)
#define mexCallMATLAB mexCallMATLABWithObject
#endif
#endif

#endif

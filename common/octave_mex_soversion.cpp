// octave_mex_soversion: the marker Octave 10 and later look for before they
// load a MEX file: the SOVERSION of the library that holds Octave's MX/MEX
// functions (liboctmex), the value mkoctfile --mex compiles into every MEX
// file. The CMake build adds it to Octave plug-ins where that library
// exists; mkoctfile adds its own. The Octave export list
// (mexplugin-octave.map) exports it.
#include "mexgateway.h"

#if !defined(OCTAVE_MEX_SOVERSION)
#error "the build must define OCTAVE_MEX_SOVERSION"
#endif

MEX_EXPORT const int __octave_mex_soversion__ = OCTAVE_MEX_SOVERSION;

// mexapi.h: the host's mex.h, as every plug-in source includes it. MATLAB's
// mex.h (and the bundled host's, which declares what MATLAB's does) makes
// printf a macro for mexPrintf; a C library header that declares or defines
// printf after it (mingw's stdio.h defines it inline) would then clash with
// mex.h's own mexPrintf. So the C library's stdio comes first, once.
#ifndef TOOLBOX_MEXAPI_H
#define TOOLBOX_MEXAPI_H

#include <cstdio>

#include "mex.h"

#endif

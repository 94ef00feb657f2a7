// cpp_mexapi_version: tells a MATLAB-style host which interface the plug-in
// was built for. The build sets both words per plug-in: the release word and
// the target API word for 32-bit or 64-bit sizes (host/include/mexapiwords.h).
#include "mexgateway.h"

#if !defined(MEX_RELEASE_WORD) || !defined(MEX_TARGET_API_WORD)
#error "the build must define MEX_RELEASE_WORD and MEX_TARGET_API_WORD"
#endif

MEX_EXPORT void mexfilerequiredapiversion(unsigned int *built_by_rel,
                                          unsigned int *target_api_ver) {
  *built_by_rel = MEX_RELEASE_WORD;
  *target_api_ver = MEX_TARGET_API_WORD;
}

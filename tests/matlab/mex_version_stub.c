/* Stands in for the API version function that MATLAB's mex compiles into
 * every MEX file it builds (mex_build_test.sh): the release word, and the
 * target API word of the size family the mex command was given. */
#if defined(MX_COMPAT_32)
#define STUB_TARGET_API_WORD 0x07000000u
#else
#define STUB_TARGET_API_WORD 0x07300000u
#endif

#ifdef __cplusplus
extern "C"
#endif
    __attribute__((visibility("default"))) void
    mexfilerequiredapiversion(unsigned int *built_by_rel, unsigned int *target_api_ver) {
  *built_by_rel = 0x0002016Bu;
  *target_api_ver = STUB_TARGET_API_WORD;
}

/* matrix.h: the array (MX) interface of the bundled host.
 *
 * This is the subset of the MX programming interface that the toolbox's
 * plug-ins and tools use, written for the bundled host. Arrays are opaque
 * handles; every size and index is reached through the functions below.
 *
 * A plug-in (compiled with MATLAB_MEX_FILE defined, as every MEX build
 * does) chooses its interface the way it must for a MATLAB installation:
 *   MX_COMPAT_32                                   32-bit sizes (mwSize is
 *                                                  int), binds the "_700" entries
 *   MX_COMPAT_64 and MATLAB_DEFAULT_RELEASE=R2017b 64-bit sizes, binds "_730"
 * Anything else selects, in a MATLAB installation since R2018a, the
 * interleaved-complex interface, which binds other names than the version
 * words our plug-ins report; this header refuses it, so the bundled build
 * fails where a MATLAB build would go wrong. Code that embeds the host (its
 * tools and tests, without MATLAB_MEX_FILE) gets 64-bit sizes.
 *
 * Only the functions that carry a size-family suffix in a MATLAB installation
 * have two entries; every other function has a single entry under its plain
 * name, which is the name a plug-in built against this header imports.
 */
#ifndef MEXHOST_MATRIX_H
#define MEXHOST_MATRIX_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(MEXHOST_BUILDING_MX)
#define MX_API __declspec(dllexport)
#else
#define MX_API __declspec(dllimport)
#endif
#else
#define MX_API __attribute__((visibility("default")))
#endif

/* The interface selection described above. */
#define MEXHOST_CAT_(a, b) a##b
#define MEXHOST_CAT(a, b) MEXHOST_CAT_(a, b)
#define MEXHOST_RELEASE_R2017b 700
#define MEXHOST_RELEASE_R2018a 800
#if defined(MATLAB_MEX_FILE) && !defined(MX_COMPAT_32)
#if !defined(MX_COMPAT_64) || !defined(MATLAB_DEFAULT_RELEASE)
#error \
    "a MEX file must choose its size family: define MX_COMPAT_32, or MX_COMPAT_64 with MATLAB_DEFAULT_RELEASE=R2017b (without them MATLAB's headers select the interleaved-complex interface)"
#elif MEXHOST_CAT(MEXHOST_RELEASE_, MATLAB_DEFAULT_RELEASE) != 700
#error \
    "MATLAB_DEFAULT_RELEASE selects an interface other than the separate-complex one with 64-bit sizes; define MATLAB_DEFAULT_RELEASE=R2017b"
#endif
#endif
#if defined(MX_COMPAT_32) && defined(MX_COMPAT_64)
#error "define one of MX_COMPAT_32 and MX_COMPAT_64, not both"
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;

#ifdef MX_COMPAT_32
typedef int mwSize;
typedef int mwIndex;
typedef int mwSignedIndex;
#else
typedef size_t mwSize;
typedef size_t mwIndex;
typedef ptrdiff_t mwSignedIndex;
#endif

#ifdef __cplusplus
typedef bool mxLogical;
#else
typedef unsigned char mxLogical;
#endif
typedef uint16_t mxChar;

typedef enum {
  mxUNKNOWN_CLASS = 0,
  mxCELL_CLASS = 1,
  mxSTRUCT_CLASS = 2,
  mxLOGICAL_CLASS = 3,
  mxCHAR_CLASS = 4,
  mxVOID_CLASS = 5,
  mxDOUBLE_CLASS = 6,
  mxSINGLE_CLASS = 7,
  mxINT8_CLASS = 8,
  mxUINT8_CLASS = 9,
  mxINT16_CLASS = 10,
  mxUINT16_CLASS = 11,
  mxINT32_CLASS = 12,
  mxUINT32_CLASS = 13,
  mxINT64_CLASS = 14,
  mxUINT64_CLASS = 15,
  mxFUNCTION_CLASS = 16
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

/* Shape and class. mxGetN is the product of all dimensions but the first. */
MX_API size_t mxGetM(const mxArray *pa);
MX_API size_t mxGetN(const mxArray *pa);
MX_API size_t mxGetNumberOfElements(const mxArray *pa);
MX_API size_t mxGetElementSize(const mxArray *pa);
MX_API mxClassID mxGetClassID(const mxArray *pa);
MX_API const char *mxGetClassName(const mxArray *pa);
MX_API bool mxIsDouble(const mxArray *pa);
MX_API bool mxIsSingle(const mxArray *pa);
MX_API bool mxIsLogical(const mxArray *pa);
MX_API bool mxIsChar(const mxArray *pa);
MX_API bool mxIsInt8(const mxArray *pa);
MX_API bool mxIsUint8(const mxArray *pa);
MX_API bool mxIsInt16(const mxArray *pa);
MX_API bool mxIsUint16(const mxArray *pa);
MX_API bool mxIsInt32(const mxArray *pa);
MX_API bool mxIsUint32(const mxArray *pa);
MX_API bool mxIsInt64(const mxArray *pa);
MX_API bool mxIsUint64(const mxArray *pa);
MX_API bool mxIsNumeric(const mxArray *pa);
MX_API bool mxIsComplex(const mxArray *pa);
MX_API bool mxIsSparse(const mxArray *pa);
MX_API bool mxIsEmpty(const mxArray *pa);

/* Data. Complex arrays keep real and imaginary parts in separate blocks. */
MX_API double *mxGetPr(const mxArray *pa);
MX_API double *mxGetPi(const mxArray *pa);
MX_API void *mxGetData(const mxArray *pa);
MX_API void *mxGetImagData(const mxArray *pa);
MX_API mxLogical *mxGetLogicals(const mxArray *pa);
MX_API mxChar *mxGetChars(const mxArray *pa);
MX_API double mxGetScalar(const mxArray *pa);

/* IEEE helpers. */
MX_API bool mxIsFinite(double x);
MX_API bool mxIsInf(double x);
MX_API bool mxIsNaN(double x);
MX_API double mxGetInf(void);
MX_API double mxGetNaN(void);
MX_API double mxGetEps(void);

/* Memory owned by the current call; reclaimed by the host when it ends in an
 * error, reported as a leak when it is still held at a normal return. */
MX_API void *mxMalloc(size_t n);
MX_API void *mxCalloc(size_t n, size_t size);
MX_API void *mxRealloc(void *ptr, size_t size);
MX_API void mxFree(void *ptr);

MX_API mxArray *mxCreateDoubleScalar(double value);
MX_API mxArray *mxCreateString(const char *str);
MX_API char *mxArrayToString(const mxArray *pa);
MX_API void mxDestroyArray(mxArray *pa);
MX_API mxArray *mxDuplicateArray(const mxArray *pa);

/* Uninitialised arrays: one entry each, taking size_t in both size families
 * (the names a MATLAB installation exports). The dimensions are not const,
 * as in MATLAB's declaration; they are only read. */
MX_API mxArray *mxCreateUninitNumericMatrix(size_t m, size_t n, mxClassID classid,
                                            mxComplexity flag);
MX_API mxArray *mxCreateUninitNumericArray(size_t ndim, size_t *dims, mxClassID classid,
                                           mxComplexity flag);

/* Both size families. */
MX_API mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag);
MX_API mxArray *mxCreateDoubleMatrix_730(size_t m, size_t n, mxComplexity flag);
MX_API mxArray *mxCreateNumericMatrix_700(int m, int n, mxClassID classid, mxComplexity flag);
MX_API mxArray *mxCreateNumericMatrix_730(size_t m, size_t n, mxClassID classid, mxComplexity flag);
MX_API mxArray *mxCreateNumericArray_700(int ndim, const int *dims, mxClassID classid,
                                         mxComplexity flag);
MX_API mxArray *mxCreateNumericArray_730(size_t ndim, const size_t *dims, mxClassID classid,
                                         mxComplexity flag);
MX_API mxArray *mxCreateLogicalMatrix_700(int m, int n);
MX_API mxArray *mxCreateLogicalMatrix_730(size_t m, size_t n);
MX_API mxArray *mxCreateSparse_700(int m, int n, int nzmax, mxComplexity flag);
MX_API mxArray *mxCreateSparse_730(size_t m, size_t n, size_t nzmax, mxComplexity flag);
MX_API mxArray *mxCreateSparseLogicalMatrix_700(int m, int n, int nzmax);
MX_API mxArray *mxCreateSparseLogicalMatrix_730(size_t m, size_t n, size_t nzmax);
MX_API int mxGetNumberOfDimensions_700(const mxArray *pa);
MX_API size_t mxGetNumberOfDimensions_730(const mxArray *pa);
MX_API const int *mxGetDimensions_700(const mxArray *pa);
MX_API const size_t *mxGetDimensions_730(const mxArray *pa);
MX_API int *mxGetIr_700(const mxArray *pa);
MX_API size_t *mxGetIr_730(const mxArray *pa);
MX_API int *mxGetJc_700(const mxArray *pa);
MX_API size_t *mxGetJc_730(const mxArray *pa);
MX_API int mxGetNzmax_700(const mxArray *pa);
MX_API size_t mxGetNzmax_730(const mxArray *pa);

#ifdef __cplusplus
}
#endif

#ifdef MX_COMPAT_32
#define MX_SIZE_FAMILY(name) name##_700
#else
#define MX_SIZE_FAMILY(name) name##_730
#endif

#define mxCreateDoubleMatrix MX_SIZE_FAMILY(mxCreateDoubleMatrix)
#define mxCreateNumericMatrix MX_SIZE_FAMILY(mxCreateNumericMatrix)
#define mxCreateNumericArray MX_SIZE_FAMILY(mxCreateNumericArray)
#define mxCreateLogicalMatrix MX_SIZE_FAMILY(mxCreateLogicalMatrix)
#define mxCreateSparse MX_SIZE_FAMILY(mxCreateSparse)
#define mxCreateSparseLogicalMatrix MX_SIZE_FAMILY(mxCreateSparseLogicalMatrix)
#define mxGetNumberOfDimensions MX_SIZE_FAMILY(mxGetNumberOfDimensions)
#define mxGetDimensions MX_SIZE_FAMILY(mxGetDimensions)
#define mxGetIr MX_SIZE_FAMILY(mxGetIr)
#define mxGetJc MX_SIZE_FAMILY(mxGetJc)
#define mxGetNzmax MX_SIZE_FAMILY(mxGetNzmax)

#endif

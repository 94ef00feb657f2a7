// largeoutput.h: creating outputs that the plug-in fills itself.
//
// A host hands out a new numeric array with its data zeroed, and on Linux
// every 4 KiB page of it costs a fault when it is first touched (inside the
// host's zeroing or at the plug-in's first write). On virtual machines a
// fault can cost microseconds, so for outputs of tens of megabytes the pages
// cost more than the plug-in's whole work. These helpers ask the host for an
// uninitialised array instead, advise the kernel to back its interior with
// 2 MiB pages (platform/hugepages.h), and then write every byte
// themselves: the caller receives the same array. hugepages.h is included
// by its path from here, so that every way of building a plug-in (CMake,
// build_mextoolbox, the Octave package, MATLAB's mex) finds it without an
// include folder of its own.
#ifndef TOOLBOX_COMMON_LARGEOUTPUT_H
#define TOOLBOX_COMMON_LARGEOUTPUT_H

#include <cstddef>
#include <cstring>

#include "../platform/hugepages.h"
#include "mexapi.h"

namespace largeoutput {

// A real m-by-n double matrix of +0.0, like mxCreateDoubleMatrix.
inline mxArray *createZeroDoubleMatrix(mwSize m, mwSize n) {
  mxArray *array = mxCreateUninitNumericMatrix(m, n, mxDOUBLE_CLASS, mxREAL);
  std::size_t bytes = mxGetNumberOfElements(array) * sizeof(double);
  hugepages::advise(mxGetData(array), bytes);
  if (bytes > 0) std::memset(mxGetData(array), 0, bytes);
  return array;
}

// A real numeric array whose every element the caller writes before the
// call returns. The host's constructor takes size_t dimensions (mwSize in
// Octave), through a pointer that is not const in MATLAB's declaration
// though only read; as a template, only a call with that type is compiled.
template <typename Size>
inline mxArray *createUnfilledArray(Size ndim, Size *dims, mxClassID classID) {
  mxArray *array = mxCreateUninitNumericArray(ndim, dims, classID, mxREAL);
  hugepages::advise(mxGetData(array), mxGetNumberOfElements(array) * mxGetElementSize(array));
  return array;
}

}  // namespace largeoutput

#endif

// largeoutput.h: creating outputs that the plug-in fills itself.
//
// A host hands out a new numeric array with its data zeroed, and on Linux
// every 4 KiB page of it costs a fault when it is first touched (inside the
// host's zeroing or at the plug-in's first write). On virtual machines a
// fault can cost microseconds, so for outputs of tens of megabytes the pages
// cost more than the plug-in's whole work. These helpers ask the host for an
// uninitialised array instead, advise the kernel to back its interior with
// 2 MiB pages (512 times fewer faults where the kernel allows it), and then
// write every byte themselves: the caller receives the same array.
#ifndef TOOLBOX_COMMON_LARGEOUTPUT_H
#define TOOLBOX_COMMON_LARGEOUTPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "mex.h"

namespace largeoutput {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Below this size an output fits the host allocator's reused memory and
// the advice would gain nothing.
constexpr std::size_t kAdviceThreshold = 4 * kHugePage;

// Advises huge pages for the aligned interior of [data, data + bytes). Only
// a hint: it changes no byte and is ignored where unsupported.
inline void adviseHugePages(void *data, std::size_t bytes) {
#if defined(__linux__)
  if (bytes < kAdviceThreshold) return;
  auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
  auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHugePage - 1);
  if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

// A real m-by-n double matrix of +0.0, like mxCreateDoubleMatrix.
inline mxArray *createZeroDoubleMatrix(mwSize m, mwSize n) {
  mxArray *array = mxCreateUninitNumericMatrix(m, n, mxDOUBLE_CLASS, mxREAL);
  std::size_t bytes = mxGetNumberOfElements(array) * sizeof(double);
  adviseHugePages(mxGetData(array), bytes);
  if (bytes > 0) std::memset(mxGetData(array), 0, bytes);
  return array;
}

// A real numeric array whose every element the caller writes before the
// call returns. The host's constructor takes size_t dimensions (mwSize in
// Octave); as a template, only a call with that type is compiled.
template <typename Size>
inline mxArray *createUnfilledArray(Size ndim, const Size *dims, mxClassID classID) {
  mxArray *array = mxCreateUninitNumericArray(ndim, dims, classID, mxREAL);
  adviseHugePages(mxGetData(array), mxGetNumberOfElements(array) * mxGetElementSize(array));
  return array;
}

}  // namespace largeoutput

#endif

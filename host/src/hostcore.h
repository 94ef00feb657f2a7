// hostcore.h: what libmx and libmex share inside the bundled host.
//
// An mxArray is a plain record: class, dimensions, flags and owned data
// blocks. A CallContext exists while a plug-in call runs on this thread and
// tracks what the call obtained from the host, so that the host can reclaim
// it after an error and report it after a normal return.
#ifndef MEXHOST_HOSTCORE_H
#define MEXHOST_HOSTCORE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "matrix.h"

struct mxArray_tag {
  mxClassID classID = mxDOUBLE_CLASS;
  std::vector<size_t> dims{0, 0};  // always at least two
  bool isComplex = false;
  bool isSparse = false;
  void *real = nullptr;  // dense: numel elements; sparse: nzmax elements
  void *imag = nullptr;  // complex arrays only
  size_t nzmax = 0;      // sparse only
  size_t *ir = nullptr;  // sparse only: nzmax row indices
  size_t *jc = nullptr;  // sparse only: columns + 1 starts
  // Shadows for the 32-bit family, built on first request.
  std::vector<int> dims32;
  std::vector<int> ir32;
  std::vector<int> jc32;
};

namespace mexhost {

struct CallContext {
  std::unordered_map<void *, size_t> scratch;  // live mxMalloc blocks and their sizes
  size_t scratchBytes = 0;                     // sum of the sizes in scratch
  size_t peakScratchBytes = 0;                 // the largest scratchBytes reached
  std::unordered_set<mxArray *> created;       // arrays created during the call, not destroyed
  std::unordered_set<const mxArray *> inputs;  // the call's inputs
  std::vector<std::string> violations;         // breaches noticed while the call ran
  int hostCalls = 0;
  long allocations = 0;        // host allocations made so far
  long failingAllocation = 0;  // the allocation that fails (0: none)
};

// The context of the plug-in call running on this thread, or null.
MX_API CallContext *currentContext();
MX_API void setCurrentContext(CallContext *context);

// Counts one host allocation of the running call (if any) and raises
// MATLAB:nomem when it is the one the call was told to fail. Every entry
// point that allocates calls it before allocating anything.
MX_API void countAllocation();

// Releases everything the call still holds (after an error, or after a
// normal return once the outputs are taken out of context->created).
MX_API void reclaim(CallContext *context);

// A fingerprint of an array's class, shape and every data byte.
MX_API uint64_t fingerprint(const mxArray *array);

// Number of elements, or stored elements for sparse arrays; 0 when the
// product of the dimensions would not fit in size_t.
MX_API size_t elementCount(const mxArray *array);
MX_API size_t classElementSize(mxClassID classID);

// Raises a host error: in a call it throws MexError, outside it too.
[[noreturn]] MX_API void raise(const char *identifier, const std::string &message);

}  // namespace mexhost

#endif

// mexhost.h: the embedding interface of the bundled host (C++ only).
//
// Tools and tests use it to open a plug-in, call it like MATLAB would, and
// read back the outputs, the error, or the contract violations of the call.
#ifndef MEXHOST_MEXHOST_H
#define MEXHOST_MEXHOST_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mex.h"
#include "mexapiwords.h"

namespace mexhost {

// The two words a plug-in reports through mexfilerequiredapiversion.
constexpr unsigned kReleaseWord = MEXAPI_RELEASE_WORD;
constexpr unsigned kApi32 = MEXAPI_API32_WORD;
constexpr unsigned kApi64 = MEXAPI_API64_WORD;

// Thrown by mexErrMsgTxt/mexErrMsgIdAndTxt and by host functions that fail;
// caught by the host at the end of the plug-in call. Plug-ins never see it.
struct MexError {
  std::string identifier;
  std::string message;
};

// An array owned by the caller of the host (not by any plug-in call).
struct ArrayDeleter {
  void operator()(mxArray *array) const { mxDestroyArray(array); }
};
using ArrayPtr = std::unique_ptr<mxArray, ArrayDeleter>;

struct CallResult {
  enum class Status { ok, error, violation };
  Status status = Status::ok;
  std::vector<ArrayPtr> outputs;        // status ok: nlhs outputs (one for ans when nlhs is 0)
  std::string identifier;               // status error
  std::string message;                  // status error
  std::vector<std::string> violations;  // status violation: every contract breach found
  int hostCalls = 0;                    // mexCallMATLAB / mexCallMATLABWithObject calls made
  size_t peakScratchBytes = 0;          // most mxMalloc/mxCalloc/mxRealloc bytes held at once
  long allocations = 0;                 // host allocations made (see failingAllocation)
};

class MEX_API Plugin {
 public:
  // Opens the shared library at path; on failure returns null and says why.
  static std::unique_ptr<Plugin> open(const std::string &path, std::string *why);
  ~Plugin();
  Plugin(const Plugin &) = delete;
  Plugin &operator=(const Plugin &) = delete;

  // One MATLAB-level call. Inputs are only read; the host checks that by
  // fingerprinting every input before and after the call, unless told not
  // to (benchmarks, where hashing large inputs would swamp the timing).
  //
  // failingAllocation k > 0 makes the call's k-th host allocation fail, as
  // memory running out would: every mxMalloc, mxCalloc, mxRealloc and array
  // creation (mxCreate*, mxDuplicateArray, and those of the functions reached
  // through mexCallMATLAB) counts as one, in the order made. The failing one
  // raises MATLAB:nomem from inside the host call, as MATLAB and Octave do;
  // the error unwinds through the plug-in and the host reclaims the call's
  // scratch and arrays. CallResult::allocations tells how many a call makes.
  enum class InputCheck { fingerprint, none };
  CallResult call(int nlhs, const std::vector<const mxArray *> &inputs,
                  InputCheck inputCheck = InputCheck::fingerprint,
                  long failingAllocation = 0) const;

  const std::string &name() const { return name_; }
  unsigned releaseWord() const { return releaseWord_; }
  unsigned apiWord() const { return apiWord_; }
  bool hasVersionFunction() const { return hasVersionFunction_; }

 private:
  Plugin() = default;
  using Gateway = void (*)(int, mxArray *[], int, const mxArray *[]);
  void *handle_ = nullptr;
  Gateway gateway_ = nullptr;
  std::string name_;
  unsigned releaseWord_ = 0;
  unsigned apiWord_ = 0;
  bool hasVersionFunction_ = false;
};

// Element k (in storage order, stored entries for sparse arrays) of a
// numeric, logical or char array, converted to double; its imaginary part
// when asked for (complex arrays only).
MX_API double elementAsDouble(const mxArray *array, size_t k, bool imaginary = false);

// The class named as MATLAB spells it ("double", "uint8", "logical",
// "char", ...); false for any other name.
MX_API bool classFromName(const std::string &name, mxClassID *classID);

// Arrays alive in this process, and mxMalloc/mxCalloc blocks obtained inside
// plug-in calls and not yet released; tests use them to see reclaiming work.
MX_API long liveArrays();
MX_API long liveScratchBlocks();

// The largest data block one array may have (default: no limit). Creating a
// larger array raises MATLAB:array:SizeLimitExceeded, as MATLAB does past its
// own limit; the fuzzer uses it to keep constructor calls cheap.
MX_API void setArrayByteLimit(size_t bytes);

// The file suffix of plug-ins on this platform: ".mexa64" or ".mexw64".
MEX_API const char *pluginSuffix();

// Host functions reachable through mexCallMATLAB ("zeros", "ones" and any a
// test registers). They create outputs with the mx constructors and report
// failures by throwing MexError. registerFunction returns the function it
// replaces (null if none); register before plug-ins run on other threads.
using HostFunction = void (*)(int nlhs, mxArray *plhs[], int nrhs, const mxArray *const prhs[]);
MEX_API HostFunction registerFunction(const std::string &name, HostFunction function);
MEX_API bool callFunction(const std::string &name, int nlhs, mxArray *plhs[], int nrhs,
                          const mxArray *const prhs[]);

}  // namespace mexhost

#endif

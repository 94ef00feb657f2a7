// libmex of the bundled host: errors, call-backs, and the loader that calls a
// plug-in's gateway and checks what it did.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "hostcore.h"
#include "mexhost.h"

namespace mexhost {

namespace {

// Output slots handed to a plug-in beyond the max(nlhs, 1) it may write; a
// write into one of them is an overrun that MATLAB would not notice.
constexpr int kGuardSlots = 16;
constexpr size_t kMessageBytes = 4096;

std::string formatMessage(const char *format, va_list args) {
  char buffer[kMessageBytes];
  std::vsnprintf(buffer, sizeof buffer, format, args);
  return buffer;
}

void zerosFunction(int, mxArray *plhs[], int nrhs, const mxArray *const prhs[]);
void onesFunction(int, mxArray *plhs[], int nrhs, const mxArray *const prhs[]);

// The call-back registry. It is filled once, on first use (a thread-safe
// static initialisation); functions added by registerFunction must be added
// before plug-ins run on other threads, since lookups take no lock.
std::map<std::string, HostFunction> &registry() {
  static std::map<std::string, HostFunction> functions = {{"zeros", zerosFunction},
                                                          {"ones", onesFunction}};
  return functions;
}

HostFunction findFunction(const std::string &name) {
  auto it = registry().find(name);
  return it == registry().end() ? nullptr : it->second;
}

void *openLibrary(const std::string &path, std::string *why) {
#if defined(_WIN32)
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    *why = "cannot load " + path + " (Windows error " + std::to_string(GetLastError()) + ")";
  }
  return reinterpret_cast<void *>(module);
#else
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    *why = dlerror();
  }
  return handle;
#endif
}

void *findSymbol(void *handle, const char *name) {
#if defined(_WIN32)
  return reinterpret_cast<void *>(GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
#else
  return dlsym(handle, name);
#endif
}

void closeLibrary(void *handle) {
#if defined(_WIN32)
  FreeLibrary(reinterpret_cast<HMODULE>(handle));
#else
  dlclose(handle);
#endif
}

std::string baseName(const std::string &path) {
  size_t slash = path.find_last_of("/\\");
  std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = file.find('.');
  return dot == std::string::npos ? file : file.substr(0, dot);
}

// Checks a normal return and moves the delivered outputs into the result.
// Outputs: slots 1..max(nlhs, 1) may hold arrays created during the call;
// slots beyond them must stay untouched. Everything else the call obtained
// must have been released, and every input must be unchanged.
void finishNormalReturn(CallContext &context, const std::string &name, int nlhs, mxArray **slots,
                        const std::vector<const mxArray *> &inputs,
                        const std::vector<uint64_t> &before, CallResult &result) {
  int usable = nlhs > 1 ? nlhs : 1;
  std::vector<std::string> &violations = context.violations;
  for (int i = usable; i < usable + kGuardSlots; ++i) {
    if (slots[i] != nullptr) {
      violations.push_back("output slot " + std::to_string(i + 1) + " written, but only " +
                           std::to_string(usable) + " slot(s) exist for nargout " +
                           std::to_string(nlhs));
    }
  }
  std::vector<mxArray *> delivered;
  for (int i = 0; i < usable; ++i) {
    mxArray *out = slots[i];
    if (out == nullptr) {
      continue;
    }
    if (context.created.erase(out) == 0) {
      violations.push_back("output " + std::to_string(i + 1) +
                           " is not a new array created during this call");
      slots[i] = nullptr;
      continue;
    }
    delivered.push_back(out);
  }
  if (!context.created.empty()) {
    violations.push_back(std::to_string(context.created.size()) +
                         " array(s) created during the call were neither returned nor destroyed");
  }
  if (!context.scratch.empty()) {
    size_t bytes = 0;
    for (auto &block : context.scratch) {
      bytes += block.second;
    }
    violations.push_back(std::to_string(context.scratch.size()) + " mxMalloc/mxCalloc block(s) (" +
                         std::to_string(bytes) + " bytes) still held at return");
  }
  for (size_t i = 0; i < before.size(); ++i) {
    if (fingerprint(inputs[i]) != before[i]) {
      violations.push_back("input " + std::to_string(i + 1) + " was changed");
    }
  }
  int wanted = nlhs > 0 ? nlhs : (slots[0] != nullptr ? 1 : 0);
  bool unassigned = false;
  for (int i = 0; i < wanted; ++i) {
    unassigned = unassigned || slots[i] == nullptr;
  }
  if (violations.empty() && !unassigned) {
    for (int i = 0; i < wanted; ++i) {
      result.outputs.emplace_back(slots[i]);
    }
    for (int i = wanted; i < usable; ++i) {
      mxDestroyArray(slots[i]);
    }
    return;
  }
  for (mxArray *out : delivered) {
    mxDestroyArray(out);
  }
  if (!violations.empty()) {
    result.status = CallResult::Status::violation;
    result.violations = violations;
  } else {
    result.status = CallResult::Status::error;
    result.identifier = "MATLAB:unassignedOutputs";
    result.message = "One or more output arguments not assigned during call to \"" + name + "\".";
  }
}

}  // namespace

const char *pluginSuffix() {
#if defined(_WIN32)
  return ".mexw64";
#else
  return ".mexa64";
#endif
}

std::unique_ptr<Plugin> Plugin::open(const std::string &path, std::string *why) {
  void *handle = openLibrary(path, why);
  if (handle == nullptr) {
    return nullptr;
  }
  std::unique_ptr<Plugin> plugin(new Plugin);
  plugin->handle_ = handle;
  plugin->name_ = baseName(path);
  plugin->gateway_ = reinterpret_cast<Gateway>(findSymbol(handle, "mexFunction"));
  if (plugin->gateway_ == nullptr) {
    *why = path + " does not export mexFunction";
    return nullptr;
  }
  using VersionFunction = void (*)(unsigned *, unsigned *);
  auto version = reinterpret_cast<VersionFunction>(findSymbol(handle, "mexfilerequiredapiversion"));
  if (version != nullptr) {
    plugin->hasVersionFunction_ = true;
    version(&plugin->releaseWord_, &plugin->apiWord_);
    bool known = plugin->releaseWord_ == kReleaseWord &&
                 (plugin->apiWord_ == kApi32 || plugin->apiWord_ == kApi64);
    if (!known) {
      char words[64];
      std::snprintf(words, sizeof words, "0x%08X, 0x%08X", plugin->releaseWord_, plugin->apiWord_);
      *why = path + " requires an API version this host does not know (" + words + ")";
      return nullptr;
    }
  } else {
#if !defined(_WIN32)
    // Windows plug-ins export mexFunction only; on Linux the version
    // function tells the host which size family the plug-in was built for.
    *why = path + " does not export mexfilerequiredapiversion";
    return nullptr;
#endif
  }
  return plugin;
}

Plugin::~Plugin() {
  if (handle_ != nullptr) {
    closeLibrary(handle_);
  }
}

CallResult Plugin::call(int nlhs, const std::vector<const mxArray *> &inputs, InputCheck inputCheck,
                        long failingAllocation) const {
  CallResult result;
  int usable = nlhs > 1 ? nlhs : 1;
  std::vector<mxArray *> slots(static_cast<size_t>(usable + kGuardSlots), nullptr);
  std::vector<const mxArray *> prhs(inputs);
  std::vector<uint64_t> before;
  if (inputCheck == InputCheck::fingerprint) {
    for (const mxArray *input : inputs) {
      before.push_back(fingerprint(input));
    }
  }
  CallContext context;
  context.failingAllocation = failingAllocation;
  for (const mxArray *input : inputs) {
    context.inputs.insert(input);
  }
  CallContext *outer = currentContext();
  // An error ends the call: everything it obtained is reclaimed and the
  // caller gets the identifier and message, no outputs.
  auto endWithError = [&](const std::string &identifier, const std::string &message) {
    setCurrentContext(outer);
    reclaim(&context);
    result.status = CallResult::Status::error;
    result.identifier = identifier;
    result.message = message;
    result.hostCalls = context.hostCalls;
    result.peakScratchBytes = context.peakScratchBytes;
    result.allocations = context.allocations;
    return std::move(result);
  };
  setCurrentContext(&context);
  try {
    gateway_(nlhs, slots.data(), static_cast<int>(prhs.size()), prhs.data());
  } catch (const MexError &error) {
    return endWithError(error.identifier, error.message);
  } catch (const std::bad_alloc &) {
    return endWithError("MATLAB:nomem", "Out of memory.");
  } catch (const std::exception &error) {
    return endWithError("MATLAB:unexpectedCPPexception",
                        std::string("Unexpected C++ exception: ") + error.what());
  } catch (...) {
    return endWithError("MATLAB:unexpectedCPPexception",
                        "Unexpected C++ exception of unknown type.");
  }
  setCurrentContext(outer);
  result.hostCalls = context.hostCalls;
  result.peakScratchBytes = context.peakScratchBytes;
  result.allocations = context.allocations;
  finishNormalReturn(context, name_, nlhs, slots.data(), inputs, before, result);
  reclaim(&context);
  return result;
}

HostFunction registerFunction(const std::string &name, HostFunction function) {
  HostFunction previous = findFunction(name);
  registry()[name] = function;
  return previous;
}

bool callFunction(const std::string &name, int nlhs, mxArray *plhs[], int nrhs,
                  const mxArray *const prhs[]) {
  HostFunction function = findFunction(name);
  if (function == nullptr) {
    return false;
  }
  function(nlhs, plhs, nrhs, prhs);
  return true;
}

namespace {

// The class a zeros/ones call names: a numeric class only.
mxClassID numericClassFromName(const std::string &function, const std::string &className) {
  mxClassID classID = mxUNKNOWN_CLASS;
  if (!classFromName(className, &classID) || classID == mxLOGICAL_CLASS ||
      classID == mxCHAR_CLASS) {
    raise(("MATLAB:" + function + ":invalidClassName").c_str(),
          function + ": invalid class name '" + className + "'");
  }
  return classID;
}

constexpr double kLargestDimension = 9007199254740992.0;  // 2^53

size_t dimensionFrom(const std::string &function, double value) {
  if (!std::isfinite(value)) {
    raise(("MATLAB:" + function + ":nonFiniteSize").c_str(),
          function + ": dimensions must be finite");
  }
  if (value != std::floor(value)) {
    raise(("MATLAB:" + function + ":nonIntegerSize").c_str(),
          function + ": dimensions must be integers");
  }
  // A size that no array can have is refused before it is converted: the
  // conversion of a double beyond size_t's range is undefined.
  if (value >= kLargestDimension) {
    raise("MATLAB:array:SizeLimitExceeded",
          function + ": requested array exceeds the maximum possible size");
  }
  return value < 0 ? 0 : static_cast<size_t>(value);
}

// zeros/ones: no size (1-by-1), one scalar n (n-by-n), one size vector, or
// several scalar sizes, optionally followed by a class name. Negative sizes
// count as 0, as in MATLAB.
void fill(const std::string &function, bool one, mxArray *plhs[], int nrhs,
          const mxArray *const prhs[]) {
  mxClassID classID = mxDOUBLE_CLASS;
  int sizeArgs = nrhs;
  if (nrhs > 0 && mxIsChar(prhs[nrhs - 1])) {
    char *text = mxArrayToString(prhs[nrhs - 1]);
    std::string className = text == nullptr ? "" : text;
    mxFree(text);
    classID = numericClassFromName(function, className);
    sizeArgs = nrhs - 1;
  }
  std::vector<size_t> dims;
  for (int i = 0; i < sizeArgs; ++i) {
    const mxArray *arg = prhs[i];
    if ((!mxIsNumeric(arg) && !mxIsLogical(arg)) || mxIsSparse(arg) || mxIsComplex(arg)) {
      raise(("MATLAB:" + function + ":invalidSize").c_str(),
            function + ": dimensions must be real, full, numeric values");
    }
    size_t count = mxGetNumberOfElements(arg);
    if (sizeArgs > 1 && count != 1) {
      raise(("MATLAB:" + function + ":invalidSize").c_str(),
            function + ": each dimension must be a scalar");
    }
    for (size_t k = 0; k < count; ++k) {
      dims.push_back(dimensionFrom(function, elementAsDouble(arg, k)));
    }
  }
  if (sizeArgs == 0) {
    dims = {1, 1};
  } else if (dims.size() == 1) {
    dims.push_back(dims[0]);
  } else if (dims.empty()) {
    dims = {0, 0};
  }
  mxArray *out = mxCreateNumericArray_730(dims.size(), dims.data(), classID, mxREAL);
  if (one) {
    size_t count = mxGetNumberOfElements(out);
    size_t elementSize = mxGetElementSize(out);
    auto *bytes = static_cast<unsigned char *>(mxGetData(out));
    for (size_t k = 0; k < count; ++k) {
      unsigned char *p = bytes + k * elementSize;
      if (classID == mxDOUBLE_CLASS) {
        double v = 1.0;
        std::memcpy(p, &v, sizeof v);
      } else if (classID == mxSINGLE_CLASS) {
        float v = 1.0f;
        std::memcpy(p, &v, sizeof v);
      } else {
        *p = 1;  // integer classes: the low byte of a little-endian 1
      }
    }
  }
  plhs[0] = out;
}

void zerosFunction(int, mxArray *plhs[], int nrhs, const mxArray *const prhs[]) {
  fill("zeros", false, plhs, nrhs, prhs);
}

void onesFunction(int, mxArray *plhs[], int nrhs, const mxArray *const prhs[]) {
  fill("ones", true, plhs, nrhs, prhs);
}

int dispatch(int nlhs, mxArray *plhs[], int nrhs, const mxArray *const prhs[], const char *name) {
  if (CallContext *context = currentContext()) {
    ++context->hostCalls;
  }
  HostFunction function = findFunction(name == nullptr ? "" : name);
  if (function == nullptr) {
    raise("MATLAB:UndefinedFunction",
          std::string("Undefined function '") + (name == nullptr ? "" : name) + "'.");
  }
  function(nlhs, plhs, nrhs, prhs);
  return 0;
}

}  // namespace

}  // namespace mexhost

extern "C" {

void mexErrMsgTxt(const char *message) {
  mexhost::raise("", message == nullptr ? "" : message);
}

void mexErrMsgIdAndTxt(const char *identifier, const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = mexhost::formatMessage(format, args);
  va_end(args);
  mexhost::raise(identifier == nullptr ? "" : identifier, message);
}

void mexWarnMsgTxt(const char *message) {
  std::fprintf(stderr, "Warning: %s\n", message);
}

void mexWarnMsgIdAndTxt(const char *identifier, const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = mexhost::formatMessage(format, args);
  va_end(args);
  (void)identifier;
  std::fprintf(stderr, "Warning: %s\n", message.c_str());
}

int mexPrintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  int written = std::vprintf(format, args);
  va_end(args);
  return written;
}

int mexCallMATLAB(int nlhs, mxArray *plhs[], int nrhs, mxArray *prhs[], const char *name) {
  return mexhost::dispatch(nlhs, plhs, nrhs, prhs, name);
}

int mexCallMATLABWithObject(int nlhs, mxArray *plhs[], int nrhs, mxArray *prhs[],
                            const char *name) {
  return mexhost::dispatch(nlhs, plhs, nrhs, prhs, name);
}

}  // extern "C"

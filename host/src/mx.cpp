// libmx of the bundled host: arrays, host memory and the per-call tracking.
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "hostcore.h"
#include "hugepages.h"
#include "mexhost.h"

namespace mexhost {

namespace {

thread_local CallContext *tlsContext = nullptr;

// Live host allocations across all threads, for tests of reclaiming.
std::atomic<long> liveArrayCount{0};
std::atomic<long> liveScratchCount{0};

// The largest data block of one array; MATLAB has a limit like it.
std::atomic<size_t> arrayByteLimit{std::numeric_limits<size_t>::max()};

// Scratch block bookkeeping of the running call: live blocks, their bytes,
// and the peak those bytes reached.
void holdScratch(CallContext *context, void *block, size_t bytes) {
  context->scratch[block] = bytes;
  context->scratchBytes += bytes;
  if (context->scratchBytes > context->peakScratchBytes) {
    context->peakScratchBytes = context->scratchBytes;
  }
}

// Forgets a block; false if the call does not hold it.
bool releaseScratch(CallContext *context, void *block) {
  auto found = context->scratch.find(block);
  if (found == context->scratch.end()) return false;
  context->scratchBytes -= found->second;
  context->scratch.erase(found);
  return true;
}

void note(const std::string &violation) {
  if (CallContext *context = tlsContext) {
    context->violations.push_back(violation);
  }
}

// Zero-filled block of at least one byte, so that every array has a data
// pointer and a read past the end of an empty array is caught by tools.
// Large arrays are first written by the plug-in that creates them, so their
// blocks are advised onto huge pages (hugepages.h).
void *allocateZeroed(size_t bytes) {
  if (bytes > arrayByteLimit.load()) {
    raise("MATLAB:array:SizeLimitExceeded",
          "Requested array of " + std::to_string(bytes) +
              " bytes exceeds the maximum array size this host allows (" +
              std::to_string(arrayByteLimit.load()) + " bytes).");
  }
  void *block = std::calloc(bytes == 0 ? 1 : bytes, 1);
  if (block == nullptr) {
    raise("MATLAB:nomem",
          "Out of memory. The host could not allocate " + std::to_string(bytes) + " bytes.");
  }
  hugepages::advise(block, bytes);
  return block;
}

size_t checkedProduct(const std::vector<size_t> &dims, size_t first, size_t elementSize) {
  size_t total = elementSize;
  for (size_t d = first; d < dims.size(); ++d) {
    if (dims[d] != 0 && total > std::numeric_limits<size_t>::max() / dims[d]) {
      raise("MATLAB:array:SizeLimitExceeded", "Requested array exceeds the maximum possible size.");
    }
    total *= dims[d];
  }
  return total;
}

void track(mxArray *array) {
  ++liveArrayCount;
  if (CallContext *context = tlsContext) {
    context->created.insert(array);
  }
}

void freeData(mxArray *array) {
  --liveArrayCount;
  std::free(array->real);
  std::free(array->imag);
  std::free(array->ir);
  std::free(array->jc);
  array->real = array->imag = nullptr;
  array->ir = array->jc = nullptr;
}

// Frees an array whose data blocks could not all be allocated; it was never
// tracked or counted as live.
void discardUnfinished(mxArray *array) {
  ++liveArrayCount;  // freeData counts the array as released
  freeData(array);
  delete array;
}

// Trailing singleton dimensions beyond the second are dropped, as in MATLAB.
void normaliseDims(std::vector<size_t> &dims) {
  while (dims.size() > 2 && dims.back() == 1) {
    dims.pop_back();
  }
  while (dims.size() < 2) {
    dims.push_back(dims.empty() ? 0 : 1);
  }
}

mxArray *createDense(std::vector<size_t> dims, mxClassID classID, mxComplexity flag) {
  countAllocation();
  size_t elementSize = classElementSize(classID);
  if (elementSize == 0) {
    raise("mexhost:unsupportedClass", "The bundled host cannot create arrays of this class.");
  }
  normaliseDims(dims);
  size_t bytes = checkedProduct(dims, 0, elementSize);
  auto *array = new mxArray_tag;
  array->classID = classID;
  array->dims = std::move(dims);
  array->isComplex = flag == mxCOMPLEX;
  try {
    array->real = allocateZeroed(bytes);
    if (array->isComplex) {
      array->imag = allocateZeroed(bytes);
    }
  } catch (...) {
    discardUnfinished(array);
    throw;
  }
  track(array);
  return array;
}

// An array whose elements the plug-in promises to write. Its small data
// blocks are filled with a pattern no plug-in writes by chance, so that an
// element left unwritten shows in the tests' exact comparisons; large ones
// are left as allocated (zero pages not yet touched), so that creating them
// costs what an uninitialised array costs in MATLAB and Octave.
constexpr unsigned char kUninitialisedByte = 0xA5;
constexpr size_t kPatternFillLimit = hugepages::kAdviceThreshold;

mxArray *createUninitialised(std::vector<size_t> dims, mxClassID classID, mxComplexity flag) {
  mxArray *array = createDense(std::move(dims), classID, flag);
  size_t bytes = mxGetNumberOfElements(array) * mxGetElementSize(array);
  if (bytes < kPatternFillLimit) {
    std::memset(array->real, kUninitialisedByte, bytes);
    if (array->isComplex) std::memset(array->imag, kUninitialisedByte, bytes);
  }
  return array;
}

mxArray *createSparse(size_t m, size_t n, size_t nzmax, mxClassID classID, mxComplexity flag) {
  countAllocation();
  if (nzmax == 0) {
    nzmax = 1;
  }
  size_t elementSize = classElementSize(classID);
  auto *array = new mxArray_tag;
  array->classID = classID;
  array->dims = {m, n};
  array->isSparse = true;
  array->isComplex = flag == mxCOMPLEX;
  array->nzmax = nzmax;
  try {
    if (nzmax > std::numeric_limits<size_t>::max() / sizeof(size_t) ||
        n == std::numeric_limits<size_t>::max() ||
        n + 1 > std::numeric_limits<size_t>::max() / sizeof(size_t)) {
      raise("MATLAB:array:SizeLimitExceeded", "Requested array exceeds the maximum possible size.");
    }
    array->real = allocateZeroed(nzmax * elementSize);
    if (array->isComplex) {
      array->imag = allocateZeroed(nzmax * elementSize);
    }
    array->ir = static_cast<size_t *>(allocateZeroed(nzmax * sizeof(size_t)));
    array->jc = static_cast<size_t *>(allocateZeroed((n + 1) * sizeof(size_t)));
  } catch (...) {
    discardUnfinished(array);
    throw;
  }
  track(array);
  return array;
}

size_t checkNonNegative(int value) {
  if (value < 0) {
    raise("mexhost:negativeSize",
          "A size passed to the host is negative (" + std::to_string(value) + ").");
  }
  return static_cast<size_t>(value);
}

// The sizes of a 32-bit dimension vector; negative sizes are refused.
std::vector<size_t> sizesOf(int ndim, const int *dims) {
  std::vector<size_t> sizes;
  for (int d = 0; d < ndim; ++d) {
    sizes.push_back(checkNonNegative(dims[d]));
  }
  return sizes;
}

int narrow32(size_t value, const char *what) {
  if (value > static_cast<size_t>(std::numeric_limits<int>::max())) {
    raise("mexhost:sizeExceeds32Bit",
          std::string(what) + " does not fit the 32-bit size interface of this plug-in.");
  }
  return static_cast<int>(value);
}

uint64_t mixBytes(uint64_t hash, const void *data, size_t bytes) {
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  const auto *p = static_cast<const unsigned char *>(data);
  size_t i = 0;
  for (; i + 8 <= bytes; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    hash = (hash ^ word) * kMultiplier;
    hash ^= hash >> 29;
  }
  for (; i < bytes; ++i) {
    hash = (hash ^ p[i]) * kMultiplier;
  }
  return hash;
}

}  // namespace

CallContext *currentContext() {
  return tlsContext;
}

void setCurrentContext(CallContext *context) {
  tlsContext = context;
}

void raise(const char *identifier, const std::string &message) {
  throw MexError{identifier, message};
}

void countAllocation() {
  CallContext *context = tlsContext;
  if (context == nullptr) return;
  ++context->allocations;
  if (context->allocations == context->failingAllocation) {
    raise("MATLAB:nomem", "Out of memory. Allocation " + std::to_string(context->allocations) +
                              " of this call failed.");
  }
}

namespace {

// Every class the host models, with the name MATLAB gives it.
struct ClassName {
  mxClassID classID;
  const char *name;
};
constexpr ClassName kClassNames[] = {
    {mxLOGICAL_CLASS, "logical"}, {mxCHAR_CLASS, "char"},     {mxDOUBLE_CLASS, "double"},
    {mxSINGLE_CLASS, "single"},   {mxINT8_CLASS, "int8"},     {mxUINT8_CLASS, "uint8"},
    {mxINT16_CLASS, "int16"},     {mxUINT16_CLASS, "uint16"}, {mxINT32_CLASS, "int32"},
    {mxUINT32_CLASS, "uint32"},   {mxINT64_CLASS, "int64"},   {mxUINT64_CLASS, "uint64"}};

}  // namespace

bool classFromName(const std::string &name, mxClassID *classID) {
  for (const ClassName &entry : kClassNames) {
    if (name == entry.name) {
      *classID = entry.classID;
      return true;
    }
  }
  return false;
}

size_t classElementSize(mxClassID classID) {
  switch (classID) {
    case mxLOGICAL_CLASS:
    case mxINT8_CLASS:
    case mxUINT8_CLASS: return 1;
    case mxCHAR_CLASS:
    case mxINT16_CLASS:
    case mxUINT16_CLASS: return 2;
    case mxSINGLE_CLASS:
    case mxINT32_CLASS:
    case mxUINT32_CLASS: return 4;
    case mxDOUBLE_CLASS:
    case mxINT64_CLASS:
    case mxUINT64_CLASS: return 8;
    default: return 0;
  }
}

size_t elementCount(const mxArray *array) {
  if (array->isSparse) {
    return array->nzmax;
  }
  size_t total = 1;
  for (size_t d : array->dims) {
    if (d != 0 && total > std::numeric_limits<size_t>::max() / d) {
      return 0;
    }
    total *= d;
  }
  return total;
}

template <typename T>
double loadAsDouble(const unsigned char *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<double>(v);
}

double elementAsDouble(const mxArray *array, size_t k, bool imaginary) {
  const auto *p = static_cast<const unsigned char *>(imaginary ? array->imag : array->real) +
                  k * classElementSize(array->classID);
  switch (array->classID) {
    case mxDOUBLE_CLASS: return loadAsDouble<double>(p);
    case mxSINGLE_CLASS: return loadAsDouble<float>(p);
    case mxLOGICAL_CLASS: return *p != 0 ? 1.0 : 0.0;
    case mxINT8_CLASS: return loadAsDouble<int8_t>(p);
    case mxUINT8_CLASS: return loadAsDouble<uint8_t>(p);
    case mxCHAR_CLASS:
    case mxUINT16_CLASS: return loadAsDouble<uint16_t>(p);
    case mxINT16_CLASS: return loadAsDouble<int16_t>(p);
    case mxINT32_CLASS: return loadAsDouble<int32_t>(p);
    case mxUINT32_CLASS: return loadAsDouble<uint32_t>(p);
    case mxINT64_CLASS: return loadAsDouble<int64_t>(p);
    case mxUINT64_CLASS: return loadAsDouble<uint64_t>(p);
    default: return 0.0;
  }
}

long liveArrays() {
  return liveArrayCount.load();
}

long liveScratchBlocks() {
  return liveScratchCount.load();
}

void setArrayByteLimit(size_t bytes) {
  arrayByteLimit = bytes;
}

void reclaim(CallContext *context) {
  for (auto &block : context->scratch) {
    std::free(block.first);
    --mexhost::liveScratchCount;
  }
  context->scratch.clear();
  context->scratchBytes = 0;
  for (mxArray *array : context->created) {
    freeData(array);
    delete array;
  }
  context->created.clear();
}

uint64_t fingerprint(const mxArray *array) {
  uint64_t hash = 0xCBF29CE484222325ull;
  int header[3] = {array->classID, array->isComplex, array->isSparse};
  hash = mixBytes(hash, header, sizeof header);
  hash = mixBytes(hash, array->dims.data(), array->dims.size() * sizeof(size_t));
  size_t bytes = elementCount(array) * classElementSize(array->classID);
  hash = mixBytes(hash, array->real, bytes);
  if (array->imag != nullptr) {
    hash = mixBytes(hash, array->imag, bytes);
  }
  if (array->isSparse) {
    hash = mixBytes(hash, array->ir, array->nzmax * sizeof(size_t));
    hash = mixBytes(hash, array->jc, (array->dims[1] + 1) * sizeof(size_t));
  }
  return hash;
}

}  // namespace mexhost

using mexhost::note;
using mexhost::raise;

extern "C" {

size_t mxGetM(const mxArray *pa) {
  return pa->dims[0];
}

size_t mxGetN(const mxArray *pa) {
  size_t n = 1;
  for (size_t d = 1; d < pa->dims.size(); ++d) {
    n *= pa->dims[d];
  }
  return n;
}

size_t mxGetNumberOfElements(const mxArray *pa) {
  size_t total = 1;
  for (size_t d : pa->dims) {
    total *= d;
  }
  return total;
}

size_t mxGetElementSize(const mxArray *pa) {
  return mexhost::classElementSize(pa->classID);
}

mxClassID mxGetClassID(const mxArray *pa) {
  return pa->classID;
}

const char *mxGetClassName(const mxArray *pa) {
  for (const mexhost::ClassName &entry : mexhost::kClassNames) {
    if (entry.classID == pa->classID) return entry.name;
  }
  return "unknown";
}

bool mxIsDouble(const mxArray *pa) {
  return pa->classID == mxDOUBLE_CLASS;
}
bool mxIsSingle(const mxArray *pa) {
  return pa->classID == mxSINGLE_CLASS;
}
bool mxIsLogical(const mxArray *pa) {
  return pa->classID == mxLOGICAL_CLASS;
}
bool mxIsChar(const mxArray *pa) {
  return pa->classID == mxCHAR_CLASS;
}
bool mxIsInt8(const mxArray *pa) {
  return pa->classID == mxINT8_CLASS;
}
bool mxIsUint8(const mxArray *pa) {
  return pa->classID == mxUINT8_CLASS;
}
bool mxIsInt16(const mxArray *pa) {
  return pa->classID == mxINT16_CLASS;
}
bool mxIsUint16(const mxArray *pa) {
  return pa->classID == mxUINT16_CLASS;
}
bool mxIsInt32(const mxArray *pa) {
  return pa->classID == mxINT32_CLASS;
}
bool mxIsUint32(const mxArray *pa) {
  return pa->classID == mxUINT32_CLASS;
}
bool mxIsInt64(const mxArray *pa) {
  return pa->classID == mxINT64_CLASS;
}
bool mxIsUint64(const mxArray *pa) {
  return pa->classID == mxUINT64_CLASS;
}
bool mxIsNumeric(const mxArray *pa) {
  return pa->classID >= mxDOUBLE_CLASS && pa->classID <= mxUINT64_CLASS;
}
bool mxIsComplex(const mxArray *pa) {
  return pa->isComplex;
}
bool mxIsSparse(const mxArray *pa) {
  return pa->isSparse;
}
bool mxIsEmpty(const mxArray *pa) {
  return mxGetNumberOfElements(pa) == 0;
}

// Reading a non-double array through mxGetPr reinterprets its bytes, and a
// plug-in doing so almost always reads past the end: the host reports it.
double *mxGetPr(const mxArray *pa) {
  if (pa->classID != mxDOUBLE_CLASS) {
    note(std::string("mxGetPr called on an array of class ") + mxGetClassName(pa));
  }
  return static_cast<double *>(pa->real);
}

double *mxGetPi(const mxArray *pa) {
  if (pa->classID != mxDOUBLE_CLASS) {
    note(std::string("mxGetPi called on an array of class ") + mxGetClassName(pa));
  }
  return static_cast<double *>(pa->imag);
}

void *mxGetData(const mxArray *pa) {
  return pa->real;
}
void *mxGetImagData(const mxArray *pa) {
  return pa->imag;
}
mxLogical *mxGetLogicals(const mxArray *pa) {
  return pa->classID == mxLOGICAL_CLASS ? static_cast<mxLogical *>(pa->real) : nullptr;
}
mxChar *mxGetChars(const mxArray *pa) {
  return pa->classID == mxCHAR_CLASS ? static_cast<mxChar *>(pa->real) : nullptr;
}

double mxGetScalar(const mxArray *pa) {
  if (mexhost::elementCount(pa) == 0 || (pa->isSparse && pa->jc[pa->dims[1]] == 0)) {
    return 0.0;
  }
  const void *p = pa->real;
  switch (pa->classID) {
    case mxDOUBLE_CLASS: return *static_cast<const double *>(p);
    case mxSINGLE_CLASS: return *static_cast<const float *>(p);
    case mxLOGICAL_CLASS: return *static_cast<const bool *>(p) ? 1.0 : 0.0;
    case mxCHAR_CLASS: return *static_cast<const uint16_t *>(p);
    case mxINT8_CLASS: return *static_cast<const int8_t *>(p);
    case mxUINT8_CLASS: return *static_cast<const uint8_t *>(p);
    case mxINT16_CLASS: return *static_cast<const int16_t *>(p);
    case mxUINT16_CLASS: return *static_cast<const uint16_t *>(p);
    case mxINT32_CLASS: return *static_cast<const int32_t *>(p);
    case mxUINT32_CLASS: return *static_cast<const uint32_t *>(p);
    case mxINT64_CLASS: return static_cast<double>(*static_cast<const int64_t *>(p));
    case mxUINT64_CLASS: return static_cast<double>(*static_cast<const uint64_t *>(p));
    default: return 0.0;
  }
}

bool mxIsFinite(double x) {
  return std::isfinite(x);
}
bool mxIsInf(double x) {
  return std::isinf(x);
}
bool mxIsNaN(double x) {
  return std::isnan(x);
}
double mxGetInf(void) {
  return std::numeric_limits<double>::infinity();
}
double mxGetNaN(void) {
  return std::numeric_limits<double>::quiet_NaN();
}
double mxGetEps(void) {
  return std::numeric_limits<double>::epsilon();
}

void *mxMalloc(size_t n) {
  mexhost::countAllocation();
  void *block = std::malloc(n == 0 ? 1 : n);
  if (block == nullptr) {
    raise("MATLAB:nomem",
          "Out of memory. mxMalloc could not allocate " + std::to_string(n) + " bytes.");
  }
  if (mexhost::CallContext *context = mexhost::currentContext()) {
    mexhost::holdScratch(context, block, n);
    ++mexhost::liveScratchCount;
  }
  return block;
}

void *mxCalloc(size_t n, size_t size) {
  mexhost::countAllocation();
  if (size != 0 && n > std::numeric_limits<size_t>::max() / size) {
    raise("MATLAB:nomem", "Out of memory. mxCalloc was asked for more bytes than exist.");
  }
  void *block = std::calloc(n * size == 0 ? 1 : n * size, 1);
  if (block == nullptr) {
    raise("MATLAB:nomem",
          "Out of memory. mxCalloc could not allocate " + std::to_string(n * size) + " bytes.");
  }
  if (mexhost::CallContext *context = mexhost::currentContext()) {
    mexhost::holdScratch(context, block, n * size);
    ++mexhost::liveScratchCount;
  }
  return block;
}

void *mxRealloc(void *ptr, size_t size) {
  mexhost::countAllocation();
  mexhost::CallContext *context = mexhost::currentContext();
  size_t oldSize = 0;
  if (ptr != nullptr && context != nullptr) {
    auto held = context->scratch.find(ptr);
    if (held == context->scratch.end()) {
      note("mxRealloc of a block that this call did not obtain from mxMalloc/mxCalloc");
      return nullptr;
    }
    oldSize = held->second;
    // Forgotten before realloc, which ends the old block's life when it moves.
    mexhost::releaseScratch(context, ptr);
  }
  void *block = std::realloc(ptr, size == 0 ? 1 : size);
  if (block == nullptr) {
    // The old block is untouched and still the call's.
    if (ptr != nullptr && context != nullptr) mexhost::holdScratch(context, ptr, oldSize);
    raise("MATLAB:nomem",
          "Out of memory. mxRealloc could not allocate " + std::to_string(size) + " bytes.");
  }
  if (context != nullptr) {
    if (ptr == nullptr) ++mexhost::liveScratchCount;
    mexhost::holdScratch(context, block, size);
  }
  return block;
}

void mxFree(void *ptr) {
  if (ptr == nullptr) {
    return;
  }
  if (mexhost::CallContext *context = mexhost::currentContext()) {
    if (!mexhost::releaseScratch(context, ptr)) {
      note("mxFree of a block that this call did not obtain from mxMalloc/mxCalloc");
      return;
    }
    --mexhost::liveScratchCount;
  }
  std::free(ptr);
}

mxArray *mxCreateDoubleScalar(double value) {
  mxArray *array = mexhost::createDense({1, 1}, mxDOUBLE_CLASS, mxREAL);
  *static_cast<double *>(array->real) = value;
  return array;
}

mxArray *mxCreateString(const char *str) {
  size_t length = std::strlen(str);
  mxArray *array =
      mexhost::createDense({length == 0 ? size_t{0} : size_t{1}, length}, mxCHAR_CLASS, mxREAL);
  auto *chars = static_cast<mxChar *>(array->real);
  for (size_t i = 0; i < length; ++i) {
    chars[i] = static_cast<unsigned char>(str[i]);
  }
  return array;
}

char *mxArrayToString(const mxArray *pa) {
  if (pa->classID != mxCHAR_CLASS || pa->isSparse) {
    return nullptr;
  }
  size_t length = mxGetNumberOfElements(pa);
  auto *text = static_cast<char *>(mxMalloc(length + 1));
  const auto *chars = static_cast<const mxChar *>(pa->real);
  for (size_t i = 0; i < length; ++i) {
    text[i] = chars[i] < 128 ? static_cast<char>(chars[i]) : '?';
  }
  text[length] = '\0';
  return text;
}

void mxDestroyArray(mxArray *pa) {
  if (pa == nullptr) {
    return;
  }
  if (mexhost::CallContext *context = mexhost::currentContext()) {
    if (context->inputs.count(pa) != 0) {
      note("mxDestroyArray called on an input of the call");
      return;
    }
    context->created.erase(pa);
  }
  mexhost::freeData(pa);
  delete pa;
}

mxArray *mxDuplicateArray(const mxArray *pa) {
  size_t elementSize = mexhost::classElementSize(pa->classID);
  mxArray *copy;
  if (pa->isSparse) {
    copy = mexhost::createSparse(pa->dims[0], pa->dims[1], pa->nzmax, pa->classID,
                                 pa->isComplex ? mxCOMPLEX : mxREAL);
    std::memcpy(copy->ir, pa->ir, pa->nzmax * sizeof(size_t));
    std::memcpy(copy->jc, pa->jc, (pa->dims[1] + 1) * sizeof(size_t));
  } else {
    copy = mexhost::createDense(pa->dims, pa->classID, pa->isComplex ? mxCOMPLEX : mxREAL);
  }
  size_t bytes = mexhost::elementCount(pa) * elementSize;
  std::memcpy(copy->real, pa->real, bytes);
  if (pa->isComplex) {
    std::memcpy(copy->imag, pa->imag, bytes);
  }
  return copy;
}

mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag) {
  return mexhost::createDense({mexhost::checkNonNegative(m), mexhost::checkNonNegative(n)},
                              mxDOUBLE_CLASS, flag);
}

mxArray *mxCreateDoubleMatrix_730(size_t m, size_t n, mxComplexity flag) {
  return mexhost::createDense({m, n}, mxDOUBLE_CLASS, flag);
}

mxArray *mxCreateNumericMatrix_700(int m, int n, mxClassID classid, mxComplexity flag) {
  return mexhost::createDense({mexhost::checkNonNegative(m), mexhost::checkNonNegative(n)}, classid,
                              flag);
}

mxArray *mxCreateNumericMatrix_730(size_t m, size_t n, mxClassID classid, mxComplexity flag) {
  return mexhost::createDense({m, n}, classid, flag);
}

mxArray *mxCreateUninitNumericMatrix(size_t m, size_t n, mxClassID classid, mxComplexity flag) {
  return mexhost::createUninitialised({m, n}, classid, flag);
}

mxArray *mxCreateUninitNumericArray(size_t ndim, size_t *dims, mxClassID classid,
                                    mxComplexity flag) {
  return mexhost::createUninitialised(std::vector<size_t>(dims, dims + ndim), classid, flag);
}

mxArray *mxCreateNumericArray_700(int ndim, const int *dims, mxClassID classid, mxComplexity flag) {
  return mexhost::createDense(mexhost::sizesOf(ndim, dims), classid, flag);
}

mxArray *mxCreateNumericArray_730(size_t ndim, const size_t *dims, mxClassID classid,
                                  mxComplexity flag) {
  return mexhost::createDense(std::vector<size_t>(dims, dims + ndim), classid, flag);
}

mxArray *mxCreateLogicalMatrix_700(int m, int n) {
  return mexhost::createDense({mexhost::checkNonNegative(m), mexhost::checkNonNegative(n)},
                              mxLOGICAL_CLASS, mxREAL);
}

mxArray *mxCreateLogicalMatrix_730(size_t m, size_t n) {
  return mexhost::createDense({m, n}, mxLOGICAL_CLASS, mxREAL);
}

mxArray *mxCreateSparse_700(int m, int n, int nzmax, mxComplexity flag) {
  return mexhost::createSparse(mexhost::checkNonNegative(m), mexhost::checkNonNegative(n),
                               mexhost::checkNonNegative(nzmax), mxDOUBLE_CLASS, flag);
}

mxArray *mxCreateSparse_730(size_t m, size_t n, size_t nzmax, mxComplexity flag) {
  return mexhost::createSparse(m, n, nzmax, mxDOUBLE_CLASS, flag);
}

mxArray *mxCreateSparseLogicalMatrix_700(int m, int n, int nzmax) {
  return mexhost::createSparse(mexhost::checkNonNegative(m), mexhost::checkNonNegative(n),
                               mexhost::checkNonNegative(nzmax), mxLOGICAL_CLASS, mxREAL);
}

mxArray *mxCreateSparseLogicalMatrix_730(size_t m, size_t n, size_t nzmax) {
  return mexhost::createSparse(m, n, nzmax, mxLOGICAL_CLASS, mxREAL);
}

int mxGetNumberOfDimensions_700(const mxArray *pa) {
  return static_cast<int>(pa->dims.size());
}

size_t mxGetNumberOfDimensions_730(const mxArray *pa) {
  return pa->dims.size();
}

// The 32-bit views below are read-only copies built on first request.
const int *mxGetDimensions_700(const mxArray *pa) {
  auto *array = const_cast<mxArray *>(pa);
  array->dims32.clear();
  for (size_t d : pa->dims) {
    array->dims32.push_back(mexhost::narrow32(d, "A dimension"));
  }
  return array->dims32.data();
}

const size_t *mxGetDimensions_730(const mxArray *pa) {
  return pa->dims.data();
}

int *mxGetIr_700(const mxArray *pa) {
  if (!pa->isSparse) {
    return nullptr;
  }
  auto *array = const_cast<mxArray *>(pa);
  array->ir32.assign(pa->nzmax, 0);
  for (size_t k = 0; k < pa->nzmax; ++k) {
    array->ir32[k] = mexhost::narrow32(pa->ir[k], "A row index");
  }
  return array->ir32.data();
}

size_t *mxGetIr_730(const mxArray *pa) {
  return pa->isSparse ? pa->ir : nullptr;
}

int *mxGetJc_700(const mxArray *pa) {
  if (!pa->isSparse) {
    return nullptr;
  }
  auto *array = const_cast<mxArray *>(pa);
  array->jc32.assign(pa->dims[1] + 1, 0);
  for (size_t k = 0; k <= pa->dims[1]; ++k) {
    array->jc32[k] = mexhost::narrow32(pa->jc[k], "A column start");
  }
  return array->jc32.data();
}

size_t *mxGetJc_730(const mxArray *pa) {
  return pa->isSparse ? pa->jc : nullptr;
}

int mxGetNzmax_700(const mxArray *pa) {
  return pa->isSparse ? mexhost::narrow32(pa->nzmax, "The storage size") : 0;
}

size_t mxGetNzmax_730(const mxArray *pa) {
  return pa->isSparse ? pa->nzmax : 0;
}

}  // extern "C"

// lutpaint: an indexed image and a colour map turned into an 8-bit
// truecolour image.
//
//   RGB = lutpaint(X, CMAP)
//
// X is an M-by-N indexed image of class uint8, uint16 (0-based rows of CMAP)
// or double (1-based rows); CMAP is a P-by-3 double matrix of red, green and
// blue intensities in [0, 1]. RGB is M-by-N-by-3 uint8: three planes of M*N
// bytes, red, green, blue. The map is quantised to bytes once per call, into
// one colour table per channel; every pixel then becomes one clamped table
// lookup per plane. Out-of-range indices and map values are clamped, never
// refused; only the number of inputs and outputs and the inputs' class and
// shape are checked.
//
// Counts are 64 bits wide throughout (element count, map length, plane
// offsets), so images of 2^30 elements and more and maps of 2^31 rows and
// more are converted like small ones.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "mex.h"
#include "mexgateway.h"

namespace {

// Element counts, map lengths and byte offsets into the output.
using Count = std::int64_t;

constexpr int kNumInputs = 2;
constexpr int kMaxOutputs = 1;
constexpr mwSize kImageDims = 2;
constexpr mwSize kMapDims = 2;
constexpr size_t kMapColumns = 3;  // red, green, blue
constexpr mwSize kChannels = 3;
constexpr mwSize kOutputDims = 3;  // M, N, channel

constexpr unsigned char kDarkest = 0;
constexpr unsigned char kBrightest = 255;
constexpr double kByteScale = 255.0;
constexpr double kHalf = 0.5;  // added before truncating: halves go up
constexpr double kFirstRow = 1.0;

// Stops the call with an error unless there are exactly two inputs, X is a
// full two-dimensional uint8, uint16 or double array, and CMAP is a full
// double P-by-3 matrix with P >= 1. The checks run in this order; the first
// that fails decides the error.
void validateInputs(int nrhs, const mxArray *prhs[]) {
  if (nrhs != kNumInputs) {
    mexErrMsgIdAndTxt("Pixelry:lutpaint:wrongNumInputs", "LUTPAINT expected two input arguments.");
  }
  const mxArray *image = prhs[0];
  if (!mxIsDouble(image) && !mxIsUint8(image) && !mxIsUint16(image)) {
    mexErrMsgIdAndTxt("Pixelry:lutpaint:invalidInputType", "X must be uint8, uint16, or double.");
  }
  if (mxGetNumberOfDimensions(image) != kImageDims) {
    mexErrMsgIdAndTxt("Pixelry:lutpaint:inputNot2D", "X must be two-dimensional.");
  }
  if (mxIsSparse(image)) {
    mexErrMsgIdAndTxt("Pixelry:lutpaint:sparseInput", "X must not be sparse.");
  }
  const mxArray *map = prhs[1];
  // The column count is asked only of a two-dimensional map.
  if (mxGetNumberOfDimensions(map) != kMapDims || mxGetN(map) != kMapColumns) {
    mexErrMsgIdAndTxt("Pixelry:lutpaint:invalidMapSize", "CMAP must be a P-by-3 matrix.");
  }
  if (!mxIsDouble(map)) {
    mexErrMsgIdAndTxt("Pixelry:lutpaint:invalidMapType", "CMAP must be double.");
  }
  if (mxIsSparse(map)) {
    mexErrMsgIdAndTxt("Pixelry:lutpaint:sparseMap", "CMAP must not be sparse.");
  }
  if (mxGetM(map) == 0) {
    mexErrMsgIdAndTxt("Pixelry:lutpaint:emptyMap", "CMAP must have at least one row.");
  }
}

// Quantises one map column of P intensities to bytes: NaN and values below 0
// give 0, values above 1 give 255, the rest 255*v rounded with halves up
// (product and sum each rounded to double, never fused).
void computeColorTable(const double *column, Count P, unsigned char *table) {
  for (Count i = 0; i < P; ++i) {
    double v = column[i];
    if (mxIsNaN(v) || v < 0.0) {
      table[i] = kDarkest;
    } else if (v > 1.0) {
      table[i] = kBrightest;
    } else {
      double scaled = v * kByteScale;
      double shifted = scaled + kHalf;
      table[i] = static_cast<unsigned char>(static_cast<int>(shifted));
    }
  }
}

// One plane of a uint8 image: byte k is the table entry of element k, a
// 0-based row; rows P and beyond take the last entry.
void convertUint8(const std::uint8_t *X, unsigned char *plane, Count n, Count P,
                  const unsigned char *table) {
  const Count lastRow = P - 1;
  for (Count k = 0; k < n; ++k) {
    Count row = X[k];
    plane[k] = table[row < P ? row : lastRow];
  }
}

// One plane of a uint16 image, as convertUint8.
void convertUint16(const std::uint16_t *X, unsigned char *plane, Count n, Count P,
                   const unsigned char *table) {
  const Count lastRow = P - 1;
  for (Count k = 0; k < n; ++k) {
    Count row = X[k];
    plane[k] = table[row < P ? row : lastRow];
  }
}

// One plane of a double image: element k is a 1-based row, rounded to the
// nearest with halves up; NaN and values below 1 take the first row, values
// above P the last.
void convertDouble(const double *X, unsigned char *plane, Count n, Count P,
                   const unsigned char *table) {
  const double lastRow = static_cast<double>(P);
  for (Count k = 0; k < n; ++k) {
    double v = X[k];
    Count row;
    if (mxIsNaN(v) || v < kFirstRow) {
      row = 1;
    } else if (v > lastRow) {
      row = P;
    } else {
      row = static_cast<Count>(std::floor(v + kHalf));
      // Only a map longer than 2^53 rows, whose length has no exact double,
      // can round past its end here.
      if (row > P) row = P;
    }
    plane[k] = table[row - 1];
  }
}

}  // namespace

// The output is created and filled also when no output is asked for (it
// becomes ans). Asking for more than one is refused after the input checks,
// so that those keep their errors whatever nlhs is.
MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  validateInputs(nrhs, prhs);
  if (nlhs > kMaxOutputs) {
    mexErrMsgIdAndTxt("lutpaint:tooManyOutputs",
                      "lutpaint returns one output, the M-by-N-by-3 image RGB (asked for %d).",
                      nlhs);
  }
  const mxArray *image = prhs[0];
  const mxArray *map = prhs[1];

  const Count n = static_cast<Count>(mxGetNumberOfElements(image));
  const mwSize dims[kOutputDims] = {static_cast<mwSize>(mxGetM(image)),
                                    static_cast<mwSize>(mxGetN(image)), kChannels};
  plhs[0] = mxCreateNumericArray(kOutputDims, dims, mxUINT8_CLASS, mxREAL);

  const Count P = static_cast<Count>(mxGetM(map));
  const size_t tableBytes = static_cast<size_t>(P);
  auto *red = static_cast<unsigned char *>(mxMalloc(tableBytes));
  auto *green = static_cast<unsigned char *>(mxMalloc(tableBytes));
  auto *blue = static_cast<unsigned char *>(mxMalloc(tableBytes));

  const auto *intensities = static_cast<const double *>(mxGetData(map));
  computeColorTable(intensities, P, red);
  computeColorTable(intensities + P, P, green);
  computeColorTable(intensities + 2 * P, P, blue);

  auto *rgb = static_cast<unsigned char *>(mxGetData(plhs[0]));
  unsigned char *planes[kChannels] = {rgb, rgb + n, rgb + 2 * n};
  const unsigned char *tables[kChannels] = {red, green, blue};
  const void *pixels = mxGetData(image);
  const mxClassID imageClass = mxGetClassID(image);
  if (imageClass == mxUINT8_CLASS) {
    const auto *X = static_cast<const std::uint8_t *>(pixels);
    for (mwSize c = 0; c < kChannels; ++c) convertUint8(X, planes[c], n, P, tables[c]);
  } else if (imageClass == mxUINT16_CLASS) {
    const auto *X = static_cast<const std::uint16_t *>(pixels);
    for (mwSize c = 0; c < kChannels; ++c) convertUint16(X, planes[c], n, P, tables[c]);
  } else if (imageClass == mxDOUBLE_CLASS) {
    const auto *X = static_cast<const double *>(pixels);
    for (mwSize c = 0; c < kChannels; ++c) convertDouble(X, planes[c], n, P, tables[c]);
  }

  mxFree(red);
  mxFree(green);
  mxFree(blue);
}

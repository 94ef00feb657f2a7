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
// more are converted like small ones. The colour tables and the lookup
// tables are the call's scratch (scratch.h), taken with the host's
// allocator: running out of memory raises the host's own error.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "failure.h"
#include "hostbridge.h"
#include "largeoutput.h"
#include "mexapi.h"
#include "mexgateway.h"
#include "scratch.h"

namespace {

// Element counts, map lengths and byte offsets into the output.
using Count = std::int64_t;

constexpr char kName[] = "lutpaint";
// The input checks raise their identifiers under this prefix
// ("Pixelry:lutpaint:wrongNumInputs"); the output check under kName.
constexpr char kCheckPrefix[] = "Pixelry:lutpaint";
constexpr int kNumInputs = 2;
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

// The scratch of the conversion, sized once here. Per-value tables hold one
// byte per channel for every value of the pixel class: worth building for
// uint8 images always, for uint16 images from as many pixels as values. Pair
// tables hold two bytes per channel for every pair of uint8 values; they pay
// off from about a million pixels.
template <typename Pixel>
constexpr Count kValueCount = Count(1) << (8 * sizeof(Pixel));
constexpr Count kPairCount = kValueCount<std::uint8_t> * kValueCount<std::uint8_t>;
template <typename Pixel>
constexpr Count kValueTableEntries = kValueCount<Pixel> *static_cast<Count>(kChannels);
constexpr Count kPairTableEntries = kPairCount * static_cast<Count>(kChannels);
constexpr Count kPairTablePixels = Count(1) << 20;

// Refuses the call unless there are exactly two inputs, X is a full
// two-dimensional uint8, uint16 or double array, and CMAP is a full double
// P-by-3 matrix with P >= 1. The checks run in this order; the first that
// fails decides the error, raised under kCheckPrefix.
bool checkInputs(int nrhs, const mxArray *prhs[], Failure *failure) {
  if (nrhs != kNumInputs) {
    return fail(failure, "wrongNumInputs", "LUTPAINT expected two input arguments.");
  }
  const mxArray *image = prhs[0];
  if (!mxIsDouble(image) && !mxIsUint8(image) && !mxIsUint16(image)) {
    return fail(failure, "invalidInputType", "X must be uint8, uint16, or double.");
  }
  if (mxGetNumberOfDimensions(image) != kImageDims) {
    return fail(failure, "inputNot2D", "X must be two-dimensional.");
  }
  if (mxIsSparse(image)) {
    return fail(failure, "sparseInput", "X must not be sparse.");
  }
  const mxArray *map = prhs[1];
  // The column count is asked only of a two-dimensional map.
  if (mxGetNumberOfDimensions(map) != kMapDims || mxGetN(map) != kMapColumns) {
    return fail(failure, "invalidMapSize", "CMAP must be a P-by-3 matrix.");
  }
  if (!mxIsDouble(map)) {
    return fail(failure, "invalidMapType", "CMAP must be double.");
  }
  if (mxIsSparse(map)) {
    return fail(failure, "sparseMap", "CMAP must not be sparse.");
  }
  if (mxGetM(map) == 0) {
    return fail(failure, "emptyMap", "CMAP must have at least one row.");
  }
  return true;
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

// The three planes of the output and the three colour tables, red first.
struct Planes {
  unsigned char *plane[kChannels];
};
struct Tables {
  const unsigned char *table[kChannels];
};

// Integer images: the row a pixel value v selects is v itself (0-based), or
// the last row for v >= P. One pass over the image writes all three planes.
template <typename Pixel>
void convertClamped(const Pixel *X, Planes out, Count n, Count P, Tables tables) {
  const Count lastRow = P - 1;
  const unsigned char *red = tables.table[0], *green = tables.table[1], *blue = tables.table[2];
  unsigned char *r = out.plane[0], *g = out.plane[1], *b = out.plane[2];
  for (Count k = 0; k < n; ++k) {
    Count row = X[k];
    row = row < P ? row : lastRow;
    r[k] = red[row];
    g[k] = green[row];
    b[k] = blue[row];
  }
}

// For large images the clamp is folded into per-value tables: entry v of
// each holds the byte of the row that value v selects, so a pixel costs
// three loads from tables that stay in cache.
template <typename Pixel>
void convertThroughValueTables(const Pixel *X, Planes out, Count n, Count P, Tables tables,
                               unsigned char *valueTables) {
  constexpr Count kValues = kValueCount<Pixel>;
  const Count lastRow = P - 1;
  unsigned char *byValue[kChannels];
  for (size_t c = 0; c < kChannels; ++c) {
    byValue[c] = valueTables + c * kValues;
    for (Count v = 0; v < kValues; ++v) byValue[c][v] = tables.table[c][v < P ? v : lastRow];
  }
  const unsigned char *red = byValue[0], *green = byValue[1], *blue = byValue[2];
  unsigned char *r = out.plane[0], *g = out.plane[1], *b = out.plane[2];
  for (Count k = 0; k < n; ++k) {
    Pixel v = X[k];
    r[k] = red[v];
    g[k] = green[v];
    b[k] = blue[v];
  }
}

// Large uint8 images go through tables indexed by two pixels at once: entry
// (a | b << 8) holds the two bytes that pixels a, b produce in one plane. A
// word of eight pixels then becomes three words of output, one per plane,
// from twelve table loads.
void convertUint8ByPairs(const std::uint8_t *X, Planes out, Count n, Count P, Tables tables,
                         std::uint16_t *pairTables) {
  const Count lastRow = P - 1;
  std::uint16_t *byPair[kChannels];
  for (size_t c = 0; c < kChannels; ++c) {
    unsigned char single[kValueCount<std::uint8_t>];
    for (Count v = 0; v < kValueCount<std::uint8_t>; ++v) {
      single[v] = tables.table[c][v < P ? v : lastRow];
    }
    byPair[c] = pairTables + c * kPairCount;
    for (Count pair = 0; pair < kPairCount; ++pair) {
      byPair[c][pair] = static_cast<std::uint16_t>(single[pair & 0xFF] | single[pair >> 8] << 8);
    }
  }
  constexpr Count kWord = 8;
  Count k = 0;
  for (; k + kWord <= n; k += kWord) {
    std::uint64_t pixels;
    std::memcpy(&pixels, X + k, sizeof pixels);  // little-endian: pixel k in the low byte
    for (size_t c = 0; c < kChannels; ++c) {
      const std::uint16_t *t = byPair[c];
      std::uint64_t word =
          std::uint64_t(t[pixels & 0xFFFF]) | std::uint64_t(t[(pixels >> 16) & 0xFFFF]) << 16 |
          std::uint64_t(t[(pixels >> 32) & 0xFFFF]) << 32 | std::uint64_t(t[pixels >> 48]) << 48;
      std::memcpy(out.plane[c] + k, &word, sizeof word);
    }
  }
  for (; k < n; ++k) {
    for (size_t c = 0; c < kChannels; ++c) {
      out.plane[c][k] = static_cast<unsigned char>(byPair[c][X[k]] & 0xFF);
    }
  }
}

// uint8 images: small ones through per-value tables (kValueTableEntries
// bytes of scratch), large ones through pair tables (kPairTableEntries
// words); either scratch is passed in by the caller.
void convertUint8(const std::uint8_t *X, Planes out, Count n, Count P, Tables tables,
                  unsigned char *valueTables, std::uint16_t *pairTables) {
  if (pairTables != nullptr) {
    convertUint8ByPairs(X, out, n, P, tables, pairTables);
  } else {
    convertThroughValueTables(X, out, n, P, tables, valueTables);
  }
}

// uint16 images go through per-value tables (kValueTableEntries) when the
// caller provides them, that is for images of at least as many pixels.
void convertUint16(const std::uint16_t *X, Planes out, Count n, Count P, Tables tables,
                   unsigned char *valueTables) {
  if (valueTables != nullptr) {
    convertThroughValueTables(X, out, n, P, tables, valueTables);
  } else {
    convertClamped(X, out, n, P, tables);
  }
}

// Double images are 1-based: NaN and values below 1 select the first row,
// values above P the last, and the rest floor(v + 0.5), halves going up. For
// the values that reach the last rule, v + 0.5 is at least 1.5, where
// truncation toward zero gives floor's result without a library call.
void convertDouble(const double *X, Planes out, Count n, Count P, Tables tables) {
  const double lastRow = static_cast<double>(P);
  const unsigned char *red = tables.table[0], *green = tables.table[1], *blue = tables.table[2];
  unsigned char *r = out.plane[0], *g = out.plane[1], *b = out.plane[2];
  for (Count k = 0; k < n; ++k) {
    double v = X[k];
    Count row;
    if (!(v >= kFirstRow)) {  // NaN or below 1
      row = 1;
    } else if (v > lastRow) {
      row = P;
    } else {
      row = static_cast<Count>(v + kHalf);
      // Only a map longer than 2^53 rows, whose length has no exact double,
      // can round past its end here.
      if (row > P) row = P;
    }
    r[k] = red[row - 1];
    g[k] = green[row - 1];
    b[k] = blue[row - 1];
  }
}

// Quantises the map into one colour table per channel and converts the n
// pixels of image into the three planes of rgb. Every table is taken from
// the Scratch of this routine and released on return.
void paint(const mxArray *image, const mxArray *map, Count n, unsigned char *rgb) {
  Scratch scratch(hostAllocator());
  const Count P = static_cast<Count>(mxGetM(map));
  unsigned char *red = scratch.take<unsigned char>(P);
  unsigned char *green = scratch.take<unsigned char>(P);
  unsigned char *blue = scratch.take<unsigned char>(P);

  const auto *intensities = static_cast<const double *>(mxGetData(map));
  computeColorTable(intensities, P, red);
  computeColorTable(intensities + P, P, green);
  computeColorTable(intensities + 2 * P, P, blue);

  const Planes planes{{rgb, rgb + n, rgb + 2 * n}};
  const Tables tables{{red, green, blue}};
  const void *pixels = mxGetData(image);
  const mxClassID imageClass = mxGetClassID(image);
  if (imageClass == mxUINT8_CLASS) {
    unsigned char *valueTables = nullptr;
    std::uint16_t *pairTables = nullptr;
    if (n >= kPairTablePixels) {
      pairTables = scratch.take<std::uint16_t>(kPairTableEntries);
    } else {
      valueTables = scratch.take<unsigned char>(kValueTableEntries<std::uint8_t>);
    }
    convertUint8(static_cast<const std::uint8_t *>(pixels), planes, n, P, tables, valueTables,
                 pairTables);
  } else if (imageClass == mxUINT16_CLASS) {
    unsigned char *valueTables = nullptr;
    if (n >= kValueCount<std::uint16_t>) {
      valueTables = scratch.take<unsigned char>(kValueTableEntries<std::uint16_t>);
    }
    convertUint16(static_cast<const std::uint16_t *>(pixels), planes, n, P, tables, valueTables);
  } else if (imageClass == mxDOUBLE_CLASS) {
    convertDouble(static_cast<const double *>(pixels), planes, n, P, tables);
  }
}

}  // namespace

// The output is created and filled also when no output is asked for (it
// becomes ans). Asking for more than one is refused after the input checks,
// so that those keep their errors whatever nlhs is.
MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  Failure failure;
  if (!checkInputs(nrhs, prhs, &failure)) {
    raiseFailure(kCheckPrefix, failure);
    return;
  }
  if (!checkOneOutput(nlhs, kName, "the M-by-N-by-3 image RGB", &failure)) {
    raiseFailure(kName, failure);
    return;
  }
  const mxArray *image = prhs[0];
  const Count n = static_cast<Count>(mxGetNumberOfElements(image));
  mwSize dims[kOutputDims] = {static_cast<mwSize>(mxGetM(image)),
                              static_cast<mwSize>(mxGetN(image)), kChannels};
  plhs[0] = largeoutput::createUnfilledArray(kOutputDims, dims, mxUINT8_CLASS);
  paint(image, prhs[1], n, static_cast<unsigned char *>(mxGetData(plhs[0])));
}

// lutpaint against a plain per-pixel reference: random images of the three
// classes and random maps holding NaN, infinities, values outside [0, 1] and
// values on the rounding halves, with fixed seeds; every byte is compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "casetools.h"

namespace {

using mexhost::ArrayPtr;
using mexhost::CallResult;

constexpr int kChannels = 3;

const mexhost::Plugin &plugin() {
  return mexhost::openPlugin(TOOLBOX_PLUGIN_DIR, "lutpaint");
}

// The byte of one intensity: NaN and below 0 give 0, above 1 gives 255, else
// 255*v + 0.5 (product, then sum, each rounded to double) truncated.
unsigned char referenceByte(double v) {
  if (std::isnan(v) || v < 0.0) return 0;
  if (v > 1.0) return 255;
  double product = v * 255.0;
  return static_cast<unsigned char>(std::trunc(product + 0.5));
}

// The 0-based map row of one image element. Integer images count from 0 and
// clamp to the last row; double images count from 1, round halves up and
// clamp at both ends.
int64_t referenceRow(double v, bool oneBased, int64_t P) {
  if (!oneBased) return v < static_cast<double>(P) ? static_cast<int64_t>(v) : P - 1;
  if (std::isnan(v) || v < 1.0) return 0;
  if (v > static_cast<double>(P)) return P - 1;
  return static_cast<int64_t>(std::floor(v + 0.5)) - 1;
}

// The expected bytes of lutpaint(X, CMAP) in storage order, looked up pixel
// by pixel in CMAP itself (real parts only).
std::vector<unsigned char> referenceImage(const mxArray *X, const mxArray *map) {
  size_t n = mxGetNumberOfElements(X);
  int64_t P = static_cast<int64_t>(mxGetM(map));
  bool oneBased = mxIsDouble(X);
  std::vector<unsigned char> bytes(kChannels * n);
  for (int c = 0; c < kChannels; ++c) {
    for (size_t k = 0; k < n; ++k) {
      int64_t row = referenceRow(mexhost::elementAsDouble(X, k), oneBased, P);
      bytes[c * n + k] = referenceByte(mexhost::elementAsDouble(map, row + c * P));
    }
  }
  return bytes;
}

// Calls lutpaint and compares class, shape and every byte with the reference.
void expectMatchesReference(const mxArray *X, const mxArray *map) {
  CallResult r = plugin().call(1, {X, map});
  ASSERT_EQ(r.status, CallResult::Status::ok)
      << r.identifier << " " << r.message
      << (r.violations.empty() ? "" : " violation: " + r.violations.front());
  const mxArray *rgb = r.outputs[0].get();
  ASSERT_EQ(mxGetClassID(rgb), mxUINT8_CLASS);
  ASSERT_FALSE(mxIsComplex(rgb));
  ASSERT_EQ(mxGetNumberOfDimensions_730(rgb), 3u);
  const size_t *dims = mxGetDimensions_730(rgb);
  ASSERT_EQ(dims[0], mxGetM(X));
  ASSERT_EQ(dims[1], mxGetN(X));
  ASSERT_EQ(dims[2], 3u);
  std::vector<unsigned char> expected = referenceImage(X, map);
  const auto *actual = static_cast<const unsigned char *>(mxGetData(rgb));
  size_t n = mxGetNumberOfElements(X);
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(+actual[i], +expected[i])
        << "plane " << i / n + 1 << ", element " << i % n << " of " << mxGetM(X) << "x" << mxGetN(X)
        << " " << mxGetClassName(X) << " image, P = " << mxGetM(map) << ", element value "
        << mexhost::elementAsDouble(X, i % n);
  }
}

// One intensity: mostly in [0, 1], with exact bytes k/255, the halves
// (k + 0.5)/255 and their neighbours, values outside [0, 1], -0, NaN, +-Inf.
double randomIntensity(std::mt19937 &rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int byte = static_cast<int>(rng() % 256);
  switch (rng() % 12) {
    case 0:
    case 1:
    case 2: return unit(rng);
    case 3: return byte / 255.0;
    case 4: return (byte + 0.5) / 255.0;
    case 5: return std::nextafter((byte + 0.5) / 255.0, -1.0);
    case 6: return std::nextafter((byte + 0.5) / 255.0, 2.0);
    case 7: return std::uniform_real_distribution<double>(-3.0, 4.0)(rng);
    case 8: return rng() % 2 ? 1.0 : -0.0;
    case 9: return std::numeric_limits<double>::quiet_NaN();
    case 10: return rng() % 2 ? INFINITY : -INFINITY;
    default: return rng() % 2 ? std::nextafter(1.0, 2.0) : -1e-300;
  }
}

ArrayPtr randomMap(std::mt19937 &rng, size_t P, mxComplexity complexity = mxREAL) {
  ArrayPtr map(mxCreateDoubleMatrix_730(P, kChannels, complexity));
  for (size_t i = 0; i < P * kChannels; ++i) {
    mxGetPr(map.get())[i] = randomIntensity(rng);
    if (complexity == mxCOMPLEX) mxGetPi(map.get())[i] = randomIntensity(rng);
  }
  return map;
}

// One double index for a map of P rows: whole rows, halves and their
// neighbours, values near both ends and beyond them, NaN, +-Inf, huge values.
double randomDoubleIndex(std::mt19937 &rng, size_t P) {
  double rows = static_cast<double>(P);
  double row = static_cast<double>(1 + rng() % P);
  switch (rng() % 12) {
    case 0:
    case 1: return row;
    case 2: return row + 0.5;
    case 3: return std::nextafter(row + 0.5, -INFINITY);
    case 4: return std::nextafter(row - 0.5, INFINITY);
    case 5: return std::uniform_real_distribution<double>(-2.0, rows + 3.0)(rng);
    case 6: return rows + std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
    case 7: return std::uniform_real_distribution<double>(-1.0, 2.0)(rng);
    case 8: return std::numeric_limits<double>::quiet_NaN();
    case 9: return rng() % 2 ? INFINITY : -INFINITY;
    case 10: return rng() % 2 ? 1e300 : -1e300;
    default: return rng() % 2 ? -0.0 : std::nextafter(1.0, 0.0);
  }
}

// Images up to 12-by-12, empty ones included, now and then a long row.
void randomShape(std::mt19937 &rng, size_t *M, size_t *N) {
  *M = rng() % 13;
  *N = rng() % 13;
  if (rng() % 20 == 0) {
    *M = 1;
    *N = 500 + rng() % 500;
  }
}

TEST(LutpaintRandom, Uint8ImagesMatchTheReference) {
  std::mt19937 rng(20250801);
  for (int trial = 0; trial < 2000; ++trial) {
    size_t M, N;
    randomShape(rng, &M, &N);
    size_t P = 1 + rng() % 300;  // shorter and longer than the 256 values
    ArrayPtr map = randomMap(rng, P);
    ArrayPtr X(mxCreateNumericMatrix_730(M, N, mxUINT8_CLASS, mxREAL));
    auto *x = static_cast<uint8_t *>(mxGetData(X.get()));
    for (size_t k = 0; k < M * N; ++k) x[k] = static_cast<uint8_t>(rng());
    expectMatchesReference(X.get(), map.get());
    if (HasFatalFailure()) return;
  }
}

TEST(LutpaintRandom, Uint16ImagesMatchTheReference) {
  std::mt19937 rng(1601);
  for (int trial = 0; trial < 2000; ++trial) {
    size_t M, N;
    randomShape(rng, &M, &N);
    size_t P = trial % 25 == 0 ? 60000 + rng() % 10000 : 1 + rng() % 1000;
    ArrayPtr map = randomMap(rng, P);
    ArrayPtr X(mxCreateNumericMatrix_730(M, N, mxUINT16_CLASS, mxREAL));
    auto *x = static_cast<uint16_t *>(mxGetData(X.get()));
    for (size_t k = 0; k < M * N; ++k) {
      switch (rng() % 3) {
        case 0: x[k] = static_cast<uint16_t>(rng()); break;
        case 1: x[k] = static_cast<uint16_t>(rng() % (2 * P)); break;
        default: {  // around the last row
          int64_t v = static_cast<int64_t>(P) - 2 + static_cast<int64_t>(rng() % 5);
          x[k] = static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 65535));
        }
      }
    }
    expectMatchesReference(X.get(), map.get());
    if (HasFatalFailure()) return;
  }
}

// Double images; now and then X or CMAP is complex, with imaginary parts
// that must change nothing.
TEST(LutpaintRandom, DoubleImagesMatchTheReference) {
  std::mt19937 rng(6);
  for (int trial = 0; trial < 2000; ++trial) {
    size_t M, N;
    randomShape(rng, &M, &N);
    size_t P = 1 + rng() % (trial % 2 == 0 ? 5 : 1000);
    ArrayPtr map = randomMap(rng, P, trial % 4 == 1 ? mxCOMPLEX : mxREAL);
    ArrayPtr X(mxCreateDoubleMatrix_730(M, N, trial % 4 == 2 ? mxCOMPLEX : mxREAL));
    for (size_t k = 0; k < M * N; ++k) {
      mxGetPr(X.get())[k] = randomDoubleIndex(rng, P);
      if (mxIsComplex(X.get())) mxGetPi(X.get())[k] = randomDoubleIndex(rng, P);
    }
    expectMatchesReference(X.get(), map.get());
    if (HasFatalFailure()) return;
  }
}

// Every uint8 and uint16 value against maps whose length sits at and around
// the classes' ranges; each row's colour is unique, so an index off by one
// shows.
TEST(LutpaintBoundaries, EveryIntegerValueAroundTheLastRow) {
  auto distinctMap = [](size_t P) {
    ArrayPtr map(mxCreateDoubleMatrix_730(P, kChannels, mxREAL));
    double *d = mxGetPr(map.get());
    for (size_t i = 0; i < P; ++i) {
      d[i] = static_cast<double>(i % 256) / 255.0;
      d[i + P] = static_cast<double>((i >> 8) % 256) / 255.0;
      d[i + 2 * P] = static_cast<double>(i >> 16) / 255.0;
    }
    return map;
  };
  ArrayPtr bytes(mxCreateNumericMatrix_730(1, 256, mxUINT8_CLASS, mxREAL));
  for (size_t v = 0; v < 256; ++v) static_cast<uint8_t *>(mxGetData(bytes.get()))[v] = v;
  for (size_t P : {1, 2, 255, 256, 257, 1000}) {
    ArrayPtr map = distinctMap(P);
    expectMatchesReference(bytes.get(), map.get());
  }
  ArrayPtr words(mxCreateNumericMatrix_730(256, 256, mxUINT16_CLASS, mxREAL));
  for (size_t v = 0; v < 65536; ++v) static_cast<uint16_t *>(mxGetData(words.get()))[v] = v;
  for (size_t P : {1, 255, 256, 65535, 65536, 65537}) {
    ArrayPtr map = distinctMap(P);
    expectMatchesReference(words.get(), map.get());
  }
}

// Images of a million pixels and more take another path for uint8 (tables
// indexed by pixel pairs, eight pixels at a time): every ordered pair of
// values occurs, at even and odd positions, and the length leaves a tail.
TEST(LutpaintBoundaries, LargeUint8ImagesEveryPairOfValues) {
  std::mt19937 rng(88);
  for (size_t tail : {0, 3, 7}) {
    size_t n = (size_t(1) << 20) + 2 * 65536 + tail;
    ArrayPtr X(mxCreateNumericMatrix_730(1, n, mxUINT8_CLASS, mxREAL));
    auto *x = static_cast<uint8_t *>(mxGetData(X.get()));
    for (size_t k = 0; k < n; ++k)
      x[k] =
          static_cast<uint8_t>(k < 131072 ? (k % 2 == 0 ? (k / 2) & 0xFF : (k / 2) >> 8) : rng());
    for (size_t P : {1, 2, 255, 256, 300}) {
      ArrayPtr map = randomMap(rng, P);
      expectMatchesReference(X.get(), map.get());
      if (HasFatalFailure()) return;
    }
  }
}

}  // namespace

// mirrorprod and the compressed-sparse kernels against plain dense
// references, on random patterns with fixed seeds. Every reference sums in
// the order the kernel documents, so results must agree bit for bit; only
// where a kernel is handed entries out of order is a tolerance used.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <tuple>

#include "casetools.h"
#include "mirrorprod/sparse_kernels.h"

namespace {

using mexhost::ArrayPtr;
using mexhost::CallResult;
using Dense = std::vector<double>;  // column-major; a zero is an unstored entry
using Complex = std::complex<double>;

const mexhost::Plugin &plugin() {
  return mexhost::openPlugin(TOOLBOX_PLUGIN_DIR, "mirrorprod");
}

// ---- random matrices -------------------------------------------------------

enum class Part { lower, upper, any, symmetric };

// Non-zero values of varied sign and magnitude, so that the order of the
// additions shows in the last bits.
double randomValue(std::mt19937 &rng) {
  std::uniform_real_distribution<double> unit(0.5, 1.0);
  double v = std::ldexp(unit(rng), static_cast<int>(rng() % 17) - 8);
  return rng() % 2 ? v : -v;
}

Dense randomVector(std::mt19937 &rng, size_t count) {
  Dense x(count);
  for (double &v : x) v = randomValue(rng);
  return x;
}

// Densities from empty to full, diagonals absent to complete; some matrices
// get an emptied column, some hold a single entry.
Dense randomMatrix(std::mt19937 &rng, int rows, int cols, Part part) {
  static const double kDensity[] = {0.0, 0.1, 0.3, 0.6, 1.0};
  static const double kDiagonal[] = {0.0, 0.5, 1.0};
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  double density = kDensity[rng() % 5], diagonal = kDiagonal[rng() % 3];
  bool single = rng() % 8 == 0;
  Dense a(static_cast<size_t>(rows) * cols, 0.0);
  std::vector<size_t> allowed;
  for (int c = 0; c < cols; ++c) {
    for (int r = 0; r < rows; ++r) {
      bool inPart = part == Part::any || (part == Part::upper ? r <= c : r >= c);
      if (!inPart) continue;
      allowed.push_back(r + static_cast<size_t>(c) * rows);
      if (!single && unit(rng) < (r == c ? diagonal : density))
        a[allowed.back()] = randomValue(rng);
    }
  }
  if (single && !allowed.empty()) a[allowed[rng() % allowed.size()]] = randomValue(rng);
  if (cols > 0 && rng() % 4 == 0) std::fill_n(a.begin() + (rng() % cols) * rows, rows, 0.0);
  if (part == Part::symmetric) {
    for (int c = 0; c < cols; ++c)
      for (int r = 0; r < c; ++r) a[r + static_cast<size_t>(c) * rows] = a[c + r * rows];
  }
  return a;
}

Dense transposed(const Dense &a, int rows, int cols) {
  Dense t(a.size());
  for (int c = 0; c < cols; ++c)
    for (int r = 0; r < rows; ++r) t[c + static_cast<size_t>(r) * cols] = a[r + c * rows];
  return t;
}

// ---- compressed storage ----------------------------------------------------

struct Sparse {
  std::vector<double> pr, pi;
  std::vector<SparseIndex> ir, jc{0};
};

// The columns (or, byRows, the rows) of a dense matrix as compressed
// vectors, indices ascending; an entry is stored where re or im is non-zero.
Sparse compress(const Dense &re, const Dense &im, int rows, int cols, bool byRows) {
  Sparse s;
  int vectors = byRows ? rows : cols, length = byRows ? cols : rows;
  for (int v = 0; v < vectors; ++v) {
    for (int i = 0; i < length; ++i) {
      size_t at = byRows ? v + static_cast<size_t>(i) * rows : i + static_cast<size_t>(v) * rows;
      if (re[at] == 0.0 && (im.empty() || im[at] == 0.0)) continue;
      s.pr.push_back(re[at]);
      if (!im.empty()) s.pi.push_back(im[at]);
      s.ir.push_back(i);
    }
    s.jc.push_back(s.ir.size());
  }
  return s;
}
Sparse byColumns(const Dense &a, int rows, int cols) {
  return compress(a, {}, rows, cols, false);
}
Sparse byRows(const Dense &a, int rows, int cols) {
  return compress(a, {}, rows, cols, true);
}

// Storage order within each compressed vector shuffled (real values only).
void shuffleVectors(Sparse &s, std::mt19937 &rng) {
  for (size_t v = 0; v + 1 < s.jc.size(); ++v) {
    std::vector<std::pair<SparseIndex, double>> entries;
    for (SparseIndex k = s.jc[v]; k < s.jc[v + 1]; ++k) entries.emplace_back(s.ir[k], s.pr[k]);
    std::shuffle(entries.begin(), entries.end(), rng);
    for (size_t k = 0; k < entries.size(); ++k)
      std::tie(s.ir[s.jc[v] + k], s.pr[s.jc[v] + k]) = entries[k];
  }
}

testing::AssertionResult sameBits(const Dense &expected, const double *actual) {
  for (size_t k = 0; k < expected.size(); ++k) {
    if (std::memcmp(&expected[k], &actual[k], sizeof(double)) != 0) {
      return testing::AssertionFailure()
             << "element " << k << ": expected " << expected[k] << ", got " << actual[k];
    }
  }
  return testing::AssertionSuccess();
}

// ---- references ------------------------------------------------------------

// y = A*x for a full rows-by-cols matrix, each row summed over the columns
// in turn from +0.
Dense denseProduct(const Dense &a, int rows, int cols, const double *x) {
  Dense y(rows, 0.0);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) y[r] = y[r] + a[r + static_cast<size_t>(c) * rows] * x[c];
  return y;
}

// y = (D + D' - diag(D))*x for the matrix D whose row v is compressed
// vector v, in the symmetric kernels' order: for element q, the entries of
// earlier vectors that hold index q, then vector q's own entries, then the
// entries of later vectors that hold q.
Dense mirroredProduct(const Dense &d, int n, const double *x) {
  Dense y(n, 0.0);
  auto at = [&](int v, int i) { return d[v + static_cast<size_t>(i) * n]; };
  for (int q = 0; q < n; ++q) {
    for (int v = 0; v < q; ++v)
      if (at(v, q) != 0.0) y[q] = y[q] + at(v, q) * x[v];
    for (int i = 0; i < n; ++i)
      if (at(q, i) != 0.0) y[q] = y[q] + at(q, i) * x[i];
    for (int v = q + 1; v < n; ++v)
      if (at(v, q) != 0.0) y[q] = y[q] + at(v, q) * x[v];
  }
  return y;
}

// ---- the plug-in -----------------------------------------------------------

ArrayPtr sparseArray(const Dense &a, int rows, int cols, const Dense &imag = {}) {
  Sparse s = compress(a, imag, rows, cols, false);
  ArrayPtr array(mxCreateSparse_730(rows, cols, s.pr.size(), imag.empty() ? mxREAL : mxCOMPLEX));
  std::copy(s.pr.begin(), s.pr.end(), mxGetPr(array.get()));
  if (!imag.empty()) std::copy(s.pi.begin(), s.pi.end(), mxGetPi(array.get()));
  std::copy(s.ir.begin(), s.ir.end(), mxGetIr_730(array.get()));
  std::copy(s.jc.begin(), s.jc.end(), mxGetJc_730(array.get()));
  return array;
}

ArrayPtr denseArray(const Dense &x, int rows, int cols, const Dense &imag = {}) {
  ArrayPtr array(mxCreateDoubleMatrix_730(rows, cols, imag.empty() ? mxREAL : mxCOMPLEX));
  std::copy(x.begin(), x.end(), mxGetPr(array.get()));
  if (!imag.empty()) std::copy(imag.begin(), imag.end(), mxGetPi(array.get()));
  return array;
}

// Calls mirrorprod and checks that y is a real full n-by-1 double.
Dense mirrorprod(const mxArray *x, const mxArray *A, int nlhs = 1) {
  CallResult r = plugin().call(nlhs, {x, A});
  EXPECT_EQ(r.status, CallResult::Status::ok) << r.identifier << " " << r.message;
  if (r.status != CallResult::Status::ok) return {};
  const mxArray *y = r.outputs[0].get();
  size_t n = mxGetM(A);
  EXPECT_TRUE(mxIsDouble(y) && !mxIsComplex(y) && !mxIsSparse(y));
  EXPECT_EQ(mxGetM(y), n);
  EXPECT_EQ(mxGetN(y), 1u);
  return Dense(mxGetPr(y), mxGetPr(y) + n);
}

TEST(MirrorprodPlugin, LowerTriangleGivesTheFullSymmetricProductBitForBit) {
  std::mt19937 rng(31);
  for (int trial = 0; trial < 1500; ++trial) {
    int n = static_cast<int>(rng() % 25), extra = static_cast<int>(rng() % 3);
    Dense lower = randomMatrix(rng, n, n, Part::lower);
    Dense full = lower;
    for (int c = 0; c < n; ++c)
      for (int r = 0; r < c; ++r) full[r + static_cast<size_t>(c) * n] = lower[c + r * n];
    Dense x = randomVector(rng, n + extra);
    Dense y = mirrorprod(denseArray(x, n + extra, 1).get(), sparseArray(lower, n, n).get());
    ASSERT_TRUE(sameBits(denseProduct(full, n, n, x.data()), y.data())) << "trial " << trial;
  }
}

TEST(MirrorprodPlugin, EveryStoredEntryIsMirroredWhateverTheTriangle) {
  std::mt19937 rng(32);
  const Part parts[] = {Part::upper, Part::any, Part::symmetric};
  for (int trial = 0; trial < 1500; ++trial) {
    int n = static_cast<int>(rng() % 20);
    Dense a = randomMatrix(rng, n, n, parts[trial % 3]);
    Dense x = randomVector(rng, n);
    Dense y = mirrorprod(denseArray(x, n, 1).get(), sparseArray(a, n, n).get());
    // The host's column j is the kernel's compressed vector j.
    Dense expected = mirroredProduct(transposed(a, n, n), n, x.data());
    ASSERT_TRUE(sameBits(expected, y.data())) << "trial " << trial;
  }
}

TEST(MirrorprodPlugin, ReadsOnlyRealPartsAndTheFirstNElementsOfX) {
  std::mt19937 rng(33);
  for (int trial = 0; trial < 200; ++trial) {
    int n = 1 + static_cast<int>(rng() % 12), k = 1 + static_cast<int>(rng() % 3);
    Dense lower = randomMatrix(rng, n, n, Part::lower);
    Dense imag = lower;
    for (double &v : imag) v = v == 0.0 ? 0.0 : randomValue(rng);
    Dense x = randomVector(rng, static_cast<size_t>(n) * k);
    Dense expected = mirrorprod(denseArray(Dense(x.begin(), x.begin() + n), n, 1).get(),
                                sparseArray(lower, n, n).get());
    ArrayPtr complexA = sparseArray(lower, n, n, imag);
    ArrayPtr complexX = denseArray(x, n, k, randomVector(rng, x.size()));
    EXPECT_TRUE(sameBits(expected, mirrorprod(complexX.get(), complexA.get()).data()));
    EXPECT_TRUE(sameBits(expected, mirrorprod(complexX.get(), complexA.get(), 0).data()));
  }
}

TEST(MirrorprodPlugin, HostileCallsRaiseIdentifiedErrors) {
  // Ones on the main diagonal of a rows-by-cols matrix.
  auto identity = [](int rows, int cols) {
    Dense a(static_cast<size_t>(rows) * cols, 0.0);
    for (int i = 0; i < std::min(rows, cols); ++i) a[i + static_cast<size_t>(i) * rows] = 1.0;
    return sparseArray(a, rows, cols);
  };
  const int n = 1000;
  ArrayPtr A = identity(n, n), wide = identity(n, n + 1), tall = identity(n + 1, n);
  ArrayPtr x = denseArray(Dense(n, 1.0), n, 1);
  ArrayPtr shortX = denseArray(Dense(n - 1, 1.0), n - 1, 1);
  ArrayPtr fullA = denseArray(Dense(static_cast<size_t>(n) * n, 1.0), n, n);
  ArrayPtr logicalA(mxCreateSparseLogicalMatrix_730(n, n, 1));
  ArrayPtr singleX(mxCreateNumericMatrix_730(n, 1, mxSINGLE_CLASS, mxREAL));
  ArrayPtr sparseX = sparseArray(Dense(n, 1.0), n, 1);
  ArrayPtr huge(mxCreateSparse_730(size_t{1} << 31, 1, 1, mxREAL));
  struct Hostile {
    int nlhs;
    std::vector<const mxArray *> inputs;
    const char *identifier;
  };
  const Hostile calls[] = {
      {1, {}, "mirrorprod:wrongNumInputs"},
      {1, {x.get()}, "mirrorprod:wrongNumInputs"},
      {2, {x.get(), A.get()}, "mirrorprod:tooManyOutputs"},
      {1, {x.get(), fullA.get()}, "mirrorprod:notSparse"},
      {1, {x.get(), logicalA.get()}, "mirrorprod:notSparse"},
      {1, {x.get(), wide.get()}, "mirrorprod:notSquare"},
      {1, {x.get(), tall.get()}, "mirrorprod:notSquare"},
      {1, {shortX.get(), A.get()}, "mirrorprod:invalidInput"},
      {1, {singleX.get(), A.get()}, "mirrorprod:invalidInput"},
      {1, {sparseX.get(), A.get()}, "mirrorprod:invalidInput"},
      {1, {x.get(), huge.get()}, "mirrorprod:tooLarge"},
  };
  for (const Hostile &h : calls) {
    CallResult r = plugin().call(h.nlhs, h.inputs);
    EXPECT_EQ(r.status, CallResult::Status::error) << h.identifier;
    EXPECT_EQ(r.identifier, h.identifier) << r.message;
    EXPECT_FALSE(r.message.empty());
  }
}

// ---- symmetric kernels -----------------------------------------------------

TEST(SymmetricKernels, RealVecMultMatchesTheMirroredReferenceAndTheTrilForm) {
  std::mt19937 rng(41);
  const Part parts[] = {Part::lower, Part::upper, Part::any, Part::symmetric};
  for (int trial = 0; trial < 2000; ++trial) {
    int n = static_cast<int>(rng() % 20);
    Dense d = randomMatrix(rng, n, n, parts[trial % 4]);
    Sparse s = byRows(d, n, n);
    Dense x = randomVector(rng, n);
    Dense general(n, NAN), tril(n, NAN);
    CSRsymm_VecMult_CAB_double(n, n, s.pr.data(), s.ir.data(), s.jc.data(), x.data(),
                               general.data());
    ASSERT_TRUE(sameBits(mirroredProduct(d, n, x.data()), general.data())) << "trial " << trial;
    // Any storage order, even with the diagonal after other entries: the
    // two forms still agree bit for bit.
    shuffleVectors(s, rng);
    CSRsymm_VecMult_CAB_double(n, n, s.pr.data(), s.ir.data(), s.jc.data(), x.data(),
                               general.data());
    CSRsymm_VecMult_CAB_double_tril(n, s.pr.data(), s.ir.data(), s.jc.data(), x.data(),
                                    tril.data());
    ASSERT_TRUE(sameBits(general, tril.data())) << "trial " << trial;
  }
}

TEST(SymmetricKernels, DiagonalStoredLateAgreesWithTheSortedRowClosely) {
  // Exact arithmetic only: the sum is taken in another order.
  std::mt19937 rng(42);
  for (int trial = 0; trial < 500; ++trial) {
    int n = 2 + static_cast<int>(rng() % 15);
    Dense d = randomMatrix(rng, n, n, Part::upper);
    for (int r = 0; r < n; ++r) d[r + static_cast<size_t>(r) * n] = randomValue(rng);
    Sparse s = byRows(d, n, n);
    shuffleVectors(s, rng);
    Dense x = randomVector(rng, n), y(n);
    CSRsymm_VecMult_CAB_double_tril(n, s.pr.data(), s.ir.data(), s.jc.data(), x.data(), y.data());
    Dense expected = mirroredProduct(d, n, x.data());
    for (int r = 0; r < n; ++r) {
      double scale = 0.0;
      for (int c = 0; c < n; ++c)
        scale += std::fabs(d[std::min(r, c) + static_cast<size_t>(std::max(r, c)) * n] * x[c]);
      ASSERT_NEAR(y[r], expected[r], 1e-14 * scale) << "trial " << trial << " row " << r;
    }
  }
}

TEST(SymmetricKernels, MatMultAndItsLoopExchangedFormAgreeWithTheReference) {
  std::mt19937 rng(43);
  const Part parts[] = {Part::lower, Part::upper, Part::any, Part::symmetric};
  for (int trial = 0; trial < 800; ++trial) {
    int p = static_cast<int>(rng() % 15), m = p + static_cast<int>(rng() % 3);
    int n = static_cast<int>(rng() % 4);
    Dense d = randomMatrix(rng, p, p, parts[trial % 4]);
    Sparse s = byRows(d, p, p);
    Dense B = randomVector(rng, static_cast<size_t>(m) * n);
    Dense C(B.size(), NAN), Cbis(B.size(), NAN), expected;
    for (int c = 0; c < n; ++c) {
      Dense column = mirroredProduct(d, p, B.data() + static_cast<size_t>(c) * m);
      column.resize(m, 0.0);  // rows beyond p receive no terms
      expected.insert(expected.end(), column.begin(), column.end());
    }
    CSRsymm_MatMult_CAB_double(m, n, p, s.pr.data(), s.ir.data(), s.jc.data(), B.data(), C.data());
    ASSERT_TRUE(sameBits(expected, C.data())) << "trial " << trial;
    shuffleVectors(s, rng);
    CSRsymm_MatMult_CAB_double(m, n, p, s.pr.data(), s.ir.data(), s.jc.data(), B.data(), C.data());
    CSRsymm_MatMult_CAB_double_bis(m, n, p, s.pr.data(), s.ir.data(), s.jc.data(), B.data(),
                                   Cbis.data());
    ASSERT_TRUE(sameBits(C, Cbis.data())) << "trial " << trial;
  }
}

// Complex dense values: real and imaginary parts both non-zero where stored.
void randomComplexMatrix(std::mt19937 &rng, int rows, int cols, Part part, Dense &re, Dense &im) {
  re = randomMatrix(rng, rows, cols, part);
  im = re;
  for (size_t k = 0; k < re.size(); ++k) im[k] = re[k] == 0.0 ? 0.0 : randomValue(rng);
}

std::vector<Complex> complexProduct(const Dense &re, const Dense &im, int rows, int cols,
                                    const Dense &xr, const Dense &xi) {
  std::vector<Complex> y(rows, Complex(0.0, 0.0));
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      size_t at = r + static_cast<size_t>(c) * rows;
      if (re[at] != 0.0 || im[at] != 0.0)
        y[r] = Complex(re[at], im[at]) * Complex(xr[c], xi[c]) + y[r];
    }
  }
  return y;
}

testing::AssertionResult sameComplexBits(const std::vector<Complex> &expected, const Dense &re,
                                         const Dense &im) {
  Dense er, ei;
  for (const Complex &z : expected) er.push_back(z.real()), ei.push_back(z.imag());
  testing::AssertionResult real = sameBits(er, re.data());
  return real ? sameBits(ei, im.data()) : real;
}

TEST(SymmetricKernels, ComplexVecMultIsTheUpperTriangleMirroredWithoutConjugation) {
  std::mt19937 rng(44);
  for (int trial = 0; trial < 800; ++trial) {
    int n = static_cast<int>(rng() % 16);
    Dense ur, ui;
    randomComplexMatrix(rng, n, n, Part::upper, ur, ui);
    Dense fr = ur, fi = ui;  // the full symmetric matrix
    for (int c = 0; c < n; ++c) {
      for (int r = c + 1; r < n; ++r) {
        fr[r + static_cast<size_t>(c) * n] = ur[c + r * n];
        fi[r + static_cast<size_t>(c) * n] = ui[c + r * n];
      }
    }
    Dense xr = randomVector(rng, n), xi = randomVector(rng, n);
    Dense yr(n, NAN), yi(n, NAN), fullR(n, NAN), fullI(n, NAN);
    Sparse upper = compress(ur, ui, n, n, true), full = compress(fr, fi, n, n, true);
    CSRsymm_CmplxVecMult_CAB_double(n, n, upper.pr.data(), upper.pi.data(), upper.ir.data(),
                                    upper.jc.data(), xr.data(), xi.data(), yr.data(), yi.data());
    ASSERT_TRUE(sameComplexBits(complexProduct(fr, fi, n, n, xr, xi), yr, yi)) << trial;
    // Entries below the diagonal are skipped: both triangles give the same.
    CSRsymm_CmplxVecMult_CAB_double(n, n, full.pr.data(), full.pi.data(), full.ir.data(),
                                    full.jc.data(), xr.data(), xi.data(), fullR.data(),
                                    fullI.data());
    ASSERT_TRUE(sameBits(yr, fullR.data()) && sameBits(yi, fullI.data())) << trial;
  }
}

TEST(SymmetricKernels, ComplexVecMultWalksTheFirstCountAndClearsTheSecond) {
  // Upper triangle of a 4-by-4 matrix; only rows 0 and 1 are walked.
  Dense re = {1, 0, 0, 0, 2, 3, 0, 0, 4, 5, 6, 0, 7, 8, 9, 10}, im(16, 0.0);
  im[4] = 1.0;  // (0, 1) = 2 + 1i
  Sparse s = compress(re, im, 4, 4, true);
  Dense xr = {1, 10, 100, 1000}, xi = {0, 0, 1, 0};
  Dense yr(4, 99.0), yi(4, 99.0);
  CSRsymm_CmplxVecMult_CAB_double(2, 4, s.pr.data(), s.pi.data(), s.ir.data(), s.jc.data(),
                                  xr.data(), xi.data(), yr.data(), yi.data());
  // Rows 0 and 1 with their mirrors: [1 2+i 4 7; 2+i 3 5 8; 4 5 0 0; 7 8 0 0].
  EXPECT_TRUE(sameBits({1 + 20 + 400 + 7000, 2 + 30 + 500 + 8000, 4 + 50, 7 + 80}, yr.data()));
  EXPECT_TRUE(sameBits({10 + 4, 1 + 5, 0, 0}, yi.data()));
}

// ---- plain products --------------------------------------------------------

TEST(PlainProducts, RealVecMultByColumnsAndByRowsOnRectangularMatrices) {
  std::mt19937 rng(51);
  for (int trial = 0; trial < 1500; ++trial) {
    int m = static_cast<int>(rng() % 15), n = static_cast<int>(rng() % 15);
    Dense a = randomMatrix(rng, m, n, Part::any);
    Dense x = randomVector(rng, n), c0 = randomVector(rng, m);
    double alpha = randomValue(rng);
    Sparse cols = byColumns(a, m, n), rows = byRows(a, m, n);
    Dense expected = denseProduct(a, m, n, x.data());
    Dense y(m, NAN);
    CSC_VecMult_CAB_double(m, n, cols.pr.data(), cols.ir.data(), cols.jc.data(), x.data(),
                           y.data());
    ASSERT_TRUE(sameBits(expected, y.data())) << "CSC, trial " << trial;
    // The CSR members count the rows of their matrix as n: pass m.
    std::fill(y.begin(), y.end(), NAN);
    CSR_VecMult_CAB_double(n, m, rows.pr.data(), rows.ir.data(), rows.jc.data(), x.data(),
                           y.data());
    ASSERT_TRUE(sameBits(expected, y.data())) << "CSR, trial " << trial;

    // C := a*A*B + C: by columns each scaled term goes into C in turn; by
    // rows a row's terms are summed first and added to C once.
    Dense scatter = c0, gather = c0;
    for (int r = 0; r < m; ++r) {
      double t = 0.0;
      for (int c = 0; c < n; ++c) {
        double v = a[r + static_cast<size_t>(c) * m];
        if (v == 0.0) continue;
        scatter[r] = (alpha * x[c]) * v + scatter[r];
        t = t + (alpha * x[c]) * v;
      }
      gather[r] = t + gather[r];
    }
    y = c0;
    CSC_VecMult_CaABC_double(m, n, alpha, cols.pr.data(), cols.ir.data(), cols.jc.data(), x.data(),
                             y.data());
    ASSERT_TRUE(sameBits(scatter, y.data())) << "CSC a*A*B + C, trial " << trial;
    y = c0;
    CSR_VecMult_CaABC_double(n, m, alpha, rows.pr.data(), rows.ir.data(), rows.jc.data(), x.data(),
                             y.data());
    ASSERT_TRUE(sameBits(gather, y.data())) << "CSR a*A*B + C, trial " << trial;
  }
}

TEST(PlainProducts, EmptyShapesClearOrKeepTheOutputAsDocumented) {
  std::vector<SparseIndex> jc = {0}, none;
  Dense B = {1.0}, C = {5.0, 6.0};
  CSC_VecMult_CaABC_double(2, 0, 3.0, nullptr, none.data(), jc.data(), B.data(), C.data());
  CSR_VecMult_CaABC_double(1, 0, 3.0, nullptr, none.data(), jc.data(), B.data(), C.data());
  EXPECT_TRUE(sameBits({5.0, 6.0}, C.data()));
  CSC_VecMult_CAB_double(2, 0, nullptr, none.data(), jc.data(), B.data(), C.data());
  EXPECT_TRUE(sameBits({0.0, 0.0}, C.data()));
  // An empty row leaves 0 (CAB) or the old value (CaABC).
  std::vector<SparseIndex> rowStarts = {0, 0, 1}, index = {0};
  Dense value = {2.0};
  C = {NAN, NAN};
  CSR_VecMult_CAB_double(1, 2, value.data(), index.data(), rowStarts.data(), B.data(), C.data());
  EXPECT_TRUE(sameBits({0.0, 2.0}, C.data()));
  C = {5.0, 6.0};
  CSR_VecMult_CaABC_double(1, 2, 1.0, value.data(), index.data(), rowStarts.data(), B.data(),
                           C.data());
  EXPECT_TRUE(sameBits({5.0, 8.0}, C.data()));
}

TEST(PlainProducts, ComplexVecMultMatchesComplexDenseArithmetic) {
  std::mt19937 rng(52);
  for (int trial = 0; trial < 1000; ++trial) {
    int m = static_cast<int>(rng() % 12), n = static_cast<int>(rng() % 12);
    Dense re, im;
    randomComplexMatrix(rng, m, n, Part::any, re, im);
    Dense xr = randomVector(rng, n), xi = randomVector(rng, n);
    std::vector<Complex> expected = complexProduct(re, im, m, n, xr, xi);
    Sparse cols = compress(re, im, m, n, false), rows = compress(re, im, m, n, true);
    Dense yr(m, NAN), yi(m, NAN);
    CSC_CmplxVecMult_CAB_double(m, n, cols.pr.data(), cols.pi.data(), cols.ir.data(),
                                cols.jc.data(), xr.data(), xi.data(), yr.data(), yi.data());
    ASSERT_TRUE(sameComplexBits(expected, yr, yi)) << "CSC, trial " << trial;
    std::fill(yr.begin(), yr.end(), NAN);
    std::fill(yi.begin(), yi.end(), NAN);
    CSR_CmplxVecMult_CAB_double(n, m, rows.pr.data(), rows.pi.data(), rows.ir.data(),
                                rows.jc.data(), xr.data(), xi.data(), yr.data(), yi.data());
    ASSERT_TRUE(sameComplexBits(expected, yr, yi)) << "CSR, trial " << trial;
  }
}

TEST(PlainProducts, MatMultByColumnsReadsTheFirstPRowsOfEachColumnOfB) {
  std::mt19937 rng(53);
  for (int trial = 0; trial < 800; ++trial) {
    int m = static_cast<int>(rng() % 12), p = m == 0 ? 0 : static_cast<int>(rng() % (m + 1));
    int n = static_cast<int>(rng() % 4);
    Dense a = randomMatrix(rng, m, p, Part::any);
    Sparse s = byColumns(a, m, p);
    Dense B = randomVector(rng, static_cast<size_t>(m) * n), expected;
    for (int c = 0; c < n; ++c) {
      Dense column = denseProduct(a, m, p, B.data() + static_cast<size_t>(c) * m);
      expected.insert(expected.end(), column.begin(), column.end());
    }
    Dense C(B.size(), NAN), other(B.size(), NAN);
    CSC_MatMult_CAB_double(m, n, p, s.pr.data(), s.ir.data(), s.jc.data(), B.data(), m, C.data(),
                           m);
    ASSERT_TRUE(sameBits(expected, C.data())) << "trial " << trial;
    // The counts after B and after C change nothing.
    CSC_MatMult_CAB_double(m, n, p, s.pr.data(), s.ir.data(), s.jc.data(), B.data(), -7,
                           other.data(), 123456);
    ASSERT_TRUE(sameBits(C, other.data())) << "trial " << trial;
  }
}

// ---- triangular solves -----------------------------------------------------

// A random triangular matrix with every diagonal entry stored and kept
// away from zero, so that solutions stay finite.
Dense randomTriangle(std::mt19937 &rng, int n, Part part) {
  Dense a = randomMatrix(rng, n, n, part);
  for (int r = 0; r < n; ++r) a[r + static_cast<size_t>(r) * n] = 1.0 + std::fabs(randomValue(rng));
  return a;
}

// Each solve is called twice, with B and C apart and as one array.
using Solve = void (*)(int, const double *, const SparseIndex *, const SparseIndex *,
                       const double *, double *);
void expectSolution(Solve solve, const Sparse &s, int n, const Dense &B, const Dense &expected,
                    const char *what) {
  Dense C(n, NAN), inPlace = B;
  solve(n, s.pr.data(), s.ir.data(), s.jc.data(), B.data(), C.data());
  EXPECT_TRUE(sameBits(expected, C.data())) << what;
  solve(n, s.pr.data(), s.ir.data(), s.jc.data(), inPlace.data(), inPlace.data());
  EXPECT_TRUE(sameBits(expected, inPlace.data())) << what << ", B and C one array";
}

TEST(TriangularSolves, ForwardAndBackwardSubstitutionByColumnsAndByRows) {
  std::mt19937 rng(61);
  for (int trial = 0; trial < 800; ++trial) {
    int n = static_cast<int>(rng() % 20);
    Dense L = randomTriangle(rng, n, Part::lower), U = randomTriangle(rng, n, Part::upper);
    Dense B = randomVector(rng, n);
    auto at = [n](const Dense &a, int r, int c) { return a[r + static_cast<size_t>(c) * n]; };
    // By columns: each solved unknown is scattered into the rest of B.
    Dense lowerByColumns = B, upperByColumns = B;
    for (int j = 0; j < n; ++j) {
      lowerByColumns[j] = lowerByColumns[j] / at(L, j, j);
      for (int i = j + 1; i < n; ++i)
        if (at(L, i, j) != 0.0)
          lowerByColumns[i] = lowerByColumns[i] - lowerByColumns[j] * at(L, i, j);
    }
    for (int j = n - 1; j >= 0; --j) {
      upperByColumns[j] = upperByColumns[j] / at(U, j, j);
      for (int i = 0; i < j; ++i)
        if (at(U, i, j) != 0.0)
          upperByColumns[i] = upperByColumns[i] - upperByColumns[j] * at(U, i, j);
    }
    // By rows: each unknown from the sum of its row's known terms.
    Dense lowerByRows(n), upperByRows(n);
    for (int r = 0; r < n; ++r) {
      double t = 0.0;
      for (int c = 0; c < r; ++c)
        if (at(L, r, c) != 0.0) t = t + lowerByRows[c] * at(L, r, c);
      lowerByRows[r] = (B[r] - t) / at(L, r, r);
    }
    for (int r = n - 1; r >= 0; --r) {
      double t = 0.0;
      for (int c = r + 1; c < n; ++c)
        if (at(U, r, c) != 0.0) t = t + upperByRows[c] * at(U, r, c);
      upperByRows[r] = (B[r] - t) / at(U, r, r);
    }
    expectSolution(CSC_VecTriangSlvLD_CAB_double, byColumns(L, n, n), n, B, lowerByColumns,
                   "CSC LD");
    expectSolution(CSC_VecTriangSlvUD_CAB_double, byColumns(U, n, n), n, B, upperByColumns,
                   "CSC UD");
    expectSolution(CSR_VecTriangSlvUD_CAB_double, byRows(U, n, n), n, B, upperByRows, "CSR UD");
    // The CSR lower solve finds its diagonal anywhere in the row: move each
    // diagonal entry to a random place among the row's entries.
    Sparse rows = byRows(L, n, n);
    for (int r = 0; r < n; ++r) {
      SparseIndex last = rows.jc[r + 1] - 1, to = rows.jc[r] + rng() % (last - rows.jc[r] + 1);
      std::rotate(rows.pr.begin() + to, rows.pr.begin() + last, rows.pr.begin() + last + 1);
      std::rotate(rows.ir.begin() + to, rows.ir.begin() + last, rows.ir.begin() + last + 1);
    }
    expectSolution(CSR_VecTriangSlvLD_CAB_double, rows, n, B, lowerByRows, "CSR LD");
    if (HasFailure()) FAIL() << "trial " << trial;
  }
}

TEST(TriangularSolves, WorkedExamplesAndZeroDiagonals) {
  // [2 0; 1 4] \ [2; 9] = [1; 2]; [4 1; 0 2] \ [6; 4] = [1; 2].
  Dense L = {2, 1, 0, 4}, U = {4, 0, 1, 2}, B = {2, 9}, U_B = {6, 4};
  expectSolution(CSC_VecTriangSlvLD_CAB_double, byColumns(L, 2, 2), 2, B, {1, 2}, "CSC LD");
  expectSolution(CSR_VecTriangSlvLD_CAB_double, byRows(L, 2, 2), 2, B, {1, 2}, "CSR LD");
  expectSolution(CSC_VecTriangSlvUD_CAB_double, byColumns(U, 2, 2), 2, U_B, {1, 2}, "CSC UD");
  expectSolution(CSR_VecTriangSlvUD_CAB_double, byRows(U, 2, 2), 2, U_B, {1, 2}, "CSR UD");
  // A stored zero diagonal divides by zero without a word: [0 0; 1 4].
  Sparse zero = {{0.0, 1.0, 4.0}, {}, {0, 1, 1}, {0, 2, 3}};
  expectSolution(CSC_VecTriangSlvLD_CAB_double, zero, 2, B, {INFINITY, -INFINITY}, "zero");
  // By rows, a row without its diagonal divides by zero as well: [2 0; 1 .].
  Sparse missing = {{2.0, 1.0}, {}, {0, 0}, {0, 1, 2}};
  Sparse storedZero = {{2.0, 1.0, 0.0}, {}, {0, 0, 1}, {0, 1, 3}};
  expectSolution(CSR_VecTriangSlvLD_CAB_double, missing, 2, B, {1, INFINITY}, "missing");
  expectSolution(CSR_VecTriangSlvLD_CAB_double, storedZero, 2, B, {1, INFINITY}, "stored zero");
  // Of two diagonal entries in a row, the last one is the divisor.
  Sparse twice = {{2.0, 1.0, 8.0, 4.0}, {}, {0, 0, 1, 1}, {0, 1, 4}};
  expectSolution(CSR_VecTriangSlvLD_CAB_double, twice, 2, B, {1, 2}, "two diagonals");
}

}  // namespace

// Benchmarks of the flank plug-ins through the bundled host, on the shapes of
// the flank section of bench/octave_bench.m, beside anchors measured in the
// same run on the same data:
//  - Eigen's expressions for the same results, with sparse 0/1 matrices
//    built from the lists (L*X*R; X(u, v) masked by the pattern). They write
//    into results allocated once, so they pay for no fresh pages, while
//    every plug-in call creates its output through the host.
//  - The host's share of a call: an output of the result's size created,
//    every page touched once, and released.
// Times only; nothing here asserts a speed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "benchhost.h"
#include "mexhost.h"

#if defined(TOOLBOX_HAVE_EIGEN)
#include <Eigen/Dense>
#include <Eigen/Sparse>
#endif

namespace {

using mexhost::ArrayPtr;

using benchhost::callPlugin;
using benchhost::plugin;

ArrayPtr doubleMatrix(size_t rows, size_t cols) {
  return ArrayPtr(mxCreateDoubleMatrix_730(rows, cols, mxREAL));
}

ArrayPtr uniformMatrix(size_t rows, size_t cols, std::mt19937_64 &rng) {
  ArrayPtr a = doubleMatrix(rows, cols);
  std::uniform_real_distribution<double> value(0.0, 1.0);
  double *data = mxGetPr(a.get());
  for (size_t k = 0; k < rows * cols; ++k) data[k] = value(rng);
  return a;
}

// A position list: 1-based (row, column) entries, then the size.
struct Positions {
  std::vector<int> rows, cols;  // 1-based
  int m = 0, n = 0;             // the 0/1 matrix's size
};

ArrayPtr listArray(const Positions &p) {
  ArrayPtr a = doubleMatrix(2, p.rows.size() + 1);
  double *data = mxGetPr(a.get());
  for (size_t j = 0; j < p.rows.size(); ++j) {
    data[2 * j] = p.rows[j];
    data[2 * j + 1] = p.cols[j];
  }
  data[2 * p.rows.size()] = p.m;
  data[2 * p.rows.size() + 1] = p.n;
  return a;
}

// 1-based indices drawn uniformly from 1..count.
std::vector<int> draws(size_t how_many, int count, std::mt19937_64 &rng) {
  std::uniform_int_distribution<int> pick(1, count);
  std::vector<int> d(how_many);
  for (int &x : d) x = pick(rng);
  return d;
}

std::vector<int> ascending(int count) {
  std::vector<int> r(static_cast<size_t>(count));
  std::iota(r.begin(), r.end(), 1);
  return r;
}

#if defined(TOOLBOX_HAVE_EIGEN)
using EigenSparse = Eigen::SparseMatrix<double>;

EigenSparse eigenSparse(const Positions &p) {
  std::vector<Eigen::Triplet<double>> t;
  for (size_t j = 0; j < p.rows.size(); ++j) t.emplace_back(p.rows[j] - 1, p.cols[j] - 1, 1.0);
  EigenSparse s(p.m, p.n);
  s.setFromTriplets(t.begin(), t.end());
  return s;
}

Eigen::Map<const Eigen::MatrixXd> eigenView(const mxArray *a) {
  return Eigen::Map<const Eigen::MatrixXd>(mxGetPr(a), static_cast<Eigen::Index>(mxGetM(a)),
                                           static_cast<Eigen::Index>(mxGetN(a)));
}
#endif

// --- flankprod ----------------------------------------------------------------

constexpr int kProductSide = 2000;  // X is 2000-by-2000
constexpr int kSelected = 1500;     // rows of a selecting L, columns of a selecting R
constexpr int kGeneralSide = 1000;  // rows of the general L, columns of the general R
constexpr int kGeneralOnes = 4000;  // ones in each of the general L and R

enum class ProductShape { select, identitySelect, general };

struct ProductData {
  ArrayPtr X, L, R;
  Positions left, right;
  bool identityLeft = false;
};

ProductData makeProduct(ProductShape shape) {
  std::mt19937_64 rng(5);
  ProductData d;
  d.X = uniformMatrix(kProductSide, kProductSide, rng);
  if (shape == ProductShape::general) {
    d.left = {draws(kGeneralOnes, kGeneralSide, rng), draws(kGeneralOnes, kProductSide, rng),
              kGeneralSide, kProductSide};
    d.right = {draws(kGeneralOnes, kProductSide, rng), draws(kGeneralOnes, kGeneralSide, rng),
               kProductSide, kGeneralSide};
  } else {
    d.left = {ascending(kSelected), draws(kSelected, kProductSide, rng), kSelected, kProductSide};
    d.right = {draws(kSelected, kProductSide, rng), ascending(kSelected), kProductSide, kSelected};
  }
  d.identityLeft = shape == ProductShape::identitySelect;
  d.L = d.identityLeft ? doubleMatrix(0, 0) : listArray(d.left);
  d.R = listArray(d.right);
  return d;
}

ProductData &productData(ProductShape shape) {
  static std::map<ProductShape, std::unique_ptr<ProductData>> data;
  auto &d = data[shape];
  if (!d) d.reset(new ProductData(makeProduct(shape)));
  return *d;
}

int64_t productTerms(const ProductData &d) {
  const int64_t leftPairs =
      d.identityLeft ? kProductSide : static_cast<int64_t>(d.left.rows.size());
  return leftPairs * static_cast<int64_t>(d.right.rows.size());
}

void BM_flankprod(benchmark::State &state, ProductShape shape) {
  ProductData &d = productData(shape);
  const mexhost::Plugin &p = plugin("flankprod");
  for (auto _ : state) callPlugin(state, p, 1, {d.L.get(), d.X.get(), d.R.get()});
  state.SetItemsProcessed(state.iterations() * productTerms(d));
}
BENCHMARK_CAPTURE(BM_flankprod, select, ProductShape::select)
    ->Name("flankprod/select_1500x2000*2000x2000*2000x1500")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_flankprod, identity_select, ProductShape::identitySelect)
    ->Name("flankprod/identity*2000x2000*select_2000x1500")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_flankprod, general, ProductShape::general)
    ->Name("flankprod/4000_ones_in_L_and_R")
    ->Unit(benchmark::kMillisecond);

#if defined(TOOLBOX_HAVE_EIGEN)
// L*X*R with Eigen's sparse 0/1 matrices (X*R alone for an identity L),
// into results allocated once per run.
void BM_eigen_product(benchmark::State &state, ProductShape shape) {
  ProductData &d = productData(shape);
  const EigenSparse L = eigenSparse(d.left), R = eigenSparse(d.right);
  const auto X = eigenView(d.X.get());
  Eigen::MatrixXd LX(d.identityLeft ? 0 : L.rows(), X.cols());
  Eigen::MatrixXd Y(d.identityLeft ? X.rows() : L.rows(), R.cols());
  for (auto _ : state) {
    if (d.identityLeft) {
      Y.noalias() = X * R;
    } else {
      LX.noalias() = L * X;
      Y.noalias() = LX * R;
    }
    benchmark::DoNotOptimize(Y.data());
  }
  state.SetItemsProcessed(state.iterations() * productTerms(d));
}
BENCHMARK_CAPTURE(BM_eigen_product, select, ProductShape::select)
    ->Name("eigen_LXR/select_1500x2000*2000x2000*2000x1500")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_eigen_product, identity_select, ProductShape::identitySelect)
    ->Name("eigen_XR/identity*2000x2000*select_2000x1500")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_eigen_product, general, ProductShape::general)
    ->Name("eigen_LXR/4000_ones_in_L_and_R")
    ->Unit(benchmark::kMillisecond);
#endif

// --- flankmask, flankscale, flankinner ------------------------------------------

constexpr int kGatherSide = 4000;         // X is 4000-by-4000
constexpr int kResultSide = 3000;         // the result is 3000-by-3000
constexpr int kPatternEntries = 1000000;  // distinct positions, in column-major order

enum class Selectors { random, identity };

struct GatherData {
  ArrayPtr X, u, v, P, W;
  ArrayPtr shuffledP;  // P's positions in random order
  Positions pattern;
  std::vector<int> rowSelect, colSelect;  // 1-based
};

GatherData makeGather(Selectors selectors) {
  std::mt19937_64 rng(17);
  GatherData g;
  g.X = uniformMatrix(kGatherSide, kGatherSide, rng);
  if (selectors == Selectors::identity) {
    g.rowSelect = ascending(kResultSide);
    g.colSelect = ascending(kResultSide);
  } else {
    g.rowSelect = draws(kResultSide, kGatherSide, rng);
    g.colSelect = draws(kResultSide, kGatherSide, rng);
  }
  g.u = doubleMatrix(kResultSide, 1);
  g.v = doubleMatrix(1, kResultSide);
  std::copy(g.rowSelect.begin(), g.rowSelect.end(), mxGetPr(g.u.get()));
  std::copy(g.colSelect.begin(), g.colSelect.end(), mxGetPr(g.v.get()));
  g.W = uniformMatrix(kResultSide, kResultSide, rng);
  // kPatternEntries distinct offsets of the result (a partial shuffle), in
  // ascending order: the order find() gives.
  const uint32_t cells = static_cast<uint32_t>(kResultSide) * kResultSide;
  std::vector<uint32_t> offsets(cells);
  std::iota(offsets.begin(), offsets.end(), 0u);
  for (uint32_t k = 0; k < static_cast<uint32_t>(kPatternEntries); ++k) {
    std::uniform_int_distribution<uint32_t> pick(k, cells - 1);
    std::swap(offsets[k], offsets[pick(rng)]);
  }
  offsets.resize(kPatternEntries);
  std::sort(offsets.begin(), offsets.end());
  g.pattern.m = kResultSide;
  g.pattern.n = kResultSide;
  for (uint32_t o : offsets) {
    g.pattern.rows.push_back(static_cast<int>(o % kResultSide) + 1);
    g.pattern.cols.push_back(static_cast<int>(o / kResultSide) + 1);
  }
  g.P = listArray(g.pattern);
  Positions shuffled = g.pattern;
  for (size_t k = shuffled.rows.size(); k > 1; --k) {
    const size_t other = std::uniform_int_distribution<size_t>(0, k - 1)(rng);
    std::swap(shuffled.rows[k - 1], shuffled.rows[other]);
    std::swap(shuffled.cols[k - 1], shuffled.cols[other]);
  }
  g.shuffledP = listArray(shuffled);
  return g;
}

GatherData &gatherData(Selectors selectors) {
  static std::map<Selectors, std::unique_ptr<GatherData>> data;
  auto &d = data[selectors];
  if (!d) d.reset(new GatherData(makeGather(selectors)));
  return *d;
}

void BM_gather(benchmark::State &state, const char *name, Selectors selectors, bool shuffled) {
  GatherData &g = gatherData(selectors);
  const mexhost::Plugin &p = plugin(name);
  std::vector<const mxArray *> inputs = {g.u.get(), g.X.get(), g.v.get(),
                                         shuffled ? g.shuffledP.get() : g.P.get()};
  if (std::string(name) != "flankmask") inputs.push_back(g.W.get());
  for (auto _ : state) callPlugin(state, p, 1, inputs);
  state.SetItemsProcessed(state.iterations() * kPatternEntries);
}
BENCHMARK_CAPTURE(BM_gather, mask, "flankmask", Selectors::random, false)
    ->Name("flankmask/1e6_positions_of_3000x3000")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_gather, scale, "flankscale", Selectors::random, false)
    ->Name("flankscale/1e6_positions_of_3000x3000")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_gather, inner, "flankinner", Selectors::random, false)
    ->Name("flankinner/1e6_positions_of_3000x3000")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_gather, mask_identity, "flankmask", Selectors::identity, false)
    ->Name("flankmask/1e6_positions_identity_selectors")
    ->Unit(benchmark::kMillisecond);
// The same positions listed in random order: flankmask walks them in column
// order, flankinner keeps its running sum's order.
BENCHMARK_CAPTURE(BM_gather, mask_shuffled, "flankmask", Selectors::random, true)
    ->Name("flankmask/1e6_positions_in_random_order")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_gather, inner_shuffled, "flankinner", Selectors::random, true)
    ->Name("flankinner/1e6_positions_in_random_order")
    ->Unit(benchmark::kMillisecond);

#if defined(TOOLBOX_HAVE_EIGEN)
enum class Masked { mask, scale, inner };

// The anchor's intermediate X(u, v) and its result, allocated and touched
// once for every run, so that no run pays for fresh pages.
struct MaskedScratch {
  Eigen::MatrixXd picked = Eigen::MatrixXd::Zero(kResultSide, kResultSide);
  Eigen::MatrixXd Y = Eigen::MatrixXd::Zero(kResultSide, kResultSide);
};

MaskedScratch &maskedScratch() {
  static std::unique_ptr<MaskedScratch> scratch;
  if (!scratch) scratch.reset(new MaskedScratch);
  return *scratch;
}

// X(u, v) gathered whole, then masked by the sparse pattern (and weighted,
// and summed): the expressions of the Octave side, into results allocated
// once.
void BM_eigen_masked(benchmark::State &state, Masked form, Selectors selectors) {
  GatherData &g = gatherData(selectors);
  const EigenSparse S = eigenSparse(g.pattern);
  const auto X = eigenView(g.X.get());
  const auto W = eigenView(g.W.get());
  std::vector<int> rows(g.rowSelect), cols(g.colSelect);
  for (int &r : rows) --r;
  for (int &c : cols) --c;
  Eigen::MatrixXd &picked = maskedScratch().picked;
  Eigen::MatrixXd &Y = maskedScratch().Y;
  for (auto _ : state) {
    picked = X(rows, cols);
    if (form == Masked::inner) {
      double y = S.cwiseProduct(picked.cwiseProduct(W)).sum();
      benchmark::DoNotOptimize(y);
    } else {
      if (form == Masked::mask) {
        Y = S.cwiseProduct(picked);
      } else {
        Y = S.cwiseProduct(picked.cwiseProduct(W));
      }
      benchmark::DoNotOptimize(Y.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * kPatternEntries);
}
BENCHMARK_CAPTURE(BM_eigen_masked, mask, Masked::mask, Selectors::random)
    ->Name("eigen_mask/1e6_positions_of_3000x3000")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_eigen_masked, scale, Masked::scale, Selectors::random)
    ->Name("eigen_scale/1e6_positions_of_3000x3000")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_eigen_masked, inner, Masked::inner, Selectors::random)
    ->Name("eigen_inner/1e6_positions_of_3000x3000")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_eigen_masked, mask_identity, Masked::mask, Selectors::identity)
    ->Name("eigen_mask/1e6_positions_identity_selectors")
    ->Unit(benchmark::kMillisecond);
#endif

// --- the host's share: an output of the result's size, created, its pages
// touched once (a fresh allocation faults them in on first write, whoever
// writes it) and released ------------------------------------------------------

constexpr size_t kDoublesPerPage = 4096 / sizeof(double);

void BM_host_output(benchmark::State &state) {
  const size_t rows = static_cast<size_t>(state.range(0));
  const size_t cols = static_cast<size_t>(state.range(1));
  for (auto _ : state) {
    ArrayPtr out = doubleMatrix(rows, cols);
    double *data = mxGetPr(out.get());
    for (size_t k = 0; k < rows * cols; k += kDoublesPerPage) data[k] = 0.0;
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_host_output)
    ->Name("host_output")
    ->Args({kSelected, kSelected})
    ->Args({kProductSide, kSelected})
    ->Args({kGeneralSide, kGeneralSide})
    ->Args({kResultSide, kResultSide})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

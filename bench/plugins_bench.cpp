// Benchmarks of the plug-ins through the bundled host, beside their anchors
// measured in the same run on the same data: Eigen for mirrorprod, memcpy of
// the output's bytes for lutpaint, the host's own zeros/ones for the
// forwarding plug-ins. Times only; nothing here asserts a speed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "benchhost.h"
#include "mexhost.h"
#include "pairsolve_matrices.h"

#if defined(TOOLBOX_HAVE_EIGEN)
#include <Eigen/Sparse>
#endif

namespace {

using mexhost::ArrayPtr;

using benchhost::callPlugin;
using benchhost::plugin;

// --- memory bandwidth -----------------------------------------------------

constexpr size_t kImageSide = 4096;
constexpr size_t kImageBytes = kImageSide * kImageSide * 3;  // one uint8 RGB image

void BM_memcpy(benchmark::State &state) {
  std::vector<unsigned char> from(kImageBytes, 1), to(kImageBytes, 2);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kImageBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(BM_memcpy)->Name("memcpy/48MiB")->Unit(benchmark::kMillisecond);

// What any plug-in pays to hand back a new image of this size: the host
// creates the uint8 M-by-N-by-3 output (fresh, zeroed memory) and it is
// filled once by memcpy.
void BM_host_output(benchmark::State &state) {
  std::vector<unsigned char> from(kImageBytes, 1);
  const size_t dims[] = {kImageSide, kImageSide, 3};
  for (auto _ : state) {
    mxArray *out = mxCreateNumericArray_730(3, dims, mxUINT8_CLASS, mxREAL);
    std::memcpy(mxGetData(out), from.data(), kImageBytes);
    benchmark::DoNotOptimize(mxGetData(out));
    mxDestroyArray(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(BM_host_output)->Name("host_output/uint8_4096x4096x3")->Unit(benchmark::kMillisecond);

// --- mirrorprod -------------------------------------------------------------

constexpr size_t kOrder = 2000000;

// Lower triangle in compressed-column form: banded (the diagonal, the next
// five sub-diagonals and every other column's seventh: about 13e6 entries)
// or scattered (the same counts, rows drawn at random below the diagonal).
struct LowerTriangle {
  std::vector<size_t> jc{0}, ir;
  std::vector<double> values;
};

LowerTriangle makeTriangle(bool banded) {
  LowerTriangle t;
  std::mt19937_64 rng(2026);
  std::uniform_real_distribution<double> value(0.5, 1.5);
  std::vector<size_t> rows;
  for (size_t j = 0; j < kOrder; ++j) {
    rows.clear();
    size_t below = j % 2 == 0 ? 6 : 5;
    rows.push_back(j);
    if (banded) {
      for (size_t off = 1; off <= 5; ++off) rows.push_back(j + off);
      if (below == 6) rows.push_back(j + 7);
    } else {
      std::uniform_int_distribution<size_t> row(j + 1, kOrder - 1);
      for (size_t k = 0; k < below && j + 1 < kOrder; ++k) rows.push_back(row(rng));
      std::sort(rows.begin(), rows.end());
      rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    }
    for (size_t r : rows) {
      if (r >= kOrder) continue;
      t.ir.push_back(r);
      t.values.push_back(value(rng));
    }
    t.jc.push_back(t.ir.size());
  }
  return t;
}

struct MirrorData {
  LowerTriangle triangle;
  ArrayPtr A, x;
};

MirrorData &mirrorData(bool banded) {
  static std::unique_ptr<MirrorData> data[2];
  auto &d = data[banded ? 1 : 0];
  if (!d) {
    d.reset(new MirrorData{makeTriangle(banded), nullptr, nullptr});
    const LowerTriangle &t = d->triangle;
    d->A.reset(mxCreateSparse_730(kOrder, kOrder, t.ir.size(), mxREAL));
    std::copy(t.jc.begin(), t.jc.end(), mxGetJc_730(d->A.get()));
    std::copy(t.ir.begin(), t.ir.end(), mxGetIr_730(d->A.get()));
    std::copy(t.values.begin(), t.values.end(), mxGetPr(d->A.get()));
    d->x.reset(mxCreateDoubleMatrix_730(kOrder, 1, mxREAL));
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (size_t i = 0; i < kOrder; ++i) mxGetPr(d->x.get())[i] = value(rng);
  }
  return *d;
}

void BM_mirrorprod(benchmark::State &state, bool banded) {
  MirrorData &d = mirrorData(banded);
  const mexhost::Plugin &p = plugin("mirrorprod");
  for (auto _ : state) callPlugin(state, p, 1, {d.x.get(), d.A.get()});
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * d.triangle.ir.size()));
}
BENCHMARK_CAPTURE(BM_mirrorprod, banded, true)
    ->Name("mirrorprod/banded")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_mirrorprod, scattered, false)
    ->Name("mirrorprod/scattered")
    ->Unit(benchmark::kMillisecond);

#if defined(TOOLBOX_HAVE_EIGEN)
using EigenLower = Eigen::SparseMatrix<double, Eigen::ColMajor, int64_t>;

void BM_eigen_selfadjoint(benchmark::State &state, bool banded) {
  MirrorData &d = mirrorData(banded);
  const LowerTriangle &t = d.triangle;
  Eigen::Map<const EigenLower> view(
      static_cast<int64_t>(kOrder), static_cast<int64_t>(kOrder), static_cast<int64_t>(t.ir.size()),
      reinterpret_cast<const int64_t *>(t.jc.data()),
      reinterpret_cast<const int64_t *>(t.ir.data()), t.values.data());
  EigenLower A = view;
  Eigen::Map<const Eigen::VectorXd> x(mxGetPr(d.x.get()), static_cast<int64_t>(kOrder));
  for (auto _ : state) {
    Eigen::VectorXd y = A.selfadjointView<Eigen::Lower>() * x;
    benchmark::DoNotOptimize(y.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * t.ir.size()));
}
BENCHMARK_CAPTURE(BM_eigen_selfadjoint, banded, true)
    ->Name("eigen_selfadjoint/banded")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_eigen_selfadjoint, scattered, false)
    ->Name("eigen_selfadjoint/scattered")
    ->Unit(benchmark::kMillisecond);
#endif

// --- lutpaint ---------------------------------------------------------------

ArrayPtr makeImage(mxClassID cls, size_t mapRows) {
  ArrayPtr image(mxCreateNumericMatrix_730(kImageSide, kImageSide, cls, mxREAL));
  std::mt19937_64 rng(11);
  size_t count = kImageSide * kImageSide;
  void *data = mxGetData(image.get());
  for (size_t k = 0; k < count; ++k) {
    uint64_t v = rng() % mapRows;
    if (cls == mxUINT8_CLASS) static_cast<uint8_t *>(data)[k] = static_cast<uint8_t>(v);
    if (cls == mxUINT16_CLASS) static_cast<uint16_t *>(data)[k] = static_cast<uint16_t>(v);
    if (cls == mxDOUBLE_CLASS)
      static_cast<double *>(data)[k] = 0.6 + static_cast<double>(v) + 0.5 * (rng() % 2);
  }
  return image;
}

ArrayPtr makeMap(size_t rows) {
  ArrayPtr map(mxCreateDoubleMatrix_730(rows, 3, mxREAL));
  std::mt19937_64 rng(13);
  std::uniform_real_distribution<double> value(0.0, 1.0);
  for (size_t k = 0; k < rows * 3; ++k) mxGetPr(map.get())[k] = value(rng);
  return map;
}

void BM_lutpaint(benchmark::State &state, mxClassID cls, size_t mapRows) {
  ArrayPtr image = makeImage(cls, mapRows), map = makeMap(mapRows);
  const mexhost::Plugin &p = plugin("lutpaint");
  for (auto _ : state) callPlugin(state, p, 1, {image.get(), map.get()});
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK_CAPTURE(BM_lutpaint, uint8, mxUINT8_CLASS, 256)
    ->Name("lutpaint/uint8_4096x4096")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_lutpaint, uint16, mxUINT16_CLASS, 4096)
    ->Name("lutpaint/uint16_4096x4096")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_lutpaint, double, mxDOUBLE_CLASS, 4096)
    ->Name("lutpaint/double_4096x4096")
    ->Unit(benchmark::kMillisecond);

// --- nullfill / unitfill ------------------------------------------------------

void BM_forward(benchmark::State &state, const char *name) {
  ArrayPtr m(mxCreateDoubleScalar(100)), n(mxCreateDoubleScalar(100));
  const mexhost::Plugin &p = plugin(name);
  for (auto _ : state) callPlugin(state, p, 1, {m.get(), n.get()});
}
BENCHMARK_CAPTURE(BM_forward, nullfill, "nullfill")
    ->Name("nullfill/100x100")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_forward, unitfill, "unitfill")
    ->Name("unitfill/100x100")
    ->Unit(benchmark::kMicrosecond);

void BM_constructor(benchmark::State &state, const char *name) {
  ArrayPtr m(mxCreateDoubleScalar(100)), n(mxCreateDoubleScalar(100));
  const mxArray *args[] = {m.get(), n.get()};
  for (auto _ : state) {
    mxArray *out = nullptr;
    mexhost::callFunction(name, 1, &out, 2, args);
    mxDestroyArray(out);
  }
}
BENCHMARK_CAPTURE(BM_constructor, zeros, "zeros")
    ->Name("host_zeros/100x100")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_constructor, ones, "ones")
    ->Name("host_ones/100x100")
    ->Unit(benchmark::kMicrosecond);

// --- pairsolve ----------------------------------------------------------------

// The plug-in at 1000-by-1000 on the matrices of pairsolve_bench (checks,
// outputs and scratch accounting included).
constexpr int kPairsolveSide = 1000;
constexpr int kPairsolveRepetitions = 9;

void BM_pairsolve(benchmark::State &state, long kind) {
  const mexhost::Plugin &p = plugin("pairsolve");
  std::vector<double> C = pairsolvebench::benchmarkMatrix(kPairsolveSide, kPairsolveSide, kind);
  ArrayPtr input(mxCreateDoubleMatrix_730(kPairsolveSide, kPairsolveSide, mxREAL));
  std::copy(C.begin(), C.end(), mxGetPr(input.get()));
  for (auto _ : state) callPlugin(state, p, 2, {input.get()});
}

const bool kPairsolveRegistered = [] {
  for (long kind : pairsolvebench::kAllKinds) {
    std::string name = "pairsolve/plugin/" + std::to_string(kPairsolveSide) + "x" +
                       std::to_string(kPairsolveSide) + "/" + pairsolvebench::kindName(kind);
    benchmark::RegisterBenchmark(name.c_str(), BM_pairsolve, kind)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(kPairsolveRepetitions)
        ->ReportAggregatesOnly(true);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();

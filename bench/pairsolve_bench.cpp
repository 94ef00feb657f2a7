// pairsolve benchmarks: the automatic engine choice (what the plug-in runs),
// each engine on its own, and the plain engine (reference/), on the
// matrices that bench/pairsolve_vs_scipy.py gives scipy's
// linear_sum_assignment. The solver runs without a host, its scratch from
// the C library; plugins_bench times the plug-in through the bundled host
// on the same matrices (pairsolve/plugin/...).
//
// Benchmark names: pairsolve/<engine>/<M>x<N>/<kind>, kind one of int1000,
// int1000000, int10 (random integers in [0, k]), uniform (doubles in
// [0, 1)), scaled (uniform times 100), span (10^U(-3, 3)), euclid2 and
// euclid10 (distances between random points of the unit square or 10-D
// cube) and euclid2gated, euclid10gated (the same with Inf beyond a gate).
// Each reports the solved cost as a counter, so that the script can check
// that both sides solved the same matrix, and the engine whose result the
// automatic choice returned (counter engine: 1 dense, 2 exact, 3 grid,
// 4 hybrid, 5 unique).
// `pairsolve_bench --dump KIND M N FILE` writes a matrix of the real-valued
// kinds to FILE (column-major doubles), so that scipy solves the very same
// bits. Every benchmark times single
// solves, repeated, and reports the mean, median and spread of the
// repetitions: the machines that run it are shared, and the median is
// what the script compares.
//
// The matrices (pairsolve_matrices.h): element i in column-major order (row i mod M, column
// i div M) is drawn from x_i = splitmix64 output i of seed 1 (x_1 first):
//   z = (seed + i * 0x9E3779B97F4A7C15) mod 2^64,
//   z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9, z = (z ^ (z >> 27)) * 0x94D049BB133111EB,
//   x_i = z ^ (z >> 31);
// an integer in [0, k] is (x_i >> 11) mod (k + 1), a uniform double
// u_i = (x_i >> 11) * 2^-53. scaled is u_i * 100, span 10^(6 u_i - 3). The
// distances take the points first (M rows of d coordinates, then N columns
// of d coordinates, each a u_i in that order) and sum the squared
// coordinate differences in coordinate order before the square root.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "pairsolve/solve.h"
#include "pairsolve_matrices.h"
#include "reference/pairsolve_plain.h"

namespace {

using namespace pairsolvebench;

// Solves timed per case: more of the quick ones.
constexpr int kRepetitions = 9;
constexpr int kLargeRepetitions = 5;  // matrices of more than a million elements
constexpr int kPlainRepetitions = 3;  // the plain engine (seconds per solve)
constexpr int kSmallRepetitions = 3;  // matrices of at most 200-by-200, many solves each

// The engine code of the counter engine.
double engineCode(Engine engine) {
  switch (engine) {
    case Engine::dense: return 1;
    case Engine::exact: return 2;
    case Engine::grid: return 3;
    case Engine::hybrid: return 4;
    case Engine::unique: return 5;
    default: return 0;
  }
}

void solveWith(benchmark::State &state, Engine engine, int M, int N, long k) {
  std::vector<double> C = benchmarkMatrix(M, N, k);
  std::vector<double> assignment(M);
  double cost = 0.0;
  Failure failure;
  Engine solvedBy = engine;
  for (auto _ : state) {
    SolveOutcome outcome = solveWithFallback(systemAllocator(), assignment.data(), &cost, C.data(),
                                             M, N, engine, &failure, Capacities(), &solvedBy);
    if (outcome != SolveOutcome::complete) state.SkipWithError("the engine did not complete");
    benchmark::DoNotOptimize(assignment.data());
  }
  state.counters["cost"] = cost;
  state.counters["engine"] = engineCode(solvedBy);
}

void solvePlain(benchmark::State &state, int M, int N, long k) {
  std::vector<double> C = benchmarkMatrix(M, N, k);
  std::vector<double> assignment(M);
  double cost = 0.0;
  for (auto _ : state) {
    plain::pairsolve(assignment.data(), &cost, C.data(), M, N);
    benchmark::DoNotOptimize(assignment.data());
  }
  state.counters["cost"] = cost;
}

void registerAll() {
  struct Shape {
    int M, N;
  };
  const Shape shapes[] = {{1000, 1000}, {2000, 2000}, {500, 1000}, {1000, 500}};
  const struct {
    const char *name;
    Engine engine;
  } engines[] = {{"auto", Engine::automatic}, {"exact", Engine::exact}, {"dense", Engine::dense}};
  for (const Shape &shape : shapes) {
    for (long k : kAllKinds) {
      std::string size = std::to_string(shape.M) + "x" + std::to_string(shape.N);
      for (const auto &engine : engines) {
        // The exact engine takes only the integer kinds; the dense engine is
        // timed on the integer kinds and uniform costs.
        if (engine.engine == Engine::exact && k < 0) continue;
        if (engine.engine == Engine::dense && k < kUniform) continue;
        std::string name = "pairsolve/" + std::string(engine.name) + "/" + size + "/" + kindName(k);
        benchmark::RegisterBenchmark(name.c_str(), solveWith, engine.engine, shape.M, shape.N, k)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1)
            ->Repetitions(shape.M * shape.N > 1000000 ? kLargeRepetitions : kRepetitions)
            ->ReportAggregatesOnly(true);
      }
      if (shape.M == 1000 && shape.N == 1000) {
        if (k == 1000 || k == kUniform) {
          benchmark::RegisterBenchmark(("pairsolve/plain/" + size + "/" + kindName(k)).c_str(),
                                       solvePlain, shape.M, shape.N, k)
              ->Unit(benchmark::kMillisecond)
              ->Iterations(1)
              ->Repetitions(kPlainRepetitions)
              ->ReportAggregatesOnly(true);
        }
      }
    }
  }
}

// The sizes users call in loops: every engine that takes the kind, many
// solves per repetition (microseconds each).
void registerSmall() {
  const int sizes[][2] = {{5, 5}, {20, 20}, {50, 50}, {100, 100}, {100, 200}, {200, 100}};
  const struct {
    const char *name;
    Engine engine;
  } engines[] = {{"auto", Engine::automatic}, {"exact", Engine::exact},
                 {"grid", Engine::grid},      {"unique", Engine::unique},
                 {"hybrid", Engine::hybrid},  {"dense", Engine::dense}};
  for (const auto &shape : sizes) {
    std::string size = std::to_string(shape[0]) + "x" + std::to_string(shape[1]);
    for (long k : kAllKinds) {
      for (const auto &engine : engines) {
        if (engine.engine == Engine::exact && k < 0) continue;
        std::string name = "pairsolve/" + std::string(engine.name) + "/" + size + "/" + kindName(k);
        benchmark::RegisterBenchmark(name.c_str(), solveWith, engine.engine, shape[0], shape[1], k)
            ->Unit(benchmark::kMicrosecond)
            ->Repetitions(kSmallRepetitions)
            ->ReportAggregatesOnly(true);
      }
    }
  }
}

}  // namespace

// --dump KIND M N FILE: writes that matrix; returns whether it did.
bool dump(int argc, char **argv) {
  if (argc != 6 || std::string(argv[1]) != "--dump") return false;
  for (long k : kRealKinds) {
    if (kindName(k) != argv[2]) continue;
    int M = std::atoi(argv[3]), N = std::atoi(argv[4]);
    std::vector<double> C = benchmarkMatrix(M, N, k);
    std::FILE *file = std::fopen(argv[5], "wb");
    bool written =
        file != nullptr && std::fwrite(C.data(), sizeof(double), C.size(), file) == C.size();
    if (file != nullptr) std::fclose(file);
    if (!written) std::fprintf(stderr, "cannot write %s\n", argv[5]);
    return written;
  }
  std::fprintf(stderr, "unknown kind %s\n", argv[2]);
  return false;
}

int main(int argc, char **argv) {
  if (argc > 1 && std::string(argv[1]) == "--dump") return dump(argc, argv) ? 0 : 1;
  registerAll();
  registerSmall();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

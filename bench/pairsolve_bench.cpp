// pairsolve benchmarks: the automatic engine choice (what the plug-in runs),
// each engine on its own, the plug-in called through the bundled host, and
// the plain engine of the tests, on the matrices that
// bench/pairsolve_vs_scipy.py gives scipy's linear_sum_assignment.
//
// Benchmark names: pairsolve/<engine>/<M>x<N>/<kind>, kind one of int1000,
// int1000000, int10 (random integers in [0, k]) and uniform (doubles in
// [0, 1)). Each reports the solved cost as a counter, so that the script can
// check that both sides solved the same matrix. Every benchmark times single
// solves, repeated, and reports the mean, median and spread of the
// repetitions: the machines that run it are shared, and the median is
// what the script compares.
//
// The matrices: element i in column-major order (row i mod M, column
// i div M) is drawn from x_i = splitmix64 output i of seed 1 (x_1 first):
//   z = (seed + i * 0x9E3779B97F4A7C15) mod 2^64,
//   z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9, z = (z ^ (z >> 27)) * 0x94D049BB133111EB,
//   x_i = z ^ (z >> 31);
// an integer in [0, k] is (x_i >> 11) mod (k + 1), a uniform double
// (x_i >> 11) * 2^-53.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "casetools.h"
#include "mexhost.h"
#include "pairsolve/solve.h"
#include "pairsolve_plain.h"

namespace {

constexpr std::uint64_t kSeed = 1;
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;
constexpr int kUniform = -1;  // kind: uniform doubles instead of integers in [0, k]

// Solves timed per case: more of the quick ones.
constexpr int kRepetitions = 9;
constexpr int kLargeRepetitions = 5;  // matrices of more than a million elements
constexpr int kPlainRepetitions = 3;  // the plain engine (seconds per solve)

std::vector<double> benchmarkMatrix(int M, int N, long k) {
  std::vector<double> C(static_cast<size_t>(M) * N);
  std::uint64_t state = kSeed;
  for (double &x : C) {
    state += kGolden;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    x = k == kUniform ? static_cast<double>(z >> 11) * 0x1p-53
                      : static_cast<double>((z >> 11) % static_cast<std::uint64_t>(k + 1));
  }
  return C;
}

void solveWith(benchmark::State &state, Engine engine, int M, int N, long k) {
  std::vector<double> C = benchmarkMatrix(M, N, k);
  std::vector<double> assignment(M);
  double cost = 0.0;
  Failure failure;
  for (auto _ : state) {
    SolveOutcome outcome =
        solveWithFallback(assignment.data(), &cost, C.data(), M, N, engine, &failure);
    if (outcome != SolveOutcome::complete) state.SkipWithError("the engine did not complete");
    benchmark::DoNotOptimize(assignment.data());
  }
  state.counters["cost"] = cost;
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

// The plug-in through the bundled host: checks, outputs and scratch
// accounting included.
void solvePlugin(benchmark::State &state, int M, int N, long k) {
  const mexhost::Plugin *plugin = &mexhost::openPlugin(TOOLBOX_PLUGIN_DIR, "pairsolve");
  std::vector<double> C = benchmarkMatrix(M, N, k);
  mexhost::ArrayPtr input(mxCreateDoubleMatrix_730(M, N, mxREAL));
  std::copy(C.begin(), C.end(), mxGetPr(input.get()));
  double cost = 0.0;
  for (auto _ : state) {
    mexhost::CallResult result = plugin->call(2, {input.get()});
    if (result.status != mexhost::CallResult::Status::ok) {
      state.SkipWithError("the plug-in call failed");
      break;
    }
    cost = mxGetScalar(result.outputs[1].get());
  }
  state.counters["cost"] = cost;
}

std::string kindName(long k) {
  return k == kUniform ? "uniform" : "int" + std::to_string(k);
}

void registerAll() {
  struct Shape {
    int M, N;
  };
  const Shape shapes[] = {{1000, 1000}, {2000, 2000}, {500, 1000}, {1000, 500}};
  const long kinds[] = {1000, 1000000, 10, kUniform};
  const struct {
    const char *name;
    Engine engine;
  } engines[] = {{"auto", Engine::automatic}, {"exact", Engine::exact}, {"dense", Engine::dense}};
  for (const Shape &shape : shapes) {
    for (long k : kinds) {
      std::string size = std::to_string(shape.M) + "x" + std::to_string(shape.N);
      for (const auto &engine : engines) {
        // The exact engine takes only the integer kinds.
        if (engine.engine == Engine::exact && k == kUniform) continue;
        std::string name = "pairsolve/" + std::string(engine.name) + "/" + size + "/" + kindName(k);
        benchmark::RegisterBenchmark(name.c_str(), solveWith, engine.engine, shape.M, shape.N, k)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1)
            ->Repetitions(shape.M * shape.N > 1000000 ? kLargeRepetitions : kRepetitions)
            ->ReportAggregatesOnly(true);
      }
      if (shape.M == 1000 && shape.N == 1000) {
        benchmark::RegisterBenchmark(("pairsolve/plugin/" + size + "/" + kindName(k)).c_str(),
                                     solvePlugin, shape.M, shape.N, k)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1)
            ->Repetitions(kRepetitions)
            ->ReportAggregatesOnly(true);
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

}  // namespace

int main(int argc, char **argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// pairsolve_matrices.h: the cost matrices of the pairsolve benchmarks
// (pairsolve_bench.cpp, the engines; plugins_bench.cpp, the plug-in through
// the bundled host), and the names of their kinds. See pairsolve_bench.cpp
// for how each is drawn.
#ifndef TOOLBOX_BENCH_PAIRSOLVE_MATRICES_H
#define TOOLBOX_BENCH_PAIRSOLVE_MATRICES_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pairsolvebench {

inline constexpr std::uint64_t kSeed = 1;
inline constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;
// Kinds that are not integers in [0, k].
inline constexpr int kUniform = -1;
inline constexpr int kScaled = -2;
inline constexpr int kSpan = -3;
inline constexpr int kEuclid2 = -4;
inline constexpr int kEuclid10 = -5;
inline constexpr int kEuclid2Gated = -6;
inline constexpr int kEuclid10Gated = -7;
inline constexpr double kScaledFactor = 100.0;
// Gates beyond which a distance is Inf: about a half (10-D) and two thirds
// (2-D) of the pairs stay.
inline constexpr double kGate2 = 0.6;
inline constexpr double kGate10 = 1.3;

// The splitmix64 outputs of seed 1, shifted right by 11, one per call.
struct Draws {
  std::uint64_t state = kSeed;
  std::uint64_t next() {
    state += kGolden;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return z >> 11;
  }
  double unit() { return static_cast<double>(next()) * 0x1p-53; }
};

inline std::vector<double> distances(int M, int N, int d, double gate) {
  Draws draws;
  std::vector<double> P(static_cast<size_t>(M) * d), Q(static_cast<size_t>(N) * d);
  for (double &x : P) x = draws.unit();
  for (double &x : Q) x = draws.unit();
  std::vector<double> C(static_cast<size_t>(M) * N);
  for (int c = 0; c < N; ++c) {
    for (int r = 0; r < M; ++r) {
      double s = 0.0;
      for (int j = 0; j < d; ++j) {
        double t = P[static_cast<size_t>(r) * d + j] - Q[static_cast<size_t>(c) * d + j];
        s = s + t * t;
      }
      double distance = std::sqrt(s);
      C[r + static_cast<size_t>(M) * c] = distance > gate ? INFINITY : distance;
    }
  }
  return C;
}

inline std::vector<double> benchmarkMatrix(int M, int N, long k) {
  switch (k) {
    case kEuclid2: return distances(M, N, 2, INFINITY);
    case kEuclid10: return distances(M, N, 10, INFINITY);
    case kEuclid2Gated: return distances(M, N, 2, kGate2);
    case kEuclid10Gated: return distances(M, N, 10, kGate10);
    default: break;
  }
  std::vector<double> C(static_cast<size_t>(M) * N);
  Draws draws;
  for (double &x : C) {
    if (k >= 0) {
      x = static_cast<double>(draws.next() % static_cast<std::uint64_t>(k + 1));
    } else {
      double u = draws.unit();
      x = k == kUniform ? u : k == kScaled ? u * kScaledFactor : std::pow(10.0, 6.0 * u - 3.0);
    }
  }
  return C;
}

// Every kind the benchmarks time: the integer ones by their k.
inline const long kAllKinds[] = {1000,  1000000,  10,        kUniform,      kScaled,
                                 kSpan, kEuclid2, kEuclid10, kEuclid2Gated, kEuclid10Gated};

inline const long kRealKinds[] = {kUniform,  kScaled,       kSpan,         kEuclid2,
                                  kEuclid10, kEuclid2Gated, kEuclid10Gated};

inline std::string kindName(long k) {
  static const char *const names[] = {"uniform",  "scaled",       "span",         "euclid2",
                                      "euclid10", "euclid2gated", "euclid10gated"};
  return k < 0 ? names[-1 - k] : "int" + std::to_string(k);
}

}  // namespace pairsolvebench

#endif

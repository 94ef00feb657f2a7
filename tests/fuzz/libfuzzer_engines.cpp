// libFuzzer target for pairsolve's engines, without any host: the fuzzer's
// bytes become a cost matrix (its shape, a family of costs, special values
// at chosen places), which every engine choice solves; each must reach the
// plain engine's outcome, assignment and cost bits (the exact engine may
// decline). A difference prints the matrix and aborts. Build with the
// "fuzz" preset (clang, sanitizers); run by hand for long campaigns:
//
//   build/fuzz/tests/libfuzzer_engines -max_total_time=1800 corpus/
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/pairsolve_runs.h"
#include "valuetext.h"

namespace {

// The largest side of a matrix: the plain engine's time grows fast.
constexpr int kLargestSide = 24;
constexpr int kFamilies = 10;
constexpr int kSpecials = 8;

// The fuzzer's bytes, read in order; zeros once they run out.
struct Bytes {
  const std::uint8_t *data;
  std::size_t size;
  std::size_t at = 0;
  unsigned byte() { return at < size ? data[at++] : 0u; }
  // A number in [0, 1) from two bytes.
  double unit() { return static_cast<double>(byte() | byte() << 8) / 65536.0; }
  unsigned below(unsigned n) { return byte() % n; }
};

// One cost of the family, from the bytes; a and b are the matrix's row and
// column parameters at (r, c).
double familyCost(Bytes &bytes, int family, double a, double b, double level) {
  switch (family) {
    case 0: return bytes.below(4);        // heavy integer ties
    case 1: return bytes.unit();          // on a grid (rand)
    case 2: return bytes.unit() * 100.0;  // off the grids
    case 3: return a + b;                 // sums: every assignment ties
    case 4: return a * b;                 // products across decades
    case 5: return std::fabs(a - b);      // 1-D distances
    case 6: {                             // one level, a few ulps off
      double x = level;
      for (unsigned k = bytes.below(4); k > 0; --k) x = std::nextafter(x, INFINITY);
      return x;
    }
    case 7: return std::ldexp(1.0 + bytes.below(3), bytes.below(2) ? -60 : 0);  // tiny beside 1
    case 8: return std::ldexp(static_cast<double>(bytes.byte() | bytes.byte() << 8), 37);
    default: {  // any finite bits the fuzzer writes, kept non-negative
      std::uint64_t bits = 0;
      for (int k = 0; k < 8; ++k) bits = bits << 8 | bytes.byte();
      double x;
      std::memcpy(&x, &bits, sizeof x);
      return std::isfinite(x) ? std::fabs(x) : 1.0;
    }
  }
}

// A special value in place of a cost: forbidden, NaN, zero, a subnormal,
// huge, or -0.
double specialCost(unsigned which) {
  static const double kSpecial[] = {INFINITY, NAN, 0.0, 0x1p-1074, 1e300, -0.0, INFINITY, NAN};
  return kSpecial[which % kSpecials];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Bytes bytes{data, size};
  int M = 1 + static_cast<int>(bytes.below(kLargestSide));
  int N = 1 + static_cast<int>(bytes.below(kLargestSide));
  int family = static_cast<int>(bytes.below(kFamilies));
  double scale = std::pow(10.0, static_cast<int>(bytes.below(7)) - 3);
  double level = std::pow(10.0, 6.0 * bytes.unit() - 3.0);
  std::vector<double> a(M), b(N);
  for (double &x : a) x = family == 4 ? std::pow(10.0, 80.0 * bytes.unit() - 40.0) : bytes.unit();
  for (double &x : b) {
    x = family == 4 ? std::pow(10.0, 80.0 * bytes.unit() - 40.0) : bytes.unit() * scale;
  }
  std::vector<double> C(static_cast<std::size_t>(M) * N);
  for (int c = 0; c < N; ++c) {
    for (int r = 0; r < M; ++r)
      C[r + static_cast<std::size_t>(M) * c] = familyCost(bytes, family, a[r], b[c], level);
  }
  for (unsigned k = bytes.below(kSpecials); k > 0; --k) {
    std::size_t place = (bytes.byte() | bytes.byte() << 8) % C.size();
    C[place] = specialCost(bytes.byte());
  }
  Result expected = runPlain(C, M, N);
  for (const Choice &choice : engineChoices()) {
    Result actual = runEngine(C, M, N, choice.engine, choice.capacities);
    if (choice.engine == Engine::exact && actual.outcome == SolveOutcome::inexact) continue;
    bool same = actual.outcome == expected.outcome && actual.assignment == expected.assignment &&
                sameBits(actual.cost, expected.cost);
    if (!same) {
      std::fprintf(stderr, "%s: outcome %d (plain %d), cost %.17g (plain %.17g) on\n%s\n",
                   choice.name, static_cast<int>(actual.outcome),
                   static_cast<int>(expected.outcome), actual.cost, expected.cost,
                   mexhost::matrixLiteral(C, M, N).c_str());
      std::abort();
    }
  }
  return 0;
}

// pairsolve against brute force: on small matrices the reported cost equals
// the best over all assignments, and the assignment itself is valid. And the
// check of the costs that every solve starts with (checkCosts, in
// pairsolve/summary.h), from which the engines decide whether they take the
// costs, against plain loops.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "casetools.h"
#include "pairsolve_runs.h"

namespace {

using mexhost::ArrayPtr;

// A bound on the scratch per row and per column of an integer solve.
constexpr size_t kScratchBytesPerLine = 512;
// The hybrid engine adds its log (and a larger cache) to that.
constexpr size_t kHybridScratchBytesPerLine = 2048;

const mexhost::Plugin &plugin() {
  return mexhost::openPlugin(TOOLBOX_PLUGIN_DIR, "pairsolve");
}

struct Solution {
  std::vector<int> assignment;  // 1-based column per row, 0 for none
  double cost = 0;
};

Solution solve(const std::vector<double> &C, int M, int N) {
  ArrayPtr input(mxCreateDoubleMatrix_730(M, N, mxREAL));
  std::copy(C.begin(), C.end(), mxGetPr(input.get()));
  mexhost::CallResult r = plugin().call(2, {input.get()});
  EXPECT_EQ(r.status, mexhost::CallResult::Status::ok) << r.identifier << " " << r.message;
  Solution s;
  if (r.status != mexhost::CallResult::Status::ok) return s;
  for (int i = 0; i < M; ++i)
    s.assignment.push_back(static_cast<int>(mxGetPr(r.outputs[0].get())[i]));
  s.cost = mxGetScalar(r.outputs[1].get());
  return s;
}

// Best (forbidden pairs used, finite sum) over all assignments of K pairs,
// compared lexicographically: a substitute cost larger than any finite sum
// makes the solver prefer fewer forbidden pairs first. With nanUnusable, no
// assignment may use a NaN cost (first = INT_MAX when none exists).
std::pair<int, double> bruteForce(const std::vector<double> &C, int M, int N,
                                  bool nanUnusable = false) {
  bool wide = M <= N;
  int K = wide ? M : N, pool = wide ? N : M;
  std::pair<int, double> best{std::numeric_limits<int>::max(), 0.0};
  std::vector<bool> used(pool, false);
  std::function<void(int, int, double)> walk = [&](int k, int forbidden, double sum) {
    if (k == K) {
      best = std::min(best, std::make_pair(forbidden, sum));
      return;
    }
    for (int p = 0; p < pool; ++p) {
      if (used[p]) continue;
      used[p] = true;
      double v = wide ? C[k + M * p] : C[p + M * k];
      if (nanUnusable && std::isnan(v)) {
        used[p] = false;
        continue;
      }
      if (std::isfinite(v)) {
        walk(k + 1, forbidden, sum + v);
      } else {
        walk(k + 1, forbidden + 1, sum);
      }
      used[p] = false;
    }
  };
  walk(0, 0, 0.0);
  return best;
}

// The optimum the solver must reach. NaN costs stay in place first: where
// the steps complete with them (no NaN where a row's reduction starts in the
// wide case or a column's in the tall case, and some assignment avoids every
// NaN), NaN pairs are never used. Otherwise NaN is forbidden like Inf.
std::pair<int, double> expectedOptimum(const std::vector<double> &C, int M, int N) {
  bool wide = M <= N;
  bool poisoned = false;
  for (int i = 0; i < (wide ? M : N) && (wide ? N : M) > 0; ++i) {
    poisoned = poisoned || std::isnan(wide ? C[i] : C[static_cast<size_t>(M) * i]);
  }
  std::pair<int, double> avoiding = bruteForce(C, M, N, true);
  if (!poisoned && avoiding.first != std::numeric_limits<int>::max()) return avoiding;
  return bruteForce(C, M, N);
}

void checkAgainstBruteForce(const std::vector<double> &C, int M, int N, double tolerance) {
  Solution s = solve(C, M, N);
  ASSERT_EQ(static_cast<int>(s.assignment.size()), M);
  std::pair<int, double> best = expectedOptimum(C, M, N);
  std::vector<bool> columnUsed(N, false);
  int pairs = 0;
  for (int r = 0; r < M; ++r) {
    int c = s.assignment[r];
    ASSERT_GE(c, 0);
    ASSERT_LE(c, N);
    if (c == 0) continue;
    ASSERT_FALSE(columnUsed[c - 1]) << "column " << c << " used twice";
    columnUsed[c - 1] = true;
    ASSERT_TRUE(std::isfinite(C[r + M * (c - 1)])) << "a forbidden pair was reported";
    ++pairs;
  }
  EXPECT_EQ(pairs, std::min(M, N) - best.first) << "pairs made";
  EXPECT_NEAR(s.cost, best.second, tolerance * (1.0 + std::fabs(best.second))) << M << "x" << N;
}

// Random M-by-N matrices: integers in [0, range] (ties), some forbidden.
std::vector<double> randomMatrix(std::mt19937 &rng, int M, int N, int range, double forbiddenShare,
                                 double nanShare) {
  std::uniform_int_distribution<int> value(0, range);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> C(static_cast<size_t>(M) * N);
  for (double &v : C) {
    double u = unit(rng);
    if (u < forbiddenShare) {
      v = unit(rng) < 0.5 ? INFINITY : -INFINITY;
    } else if (u < forbiddenShare + nanShare) {
      v = NAN;
    } else {
      v = value(rng);
    }
  }
  return C;
}

TEST(PairsolveRandom, IntegerCostsWithTiesMatchBruteForce) {
  std::mt19937 rng(20261208);
  for (int trial = 0; trial < 3000; ++trial) {
    int M = 1 + static_cast<int>(rng() % 7), N = 1 + static_cast<int>(rng() % 7);
    int range = trial % 3 == 0 ? 2 : 20;
    checkAgainstBruteForce(randomMatrix(rng, M, N, range, 0.0, 0.0), M, N, 0.0);
  }
}

TEST(PairsolveRandom, ForbiddenPairsMatchBruteForce) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 3000; ++trial) {
    int M = 1 + static_cast<int>(rng() % 7), N = 1 + static_cast<int>(rng() % 7);
    checkAgainstBruteForce(randomMatrix(rng, M, N, 9, 0.3, 0.0), M, N, 0.0);
  }
}

TEST(PairsolveRandom, NaNCostsAreForbiddenAndTheSolveAlwaysEnds) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 3000; ++trial) {
    int M = 1 + static_cast<int>(rng() % 7), N = 1 + static_cast<int>(rng() % 7);
    std::vector<double> C = randomMatrix(rng, M, N, 9, 0.1, 0.25);
    checkAgainstBruteForce(C, M, N, 0.0);
  }
}

TEST(PairsolveRandom, RealCostsMatchBruteForceClosely) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 1000; ++trial) {
    int M = 1 + static_cast<int>(rng() % 7), N = 1 + static_cast<int>(rng() % 7);
    std::vector<double> C(static_cast<size_t>(M) * N);
    for (double &v : C) v = unit(rng) * std::pow(10.0, static_cast<int>(rng() % 7) - 3);
    checkAgainstBruteForce(C, M, N, 1e-12);
  }
}

TEST(PairsolveLarge, AThousandByThousandSolveFinishes) {
  std::mt19937 rng(1000);
  std::uniform_int_distribution<int> value(0, 1000);
  int n = 1000;
  std::vector<double> C(static_cast<size_t>(n) * n);
  for (double &v : C) v = value(rng);
  Solution s = solve(C, n, n);
  ASSERT_EQ(static_cast<int>(s.assignment.size()), n);
  std::vector<bool> used(n, false);
  double sum = 0;
  for (int r = 0; r < n; ++r) {
    int c = s.assignment[r];
    ASSERT_GE(c, 1);
    ASSERT_FALSE(used[c - 1]);
    used[c - 1] = true;
    sum += C[r + static_cast<size_t>(n) * (c - 1)];
  }
  EXPECT_EQ(s.cost, sum);
}

// Integer costs (the exact engine), uniform costs in [0, 1), which lie on
// the grid of 2^-53 (the grid engine), and uniform costs times 100, off
// every grid (the hybrid engine, whose log adds an entry per step 5 and
// per covered row), are solved without scratch of matrix size: the peak of
// mxMalloc'd bytes grows with M + N, in every shape. Costs beyond 2^1000
// off the grid the largest allows, which only the dense engine takes, keep
// a working matrix, which the same measure sees.
TEST(PairsolveLarge, IntegerCostsNeedScratchInRowsPlusColumns) {
  std::mt19937 rng(2000);
  std::uniform_int_distribution<int> value(0, 1000);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::mt19937_64 wide(2001);
  struct Shape {
    int M, N;
  } shapes[] = {{1500, 1500}, {600, 1800}, {1800, 600}};
  for (const char *kind : {"integer", "uniform", "real"}) {
    bool integers = kind[0] == 'i';
    double scale = kind[0] == 'r' ? 100.0 : 1.0;
    for (const Shape &shape : shapes) {
      std::vector<double> C(static_cast<size_t>(shape.M) * shape.N);
      // Uniform on the 2^-53 grid, as rand and numpy's random make them.
      for (double &v : C) {
        v = integers ? value(rng) : static_cast<double>(wide() >> 11) * 0x1p-53 * scale;
      }
      ArrayPtr input(mxCreateDoubleMatrix_730(shape.M, shape.N, mxREAL));
      std::copy(C.begin(), C.end(), mxGetPr(input.get()));
      mexhost::CallResult r = plugin().call(2, {input.get()});
      ASSERT_EQ(r.status, mexhost::CallResult::Status::ok) << r.identifier << " " << r.message;
      std::printf("%d x %d %s costs: peak scratch %zu bytes, %.1f per row plus column\n", shape.M,
                  shape.N, kind, r.peakScratchBytes,
                  static_cast<double>(r.peakScratchBytes) / (shape.M + shape.N));
      size_t perLine = scale == 1.0 ? kScratchBytesPerLine : kHybridScratchBytesPerLine;
      EXPECT_LE(r.peakScratchBytes, perLine * (shape.M + shape.N))
          << kind << " " << shape.M << " x " << shape.N;
    }
  }
  int n = 300;
  ArrayPtr real(mxCreateDoubleMatrix_730(n, n, mxREAL));
  for (int k = 0; k < n * n; ++k) mxGetPr(real.get())[k] = unit(rng) * 1e305;
  mexhost::CallResult r = plugin().call(2, {real.get()});
  ASSERT_EQ(r.status, mexhost::CallResult::Status::ok);
  EXPECT_GE(r.peakScratchBytes, sizeof(double) * n * n);
}

// A call, whatever its size and costs, takes its scratch in one or two
// host allocations (beside its two outputs), and a small one in none: its
// scratch fits in the solve's buffer on the stack. No call holds a floor of
// tens of kilobytes of host scratch: the first chunk grows with M + N.
TEST(PairsolveScratch, OneOrTwoHostAllocationsPerCall) {
  std::mt19937_64 rng(2002);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  constexpr long kOutputs = 2;
  for (int n : {1, 2, 5, 10, 30, 100, 400}) {
    for (int shape = 0; shape < 3; ++shape) {
      int M = n, N = shape == 0 ? n : (shape == 1 ? 2 * n : (n + 1) / 2);
      for (const char *kind : {"integers", "rand*100", "distances", "gated distances", "huge"}) {
        std::vector<double> px(M), py(M), qx(N), qy(N);
        for (auto *v : {&px, &py, &qx, &qy}) {
          for (double &x : *v) x = unit(rng);
        }
        ArrayPtr input(mxCreateDoubleMatrix_730(M, N, mxREAL));
        double *C = mxGetPr(input.get());
        for (int c = 0; c < N; ++c) {
          for (int r = 0; r < M; ++r) {
            double d = std::hypot(px[r] - qx[c], py[r] - qy[c]);
            double &x = C[r + static_cast<size_t>(M) * c];
            switch (kind[0] + kind[1]) {
              case 'i' + 'n': x = std::floor(unit(rng) * 1001); break;
              case 'r' + 'a': x = unit(rng) * 100; break;
              case 'd' + 'i': x = d; break;
              case 'g' + 'a': x = d > 0.4 ? INFINITY : d; break;
              default: x = unit(rng) * 1e305; break;  // the dense engine's
            }
          }
        }
        mexhost::CallResult r = plugin().call(2, {input.get()});
        ASSERT_EQ(r.status, mexhost::CallResult::Status::ok) << r.identifier << " " << r.message;
        std::string what = std::to_string(M) + "-by-" + std::to_string(N) + " " + kind;
        EXPECT_LE(r.allocations - kOutputs, 2) << what;
        if (M + N <= 20) {
          EXPECT_EQ(r.allocations - kOutputs, 0) << what;
          EXPECT_EQ(r.peakScratchBytes, 0u) << what;
        }
      }
    }
  }
}

// A Scratch that starts on a caller's buffer carves its blocks there until
// the buffer is full, then takes chunks from its allocator, and releases
// those chunks (never the buffer) when a scope ends and when it ends.
TEST(PairsolveScratch, StartsOnTheCallersBuffer) {
  static long allocated, released;
  allocated = released = 0;
  ScratchAllocator counting = {[](std::size_t bytes) {
                                 ++allocated;
                                 return std::malloc(bytes);
                               },
                               [](void *block) {
                                 ++released;
                                 std::free(block);
                               },
                               [](std::size_t) -> void { throw std::bad_alloc(); }};
  alignas(16) unsigned char buffer[1024];
  {
    Scratch scratch(counting, 4096, buffer, sizeof buffer);
    double *first = scratch.take<double>(32);  // 256 bytes
    EXPECT_TRUE(reinterpret_cast<unsigned char *>(first) >= buffer &&
                reinterpret_cast<unsigned char *>(first + 32) <= buffer + sizeof buffer);
    EXPECT_EQ(allocated, 0);
    {
      ScratchScope part(scratch);
      int *more = scratch.takeZeroed<int>(1000);  // beyond the buffer
      EXPECT_EQ(allocated, 1);
      EXPECT_FALSE(reinterpret_cast<unsigned char *>(more) >= buffer &&
                   reinterpret_cast<unsigned char *>(more) < buffer + sizeof buffer);
      EXPECT_EQ(more[999], 0);
    }
    EXPECT_EQ(released, 1);
    double *again = scratch.take<double>(32);  // the buffer again, after first
    EXPECT_EQ(again, first + 32);
    EXPECT_EQ(allocated, 1);
  }
  EXPECT_EQ(released, 1);
}

// The check of the costs, in plain loops: what CostSummary holds. The
// finest grid is found by dividing: x / 2^b is an integer for b up to the
// exponent of x's lowest set bit, and odd there.
struct PlainSummary {
  double largestFinite = -1.0;
  bool anyNonFinite = false, anyNaN = false, integral = true;
  int finestBit = INT_MAX;
  std::vector<double> least, largest;
  std::vector<unsigned char> nonFinite;
};

int plainLowestBit(double x) {
  int bit = std::ilogb(x) - 52;  // x / 2^bit is an integer in [2^52, 2^53)
  while (std::fmod(std::ldexp(x, -bit), 2.0) == 0.0) ++bit;
  return bit;
}

PlainSummary plainSummary(const std::vector<double> &C, int M, int N) {
  bool wide = M <= N;
  PlainSummary s;
  s.least.assign(wide ? M : N, INFINITY);
  s.largest.assign(wide ? M : N, -INFINITY);
  s.nonFinite.assign(wide ? M : N, 0);
  for (int c = 0; c < N; ++c) {
    for (int r = 0; r < M; ++r) {
      double x = C[r + static_cast<size_t>(M) * c];
      int line = wide ? r : c;
      if (!std::isfinite(x)) {
        s.anyNonFinite = true;
        s.anyNaN = s.anyNaN || std::isnan(x);
        s.nonFinite[line] = 1;
        continue;
      }
      s.largestFinite = std::max(s.largestFinite, x);
      s.least[line] = std::min(s.least[line], x);
      s.largest[line] = std::max(s.largest[line], x);
      // Integers below 2^52 and even ones above pass; odd ones above may not.
      s.integral = s.integral && (x + 0x1p52) - 0x1p52 == x;
      if (x != 0.0) s.finestBit = std::min(s.finestBit, plainLowestBit(x));
    }
  }
  return s;
}

// The summary of C against plain loops; then, since the engines admit C
// from it, the automatic choice and the grid engine against the plain
// engine: the same outcome, assignment and cost bits.
void expectSummary(const std::vector<double> &C, int M, int N, const std::string &what) {
  Scratch scratch(systemAllocator());
  CostSummary summary;
  Failure failure;
  ASSERT_TRUE(checkCosts(C.data(), M, N, scratch, &summary, &failure)) << what;
  PlainSummary expected = plainSummary(C, M, N);
  EXPECT_EQ(summary.largestFinite, expected.largestFinite) << what;
  EXPECT_EQ(summary.anyNonFinite, expected.anyNonFinite) << what;
  EXPECT_EQ(summary.anyNaN, expected.anyNaN) << what;
  EXPECT_FALSE(summary.negative) << what;
  EXPECT_EQ(summary.integral, expected.integral) << what;
  // The grid: left for later on small matrices of non-integers; the plan's
  // question on it answered either way, then the grid itself.
  EXPECT_EQ(summary.gridPending,
            static_cast<std::int64_t>(M) * N <= kDeferredGridElements && !expected.integral)
      << what;
  const double steps = expected.finestBit == INT_MAX
                           ? 0.0
                           : expected.largestFinite / std::ldexp(1.0, expected.finestBit);
  for (double most : {0.5, 1.0, 3.0, 100.0, 0x1p20, 0x1p52, steps, std::nextafter(steps, 0.0)}) {
    CostSummary probe = summary;
    EXPECT_EQ(gridStepsAtMost(probe, C.data(), M, N, most), steps <= most)
        << what << ", at most " << most << " steps (" << steps << ")";
  }
  completeGrid(summary, C.data(), M, N);
  EXPECT_FALSE(summary.gridPending) << what;
  EXPECT_EQ(summary.finestBit, expected.finestBit) << what;
  for (size_t i = 0; i < expected.least.size(); ++i) {
    EXPECT_EQ(summary.lineLeast[i], expected.least[i]) << what << ", line " << i;
    EXPECT_EQ(summary.lineLargest[i], expected.largest[i]) << what << ", line " << i;
    EXPECT_EQ(summary.lineNonFinite[i], expected.nonFinite[i]) << what << ", line " << i;
  }
  std::vector<double> plainAssignment(M, -1.0);
  double plainCost = -1.0;
  bool complete = plain::pairsolve(plainAssignment.data(), &plainCost, C.data(), M, N);
  for (Engine engine : {Engine::automatic, Engine::grid}) {
    std::vector<double> assignment(M, -1.0);
    double cost = -1.0;
    SolveOutcome outcome = solveWithFallback(systemAllocator(), assignment.data(), &cost, C.data(),
                                             M, N, engine, &failure, Capacities());
    ASSERT_EQ(outcome == SolveOutcome::complete, complete) << what;
    if (!complete) continue;
    EXPECT_EQ(assignment, plainAssignment) << what;
    EXPECT_EQ(std::memcmp(&cost, &plainCost, sizeof cost), 0) << cost << " " << what;
  }
}

// Special costs at every place of small matrices (either cost of a pair
// read together, the last rows read one at a time, wide and tall) and at
// two random places of larger ones, among costs of several kinds: small
// integers (the check gathers their grid from their mantissa bits, and
// must read a column again when a special cost ends that), multiples of 8
// and of 2^60, costs on the grid of 2^-53 and zeros.
TEST(PairsolveCostSummary, MatchesPlainLoops) {
  const double specials[] = {0.5,
                             3 * 0x1p-40,
                             0x1p-1074,
                             3 * 0x1p-1074,
                             0x1p-1022,
                             0x1p52 + 2,
                             4503599627370497.0,
                             0x1p63 - 1024,
                             0x1p1023,
                             1e300,
                             -0.0,
                             0.0,
                             INFINITY,
                             -INFINITY,
                             NAN,
                             24.0,
                             0x1p52 - 1};
  std::mt19937_64 rng(0x50aa);
  auto base = [&rng](int kind) {
    switch (kind) {
      case 0: return static_cast<double>(rng() % 6);
      case 1: return 8.0 * static_cast<double>(rng() % 100);
      case 2: return std::ldexp(static_cast<double>(1 + rng() % 4), 60);
      case 3: return static_cast<double>(rng() >> 11) * 0x1p-53;
      default: return 0.0;
    }
  };
  int compared = 0;
  for (int kind = 0; kind < 5; ++kind) {
    for (int M = 1; M <= 6; ++M) {
      for (int N = 1; N <= 6; ++N) {
        for (int place = 0; place < M * N; ++place) {
          for (double special : specials) {
            std::vector<double> C(static_cast<size_t>(M) * N);
            for (double &x : C) x = base(kind);
            C[place] = special;
            expectSummary(C, M, N, mexhost::matrixLiteral(C, M, N));
            ++compared;
          }
        }
      }
    }
    for (int trial = 0; trial < 200; ++trial) {
      int M = 1 + static_cast<int>(rng() % 24), N = 1 + static_cast<int>(rng() % 24);
      std::vector<double> C(static_cast<size_t>(M) * N);
      for (double &x : C) x = base(kind);
      for (int k = 0; k < 2; ++k) C[rng() % C.size()] = specials[rng() % std::size(specials)];
      expectSummary(C, M, N, mexhost::matrixLiteral(C, M, N));
      ++compared;
    }
    // Gated costs: Inf at a random half of the places (a block of four is
    // then mostly mixed), and now and then one NaN among them.
    for (int trial = 0; trial < 200; ++trial) {
      int M = 1 + static_cast<int>(rng() % 24), N = 1 + static_cast<int>(rng() % 24);
      std::vector<double> C(static_cast<size_t>(M) * N);
      for (double &x : C) x = rng() % 2 == 0 ? INFINITY : base(kind);
      if (trial % 4 == 0) C[rng() % C.size()] = NAN;
      expectSummary(C, M, N, mexhost::matrixLiteral(C, M, N));
      ++compared;
    }
    // Beyond kDeferredGridElements, where the check gathers the grid of
    // every kind of costs itself.
    for (int trial = 0; trial < 6; ++trial) {
      int M = 65 + static_cast<int>(rng() % 20), N = 65 + static_cast<int>(rng() % 20);
      std::vector<double> C(static_cast<size_t>(M) * N);
      for (double &x : C) x = base(kind);
      for (int k = 0; k < 2; ++k) C[rng() % C.size()] = specials[rng() % std::size(specials)];
      expectSummary(C, M, N, std::to_string(M) + "-by-" + std::to_string(N) + " kind " +
                                 std::to_string(kind) + " trial " + std::to_string(trial));
      ++compared;
    }
  }
  EXPECT_GT(compared, 30000);
}

// Every worked example with a matrix argument, on each engine directly.
TEST(PairsolveCases, HoldOnEveryEngine) {
  std::vector<mexhost::Case> cases =
      mexhost::readCaseFile(std::string(TOOLBOX_CASES_DIR) + "/pairsolve.cases");
  int checked = 0;
  for (const mexhost::Case &testCase : cases) {
    if (testCase.call.name != "pairsolve" || testCase.call.args.size() != 1) continue;
    bool bundled = testCase.hosts.empty() || std::find(testCase.hosts.begin(), testCase.hosts.end(),
                                                       "bundled") != testCase.hosts.end();
    if (!bundled) continue;  // a literal only another host can read
    mexhost::ArrayPtr input = mexhost::parseLiteral(testCase.call.args[0]);
    if (!mxIsDouble(input.get()) || mxIsComplex(input.get()) || mxIsSparse(input.get()) ||
        mxGetNumberOfDimensions(input.get()) != 2) {
      continue;  // refused by the gateway before any engine runs
    }
    int M = static_cast<int>(mxGetM(input.get())), N = static_cast<int>(mxGetN(input.get()));
    std::vector<double> C(mxGetPr(input.get()), mxGetPr(input.get()) + static_cast<size_t>(M) * N);
    for (Engine engine : {Engine::automatic, Engine::dense, Engine::exact, Engine::grid,
                          Engine::hybrid, Engine::unique}) {
      std::string where = testCase.file + ":" + std::to_string(testCase.line) + " engine " +
                          std::to_string(static_cast<int>(engine));
      if (testCase.expectError) {
        if (!testCase.errorId.empty() && testCase.errorId != "pairsolve:costOverflow") {
          continue;  // an argument check of the gateway
        }
        if (testCase.errorId == "pairsolve:costOverflow") {
          Result result = runEngine(C, M, N, engine);
          EXPECT_TRUE(result.outcome == SolveOutcome::stuck ||
                      (engine == Engine::exact && result.outcome == SolveOutcome::inexact))
              << where;
        } else {
          Result result = runEngine(C, M, N, engine);
          EXPECT_EQ(result.outcome, SolveOutcome::refused) << where;
          EXPECT_EQ(std::string(result.failure.message), testCase.errorMessage) << where;
        }
        ++checked;
        continue;
      }
      Result result = runEngine(C, M, N, engine);
      if (engine == Engine::exact && result.outcome == SolveOutcome::inexact) continue;
      ASSERT_EQ(result.outcome, SolveOutcome::complete) << where;
      mexhost::ArrayPtr assignment = mexhost::parseLiteral(testCase.expected[0]);
      ASSERT_EQ(mxGetNumberOfElements(assignment.get()), static_cast<size_t>(M)) << where;
      for (int r = 0; r < M; ++r) {
        EXPECT_TRUE(sameBits(result.assignment[r], mxGetPr(assignment.get())[r])) << where;
      }
      if (testCase.expected.size() >= 2) {
        mexhost::ArrayPtr cost = mexhost::parseLiteral(testCase.expected[1]);
        EXPECT_TRUE(sameBits(result.cost, mxGetScalar(cost.get()))) << where;
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 170);  // the file's matrix examples, six engine choices each
}

}  // namespace

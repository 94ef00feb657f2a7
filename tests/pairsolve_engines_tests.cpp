// The engines of pairsolve against the plain engine
// (reference/pairsolve_plain.h), without any host: on many random matrices
// every engine must reach the same outcome, the same assignment and the
// same cost bits (the case files on every engine are in pairsolve_tests,
// which reads them through the host's literals). The automatic choice
// must also reach the engine meant for each family: the grid engine for
// rand-like grids, the hybrid engine for distances and other real-valued
// costs off every grid. Each engine also runs with its per-column
// structures made as small as they go (one summary slot, one zero
// candidate, a log that holds one phase), so that the paths taken when
// they overflow (reading or scanning the column, catching up every column)
// run on most matrices.
//
// TOOLBOX_TEST_SCALE (a positive integer, default 1) multiplies the number
// of random matrices. TOOLBOX_ENGINE_FAMILIES (a comma-separated list of
// family names, such as "sums,products") runs those families alone, and
// TOOLBOX_ENGINE_MATRICES (a positive integer) sets the number of random
// matrices of each: the deliberately broken builds and the
// decision-checking build run that way (tests/CMakeLists.txt).
//
// Built with PAIRSOLVE_CHECK_DECISIONS, every decision of the hybrid
// policy is also checked against the steps' own working costs
// (pairsolve/decision_check.h), and the checks made are reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

// The solve of the product, for direct calls of its engines.
#include "pairsolve_runs.h"
#include "valuetext.h"

namespace {

int testScale() {
  const char *text = std::getenv("TOOLBOX_TEST_SCALE");
  int scale = text != nullptr ? std::atoi(text) : 1;
  return scale > 0 ? scale : 1;
}

// The number of matrices of each family TOOLBOX_ENGINE_MATRICES asks for,
// or 0 when it asks for none.
int matricesAskedFor() {
  const char *text = std::getenv("TOOLBOX_ENGINE_MATRICES");
  int count = text != nullptr ? std::atoi(text) : 0;
  return count > 0 ? count : 0;
}

// The kinds of random matrices: each stresses a different part of the
// engines (ties in step 3's order, step 5's rounding, the exact engine's
// admission test, forbidden pairs, NaN and overflow).
enum class Kind {
  smallIntegers,  // [0, k] for k in 0..5 or 10: heavy ties
  integers,       // [0, 1000]
  forbidden,      // small integers with Inf and -Inf
  withNaN,        // small integers with NaN, and some Inf
  tenths,         // multiples of 0.1 (not dyadic: rounding in step 5)
  scaledUp,       // integers times 2^40
  scaledDown,     // integers times 2^-40
  nearLimit,      // integers near 2^52 (a few beyond: the exact engine must refuse)
  uniform,        // uniform doubles in [0, 1) times 2^-40, 1 or 2^40
  huge,           // costs near 1e307 with Inf: the substitute overflows, often fatally
  twoScales,      // tiny costs beside costs near 1: (h + x) - h rounds small x to zero
  oddHuge,        // odd integers just above 2^52, and their neighbours
  // The grid engine's inputs: every cost a multiple of g = 2^k, the largest
  // at most Theta = 2^53 g.
  gridUniform,   // 53-bit uniform in [0, 1) times 2^k, k in -30, 0, 30 (rand)
  bigIntegers,   // integers up to 2^53: beyond the exact engine's headroom
  belowTheta,    // Theta minus a few g beside a few g (g = 2^-20)
  absorb,        // a few g beside costs near Theta / 2 and Theta: (w + h) - h absorbs w
  fewLevels,     // levels 0, g, Theta / 2, Theta - g, Theta: ties and h near Theta
  oneUnitApart,  // costs near Theta that differ by a unit: assignments one unit apart
  // The hybrid engine's inputs: real-valued costs off every grid the exact
  // and grid engines take. First the realistic ones,
  euclid2,        // distances between random points of the unit square
  euclid10,       // the same in the 10-D unit cube
  euclid2Gated,   // euclid2 with Inf beyond a gate: a few finite pairs per row, some rows none
  euclid10Gated,  // the same in 10-D
  scaled100,      // uniform [0, 1) times 100
  logUniform,     // 10^U(-3, 3)
  // then those built to make ties or rounding decide.
  latticeDistances,  // distances between points of a small integer lattice: exact ties
  absorbOffGrid,     // tiny costs (1e-17 U) beside a few levels near 1 or 1e3: the large
                     // ones tie, and (w + h) - h, absorbing w, decides
  oneUlpApart,       // multiples of 0.1 up to 3, some one ulp off: assignments one ulp apart
  fewLevelsOffGrid,  // two to seven of 0.1, 0.7, 1/3, 2.3, 0.3, 1.1, 0: heavy ties
  withNaNOffGrid,    // uniform times 100 or multiples of 0.1, with NaN and Inf
  // Families where rounding decides: every assignment ties, or nearly, in
  // exact arithmetic, so the steps' rounding picks the result.
  sums,          // a_i + b_j, a and b at different decimal scales, some with relative noise
  products,      // a_i * b_j, a and b across many decades
  euclid1,       // distances between random points of a line, |x_i - y_j|
  oneLevelUlps,  // one level, each cost a few ulps off it
  count
};

const char *kindName(Kind kind) {
  static const char *const names[] = {
      "smallIntegers", "integers",      "forbidden",        "withNaN",        "tenths",
      "scaledUp",      "scaledDown",    "nearLimit",        "uniform",        "huge",
      "twoScales",     "oddHuge",       "gridUniform",      "bigIntegers",    "belowTheta",
      "absorb",        "fewLevels",     "oneUnitApart",     "euclid2",        "euclid10",
      "euclid2Gated",  "euclid10Gated", "scaled100",        "logUniform",     "latticeDistances",
      "absorbOffGrid", "oneUlpApart",   "fewLevelsOffGrid", "withNaNOffGrid", "sums",
      "products",      "euclid1",       "oneLevelUlps"};
  static_assert(sizeof names / sizeof names[0] == static_cast<size_t>(Kind::count),
                "a name for every kind");
  return names[static_cast<int>(kind)];
}

bool gridKind(Kind kind) {
  return kind >= Kind::gridUniform && kind <= Kind::oneUnitApart;
}

bool offGridKind(Kind kind) {
  return kind >= Kind::euclid2 && kind < Kind::count;
}

// The families where rounding decides.
bool roundingKind(Kind kind) {
  return kind >= Kind::sums && kind < Kind::count;
}

// Whether TOOLBOX_ENGINE_FAMILIES leaves the family in (every family when
// it is not set).
bool familyAskedFor(Kind kind) {
  const char *list = std::getenv("TOOLBOX_ENGINE_FAMILIES");
  if (list == nullptr || *list == '\0') return true;
  std::string names = std::string(",") + list + ",";
  return names.find(std::string(",") + kindName(kind) + ",") != std::string::npos;
}

// The off-grid families of real-valued costs as applications make them.
bool realisticOffGridKind(Kind kind) {
  return kind >= Kind::euclid2 && kind <= Kind::logUniform;
}

// The engine choices of the off-grid families. The grid engine turns
// nearly all of them away and hands them to the dense engine, which the
// dense choice runs already; the dense engine's smallest structures are
// exercised by the other families. So these run the automatic choice, the
// dense and exact engines, and the hybrid engine in both sizes.
std::vector<Choice> offGridChoices() {
  std::vector<Choice> choices;
  for (const Choice &choice : engineChoices()) {
    bool defaultSize = choice.capacities.summarySlots == kSummarySlots &&
                       choice.capacities.zeroSlots == kZeroSlots;
    if (choice.engine == Engine::hybrid || (defaultSize && choice.engine != Engine::grid)) {
      choices.push_back(choice);
    }
  }
  return choices;
}

// The Euclidean distances between M points (the rows) and N points (the
// columns) of the given dimension, each point's coordinates in a row of
// `rows` or `columns`.
std::vector<double> distances(const std::vector<double> &rows, const std::vector<double> &columns,
                              int dimension, int M, int N) {
  std::vector<double> C(static_cast<size_t>(M) * N);
  for (int c = 0; c < N; ++c) {
    for (int r = 0; r < M; ++r) {
      double sum = 0.0;
      for (int d = 0; d < dimension; ++d) {
        double step = rows[static_cast<size_t>(r) * dimension + d] -
                      columns[static_cast<size_t>(c) * dimension + d];
        sum += step * step;
      }
      C[r + static_cast<size_t>(M) * c] = std::sqrt(sum);
    }
  }
  return C;
}

// Distances between M random points and N random points of the unit cube
// of the given dimension. With a gate, a distance beyond it becomes Inf (a
// forbidden pair); the gate is the distance that keeps on average `perLine`
// finite pairs in each row of a wide matrix (each column of a tall one), so
// most lines keep several and a line of points far from the others keeps
// none.
std::vector<double> pointDistances(std::mt19937_64 &rng, int dimension, int M, int N, int perLine) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> rows(static_cast<size_t>(M) * dimension);
  std::vector<double> columns(static_cast<size_t>(N) * dimension);
  for (double &x : rows) x = unit(rng);
  for (double &x : columns) x = unit(rng);
  std::vector<double> C = distances(rows, columns, dimension, M, N);
  if (perLine > 0 && !C.empty()) {
    size_t length = static_cast<size_t>(std::max(M, N));
    size_t kept = std::min(C.size(), (C.size() * perLine + length - 1) / length);
    std::vector<double> sorted = C;
    std::nth_element(sorted.begin(), sorted.begin() + (kept - 1), sorted.end());
    double gate = sorted[kept - 1];
    for (double &x : C) x = x > gate ? INFINITY : x;
  }
  return C;
}

// Distances between M and N points drawn from the integer lattice
// {0..side}^dimension: equal distances are equal bits, and most are square
// roots off every grid.
std::vector<double> latticeDistances(std::mt19937_64 &rng, int dimension, int side, int M, int N) {
  std::uniform_int_distribution<int> coordinate(0, side);
  std::vector<double> rows(static_cast<size_t>(M) * dimension);
  std::vector<double> columns(static_cast<size_t>(N) * dimension);
  for (double &x : rows) x = coordinate(rng);
  for (double &x : columns) x = coordinate(rng);
  return distances(rows, columns, dimension, M, N);
}

// The families where rounding decides. sums: a_i + b_j with a_i in
// [0, 10^p) and b_j in [0, 10^q), p and q in -3..3 (often different), each
// sum rounded once, and for some matrices a relative noise of 1e-20, 1e-16,
// 1e-12 or 1e-8 on every cost; products: a_i * b_j with a_i and b_j each
// 10^U(-40, 40); euclid1: |x_i - y_j| for points of [0, 1); oneLevelUlps:
// one level L = 10^U(-3, 3), each cost L moved by -3 to 3 ulps.
std::vector<double> roundingMatrix(std::mt19937_64 &rng, Kind kind, int M, int N) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  static const double kNoise[] = {0.0, 0.0, 1e-20, 1e-16, 1e-12, 1e-8};
  std::vector<double> a(M), b(N);
  int p = static_cast<int>(rng() % 7) - 3, q = static_cast<int>(rng() % 7) - 3;
  double noise = kNoise[rng() % 6];
  double level = std::pow(10.0, 6.0 * unit(rng) - 3.0);
  for (double &x : a) {
    x = kind == Kind::sums       ? unit(rng) * std::pow(10.0, p)
        : kind == Kind::products ? std::pow(10.0, 80.0 * unit(rng) - 40.0)
                                 : unit(rng);
  }
  for (double &x : b) {
    x = kind == Kind::sums       ? unit(rng) * std::pow(10.0, q)
        : kind == Kind::products ? std::pow(10.0, 80.0 * unit(rng) - 40.0)
                                 : unit(rng);
  }
  std::vector<double> C(static_cast<size_t>(M) * N);
  for (int c = 0; c < N; ++c) {
    for (int r = 0; r < M; ++r) {
      double &x = C[r + static_cast<size_t>(M) * c];
      switch (kind) {
        case Kind::sums: x = (a[r] + b[c]) * (1.0 + noise * (2.0 * unit(rng) - 1.0)); break;
        case Kind::products: x = a[r] * b[c]; break;
        case Kind::euclid1: x = std::fabs(a[r] - b[c]); break;
        default:
          x = level;
          for (int k = static_cast<int>(rng() % 7) - 3; k != 0; k += k < 0 ? 1 : -1) {
            x = std::nextafter(x, k < 0 ? 0.0 : INFINITY);
          }
          break;
      }
    }
  }
  return C;
}

std::vector<double> randomMatrix(std::mt19937_64 &rng, Kind kind, int M, int N) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  auto integer = [&rng](int high) {
    return static_cast<double>(std::uniform_int_distribution<int>(0, high)(rng));
  };
  static const int kTieRanges[] = {0, 1, 2, 3, 5, 10};
  int tieRange = kTieRanges[rng() % 6];
  double share = unit(rng) * 0.4;
  double scale = std::ldexp(1.0, 40 * static_cast<int>(rng() % 3) - 40);
  // The grid families' g, and Theta = 2^53 g.
  double g = std::ldexp(1.0, 30 * static_cast<int>(rng() % 3) - 50);
  double theta = std::ldexp(g, 53);
  auto bits53 = [&rng]() { return static_cast<double>(rng() >> 11); };  // [0, 2^53)
  static const double kLevels[] = {0.0, 1.0, 0x1p52, 0x1p53 - 1.0, 0x1p53};
  // The off-grid families' levels, and the magnitude of the costs beside
  // which tiny ones are absorbed.
  static const double kOffGridLevels[] = {0.1, 0.7, 1.0 / 3.0, 2.3, 0.3, 1.1, 0.0};
  double large = tieRange % 2 == 0 ? 1.0 : 1e3;
  switch (kind) {
    case Kind::euclid2: return pointDistances(rng, 2, M, N, 0);
    case Kind::euclid10: return pointDistances(rng, 10, M, N, 0);
    case Kind::euclid2Gated: return pointDistances(rng, 2, M, N, 2 + static_cast<int>(rng() % 6));
    case Kind::euclid10Gated: return pointDistances(rng, 10, M, N, 2 + static_cast<int>(rng() % 6));
    case Kind::latticeDistances:
      return latticeDistances(rng, 2 + static_cast<int>(rng() % 2), 1 + static_cast<int>(rng() % 5),
                              M, N);
    case Kind::sums:
    case Kind::products:
    case Kind::euclid1:
    case Kind::oneLevelUlps: return roundingMatrix(rng, kind, M, N);
    default: break;
  }
  std::vector<double> C(static_cast<size_t>(M) * N);
  for (double &x : C) {
    double u = unit(rng);
    switch (kind) {
      case Kind::smallIntegers: x = integer(tieRange); break;
      case Kind::integers: x = integer(1000); break;
      case Kind::forbidden:
        x = u < share ? (u < share / 4 ? -INFINITY : INFINITY) : integer(tieRange + 3);
        break;
      case Kind::withNaN:
        x = u < share ? NAN : (u < share * 1.25 ? INFINITY : integer(tieRange + 3));
        break;
      case Kind::tenths: x = integer(30) * 0.1; break;
      case Kind::scaledUp: x = std::ldexp(integer(1000), 40); break;
      case Kind::scaledDown: x = std::ldexp(integer(tieRange + 20), -40); break;
      case Kind::nearLimit:
        x = 4503599627370496.0 - integer(50) + (u < 0.02 ? 4.0 * integer(8) : 0);
        break;
      case Kind::uniform: x = unit(rng) * scale; break;
      case Kind::huge: x = u < 2 * share ? INFINITY : 1e307 * (1.0 + integer(3)); break;
      case Kind::twoScales:
        x = u < share ? std::ldexp(integer(3), -60) : 1.0 + std::ldexp(integer(63), -50);
        break;
      case Kind::oddHuge: x = 4503599627370496.0 + integer(40); break;
      case Kind::gridUniform:
        x = bits53() * 0x1p-53 * std::ldexp(1.0, 30 * (tieRange % 3) - 30);
        break;
      case Kind::bigIntegers:
        x = u < 0.5 ? bits53() + (u < 0.1 ? 1.0 : 0.0) : 0x1p53 - integer(tieRange + 40);
        break;
      case Kind::belowTheta:
        x = std::ldexp(u < share ? integer(tieRange + 2) : 0x1p53 - integer(tieRange + 2), -20);
        break;
      case Kind::absorb:
        x = u < share
                ? g * integer(3)
                : (u < 0.6 ? theta / 2 + g * integer(tieRange) : theta - g * integer(tieRange));
        break;
      case Kind::fewLevels: x = g * kLevels[rng() % (2 + tieRange % 4)]; break;
      case Kind::oneUnitApart:
        x = theta - g * integer(1 + tieRange % 3) * (u < 0.5 ? 1.0 : 0x1p40);
        break;
      case Kind::scaled100: x = unit(rng) * 100.0; break;
      case Kind::logUniform: x = std::pow(10.0, unit(rng) * 6.0 - 3.0); break;
      case Kind::absorbOffGrid:
        x = u < share ? 1e-17 * unit(rng) : large * (1.0 + 0.1 * integer(tieRange + 2));
        break;
      case Kind::oneUlpApart:
        x = 0.1 * integer(30);
        x = u < 0.3 ? std::nextafter(x, 0.0) : (u < 0.6 ? std::nextafter(x, 2.0 * x) : x);
        break;
      case Kind::fewLevelsOffGrid: x = kOffGridLevels[rng() % (2 + tieRange % 6)]; break;
      case Kind::withNaNOffGrid:
        x = u < share
                ? NAN
                : (u < share * 1.25 ? INFINITY
                                    : (tieRange % 2 == 0 ? 100.0 * unit(rng) : 0.1 * integer(30)));
        break;
      case Kind::euclid2:
      case Kind::euclid10:
      case Kind::euclid2Gated:
      case Kind::euclid10Gated:
      case Kind::latticeDistances:
      case Kind::sums:
      case Kind::products:
      case Kind::euclid1:
      case Kind::oneLevelUlps:
      case Kind::count: break;
    }
  }
  return C;
}

struct Tally {
  long matrices = 0;
  long exactSolves = 0;   // matrices the exact engine took
  long stuck = 0;         // matrices on which the plain engine cannot complete
  long gridAdmitted = 0;  // matrices on the grid the grid engine takes
  long gridCertified =
      0;  // of those, the ones whose check held (the others went to the dense engine)
  long automaticGrid = 0;  // matrices the automatic choice solved with the grid engine
  long automaticGridOrUnique = 0;  // ... with the grid or the unique engine
  long mismatches = 0;     // engine results that differ from the plain engine's
  // Matrices whose first stars leave work for the phases, and of those the
  // ones the automatic choice solved with the hybrid, the dense and the
  // unique engine (the rest, the exact or the grid engine took).
  long beyondFirstStars = 0;
  long automaticHybrid = 0;
  long automaticDense = 0;
  long automaticUnique = 0;
  long uniqueCertified = 0;  // matrices the unique engine certified (not handed on)
};

// Whether the first stars already complete the solve of C (every matrix
// of one row or column, and many small ones): then any engine finishes
// without a step 5, and which one the automatic choice used says nothing.
// The model of the steps' start: Inf and -Inf become the substitute, each
// line (rows when M <= N, else columns) is reduced by its least cost, a
// working cost is a zero when it compares equal to 0 (never NaN, nor
// Inf - Inf), and each line in turn stars its first zero in a line not yet
// starred.
bool firstStarsComplete(const std::vector<double> &C, int M, int N) {
  if (M == 0 || N == 0) return true;
  double largest = -1.0;
  for (double x : C) {
    if (std::isfinite(x)) largest = std::max(largest, x);
  }
  if (largest == -1.0) return true;  // nothing finite: no pairs
  double substitute = largest > 0.0 ? (largest * 10.0) * static_cast<double>(C.size()) : 10.0;
  bool byRows = M <= N;
  int lines = byRows ? M : N, length = byRows ? N : M;
  std::vector<char> starred(length, 0);
  int stars = 0;
  for (int i = 0; i < lines; ++i) {
    auto cost = [&](int j) {
      double x = byRows ? C[i + static_cast<size_t>(M) * j] : C[j + static_cast<size_t>(M) * i];
      return std::isinf(x) ? substitute : x;
    };
    double least = cost(0);
    for (int j = 1; j < length; ++j) least = cost(j) < least ? cost(j) : least;
    for (int j = 0; j < length; ++j) {
      if (!starred[j] && cost(j) - least == 0.0) {
        starred[j] = 1;
        ++stars;
        break;
      }
    }
  }
  return stars == lines;
}

// What the grid engine's check found on C (admitted, certified).
GridReport gridReport(const std::vector<double> &C, int M, int N) {
  GridReport report;
  Scratch scratch(systemAllocator());
  CostSummary summary;
  Failure failure;
  if (!checkCosts(C.data(), M, N, scratch, &summary, &failure)) return report;
  std::vector<double> assignment(M, 0.0);
  solveGrid(scratch, assignment.data(), C.data(), M, N, summary, kSummarySlots, &report);
  return report;
}

// One matrix through the plain engine and every engine choice.
void compareEngines(const std::vector<double> &C, int M, int N, Kind kind, Tally &tally) {
  Result expected = runPlain(C, M, N);
  ++tally.matrices;
  tally.stuck += expected.outcome == SolveOutcome::stuck;
  std::vector<Choice> choices =
      offGridKind(kind) && !roundingKind(kind) ? offGridChoices() : engineChoices();
  for (size_t i = 0; i < choices.size(); ++i) {
    const Choice &choice = choices[i];
    Engine solvedBy = Engine::automatic;
    Result actual = runEngine(C, M, N, choice.engine, choice.capacities, &solvedBy);
    if (choice.engine == Engine::exact) {
      if (actual.outcome == SolveOutcome::inexact) continue;
      tally.exactSolves += choice.capacities.summarySlots == kSummarySlots;
    }
    tally.automaticGrid += choice.engine == Engine::automatic && solvedBy == Engine::grid;
    tally.automaticGridOrUnique += choice.engine == Engine::automatic &&
                                   (solvedBy == Engine::grid || solvedBy == Engine::unique);
    tally.uniqueCertified += choice.engine == Engine::unique && solvedBy == Engine::unique;
    if (choice.engine == Engine::automatic && !firstStarsComplete(C, M, N)) {
      ++tally.beyondFirstStars;
      tally.automaticHybrid += solvedBy == Engine::hybrid;
      tally.automaticDense += solvedBy == Engine::dense;
      tally.automaticUnique += solvedBy == Engine::unique;
    }
    // Every mismatch is counted (so that a wrong build shows how many it
    // makes); the first few are reported in full.
    bool same = actual.outcome == expected.outcome && actual.assignment == expected.assignment &&
                sameBits(actual.cost, expected.cost);
    if (!same && ++tally.mismatches <= 3) {
      ADD_FAILURE() << choice.name << ": outcome " << static_cast<int>(actual.outcome) << " vs "
                    << static_cast<int>(expected.outcome) << ", cost " << actual.cost << " vs "
                    << expected.cost << " on " << mexhost::matrixLiteral(C, M, N);
    }
  }
  GridReport report = gridReport(C, M, N);
  tally.gridAdmitted += report.admitted;
  tally.gridCertified += report.certified;
  // Integer costs with small reduced costs are always within the exact
  // engine's bounds; it must not turn them away.
  bool admissible = kind == Kind::smallIntegers || kind == Kind::integers ||
                    kind == Kind::scaledUp || kind == Kind::scaledDown || kind == Kind::forbidden;
  if (admissible) {
    Result exact = runEngine(C, M, N, Engine::exact);
    EXPECT_NE(exact.outcome, SolveOutcome::inexact) << mexhost::matrixLiteral(C, M, N);
  }
}

// Sizes 1 to 60, most of them small (where ties and special cases are
// dense): a third square, a sixth two to three times wider than tall (many
// columns never starred), a sixth the other way round.
void randomShape(std::mt19937_64 &rng, int &M, int &N) {
  static const int kLimits[] = {4, 8, 16, 60};
  int limit = kLimits[rng() % 4];
  M = 1 + static_cast<int>(rng() % limit);
  N = 1 + static_cast<int>(rng() % limit);
  int form = static_cast<int>(rng() % 6);
  int factor = 2 + static_cast<int>(rng() % 2);
  if (form < 2) {
    N = M;
  } else if (form == 2) {
    M = (M + factor - 1) / factor;
    N = M * factor;
  } else if (form == 3) {
    N = (N + factor - 1) / factor;
    M = N * factor;
  }
}

TEST(PairsolveEngines, MatchThePlainEngineOnRandomMatrices) {
  std::mt19937_64 rng(0x5eed2026);
  // Half as many of each of the six grid families, a quarter as many of
  // each off-grid family (on fewer engine choices): the suite stays within
  // a few minutes in the sanitizer build at CI's scale.
  int perKind = 5000 * testScale();
  int perGridKind = perKind / 2;
  int perOffGridKind = perKind / 4;
  Tally total;
  for (int k = 0; k < static_cast<int>(Kind::count); ++k) {
    Kind kind = static_cast<Kind>(k);
    // Every family draws its matrices from a generator of its own, so that
    // running some families alone draws the same matrices.
    rng.seed(0x5eed2026 + static_cast<std::uint64_t>(k));
    if (!familyAskedFor(kind)) continue;
    Tally tally;
    int count = gridKind(kind) ? perGridKind : (offGridKind(kind) ? perOffGridKind : perKind);
    if (matricesAskedFor() > 0) count = matricesAskedFor();
    for (int i = 0; i < count && !HasFatalFailure(); ++i) {
      int M, N;
      randomShape(rng, M, N);
      compareEngines(randomMatrix(rng, kind, M, N), M, N, kind, tally);
    }
    std::printf(
        "%-16s %7ld matrices, exact engine on %7ld, grid engine admits %7ld, "
        "certifies %7ld (automatic: %7ld), beyond the first stars %7ld (automatic: hybrid "
        "engine on %7ld, dense on %7ld, unique on %7ld), unique engine certifies %7ld, plain "
        "engine stuck on %ld, mismatches %ld\n",
        kindName(kind), tally.matrices, tally.exactSolves, tally.gridAdmitted, tally.gridCertified,
        tally.automaticGrid, tally.beyondFirstStars, tally.automaticHybrid, tally.automaticDense,
        tally.automaticUnique, tally.uniqueCertified, tally.stuck, tally.mismatches);
    total.matrices += tally.matrices;
    total.exactSolves += tally.exactSolves;
    total.stuck += tally.stuck;
    total.mismatches += tally.mismatches;
    if (HasFatalFailure()) return;
    // The grid families reach the grid engine, which certifies nearly all
    // of the rand-like and large-integer ones (the automatic plan solves
    // those with the unique engine first when small or wide, else with the
    // grid engine); the adversarial ones must also make its check fail, so
    // that the dense engine takes over.
    if (gridKind(kind)) {  // all but a few all-zero matrices
      EXPECT_GE(tally.gridAdmitted, tally.matrices * 9 / 10) << kindName(kind);
    }
    if (kind == Kind::gridUniform || kind == Kind::bigIntegers) {
      EXPECT_GE(tally.gridCertified, tally.matrices * 9 / 10) << kindName(kind);
      EXPECT_GE(tally.automaticGridOrUnique, tally.matrices * 9 / 10) << kindName(kind);
    }
    if (kind == Kind::fewLevels || kind == Kind::belowTheta) {
      EXPECT_GT(tally.gridAdmitted - tally.gridCertified, 0) << kindName(kind);
    }
    // Real-valued costs off every grid that neither the exact nor the
    // grid engine takes (a small matrix whose costs share one binade lies
    // on a grid): these matrices, at most 60-by-60, are below the size
    // from which the automatic plan uses the hybrid engine (plan.h), so
    // the unique engine solves them, or the dense engine when its
    // certificate does not hold (the larger matrices below reach the
    // hybrid engine too). Their optima are nearly always clear: the unique
    // engine certifies most of them.
    if (realisticOffGridKind(kind)) {
      long offGrid = tally.automaticHybrid + tally.automaticDense + tally.automaticUnique;
      EXPECT_EQ(tally.automaticHybrid, 0) << kindName(kind);
      EXPECT_GE(3 * offGrid, tally.matrices)
          << kindName(kind) << ": too few matrices reach the phases off the grids";
      EXPECT_GE(2 * tally.uniqueCertified, tally.matrices) << kindName(kind);
    }
  }
  std::printf(
      "total            %7ld matrices compared on %zu engine choices (the realistic and built "
      "off-grid families on %zu), %ld mismatches\n",
      total.matrices, engineChoices().size(), offGridChoices().size(), total.mismatches);
#if defined(PAIRSOLVE_CHECK_DECISIONS)
  const CheckedDecisions &checked = checkedDecisions();
  std::printf(
      "decision check: %lld zero tests and %lld step 5s of the hybrid policy checked, %lld "
      "uncovered elements compared; the largest |F - W| was %.3g of the margin\n",
      static_cast<long long>(checked.zeroTests), static_cast<long long>(checked.steps),
      static_cast<long long>(checked.elements), checked.largestRatio);
  EXPECT_GT(checked.steps, 0);
#endif
  EXPECT_EQ(total.mismatches, 0);
  // The comparison must have covered solves that cannot complete.
  if (!std::getenv("TOOLBOX_ENGINE_FAMILIES")) {
    EXPECT_GT(total.stuck, 0);
  }
}

// A larger matrix of each kind, where phases are long and step 3's passes
// many: the resume points and the row minima carry over many steps.
// Real-valued costs off every grid, above the size from which the
// automatic plan uses the hybrid engine, reach the unique engine and then
// the hybrid engine: one of the two solves at least 90% of the realistic
// ones whose first stars leave work (square and nearly square shapes); on
// the oblong shapes, drawn from a generator of their own, the unique
// engine goes first and solves at least half of them.
TEST(PairsolveEngines, MatchThePlainEngineOnLargerMatrices) {
  std::mt19937_64 rng(0x1a46e);
  std::mt19937_64 oblongRng(0x0b1046);  // the oblong shapes' own draws
  Tally realistic, oblong;
  for (int k = 0; k < static_cast<int>(Kind::count) && !HasFatalFailure(); ++k) {
    Kind kind = static_cast<Kind>(k);
    if (!familyAskedFor(kind)) continue;
    Tally tally, oblongTally;
    // Square, a little wider or taller, then oblong both ways (where the
    // automatic plan puts the unique engine first).
    const int shapes[][2] = {{120, 120}, {90, 120}, {120, 90}, {60, 120}, {120, 60}};
    for (const auto &shape : shapes) {
      int M = shape[0], N = shape[1];
      bool isOblong = std::max(M, N) >= 2 * std::min(M, N);
      compareEngines(randomMatrix(isOblong ? oblongRng : rng, kind, M, N), M, N, kind,
                     isOblong ? oblongTally : tally);
    }
    if (realisticOffGridKind(kind)) {
      realistic.automaticHybrid += tally.automaticHybrid;
      realistic.automaticDense += tally.automaticDense;
      realistic.automaticUnique += tally.automaticUnique;
      oblong.beyondFirstStars += oblongTally.beyondFirstStars;
      oblong.automaticUnique += oblongTally.automaticUnique;
    }
  }
  // On the oblong shapes the unique engine solves most realistic off-grid
  // matrices (gated distances may hold near ties it leaves to the others).
  if (!std::getenv("TOOLBOX_ENGINE_FAMILIES")) {
    EXPECT_GE(oblong.beyondFirstStars, 8);
  }
  std::printf("oblong: the unique engine solved %ld of %ld realistic off-grid matrices beyond "
              "the first stars\n",
              oblong.automaticUnique, oblong.beyondFirstStars);
  EXPECT_GE(2 * oblong.automaticUnique, oblong.beyondFirstStars)
      << "the unique engine solved " << oblong.automaticUnique << " of "
      << oblong.beyondFirstStars << " realistic oblong off-grid matrices beyond the first stars";
  long potential = realistic.automaticHybrid + realistic.automaticUnique;
  long offGrid = potential + realistic.automaticDense;
  if (!std::getenv("TOOLBOX_ENGINE_FAMILIES")) {
    EXPECT_GE(offGrid, 12);
  }
  EXPECT_GE(10 * potential, 9 * offGrid)
      << "the unique and hybrid engines solved " << potential << " of " << offGrid
      << " realistic off-grid matrices beyond the first stars (the dense engine the others)";
}

// The grid engine's edges, on matrices whose outcome is known: costs just
// below Theta = 2^53 g are admitted and certified; a cost one grid step
// finer than the largest allows is not admitted, nor are costs so small
// that they would underflow to zero units; h = Theta (T reaches
// Theta) fails (B) but holds (A) when no row gains h; tiny costs beside
// costs just below Theta, where a covered row gains h, fail both, and the
// dense engine's result is returned. Each agrees with the plain engine.
TEST(PairsolveEngines, GridEngineEdges) {
  const double g = 0x1p-53;
  const double theta = 1.0;  // 2^53 g
  struct Edge {
    const char *what;
    std::vector<double> C;
    int M, N;
    bool admitted, certified;
  } edges[] = {
      {"just below Theta", {1.0 - g, 0.5, 2 * g, 1.0 - 2 * g}, 2, 2, true, true},
      {"Theta itself and one g", {theta, g, g, theta, theta, 0.0}, 2, 3, true, true},
      {"finer than the grid of the largest", {1.0 + 2 * g, 0x1p-60, 0.5, 0.25}, 2, 2, false, false},
      {"so tiny beside the largest that they underflow to zero units",
       {0x1p-999, 0x1.2p-999, 0x1p-1000, 0x1p993, 0x1.8p993, 0x1.1p-999},
       1,
       6,
       false,
       false},
      {"h equal to Theta, no row gains it", {theta, theta, 0.0, 0.0}, 2, 2, true, true},
      {"tiny beside costs just below Theta",
       {2 * g, theta - 3 * g, theta - 3 * g, 2 * g, theta, theta - g},
       3,
       2,
       true,
       false},
  };
  for (const Edge &edge : edges) {
    GridReport report = gridReport(edge.C, edge.M, edge.N);
    EXPECT_EQ(report.admitted, edge.admitted) << edge.what;
    EXPECT_EQ(report.certified, edge.certified) << edge.what;
    Result expected = runPlain(edge.C, edge.M, edge.N);
    for (Engine engine : {Engine::automatic, Engine::grid}) {
      Engine solvedBy = Engine::automatic;
      Result actual = runEngine(edge.C, edge.M, edge.N, engine, Capacities(), &solvedBy);
      EXPECT_EQ(actual.outcome, expected.outcome) << edge.what;
      EXPECT_EQ(actual.assignment, expected.assignment) << edge.what;
      EXPECT_TRUE(sameBits(actual.cost, expected.cost)) << edge.what;
      if (engine == Engine::grid) {
        EXPECT_EQ(solvedBy, edge.certified ? Engine::grid : Engine::dense) << edge.what;
      } else if (edge.admitted && !edge.certified) {
        // An uncertified grid solve goes straight to the dense engine.
        EXPECT_EQ(solvedBy, Engine::dense) << edge.what;
      }
    }
  }
}

// The check of C reads costs two at a time and gathers line minima and
// maxima for the exact engine: a special cost at every place of small
// matrices (first or second of a pair, the odd last row, wide and tall) must
// be seen. A finite negative cost is refused wherever it is, NaN and Inf
// before it or not; -0.0 is a zero.
TEST(PairsolveEngines, NegativeCostsAreRefusedAtEveryPlace) {
  std::mt19937_64 rng(0xc0575);
  int checked = 0;
  for (int M = 1; M <= 5; ++M) {
    for (int N = 1; N <= 5; ++N) {
      for (int place = 0; place < M * N; ++place) {
        for (int variant = 0; variant < 3; ++variant) {
          std::vector<double> C(static_cast<size_t>(M) * N);
          for (double &x : C) x = static_cast<double>(rng() % 4);
          C[place] = variant == 2 ? -0.0 : -1.0;
          if (variant == 1) {
            if (place > 0) C[place - 1] = NAN;
            if (place + 1 < M * N) C[place + 1] = INFINITY;
          }
          for (const Choice &choice : engineChoices()) {
            if (variant == 2) {
              Result expected = runPlain(C, M, N);
              Result actual = runEngine(C, M, N, choice.engine, choice.capacities);
              if (actual.outcome == SolveOutcome::inexact) continue;
              EXPECT_EQ(actual.assignment, expected.assignment)
                  << choice.name << mexhost::matrixLiteral(C, M, N);
              continue;
            }
            Result refused = runEngine(C, M, N, choice.engine, choice.capacities);
            EXPECT_EQ(refused.outcome, SolveOutcome::refused)
                << choice.name << ": not refused: " << mexhost::matrixLiteral(C, M, N);
            EXPECT_STREQ(refused.failure.message, "All matrix elements have to be non-negative.");
            EXPECT_TRUE(refused.failure.condition != nullptr &&
                        refused.failure.condition[0] == '\0')
                << "the message has no identifier";
            for (int r = 0; r < M; ++r) EXPECT_EQ(refused.assignment[r], 0.0);
            EXPECT_EQ(refused.cost, 0.0);
            ++checked;
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 2000);
}

// Integer costs but for one Inf, NaN, non-integer or odd integer above 2^52
// (which the check cannot tell from a non-integer), at every place: the line
// statistics and the exact engine's admission must account for it.
TEST(PairsolveEngines, OneSpecialCostAtEveryPlace) {
  std::mt19937_64 rng(0x5bec1a1);
  const double specials[] = {INFINITY, NAN, 0.5, 4503599627370497.0};
  Tally tally;
  for (int M = 1; M <= 5 && !HasFatalFailure(); ++M) {
    for (int N = 1; N <= 5 && !HasFatalFailure(); ++N) {
      for (int place = 0; place < M * N; ++place) {
        for (double special : specials) {
          std::vector<double> C(static_cast<size_t>(M) * N);
          for (double &x : C) x = static_cast<double>(rng() % 6);
          C[place] = special;
          compareEngines(C, M, N, Kind::withNaN, tally);
        }
      }
    }
  }
  EXPECT_GT(tally.exactSolves, 400);  // the Inf and 0.5 matrices at least
}

// The plan of every request for every kind of costs the check tells apart,
// and where a solve goes on after an uncertified grid solve.
TEST(PairsolvePlan, OrderOfEngines) {
  using E = Engine;
  // steps: the largest finite cost in units of the costs' grid (many: no
  // ties to fear; few values for K pairs: at most K^2 / 5 (oblong: K^2 / 2)
  // or K^3 / 1000, whichever is more; very few: at most K).
  constexpr double many = 1e12;
  struct Expected {
    E request;
    bool anyNonFinite, anyNaN, integral;
    double steps;
    int M, N;
    std::vector<E> engines;
  } expectations[] = {
      {E::automatic, true, true, true, many, 100, 100, {E::exact, E::hybrid, E::dense}},
      {E::automatic, true, true, false, many, 100, 100, {E::exact, E::hybrid, E::dense}},
      {E::automatic, true, false, true, many, 100, 100,
       {E::exact, E::unique, E::hybrid, E::dense}},
      {E::automatic, true, false, false, many, 100, 100,
       {E::exact, E::unique, E::hybrid, E::dense}},
      {E::automatic, false, false, true, many, 100, 100,
       {E::exact, E::grid, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 100, 100,
       {E::grid, E::exact, E::unique, E::hybrid, E::dense}},
      {E::automatic, false, false, false, 1000, 100, 100,
       {E::grid, E::exact, E::unique, E::hybrid, E::dense}},
      // Oblong (1.5 times as long one way as the other): the unique engine
      // first, integers included, unless the costs take few values.
      {E::automatic, false, false, false, many, 64, 96,
       {E::unique, E::grid, E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, true, many, 64, 96,
       {E::unique, E::exact, E::grid, E::hybrid, E::dense}},
      {E::automatic, true, false, false, many, 64, 96, {E::unique, E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, true, 200, 64, 96, {E::exact, E::grid, E::hybrid, E::dense}},
      {E::automatic, false, false, false, 200, 64, 96,
       {E::grid, E::exact, E::unique, E::hybrid, E::dense}},
      {E::automatic, true, true, false, many, 64, 96, {E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 64, 95,
       {E::grid, E::exact, E::unique, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 96, 64,
       {E::unique, E::grid, E::exact, E::hybrid, E::dense}},
      // The unique engine: at most 500 pairs and 1,000,000 elements, or
      // oblong with at most 1000 pairs and 2,000,000 elements.
      {E::automatic, false, false, false, many, 500, 500,
       {E::grid, E::exact, E::unique, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 501, 501, {E::grid, E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 500, 1000,
       {E::unique, E::grid, E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 501, 1000,
       {E::unique, E::grid, E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 1000, 500,
       {E::unique, E::grid, E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 600, 900,
       {E::unique, E::grid, E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 600, 899, {E::grid, E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 1000, 2000,
       {E::unique, E::grid, E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 2000, 1000,
       {E::unique, E::grid, E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, true, many, 1000, 2000,
       {E::unique, E::exact, E::grid, E::hybrid, E::dense}},
      {E::automatic, false, false, true, 1e6, 1000, 2000,
       {E::exact, E::grid, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 1000, 2001,
       {E::grid, E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 1001, 2000,
       {E::grid, E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 500, 4000,
       {E::unique, E::grid, E::exact, E::hybrid, E::dense}},
      {E::automatic, false, false, false, many, 500, 4001,
       {E::grid, E::exact, E::hybrid, E::dense}},
      {E::automatic, true, false, false, many, 2000, 2000, {E::exact, E::hybrid, E::dense}},
      // Small matrices: no hybrid engine; the unique engine first up to
      // 2500 elements; very few values: the dense engine alone.
      {E::automatic, true, true, true, many, 64, 64, {E::exact, E::dense}},
      {E::automatic, true, true, true, 10, 64, 64, {E::exact, E::dense}},
      {E::automatic, true, false, false, many, 64, 64, {E::exact, E::unique, E::dense}},
      {E::automatic, true, false, false, many, 50, 50, {E::unique, E::exact, E::dense}},
      {E::automatic, true, false, false, many, 100, 25, {E::unique, E::exact, E::dense}},
      {E::automatic, true, false, false, many, 51, 50, {E::exact, E::unique, E::dense}},
      {E::automatic, false, false, true, many, 5, 5, {E::unique, E::exact, E::grid, E::dense}},
      {E::automatic, false, false, true, 6, 5, 5, {E::unique, E::exact, E::grid, E::dense}},
      {E::automatic, false, false, true, 100, 50, 50, {E::exact, E::grid, E::dense}},
      {E::automatic, false, false, true, 500, 50, 50, {E::exact, E::grid, E::dense}},
      {E::automatic, false, false, true, 501, 50, 50, {E::unique, E::exact, E::grid, E::dense}},
      {E::automatic, false, false, true, 1000, 50, 50, {E::unique, E::exact, E::grid, E::dense}},
      {E::automatic, false, false, true, 1250, 100, 50, {E::exact, E::grid, E::hybrid, E::dense}},
      {E::automatic, false, false, true, 1251, 100, 50,
       {E::unique, E::exact, E::grid, E::hybrid, E::dense}},
      {E::automatic, false, false, true, 10, 20, 20, {E::dense}},
      {E::automatic, true, false, true, 10, 64, 64, {E::dense}},
      {E::automatic, false, false, false, many, 1, 4096,
       {E::unique, E::grid, E::exact, E::dense}},
      {E::automatic, false, false, false, 0, 0, 0, {E::dense}},
      {E::dense, false, false, false, many, 100, 100, {E::dense}},
      {E::exact, false, false, false, many, 100, 100, {E::exact}},
      {E::exact, true, true, true, 10, 5, 5, {E::exact}},
      {E::grid, false, false, false, 10, 5, 5, {E::grid, E::dense}},
      {E::hybrid, true, true, false, many, 5, 5, {E::hybrid, E::dense}},
      {E::unique, false, false, false, many, 2000, 2000, {E::unique, E::dense}},
  };
  for (const Expected &x : expectations) {
    CostSummary summary{};
    summary.anyNonFinite = x.anyNonFinite;
    summary.anyNaN = x.anyNaN;
    summary.integral = x.integral;
    summary.largestFinite = x.steps;
    summary.finestBit = 0;
    summary.gridPending = false;
    Plan order = plan(summary, nullptr, x.request, x.M, x.N);
    std::vector<E> engines(order.engines, order.engines + order.count);
    std::string what = "request " + std::to_string(static_cast<int>(x.request)) + ", " +
                       std::to_string(x.M) + "-by-" + std::to_string(x.N) +
                       (x.anyNonFinite ? ", non-finite" : "") + (x.anyNaN ? ", NaN" : "") +
                       (x.integral ? ", integers" : "") + ", " + std::to_string(x.steps) +
                       " steps";
    EXPECT_EQ(engines, x.engines) << what;
    int next = afterUncertified(order);
    if (engines.back() == E::dense) {
      EXPECT_EQ(next, order.count - 1) << what;
    } else {
      EXPECT_EQ(next, order.count) << what;
    }
  }
}

}  // namespace

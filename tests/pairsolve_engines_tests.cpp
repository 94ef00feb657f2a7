// The engines of pairsolve against the plain engine (pairsolve_plain.h): on
// many random matrices every engine must reach the same outcome, the same
// assignment and the same cost bits; and every worked example of the case
// file must hold on every engine, called directly. Each engine also runs
// with its per-column structures made as small as they go (one summary
// slot, one zero candidate, a log that holds one phase), so that the paths
// taken when they overflow (reading or scanning the column, catching up
// every column) run on most matrices.
//
// TOOLBOX_TEST_SCALE (a positive integer, default 1) multiplies the number
// of random matrices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

// The solve of the product, for direct calls of its engines.
#include "casetools.h"
#include "pairsolve/solve.h"
#include "pairsolve_plain.h"

namespace {

int testScale() {
  const char *text = std::getenv("TOOLBOX_TEST_SCALE");
  int scale = text != nullptr ? std::atoi(text) : 1;
  return scale > 0 ? scale : 1;
}

struct Result {
  SolveOutcome outcome;
  std::vector<double> assignment;
  double cost;
  Failure failure;  // why the costs were refused (outcome refused)
};

Result runEngine(const std::vector<double> &C, int M, int N, Engine engine,
                 const Capacities &capacities = Capacities()) {
  Result result{SolveOutcome::complete, std::vector<double>(M, -1.0), -1.0, Failure()};
  result.outcome = solveWithFallback(result.assignment.data(), &result.cost, C.data(), M, N, engine,
                                     &result.failure, capacities);
  return result;
}

// The engine choices every matrix goes through: the three as the plug-in
// sizes them, then each with the smallest structures.
struct Choice {
  const char *name;
  Engine engine;
  Capacities capacities;
};

std::vector<Choice> engineChoices() {
  Capacities oneSlot;
  oneSlot.summarySlots = 1;
  Capacities twoSlots;
  twoSlots.summarySlots = 2;
  Capacities smallDense;
  smallDense.zeroSlots = 1;
  smallDense.logEntries = 1;
  return {{"automatic", Engine::automatic, Capacities()},
          {"dense", Engine::dense, Capacities()},
          {"exact", Engine::exact, Capacities()},
          {"exact, one summary slot", Engine::exact, oneSlot},
          {"exact, two summary slots", Engine::exact, twoSlots},
          {"grid", Engine::grid, Capacities()},
          {"grid, one summary slot", Engine::grid, oneSlot},
          {"dense, one zero candidate, one-phase log", Engine::dense, smallDense}};
}

Result runPlain(const std::vector<double> &C, int M, int N) {
  Result result{SolveOutcome::complete, std::vector<double>(M, -1.0), -1.0, Failure()};
  bool complete = plain::pairsolve(result.assignment.data(), &result.cost, C.data(), M, N);
  result.outcome = complete ? SolveOutcome::complete : SolveOutcome::stuck;
  return result;
}

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string describe(const std::vector<double> &C, int M, int N) {
  std::string text = "[";
  for (int r = 0; r < M; ++r) {
    for (int c = 0; c < N; ++c) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%.17g", C[r + static_cast<size_t>(M) * c]);
      text += buffer;
      text += c + 1 < N ? " " : "";
    }
    text += r + 1 < M ? "; " : "]";
  }
  return text;
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
  count
};

const char *kindName(Kind kind) {
  static const char *const names[] = {"smallIntegers", "integers", "forbidden",  "withNaN",
                                      "tenths",        "scaledUp", "scaledDown", "nearLimit",
                                      "uniform",       "huge",     "twoScales",  "oddHuge"};
  return names[static_cast<int>(kind)];
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
      case Kind::count: break;
    }
  }
  return C;
}

struct Tally {
  long matrices = 0;
  long exactSolves = 0;  // matrices the exact engine took
  long stuck = 0;        // matrices on which the plain engine cannot complete
};

// One matrix through the plain engine and every engine choice.
void compareEngines(const std::vector<double> &C, int M, int N, Kind kind, Tally &tally) {
  Result expected = runPlain(C, M, N);
  ++tally.matrices;
  tally.stuck += expected.outcome == SolveOutcome::stuck;
  std::vector<Choice> choices = engineChoices();
  for (size_t i = 0; i < choices.size(); ++i) {
    const Choice &choice = choices[i];
    Result actual = runEngine(C, M, N, choice.engine, choice.capacities);
    if (choice.engine == Engine::exact) {
      if (actual.outcome == SolveOutcome::inexact) continue;
      tally.exactSolves += choice.capacities.summarySlots == kSummarySlots;
    }
    const char *name = choice.name;
    ASSERT_EQ(actual.outcome, expected.outcome) << name << " on " << describe(C, M, N);
    ASSERT_EQ(actual.assignment, expected.assignment) << name << " on " << describe(C, M, N);
    ASSERT_TRUE(sameBits(actual.cost, expected.cost))
        << name << " cost " << actual.cost << " vs " << expected.cost << " on "
        << describe(C, M, N);
  }
  // Integer costs with small reduced costs are always within the exact
  // engine's bounds; it must not turn them away.
  bool admissible = kind == Kind::smallIntegers || kind == Kind::integers ||
                    kind == Kind::scaledUp || kind == Kind::scaledDown || kind == Kind::forbidden;
  if (admissible) {
    Result exact = runEngine(C, M, N, Engine::exact);
    EXPECT_NE(exact.outcome, SolveOutcome::inexact) << describe(C, M, N);
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
  int perKind = 5000 * testScale();
  Tally total;
  for (int k = 0; k < static_cast<int>(Kind::count); ++k) {
    Kind kind = static_cast<Kind>(k);
    Tally tally;
    for (int i = 0; i < perKind && !HasFatalFailure(); ++i) {
      int M, N;
      randomShape(rng, M, N);
      compareEngines(randomMatrix(rng, kind, M, N), M, N, kind, tally);
    }
    std::printf("%-14s %7ld matrices, exact engine on %7ld, plain engine stuck on %ld\n",
                kindName(kind), tally.matrices, tally.exactSolves, tally.stuck);
    total.matrices += tally.matrices;
    total.exactSolves += tally.exactSolves;
    total.stuck += tally.stuck;
    if (HasFatalFailure()) return;
  }
  std::printf("total          %7ld matrices compared on %zu engine choices\n", total.matrices,
              engineChoices().size());
  // The comparison must have covered solves that cannot complete.
  EXPECT_GT(total.stuck, 0);
}

// A larger matrix of each kind, where phases are long and step 3's passes
// many: the resume points and the row minima carry over many steps.
TEST(PairsolveEngines, MatchThePlainEngineOnLargerMatrices) {
  std::mt19937_64 rng(0x1a46e);
  Tally tally;
  for (int k = 0; k < static_cast<int>(Kind::count) && !HasFatalFailure(); ++k) {
    for (int shape = 0; shape < 3; ++shape) {
      int M = shape == 1 ? 90 : 120, N = shape == 2 ? 90 : 120;
      compareEngines(randomMatrix(rng, static_cast<Kind>(k), M, N), M, N, static_cast<Kind>(k),
                     tally);
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
              EXPECT_EQ(actual.assignment, expected.assignment) << choice.name << describe(C, M, N);
              continue;
            }
            Result refused = runEngine(C, M, N, choice.engine, choice.capacities);
            EXPECT_EQ(refused.outcome, SolveOutcome::refused)
                << choice.name << ": not refused: " << describe(C, M, N);
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

// Every worked example with a matrix argument, on each engine directly.
TEST(PairsolveEngines, CaseFileHoldsOnEveryEngine) {
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
    for (Engine engine : {Engine::automatic, Engine::dense, Engine::exact}) {
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
  EXPECT_GT(checked, 60);  // the file's matrix examples, three engine choices each
}

}  // namespace

// The flank plug-ins against plain dense references, with fixed seeds.
//
// flankprod: L and R become dense 0/1 count matrices and Y = L*X*R is formed
// from them. With L's entries sorted by column and R's by row, the reference
// adds in the plug-in's order and the results agree bit for bit on any data;
// shuffled lists are compared with an ordinary matrix product on integer data,
// where every order of additions gives the same sum.
// flankmask, flankscale, flankinner: the masked and weighted forms evaluated
// position by position from a dense count matrix of the pattern.
// Hostile inputs: valid calls with one thing broken must end in an error with
// the expected identifier, never in a contract violation or a crash (the asan
// build runs this suite under AddressSanitizer and LeakSanitizer).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <vector>

#include "casetools.h"

namespace {

using mexhost::ArrayPtr;
using mexhost::CallResult;

const mexhost::Plugin &plugin(const std::string &name) {
  static std::map<std::string, std::unique_ptr<mexhost::Plugin>> opened;
  std::unique_ptr<mexhost::Plugin> &slot = opened[name];
  if (!slot) {
    std::string why;
    slot = mexhost::Plugin::open(std::string(TOOLBOX_PLUGIN_DIR) + "/" + name + ".mexa64", &why);
    if (!slot) throw std::runtime_error(why);
  }
  return *slot;
}

struct Dense {
  int rows = 0;
  int cols = 0;
  std::vector<double> v;  // column-major
  Dense(int r, int c) : rows(r), cols(c), v(static_cast<size_t>(r) * c, 0.0) {}
  double &operator()(int r, int c) { return v[r + static_cast<size_t>(rows) * c]; }
  double operator()(int r, int c) const { return v[r + static_cast<size_t>(rows) * c]; }
};

// A position list as a caller writes it: entries (row, column, row, column,
// ...; 1-based, maybe with fractions that truncate away) and the size.
// identity: a list without columns.
struct List {
  bool identity = false;
  bool twoByZero = false;  // an identity passed as 2-by-0 rather than 0-by-0
  std::vector<double> entries;
  double rows = 0;
  double cols = 0;
  size_t count() const { return entries.size() / 2; }
};

ArrayPtr array(int rows, int cols, const std::vector<double> &data) {
  ArrayPtr a(mxCreateDoubleMatrix_730(rows, cols, mxREAL));
  std::copy(data.begin(), data.end(), mxGetPr(a.get()));
  return a;
}

ArrayPtr array(const Dense &d) {
  return array(d.rows, d.cols, d.v);
}

ArrayPtr array(const List &list) {
  if (list.identity) return array(list.twoByZero ? 2 : 0, 0, {});
  std::vector<double> data = list.entries;
  data.push_back(list.rows);
  data.push_back(list.cols);
  return array(2, static_cast<int>(list.count()) + 1, data);
}

// The 0/1 matrix a list stands for, with the number of listings per position.
Dense counts(const List &list, int identitySize) {
  if (list.identity) {
    Dense d(identitySize, identitySize);
    for (int i = 0; i < identitySize; ++i) d(i, i) = 1;
    return d;
  }
  Dense d(static_cast<int>(list.rows), static_cast<int>(list.cols));
  for (size_t j = 0; j < list.count(); ++j) {
    d(static_cast<int>(list.entries[2 * j]) - 1, static_cast<int>(list.entries[2 * j + 1]) - 1) +=
        1;
  }
  return d;
}

Dense matmul(const Dense &A, const Dense &B) {
  Dense C(A.rows, B.cols);
  for (int i = 0; i < A.rows; ++i)
    for (int j = 0; j < B.cols; ++j)
      for (int k = 0; k < A.cols; ++k) C(i, j) = C(i, j) + A(i, k) * B(k, j);
  return C;
}

// L*X*R from count matrices, each element formed from 0 by adding X(b, c)
// once per listing, b ascending outside and c ascending inside: the order of
// the plug-in when L is sorted by column and R by row.
Dense orderedProduct(const Dense &L, const Dense &X, const Dense &R) {
  Dense Y(L.rows, R.cols);
  for (int a = 0; a < L.rows; ++a)
    for (int d = 0; d < R.cols; ++d)
      for (int b = 0; b < L.cols; ++b)
        for (int i = 0; i < L(a, b); ++i)
          for (int c = 0; c < R.rows; ++c)
            for (int j = 0; j < R(c, d); ++j) Y(a, d) = Y(a, d) + X(b, c);
  return Y;
}

// The row or column a selector entry draws from (0-based), -1 for nothing.
int selected(double entry) {
  return entry >= 1 ? static_cast<int>(std::trunc(entry)) - 1 : -1;
}

// The gathered term at pattern position (r, c), or nothing.
bool term(const std::vector<double> &u, const Dense &X, const std::vector<double> &v,
          const std::vector<double> *W, int m, int r, int c, double *t) {
  int a = selected(u[r]);
  int b = selected(v[c]);
  if (a < 0 || b < 0) return false;
  *t = W ? X(a, b) * (*W)[r + static_cast<size_t>(m) * c] : X(a, b);
  return true;
}

// flankmask (W null) and flankscale: each position adds its one term once
// per listing, so every order of those additions gives the same bits.
Dense maskedReference(const std::vector<double> &u, const Dense &X, const std::vector<double> &v,
                      const Dense &P, const std::vector<double> *W) {
  Dense Y(P.rows, P.cols);
  double t;
  for (int c = 0; c < P.cols; ++c)
    for (int r = 0; r < P.rows; ++r)
      if (P(r, c) > 0 && term(u, X, v, W, P.rows, r, c, &t))
        for (int i = 0; i < P(r, c); ++i) Y(r, c) = t + Y(r, c);
  return Y;
}

// flankinner: the terms in column-major order of the positions, the order of
// the plug-in for a pattern sorted that way.
double innerReference(const std::vector<double> &u, const Dense &X, const std::vector<double> &v,
                      const Dense &P, const std::vector<double> &W) {
  double y = 0, t;
  for (int c = 0; c < P.cols; ++c)
    for (int r = 0; r < P.rows; ++r)
      if (P(r, c) > 0 && term(u, X, v, &W, P.rows, r, c, &t))
        for (int i = 0; i < P(r, c); ++i) y = t + y;
  return y;
}

std::vector<const mxArray *> raw(const std::vector<ArrayPtr> &arrays) {
  std::vector<const mxArray *> r;
  for (const ArrayPtr &a : arrays) r.push_back(a.get());
  return r;
}

std::string describe(const CallResult &r) {
  std::string text = r.identifier + " " + r.message;
  for (const std::string &v : r.violations) text += "\n  violation: " + v;
  return text;
}

// Calls a plug-in that must succeed and compares its output with the
// expected dense matrix exactly (class, size, every bit).
void expectResult(const std::string &name, const std::vector<ArrayPtr> &inputs,
                  const Dense &expected, const std::string &context) {
  CallResult r = plugin(name).call(1, raw(inputs));
  ASSERT_EQ(r.status, CallResult::Status::ok) << name << " " << context << ": " << describe(r);
  ArrayPtr want = array(expected);
  std::string why;
  EXPECT_TRUE(mexhost::sameArray(want.get(), r.outputs[0].get(), &why))
      << name << " " << context << ": " << why;
}

class Random {
 public:
  explicit Random(unsigned seed) : gen_(seed) {}
  int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen_); }
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(gen_) < p; }
  double fraction() {
    return chance(0.3) ? std::uniform_real_distribution<double>(0, 0.99)(gen_) : 0;
  }
  // Real values of mixed magnitude and sign, now and then -0, Inf or NaN.
  double value() {
    if (chance(0.03)) {
      const double odd[] = {-0.0, INFINITY, -INFINITY, NAN};
      return odd[uniform(0, 3)];
    }
    return std::normal_distribution<double>(0, 1)(gen_) * std::pow(10.0, uniform(-3, 3));
  }
  Dense matrix(int rows, int cols, bool integers) {
    Dense d(rows, cols);
    for (double &x : d.v) x = integers ? uniform(-9, 9) : value();
    return d;
  }
  // A list of a rows-by-cols 0/1 matrix: up to 8 entries, some repeated, some
  // with fractions; or (when allowed) the identity.
  List list(int rows, int cols, bool identityAllowed) {
    List l;
    if (identityAllowed && chance(0.2)) {
      l.identity = true;
      l.twoByZero = chance(0.5);
      return l;
    }
    l.rows = rows + fraction();
    l.cols = cols + fraction();
    int k = rows > 0 && cols > 0 ? uniform(0, 8) : 0;
    for (int j = 0; j < k; ++j) {
      if (j > 0 && chance(0.2)) {
        size_t copy = 2 * static_cast<size_t>(uniform(0, j - 1));
        l.entries.push_back(l.entries[copy]);
        l.entries.push_back(l.entries[copy + 1]);
      } else {
        l.entries.push_back(uniform(1, rows) + fraction());
        l.entries.push_back(uniform(1, cols) + fraction());
      }
    }
    return l;
  }
  // m entries drawing from 1..count, or from nothing (0, 0.5, -3, -1e300).
  std::vector<double> selector(int m, int count) {
    std::vector<double> s(m);
    const double nothing[] = {0, 0.5, -3, -1e300};
    for (double &e : s)
      e = count > 0 && chance(0.8) ? uniform(1, count) + fraction() : nothing[uniform(0, 3)];
    return s;
  }

 private:
  std::mt19937 gen_;
};

// Stable sort of a list's entries by one coordinate (0: row, 1: column).
void sortBy(List *list, int coordinate) {
  std::vector<std::pair<double, double>> e;
  for (size_t j = 0; j < list->count(); ++j)
    e.emplace_back(list->entries[2 * j], list->entries[2 * j + 1]);
  std::stable_sort(e.begin(), e.end(), [coordinate](const auto &x, const auto &y) {
    return coordinate == 0 ? std::trunc(x.first) < std::trunc(y.first)
                           : std::trunc(x.second) < std::trunc(y.second);
  });
  list->entries.clear();
  for (const auto &p : e) {
    list->entries.push_back(p.first);
    list->entries.push_back(p.second);
  }
}

// Column-major order of positions: by column, then by row.
void sortColumnMajor(List *list) {
  sortBy(list, 0);
  sortBy(list, 1);
}

TEST(FlankprodRandom, MatchesTheDenseProduct) {
  Random rng(20261208);
  for (int trial = 0; trial < 6000; ++trial) {
    // Odd trials: real data and lists sorted as orderedProduct walks them
    // (bit for bit). Even trials: integer data, lists in random order, and
    // an ordinary matrix product (exact whatever the order).
    bool integers = trial % 2 == 0;
    int M = rng.uniform(0, 6), N = rng.uniform(0, 6);
    List L = rng.list(rng.uniform(0, 6), M, true);
    List R = rng.list(N, rng.uniform(0, 6), true);
    Dense X = rng.matrix(M, N, integers);
    if (!integers) {
      sortBy(&L, 1);
      sortBy(&R, 0);
    }
    std::vector<ArrayPtr> in;
    in.push_back(array(L));
    in.push_back(array(X));
    in.push_back(array(R));
    Dense l = counts(L, M), r = counts(R, N);
    expectResult("flankprod", in, integers ? matmul(matmul(l, X), r) : orderedProduct(l, X, r),
                 "trial " + std::to_string(trial));
  }
}

// One random call of the gather family: X is M-by-N, P an m-by-n pattern (or
// the identity, m = n = N), u and v select within X or nothing, W holds m*n
// weights and maybe a few more.
struct GatherCase {
  Dense X{0, 0};
  List P;
  int m = 0, n = 0;
  std::vector<double> u, v, W;
};

GatherCase randomGather(Random &rng, bool integers, int smallest = 0) {
  GatherCase g;
  int M = rng.uniform(0, 6), N = rng.uniform(0, 6);
  g.X = rng.matrix(M, N, integers);
  g.P = rng.list(rng.uniform(smallest, 6), rng.uniform(smallest, 6), smallest == 0);
  g.m = g.P.identity ? N : static_cast<int>(g.P.rows);
  g.n = g.P.identity ? N : static_cast<int>(g.P.cols);
  g.u = rng.selector(g.m, M);
  g.v = rng.selector(g.n, N);
  g.W.resize(static_cast<size_t>(g.m) * g.n + rng.uniform(0, 2));
  for (double &w : g.W) w = integers ? rng.uniform(-9, 9) : rng.value();
  return g;
}

std::vector<ArrayPtr> gatherInputs(const GatherCase &g, bool weighted) {
  std::vector<ArrayPtr> in;
  in.push_back(array(g.m, 1, g.u));
  in.push_back(array(g.X));
  in.push_back(array(1, g.n, g.v));
  in.push_back(array(g.P));
  if (weighted) in.push_back(array(1, static_cast<int>(g.W.size()), g.W));
  return in;
}

TEST(GatherRandom, MatchesTheMaskedAndWeightedReference) {
  Random rng(4242);
  for (int trial = 0; trial < 6000; ++trial) {
    // flankmask and flankscale: any pattern order, since each position adds
    // the same term once per listing. flankinner: odd trials with real data
    // and the pattern in column-major order (bit for bit), even trials with
    // integer data in random order (exact).
    bool integers = trial % 2 == 0;
    GatherCase g = randomGather(rng, integers);
    Dense P = counts(g.P, g.X.cols);
    std::string context = "trial " + std::to_string(trial);
    expectResult("flankmask", gatherInputs(g, false), maskedReference(g.u, g.X, g.v, P, nullptr),
                 context);
    expectResult("flankscale", gatherInputs(g, true), maskedReference(g.u, g.X, g.v, P, &g.W),
                 context);
    if (!integers) sortColumnMajor(&g.P);
    Dense y(1, 1);
    y(0, 0) = innerReference(g.u, g.X, g.v, P, g.W);
    expectResult("flankinner", gatherInputs(g, true), y, context);
  }
}

// What a broken call must end in.
struct Expected {
  std::string identifier;
  std::string message;  // checked only when not empty
};

void expectError(const std::string &name, const std::vector<ArrayPtr> &inputs, size_t nrhs,
                 const Expected &expected, const std::string &context) {
  std::vector<const mxArray *> in = raw(inputs);
  in.resize(std::min(nrhs, in.size()));
  CallResult r = plugin(name).call(1, in);
  ASSERT_EQ(r.status, CallResult::Status::error) << name << " " << context << ": " << describe(r);
  EXPECT_EQ(r.identifier, expected.identifier) << name << " " << context << ": " << r.message;
  if (!expected.message.empty()) {
    EXPECT_EQ(r.message, expected.message) << name << " " << context;
  }
}

// Breaks a list with at least one entry in one of several ways; every one is
// an invalid position list.
void breakList(Random &rng, List *list) {
  size_t j = static_cast<size_t>(rng.uniform(0, static_cast<int>(list->count()) - 1));
  const double hostile[] = {NAN, INFINITY, -INFINITY, 3e9, -3e9, 2147483648.0, 1e300};
  switch (rng.uniform(0, 4)) {
    case 0: list->entries[2 * j + rng.uniform(0, 1)] = hostile[rng.uniform(0, 6)]; break;
    case 1: list->entries[2 * j] = list->rows + 1; break;  // past the declared rows
    case 2: list->entries[2 * j + 1] = rng.chance(0.5) ? 0 : 0.5; break;
    case 3: list->rows = -1; break;
    default: list->cols = hostile[rng.uniform(0, 6)]; break;
  }
}

TEST(Hostile, BrokenProductCallsEndInTheirError) {
  Random rng(13);
  for (int trial = 0; trial < 2000; ++trial) {
    int M = rng.uniform(1, 5), N = rng.uniform(1, 5);
    List L = rng.list(rng.uniform(1, 5), M, false);
    List R = rng.list(N, rng.uniform(1, 5), false);
    Dense X = rng.matrix(M, N, false);
    size_t nrhs = 3;
    Expected expected{"flankprod:invalidPositionList", ""};
    std::vector<ArrayPtr> in;
    int how = rng.uniform(0, 3);
    if (how == 0 && L.count() > 0) {
      breakList(rng, &L);
    } else if (how == 1 && R.count() > 0) {
      breakList(rng, &R);
    } else if (how == 2) {
      nrhs = static_cast<size_t>(rng.uniform(0, 2));
      expected = {"flankprod:wrongNumInputs", ""};
    } else {
      L.cols = M + 1;  // L no longer fits X
      expected = {"", "incorrect dimension"};
    }
    in.push_back(array(L));
    in.push_back(array(X));
    in.push_back(array(R));
    expectError("flankprod", in, nrhs, expected, "trial " + std::to_string(trial));
  }
}

TEST(Hostile, BrokenGatherCallsEndInTheirError) {
  Random rng(31);
  const char *names[] = {"flankmask", "flankscale", "flankinner"};
  for (int trial = 0; trial < 3000; ++trial) {
    std::string name = names[trial % 3];
    bool weighted = name != "flankmask";
    GatherCase g = randomGather(rng, false, 1);
    size_t nrhs = weighted ? 5 : 4;
    Expected expected{name + ":indexOutOfRange", ""};
    int how = rng.uniform(0, 4);
    size_t j = g.P.count() > 0
                   ? static_cast<size_t>(rng.uniform(0, static_cast<int>(g.P.count()) - 1))
                   : 0;
    const double hostile[] = {NAN, INFINITY, -INFINITY, 1e300, 4294967297.0};
    if (how == 0 && g.P.count() > 0) {  // a used row selector entry
      int r = static_cast<int>(g.P.entries[2 * j]) - 1;
      g.u[r] = rng.chance(0.5) ? hostile[rng.uniform(0, 4)] : g.X.rows + 1;
    } else if (how == 1 && g.P.count() > 0) {  // a used column selector entry
      int c = static_cast<int>(g.P.entries[2 * j + 1]) - 1;
      g.v[c] = rng.chance(0.5) ? hostile[rng.uniform(0, 4)] : g.X.cols + 1;
    } else if (how == 2 && g.P.count() > 0) {
      breakList(rng, &g.P);
      expected = {name + ":invalidPositionList", ""};
    } else if (how == 3 && weighted) {
      g.W.resize(static_cast<size_t>(g.m) * g.n - 1);
      expected = {name + ":invalidInput", ""};
    } else {
      nrhs = static_cast<size_t>(rng.uniform(0, static_cast<int>(nrhs) - 1));
      expected = {name + ":wrongNumInputs", ""};
    }
    expectError(name, gatherInputs(g, weighted), nrhs, expected, "trial " + std::to_string(trial));
  }
}

long peakResidentKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(Sizes, BeyondThirtyTwoBitsAreRefusedOrCostNothing) {
  std::vector<ArrayPtr> tall;
  tall.push_back(array(0, 0, {}));
  tall.push_back(ArrayPtr(mxCreateDoubleMatrix_730(size_t{1} << 31, 0, mxREAL)));
  tall.push_back(array(0, 0, {}));
  expectError("flankprod", tall, 3,
              {"flankprod:tooLarge",
               "X (argument 2) is 2147483648-by-0; this plug-in takes at most 2147483647 rows and "
               "columns."},
              "2^31 rows");

  // A result of more than 2^31 - 1 elements is refused before it is created.
  std::vector<ArrayPtr> wide;
  wide.push_back(array(70000, 1, std::vector<double>(70000, 1.0)));
  wide.push_back(array(1, 1, {5}));
  wide.push_back(array(1, 70000, std::vector<double>(70000, 1.0)));
  wide.push_back(array(2, 1, {70000, 70000}));
  expectError("flankmask", wide, 4,
              {"flankmask:tooLarge",
               "The result would be 70000-by-70000, more than 2147483647 elements; this plug-in "
               "works with 32-bit sizes."},
              "70000^2");

  // An X with a huge dimension and no elements: the empty lists are not
  // spelled out as their 2^28 - 1 diagonal pairs (2 GB), since no term exists.
  const int huge = (1 << 28) - 1;
  std::vector<ArrayPtr> degenerate;
  degenerate.push_back(array(0, 0, {}));
  degenerate.push_back(ArrayPtr(mxCreateDoubleMatrix_730(huge, 0, mxREAL)));
  degenerate.push_back(array(2, 0, {}));
  const long before = peakResidentKilobytes();
  expectResult("flankprod", degenerate, Dense(huge, 0), "2^28 - 1 by 0");
  const long kAllowedKilobytes = 512 * 1024;
  EXPECT_LT(peakResidentKilobytes() - before, kAllowedKilobytes)
      << "kilobytes of peak memory added";
}

}  // namespace

// The flank plug-ins against plain dense references, with fixed seeds.
//
// flankprod: L and R become dense 0/1 count matrices and Y = L*X*R is formed
// from them. With L's entries sorted by column and R's by row, the reference
// adds in the plug-in's order and the results agree bit for bit on any data;
// shuffled lists are compared with an ordinary matrix product on integer data,
// where every order of additions gives the same sum.
// flankmask, flankscale, flankinner: the masked and weighted forms evaluated
// position by position from a dense count matrix of the pattern.
// Orders of evaluation: every way the plug-ins walk their lists (each kind of
// L against each kind of R, long patterns in any order) against the plain
// loops in list order, bit for bit, on data whose sums show any reordering.
// Hostile inputs: valid calls with one thing broken must end in an error with
// the expected identifier, never in a contract violation or a crash (the asan
// build runs this suite under AddressSanitizer and LeakSanitizer).
// Sizes: limits of the 32-bit interface, and scratch that follows the lists
// rather than the sizes they declare.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "casetools.h"

namespace {

using mexhost::ArrayPtr;
using mexhost::CallResult;

const mexhost::Plugin &plugin(const char *name) {
  return mexhost::openPlugin(TOOLBOX_PLUGIN_DIR, name);
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
  CallResult r = plugin(name.c_str()).call(1, raw(inputs));
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
  CallResult r = plugin(name.c_str()).call(1, in);
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

// --- orders of evaluation ---------------------------------------------------
//
// flankprod runs the plain loops only for an L of a few pairs: otherwise it
// walks Y column by column, R grouped by column, L's pairs reordered within
// the freedom each row of L leaves and taken in blocks, an identity L as
// whole columns. The gather family takes the pattern in prefetched blocks.
// Each element must still take exactly the additions of the plain loops, in
// their order. The references below are those loops, word for word, over
// the decoded lists; the data mixes magnitudes from 2^-40 to 2^41 and both
// signs, so that an element summed in another order would (almost always)
// differ in its last bits.

// A list's pairs as the plug-ins decode them (0-based, truncated), in list
// order; an identity becomes its diagonal.
std::vector<std::pair<int, int>> decoded(const List &list, int identitySize) {
  std::vector<std::pair<int, int>> pairs;
  if (list.identity) {
    for (int i = 0; i < identitySize; ++i) pairs.emplace_back(i, i);
    return pairs;
  }
  for (size_t j = 0; j < list.count(); ++j) {
    pairs.emplace_back(static_cast<int>(list.entries[2 * j]) - 1,
                       static_cast<int>(list.entries[2 * j + 1]) - 1);
  }
  return pairs;
}

// Y(a, d) = Y(a, d) + X(b, c): L's pairs (a, b) outer, R's pairs (c, d)
// inner, each in list order, from Y = 0.
Dense plainProduct(const List &L, const Dense &X, const List &R) {
  Dense Y(L.identity ? X.rows : static_cast<int>(L.rows),
          R.identity ? X.cols : static_cast<int>(R.cols));
  for (const auto &l : decoded(L, X.rows))
    for (const auto &r : decoded(R, X.cols))
      Y(l.first, r.second) = Y(l.first, r.second) + X(l.second, r.first);
  return Y;
}

// The three gather loops over the pattern in list order.
enum class Gather { mask, scale, inner };

Dense plainGather(Gather form, const GatherCase &g) {
  Dense Y(form == Gather::inner ? 1 : g.m, form == Gather::inner ? 1 : g.n);
  double y = 0;
  for (const auto &p : decoded(g.P, g.X.cols)) {
    int a = selected(g.u[p.first]);
    int b = selected(g.v[p.second]);
    if (b < 0 || a < 0) continue;
    double x = g.X(a, b);
    size_t o = p.first + static_cast<size_t>(g.m) * p.second;
    if (form == Gather::mask) Y.v[o] = Y.v[o] + x;
    if (form == Gather::scale) Y.v[o] = x * g.W[o] + Y.v[o];
    if (form == Gather::inner) y = x * g.W[o] + y;
  }
  if (form == Gather::inner) Y(0, 0) = y;
  return Y;
}

// A value of either sign between 2^-40 and 2^41, now and then -0 (which
// a sum started from +0 turns into +0).
double wideValue(Random &rng) {
  if (rng.chance(0.02)) return -0.0;
  double magnitude =
      std::ldexp(1.0 + rng.uniform(0, 1 << 20) / double(1 << 20), rng.uniform(-40, 40));
  return rng.chance(0.5) ? -magnitude : magnitude;
}

Dense wideMatrix(Random &rng, int rows, int cols) {
  Dense d(rows, cols);
  for (double &x : d.v) x = wideValue(rng);
  return d;
}

// The shapes of 0/1 matrix that the product walks differently.
enum class Kind {
  identity,     // an empty list
  zero,         // the size alone
  single,       // one pair
  selection,    // at most one pair per row (L) or column (R), in random order
  general,      // rows (L) or columns (R) with several pairs, positions listed twice
  columnOrder,  // general, listed in column order (find's order)
  line,         // a single row of L, a single column of R
  many,         // general with thousands of pairs
  wide,         // a few pairs in a very wide R (or tall L)
};
const Kind kKinds[] = {Kind::identity,    Kind::zero, Kind::single, Kind::selection, Kind::general,
                       Kind::columnOrder, Kind::line, Kind::many,   Kind::wide};

const char *kindName(Kind kind) {
  const char *names[] = {"identity",    "zero", "single", "selection", "general",
                         "columnOrder", "line", "many",   "wide"};
  return names[static_cast<int>(kind)];
}

// A list of a 0/1 matrix; inner is the side X's rows (L) or columns (R)
// lie on, outer the side of Y. side: 0 for L (pairs (outer, inner)), 1 for
// R (pairs (inner, outer)).
List kindList(Random &rng, Kind kind, int inner, int side) {
  List l;
  if (kind == Kind::identity) {
    l.identity = true;
    l.twoByZero = rng.chance(0.5);
    return l;
  }
  int outer = rng.uniform(1, 40);
  int k = 0;
  switch (kind) {
    case Kind::zero: k = 0; break;
    case Kind::single: k = 1; break;
    case Kind::selection: k = outer; break;
    case Kind::general:
    case Kind::columnOrder: k = rng.uniform(2, 4 * outer); break;
    case Kind::line:
      outer = 1;
      k = rng.uniform(2, 60);
      break;
    case Kind::many: k = rng.uniform(2100, 4500); break;
    case Kind::wide:
      outer = rng.uniform(20000, 40000);
      k = rng.uniform(1, 6);
      break;
    default: break;
  }
  if (inner == 0) k = 0;
  std::vector<int> outers(static_cast<size_t>(outer));
  for (int i = 0; i < outer; ++i) outers[i] = i + 1;
  std::shuffle(outers.begin(), outers.end(), std::mt19937(rng.uniform(0, 1 << 30)));
  std::vector<std::pair<double, double>> pairs;  // (outer, inner), 1-based
  // A wide list draws on three of its rows (L) or columns (R), so that a
  // few of its pairs meet in one.
  const int few[] = {rng.uniform(1, outer), rng.uniform(1, outer), rng.uniform(1, outer)};
  for (int j = 0; j < k; ++j) {
    if (kind == Kind::wide) {
      pairs.emplace_back(few[rng.uniform(0, 2)], rng.uniform(1, inner) + rng.fraction());
      continue;
    }
    if (j > 0 && kind != Kind::selection && rng.chance(0.1)) {
      pairs.push_back(pairs[static_cast<size_t>(rng.uniform(0, j - 1))]);  // listed twice
      continue;
    }
    double o = kind == Kind::selection ? outers[static_cast<size_t>(j)] : rng.uniform(1, outer);
    pairs.emplace_back(o + rng.fraction(), rng.uniform(1, inner) + rng.fraction());
  }
  if (kind == Kind::columnOrder) {
    std::stable_sort(pairs.begin(), pairs.end(), [side](const auto &x, const auto &y) {
      return side == 0 ? std::trunc(x.second) < std::trunc(y.second)
                       : std::trunc(x.first) < std::trunc(y.first);
    });
  }
  for (const auto &p : pairs) {
    l.entries.push_back(side == 0 ? p.first : p.second);
    l.entries.push_back(side == 0 ? p.second : p.first);
  }
  l.rows = (side == 0 ? outer : inner) + rng.fraction();
  l.cols = (side == 0 ? inner : outer) + rng.fraction();
  return l;
}

TEST(FlankprodOrder, EveryWalkKeepsThePlainLoopsOrder) {
  Random rng(8);
  for (Kind left : kKinds) {
    for (Kind right : kKinds) {
      // Wide against wide (a result of about 10^9 elements) and many
      // against many (10^7 terms) are left out; each meets every other kind.
      if (left == right && (left == Kind::wide || left == Kind::many)) continue;
      for (int trial = 0; trial < 6; ++trial) {
        // X's rows cross the identity kernel's blocks of 512 now and then;
        // an odd count leaves a row outside the vector steps.
        int M = rng.chance(0.3) ? rng.uniform(500, 1100) : rng.uniform(1, 60);
        int N = rng.uniform(1, 60);
        if (left == Kind::many || right == Kind::many || right == Kind::wide) {
          M = rng.uniform(1, 60);
        }
        List L = kindList(rng, left, M, 0);
        List R = kindList(rng, right, N, 1);
        Dense X = wideMatrix(rng, M, N);
        std::vector<ArrayPtr> in;
        in.push_back(array(L));
        in.push_back(array(X));
        in.push_back(array(R));
        expectResult("flankprod", in, plainProduct(L, X, R),
                     std::string("L ") + kindName(left) + ", R " + kindName(right) + ", trial " +
                         std::to_string(trial));
      }
    }
  }
}

// Positions listed again and again, in random order, with selector entries
// that select nothing; patterns long enough to span many prefetch blocks.
TEST(GatherOrder, EveryWalkKeepsThePlainLoopOrder) {
  Random rng(99);
  for (int trial = 0; trial < 300; ++trial) {
    GatherCase g;
    int M = rng.uniform(1, 50), N = rng.uniform(1, 50);
    g.X = wideMatrix(rng, M, N);
    bool identity = rng.chance(0.1);
    g.m = identity ? N : rng.uniform(1, 50);
    g.n = identity ? N : rng.uniform(1, 50);
    g.P.identity = identity;
    g.P.rows = g.m + rng.fraction();
    g.P.cols = g.n + rng.fraction();
    int k = identity ? 0 : rng.uniform(0, 3000);
    for (int j = 0; j < k; ++j) {
      if (j > 0 && rng.chance(0.3)) {
        size_t copy = 2 * static_cast<size_t>(rng.uniform(0, j - 1));
        g.P.entries.push_back(g.P.entries[copy]);
        g.P.entries.push_back(g.P.entries[copy + 1]);
      } else {
        g.P.entries.push_back(rng.uniform(1, g.m) + rng.fraction());
        g.P.entries.push_back(rng.uniform(1, g.n) + rng.fraction());
      }
    }
    if (rng.chance(0.2)) sortColumnMajor(&g.P);
    g.u = rng.selector(g.m, M);
    g.v = rng.selector(g.n, N);
    g.W.resize(static_cast<size_t>(g.m) * g.n);
    for (double &w : g.W) w = wideValue(rng);
    std::string context = "trial " + std::to_string(trial) + ", " + std::to_string(k) + " entries";
    expectResult("flankmask", gatherInputs(g, false), plainGather(Gather::mask, g), context);
    expectResult("flankscale", gatherInputs(g, true), plainGather(Gather::scale, g), context);
    expectResult("flankinner", gatherInputs(g, true), plainGather(Gather::inner, g), context);
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

// The peak resident memory since the last reset (VmHWM), in kilobytes;
// resetPeak returns false where the kernel does not let a process reset it.
bool resetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

long peakSinceReset() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Calls flankprod and returns the resident memory its call added at its
// peak, in kilobytes; the result is checked afterwards against the few
// elements it holds (everything else zero), so that no reference of the
// result's size is in memory during the call.
long peakAddedByCall(const std::vector<ArrayPtr> &inputs, const std::map<size_t, double> &nonzero,
                     const std::string &context) {
  (void)resetPeak();
  const long before = peakSinceReset();
  CallResult r = plugin("flankprod").call(1, raw(inputs));
  const long added = peakSinceReset() - before;
  EXPECT_EQ(r.status, CallResult::Status::ok) << context << ": " << describe(r);
  if (r.status != CallResult::Status::ok) return added;
  const double *y = mxGetPr(r.outputs[0].get());
  size_t count = mxGetNumberOfElements(r.outputs[0].get());
  size_t held = 0;
  for (size_t k = 0; k < count; ++k) {
    if (y[k] == 0 && !std::signbit(y[k])) continue;
    ++held;
    auto want = nonzero.find(k);
    EXPECT_TRUE(want != nonzero.end() && want->second == y[k])
        << context << ": element " << k << " holds " << y[k];
  }
  EXPECT_EQ(held, nonzero.size()) << context;
  return added;
}

// Grouping R by column and ordering L use counters for every column of R or
// row of L only when the lists hold about as many pairs: a few pairs in a
// 2^25-wide R or a 2^25-tall L must not cost counters for all 2^25 (128
// MiB). Y, 256 MiB, is written at two elements only.
TEST(Sizes, ScratchFollowsThePairsNotTheDeclaredSizes) {
  if (!resetPeak()) GTEST_SKIP() << "/proc/self/clear_refs cannot be written here";
  const double wide = 1 << 25;
  const long kAllowedKilobytes = 48 * 1024;
  std::vector<ArrayPtr> in;
  // L: row 1 of X, then row 2. R: columns (1, 2) of X into column 7e6 of Y
  // and (2, 1) into column 7, out of column order. X = [1 3; 2 4].
  in.push_back(array(2, 3, {1, 1, 1, 2, 1, 2}));
  in.push_back(array(2, 2, {1, 2, 3, 4}));
  in.push_back(array(2, 5, {1, 7e6, 2, 7, 1, 7, 2, 7e6, 2, wide}));
  EXPECT_LT(peakAddedByCall(in, {{6, 3 + 1 + 4 + 2}, {6999999, 1 + 3 + 2 + 4}}, "2^25-wide R"),
            kAllowedKilobytes)
      << "kilobytes of peak memory added";
  in.clear();
  // L: row 2 of X into row 9e6 of Y, row 1 into row 5, row 1 into row 9e6;
  // R: columns (1, 2, 1, 2) of X into column 1.
  in.push_back(array(2, 4, {9e6, 2, 5, 1, 9e6, 1, wide, 2}));
  in.push_back(array(2, 2, {1, 2, 3, 4}));
  in.push_back(array(2, 5, {1, 1, 2, 1, 1, 1, 2, 1, 2, 1}));
  EXPECT_LT(peakAddedByCall(in, {{4, 1 + 3 + 1 + 3}, {8999999, 2 + 4 + 2 + 4 + 1 + 3 + 1 + 3}},
                            "2^25-tall L"),
            kAllowedKilobytes)
      << "kilobytes of peak memory added";
}

}  // namespace

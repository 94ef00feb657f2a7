// unique.h: the unique-optimum engine. It finds an optimal assignment by
// shortest augmenting paths (the method of scipy's linear_sum_assignment,
// started from each line's least cost and an augmenting reduction), then
// proves that the covering steps, run in doubles, would end on that very
// assignment: when every other assignment costs more than the steps'
// rounding can account for, the steps cannot end anywhere else. When the
// proof does not go through (ties, near ties, costs the bound does not
// cover) the engine reports inexact and the plan (plan.h) goes on to the
// next engine. Nothing it computes reaches the result unless the proof
// holds, so the search itself needs no care about rounding.
//
// Why the steps end on the certified assignment. K = min(M, N) pairs; a
// complete assignment pairs every row (M <= N) or every column (M > N);
// u = 2^-53. The steps run on C with Inf replaced by the substitute S (as
// every engine does; solve.h); Fmax is the largest finite cost, and every
// finite cost is at least 0. Take the steps' working costs F, R the first
// reduction (each cost less its line's least, rounded; a line is a row when
// M <= N, else a column), and for every step 5 its h; A_r sums the h of the
// step 5s that covered row r, B_c those that left column c uncovered, T
// every h, S_e = R_e + A_r - B_c exactly for element e = (r, c). As is the
// steps' assignment, Ac the search's, and for a complete assignment X,
// R(X) sums R over its pairs.
//  U1. At most K phases and at most K step 5s in each, so at most K^2 step
//      5s; hybrid.h's E1 then gives |F_e - S_e| <= eps_e = c1 (R_e + T),
//      c1 = 2 K^2 u (1 + 2^-20), since A_r <= T.
//  U2. F >= 0 everywhere, and each star is an exact zero to the end (a star
//      sits where its row is covered or its column is, never both, so a
//      step 5 leaves it alone or computes (0 + h) - h = 0). So the sum of F
//      over As is 0 and over any complete assignment at least 0.
//  U3. For every complete B: sum_As S - sum_B S >= R(As) - R(B). M <= N:
//      both pair every row; a column As leaves unpaired never held a star,
//      was never covered, and has B_c = T, the most any column has. M > N:
//      both pair every column; a row As leaves unpaired never held a star,
//      was never covered, and has A_r = 0, the least. With U1 and U2:
//      R(As) - R(B) <= c1 (R(As) + R(B) + 2 K T).
//  U4. D = sum over As's columns of B_c - sum over As's rows of A_r starts
//      at 0, and a step 5 raises it by h times (K less the covered lines),
//      at least h: covered columns and rows hold stars, which stay in their
//      columns and rows, so they are As's; and the covered lines number the
//      stars of the phase, fewer than K. So T <= D = R(As) - sum_As S
//      <= R(As) + c1 (R(As) + K T), and T <= R(As) (1 + c1) / (1 - K c1).
//  U5. U3 with B = Ac and U4: R(As) <= Xb = R(Ac) (1 + c1) / (1 - a), a =
//      c1 + 2 K c1 (1 + c1) / (1 - K c1); and T <= Tb = Xb (1 + c1) /
//      (1 - K c1). A substitute in As would make R(As) at least
//      (S - Fmax)(1 - u) (Ac pairs every line, so each line's least is
//      finite); the engine requires Xb below that, so As is finite.
//  U6. R_e = C_e - (line least) + rho_e with |rho_e| <= u' R_e, u' = u /
//      (1 - u), and a complete assignment takes each line's least once; so
//      for As against Ac, with w = c1 + u' and Delta = cost(As) -
//      cost(Ac): Delta <= w (R(As) + R(Ac)) + 2 K c1 Tb, and R(As) <=
//      (R(Ac) (1 + u') + Delta) / (1 - u'), so Delta <= delta = (w R(Ac)
//      (2 + 2u') / (1 - u') + 2 K c1 Tb) / (1 - w / (1 - u')).
//  U7. The certificate: cost(B) > cost(Ac) + delta for every finite
//      complete B != Ac (below). As is finite (U5), so As = Ac (U6).
// The certificate. The search solves the smaller side (the left items:
// the columns when M >= N, else the rows) against the other (right) and
// returns duals p (left) and v (right), v <= 0 and v = 0 where no left item
// is paired. With r = C - p - v exactly (these duals are just numbers),
// cost(B) - cost(Ac) = sum over B \ Ac of r - sum over Ac \ B of r + sum of
// -v over the right items Ac pairs and B does not. B differs from Ac in
// cycles (left i takes B(i), held in Ac by left i') and, when right items
// are left over, paths that start at a left item whose Ac right item B
// leaves, and end on a right item Ac leaves. The engine computes
// rhat = (C - p) - v in doubles, within e = 3 u (Fmax + max|p| + max|v|)
// of r; m and rhoA bound -rhat off Ac and rhat on Ac from above. An arc
// i -> i' (or i -> sink) is a finite pair off Ac with rhat <= tau; a start
// is a left item whose Ac right item has -v <= tau. If the arcs form no
// cycle and no start reaches the sink, every cycle or path with k <= K
// pairs off Ac holds a term above tau and costs more than
// tau - K (m + 2 e + rhoA), which tau = (delta + (K + 1) (m + 2 e + rhoA))
// (1 + 2^-20) makes more than delta.
#ifndef PAIRSOLVE_UNIQUE_H
#define PAIRSOLVE_UNIQUE_H

#include <cmath>
#include <cstdint>

#include "basics.h"
#include "columns.h"
#include "summary.h"

namespace {

// The engine takes costs and substitutes up to this (sums of K costs stay
// far from overflow) and at most this many pairs (K c1 of U4 stays far
// below 1).
constexpr double kUniqueMagnitudeLimit = 0x1p500;
constexpr int kUniqueMostPairs = 20000;
// Arcs per left item the certificate keeps; more means near ties, which
// the certificate would not get through anyway.
constexpr int kUniqueArcsPerItem = 4;
// The certificate's guess of m + 2 e + rhoA, in units of e (see
// solveUnique).
constexpr double kGuessedErrors = 8.0;
// The augmenting reduction: its passes over the free left items, and its
// steps per left item in all. Measured (host-free, against no reduction):
// with 2 steps per item 500-by-1000 solves take 0.5 to 0.8 of the time and
// uniform costs 0.75 to 0.9 from 20-by-20 to 100-by-100, square 2-D
// distances the same time; with 8, square 2-D distances took 1.2 times as
// long (price wars on their near ties).
constexpr int kReductionPasses = 2;
constexpr int kReductionStepsPerItem = 2;
// Scratch per row plus column (search and certificate).
constexpr std::size_t kUniqueScratchPerLine = 128;
// The relative slack on each bound computed in doubles (a few roundings).
constexpr double kBoundSlack = 1.0 + 0x1p-20;

// C seen from the side the search solves: cost(i, j) = C[i * leftStride +
// j * rightStride], i a left item, j a right one.
struct SideView {
  const double *C;
  std::int64_t leftStride, rightStride;
  int L, R;
  bool leftAreColumns;
  double cost(int i, int j) const { return C[i * leftStride + j * rightStride]; }
};

// The search's state: a pairing of the left items, its duals, and the
// shortest-path arrays of one augmentation.
struct Search {
  int *rightOf;  // per left item
  int *leftOf;   // per right item, kNone when unpaired
  double *p;     // per left item
  double *v;     // per right item
  double *shortest;
  int *path;
  int *remaining;
  unsigned char *leftSeen;
  unsigned char *rightSeen;
};

// Each left item's least cost, and the first right item that holds it
// (kNone when none is finite), read in C's own order: down each column,
// two rows at a time with SSE2 when the left items are the columns.
void leastPerLeft(const SideView &view, double *least, int *best) {
  const int L = view.L, R = view.R;
  if (!view.leftAreColumns) {
    for (int i = 0; i < L; ++i) {
      least[i] = kInf;
      best[i] = kNone;
    }
    for (int j = 0; j < R; ++j) {
      const double *x = view.C + static_cast<std::int64_t>(j) * L;
      for (int i = 0; i < L; ++i) {
        if (x[i] < least[i]) {
          least[i] = x[i];
          best[i] = j;
        }
      }
    }
    return;
  }
  for (int i = 0; i < L; ++i) {
    const double *x = view.C + static_cast<std::int64_t>(i) * R;
    double lowest = kInf;
    int j = 0;
#if defined(__SSE2__)
    __m128d lanes = _mm_set1_pd(kInf);
    for (; j + 2 <= R; j += 2) lanes = _mm_min_pd(_mm_loadu_pd(x + j), lanes);
    lowest = lesserLane(lanes);
#endif
    for (; j < R; ++j) {
      if (x[j] < lowest) lowest = x[j];
    }
    least[i] = lowest;
    best[i] = kNone;
    if (lowest < kInf) {
      int first = 0;
      while (!(x[first] == lowest)) ++first;
      best[i] = first;
    }
  }
}

// One augmentation from the unpaired left item start: a Dijkstra search
// over the right items on the reduced costs, then the duals' update and the
// flip of the path. Returns false when no finite path exists.
bool augment(const SideView &view, Search &s, int start) {
  const int L = view.L, R = view.R;
  for (int j = 0; j < R; ++j) {
    s.shortest[j] = kInf;
    s.path[j] = kNone;
    s.rightSeen[j] = 0;
    s.remaining[j] = R - 1 - j;
  }
  for (int i = 0; i < L; ++i) s.leftSeen[i] = 0;
  int left = R;  // right items not yet reached for good
  double least = 0.0;
  int i = start, sink = kNone;
  while (sink == kNone) {
    s.leftSeen[i] = 1;
    int pick = kNone;
    double lowest = kInf;
    const double base = least - s.p[i];
    for (int k = 0; k < left; ++k) {
      int j = s.remaining[k];
      double r = base + view.cost(i, j) - s.v[j];
      if (r < s.shortest[j]) {
        s.path[j] = i;
        s.shortest[j] = r;
      }
      if (s.shortest[j] < lowest || (s.shortest[j] == lowest && s.leftOf[j] == kNone)) {
        lowest = s.shortest[j];
        pick = k;
      }
    }
    if (!(lowest < kInf)) return false;
    least = lowest;
    int j = s.remaining[pick];
    s.rightSeen[j] = 1;
    s.remaining[pick] = s.remaining[--left];
    if (s.leftOf[j] == kNone) {
      sink = j;
    } else {
      i = s.leftOf[j];
    }
  }
  s.p[start] += least;
  for (int l = 0; l < L; ++l) {
    if (s.leftSeen[l] && l != start) s.p[l] += least - s.shortest[s.rightOf[l]];
  }
  for (int j = 0; j < R; ++j) {
    if (s.rightSeen[j]) s.v[j] -= least - s.shortest[j];
  }
  for (int j = sink;;) {
    int l = s.path[j];
    s.leftOf[j] = l;
    int next = s.rightOf[l];
    s.rightOf[l] = j;
    if (l == start) break;
    j = next;
  }
  return true;
}

// Augmenting reduction (as in Jonker and Volgenant's method), before the
// augmentations: each free left item i takes the right item j1 of its
// least reduced cost C(i, j) - v[j] (u1), raising j1's price (lowering
// v[j1]) by the gap to its second least (u2), so that i is tight on j1
// and every reduced cost stays at least 0; j1's former holder becomes free
// and, when a price rose, is served next. On a tie it takes the second
// right item when the first is held. Two passes over the free items, at
// most kReductionStepsPerItem steps per left item in all (price wars on
// near ties end there); v only falls, and only on right items that stay
// paired, so unpaired ones keep v = 0. Returns how many items stay free,
// listed first in freeItems.
int reduceAugmenting(const SideView &view, Search &s, int *freeItems, int freeCount) {
  std::int64_t steps = static_cast<std::int64_t>(kReductionStepsPerItem) * view.L;
  for (int pass = 0; pass < kReductionPasses && freeCount > 0; ++pass) {
    int k = 0;
    const int listed = freeCount;
    freeCount = 0;
    while (k < listed) {
      int i = freeItems[k++];
      if (--steps < 0) {
        freeItems[freeCount++] = i;
        continue;
      }
      double u1 = kInf, u2 = kInf;
      int j1 = kNone, j2 = kNone;
      for (int j = 0; j < view.R; ++j) {
        double d = view.cost(i, j) - s.v[j];
        if (d < u2) {
          if (d < u1) {
            u2 = u1;
            j2 = j1;
            u1 = d;
            j1 = j;
          } else {
            u2 = d;
            j2 = j;
          }
        }
      }
      int held = j1 == kNone ? kNone : s.leftOf[j1];
      if (j1 == kNone || (held != kNone && !(u2 < kInf))) {
        // No finite cost, or a single one already held: the augmentations
        // decide.
        freeItems[freeCount++] = i;
        continue;
      }
      const bool rise = u1 < u2 && u2 < kInf;
      if (rise) {
        s.v[j1] -= u2 - u1;
      } else if (held != kNone) {
        j1 = j2;
        held = s.leftOf[j1];
      }
      s.p[i] = view.cost(i, j1) - s.v[j1];
      s.rightOf[i] = j1;
      s.leftOf[j1] = i;
      if (held != kNone) {
        s.rightOf[held] = kNone;
        if (rise) {
          freeItems[--k] = held;
        } else {
          freeItems[freeCount++] = held;
        }
      }
    }
  }
  return freeCount;
}

// The row and the column of left item i's pair.
inline int pairedRow(const SideView &view, const Search &s, int i) {
  return view.leftAreColumns ? s.rightOf[i] : i;
}
inline int pairedColumn(const SideView &view, const Search &s, int i) {
  return view.leftAreColumns ? i : s.rightOf[i];
}

// The certificate's pass over C: the bounds m (-rhat off the pairing is at
// most m) and rhoA (rhat on the pairing is at most rhoA), and the arcs
// with rhat <= guess, for a guess of the threshold tau made before m and
// rhoA are known (each arc's rhat kept to filter them by tau after). More
// than `most` arcs set overflow.
struct ArcPass {
  double m = 0.0;
  double rhoA = 0.0;
  int *from;
  int *to;       // the left item holding the arc's right item, or L (sink)
  double *cost;  // rhat
  std::int64_t arcs = 0;
  std::int64_t most;
  bool overflow = false;
};

inline double reducedCost(const SideView &view, const Search &s, int i, int j) {
  return (view.cost(i, j) - s.p[i]) - s.v[j];
}

// Element (row, column) of C, with rhat r <= guess: an arc unless it is a
// pair.
template <bool kLeftAreColumns>
inline void keepArc(const SideView &view, const Search &s, int row, int column, double r,
                    ArcPass &pass) {
  const int i = kLeftAreColumns ? column : row;
  const int j = kLeftAreColumns ? row : column;
  if (j == s.rightOf[i]) return;
  if (pass.arcs == pass.most) {
    pass.overflow = true;
    return;
  }
  pass.from[pass.arcs] = i;
  pass.to[pass.arcs] = s.leftOf[j] == kNone ? view.L : s.leftOf[j];
  pass.cost[pass.arcs] = r;
  ++pass.arcs;
}

// The pass in C's own order, down each column, two rows at a time with
// SSE2: rhat = (C - p) - v for every element, its least (the pairs
// included: m then bounds -rhat on them too, which only makes it larger,
// as a bound may be) and the elements with rhat <= guess, which keepArc
// sorts into arcs and pairs. Returns the least rhat.
template <bool kLeftAreColumns>
double arcPassIn(const SideView &view, const Search &s, double guess, ArcPass &pass) {
  const int rows = kLeftAreColumns ? view.R : view.L;
  const int columns = kLeftAreColumns ? view.L : view.R;
  const double *rowDual = kLeftAreColumns ? s.v : s.p;
  double least = kInf;
#if defined(__SSE2__)
  const __m128d guesses = _mm_set1_pd(guess);
  __m128d lowest = _mm_set1_pd(kInf);
#endif
  for (int c = 0; c < columns; ++c) {
    const double *x = view.C + static_cast<std::int64_t>(c) * rows;
    const double columnDual = kLeftAreColumns ? s.p[c] : s.v[c];
    int r = 0;
#if defined(__SSE2__)
    const __m128d columnDuals = _mm_set1_pd(columnDual);
    for (; r + 2 <= rows; r += 2) {
      __m128d costs = _mm_loadu_pd(x + r);
      __m128d duals = _mm_loadu_pd(rowDual + r);
      __m128d reduced = kLeftAreColumns ? _mm_sub_pd(_mm_sub_pd(costs, columnDuals), duals)
                                        : _mm_sub_pd(_mm_sub_pd(costs, duals), columnDuals);
      lowest = _mm_min_pd(reduced, lowest);
      int below = _mm_movemask_pd(_mm_cmple_pd(reduced, guesses));
      if (below != 0) {
        double lanes[2];
        _mm_storeu_pd(lanes, reduced);
        if (below & 1) keepArc<kLeftAreColumns>(view, s, r, c, lanes[0], pass);
        if (below & 2) keepArc<kLeftAreColumns>(view, s, r + 1, c, lanes[1], pass);
      }
    }
#endif
    for (; r < rows; ++r) {
      double reduced = kLeftAreColumns ? (x[r] - columnDual) - rowDual[r]
                                       : (x[r] - rowDual[r]) - columnDual;
      if (reduced < least) least = reduced;
      if (reduced <= guess) keepArc<kLeftAreColumns>(view, s, r, c, reduced, pass);
    }
  }
#if defined(__SSE2__)
  double lanesLeast = lesserLane(lowest);
  if (lanesLeast < least) least = lanesLeast;
#endif
  return least;
}

// The pass, keeping the arcs up to guess; with withBounds false only the
// arcs are gathered (a second pass, for a threshold above the guess).
void arcPass(const SideView &view, const Search &s, double guess, bool withBounds,
             ArcPass &pass) {
  pass.arcs = 0;
  pass.overflow = false;
  double least = view.leftAreColumns ? arcPassIn<true>(view, s, guess, pass)
                                     : arcPassIn<false>(view, s, guess, pass);
  if (!withBounds) return;
  if (-least > pass.m) pass.m = -least;
  for (int i = 0; i < view.L; ++i) {
    double r = reducedCost(view, s, i, s.rightOf[i]);
    if (r > pass.rhoA) pass.rhoA = r;
  }
}

// Whether the arcs of the pass with rhat <= tau form no cycle and let no
// start reach the sink (see the opening comment).
bool arcsCertify(Scratch &scratch, const SideView &view, const Search &s, const ArcPass &pass,
                 double tau) {
  const int L = view.L;
  const int sink = L;
  // The arcs by their tail (counting sort), then Kahn's order of the left
  // items; a cycle leaves some item out of it.
  int *first = scratch.takeZeroed<int>(L + 1);
  int *head = scratch.take<int>(pass.arcs > 0 ? pass.arcs : 1);
  int *inDegree = scratch.takeZeroed<int>(L);
  int *order = scratch.take<int>(L);
  for (std::int64_t a = 0; a < pass.arcs; ++a) {
    if (!(pass.cost[a] <= tau)) continue;
    ++first[pass.from[a] + 1];
    if (pass.to[a] != sink) ++inDegree[pass.to[a]];
  }
  for (int i = 0; i < L; ++i) first[i + 1] += first[i];
  int *fill = order;  // borrowed as the insertion cursor, then the order
  for (int i = 0; i < L; ++i) fill[i] = first[i];
  for (std::int64_t a = 0; a < pass.arcs; ++a) {
    if (pass.cost[a] <= tau) head[fill[pass.from[a]]++] = pass.to[a];
  }
  int ordered = 0;
  for (int i = 0; i < L; ++i) {
    if (inDegree[i] == 0) order[ordered++] = i;
  }
  for (int k = 0; k < ordered; ++k) {
    for (int a = first[order[k]]; a < first[order[k] + 1]; ++a) {
      if (head[a] != sink && --inDegree[head[a]] == 0) order[ordered++] = head[a];
    }
  }
  if (ordered < L) return false;
  // Which items reach the sink, in reverse order; none may be a start.
  unsigned char *reaches = scratch.takeZeroed<unsigned char>(L);
  for (int k = L - 1; k >= 0; --k) {
    int i = order[k];
    for (int a = first[i]; a < first[i + 1] && !reaches[i]; ++a) {
      reaches[i] = head[a] == sink || reaches[head[a]];
    }
    if (reaches[i] && -s.v[s.rightOf[i]] <= tau) return false;
  }
  return true;
}

// Solves C (no NaN, no finite cost below 0; Inf stands for substitute in
// the steps) when its optimum is certified to be the steps' assignment;
// else inexact.
SolveOutcome solveUnique(Scratch &scratch, double *assignment, const double *C, int M, int N,
                         const CostSummary &summary, double substitute) {
  const int K = M < N ? M : N;
  const double Fmax = summary.largestFinite;
  if (K == 0 || K > kUniqueMostPairs || summary.anyNaN || summary.negative ||
      !(Fmax >= 0.0 && Fmax <= kUniqueMagnitudeLimit) ||
      (summary.anyNonFinite && !(substitute <= kUniqueMagnitudeLimit))) {
    return SolveOutcome::inexact;
  }
  ScratchScope part(scratch);
  scratch.reserve(kUniqueScratchPerLine * (static_cast<std::size_t>(M) + N));
  // Left items: the columns when M >= N (the search then runs down them,
  // contiguous), else the rows.
  SideView view = M >= N ? SideView{C, M, 1, N, M, true} : SideView{C, 1, M, M, N, false};
  const int L = view.L, R = view.R;
  Search s;
  s.rightOf = scratch.take<int>(L);
  s.leftOf = scratch.take<int>(R);
  s.p = scratch.take<double>(L);
  s.v = scratch.take<double>(R);
  s.shortest = scratch.take<double>(R);
  s.path = scratch.take<int>(R);
  s.remaining = scratch.take<int>(R);
  s.leftSeen = scratch.take<unsigned char>(L);
  s.rightSeen = scratch.take<unsigned char>(R);
  for (int i = 0; i < L; ++i) {
    s.rightOf[i] = kNone;
    s.p[i] = 0.0;
  }
  for (int j = 0; j < R; ++j) {
    s.leftOf[j] = kNone;
    s.v[j] = 0.0;
  }
  // A start: each left item's price is its least cost (every reduced cost
  // stays at least 0), and it takes that right item when still free; the
  // augmentations pair the rest.
  int *best = scratch.take<int>(L);  // each left item's right item of least cost
  leastPerLeft(view, s.p, best);
  for (int i = 0; i < L; ++i) {
    if (best[i] == kNone) return SolveOutcome::inexact;  // no finite cost
    if (s.leftOf[best[i]] == kNone) {
      s.leftOf[best[i]] = i;
      s.rightOf[i] = best[i];
    }
  }
  int *freeItems = scratch.take<int>(L);
  int freeCount = 0;
  for (int i = 0; i < L; ++i) {
    if (s.rightOf[i] == kNone) freeItems[freeCount++] = i;
  }
  freeCount = reduceAugmenting(view, s, freeItems, freeCount);
  for (int k = 0; k < freeCount; ++k) {
    if (!augment(view, s, freeItems[k])) return SolveOutcome::inexact;
  }
  // The duals' sizes, and v as the certificate takes it.
  double pMax = 0.0, vMax = 0.0;
  for (int i = 0; i < L; ++i) {
    if (!std::isfinite(s.p[i])) return SolveOutcome::inexact;
    if (std::fabs(s.p[i]) > pMax) pMax = std::fabs(s.p[i]);
  }
  for (int j = 0; j < R; ++j) {
    if (!std::isfinite(s.v[j]) || s.v[j] > 0.0 || (s.leftOf[j] == kNone && s.v[j] != 0.0))
      return SolveOutcome::inexact;
    if (-s.v[j] > vMax) vMax = -s.v[j];
  }
  // R(Ac): the steps' first reduction on the search's pairs.
  double reducedAc = 0.0;
  for (int i = 0; i < L; ++i) {
    int r = pairedRow(view, s, i), c = pairedColumn(view, s, i);
    reducedAc += C[at(r, c, M)] - summary.lineLeast[M <= N ? r : c];
  }
  // U1 to U6 and the certificate's tau, each rounded up by the slack.
  const double k = static_cast<double>(K);
  const double c1 = 2.0 * k * k * kUnitRoundoff * kBoundSlack;
  const double u1 = kUnitRoundoff / (1.0 - kUnitRoundoff) * kBoundSlack;
  const double Y = reducedAc * (1.0 + 2.0 * k * kUnitRoundoff) * kBoundSlack;
  const double a = (c1 + 2.0 * k * c1 * (1.0 + c1) / (1.0 - k * c1)) * kBoundSlack;
  const double Xb = Y * (1.0 + c1) / (1.0 - a) * kBoundSlack;
  const double Tb = Xb * (1.0 + c1) / (1.0 - k * c1) * kBoundSlack;
  const double w = (c1 + u1) * kBoundSlack;
  const double delta = (w * Y * (2.0 + 2.0 * u1) / (1.0 - u1) + 2.0 * k * c1 * Tb) /
                       (1.0 - w / (1.0 - u1)) * kBoundSlack;
  const double e = 3.0 * kUnitRoundoff * (Fmax + pMax + vMax) * kBoundSlack;
  if (!std::isfinite(delta) || !std::isfinite(e) || !(a < 0.5)) return SolveOutcome::inexact;
  if (summary.anyNonFinite && !(Xb < (substitute - Fmax) * (1.0 - 2.0 * kUnitRoundoff))) {
    return SolveOutcome::inexact;
  }
  // One pass gives m, rhoA and the arcs up to a guess of tau that takes m
  // and rhoA as a few times e (the search's duals are that close to
  // feasible and tight on a clear optimum); a second pass gathers the arcs
  // again only when tau comes out above the guess, or when the arcs up to
  // the guess were too many.
  ArcPass pass;
  pass.most = static_cast<std::int64_t>(kUniqueArcsPerItem) * L;
  pass.from = scratch.take<int>(pass.most);
  pass.to = scratch.take<int>(pass.most);
  pass.cost = scratch.take<double>(pass.most);
  const double guess = (delta + (k + 1.0) * kGuessedErrors * e) * kBoundSlack;
  arcPass(view, s, guess, true, pass);
  const double tau = (delta + (k + 1.0) * (pass.m + 2.0 * e + pass.rhoA)) * kBoundSlack;
  if (!std::isfinite(tau)) return SolveOutcome::inexact;
  if (tau > guess || pass.overflow) arcPass(view, s, tau, false, pass);
#if defined(PAIRSOLVE_UNIQUE_ALWAYS_CERTIFIES)
  // A deliberately wrong build (tests only): every pairing the search finds
  // is taken as the steps' one.
  (void)arcsCertify;
#else
  // More than kUniqueArcsPerItem arcs per left item on average: near ties,
  // which the certificate would not get through anyway.
  if (pass.overflow || !arcsCertify(scratch, view, s, pass, tau)) return SolveOutcome::inexact;
#endif
  for (int i = 0; i < L; ++i) assignment[pairedRow(view, s, i)] = pairedColumn(view, s, i) + 1.0;
  return SolveOutcome::complete;
}

}  // namespace

#endif

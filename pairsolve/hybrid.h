// hybrid.h: the hybrid engine for finite or gated costs off any grid (being
// built: for now it takes no input, and every solve goes to the dense
// engine).
#ifndef PAIRSOLVE_HYBRID_H
#define PAIRSOLVE_HYBRID_H

#include "basics.h"
#include "summary.h"

namespace {

SolveOutcome solveHybrid(double * /*assignment*/, const double * /*C*/, int /*M*/, int /*N*/,
                         const CostSummary & /*summary*/, double /*substitute*/,
                         bool /*nanForbidden*/, int /*slots*/) {
  return SolveOutcome::inexact;
}

}  // namespace

#endif

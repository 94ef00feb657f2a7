// pairsolve_runs.h: one solve of a cost matrix by one engine of pairsolve's
// solver, or by the plain engine, as the pairsolve suites compare them. No
// host: the solver takes its scratch from the C library.
#ifndef TOOLBOX_TESTS_PAIRSOLVE_RUNS_H
#define TOOLBOX_TESTS_PAIRSOLVE_RUNS_H

#include <cstring>
#include <vector>

#include "pairsolve/solve.h"
#include "reference/pairsolve_plain.h"

namespace {

struct Result {
  SolveOutcome outcome;
  std::vector<double> assignment;
  double cost;
  Failure failure;  // why the costs were refused (outcome refused)
};

// The engine choices every matrix goes through: the four as the plug-in
// sizes them, then each with the smallest structures.
struct Choice {
  const char *name;
  Engine engine;
  Capacities capacities;
};

inline std::vector<Choice> engineChoices() {
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
          {"dense, one zero candidate, one-phase log", Engine::dense, smallDense},
          {"hybrid", Engine::hybrid, Capacities()},
          {"hybrid, one summary slot", Engine::hybrid, oneSlot},
          {"unique", Engine::unique, Capacities()}};
}

inline Result runEngine(const std::vector<double> &C, int M, int N, Engine engine,
                        const Capacities &capacities = Capacities(), Engine *solvedBy = nullptr) {
  Result result{SolveOutcome::complete, std::vector<double>(M, -1.0), -1.0, Failure()};
  result.outcome = solveWithFallback(systemAllocator(), result.assignment.data(), &result.cost,
                                     C.data(), M, N, engine, &result.failure, capacities, solvedBy);
  return result;
}

inline Result runPlain(const std::vector<double> &C, int M, int N) {
  Result result{SolveOutcome::complete, std::vector<double>(M, -1.0), -1.0, Failure()};
  bool complete = plain::pairsolve(result.assignment.data(), &result.cost, C.data(), M, N);
  result.outcome = complete ? SolveOutcome::complete : SolveOutcome::stuck;
  return result;
}

inline bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

#endif

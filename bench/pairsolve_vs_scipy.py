#!/usr/bin/python3
"""pairsolve against scipy's linear_sum_assignment on identical matrices.

Usage: bench/pairsolve_vs_scipy.py BUILD_DIR [--quick]

Runs BUILD_DIR/bench/pairsolve_bench (build it with the release preset) and
times scipy.optimize.linear_sum_assignment on the same matrices, which both
sides generate with the splitmix64 generator described in
bench/pairsolve_bench.cpp; the real-valued kinds other than uniform
(uniform times 100, 10^U(-3, 3), Euclidean distances of random points in
2-D and 10-D, with and without Inf beyond a gate) are written by
`pairsolve_bench --dump`, so both sides solve the same bits. Prints one row
per case: our time (the automatic engine choice, which is what the plug-in
runs) and scipy's, measured one right after the other on the same matrix,
the ratio and the engine that solved it; then
the plain engine against the automatic one at n = 1000. Times are medians of
repeated single solves on both sides (9 per case, 5 above a million
elements, 3 for the plain engine), since the machines are shared. Every row
also checks that both sides reached the same optimal cost (exactly for
integer costs), which holds only if they solved the same matrix.

Needs Debian's python3 with numpy and scipy (python3-numpy, python3-scipy).
--quick leaves out the 2000-by-2000 cases.
"""
import json
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
from scipy.optimize import linear_sum_assignment

SEED = 1
GOLDEN = 0x9E3779B97F4A7C15
UNIFORM = "uniform"
SHAPES = [(1000, 1000), (2000, 2000), (500, 1000), (1000, 500)]
REPETITIONS = 9  # as bench/pairsolve_bench.cpp
LARGE_REPETITIONS = 5  # above a million elements
KINDS = ["int1000", "int1000000", "int10", UNIFORM, "scaled", "span", "euclid2", "euclid10",
         "euclid2gated", "euclid10gated"]
DUMPED = KINDS[4:]  # written by pairsolve_bench --dump
ENGINES = {1: "dense", 2: "exact", 3: "grid", 4: "hybrid", 5: "unique"}


def benchmark_matrix(m, n, kind, build):
    """The M-by-N matrix of bench/pairsolve_bench.cpp for this kind."""
    if kind in DUMPED:
        with tempfile.NamedTemporaryFile(suffix=".bin") as file:
            subprocess.run([f"{build}/bench/pairsolve_bench", "--dump", kind, str(m), str(n),
                            file.name], check=True)
            return np.fromfile(file.name, dtype=np.float64).reshape(n, m).T
    with np.errstate(over="ignore"):
        i = np.arange(1, m * n + 1, dtype=np.uint64)
        z = np.uint64(SEED) + i * np.uint64(GOLDEN)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        z = z ^ (z >> np.uint64(31))
    top = z >> np.uint64(11)
    if kind == UNIFORM:
        values = top.astype(np.float64) * 2.0 ** -53
    else:
        k = int(kind[3:])
        values = (top % np.uint64(k + 1)).astype(np.float64)
    return values.reshape(n, m).T  # column-major elements: row i mod M, column i div M


def scipy_time(C, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        rows, cols = linear_sum_assignment(C)
        times.append(time.perf_counter() - start)
    return statistics.median(times), C[rows, cols].sum()


def ours_time(build, pattern):
    """Medians of pairsolve_bench's benchmarks whose names match pattern."""
    run = subprocess.run(
        [f"{build}/bench/pairsolve_bench", f"--benchmark_filter={pattern}",
         "--benchmark_format=json"], check=True, capture_output=True, text=True)
    return {b["run_name"].split("/iterations")[0]: b for b in json.loads(run.stdout)["benchmarks"]
            if b.get("aggregate_name") == "median"}


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = sys.argv[1]
    quick = "--quick" in sys.argv
    shapes = [s for s in SHAPES if not (quick and s == (2000, 2000))]

    print(f"{'case':<24}{'ours ms':>10}{'scipy ms':>10}{'ratio':>8}  {'engine':<7}same optimum")
    for m, n in shapes:
        for kind in KINDS:
            # Ours, then scipy, on the same matrix one right after the other, so
            # that both see the same load on a shared machine.
            name = f"pairsolve/auto/{m}x{n}/{kind}"
            mine = ours_time(build, f"^{name}/")[name]
            C = benchmark_matrix(m, n, kind, build)
            seconds, optimum = scipy_time(C, LARGE_REPETITIONS if m * n > 10 ** 6 else REPETITIONS)
            ms = mine["real_time"]
            cost = mine["cost"]
            integers = kind.startswith("int")
            same = cost == optimum if integers else abs(cost - optimum) <= 1e-9 * optimum
            engine = ENGINES.get(int(mine.get("engine", 0)), "?")
            print(f"{m}x{n} {kind:<14}{ms:>10.1f}{seconds * 1e3:>10.1f}{ms / (seconds * 1e3):>8.2f}"
                  f"  {engine:<7}{'yes' if same else 'NO: %r vs %r' % (cost, optimum)}",
                  flush=True)
    for kind in ["int1000", UNIFORM]:
        both = ours_time(build, f"^pairsolve/(plain|auto)/1000x1000/{kind}/")
        plain = both.get(f"pairsolve/plain/1000x1000/{kind}")
        auto = both.get(f"pairsolve/auto/1000x1000/{kind}")
        if plain and auto:
            print(f"plain engine 1000x1000 {kind}: {plain['real_time']:.0f} ms, "
                  f"{plain['real_time'] / auto['real_time']:.1f} times the automatic engine's time")


if __name__ == "__main__":
    main()

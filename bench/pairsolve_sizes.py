#!/usr/bin/python3
"""pairsolve in Octave against scipy, at the sizes users call it with.

Usage: bench/pairsolve_sizes.py BUILD_DIR [--quick] [--plot FILE]

Builds the Octave package from BUILD_DIR (the octave_package target),
installs it with pkg install into a throw-away prefix inside BUILD_DIR, and
times pairsolve there (bench/pairsolve_sizes.m, one Octave process per
cell) and then scipy's linear_sum_assignment here on the very same
matrices, cell by cell, so both see about the same load.

Cells: n-by-n for n = 5, 10, 20, 50, 100, 200, 500, 1000, 2000, and M-by-2M
(1:2) and M-by-M/2 (2:1) for M = 100, 500, 1000. Families: int (integers
0..1000), rand (uniform [0, 1)), rand100 (rand * 100), logU (10^U(-3, 3)),
dist2 (distances between uniform points of the unit square), dist2gated
(the same, Inf beyond the 30% quantile of the matrix's distances), dist10
(distances in the 10-D unit cube). Each cell has INSTANCES matrices (5;
--quick: 3, and no 2000-by-2000), drawn from seeds of their own. A matrix
that scipy solves in under 5 ms is timed as a loop of calls (about 50 ms
of them, the median of three loops, per call), slower ones as three single
calls, median, after a warm-up call: so the per-call cost of small calls
counts, and calls of a fraction of a millisecond are not timed one by one
(a single call of 0.1 ms in Octave varies by half its time). Each cell is
timed in ROUNDS rounds, pairsolve then scipy in each, and each side keeps
its quicker round per matrix: on a shared machine a burst of load that
slows one side of one round (20-by-20 ratios moved by 1.6 times between
runs) does not decide the cell. Each round passes over every cell before
the next begins, so that a slow spell of the machine, which can last
minutes (Octave's trivial call took 1.6 times as long in one), lands on
one round of a cell rather than on all of them.

Prints, per cell, the median over its instances of ours / scipy's time
(below 1: pairsolve is faster) and the worst instance; then, for the cells
below 20 rows, the per-call times beside scipy's and beside Octave's
trivial MEX call (unitfill(1)). Both solvers' costs are compared: a
difference beyond 1e-9 relative (they may pick different optimal
assignments among ties, never different optimal costs) is reported.
Writes a plot of the median ratio against size, one line per family
(matplotlib; --plot FILE, default BUILD_DIR/bench/pairsolve-sizes.png).
Asserts nothing: machines are noisy.
"""
import os
import statistics
import subprocess
import sys
import time
import zlib

import numpy as np
from scipy.optimize import linear_sum_assignment

FAMILIES = ["int", "rand", "rand100", "logU", "dist2", "dist2gated", "dist10"]
SQUARE = [5, 10, 20, 50, 100, 200, 500, 1000, 2000]
SHAPED_ROWS = [100, 500, 1000]
LOOP_BELOW = 0.005      # seconds: calls quicker than this are timed in loops
LOOP_SECONDS = 0.05     # about this much time per loop
ROUNDS = 2              # rounds per cell, each side keeping its quicker one
GATE_QUANTILE = 0.3     # dist2gated keeps this share of its pairs finite
SMALL_ROWS = 20         # below this, per-call times are reported too


def cells(quick):
    square = [n for n in SQUARE if not (quick and n > 1000)]
    shaped = [(m, 2 * m) for m in SHAPED_ROWS] + [(m, m // 2) for m in SHAPED_ROWS]
    return [(n, n) for n in square] + shaped


def matrix(family, m, n, seed):
    """The M-by-N cost matrix of the family from seed (column-major)."""
    rng = np.random.default_rng(seed)
    if family == "int":
        return rng.integers(0, 1001, size=(m, n)).astype(np.float64)
    if family == "rand":
        return rng.random((m, n))
    if family == "rand100":
        return rng.random((m, n)) * 100.0
    if family == "logU":
        return 10.0 ** (6.0 * rng.random((m, n)) - 3.0)
    d = 10 if family == "dist10" else 2
    rows, columns = rng.random((m, d)), rng.random((n, d))
    C = np.sqrt(((rows[:, None, :] - columns[None, :, :]) ** 2).sum(axis=2))
    if family == "dist2gated":
        C[C > np.quantile(C, GATE_QUANTILE)] = np.inf
    return C


def feasible(C):
    """Whether scipy takes C: a complete assignment of finite costs exists."""
    try:
        linear_sum_assignment(C)
        return True
    except ValueError:
        return False


def calls_for(C):
    """How many calls a timed loop makes (from the quicker of two calls)."""
    once = 1.0
    for _ in range(2):
        start = time.perf_counter()
        linear_sum_assignment(C)
        once = min(once, max(time.perf_counter() - start, 1e-7))
    if once >= LOOP_BELOW:
        return 1
    return max(10, min(20000, int(LOOP_SECONDS / max(once, 5e-6))))


def scipy_time(C, calls):
    """Median over three loops of calls, per call; and the optimal cost."""
    rows, cols = linear_sum_assignment(C)
    times = []
    for _ in range(3):
        start = time.perf_counter()
        for _ in range(calls):
            linear_sum_assignment(C)
        times.append((time.perf_counter() - start) / calls)
    return statistics.median(times), float(C[rows, cols].sum())


def install_package(build):
    """pkg install of the package into BUILD/bench/pkg; returns the pkg lines."""
    subprocess.run(["cmake", "--build", build, "--target", "octave_package"], check=True,
                   stdout=subprocess.DEVNULL)
    version = open(os.path.join(build, "CMakeCache.txt")).read().split(
        "CMAKE_PROJECT_VERSION:STATIC=")[1].split()[0]
    package = os.path.abspath(os.path.join(build, f"mextoolbox-{version}.tar.gz"))
    work = os.path.abspath(os.path.join(build, "bench", "pkg"))
    subprocess.run(["rm", "-rf", work], check=True)
    os.makedirs(os.path.join(work, "home"))
    lists = (f"pkg('prefix', '{work}/share', '{work}/lib'); "
             f"pkg('local_list', '{work}/local_packages'); "
             f"pkg('global_list', '{work}/global_packages'); ")
    env = dict(os.environ, HOME=os.path.join(work, "home"))
    subprocess.run(["octave-cli", "-f", "-q", "-H", "--no-gui", "--eval",
                    lists + f"pkg('install', '-local', '{package}')"],
                   check=True, env=env, cwd=work, stdout=subprocess.DEVNULL)
    return lists + "pkg('load', 'mextoolbox'); ", env


def main():
    args = sys.argv[1:]
    if not args or args[0].startswith("-"):
        print(__doc__)
        return 2
    build = args[0]
    quick = "--quick" in args
    plot = args[args.index("--plot") + 1] if "--plot" in args else os.path.join(
        build, "bench", "pairsolve-sizes.png")
    instances = 3 if quick else 5
    work = os.path.abspath(os.path.join(build, "bench", "sizes"))
    os.makedirs(work, exist_ok=True)
    load, env = install_package(build)

    # The matrices of every cell first; then each round passes over every
    # cell: pairsolve on the cell's matrices in one Octave process, then
    # scipy on the same matrices, so both see about the same load. A slow
    # spell of the machine (it can last minutes) then costs a cell one round,
    # not all of them.
    here = os.path.dirname(os.path.abspath(__file__))
    grid = []
    for (m, n) in cells(quick):
        for family in FAMILIES:
            cell = []
            seed = zlib.crc32(f"{family} {m} {n}".encode()) << 16
            for i in range(instances):
                while True:
                    seed += 1
                    C = matrix(family, m, n, seed)
                    if feasible(C):
                        break
                file = os.path.join(work, f"{family}_{m}x{n}_{i}.bin")
                C.flatten(order="F").tofile(file)
                cell.append(dict(family=family, m=m, n=n, file=file, calls=calls_for(C)))
            grid.append(cell)
    ours = {}
    for _ in range(ROUNDS):
        for cell in grid:
            manifest = os.path.join(work, "manifest.txt")
            results = os.path.join(work, "results.txt")
            with open(manifest, "w") as f:
                for e in cell:
                    f.write(f"{e['file']} {e['m']} {e['n']} {e['calls']}\n")
            subprocess.run(["octave-cli", "-f", "-q", "-H", "--no-gui", "--eval",
                            load + f"addpath('{here}'); "
                            f"pairsolve_sizes('{manifest}', '{results}')"],
                           check=True, env=env, cwd=os.path.join(build, "bench", "pkg"))
            for line in open(results):
                name, seconds, cost = line.split()
                if name in ours and ours[name][0] <= float(seconds):
                    continue
                ours[name] = (float(seconds), float(cost))
            for e in cell:
                # Row-major, as the family made it: scipy copies any other
                # layout on every call.
                C = np.ascontiguousarray(
                    np.fromfile(e["file"]).reshape((e["m"], e["n"]), order="F"))
                seconds, e["scipy_cost"] = scipy_time(C, e["calls"])
                e["scipy"] = min(seconds, e.get("scipy", seconds))
    entries = [e for cell in grid for e in cell]

    report(entries, ours, plot)
    return 0


def report(entries, ours, plot):
    trivial = ours["unitfill"][0]
    print(f"Octave's trivial MEX call unitfill(1): {trivial * 1e6:.1f} us per call; "
          f"pairsolve(1): {ours['pairsolve1'][0] * 1e6:.1f} us")
    cells_done = []
    for e in entries:
        key = (e["m"], e["n"])
        if key not in cells_done:
            cells_done.append(key)
    ratios = {}
    mismatches = []
    for e in entries:
        seconds, cost = ours[e["file"]]
        e["ours"] = seconds
        ratios.setdefault((e["family"], e["m"], e["n"]), []).append(seconds / e["scipy"])
        finite = np.isfinite(e["scipy_cost"])
        if finite and abs(cost - e["scipy_cost"]) > 1e-9 * max(1.0, abs(e["scipy_cost"])):
            mismatches.append((os.path.basename(e["file"]), cost, e["scipy_cost"]))

    print("\nours / scipy on the same matrices: the median over the instances of a cell, "
          "then the worst instance (below 1: pairsolve is faster)\n")
    print("| M-by-N | " + " | ".join(FAMILIES) + " |")
    print("|---|" + "---|" * len(FAMILIES))
    for (m, n) in cells_done:
        row = []
        for family in FAMILIES:
            r = ratios.get((family, m, n))
            row.append(f"{statistics.median(r):.2f} ({max(r):.2f})" if r else "")
        print(f"| {m}-by-{n} | " + " | ".join(row) + " |")

    print(f"\nper call below {SMALL_ROWS} rows (microseconds, medians): pairsolve / scipy; "
          f"Octave's trivial call {trivial * 1e6:.1f}\n")
    print("| n | " + " | ".join(FAMILIES) + " |")
    print("|---|" + "---|" * len(FAMILIES))
    for (m, n) in cells_done:
        if m >= SMALL_ROWS:
            continue
        row = []
        for family in FAMILIES:
            cell = [e for e in entries if (e["family"], e["m"], e["n"]) == (family, m, n)]
            row.append(f"{statistics.median(e['ours'] for e in cell) * 1e6:.1f} / "
                       f"{statistics.median(e['scipy'] for e in cell) * 1e6:.1f}")
        print(f"| {m} | " + " | ".join(row) + " |")
    if mismatches:
        print("\ncosts that differ from scipy's optimum:")
        for name, ours_cost, theirs in mismatches:
            print(f"  {name}: {ours_cost!r} vs {theirs!r}")
    else:
        print("\nevery cost equals scipy's optimal cost (within 1e-9 relative)")

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("no plot: matplotlib is missing (Debian package python3-matplotlib)")
        return
    fig, ax = plt.subplots(figsize=(8, 5))
    for family in FAMILIES:
        sizes = [m for (m, n) in cells_done if m == n]
        values = [statistics.median(ratios[(family, m, m)]) for m in sizes]
        ax.plot(sizes, values, marker="o", label=family)
    ax.axhline(1.0, color="grey", linewidth=0.8)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("n (n-by-n cost matrix)")
    ax.set_ylabel("pairsolve in Octave / scipy (median of instances)")
    ax.set_title("pairsolve against scipy's linear_sum_assignment")
    ax.legend()
    fig.tight_layout()
    fig.savefig(plot, dpi=100)
    print(f"plot: {plot}")


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""One table from the benchmark outputs of bench/run.

Usage: bench/report.py OUT_DIR

Reads OUT_DIR/cpp.json and OUT_DIR/flank.json (Google Benchmark, medians
of repetitions: the plug-ins through the bundled host beside Eigen, memcpy
and the host's own constructors) and OUT_DIR/octave.txt (RESULT lines of bench/octave_bench.m:
the Octave build beside Octave's own expressions), and prints one row per
plug-in and shape: our time, the anchor, its time in the same run, the
ratio (ours over the anchor's), and our throughput beside the machine's
memory-copy bandwidth measured in the same run (for the forwarding plug-ins:
the extra cost of one call over calling the constructor directly).
"""
import json
import os
import sys

# C++ rows: our benchmark, its anchor, what the throughput counts.
CPP_PAIRS = [
    ("mirrorprod/banded", "eigen_selfadjoint/banded", "Eigen selfadjointView<Lower>*x", "entries"),
    ("mirrorprod/scattered", "eigen_selfadjoint/scattered", "Eigen selfadjointView<Lower>*x", "entries"),
    ("lutpaint/uint8_4096x4096", "memcpy/48MiB", "memcpy of the output's bytes", "bytes"),
    ("lutpaint/uint16_4096x4096", "memcpy/48MiB", "memcpy of the output's bytes", "bytes"),
    ("lutpaint/double_4096x4096", "memcpy/48MiB", "memcpy of the output's bytes", "bytes"),
    ("lutpaint/uint8_4096x4096", "host_output/uint8_4096x4096x3", "a new output filled by memcpy", "bytes"),
    ("flankprod/select_1500x2000*2000x2000*2000x1500", "eigen_LXR/select_1500x2000*2000x2000*2000x1500", "Eigen sparse L*X*R", "elements"),
    ("flankprod/identity*2000x2000*select_2000x1500", "eigen_XR/identity*2000x2000*select_2000x1500", "Eigen X*R", "elements"),
    ("flankprod/4000_ones_in_L_and_R", "eigen_LXR/4000_ones_in_L_and_R", "Eigen sparse L*X*R", "elements"),
    ("flankmask/1e6_positions_of_3000x3000", "eigen_mask/1e6_positions_of_3000x3000", "Eigen masked gather", "elements"),
    ("flankscale/1e6_positions_of_3000x3000", "eigen_scale/1e6_positions_of_3000x3000", "Eigen masked gather", "elements"),
    ("flankinner/1e6_positions_of_3000x3000", "eigen_inner/1e6_positions_of_3000x3000", "Eigen masked gather", "elements"),
    ("nullfill/100x100", "host_zeros/100x100", "the host's zeros", None),
    ("unitfill/100x100", "host_ones/100x100", "the host's ones", None),
]


def seconds(entry):
    unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[entry.get("time_unit", "ns")]
    return entry["real_time"] * unit


def load_cpp(path):
    """Median rows of every benchmark in the Google Benchmark JSON files."""
    medians = {}
    if not os.path.exists(path):
        return medians
    with open(path) as f:
        data = json.load(f)
    for entry in data.get("benchmarks", []):
        if entry.get("aggregate_name") == "median":
            medians[entry["run_name"]] = entry
        elif entry.get("run_type") == "iteration" and entry["name"] not in medians:
            medians[entry["name"]] = entry
    return medians


def human_time(s):
    if s >= 1.0:
        return f"{s:.2f} s"
    if s >= 1e-3:
        return f"{s * 1e3:.2f} ms"
    return f"{s * 1e6:.2f} us"


def human_rate(rate, what):
    if what == "bytes":
        return f"{rate / 2**30:.2f} GiB/s"
    return f"{rate / 1e6:.0f} M{what}/s"


def main():
    out = sys.argv[1]
    rows = []
    cpp = {}
    for name in ("cpp.json", "flank.json"):
        cpp.update(load_cpp(os.path.join(out, name)))
    bandwidth = None
    if "memcpy/48MiB" in cpp:
        bandwidth = cpp["memcpy/48MiB"].get("bytes_per_second")
    for ours, anchor, anchor_name, what in CPP_PAIRS:
        if ours not in cpp or anchor not in cpp:
            continue
        t, a = seconds(cpp[ours]), seconds(cpp[anchor])
        rate = ""
        if what is None:
            rate = f"{(t - a) * 1e6:+.2f} us per call"
        elif what == "bytes" and "bytes_per_second" in cpp[ours]:
            rate = human_rate(cpp[ours]["bytes_per_second"], "bytes")
        elif what in ("entries", "elements") and "items_per_second" in cpp[ours]:
            rate = human_rate(cpp[ours]["items_per_second"], what)
        plugin, shape = ours.split("/", 1)
        rows.append(("bundled", plugin, shape.replace("_", " "), t, anchor_name, a, rate))
    octave = os.path.join(out, "octave.txt")
    if os.path.exists(octave):
        with open(octave) as f:
            for line in f:
                if not line.startswith("RESULT|"):
                    continue
                _, plugin, shape, ours, anchor_name, anchor, items = line.rstrip("\n").split("|")
                t, a, n = float(ours), float(anchor), float(items)
                what = "bytes" if plugin == "lutpaint" else "entries" if plugin == "mirrorprod" else "elements"
                rate = human_rate(n / t, what) if n > 1 else f"{(t - a) * 1e6:+.2f} us per call"
                rows.append(("octave", plugin, shape, t, anchor_name, a, rate))

    header = ("host", "plug-in", "shape", "ours", "anchor", "anchor time", "ratio", "throughput")
    table = [header]
    for host, plugin, shape, t, anchor_name, a, rate in rows:
        table.append((host, plugin, shape, human_time(t), anchor_name, human_time(a),
                      f"{t / a:.2f}", rate))
    widths = [max(len(r[i]) for r in table) for i in range(len(header))]
    for k, r in enumerate(table):
        print("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")
        if k == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    if bandwidth:
        print(f"\nmemory-copy bandwidth (memcpy of 48 MiB, same run): {bandwidth / 2**30:.2f} GiB/s")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Prints the codec's speed as ratios to its baselines, from the medians of a
codec_benchmark run with --benchmark_repetitions and --benchmark_format=json.
A ratio is baseline CPU time / codec CPU time: above 1 the codec is faster.

Workloads (c) to (e) have two msgpack baselines: "typed" packs the data from
and unpacks it into ordinary C++ containers (std::map, std::tuple, ...);
"object" packs from and unpacks into msgpack's own dynamic value tree, as
the codec does with its value tree. The targets apply to the typed ones."""
import json
import sys

# workload, encode baselines, decode baselines, encode target, decode target.
# Rows decode has the lower target: the value tree allocates a list per row,
# where the typed baseline fills a tuple in place.
WORKLOADS = [
    ("ByteList", ["Memcpy"], ["Memcpy"], 0.95, 0.95),
    ("DoubleList", ["Memcpy"], ["Memcpy"], 0.95, 0.95),
    ("StringMap", ["MsgpackPack", "MsgpackPackObject"], ["MsgpackUnpack", "MsgpackUnpackObject"], 1.0, 1.0),
    ("StartTunnel", ["MsgpackPack", "MsgpackPackObject"], ["MsgpackUnpack", "MsgpackUnpackObject"], 1.0, 1.0),
    ("Rows", ["MsgpackPack", "MsgpackPackObject"], ["MsgpackUnpack", "MsgpackUnpackObject"], 1.0, 0.8),
]
LABELS = {"Memcpy": "memcpy", "MsgpackPack": "msgpack typed", "MsgpackUnpack": "msgpack typed",
          "MsgpackPackObject": "msgpack object", "MsgpackUnpackObject": "msgpack object"}


def medians(path):
    with open(path) as f:
        report = json.load(f)
    times = {}
    for run in report["benchmarks"]:
        if run.get("run_type") == "aggregate" and run.get("aggregate_name") == "median":
            times[run["run_name"]] = run["cpu_time"]
    return times


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: ratios.py codec_benchmark.json")
    times = medians(sys.argv[1])
    if not times:
        sys.exit("no medians found: run with --benchmark_repetitions=5")
    print("median CPU time per iteration in ns; ratio = baseline / codec")
    print(f"{'workload':<12} {'direction':<7} {'codec':>10} {'baseline':<15} {'time':>10} {'ratio':>6} {'target':>6}")
    missed = 0
    for name, encode_bases, decode_bases, encode_target, decode_target in WORKLOADS:
        for direction, bases, target in (("encode", encode_bases, encode_target),
                                         ("decode", decode_bases, decode_target)):
            ours = times.get(f"BM_{name}_{direction.capitalize()}")
            if ours is None:
                continue  # left out by --benchmark_filter
            for i, base in enumerate(bases):
                theirs = times.get(f"BM_{name}_{base}")
                if theirs is None:
                    continue
                ratio = theirs / ours
                checked = i == 0
                mark = ""
                if checked and ratio < target:
                    mark = "  missed"
                    missed += 1
                print(f"{name:<12} {direction:<7} {ours:>10.0f} {LABELS[base]:<15} {theirs:>10.0f} {ratio:>6.2f} "
                      f"{(f'{target:.2f}' if checked else ''):>6}{mark}")
    print(f"{missed} target(s) missed")


if __name__ == "__main__":
    main()

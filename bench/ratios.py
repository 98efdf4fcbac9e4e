#!/usr/bin/env python3
"""Runs models_bench (or reads saved JSON output of it) and prints ns per call and the ratios
model/bare.

  bench/ratios.py build/bench/models_bench [extra benchmark flags]
  bench/ratios.py --json run1.json [run2.json ...]

Only the paired benchmarks run; each is repeated 7 times, the repetitions of all of them
interleaved in random order (so that a change in the machine's load falls on model and bare
alike), and the median of the 7 is used. Extra flags (e.g. --benchmark_min_time=0.2) are passed
on. Given several JSON files (runs saved with --benchmark_out=FILE), the medians of the runs
are averaged.
"""
import json
import subprocess
import sys


def run(argv):
    cmd = [argv[1], "--benchmark_filter=/(model|bare)$", "--benchmark_repetitions=7",
           "--benchmark_report_aggregates_only=true", "--benchmark_enable_random_interleaving=true",
           "--benchmark_format=json"] + argv[2:]
    return [json.loads(subprocess.run(cmd, check=True, capture_output=True, text=True).stdout)]


def main(argv):
    runs = [json.load(open(f)) for f in argv[2:]] if argv[1] == "--json" else run(argv)
    sums, counts, order = {}, {}, []
    for data in runs:
        for b in data["benchmarks"]:
            if b.get("aggregate_name") != "median":
                continue
            name = b["run_name"]
            if name not in sums:
                order.append(name)
                sums[name], counts[name] = 0.0, 0
            sums[name] += 1e9 / b["items_per_second"]
            counts[name] += 1
    ns = {n: sums[n] / counts[n] for n in order}
    subjects = []
    for n in order:
        if n.endswith("/model") and n[: -len("/model")] not in subjects:
            subjects.append(n[: -len("/model")])
    subjects.sort(key=lambda s: (s.split("/")[0], s.split("/")[1] != "value"))
    print(f"{'subject/request':20} {'model ns':>9} {'bare ns':>9} {'ratio':>6} {'diff ns':>8}")
    for s in subjects:
        t, bare = ns[s + "/model"], ns.get(s + "/bare")
        if bare is None:
            print(f"{s:20} {t:9.2f}")
        else:
            print(f"{s:20} {t:9.2f} {bare:9.2f} {t / bare:6.2f} {t - bare:8.2f}")


if __name__ == "__main__":
    main(sys.argv)

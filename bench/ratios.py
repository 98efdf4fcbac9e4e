#!/usr/bin/env python3
"""Runs models_bench (or reads its JSON output) and prints ns per call and model/bare ratios.

  bench/ratios.py build/bench/models_bench [extra benchmark flags]
  bench/ratios.py --json run.json

Only the paired benchmarks run; each is repeated 7 times, the repetitions of all of them
interleaved in random order (so that a change in the machine's load falls on model and bare
alike), and the median of the 7 is used. Extra flags (e.g. --benchmark_min_time=0.2) are passed
on.
"""
import json
import subprocess
import sys


def load(argv):
    if argv[1] == "--json":
        with open(argv[2]) as f:
            return json.load(f)
    cmd = [argv[1], "--benchmark_filter=/(model|bare)$", "--benchmark_repetitions=7",
           "--benchmark_report_aggregates_only=true", "--benchmark_enable_random_interleaving=true",
           "--benchmark_format=json"] + argv[2:]
    return json.loads(subprocess.run(cmd, check=True, capture_output=True, text=True).stdout)


def main(argv):
    data = load(argv)
    ns = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        ns[b["run_name"]] = 1e9 / b["items_per_second"]
    rows = []
    for name, t in ns.items():
        if name.endswith("/model"):
            base = name[: -len("/model")]
            bare = ns.get(base + "/bare")
            rows.append((base, t, bare))
    print(f"{'subject/request':26} {'model ns':>9} {'bare ns':>9} {'ratio':>6} {'diff ns':>8}")
    for base, t, bare in rows:
        if bare is None:
            print(f"{base:26} {t:9.2f}")
        else:
            print(f"{base:26} {t:9.2f} {bare:9.2f} {t / bare:6.2f} {t - bare:8.2f}")
    others = [(n, t) for n, t in ns.items() if not n.endswith("/model") and not n.endswith("/bare")]
    if others:
        print()
        print(f"{'model only':26} {'ns':>9}")
        for n, t in others:
            print(f"{n:26} {t:9.2f}")


if __name__ == "__main__":
    main(sys.argv)

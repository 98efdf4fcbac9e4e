#!/usr/bin/env python3
"""Compares two bit_dump outputs line by line and measures every output that moved in ulps.

    python3 bench/ulp_diff.py before.txt after.txt [--show N] [--model NAME]

Both dumps must come from the same derivative points (the same lines in the same order). For
each model it prints the lines and outputs that moved and how far: the distance in units in the
last place (the count of doubles between the two values), grouped as 1, 2-4, 5-16, 17-1024 and
more; "kind" counts outputs that changed between finite, infinite, NaN and MISSING_VALUE, or
changed the sign of a zero; return codes and errno values are compared exactly. With --show N
the N largest moves of each model are listed with their point labels.
"""
import struct
import sys
from collections import defaultdict

MISSING = -1.23456789e-300
BUCKETS = [(1, "1"), (4, "2-4"), (16, "5-16"), (1024, "17-1024"), (float("inf"), ">1024")]


def parse(line):
    head, _, rest = line.partition(" req=")
    model, label = head.split(" ", 1)
    fields = ("req=" + rest).split()
    meta, outs = {}, {}
    for f in fields:
        k, _, v = f.partition("=")
        if k in ("req", "errno_in", "rc", "errno", "q"):
            meta[k] = v
        else:
            outs[k] = v
    return model, label, meta, outs


def value(s):
    if s.startswith("nan:"):
        return float("nan")
    return float.fromhex(s)


def ordered(d):
    """The double's bit pattern as an integer that orders like the doubles themselves."""
    i = struct.unpack("<q", struct.pack("<d", d))[0]
    return i if i >= 0 else -(i & 0x7FFFFFFFFFFFFFFF)


def kind(d):
    if d != d:
        return "nan"
    if d == MISSING:
        return "missing"
    if d in (float("inf"), float("-inf")):
        return "inf%+d" % (1 if d > 0 else -1)
    if d == 0.0:
        return "zero" + ("-" if struct.pack("<d", d)[7] & 0x80 else "+")
    return "finite"


def main():
    args = sys.argv[1:]
    show = 0
    only = None
    if "--show" in args:
        i = args.index("--show")
        show = int(args[i + 1])
        del args[i:i + 2]
    if "--model" in args:
        i = args.index("--model")
        only = args[i + 1]
        del args[i:i + 2]
    before, after = (open(a).read().splitlines() for a in args[:2])
    if len(before) != len(after):
        sys.exit("ulp_diff: the dumps have %d and %d lines" % (len(before), len(after)))
    lines = defaultdict(int)
    outputs = defaultdict(int)
    buckets = defaultdict(lambda: defaultdict(int))
    meta_moves = defaultdict(int)
    largest = defaultdict(list)
    for a, b in zip(before, after):
        if a == b:
            continue
        ma, la, meta_a, out_a = parse(a)
        mb, lb, meta_b, out_b = parse(b)
        if (ma, la) != (mb, lb):
            sys.exit("ulp_diff: the dumps differ in their points: %s %s / %s %s" % (ma, la, mb, lb))
        if only and ma != only:
            continue
        lines[ma] += 1
        if meta_a != meta_b or set(out_a) != set(out_b):
            meta_moves[ma] += 1
        for slot in sorted(set(out_a) & set(out_b)):
            if out_a[slot] == out_b[slot]:
                continue
            x, y = value(out_a[slot]), value(out_b[slot])
            if x != x and y != y:
                buckets[ma]["nan sign/payload"] += 1
                continue
            outputs[ma] += 1
            if kind(x) != kind(y):
                buckets[ma]["kind"] += 1
                largest[ma].append((float("inf"), la, meta_a["req"], slot, out_a[slot],
                                    out_b[slot]))
                continue
            u = abs(ordered(x) - ordered(y))
            for limit, name in BUCKETS:
                if u <= limit:
                    buckets[ma][name] += 1
                    break
            largest[ma].append((u, la, meta_a["req"], slot, out_a[slot], out_b[slot]))
    names = [n for _, n in BUCKETS] + ["kind", "nan sign/payload"]
    print("%-18s %6s %7s %8s  %s" % ("model", "lines", "outputs", "rc/errno", "  ".join(names)))
    for m in sorted(lines, key=lambda m: -lines[m]):
        counts = "  ".join("%*d" % (len(n), buckets[m][n]) for n in names)
        print("%-18s %6d %7d %8d  %s" % (m, lines[m], outputs[m], meta_moves[m], counts))
        if show:
            for u, label, req, slot, x, y in sorted(largest[m], reverse=True)[:show]:
                print("    %-22s req=%s %-4s %s -> %s (%s ulps)" % (label, req, slot, x, y, u))
    print("total: %d lines, %d outputs moved" % (sum(lines.values()), sum(outputs.values())))


if __name__ == "__main__":
    main()

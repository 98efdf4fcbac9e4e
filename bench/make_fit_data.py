#!/usr/bin/env python3
"""Writes the data sets of the fit-throughput benchmark (fixed seed) into a folder:
  spectrum10.csv  10 Gaussian peaks over 10^5 points (x, y), and spectrum10.init, the truth
                  moved by 2 % as starting values;
  surface.csv     a Gauss2D peak over a 1000 x 1000 grid (x1, x2, z), and surface.init;
  plate.csv       10^4 four-parameter dose-response curves (Hill1) of 12 points each
                  (curve, conc, response).
"""
import math
import os
import random
import sys

out = sys.argv[1] if len(sys.argv) > 1 else "."
os.makedirs(out, exist_ok=True)
rng = random.Random(20261206)


def jiggle(v):
    return v * (1.0 + 0.02 * (2.0 * rng.random() - 1.0))


# Ten area-normalised Gaussian peaks, y = y0 + sum A exp(-2((x - xc)/w)^2) / (w sqrt(pi/2)).
y0 = 0.5
peaks = [(5.0 + 9.5 * i, 1.2 + 0.1 * (i % 4), 10.0 + 2.0 * (i % 3)) for i in range(10)]
with open(f"{out}/spectrum10.csv", "w") as f:
    f.write("x,y\n")
    n = 100000
    for k in range(n):
        x = 100.0 * k / (n - 1)
        y = y0
        for xc, w, a in peaks:
            z = (x - xc) / w
            if abs(z) < 12:
                y += a * math.exp(-2.0 * z * z) / (w * 1.2533141373155)
        f.write(f"{x:.6f},{y + rng.gauss(0.0, 0.05):.6f}\n")
with open(f"{out}/spectrum10.init", "w") as f:
    f.write(",".join(f"{v:.6g}" for v in [jiggle(y0)] + [jiggle(v) for p in peaks for v in p]))

# One Gauss2D peak z = z0 + A exp(-((x1 - xc)/w1)^2/2 - ((x2 - yc)/w2)^2/2) on a grid.
truth = [0.2, 3.0, 0.1, 0.8, -0.2, 1.1]
z0, a, xc, w1, yc, w2 = truth
with open(f"{out}/surface.csv", "w") as f:
    f.write("x1,x2,z\n")
    m = 1000
    for i in range(m):
        x1 = -5.0 + 10.0 * i / (m - 1)
        g1 = ((x1 - xc) / w1) ** 2
        for j in range(m):
            x2 = -5.0 + 10.0 * j / (m - 1)
            z = z0 + a * math.exp(-0.5 * g1 - 0.5 * ((x2 - yc) / w2) ** 2)
            f.write(f"{x1:.5f},{x2:.5f},{z + rng.gauss(0.0, 0.02):.5f}\n")
with open(f"{out}/surface.init", "w") as f:
    f.write(",".join(f"{jiggle(v):.6g}" for v in truth))

# Dose-response curves y = START + (END - START)/(1 + (k/x)^n), 12 doses each.
with open(f"{out}/plate.csv", "w") as f:
    f.write("curve,conc,response\n")
    doses = [0.01 * 3.0 ** i for i in range(12)]
    for c in range(10000):
        start, end = rng.uniform(0, 10), rng.uniform(80, 120)
        k, n = 10 ** rng.uniform(-0.5, 2.5), rng.uniform(0.7, 2.5)
        for x in doses:
            y = start + (end - start) / (1.0 + (k / x) ** n)
            f.write(f"{c},{x:.6g},{y + rng.gauss(0.0, 1.5):.5f}\n")

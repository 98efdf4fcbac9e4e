#!/usr/bin/env python3
"""Writes the bundled example data (fixed seeds, so the files never change):

two_peaks.csv  two Gaussian peaks of areas 8 and 14 at x = 7 and 12.5 (widths 1.2 and 2.0, in the
              w of y = y0 + A*exp(-2*((x - xc)/w)^2)/(w*sqrt(pi/2))) over a baseline of 1.5,
              with normal noise of standard deviation 0.08
plate.csv     a dose-response plate: six samples, eight concentrations in triplicate, responses
              Vmax/(1 + (k/conc)^n) with normal noise of standard deviation 3; log_conc = log10(conc)
"""
import math
import random

rng = random.Random(20240501)
with open("two_peaks.csv", "w") as f:
    f.write("x,y\n")
    for i in range(401):
        x = i * 0.05
        y = 1.5
        for xc, w, a in ((7.0, 1.2, 8.0), (12.5, 2.0, 14.0)):
            y += a * math.exp(-2 * ((x - xc) / w) ** 2) / (w * math.sqrt(math.pi / 2))
        f.write("%.2f,%.5f\n" % (x, y + rng.gauss(0, 0.08)))

rng = random.Random(7)
samples = [("S1", 100, 0.3, 1.0), ("S2", 95, 1.2, 1.5), ("S3", 105, 4.0, 0.8),
           ("S4", 90, 0.08, 1.2), ("S5", 110, 2.5, 2.0), ("S6", 100, 0.7, 1.1)]
concs = [0.01, 0.03, 0.1, 0.3, 1, 3, 10, 30]
with open("plate.csv", "w") as f:
    f.write("sample,conc,log_conc,response\n")
    for name, vmax, k, n in samples:
        for c in concs:
            for _ in range(3):
                y = vmax / (1 + (k / c) ** n) + rng.gauss(0, 3)
                f.write("%s,%g,%.6f,%.3f\n" % (name, c, math.log10(c), y))

#!/usr/bin/env python3
"""The Python package against the peers a Python user knows, in one run on the same data.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [--curves 2000] [--repeat 5]

1. Fits per second on one stack of noisy single-peak Gauss curves (100 points, 4 parameters,
   the same starts): fitmodels.fit_many over all cores and over one thread, a loop of
   fitmodels.fit, a loop of scipy.optimize.curve_fit, a loop of lmfit's Model.fit (lmfit on a
   tenth of the stack: it is that much slower).
2. CPU ns per point of Model.eval for Gauss over 10^6 points against NumPy's whole-array expression
   of the same formula, and against the contract called point by point through ctypes.
Every figure is the median of --repeat runs; the ratios compare figures of this one run.
"""
import argparse
import ctypes
import glob
import os
import statistics
import time

import numpy as np

import fitmodels

# the model library bundled beside the extension module (under its soname)
LIBRARY = glob.glob(os.path.join(os.path.dirname(fitmodels.__file__), "libfitmodels.so*"))[0]


def gauss(x, y0, xc, w, A):
    return y0 + A * np.exp(-2 * ((x - xc) / w) ** 2) / (w * np.sqrt(np.pi / 2))


def median_time(fn, repeat, clock=time.perf_counter):
    times = []
    for _ in range(repeat):
        t = clock()
        fn()
        times.append(clock() - t)
    return statistics.median(times)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--curves", type=int, default=2000)
    ap.add_argument("--repeat", type=int, default=5)
    a = ap.parse_args()
    from scipy.optimize import curve_fit
    import lmfit

    rng = np.random.default_rng(7)
    x = np.linspace(0, 10, 100)
    truth = np.column_stack([rng.uniform(0, 1, a.curves), rng.uniform(4, 6, a.curves),
                             rng.uniform(1, 2, a.curves), rng.uniform(5, 15, a.curves)])
    Y = np.array([gauss(x, *p) for p in truth]) + rng.normal(0, 0.05, (a.curves, x.size))
    p0 = [0.5, 5.0, 1.5, 10.0]
    lm_count = max(1, a.curves // 10)
    lm = lmfit.Model(gauss)
    lm_params = lm.make_params(y0=p0[0], xc=p0[1], w=p0[2], A=p0[3])

    runs = {
        "fitmodels.fit_many, all cores": (a.curves, lambda: fitmodels.fit_many(
            "Gauss", x, Y, p0=p0, as_frame=False)),
        "fitmodels.fit_many, 1 thread": (a.curves, lambda: fitmodels.fit_many(
            "Gauss", x, Y, p0=p0, threads=1, as_frame=False)),
        "loop of fitmodels.fit": (a.curves, lambda: [fitmodels.fit("Gauss", x, y, p0=p0)
                                                     for y in Y]),
        "loop of scipy curve_fit": (a.curves, lambda: [curve_fit(gauss, x, y, p0=p0) for y in Y]),
        "loop of lmfit Model.fit": (lm_count, lambda: [lm.fit(y, lm_params, x=x)
                                                       for y in Y[:lm_count]]),
    }
    print(f"fits of Gauss (4 parameters, {x.size} points), {os.cpu_count()} cores, "
          f"median of {a.repeat}")
    rates = {}
    for name, (count, fn) in runs.items():
        rates[name] = count / median_time(fn, a.repeat)
    ref = rates["loop of scipy curve_fit"]
    for name, r in rates.items():
        print(f"  {name:32s} {r:10.0f} fits/s  {r / ref:6.1f} x curve_fit")

    n = 1_000_000
    xe = np.linspace(-5, 15, n)
    p = [0.5, 5.0, 1.5, 10.0]
    m = fitmodels.Model("Gauss")
    # One thread each: CPU time, which a loaded machine inflates less than wall time.
    cpu = time.process_time
    t_model = median_time(lambda: m.eval(xe, p), a.repeat, cpu) / n * 1e9
    t_numpy = median_time(lambda: gauss(xe, *p), a.repeat, cpu) / n * 1e9
    lib = ctypes.CDLL(LIBRARY)
    fn = lib.Gauss
    fn.restype = ctypes.c_int32
    fn.argtypes = [ctypes.c_int32, ctypes.c_void_p, ctypes.c_int16, ctypes.c_int32,
                   ctypes.c_int32, ctypes.c_void_p, ctypes.c_int32, ctypes.c_void_p,
                   ctypes.c_void_p, ctypes.c_void_p]
    pc = (ctypes.c_double * 5)(0, *p)
    xc = (ctypes.c_double * 4)()
    yc = (ctypes.c_double * 8)()
    dc = (ctypes.c_double * 8)()
    small = xe[:: n // 20000]

    def by_ctypes():
        for v in small:
            xc[1] = v
            fn(2, None, 4, 0, 0, pc, 0, xc, yc, dc)

    t_ctypes = median_time(by_ctypes, a.repeat, cpu) / small.size * 1e9
    print(f"Gauss values over {n} points, CPU ns per point (median of {a.repeat})")
    print(f"  Model.eval                 {t_model:8.1f}")
    print(f"  NumPy expression           {t_numpy:8.1f}  ({t_numpy / t_model:.2f} x Model.eval)")
    print(f"  ctypes, point by point     {t_ctypes:8.1f}  ({t_ctypes / t_model:.0f} x Model.eval)")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""The fitting engine beside SciPy's curve_fit and lmfit, on the same data in one run.

    python3 bench/fit_engine.py [--build build] [--dir /tmp/fit_engine_bench] [PROBLEM ...]

Runs build/bench/fit_engine_bench (which writes the data sets and fits them in process with 1 and
2 threads), then fits the same data with SciPy (curve_fit, method 'lm': MINPACK's lmder with the
analytic Jacobian) and lmfit (Model.fit, leastsq with its own differences), and prints fits per
second and the ratios. Times are CPU seconds of the process (on a shared machine the wall clock
also measures the other users); wall figures are printed beside them. The peers fit a prefix of the
many-fit problems (--scipy-fits, --lmfit-fits) and their rate is per fit. Both sides stop by
SciPy's default tolerances (ftol = xtol = 1.49012e-8). Installs python3-scipy and python3-lmfit
with apt when they are missing.
"""
import argparse
import os
import re
import subprocess
import sys
import time


def ensure_peers():
    try:
        import scipy  # noqa: F401
        import lmfit  # noqa: F401
    except ImportError:
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        subprocess.run(sudo + ["apt-get", "install", "-y", "-q", "python3-scipy", "python3-lmfit"],
                       check=True)


ensure_peers()
import numpy as np  # noqa: E402
import lmfit  # noqa: E402
from scipy.optimize import curve_fit  # noqa: E402

SQRT_PI_2 = np.sqrt(np.pi / 2)


# ---- the models, as the library defines them, with their analytic Jacobians -----------------
def gauss2d(X, z0, A, xc, w1, yc, w2):
    u = (X[0] - xc) / w1
    v = (X[1] - yc) / w2
    return z0 + A * np.exp(-0.5 * u * u - 0.5 * v * v)


def gauss2d_jac(X, z0, A, xc, w1, yc, w2):
    u = (X[0] - xc) / w1
    v = (X[1] - yc) / w2
    e = np.exp(-0.5 * u * u - 0.5 * v * v)
    Ae = A * e
    return np.stack([np.ones_like(e), e, Ae * u / w1, Ae * u * u / w1, Ae * v / w2,
                     Ae * v * v / w2], axis=1)


def logistic(x, A1, A2, x0, p):
    return A2 + (A1 - A2) / (1 + (x / x0) ** p)


def logistic_jac(x, A1, A2, x0, p):
    r = (x / x0) ** p
    d = 1 + r
    g = (A1 - A2) / (d * d)
    return np.stack([1 / d, 1 - 1 / d, g * r * p / x0, -g * r * np.log(x / x0)], axis=1)


def gauss_sum(x, *p):
    y = np.full_like(x, p[0])
    for k in range(1, len(p), 3):
        xc, w, A = p[k], p[k + 1], p[k + 2]
        y += A * np.exp(-2 * ((x - xc) / w) ** 2) / (w * SQRT_PI_2)
    return y


def gauss_sum_jac(x, *p):
    cols = [np.ones_like(x)]
    for k in range(1, len(p), 3):
        xc, w, A = p[k], p[k + 1], p[k + 2]
        u = (x - xc) / w
        e = np.exp(-2 * u * u) / (w * SQRT_PI_2)
        cols += [A * e * 4 * u / w, A * e * (4 * u * u - 1) / w, e]
    return np.stack(cols, axis=1)


MODELS = {"Gauss2D": (gauss2d, gauss2d_jac), "Logistic": (logistic, logistic_jac),
          "Gauss": (gauss_sum, gauss_sum_jac)}


def load(d):
    meta = dict(line.split() for line in open(os.path.join(d, "meta.txt")))
    ni, npar = int(meta["nIndep"]), int(meta["nParams"])
    x = np.fromfile(os.path.join(d, "x.bin")).reshape(-1, ni)
    y = np.fromfile(os.path.join(d, "y.bin"))
    start = np.fromfile(os.path.join(d, "start.bin")).reshape(-1, npar)
    off = np.fromfile(os.path.join(d, "offsets.bin")).astype(np.int64)
    return meta["model"], ni, x, y, start, off


def timed(fn):
    c0, t0 = time.process_time(), time.perf_counter()
    out = fn()
    return out, time.process_time() - c0, time.perf_counter() - t0


def scipy_fits(model, ni, x, y, start, off, count):
    f, jac = MODELS[model]
    rss = []

    def run():
        for i in range(count):
            a, b = off[i], off[i + 1]
            xi = x[a:b].T if ni > 1 else x[a:b, 0]
            p, _ = curve_fit(f, xi, y[a:b], p0=start[i], jac=jac, method="lm")
            rss.append(float(np.sum((f(xi, *p) - y[a:b]) ** 2)))
    _, cpu, wall = timed(run)
    return cpu, wall, float(np.median(rss))


def lmfit_fits(model, ni, x, y, start, off, count, intervals=False):
    f, _ = MODELS[model]
    npar = start.shape[1]
    names = [f"p{j}" for j in range(npar)]
    # lmfit reads the parameter names from the signature: write one with p0 .. p{n-1}.
    src = f"def g(xv, {', '.join(names)}):\n    return f(xv, {', '.join(names)})\n"
    scope = {"f": f}
    exec(src, scope)
    m = lmfit.Model(scope["g"])
    rss = []

    def run():
        for i in range(count):
            a, b = off[i], off[i + 1]
            xi = x[a:b].T if ni > 1 else x[a:b, 0]
            pars = m.make_params(**{n: start[i][j] for j, n in enumerate(names)})
            r = m.fit(y[a:b], pars, xv=xi)
            if intervals:
                lmfit.conf_interval(r, r, sigmas=[0.95])
            rss.append(r.chisqr)
    _, cpu, wall = timed(run)
    return cpu, wall, float(np.median(rss))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--dir", default="/tmp/fit_engine_bench")
    ap.add_argument("--scipy-fits", type=int, default=2000)
    ap.add_argument("--lmfit-fits", type=int, default=300)
    ap.add_argument("problems", nargs="*")
    a = ap.parse_args()
    exe = os.path.join(a.build, "bench", "fit_engine_bench")
    out = subprocess.run([exe, a.dir] + a.problems, check=True, capture_output=True,
                         text=True).stdout
    engine = {}
    for line in out.splitlines():
        name, *kv = line.split()
        f = dict(item.split("=") for item in kv)
        engine[(name, int(f["threads"]))] = f
    print("| problem | fits | engine 1 thread fits/CPU-s | engine 2 threads fits/s (wall) "
          "| SciPy fits/CPU-s | lmfit fits/CPU-s | engine / SciPy per core | engine / lmfit per core "
          "| median RSS engine / SciPy / lmfit |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name in dict.fromkeys(k[0] for k in engine):
        model, ni, x, y, start, off = load(os.path.join(a.dir, name))
        count = len(off) - 1
        e1 = engine[(name, 1)]
        e2 = engine.get((name, 2), e1)
        profile = name == "logistic_profile"
        ns = min(count, a.scipy_fits if not profile else 0)
        nl = min(count, a.lmfit_fits if not profile else 20)
        s_cpu, s_wall, s_rss = scipy_fits(model, ni, x, y, start, off, ns) if ns else (0, 0, 0)
        l_cpu, l_wall, l_rss = lmfit_fits(model, ni, x, y, start, off, nl, intervals=profile)
        e_rate = float(e1["fits_per_cpu_s"])
        s_rate = ns / s_cpu if ns else float("nan")
        l_rate = nl / l_cpu
        print(f"| {name} | {count} | {e_rate:.4g} | {float(e2['fits_per_s']):.4g} "
              f"({float(e2['seconds']):.3f} s) | {s_rate:.4g} | {l_rate:.4g} "
              f"| {e_rate / s_rate:.1f} | {e_rate / l_rate:.1f} "
              f"| {float(e1['median_rss']):.6g} / {s_rss:.6g} / {l_rss:.6g} |")
        sys.stdout.flush()
    print()
    print("engine lines:")
    print(out)


if __name__ == "__main__":
    main()

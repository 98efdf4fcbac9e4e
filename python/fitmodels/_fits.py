"""Fits over the library's fitting engine: one data set (fit) or a stack of them (fit_many)."""

import math
import re

import numpy as np

from . import _fitmodels as _c
from ._models import FitModelsError, _as_float_array, as_model

if not hasattr(_c, "fit"):
    raise ImportError("the extension was built without the fitting library")

_INVALID_INPUT, _NO_ESTIMATE = _c.STATUS_INVALID_INPUT, _c.STATUS_NO_ESTIMATE


def _status_text(code):
    return _c.status_name(int(code))


_PARAMETER = re.compile(r"\bparameter (\d+)")


def _named(model, message):
    """The engine's message with each parameter it numbers also named: "parameter 3 (w)"."""
    def name(mt):
        i = int(mt.group(1))
        return f"{mt.group(0)} ({model.param_names[i - 1]})" if 1 <= i <= model.nparams else \
            mt.group(0)
    return _PARAMETER.sub(name, message) if "parameter " in message else message


def _ydata(model, y, n, what="y"):
    v = _as_float_array(y, what)
    if v.ndim != 1 or v.size != n:
        raise FitModelsError(f"{what} has shape {v.shape}; x has {n} points")
    return np.ascontiguousarray(v)


def _weights(w, n):
    if w is None:
        return None
    v = _ydata(None, w, n, "weights")
    if not np.all(v > 0):
        raise FitModelsError("weights (1/sigma) must be positive")
    return v


def _per_param(model, value, what, default):
    """A per-parameter vector from a scalar, a sequence of nparams or a dict by name."""
    out = np.full(model.nparams, default, dtype=np.float64)
    if value is None:
        return None
    if isinstance(value, dict):
        for k, v in value.items():
            out[_index(model, k, what)] = v
        return out
    v = _as_float_array(value, what)
    if v.ndim == 0:
        out[:] = v
        return out
    if v.shape != (model.nparams,):
        raise FitModelsError(f"{what} gives {v.size} values; the parameters are "
                             f"{model.nparams}: {', '.join(model.param_names)}")
    return np.ascontiguousarray(v)


def _index(model, key, what):
    if isinstance(key, str) and key in model.param_names:
        return model.param_names.index(key)
    raise FitModelsError(f'{what}: no parameter "{key}" (parameters: '
                         f"{', '.join(model.param_names)})")


def _constraints(model, p0, bounds, fixed):
    """(start, held, lower, upper) for one fit; start may stay None (estimated)."""
    start = None
    partial = {}
    if isinstance(p0, dict):
        for k in p0:
            _index(model, k, "p0")
        if len(p0) == model.nparams:
            start = model._params(p0, "p0")
        else:
            partial = dict(p0)
    elif p0 is not None:
        start = model._params(p0, "p0")
    held = None
    if fixed is not None:
        held = np.zeros(model.nparams, dtype=np.uint8)
        items = fixed.items() if isinstance(fixed, dict) else ((k, None) for k in fixed)
        for k, v in items:
            i = _index(model, k, "fixed")
            held[i] = 1
            if v is not None:
                partial[k] = float(v)
            elif start is None and k not in partial:
                raise FitModelsError(f"fixed: {k} is held without a value; give fixed={{'{k}': "
                                     "value}} or a p0")
    lower = upper = None
    if bounds is not None:
        if isinstance(bounds, dict):
            lower = np.full(model.nparams, -np.inf)
            upper = np.full(model.nparams, np.inf)
            for k, (lo, hi) in bounds.items():
                i = _index(model, k, "bounds")
                lower[i] = -np.inf if lo is None else lo
                upper[i] = np.inf if hi is None else hi
        else:
            if len(bounds) != 2:
                raise FitModelsError("bounds must be (lower, upper) or a dict name: (lower, upper)")
            lower = _per_param(model, bounds[0], "bounds", -np.inf)
            upper = _per_param(model, bounds[1], "bounds", np.inf)
        bad = [n for n, lo, hi in zip(model.param_names, lower, upper) if lo > hi]
        if bad:
            raise FitModelsError(f"bounds: the lower bound of {bad[0]} lies above its upper bound")
    return start, partial, held, lower, upper


def _ci_option(ci):
    if ci is None or ci is False:
        return 0.0, False
    if ci is True:
        return 0.95, False
    if ci == "profile":
        return 0.95, True
    if isinstance(ci, (int, float)) and 0 < ci < 1:
        return float(ci), False
    raise FitModelsError(f"ci must be True, a level in (0, 1) or \"profile\", not {ci!r}")


def _check_evaluations(n):
    if not isinstance(n, (int, np.integer)) or not 0 <= n <= 2**31 - 1:
        raise FitModelsError(f"max_evaluations must be 0 (the default limit) or a positive count, "
                             f"not {n!r}")


class FitResult:
    """The outcome of one fit: parameters by name, standard errors, covariance, statistics."""

    def __init__(self, model, x, y, weights, raw, ci_level):
        self.model = model
        self.x, self.y, self.weights = x, y, weights
        names = model.param_names
        self.values = raw["params"]
        self.errors = raw["errors"]
        self.params = dict(zip(names, self.values.tolist()))
        self.stderr = dict(zip(names, self.errors.tolist()))
        self.covariance = raw["covariance"]
        self.correlation = raw["correlation"]
        self.flags = raw["flags"]
        self.held = [n for n, f in zip(names, self.flags.tolist()) if f & _c.FLAG_HELD]
        self.ci_level = ci_level
        self.ci = ({n: (lo, hi) for n, lo, hi in zip(names, raw["ci_lower"].tolist(),
                                                     raw["ci_upper"].tolist())}
                   if ci_level else None)
        self.status_code = raw["status"]
        self.status = raw["status_name"]
        self.success = self.status_code == 0
        self.message = _named(model, raw["message"])
        for k in ("points", "free_params", "dof", "nfev", "njev", "chi2", "redchi", "r2",
                  "aic", "aicc", "bic", "failing_point", "detail", "solver_info"):
            setattr(self, k, raw[k])
        self._best = None

    @property
    def best_fit(self):
        """The model at the fitted parameters at every point of x."""
        if self._best is None:
            self._best = self.model.eval(self.x, self.values)
        return self._best

    @property
    def residual(self):
        """y - best_fit (times the weights 1/sigma when weights were given)."""
        r = self.y - self.best_fit
        return r if self.weights is None else r * self.weights

    def __repr__(self):
        return f"<FitResult {self.model.name} {self.status}: {self.params}>"

    def report(self, correl=0.1):
        """A readable report: fit statistics, parameters with errors, notable correlations."""
        m = self.model
        lines = ["[[Model]]", f"    {m.name}: {m.formula}", "[[Fit Statistics]]",
                 f"    status             = {self.status}",
                 f"    message            = {self.message}",
                 f"    # function evals   = {self.nfev}",
                 f"    # jacobian evals   = {self.njev}",
                 f"    # data points      = {self.points}",
                 f"    # variables        = {self.free_params}",
                 f"    chi-square         = {self.chi2:.7g}",
                 f"    reduced chi-square = {self.redchi:.7g}",
                 f"    R-squared          = {self.r2:.7g}",
                 f"    Akaike info crit   = {self.aic:.7g}",
                 f"    Bayesian info crit = {self.bic:.7g}",
                 "[[Variables]]"]
        width = max(len(n) for n in m.param_names)
        for n in m.param_names:
            v, e = self.params[n], self.stderr[n]
            if n in self.held:
                note = "(fixed)"
            elif math.isfinite(e):
                rel = f" ({abs(e / v) * 100:.2f}%)" if v != 0 else ""
                note = f"+/- {e:<.7g}{rel}"
            else:
                note = "+/- nan"
            lines.append(f"    {n + ':':<{width + 1}} {v:< .7g} {note}")
        if self.ci:
            lines.append(f"[[Confidence Intervals ({self.ci_level:g})]]")
            for n in m.param_names:
                lo, hi = self.ci[n]
                lines.append(f"    {n + ':':<{width + 1}} [{lo:.7g}, {hi:.7g}]")
        pairs = []
        names = m.param_names
        for i in range(len(names)):
            for j in range(i + 1, len(names)):
                c = self.correlation[i, j]
                if math.isfinite(c) and abs(c) > correl:
                    pairs.append((abs(c), f"    C({names[i]}, {names[j]})", c))
        if pairs:
            lines.append(f"[[Correlations]] (unreported correlations are < {correl:.3f})")
            pairs.sort(key=lambda t: -t[0])
            w = max(len(p[1]) for p in pairs)
            lines += [f"{label:<{w}} = {c:+.4f}" for _, label, c in pairs]
        return "\n".join(lines)


def fit(model, x, y, p0=None, weights=None, bounds=None, fixed=None, ci=None, peaks=None,
        absolute_sigma=False, max_evaluations=0):
    """Weighted least squares of one model over one data set.

    model: a Model or a name (peaks= for a multi-peak model). p0: starting values in order or
    by name; None, or a partial dict, lets the built-in estimator supply the rest. weights: 1/sigma
    per point. bounds: (lower, upper), each a scalar or one per parameter, or a dict
    name: (lower, upper). fixed: a dict name: value (held at value) or names held at p0.
    ci: True or a level for asymptotic intervals, "profile" for profile-likelihood ones."""
    m = as_model(model, peaks)
    _check_evaluations(max_evaluations)
    xs = m._points(x)
    ys = _ydata(m, y, xs.shape[0])
    w = _weights(weights, xs.shape[0])
    start, partial, held, lower, upper = _constraints(m, p0, bounds, fixed)
    if partial:
        if start is None:
            start = _c.estimate(m.name, m.nparams, m.nindep, xs, ys, w)
            if start is None:
                missing = [n for n in m.param_names if n not in partial]
                raise FitModelsError(f"no estimate of starting values for {m.name}; give p0 for "
                                     f"{', '.join(missing)}")
        start = np.array(start, dtype=np.float64)
        for k, v in partial.items():
            start[m.param_names.index(k)] = v
    level, profile = _ci_option(ci)
    raw = _c.fit(m.name, m.nparams, m.nindep, xs, ys, w, start, held, lower, upper, level,
                 profile, bool(absolute_sigma), int(max_evaluations))
    # Input the engine refuses is the caller's mistake: an exception with the engine's line.
    if raw["status"] in (_INVALID_INPUT, _NO_ESTIMATE):
        raise FitModelsError(_named(m, raw["message"]))
    return FitResult(m, xs, ys, w, raw, level)


# ---- many fits ----------------------------------------------------------------------------------
def _stack(m, x, Y, weights):
    """The points of every fit in contiguous arrays: (x (N, k), y (N), offsets, weights)."""
    ragged_y = isinstance(Y, (list, tuple))
    if ragged_y:
        ys = [_as_float_array(v, "Y") for v in Y]
        if any(v.ndim != 1 for v in ys):
            raise FitModelsError("Y must be a 2-d array or a list of 1-d arrays")
    else:
        Ya = _as_float_array(Y, "Y")
        if Ya.ndim != 2:
            raise FitModelsError(f"Y has shape {Ya.shape}: one curve per row, or a list of curves")
        ys = list(Ya)
    count = len(ys)
    if count == 0:
        return np.zeros((0, m.nindep)), np.zeros(0), np.zeros(1, dtype=np.uint64), None
    k = m.nindep
    shared_x = not (isinstance(x, (list, tuple)) and ragged_y and len(x) == count > 0 and
                    all(np.ndim(v) == (1 if k == 1 else 2) or
                        (k > 1 and isinstance(v, (list, tuple)) and len(v) == k) for v in x))
    if shared_x:
        xs = m._points(x)
        for i, v in enumerate(ys):
            if v.size != xs.shape[0]:
                raise FitModelsError(f"curve {i} of Y has {v.size} points; x has {xs.shape[0]}")
        xall = np.tile(xs, (count, 1)) if count else xs[:0]
        sizes = [xs.shape[0]] * count
    else:
        xl = [m._points(v, f"x[{i}]") for i, v in enumerate(x)]
        for i, (a, v) in enumerate(zip(xl, ys)):
            if v.size != a.shape[0]:
                raise FitModelsError(f"curve {i} of Y has {v.size} points; x[{i}] has "
                                     f"{a.shape[0]}")
        xall = np.concatenate(xl) if xl else np.zeros((0, m.nindep))
        sizes = [a.shape[0] for a in xl]
    offsets = np.zeros(count + 1, dtype=np.uint64)
    np.cumsum(sizes, out=offsets[1:])
    yall = np.concatenate(ys) if ys else np.zeros(0)
    wall = None
    if weights is not None:
        if isinstance(weights, (list, tuple)):
            wl = [_as_float_array(v, "weights").ravel() for v in weights]
        else:
            wa = _as_float_array(weights, "weights")
            wl = list(wa) if wa.ndim == 2 else [wa] * count
        if len(wl) != count or any(a.size != s for a, s in zip(wl, sizes)):
            raise FitModelsError("weights must match Y curve by curve")
        wall = _weights(np.concatenate(wl) if wl else np.zeros(0), yall.size)
    return (np.ascontiguousarray(xall, dtype=np.float64), np.ascontiguousarray(yall), offsets,
            wall)


def _rows(m, value, what, count, default, flag):
    """A shared per-parameter vector or count x nparams rows; returns (array, per_fit bit)."""
    if value is None:
        return None, 0
    if isinstance(value, dict) or np.ndim(value) <= 1:
        return _per_param(m, value, what, default), 0
    a = _as_float_array(value, what)
    if a.shape != (count, m.nparams):
        raise FitModelsError(f"{what} has shape {a.shape}; want ({m.nparams},) or "
                             f"({count}, {m.nparams})")
    return np.ascontiguousarray(a), flag


def fit_many(model, x, Y, p0=None, weights=None, bounds=None, fixed=None, ci=None, peaks=None,
             absolute_sigma=False, max_evaluations=0, threads=0, as_frame=None):
    """One fit per curve of Y, over all cores (threads=0) without the GIL.

    x is shared by every curve (an array as for Model.eval) or a list with one per curve; Y is a
    2-d array (one curve per row) or a list of 1-d arrays of any lengths. p0, bounds and fixed are
    shared (as for fit), or p0 and bounds rows of shape (count, nparams). Returns a pandas
    DataFrame when pandas is installed (as_frame=None) or asked for (True), else a dict of
    arrays: one column per parameter, <name>_stderr, status, success, chi2, redchi, r2, aic, bic,
    nfev, points, message."""
    m = as_model(model, peaks)
    if not isinstance(threads, (int, np.integer)) or threads < 0:
        raise FitModelsError(f"threads must be 0 (all cores) or a positive count, not {threads!r}")
    _check_evaluations(max_evaluations)
    xall, yall, offsets, wall = _stack(m, x, Y, weights)
    count = offsets.size - 1
    per_fit = 0
    start = held = lower = upper = None
    if isinstance(p0, dict) and len(p0) != m.nparams:
        raise FitModelsError("fit_many wants every starting value in p0, or none")
    start, bit = _rows(m, p0, "p0", count, np.nan, _c.PER_FIT_START)
    per_fit |= bit
    if fixed is not None:
        names = fixed.keys() if isinstance(fixed, dict) else fixed
        held = np.zeros(m.nparams, dtype=np.uint8)
        for k in names:
            held[_index(m, k, "fixed")] = 1
        if isinstance(fixed, dict):
            if start is None:
                raise FitModelsError("fit_many holds parameters at p0; give p0 with fixed")
            cols = [m.param_names.index(k) for k in fixed]
            start = np.array(start)
            if start.ndim == 1:
                start[cols] = list(fixed.values())
            else:
                start[:, cols] = list(fixed.values())
        elif start is None:
            raise FitModelsError("fit_many holds parameters at p0; give p0 with fixed")
    if bounds is not None:
        if isinstance(bounds, dict):
            _, _, _, lower, upper = _constraints(m, None, bounds, None)
        else:
            if len(bounds) != 2:
                raise FitModelsError("bounds must be (lower, upper) or a dict name: (lower, upper)")
            lower, bit = _rows(m, bounds[0], "bounds", count, -np.inf, _c.PER_FIT_LOWER)
            per_fit |= bit
            upper, bit = _rows(m, bounds[1], "bounds", count, np.inf, _c.PER_FIT_UPPER)
            per_fit |= bit
    level, profile = _ci_option(ci)
    raw = _c.fit_batch(m.name, m.nparams, m.nindep, xall, yall, offsets, wall, start, held,
                       lower, upper, per_fit, level, profile, bool(absolute_sigma),
                       int(max_evaluations), int(threads))
    out = {}
    for i, n in enumerate(m.param_names):
        out[n] = raw["params"][:, i]
    for i, n in enumerate(m.param_names):
        out[n + "_stderr"] = raw["errors"][:, i]
    if level:
        for i, n in enumerate(m.param_names):
            out[n + "_lower"] = raw["ci_lower"][:, i]
            out[n + "_upper"] = raw["ci_upper"][:, i]
    codes = raw["status"]
    out["status"] = np.array([_status_text(c) for c in codes], dtype=object)
    out["success"] = codes == 0
    for k in ("chi2", "redchi", "r2", "aic", "bic", "nfev", "points"):
        out[k] = raw[k]
    out["message"] = np.array([_named(m, t) for t in raw["message"]], dtype=object)
    if as_frame is None or as_frame:
        try:
            import pandas as pd
        except ImportError:
            if as_frame:
                raise
        else:
            return pd.DataFrame(out)
    return out

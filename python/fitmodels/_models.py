"""The catalogue and the models as whole-array functions over the C library."""

import numpy as np

from . import _fitmodels as _c


class FitModelsError(ValueError):
    """Bad input: an unknown model, a wrong parameter count, arrays of the wrong shape or kind."""


_CATALOG = None
_BY_NAME = None
_MODELS = {}


def _catalog():
    global _CATALOG
    if _CATALOG is None:
        _CATALOG = _c.catalog()
    return _CATALOG


def _find(name):
    if not isinstance(name, str):
        raise FitModelsError(f"a model is named by a string, not {type(name).__name__}")
    global _BY_NAME
    if _BY_NAME is None:
        # table names first, then export names: a table name wins where they coincide
        _BY_NAME = {m["export_name"].lower(): m for m in reversed(_catalog()) if m["export_name"]}
        _BY_NAME.update({m["name"].lower(): m for m in reversed(_catalog())})
    found = _BY_NAME.get(name.lower())
    if found is not None:
        return found
    hint = ", ".join(_c.nearest(name))
    raise FitModelsError(f'unknown model "{name}"' + (f" (did you mean {hint}?)" if hint else ""))


def models(text=None):
    """The catalogue: one dict per model (name, family, counts, parameter names, roles, domains,
    formula, start kind, whether it serves analytic derivatives), in registry order. With text,
    only the models whose name, family or formula contains it (any letter case)."""
    out = [dict(m, param_names=list(m["param_names"]), roles=list(m["roles"]),
                domains=list(m["domains"])) for m in _catalog()]
    if text is not None:
        t = text.lower()
        out = [m for m in out
               if t in m["name"].lower() or t in m["family"].lower() or t in m["formula"].lower()]
    return out


def _expected_counts(info, names):
    joined = ", ".join(names)
    if info["per_term"] > 0:
        return (f"{info['shared']}+{info['per_term']}k, k >= 1 (one term: {joined}; "
                f"set k with peaks=)")
    return f"{len(names)} ({joined})"


def _as_float_array(a, what):
    """a as a float64 array, refusing what is not real numbers (strings, complex, objects that do
    not convert) with a message naming the argument."""
    if isinstance(a, np.ndarray) and a.dtype.kind in "iuf":
        return np.asarray(a, dtype=np.float64)
    try:
        arr = np.asarray(a)
    except (ValueError, TypeError) as e:
        raise FitModelsError(f"{what} must be an array of numbers ({e})") from None
    if arr.dtype.kind in "iuf":
        return arr.astype(np.float64, copy=False)
    if arr.dtype.kind == "O":
        try:
            return arr.astype(np.float64)
        except (ValueError, TypeError):
            pass
    raise FitModelsError(f"{what} must be real numbers; got an array of dtype {arr.dtype}")


class Model:
    """A model of the catalogue at one parameter count.

    Model("Gauss") takes the model's own count; Model("Gauss", peaks=2) two terms of a multi-peak
    model; nparams= sets the count directly. eval() and jacobian() run over whole arrays in C++.
    """

    def __init__(self, name, peaks=None, nparams=None):
        if isinstance(name, Model):
            name = name.name
        info = _find(name)
        self.info = info
        if info["shape"] == "placeholder":
            raise FitModelsError(f"{info['name']} is a placeholder model: it computes nothing to fit")
        if peaks is not None and nparams is not None:
            raise FitModelsError("give peaks= or nparams=, not both")
        if peaks is not None:
            if info["per_term"] <= 0:
                raise FitModelsError(f"{info['name']} has a fixed number of parameters; "
                                     "peaks= is for multi-peak models")
            if not isinstance(peaks, (int, np.integer)) or peaks < 1:
                raise FitModelsError("peaks must be at least 1")
            nparams = _c.params_for_terms(info["name"], int(peaks))
        elif nparams is None:
            nparams = info["row_params"]
            if _c.layout_params(info["name"], nparams) < 0:
                nparams = _c.params_for_terms(info["name"], 1)
        if not isinstance(nparams, (int, np.integer)) or nparams < 1 or nparams > 32767 \
                or _c.layout_params(info["name"], int(nparams)) < 0:
            one = _c.params_for_terms(info["name"], 1)
            names = _c.Model(info["name"], one).param_names
            raise FitModelsError(f"{info['name']} takes {_expected_counts(info, names)} "
                                 f"parameters; got {nparams}")
        self._m = _c.Model(info["name"], int(nparams))
        self.name = info["name"]
        self.nparams = int(nparams)
        self.nindep = info["nindep"]
        self.param_names = list(self._m.param_names)
        self.formula = info["formula"]
        self.derivatives = info["derivatives"]

    def __reduce__(self):  # pickled by name and count, e.g. for worker processes
        return (Model, (self.name, None, self.nparams))

    def __repr__(self):
        return f"Model({self.name!r}, nparams={self.nparams}: {', '.join(self.param_names)})"

    # ---- argument checks shared with the fits ----------------------------------------------
    def _points(self, x, what="x"):
        """x as a C-contiguous (n, nindep) float64 array: one input as a 1-d array, several as a
        sequence of equally long 1-d arrays or an (n, nindep) array."""
        k = self.nindep
        if k > 1 and isinstance(x, (list, tuple)) and len(x) == k and \
                all(np.ndim(c) == 1 for c in x):
            cols = [_as_float_array(c, what) for c in x]
            if len({len(c) for c in cols}) != 1:
                raise FitModelsError(f"{self.name} reads {k} independent variables; the "
                                     f"{what} columns have lengths "
                                     f"{', '.join(str(len(c)) for c in cols)}")
            arr = np.column_stack(cols)
        else:
            arr = _as_float_array(x, what)
            if arr.ndim == 0 and k == 1:
                arr = arr.reshape(1)
            if arr.ndim == 1 and k == 1:
                arr = arr.reshape(-1, 1)
            if arr.ndim != 2 or arr.shape[1] != k:
                want = "a 1-d array or shape (n, 1)" if k == 1 else \
                    f"shape (n, {k}) or {k} arrays of n"
                raise FitModelsError(f"{self.name} reads {k} independent variable"
                                     f"{'s' if k > 1 else ''}; {what} has shape {arr.shape}, "
                                     f"not {want}")
        return np.ascontiguousarray(arr, dtype=np.float64)

    def _params(self, params, what="params"):
        """params as a float64 vector of nparams: a sequence in order, or a dict by name."""
        if hasattr(params, "params") and isinstance(getattr(params, "params"), dict):
            params = params.params
        if isinstance(params, dict):
            unknown = [k for k in params if k not in self.param_names]
            if unknown:
                raise FitModelsError(f'{what}: no parameter "{unknown[0]}" (parameters: '
                                     f"{', '.join(self.param_names)})")
            missing = [n for n in self.param_names if n not in params]
            if missing:
                raise FitModelsError(f"{what} lacks {', '.join(missing)} (parameters: "
                                     f"{', '.join(self.param_names)})")
            params = [params[n] for n in self.param_names]
        p = _as_float_array(params, what)
        if p.ndim != 1 or p.size != self.nparams:
            got = p.size if p.ndim == 1 else f"shape {p.shape}"
            raise FitModelsError(f"{self.name} takes {self.nparams} ({', '.join(self.param_names)})"
                                 f" parameters; got {got}")
        return np.ascontiguousarray(p)

    # ---- evaluation ---------------------------------------------------------------------------
    def eval(self, x, params, with_mask=False):
        """The model's values at every point of x. A point where the model fails (or a
        non-finite point or parameter) gives NaN; with_mask=True also returns the boolean array
        of the failed points."""
        y, failed = self._m.eval(self._points(x), self._params(params))
        return (y, failed) if with_mask else y

    __call__ = eval

    def jacobian(self, x, params, with_mask=False):
        """The analytic partial derivatives, shape (n, nparams); a failed point's row is NaN."""
        if not self.derivatives:
            raise FitModelsError(f"{self.name} serves no analytic derivatives")
        jac, failed = self._m.jacobian(self._points(x), self._params(params))
        return (jac, failed) if with_mask else jac


def as_model(model, peaks=None):
    if isinstance(model, Model):
        if peaks is not None and Model(model.name, peaks=peaks).nparams != model.nparams:
            raise FitModelsError(f"peaks={peaks} contradicts {model!r}")
        return model
    key = (model.lower() if isinstance(model, str) else model, peaks)
    try:
        return _MODELS[key]
    except (KeyError, TypeError):
        pass
    m = Model(model, peaks=peaks)
    _MODELS[key] = m  # a Model holds no state that a call changes
    return m

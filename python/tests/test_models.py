"""Model.eval and Model.jacobian over arrays against the C contract called point by point
through ctypes, as any other host would call the shared library."""
import ctypes
import glob
import math
import os

import numpy as np
import pytest

import fitmodels

# the model library bundled beside the extension module (under its soname)
LIBRARY = glob.glob(os.path.join(os.path.dirname(fitmodels.__file__), "libfitmodels.so*"))[0]

LIB = ctypes.CDLL(LIBRARY, use_errno=True)
LIB.Get_Func.restype = ctypes.c_void_p
LIB.Get_Func.argtypes = [ctypes.c_char_p] + [ctypes.c_void_p] * 4
PROTO = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_int32, ctypes.c_void_p, ctypes.c_int16,
                         ctypes.c_int32, ctypes.c_int32, ctypes.POINTER(ctypes.c_double),
                         ctypes.c_int32, ctypes.POINTER(ctypes.c_double),
                         ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_double),
                         use_errno=True)
MISSING = -1.23456789e-300


def call_point(fn, request, params, x):
    """One call of the contract: (ok, y[1], deriv[1..n])."""
    n = len(params)
    p = (ctypes.c_double * (n + 1))(0.0, *params)
    xs = (ctypes.c_double * 4)(0.0, *x, *([0.0] * (3 - len(x))))
    y = (ctypes.c_double * (n + 8))()
    d = (ctypes.c_double * (n + 8))()
    ctypes.set_errno(0)
    rc = fn(request, None, n, 0, 0, p, 0, xs, y, d)
    deriv = list(d[1:n + 1])
    ok = rc == 0 and math.isfinite(y[1]) and y[1] != MISSING
    if request == 4:
        ok = rc == 0 and all(math.isfinite(v) and v != MISSING for v in deriv)
    return ok, y[1], deriv


def sweep(point, count=9):
    """Points around a generic point, a few of them far out where models may fail."""
    x = np.array(point, dtype=float)
    steps = np.linspace(-0.3, 0.3, count)
    pts = np.array([x * (1 + s) + s for s in steps])
    return np.vstack([pts, x * 40.0 - 3.0, -x])


CASES = [(m["name"], tuple(x), tuple(p)) for m in fitmodels.models()
         if m["shape"] != "placeholder" for x, p in m["points"]]


@pytest.mark.parametrize("name,point,params", CASES, ids=[f"{c[0]}-{len(c[2])}" for c in CASES])
def test_arrays_agree_with_the_contract_point_by_point(name, point, params):
    model = fitmodels.Model(name, nparams=len(params))
    fn = PROTO(LIB.Get_Func(name.encode(), None, None, None, None) or
               ctypes.cast(getattr(LIB, model.info["export_name"]), ctypes.c_void_p).value)
    xs = sweep(point)
    y, failed = model.eval(xs, params, with_mask=True)
    for i, pt in enumerate(xs):
        ok, v, _ = call_point(fn, 2, params, pt)
        assert failed[i] == (not ok), (pt, v)
        if ok:
            assert y[i] == v  # the same call: bit for bit
        else:
            assert np.isnan(y[i])
    assert not failed[0:9].all()
    # The same points as separate input columns and as a transposed (non-contiguous) view.
    cols = tuple(xs[:, j] for j in range(xs.shape[1])) if xs.shape[1] > 1 else xs[:, 0]
    np.testing.assert_array_equal(model.eval(cols, params), y)
    np.testing.assert_array_equal(model.eval(np.asfortranarray(xs), params), y)
    if not model.derivatives:
        with pytest.raises(fitmodels.FitModelsError, match="serves no analytic derivatives"):
            model.jacobian(xs, params)
        return
    jac, jfailed = model.jacobian(xs, params, with_mask=True)
    assert jac.shape == (len(xs), len(params))
    for i, pt in enumerate(xs):
        ok, _, d = call_point(fn, 4, params, pt)
        assert jfailed[i] == (not ok)
        if ok:
            np.testing.assert_array_equal(jac[i], d)
        else:
            assert np.isnan(jac[i]).all()


def test_catalogue_describes_every_model(catalog):
    names = [m["name"] for m in catalog]
    assert len(names) == len(set(n.lower() for n in names)) >= 276
    for m in catalog:
        one = fitmodels.Model(m["name"], nparams=None) if m["shape"] != "placeholder" else None
        assert len(m["param_names"]) == len(m["roles"]) == len(m["domains"])
        assert m["formula"], m["name"]
        if one is not None:
            assert len(set(one.param_names)) == one.nparams, m["name"]


def test_multi_peak_counts_and_names():
    m = fitmodels.Model("Gauss", peaks=3)
    assert m.nparams == 10
    assert m.param_names[:5] == ["y0", "xc1", "w1", "A1", "xc2"]
    # per-name parameters give the same values as the ordered vector
    p = [0.5, 2, 1, 3, 5, 1, 2, 8, 0.5, 1]
    x = np.linspace(0, 10, 11)
    np.testing.assert_array_equal(m.eval(x, dict(zip(m.param_names, p))), m.eval(x, p))
    # the sum of single peaks on one baseline
    single = fitmodels.Model("Gauss")
    parts = sum(single.eval(x, [0, *p[1 + 3 * j:4 + 3 * j]]) for j in range(3))
    np.testing.assert_allclose(m.eval(x, p), 0.5 + parts, rtol=1e-14)


def test_models_filters_by_text():
    found = fitmodels.models("voigt")
    assert found and all("voigt" in (m["name"] + m["family"] + m["formula"]).lower()
                         for m in found)

"""Bad input raises FitModelsError with one clear line, and never crashes or corrupts."""
import numpy as np
import pytest

import fitmodels
from fitmodels import FitModelsError, Model

X = np.linspace(0.0, 10.0, 21)
G = [0.0, 5.0, 1.0, 10.0]  # Gauss: y0, xc, w, A

# (what is wrong, the call, the message it raises)
CASES = [
    ("unknown model", lambda: Model("Gaus"), r'^unknown model "Gaus" \(did you mean .*Gauss.*\?\)$'),
    ("no near name", lambda: Model("qqqqqqqqqqqqqq"), r'^unknown model "qqqqqqqqqqqqqq"$'),
    ("model not a string", lambda: Model(3), r"named by a string"),
    ("placeholder", lambda: Model("Prunty"), r"placeholder model"),
    ("peaks of a fixed model", lambda: Model("Hill", peaks=2), r"fixed number of parameters"),
    ("no peaks", lambda: Model("Gauss", peaks=0), r"peaks must be at least 1"),
    ("count off the layout", lambda: Model("Gauss", nparams=6),
     r"^Gauss takes 1\+3k, k >= 1 \(one term: y0, xc, w, A; set k with peaks=\) parameters; got 6$"),
    ("too few params", lambda: Model("Gauss").eval(X, [1, 2]),
     r"^Gauss takes 4 \(y0, xc, w, A\) parameters; got 2$"),
    ("params of two rows", lambda: Model("Gauss").eval(X, [G, G]), r"got shape \(2, 4\)"),
    ("unknown name", lambda: Model("Gauss").eval(X, {"y0": 0, "xc": 1, "w": 1, "B": 2}),
     r'no parameter "B" \(parameters: y0, xc, w, A\)'),
    ("missing name", lambda: Model("Gauss").eval(X, {"y0": 0, "xc": 1}), r"lacks w, A"),
    ("strings", lambda: Model("Gauss").eval(["a", "b"], G), r"x must be real numbers.*dtype <U1"),
    ("complex", lambda: Model("Gauss").eval(X + 1j, G), r"x must be real numbers.*complex128"),
    ("ragged", lambda: Model("Gauss").eval([[1, 2], [3]], G), r"x must be an array of numbers"),
    ("object params", lambda: Model("Gauss").eval(X, [object(), 1, 1, 1]), r"params must be real"),
    ("3-d x", lambda: Model("Gauss").eval(np.zeros((2, 2, 2)), G),
     r"^Gauss reads 1 independent variable; x has shape \(2, 2, 2\), not a 1-d array"),
    ("one column for two inputs", lambda: Model("Gauss2D").eval(X, [0, 1, 0, 1, 0, 1]),
     r"^Gauss2D reads 2 independent variables; x has shape \(21,\), not shape \(n, 2\)"),
    ("columns of unequal length", lambda: Model("Gauss2D").eval((X, X[:3]), [0, 1, 0, 1, 0, 1]),
     r"columns have lengths 21, 3"),
    ("value-only jacobian", lambda: Model("Freundlich3PEVP2").jacobian(X, [1, 1, 1, 1, 1]),
     r"serves no analytic derivatives"),
    ("y shorter than x", lambda: fitmodels.fit("Gauss", X, X[:-1], p0=G),
     r"^y has shape \(20,\); x has 21 points$"),
    ("weights not positive", lambda: fitmodels.fit("Gauss", X, X, p0=G, weights=-np.ones(21)),
     r"weights \(1/sigma\) must be positive"),
    ("bounds crossed", lambda: fitmodels.fit("Gauss", X, X, p0=G, bounds={"w": (2, 1)}),
     r"lower bound of w lies above its upper bound"),
    ("bounds of a wrong count", lambda: fitmodels.fit("Gauss", X, X, p0=G, bounds=([0, 0], [1, 1])),
     r"bounds gives 2 values; the parameters are 4: y0, xc, w, A"),
    ("fixed unknown", lambda: fitmodels.fit("Gauss", X, X, p0=G, fixed={"q": 1}),
     r'fixed: no parameter "q"'),
    ("ci level", lambda: fitmodels.fit("Gauss", X, X, p0=G, ci=2), r"ci must be True"),
    ("NaN in y", lambda: fitmodels.fit("Gauss", X, np.where(X > 5, np.nan, X), p0=G), r"point 12"),
    ("start outside bounds", lambda: fitmodels.fit("Gauss", X, X, p0=G, bounds={"w": (2, 3)}),
     r"^the start of parameter 3 \(w\) lies outside its bounds$"),
    ("negative threads", lambda: fitmodels.fit_many("Gauss", X, [X], p0=G, threads=-1),
     r"threads must be 0 \(all cores\) or a positive count, not -1"),
    ("evaluation limit", lambda: fitmodels.fit("Gauss", X, X, p0=G, max_evaluations=-5),
     r"max_evaluations must be 0"),
    ("curve of the wrong length", lambda: fitmodels.fit_many("Gauss", X, [X, X[:5]], p0=G),
     r"curve 1 of Y has 5 points; x has 21"),
    ("Y of one dimension", lambda: fitmodels.fit_many("Gauss", X, X, p0=G), r"Y has shape \(21,\)"),
    ("per-fit starts of a wrong shape",
     lambda: fitmodels.fit_many("Gauss", X, np.zeros((3, 21)), p0=np.zeros((2, 4))),
     r"p0 has shape \(2, 4\); want \(4,\) or \(3, 4\)"),
]


@pytest.mark.parametrize("what,call,message", CASES, ids=[c[0] for c in CASES])
def test_bad_input_raises_one_clear_line(what, call, message):
    with pytest.raises(FitModelsError, match=message) as e:
        call()
    assert "\n" not in str(e.value)


def test_awkward_arrays_evaluate_as_their_contiguous_copies():
    m = Model("Gauss")
    ref = m.eval(X, G)
    np.testing.assert_array_equal(m.eval(X.astype(np.float32), G), m.eval(X.astype(np.float32).astype(float), G))
    np.testing.assert_array_equal(m.eval(np.repeat(X, 2)[::2], G), ref)          # strided
    np.testing.assert_array_equal(m.eval(np.arange(21) / 2.0, G), ref)          # computed
    np.testing.assert_array_equal(m.eval(list(X), np.array(G, dtype=np.int64)), ref)
    np.testing.assert_array_equal(m.eval(X.reshape(-1, 1), G), ref)
    big = np.zeros(42)
    big[::2] = X
    np.testing.assert_array_equal(m.eval(big[::2], np.repeat(G, 2)[::2]), ref)
    assert m.eval(2.5, G).shape == (1,)


def test_empty_and_non_finite_inputs_fail_point_by_point():
    m = Model("Gauss")
    y, failed = m.eval(np.array([]), G, with_mask=True)
    assert y.shape == failed.shape == (0,)
    assert m.jacobian(np.zeros((0, 1)), G).shape == (0, 4)
    x = np.array([1.0, np.nan, np.inf, -np.inf, 5.0])
    y, failed = m.eval(x, G, with_mask=True)
    assert failed.tolist() == [False, True, True, True, False]
    assert np.isnan(y[1:4]).all() and np.isfinite(y[[0, 4]]).all()
    y, failed = m.eval(X, [0, 5, np.nan, 10], with_mask=True)
    assert failed.all() and np.isnan(y).all()
    # a point where the model itself fails: a zero width
    y, failed = m.eval(X, [0, 5, 0, 10], with_mask=True)
    assert failed.all()


def test_the_inputs_are_not_written():
    m = Model("Gauss2D")
    x = np.random.default_rng(1).normal(size=(50, 2))
    p = np.array([0.1, 2, 0.3, 1.1, -0.2, 0.8])
    keep = x.copy(), p.copy()
    m.eval(x, p)
    m.jacobian(x, p)
    np.testing.assert_array_equal(x, keep[0])
    np.testing.assert_array_equal(p, keep[1])

"""The same data fitted by SciPy's curve_fit and by lmfit: where all three converge they agree on
the parameters and on the standard errors (all scale the covariance by the reduced chi-square)."""
import numpy as np
import pytest

import fitmodels

optimize = pytest.importorskip("scipy.optimize")
lmfit = pytest.importorskip("lmfit")


def gauss(x, y0, xc, w, A):
    return y0 + A * np.exp(-2 * ((x - xc) / w) ** 2) / (w * np.sqrt(np.pi / 2))


def hill(x, Vmax, k, n):
    return Vmax / (1 + (k / x) ** n)


def expdec1(x, y0, A1, t1):
    return y0 + A1 * np.exp(-x / t1)


def gauss2d(x, z0, A, xc, w1, yc, w2):
    return z0 + A * np.exp(-((x[0] - xc) / w1) ** 2 / 2 - ((x[1] - yc) / w2) ** 2 / 2)


_G = np.linspace(-3, 3, 21)
SURFACE = np.vstack([a.ravel() for a in np.meshgrid(_G, _G)])

# model, formula, x, truth, start, noise
CASES = {
    "peak": ("Gauss", gauss, np.linspace(0, 10, 120), [0.3, 4.5, 1.6, 12.0], [0, 4, 1, 8], 0.1),
    "dose-response": ("Hill", hill, np.logspace(-2, 2, 40), [100.0, 1.5, 1.2], [80, 1, 1], 2.0),
    "decay": ("ExpDec1", expdec1, np.linspace(0, 8, 60), [1.0, 9.0, 1.7], [0, 5, 1], 0.2),
    "surface": ("Gauss2D", gauss2d, SURFACE, [0.2, 3.0, 0.5, 1.0, -0.4, 1.5],
                [0, 2, 0, 1.2, 0, 1.2], 0.03),
}


@pytest.mark.parametrize("case", list(CASES))
def test_parameters_and_errors_agree_with_curve_fit_and_lmfit(case, rng):
    name, formula, x, truth, start, noise = CASES[case]
    y = formula(x, *truth) + rng.normal(0, noise, x.shape[-1])
    ours = fitmodels.fit(name, x.T, y, p0=start)
    assert ours.success, ours.message

    p, cov = optimize.curve_fit(formula, x, y, p0=start, ftol=1e-13, xtol=1e-13, gtol=0)
    se = np.sqrt(np.diag(cov))

    lm = lmfit.Model(formula, independent_vars=["x"])
    lres = lm.fit(y, lm.make_params(**dict(zip(ours.model.param_names, start))), x=x,
                  fit_kws={"ftol": 1e-13, "xtol": 1e-13})
    assert lres.success and lres.errorbars
    lp = np.array([lres.params[n].value for n in ours.model.param_names])
    lse = np.array([lres.params[n].stderr for n in ours.model.param_names])

    for other, other_se in ((p, se), (lp, lse)):
        assert np.all(np.abs(ours.values - other) <= 1e-5 * ours.errors), (ours.values, other)
        np.testing.assert_allclose(ours.errors, other_se, rtol=1e-4)
    np.testing.assert_allclose(ours.chi2, lres.chisqr, rtol=1e-9)

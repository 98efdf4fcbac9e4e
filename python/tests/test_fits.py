"""fit and fit_many: known curves recovered, constraints honoured, a batch equal to its fits."""
import numpy as np
import pytest

import fitmodels

TRUE = [0.5, 3.0, 1.0, 10.0, 7.0, 1.5, 4.0]  # Gauss, two peaks
START = [0.0, 2.8, 1.2, 8.0, 7.3, 1.0, 5.0]
X = np.linspace(0.0, 10.0, 200)


def curves(count, rng, sigma=0.05):
    m = fitmodels.Model("Gauss", peaks=2)
    clean = m.eval(X, TRUE)
    return np.array([clean + rng.normal(0, sigma, X.size) for _ in range(count)])


def test_a_noisy_two_peak_curve_is_recovered_within_its_errors(rng):
    y = curves(1, rng)[0]
    r = fitmodels.fit("Gauss", X, y, p0=START, peaks=2, ci=True)
    assert r.success and r.status == "converged"
    names = r.model.param_names
    for n, t in zip(names, TRUE):
        assert abs(r.params[n] - t) < 4 * r.stderr[n], n
        lo, hi = r.ci[n]
        assert lo < r.params[n] < hi
    assert r.points == 200 and r.dof == 193 and r.r2 > 0.99
    np.testing.assert_allclose(r.redchi, 0.05 ** 2, rtol=0.3)
    np.testing.assert_array_equal(r.best_fit, r.model.eval(X, r.values))
    np.testing.assert_array_equal(r.residual, y - r.best_fit)
    np.testing.assert_allclose(np.sqrt(np.diag(r.covariance)), r.errors, rtol=1e-12)
    text = r.report()
    assert "[[Variables]]" in text and "converged" in text
    assert all(f"    {n}:" in text for n in names)


def test_weights_scale_the_residuals(rng):
    y = curves(1, rng)[0]
    w = np.full(X.size, 20.0)
    r = fitmodels.fit("Gauss", X, y, p0=START, peaks=2, weights=w, absolute_sigma=True)
    np.testing.assert_allclose(r.residual, (y - r.best_fit) * 20.0)
    np.testing.assert_allclose(r.chi2, np.sum(r.residual ** 2), rtol=1e-10)


def test_held_and_bounded_parameters(rng):
    y = curves(1, rng)[0]
    r = fitmodels.fit("Gauss", X, y, p0=START, peaks=2, fixed={"y0": 0.25})
    assert r.params["y0"] == 0.25 and np.isnan(r.stderr["y0"]) and r.held == ["y0"]
    assert r.free_params == 6
    assert "(fixed)" in r.report()
    r = fitmodels.fit("Gauss", X, y, p0=START, peaks=2, bounds={"w2": (0.5, 1.2)})
    assert r.status == "at a bound" and r.params["w2"] == 1.2
    assert "w2" in r.message


def test_a_batch_equals_its_fits_for_any_thread_count(rng):
    Y = curves(40, rng)
    Y[7] = 0.0  # a flat curve: not the peaks it is started from
    batch = fitmodels.fit_many("Gauss", X, Y, p0=START, peaks=2, as_frame=False)
    one = fitmodels.fit_many("Gauss", X, Y, p0=START, peaks=2, threads=1, as_frame=False)
    names = fitmodels.Model("Gauss", peaks=2).param_names
    for k in batch:
        if batch[k].dtype.kind == "f":
            np.testing.assert_array_equal(batch[k], one[k], err_msg=k)
        else:
            assert list(batch[k]) == list(one[k]), k
    for i in range(len(Y)):
        r = fitmodels.fit("Gauss", X, Y[i], p0=START, peaks=2)
        assert batch["status"][i] == r.status
        np.testing.assert_array_equal([batch[n][i] for n in names], r.values)
        np.testing.assert_array_equal([batch[n + "_stderr"][i] for n in names], r.errors)
        assert batch["chi2"][i] == r.chi2 or (np.isnan(r.chi2) and np.isnan(batch["chi2"][i]))
    assert batch["success"].sum() >= 39


def test_ragged_curves_and_per_fit_starts(rng):
    Y = curves(3, rng)
    xs = [X, X[:150], X[::2]]
    ys = [Y[0], Y[1][:150], Y[2][::2]]
    starts = np.array([START, TRUE, START])
    out = fitmodels.fit_many("Gauss", xs, ys, p0=starts, peaks=2, as_frame=False)
    assert out["points"].tolist() == [200, 150, 100]
    for i in range(3):
        r = fitmodels.fit("Gauss", xs[i], ys[i], p0=starts[i], peaks=2)
        assert out["xc2"][i] == r.params["xc2"] and out["status"][i] == r.status


def test_a_frame_when_pandas_is_present(rng):
    pd = pytest.importorskip("pandas")
    Y = curves(4, rng)
    df = fitmodels.fit_many("Gauss", X, Y, p0=START, peaks=2)
    assert isinstance(df, pd.DataFrame) and len(df) == 4
    assert {"xc1", "xc1_stderr", "status", "chi2", "message"} <= set(df.columns)


def test_a_surface_is_fitted_from_two_input_columns(rng):
    m = fitmodels.Model("Gauss2D")
    g = np.linspace(-3, 3, 25)
    x1, x2 = (a.ravel() for a in np.meshgrid(g, g))
    truth = [0.2, 3.0, 0.5, 1.0, -0.4, 1.5]
    z = m.eval((x1, x2), truth) + rng.normal(0, 0.01, x1.size)
    r = fitmodels.fit(m, (x1, x2), z, p0=[0, 2, 0, 1.2, 0, 1.2])
    assert r.success
    np.testing.assert_allclose(r.values, truth, atol=0.05)
    np.testing.assert_array_equal(r.best_fit, m.eval(np.column_stack([x1, x2]), r.values))


def test_host_threads_calling_at_once_get_what_one_thread_gets(rng):
    from concurrent.futures import ThreadPoolExecutor
    Y = curves(16, rng)
    m = fitmodels.Model("Gauss", peaks=2)
    xs = np.linspace(-2, 12, 5000)

    def work(i):
        out = fitmodels.fit_many(m, X, Y[i:i + 8], p0=START, threads=2, as_frame=False)
        return out["xc1"], fitmodels.fit(m, X, Y[i], p0=START).values, m.eval(xs, TRUE)

    alone = [work(i) for i in range(8)]
    with ThreadPoolExecutor(4) as pool:
        together = list(pool.map(work, range(8)))
    for a, b in zip(alone, together):
        for u, v in zip(a, b):
            np.testing.assert_array_equal(u, v)

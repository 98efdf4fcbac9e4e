"""fit_groups on a local cluster of worker processes gives, group for group, what fit_many gives
in this process."""
import os

import numpy as np
import pytest

import fitmodels

dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("dask.distributed")
pd = pytest.importorskip("pandas")
import fitmodels.dask  # noqa: E402

GROUPS = 10_000
POINTS = 12


@pytest.fixture(scope="module")
def client():
    # Worker processes import fitmodels from the same place as this process.
    here = os.path.dirname(os.path.dirname(fitmodels.__file__))
    os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [here, os.environ.get("PYTHONPATH")]))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None,
                                  silence_logs=40) as cluster, distributed.Client(cluster) as c:
        yield c


def decays(rng):
    t = np.linspace(0.0, 6.0, POINTS)
    amp = rng.uniform(2, 10, GROUPS)
    tau = rng.uniform(0.5, 3, GROUPS)
    y = 0.5 + amp[:, None] * np.exp(-t[None, :] / tau[:, None])
    y += rng.normal(0, 0.05, y.shape)
    y[17] = np.nan  # one group the engine refuses: reported in its row, the rest unharmed
    return pd.DataFrame({"sample": np.repeat(np.arange(GROUPS), POINTS),
                         "t": np.tile(t, GROUPS), "signal": y.ravel()}), t, y


def test_every_group_equals_fit_many_in_process(client, rng):
    pdf, t, y = decays(rng)
    ddf = dd.from_pandas(pdf, npartitions=7)  # partitions cut through groups
    res = fitmodels.dask.fit_groups(ddf, "ExpDec1", x="t", y="signal", by="sample",
                                    p0=[0, 5, 1])
    assert isinstance(res, dd.DataFrame)
    got = res.compute().set_index("sample").sort_index()
    want = fitmodels.fit_many("ExpDec1", t, y, p0=[0, 5, 1])
    assert got.index.tolist() == list(range(GROUPS))
    assert (got["status"].to_numpy() == want["status"].to_numpy()).all()
    assert got["status"].iloc[17] == want["status"].iloc[17] != "converged"
    assert got["success"].sum() >= GROUPS - 10
    for c in want.columns:
        if want[c].dtype.kind == "f":
            np.testing.assert_array_equal(got[c].to_numpy(), want[c].to_numpy(), err_msg=c)


def test_groups_indexed_by_key_are_fitted_where_they_lie(client, rng):
    pdf, t, y = decays(rng)
    ddf = dd.from_pandas(pdf.iloc[: 200 * POINTS].set_index("sample"), npartitions=4,
                         sort=True)
    assert ddf.known_divisions
    got = fitmodels.dask.fit_groups(ddf, "ExpDec1", x="t", y="signal", by="sample",
                                    p0=[0, 5, 1]).compute()
    want = fitmodels.fit_many("ExpDec1", t, y[:200], p0=[0, 5, 1])
    np.testing.assert_array_equal(got.sort_values("sample")["t1"].to_numpy(), want["t1"].to_numpy())


def test_a_missing_column_is_named(rng):
    pdf, _, _ = decays(rng)
    with pytest.raises(fitmodels.FitModelsError, match="no column 'time'"):
        fitmodels.dask.fit_groups(dd.from_pandas(pdf, npartitions=2), "ExpDec1", x="time",
                                  y="signal", by="sample")

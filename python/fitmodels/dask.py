"""Fleets of fits on Dask: one fit per group of a Dask DataFrame, run where the group's rows lie.

    import dask.dataframe as dd, fitmodels.dask
    ddf = dd.read_parquet("curves/")                 # columns sample, t, signal
    res = fitmodels.dask.fit_groups(ddf, "ExpDec1", x="t", y="signal", by="sample",
                                    p0=[0, 5, 1])
    res.compute()                                    # one row per sample
"""

import numpy as np
import pandas as pd

from ._fits import fit_many
from ._models import FitModelsError, as_model


def _fit_partition(pdf, model, x, y, by, weights, options):
    """fit_many over the groups of one pandas partition: a frame with one row per group. x is a
    column name, or a list of them for a model of several inputs."""
    keys, xs, ys, ws = [], [], [], []
    for key, g in pdf.groupby(by, sort=True):
        keys.append(key)
        xs.append(g[x].to_numpy(dtype=np.float64))
        ys.append(g[y].to_numpy(dtype=np.float64))
        if weights is not None:
            ws.append(g[weights].to_numpy(dtype=np.float64))
    out = fit_many(model, xs, ys, weights=ws if weights is not None else None, as_frame=True,
                   **options)
    out.insert(0, by, pd.Series(keys, dtype=pdf[by].dtype))
    return out


def fit_groups(ddf, model, x="x", y="y", by="group", weights=None, peaks=None, threads=1,
               **options):
    """One fit of model per value of column `by` of the Dask DataFrame ddf, x and y (and weights,
    1/sigma) taken from the named columns (x a list of names for a surface).

    Every group must lie within one partition: when ddf is indexed by `by` with known divisions
    it is fitted where it lies, otherwise it is first shuffled on `by` (each partition then holds
    many whole groups). Each partition is one task of fit_many (threads each; the default 1
    leaves the parallelism to Dask's workers). Other options go to fit_many (p0, bounds, fixed,
    ci, absolute_sigma, max_evaluations). Returns a Dask DataFrame: column `by`, then fit_many's
    columns, one row per group."""
    m = as_model(model, peaks)
    cols = [x] if isinstance(x, str) else list(x)
    if len(cols) != m.nindep:
        raise FitModelsError(f"{m.name} reads {m.nindep} independent variable"
                             f"{'s' if m.nindep > 1 else ''}; x names {len(cols)} column"
                             f"{'s' if len(cols) != 1 else ''}")
    needed = cols + [y] + ([weights] if weights is not None else [])
    in_place = False
    if ddf.index.name == by and by not in ddf.columns:
        in_place = ddf.known_divisions  # divisions on `by`: every group within one partition
        ddf = ddf.reset_index()
    missing = [c for c in [by] + needed if c not in ddf.columns]
    if missing:
        raise FitModelsError(f"no column {missing[0]!r} (columns: "
                             f"{', '.join(map(str, ddf.columns))})")
    ddf = ddf[[by] + needed]
    if not in_place:
        ddf = ddf.shuffle(on=by)
    xcol = cols[0] if m.nindep == 1 else cols
    options = dict(options, threads=threads)
    meta = _fit_partition(ddf._meta, m, xcol, y, by, weights, options)
    return ddf.map_partitions(_fit_partition, m, xcol, y, by, weights, options, meta=meta)

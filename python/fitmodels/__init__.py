"""fitmodels: the library's curve- and surface-fitting models as NumPy functions, and fits.

    import fitmodels
    m = fitmodels.Model("Gauss", peaks=2)
    y = m.eval(x, [0, 5, 1, 10, 9, 1.5, 4])
    r = fitmodels.fit(m, x, y)
    print(r.report())

Every model runs in the C library; the loops over points and fits run in C++ without the GIL.
"""

from ._models import FitModelsError, Model, models

__all__ = ["FitModelsError", "Model", "models"]

try:
    from ._fits import FitResult, fit, fit_many  # noqa: F401
    __all__ += ["FitResult", "fit", "fit_many"]
except ImportError:  # built without the fitting library
    pass

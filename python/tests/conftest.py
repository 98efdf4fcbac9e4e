import numpy as np
import pytest

import fitmodels


@pytest.fixture(scope="session")
def catalog():
    return fitmodels.models()


@pytest.fixture
def rng():
    return np.random.default_rng(20261207)

"""README's Python examples run as written, from the top of the checkout."""
import os
import re
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
    BLOCKS = re.findall(r"```python\n(.*?)```", f.read(), re.S)


@pytest.mark.parametrize("code", BLOCKS, ids=[f"example{i + 1}" for i in range(len(BLOCKS))])
def test_readme_example_runs(code):
    pytest.importorskip("dask.dataframe") if "dask" in code else None
    out = subprocess.run([sys.executable, "-c", code], cwd=ROOT, capture_output=True, text=True,
                         timeout=300)
    assert out.returncode == 0, out.stderr
    assert "converged" in out.stdout


def test_there_are_examples():
    assert len(BLOCKS) >= 2

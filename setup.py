"""Builds the extension module with the project's CMake and ships the package directory it
assembles (the module, the shared libraries beside it and the pure-Python files)."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def run(self):
        build = Path(self.build_temp).resolve() / "cmake"
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        subprocess.check_call(["cmake", "-S", str(ROOT), "-B", str(build), *generator,
                               "-DCMAKE_BUILD_TYPE=Release", "-DFITMODELS_BUILD_TESTS=OFF",
                               "-DFITMODELS_BUILD_BENCH=OFF",
                               f"-DPython3_EXECUTABLE={sys.executable}"])
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.check_call(["cmake", "--build", str(build), "--target", "fitmodels_python",
                               "-j", jobs])
        built = build / "python" / "fitmodels"
        if not (built / "__init__.py").exists():
            sys.exit("fitmodels: CMake did not build the Python package (see its configure "
                     "output: it needs python3-dev, python3-numpy and pybind11-dev)")
        dest = Path(self.get_ext_fullpath("fitmodels._fitmodels")).parent
        dest.mkdir(parents=True, exist_ok=True)
        for f in built.iterdir():
            if f.suffix == ".so" or ".so." in f.name:
                shutil.copy2(f, dest / f.name)


setup(
    packages=["fitmodels"],
    package_dir={"": "python"},
    ext_modules=[Extension("fitmodels._fitmodels", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build-python"}},
)

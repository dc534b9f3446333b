"""Builds the extension of the Python package qsrch with the project's own
CMake (target qsrch_python), for pip; see pyproject.toml."""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(qsrch VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DQSRCH_BUILD_TESTS=OFF", "-DQSRCH_BUILD_TOOLS=OFF", "-DQSRCH_BUILD_PYTHON=ON",
                        f"-DPython_EXECUTABLE={sys.executable}"], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or "2"
        subprocess.run(["cmake", "--build", str(build), "--target", "qsrch_python", "--parallel", jobs], check=True)
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(build / "python" / "qsrch" / target.name, target)


setup(
    version=project_version(),
    packages=["qsrch"],
    package_dir={"": "python"},
    package_data={"qsrch": ["*.pyi", "py.typed"]},
    ext_modules=[Extension("qsrch._qsrch", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)

"""The README's Python example prints what the README shows, and
cmake --install puts an importable package under the prefix."""

import os
import re
import subprocess
import sys

import pytest

from conftest import SOURCE_DIR


def run_python(code, pythonpath):
    env = dict(os.environ, PYTHONPATH=pythonpath)
    out = subprocess.run([sys.executable, "-c", code], cwd=SOURCE_DIR, env=env, capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    return out.stdout


def test_readme_example_prints_what_the_readme_shows():
    pytest.importorskip("PIL")
    readme = (SOURCE_DIR / "README.md").read_text()
    match = re.search(r"```python\n(.*?)```\n\n```\n(.*?)```", readme, re.S)
    assert match, "README.md has no ```python block followed by its output"
    example, shown = match.groups()
    assert len(example.strip().splitlines()) <= 6
    assert run_python(example, os.environ.get("PYTHONPATH", "")) == shown


def test_cmake_install_puts_the_package_under_the_prefix(tmp_path):
    build, cmake = os.environ.get("QSRCH_BUILD_DIR"), os.environ.get("CMAKE_COMMAND")
    if not build or not cmake:
        pytest.skip("run by ctest, which names the build tree")
    subprocess.run([cmake, "--install", build, "--prefix", str(tmp_path), "--component", "python"], check=True,
                   capture_output=True)
    (folder,) = tmp_path.glob("lib*/python3*/*-packages")
    found = run_python("import numpy as np, qsrch\n"
                       "scene = np.random.default_rng(1).integers(0, 256, (40, 50), dtype=np.uint8)\n"
                       "print(qsrch.__file__, round(qsrch.Model(scene[9:25, 7:31]).find(scene)[0].x, 1))",
                       str(folder))
    assert found == f"{folder / 'qsrch' / '__init__.py'} 7.0\n"

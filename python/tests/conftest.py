"""Shared scenes and the command-line tool for the qsrch tests."""

import os
import pathlib

import numpy as np
import pytest

SOURCE_DIR = pathlib.Path(__file__).resolve().parents[2]


def texture(height, width, seed, cell=3):
    """Random blocks of cell x cell pixels: a texture without repeats."""
    rng = np.random.default_rng(seed)
    blocks = rng.integers(0, 256, (height // cell + 1, width // cell + 1), dtype=np.uint8)
    return np.ascontiguousarray(np.repeat(np.repeat(blocks, cell, 0), cell, 1)[:height, :width])


def planted(scene, pattern, places):
    """A copy of scene with pattern pasted at each (x, y)."""
    scene = scene.copy()
    h, w = pattern.shape[:2]
    for x, y in places:
        scene[y : y + h, x : x + w] = pattern
    return scene


@pytest.fixture(scope="session")
def board():
    """A grey 32 x 28 pattern and a 200 x 150 scene holding it at three places."""
    pattern = texture(28, 32, seed=7)
    scene = planted(texture(150, 200, seed=8), pattern, [(20, 30), (140, 90), (90, 10)])
    return pattern, scene


@pytest.fixture(scope="session")
def tool():
    path = os.environ.get("QSRCH_TOOL")
    if not path or not os.path.exists(path):
        pytest.skip("the command-line tool is not built")
    return path

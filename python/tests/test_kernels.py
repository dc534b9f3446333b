"""score_map and window_sums against direct sums in numpy, and against
OpenCV's normalized correlation when it is installed."""

import numpy as np
import pytest
from numpy.lib.stride_tricks import sliding_window_view

import qsrch
from conftest import planted, texture


def window_stats(pattern, scene, mask, scene_mask):
    """N, Sp, Spp, Si, Sii, IP over the pixels both masks care for, exact."""
    h, w = pattern.shape
    p = pattern.astype(np.int64)
    windows = sliding_window_view(scene.astype(np.int64), (h, w))
    care = np.ones((h, w), np.int64) if mask is None else (mask != 0).astype(np.int64)
    if scene_mask is not None:
        care = care * sliding_window_view((scene_mask != 0).astype(np.int64), (h, w))
    total = lambda a: np.broadcast_to(a * care, windows.shape).sum(axis=(2, 3))
    return total(1), total(p), total(p * p), total(windows), total(windows * windows), total(p * windows)


def reference_scores(pattern, scene, mask, scene_mask, mode):
    n, sp, spp, si, sii, ip = (s.astype(float) for s in window_stats(pattern, scene, mask, scene_mask))
    cov, vp, vi = n * ip - sp * si, n * spp - sp * sp, n * sii - si * si
    with np.errstate(divide="ignore", invalid="ignore"):
        if mode == "cov":
            d = n * np.sqrt(vp)
            return np.where(d != 0, cov / d, 0.0)
        cov = {"r2": cov, "abs": np.abs(cov), "neg": -cov}[mode]
        den = vi * vp
        return np.where((cov > 0) & (den != 0), cov * cov / den, 0.0)


def random_mask(rng, shape, dtype):
    if dtype is bool:
        return rng.random(shape) < 0.7
    return rng.choice(np.array([0, 1, 7, 255], np.uint8), shape, p=[0.3, 0.2, 0.2, 0.3])


@pytest.mark.parametrize("mode", ["r2", "abs", "neg", "cov"])
@pytest.mark.parametrize("masks", ["none", "pattern", "scene", "both"])
@pytest.mark.parametrize("seed", range(4))
def test_score_map_equals_direct_sums(mode, masks, seed):
    rng = np.random.default_rng(seed)
    h, w = rng.integers(1, 10, 2)
    pattern = rng.integers(0, 256, (h, w), dtype=np.uint8)
    scene = texture(h + rng.integers(0, 30), w + rng.integers(0, 30), seed=seed + 100, cell=2)
    scene = planted(scene, 255 - pattern if seed % 2 else pattern, [(0, 0)])
    mask_type = bool if seed % 2 else np.uint8
    mask = random_mask(rng, pattern.shape, mask_type) if masks in ("pattern", "both") else None
    scene_mask = random_mask(rng, scene.shape, mask_type) if masks in ("scene", "both") else None
    scores = qsrch.score_map(pattern, scene, mask=mask, scene_mask=scene_mask, mode=mode)
    expected = reference_scores(pattern, scene, mask, scene_mask, mode)
    np.testing.assert_allclose(scores, expected, rtol=1e-12, atol=1e-12)


@pytest.mark.parametrize("h, w", [(1, 1), (3, 17), (16, 9), (40, 37)])
@pytest.mark.parametrize("masked", [False, True])
def test_window_sums_equal_direct_sums(h, w, masked):
    rng = np.random.default_rng(h * 100 + w)
    scene = rng.integers(0, 256, (44, 41), dtype=np.uint8)
    mask = random_mask(rng, (h, w), np.uint8) if masked else None
    n, _, _, si, sii, _ = window_stats(np.zeros((h, w), np.uint8), scene, mask, None)
    sums, squares = qsrch.window_sums(scene, h, w, mask=mask)
    assert sums.dtype == squares.dtype == np.float64
    assert np.array_equal(sums, si) and np.array_equal(squares, sii)


def test_agrees_with_opencv(board):
    cv2 = pytest.importorskip("cv2")
    pattern, _ = board
    scene = planted(texture(120, 150, seed=21), pattern, [(61, 47)])
    noisy = np.clip(scene + np.random.default_rng(5).normal(0, 12, scene.shape), 0, 255).astype(np.uint8)
    ncc = cv2.matchTemplate(noisy, pattern, cv2.TM_CCOEFF_NORMED).astype(float)
    np.testing.assert_allclose(qsrch.score_map(pattern, noisy), np.clip(ncc, 0, None) ** 2, rtol=0, atol=1e-6)
    best = qsrch.Model(pattern, granularity=(1, 1)).find(noisy)[0]
    assert (round(best.x), round(best.y)) == np.unravel_index(ncc.argmax(), ncc.shape)[::-1] == (61, 47)

"""What cannot be searched is refused with the stated exception and a
one-line message; the library's refusals carry their status."""

import numpy as np
import pytest

import qsrch
from conftest import texture

PATTERN = texture(20, 24, seed=1)
SCENE = texture(60, 80, seed=2)
MODEL = qsrch.Model(PATTERN)

REFUSALS = {
    "pattern not an array": (lambda: qsrch.Model(PATTERN.tolist()), TypeError, "numpy array, got list"),
    "pattern of floats": (lambda: qsrch.Model(PATTERN.astype(float)), TypeError, "uint8 pixels, got float64"),
    "pattern of one dimension": (lambda: qsrch.Model(PATTERN[0]), ValueError, "shape (24,)"),
    "pattern of four planes": (lambda: qsrch.Model(np.zeros((9, 9, 4), np.uint8)), ValueError, "H x W x 3"),
    "empty pattern": (lambda: qsrch.Model(PATTERN[:0]), ValueError, "empty"),
    "mask of another size": (lambda: qsrch.Model(PATTERN, mask=np.ones((20, 23), bool)), ValueError, "(20, 24)"),
    "mask of int32": (lambda: qsrch.Model(PATTERN, mask=np.ones((20, 24), np.int32)), TypeError, "uint8 or bool"),
    "roi outside": (lambda: qsrch.Model(PATTERN, roi=(10, 0, 15, 20)), ValueError, "not inside"),
    "surround without room": (lambda: qsrch.Model(PATTERN, roi=(1, 2, 10, 10), surround=True), ValueError, "2 pixels"),
    "unknown granularity": (lambda: qsrch.Model(PATTERN, granularity="fast"), ValueError, "'fast'"),
    "fine above coarse": (lambda: qsrch.Model(PATTERN, granularity=(2, 4)), qsrch.ParameterError, "0x80000A02"),
    "uniform pattern": (lambda: qsrch.Model(np.full((9, 9), 7, np.uint8)), qsrch.PatternError, "QSRCH_E_NO_CONTRAST"),
    "two-pixel pattern": (lambda: qsrch.Model(np.array([[0, 255]], np.uint8)), qsrch.PatternError, "0x80000A0C"),
    "colour scene, grey model": (lambda: MODEL.find(np.zeros((60, 80, 3), np.uint8)), ValueError, "grey model"),
    "scene of int16": (lambda: MODEL.find(SCENE.astype(np.int16)), TypeError, "got int16"),
    "scene smaller than the pattern": (lambda: MODEL.find(SCENE[:19]), qsrch.ImageTooSmallError, "0x80000A0D"),
    "scene mask of another size": (lambda: MODEL.find(SCENE, mask=np.ones((60, 81), bool)), ValueError, "scene's"),
    "accept above confusion": (lambda: MODEL.find(SCENE, accept=0.6, confusion=0.5), qsrch.ParameterError,
                               "accept must not exceed confusion"),
    "contrast range reversed": (lambda: MODEL.find(SCENE, contrast=(2, 1)), qsrch.ParameterError, "0x80000A11"),
    "num of 0": (lambda: MODEL.find(SCENE, num=0), qsrch.ParameterError, "QSRCH_E_BAD_NUM_TO_FIND"),
    "empty region": (lambda: MODEL.find(SCENE, region=(0, 0, 0, 5)), ValueError, "region"),
    "negative plane weight": (lambda: MODEL.find(SCENE, plane_weights=(1, -1, 1)), ValueError, "plane_weights"),
    "no threads": (lambda: MODEL.find_many([SCENE], threads=0), ValueError, "threads"),
    "unknown score mode": (lambda: qsrch.score_map(PATTERN, SCENE, mode="r"), ValueError, "mode"),
    "pattern larger than the scene": (lambda: qsrch.score_map(SCENE, PATTERN), ValueError, "smaller than the pattern"),
    "colour score map": (lambda: qsrch.score_map(PATTERN, np.zeros((60, 80, 3), np.uint8)), ValueError, "H x W array"),
    "window of no rows": (lambda: qsrch.window_sums(SCENE, 0, 3), ValueError, "at least 1 x 1"),
}


@pytest.mark.parametrize("case", REFUSALS)
def test_refusal(case):
    call, kind, text = REFUSALS[case]
    with pytest.raises(kind) as raised:
        call()
    message = str(raised.value)
    assert text in message and "\n" not in message


def test_errors_carry_their_status():
    with pytest.raises(qsrch.ParameterError) as raised:
        MODEL.find(SCENE, overlap=1.5)
    error = raised.value
    assert (error.code, error.name) == (0x80000A08, "QSRCH_E_BAD_OVERLAP")
    assert isinstance(error, qsrch.Error) and isinstance(error, ValueError)

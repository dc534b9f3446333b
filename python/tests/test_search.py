"""Model.find and find_many: the same answers as the C library reached
through the command-line tool, whatever the arrays' layout, from any
number of threads."""

import json
import subprocess

import numpy as np
import pytest

import qsrch
from conftest import planted, texture


def write_pnm(path, pixels):
    kind = b"P5" if pixels.ndim == 2 else b"P6"
    height, width = pixels.shape[:2]
    path.write_bytes(kind + b"\n%d %d\n255\n" % (width, height) + np.ascontiguousarray(pixels).tobytes())
    return str(path)


def as_dicts(results):
    return [dict(x=r.x, y=r.y, score=r.score, accepted=r.accepted, contrast=r.contrast, brightness=r.brightness)
            for r in results]


def colour_board():
    pattern = np.stack([texture(24, 30, seed=s) for s in (1, 2, 3)], axis=2)
    scene = np.stack([texture(120, 160, seed=s) for s in (4, 5, 6)], axis=2)
    return pattern, planted(scene, pattern, [(12, 40), (100, 70)])


def masks(pattern, scene):
    pattern_mask = np.full(pattern.shape[:2], 255, np.uint8)
    pattern_mask[5:12, 8:20] = 0
    scene_mask = np.full(scene.shape[:2], 255, np.uint8)
    scene_mask[:, 150:] = 0
    return pattern_mask, scene_mask


# (tool options, Model keywords, find keywords), with files for the arrays
# named by "@" values.
TOOL_CASES = {
    "grey": (["--num", "3"], {}, {"num": 3}),
    "masks, region, given granularity": (
        ["--pattern-mask", "@pattern_mask", "--scene-mask", "@scene_mask", "--region", "10,5,150,100",
         "--granularity", "2,1", "--num", "2"],
        {"mask": "@pattern_mask", "granularity": (2, 1)},
        {"mask": "@scene_mask", "region": (10, 5, 150, 100), "num": 2}),
    "roi, surround, absolute, limits": (
        ["--roi", "4,3,22,20", "--surround", "--absolute", "--contrast-min", "0.5", "--brightness-max", "3",
         "--num", "4", "--accept", "0.2"],
        {"roi": (4, 3, 22, 20), "surround": True},
        {"absolute": True, "contrast": (0.5, float("inf")), "brightness": (0, 3), "num": 4, "accept": 0.2}),
}


@pytest.mark.parametrize("case", TOOL_CASES)
def test_grey_results_equal_the_tools(case, board, tool, tmp_path):
    options, model_kw, find_kw = TOOL_CASES[case]
    pattern, scene = board
    # An inverted and a darker copy, for the absolute score and the limits.
    scene = planted(scene, 255 - pattern, [(150, 20)])
    scene = planted(scene, pattern // 2, [(40, 110)])
    pattern_mask, scene_mask = masks(pattern, scene)
    files = {"pattern_mask": write_pnm(tmp_path / "pm.pgm", pattern_mask),
             "scene_mask": write_pnm(tmp_path / "sm.pgm", scene_mask)}
    # The tool reads masks of 0 and 255; here any non-zero value counts.
    arrays = {"pattern_mask": (pattern_mask > 0).astype(np.uint8), "scene_mask": scene_mask > 0}
    resolve = lambda kw: {k: arrays[v[1:]] if isinstance(v, str) and v[0] == "@" else v for k, v in kw.items()}
    options = [files[o[1:]] if o[0] == "@" else o for o in options]
    expected = run_tool(tool, options, write_pnm(tmp_path / "p.pgm", pattern), write_pnm(tmp_path / "s.pgm", scene))
    found = qsrch.Model(pattern, **resolve(model_kw)).find(scene, **resolve(find_kw))
    assert as_dicts(found) == expected and len(found) > 1


def test_colour_results_equal_the_tools(tool, tmp_path):
    pattern, scene = colour_board()
    pattern_mask, _ = masks(pattern, scene)
    options = ["--colour", "--plane-weights", "2,1,0.5", "--num", "3",
               "--pattern-mask", write_pnm(tmp_path / "pm.pgm", pattern_mask)]
    expected = run_tool(tool, options, write_pnm(tmp_path / "p.ppm", pattern), write_pnm(tmp_path / "s.ppm", scene))
    found = qsrch.Model(pattern, mask=pattern_mask).find(scene, plane_weights=(2, 1, 0.5), num=3)
    assert as_dicts(found) == expected


def run_tool(tool, options, pattern_file, scene_file):
    out = subprocess.run([tool, "find", "--json", *options, pattern_file, scene_file], capture_output=True,
                         text=True)
    assert out.returncode in (0, 1), out.stderr
    return json.loads(out.stdout)[0]["results"]


# Layouts the library cannot view in place, and one it can (a crop).
VIEWS = {
    "every other row, every third column": lambda a: a[::2, ::3],
    "crop of a larger array": lambda a: a[7:-5, 3:-9],
    "flipped": lambda a: a[::-1, ::-1],
    "column-major": lambda a: np.asfortranarray(a),
}


@pytest.mark.parametrize("view", VIEWS)
def test_a_view_gives_the_results_of_its_copy(view, board):
    pattern, scene = board
    big = np.kron(scene, np.ones((2, 3), np.uint8))  # scene[::2, ::3] of this is the scene
    strided = VIEWS[view](big)
    copy = np.ascontiguousarray(strided)
    model = qsrch.Model(VIEWS[view](np.kron(pattern, np.ones((2, 3), np.uint8))))
    assert as_dicts(model.find(strided, num=3)) == as_dicts(model.find(copy, num=3))
    assert np.array_equal(qsrch.score_map(pattern, strided[:60, :70]), qsrch.score_map(pattern, copy[:60, :70]))


def test_colour_planes_are_read_in_any_layout():
    pattern, scene = colour_board()
    planar = np.moveaxis(np.ascontiguousarray(np.moveaxis(scene, 2, 0)), 0, 2)  # three planes one after the other
    model = qsrch.Model(pattern)
    assert as_dicts(model.find(planar, num=2)) == as_dicts(model.find(scene, num=2))
    assert [(round(r.x), round(r.y)) for r in model.find(scene, num=2)] == [(12, 40), (100, 70)]


def test_find_many_on_four_threads_equals_a_loop(board):
    pattern, scene = board
    model = qsrch.Model(pattern, granularity=(2, 1))
    rng = np.random.default_rng(3)
    scenes = [np.roll(scene, tuple(rng.integers(-20, 20, 2)), axis=(0, 1)) for _ in range(12)]
    mask = np.ones(scene.shape, bool)
    mask[:40, :40] = False
    options = dict(num=3, accept=0.1, mask=mask)
    assert model.find_many(scenes, threads=4, **options) == [model.find(s, **options) for s in scenes]


def test_find_many_reports_the_first_failing_scene(board):
    pattern, scene = board
    scenes = [scene] * 5 + [scene[:20, :20], scene, scene[:10, :10]]
    with pytest.raises(qsrch.ImageTooSmallError, match=r"scenes\[5\]"):
        qsrch.Model(pattern).find_many(scenes, threads=3)

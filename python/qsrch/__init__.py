"""Pattern search by normalized correlation over numpy arrays.

Train a Model on a pattern, then find it in scenes:

    model = qsrch.Model(pattern)              # uint8, H x W (grey) or H x W x 3
    for result in model.find(scene, num=3):
        print(result.x, result.y, result.score)

help(qsrch.Model), help(qsrch.score_map) and help(qsrch.window_sums) say
what each argument means.
"""

from ._errors import Error, ImageTooSmallError, OutOfMemoryError, ParameterError, PatternError
from ._qsrch import Model, Result, __version__, score_map, window_sums

__all__ = [
    "Model",
    "Result",
    "score_map",
    "window_sums",
    "Error",
    "ParameterError",
    "PatternError",
    "ImageTooSmallError",
    "OutOfMemoryError",
    "__version__",
]

"""Pattern search by normalized correlation over numpy arrays."""

from typing import List, Literal, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str

# uint8 pixels, rows first: H x W (grey) or H x W x 3 (three colour planes).
_Pixels = npt.NDArray[np.uint8]
# Of its image's height and width: the pixels that count are non-zero.
_Mask = Union[npt.NDArray[np.uint8], npt.NDArray[np.bool_]]
_Granularity = Union[Literal["auto", "trial"], Tuple[float, int]]

class Error(Exception):
    """A failure status of the qsrch library."""

    code: int
    """The 32-bit status as an unsigned number, e.g. 0x80000A04."""
    name: str
    """Its symbolic name, e.g. "QSRCH_E_BAD_ACCEPT_THRESHOLD"."""
    message: str
    def __init__(self, code: int, name: str, message: str) -> None: ...

class ParameterError(Error, ValueError):
    """A training or search parameter outside its range."""

class PatternError(Error, ValueError):
    """A pattern that cannot be trained: uniform, too small, or too large."""

class ImageTooSmallError(Error, ValueError):
    """A scene not larger than the pattern."""

class OutOfMemoryError(Error, MemoryError):
    """The library ran out of memory."""

class Result:
    """One instance of the pattern found in a scene."""

    def __init__(
        self, x: float, y: float, score: float, accepted: bool, contrast: float, brightness: float
    ) -> None: ...
    @property
    def x(self) -> float:
        """Column of the pattern's top-left pixel in the scene, sub-pixel."""
    @property
    def y(self) -> float:
        """Row of the pattern's top-left pixel in the scene, sub-pixel."""
    @property
    def score(self) -> float:
        """r squared of the normalized correlation."""
    @property
    def accepted(self) -> bool:
        """Whether the score reaches the accept threshold."""
    @property
    def contrast(self) -> float:
        """The scene's standard deviation over the pattern's."""
    @property
    def brightness(self) -> float:
        """The scene's mean over the pattern's."""

class Model:
    """A pattern trained for search; never changes after training."""

    def __init__(
        self,
        pattern: _Pixels,
        mask: Optional[_Mask] = None,
        roi: Optional[Tuple[int, int, int, int]] = None,
        granularity: _Granularity = "auto",
        surround: bool = False,
    ) -> None:
        """Trains on pattern (or its roi (x, y, width, height)), counting
        the pixels where mask is non-zero; granularity "auto", "trial" or
        (coarse, fine); surround reduces with 2 pixels around the roi."""
    @property
    def shape(self) -> Tuple[int, int]:
        """(height, width) of the trained pattern."""
    @property
    def planes(self) -> int:
        """1 for a grey model, 3 for a colour one."""
    @property
    def granularity(self) -> Tuple[float, int]:
        """(coarse, fine) granularities in force."""
    def find(
        self,
        scene: _Pixels,
        num: int = 1,
        accept: float = 0.3,
        confusion: float = 0.5,
        overlap: float = 1.0,
        region: Optional[Tuple[float, float, float, float]] = None,
        mask: Optional[_Mask] = None,
        contrast: Tuple[float, float] = (0.0, float("inf")),
        brightness: Tuple[float, float] = (0.0, float("inf")),
        absolute: bool = False,
        shape_score: bool = False,
        plane_weights: Tuple[float, float, float] = (1.0, 1.0, 1.0),
    ) -> List[Result]:
        """Up to num results, best first; region (x, y, width, height)
        bounds the top-left pixel's positions, mask the scene pixels that
        count, contrast and brightness are (minimum, maximum) limits."""
    def find_many(
        self,
        scenes: Sequence[_Pixels],
        threads: Optional[int] = None,
        num: int = 1,
        accept: float = 0.3,
        confusion: float = 0.5,
        overlap: float = 1.0,
        region: Optional[Tuple[float, float, float, float]] = None,
        mask: Optional[_Mask] = None,
        contrast: Tuple[float, float] = (0.0, float("inf")),
        brightness: Tuple[float, float] = (0.0, float("inf")),
        absolute: bool = False,
        shape_score: bool = False,
        plane_weights: Tuple[float, float, float] = (1.0, 1.0, 1.0),
    ) -> List[List[Result]]:
        """find() of each scene on up to `threads` threads (None: one per
        processor), results in the order of the scenes."""

def score_map(
    pattern: _Pixels,
    scene: _Pixels,
    mask: Optional[_Mask] = None,
    scene_mask: Optional[_Mask] = None,
    mode: Literal["r2", "abs", "neg", "cov"] = "r2",
) -> npt.NDArray[np.float64]:
    """Score of the (grey) pattern at every position of the scene, float64
    of (H - h + 1) x (W - w + 1)."""

def window_sums(
    scene: _Pixels, h: int, w: int, mask: Optional[_Mask] = None
) -> Tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """Sums and sums of squares of the scene under an h x w window (over
    the mask's non-zero pixels) at every position."""

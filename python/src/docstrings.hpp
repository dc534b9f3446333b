// What help() shows. The first line of each is the call's signature; the
// types are spelled out in qsrch/__init__.pyi for editors.
#pragma once

namespace qpy::doc {

constexpr const char* module = R"(Pattern search by normalized correlation over numpy arrays.

Train a Model on a pattern, then find it in scenes:

    model = qsrch.Model(pattern)              # uint8, H x W (grey) or H x W x 3
    for result in model.find(scene, num=3):
        print(result.x, result.y, result.score)

The search runs coarse-to-fine over image pyramids and reports sub-pixel
positions of the pattern's top-left pixel, scores (r squared of the
normalized correlation coefficient), accept flags, contrast and brightness.
score_map and window_sums give the underlying statistics as arrays.

Images are numpy arrays of uint8, rows first. Masks are uint8 or bool
arrays of their image's height and width: a pixel counts where its mask is
non-zero. An array whose rows are contiguous (a C-contiguous array, or a
crop of one) is read in place; any other layout is copied first.

Calls release the GIL while they compute, and Ctrl-C stops them with
KeyboardInterrupt. Failures of the library raise qsrch.Error subclasses.
)";

constexpr const char* result = R"(Result(x, y, score, accepted, contrast, brightness)

One instance of the pattern found in a scene, as Model.find reports it.

x, y        where the pattern's top-left pixel (of the roi, if one was
            given) lies in the scene, with sub-pixel precision
score       r squared of the normalized correlation (or of its absolute
            value with absolute=True), at most about 1
accepted    whether the score reaches the search's accept threshold
contrast    the scene's standard deviation over the pattern's
brightness  the scene's mean over the pattern's (a factor, not an offset)
)";

constexpr const char* model = R"(Model(pattern, mask=None, roi=None, granularity="auto", surround=False)

A pattern trained for search. Training builds its pyramid once; the model
never changes afterwards, so any number of threads may search with it.

pattern      uint8 array, H x W (grey) or H x W x 3 (three colour planes,
             searched in colour scenes with plane weights)
mask         uint8 or bool array of the pattern's H x W: the pattern pixels
             that count (non-zero); None: all of them
roi          (x, y, width, height): train on this rectangle of the pattern
             only; results then locate its top-left pixel
granularity  "auto": pyramid granularities from the pattern size;
             "trial": the coarse one chosen by trial searches of the
             pattern's own image; (coarse, fine): given, coarse at least 1,
             fine a power of two not above coarse. (1, 1) scores every
             position at full resolution.
surround     reduce the pattern with 2 pixels of the pattern array around
             the roi, which must have them on every side

Raises TypeError or ValueError for arrays and arguments it cannot use,
qsrch.ParameterError for granularities out of range, and
qsrch.PatternError for a pattern without contrast or of fewer than 3
pixels.
)";

constexpr const char* shape = "(height, width) of the trained pattern (of the roi, if one was given).";
constexpr const char* planes = "1 for a grey model, 3 for a colour one.";
constexpr const char* granularity =
    "(coarse, fine): the granularities in force, as given or as training chose them.";

constexpr const char* find = R"(find(scene, num=1, accept=0.3, confusion=0.5, overlap=1.0, region=None, mask=None, contrast=(0.0, inf), brightness=(0.0, inf), absolute=False, shape_score=False, plane_weights=(1.0, 1.0, 1.0)) -> list[Result]

Searches the scene for the pattern; returns up to num results, best first.

scene          uint8 array, H x W for a grey model, H x W x 3 for a colour one
num            number of results wanted
accept         results scoring at least this are accepted (0 to 1)
confusion      results scoring at least this are certain; the search stops
               once num certain results are held (accept to 1)
overlap        largest overlap of two results as a fraction of the
               pattern's area (1.0: no overlap test)
region         (x, y, width, height): the positions the pattern's top-left
               pixel may take; None: anywhere
mask           uint8 or bool array of the scene's H x W: the scene pixels
               that count (grey models only); None: all of them
contrast       (minimum, maximum) contrast of a result
brightness     (minimum, maximum) brightness of a result
absolute       score inverted matches too
shape_score    offer each result the shape score, kept when higher
plane_weights  weights of the three planes in colour search

A scene of exactly the pattern's size is scored at its one position.
Raises qsrch.ParameterError for parameters out of range and
qsrch.ImageTooSmallError for a scene smaller than the pattern.
)";

constexpr const char* findMany = R"(find_many(scenes, threads=None, **options) -> list[list[Result]]

Searches each scene of a list as find(scene, **options) does, on up to
`threads` threads (None: one per processor), and returns their results in
the order of the scenes. A mask option applies to every scene. When a
search fails, the error of the first failing scene is raised.
)";

constexpr const char* scoreMap = R"(score_map(pattern, scene, mask=None, scene_mask=None, mode="r2") -> numpy.ndarray

The score of the pattern at every position of the scene, as a float64
array of (H - h + 1) x (W - w + 1): element [y, x] scores the pattern's
top-left pixel on scene pixel (x, y).

pattern     uint8 array of h x w
scene       uint8 array of H x W, at least the pattern's size
mask        uint8 or bool array of h x w: the pattern pixels that count
scene_mask  uint8 or bool array of H x W: the scene pixels that count
mode        "r2": r squared of a positive correlation, 0 for a negative one;
            "abs": r squared of either sign; "neg": of a negative one only;
            "cov": the covariance over the pattern's standard deviation
            (r times the scene window's standard deviation), signed

Every sum runs over the pixels that both masks care for at that position.
A position without variance on either side scores 0.
)";

constexpr const char* windowSums = R"(window_sums(scene, h, w, mask=None) -> tuple[numpy.ndarray, numpy.ndarray]

The sums and the sums of squares of the scene's pixels under an h x w
window at every position, as two float64 arrays of (H - h + 1) x
(W - w + 1) holding exact integers; with a mask (uint8 or bool, h x w),
over the window pixels where it is non-zero.
)";

}  // namespace qpy::doc

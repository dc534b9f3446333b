// Peak detection on score spaces of doubles.
//
// One row-major pass over the rectangle; a value is compared with its 4
// neighbours along the axes only when it passes the threshold (and the care
// limit). A value with no equal neighbour is decided on the spot. A value
// with an equal neighbour belongs to a plateau, which is flooded once: every
// member is marked as seen, the plateau is a peak only when none of its
// neighbours is higher, and it is reported at the first member the scan
// meets.
//
// Why the axes alone: a peak elongated along a diagonal leaves two nearly
// equal tops on diagonal neighbours, and the true top often lies nearer the
// lower of the two. Comparing with the diagonals too would report only the
// higher one; a search that follows each peak in a small neighbourhood on
// finer levels then loses the match whenever it went the wrong way.
//
// The peaks are ordered by their height between grid positions: the highest
// point within the peak's cell of the quadric through its 3 x 3
// neighbourhood (the corners give the cross curvature, so a peak whose top
// lies towards a diagonal is not underrated), or, on the edge of the space,
// the value raised by the parabola of each axis that has both neighbours. A
// match that falls half way between positions of a coarse space is sampled
// below its top, and would otherwise be ranked behind lesser peaks that
// happen to sit on the grid.
#include "qip/internal.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

constexpr int kNeighbourDx[4] = {-1, 1, 0, 0};
constexpr int kNeighbourDy[4] = {0, 0, -1, 1};

using qip_detail::HeapBlock;

struct Space {
    const double* firstPixel;
    ptrdiff_t rowStride;
    int32_t width, height;
    double at(int32_t x, int32_t y) const { return firstPixel[y * rowStride + x]; }
};

// Plateau bookkeeping, made only when the first plateau is met.
class Plateaus {
public:
    explicit Plateaus(const Space& space) : space_(space) {}

    // Floods the plateau of (x, y), marking each member as seen; isPeak
    // tells whether no neighbour of the plateau is higher.
    qsys_status flood(int32_t x, int32_t y, bool* isPeakOut)
    {
        qsys_status s = ensureSeenMap();
        if (QSYS_FAILED(s)) return s;
        const double value = space_.at(x, y);
        bool isPeak = true;
        size_t depth = 0;
        markSeen(x, y);
        s = push(&depth, x, y);
        while (!QSYS_FAILED(s) && depth > 0) {
            --depth;
            const int32_t* member = static_cast<const int32_t*>(stack_.block) + 2 * depth;
            const int32_t mx = member[0], my = member[1];
            for (int k = 0; k < 4 && !QSYS_FAILED(s); ++k) {
                const int32_t nx = mx + kNeighbourDx[k], ny = my + kNeighbourDy[k];
                if (nx < 0 || ny < 0 || nx >= space_.width || ny >= space_.height) continue;
                const double n = space_.at(nx, ny);
                if (n > value) isPeak = false;
                if (n != value || seen(nx, ny)) continue;
                markSeen(nx, ny);
                s = push(&depth, nx, ny);
            }
        }
        *isPeakOut = isPeak;
        return s;
    }

    bool seen(int32_t x, int32_t y) const
    {
        return seen_.block != nullptr &&
               static_cast<const uint8_t*>(seen_.block)[index(x, y)] != 0;
    }

private:
    size_t index(int32_t x, int32_t y) const
    {
        return static_cast<size_t>(y) * static_cast<size_t>(space_.width) + static_cast<size_t>(x);
    }
    void markSeen(int32_t x, int32_t y) { static_cast<uint8_t*>(seen_.block)[index(x, y)] = 1; }

    qsys_status ensureSeenMap()
    {
        if (seen_.block != nullptr) return QSYS_OK;
        seen_.bytes = static_cast<size_t>(space_.width) * static_cast<size_t>(space_.height);
        return qsys_memory_allocClear64_internal(seen_.bytes, &seen_.block);
    }

    // The flood stack holds (x, y) pairs; a position enters it only when it
    // is first marked, so it never holds more than the plateau.
    qsys_status push(size_t* depth, int32_t x, int32_t y)
    {
        const size_t needed = (*depth + 1) * 2 * sizeof(int32_t);
        if (needed > stack_.bytes) {
            const size_t bytes = stack_.bytes < 256 ? 256 : stack_.bytes * 2;
            qsys_status s = stack_.block == nullptr
                                ? qsys_memory_alloc_internal(bytes, &stack_.block)
                                : qsys_memory_realloc_internal(bytes, &stack_.block, stack_.bytes);
            if (QSYS_FAILED(s)) return s;
            stack_.bytes = bytes;
        }
        int32_t* slot = static_cast<int32_t*>(stack_.block) + 2 * *depth;
        slot[0] = x;
        slot[1] = y;
        ++*depth;
        return QSYS_OK;
    }

    const Space& space_;
    HeapBlock seen_;
    HeapBlock stack_;
};

// The sides on which the peak lies on the edge of the rectangle searched:
// its neighbour there is only context (the view's margin, or nothing), not
// a position the caller asked about.
uint32_t edgeFlags(int32_t x, int32_t y, int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    uint32_t flags = 0;
    if (x == x0) flags |= QIP_PEAK_AT_LEFT;
    if (x + 1 == x1) flags |= QIP_PEAK_AT_RIGHT;
    if (y == y0) flags |= QIP_PEAK_AT_TOP;
    if (y + 1 == y1) flags |= QIP_PEAK_AT_BOTTOM;
    return flags;
}

// What the parabola through (-1, a), (0, b), (1, c) rises above b; 0 unless
// it opens downwards (NaN neighbours fail the test).
double parabolaRise(double a, double b, double c)
{
    const double bend = 2 * b - a - c;
    return bend > 0 ? (c - a) * (c - a) / (8 * bend) : 0.0;
}

// What the quadric through the 3 x 3 values v (row by row) rises above the
// centre within the centre's cell: slopes and curvatures from the axes,
// cross curvature from the corners. False unless it has a maximum.
bool quadricRiseInCell(const double v[9], double* riseOut)
{
    const double gx = (v[5] - v[3]) / 2, gy = (v[7] - v[1]) / 2;
    const double hxx = v[3] - 2 * v[4] + v[5], hyy = v[1] - 2 * v[4] + v[7], hxy = (v[8] - v[6] - v[2] + v[0]) / 4;
    const double det = hxx * hyy - hxy * hxy;
    if (!(hxx < 0) || !(det > 0)) return false;
    auto rise = [&](double x, double y) {
        return gx * x + gy * y + 0.5 * (hxx * x * x + 2 * hxy * x * y + hyy * y * y);
    };
    auto within = [](double t) { return t < -0.5 ? -0.5 : (t > 0.5 ? 0.5 : t); };
    const double x = -(hyy * gx - hxy * gy) / det, y = -(hxx * gy - hxy * gx) / det;
    if (std::fabs(x) <= 0.5 && std::fabs(y) <= 0.5) {
        *riseOut = rise(x, y);
        return std::isfinite(*riseOut);
    }
    // Outside the cell the highest point of the cell lies on its edge.
    double best = 0;
    for (const double e : {-0.5, 0.5}) {
        best = std::fmax(best, rise(e, within(-(gy + hxy * e) / hyy)));
        best = std::fmax(best, rise(within(-(gx + hxy * e) / hxx), e));
    }
    *riseOut = best;
    return std::isfinite(best);
}

// The peak's height within its cell: its value raised by the quadric through
// its 3 x 3 neighbourhood, or, without all of it, by the parabola of each
// axis that has both neighbours in the space.
double heightOf(const Space& space, const qimg_windowConst& view, const qip_detectedPeak& peak)
{
    const int32_t x = peak.integerPosition.first - view.x, y = peak.integerPosition.second - view.y;
    const bool hasX = x > 0 && x + 1 < space.width, hasY = y > 0 && y + 1 < space.height;
    double rise = 0;
    if (hasX && hasY) {
        double v[9];
        for (int k = 0; k < 9; ++k) v[k] = space.at(x + k % 3 - 1, y + k / 3 - 1);
        if (quadricRiseInCell(v, &rise)) return peak.value + rise;
    }
    if (hasX) rise += parabolaRise(space.at(x - 1, y), peak.value, space.at(x + 1, y));
    if (hasY) rise += parabolaRise(space.at(x, y - 1), peak.value, space.at(x, y + 1));
    return peak.value + rise;
}

// Highest first, so that the search follows the likeliest peak first and
// whoever follows one peak of several follows the best; equal heights by
// value, then in row-major order.
qsys_status orderByHeight(const Space& space, const qimg_windowConst& view, qstd_vector_* peaks)
{
    struct Ranked {
        double height;
        qip_detectedPeak peak;
    };
    const size_t count = peaks->size;
    if (count < 2) return QSYS_OK;
    HeapBlock scratch;
    qsys_status s = qsys_memory_alloc_internal(count * sizeof(Ranked), &scratch.block);
    if (QSYS_FAILED(s)) return s;
    auto* ranked = static_cast<Ranked*>(scratch.block);
    auto* first = static_cast<qip_detectedPeak*>(peaks->begin);
    for (size_t i = 0; i < count; ++i) ranked[i] = Ranked{heightOf(space, view, first[i]), first[i]};
    std::sort(ranked, ranked + count, [](const Ranked& a, const Ranked& b) {
        if (a.height != b.height) return a.height > b.height;
        if (a.peak.value != b.peak.value) return a.peak.value > b.peak.value;
        if (a.peak.integerPosition.second != b.peak.integerPosition.second)
            return a.peak.integerPosition.second < b.peak.integerPosition.second;
        return a.peak.integerPosition.first < b.peak.integerPosition.first;
    });
    for (size_t i = 0; i < count; ++i) first[i] = ranked[i].peak;
    return QSYS_OK;
}

// The rectangle's positions in view pixels, clipped to the view: x0 <= x < x1
// and y0 <= y < y1.
struct Positions {
    int32_t x0, y0, x1, y1;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

// 64-bit, so that no corner overflows.
Positions clipToView(const qstd_rect32& rect, const qimg_windowConst& view)
{
    auto clip = [](int64_t v, int64_t hi) { return static_cast<int32_t>(v < 0 ? 0 : (v > hi ? hi : v)); };
    const int64_t rx = static_cast<int64_t>(rect.x) - view.x, ry = static_cast<int64_t>(rect.y) - view.y;
    return Positions{clip(rx, view.width), clip(ry, view.height),
                     clip(rx + (rect.width > 0 ? rect.width : 0), view.width),
                     clip(ry + (rect.height > 0 ? rect.height : 0), view.height)};
}

// What the scan needs besides the space: the care limit, when there is one.
struct Care {
    const uint32_t* counts;
    uint32_t stride, limit;
    bool passes(int32_t x, int32_t y) const
    {
        return counts == nullptr || counts[static_cast<size_t>(y) * stride + x] >= limit;
    }
};

// Whether the value at (x, y), which passed threshold and care, is a peak:
// no axis neighbour higher, and when one is equal, its plateau decided once
// at the first member the scan meets.
qsys_status isPeakAt(const Space& space, Plateaus* plateaus, int32_t x, int32_t y, bool* isPeakOut)
{
    *isPeakOut = false;
    const double v = space.at(x, y);
    // A NaN neighbour fails both tests and so does not count.
    bool higher = false, equal = false;
    auto compare = [&](int32_t nx, int32_t ny) {
        if (nx < 0 || ny < 0 || nx >= space.width || ny >= space.height) return;
        const double n = space.at(nx, ny);
        higher |= n > v;
        equal |= n == v;
    };
    for (int k = 0; k < 4; ++k) compare(x + kNeighbourDx[k], y + kNeighbourDy[k]);
    if (higher) return QSYS_OK;
    if (!equal) {
        *isPeakOut = true;
        return QSYS_OK;
    }
    if (plateaus->seen(x, y)) return QSYS_OK;
    return plateaus->flood(x, y, isPeakOut);
}

// Whether a row neighbour is higher: most values that pass the threshold
// fail here, before the care count and the full neighbourhood are read.
bool higherInRow(const Space& space, int32_t x, int32_t y)
{
    const double* row = space.firstPixel + y * space.rowStride;
    return (x > 0 && row[x - 1] > row[x]) || (x + 1 < space.width && row[x + 1] > row[x]);
}

// The first position from x on, before x1, that may be a peak: a value that
// passes the threshold with no higher row neighbour. Where both row
// neighbours exist the three tests are combined without branching, so the
// scan branches once per position; the positions passed over fail the first
// tests of the scan, so its answer is the same.
int32_t nextCandidate(const Space& space, const double* row, int32_t x, int32_t x1, double threshold)
{
    if (x < 1) return x;
    for (; x < x1 && x + 1 < space.width; ++x) {
        const double v = row[x];
        const bool passes = (v >= threshold) & !(row[x - 1] > v) & !(row[x + 1] > v);
        if (passes) return x;
    }
    return x;
}

// One row-major pass over the positions, appending each peak.
qsys_status scanPositions(const Space& space, const qimg_windowConst& view, const Positions& at, double threshold,
                          const Care& care, qstd_vector_* peaksOut)
{
    Plateaus plateaus(space);
    for (int32_t y = at.y0; y < at.y1; ++y)
        for (int32_t x = at.x0; x < at.x1; ++x) {
            x = nextCandidate(space, space.firstPixel + y * space.rowStride, x, at.x1, threshold);
            if (x >= at.x1) break;
            if (!(space.at(x, y) >= threshold)) continue;  // also drops NaN
            if (higherInRow(space, x, y) || !care.passes(x, y)) continue;
            bool isPeak = false;
            qsys_status s = isPeakAt(space, &plateaus, x, y, &isPeak);
            if (QSYS_FAILED(s)) return s;
            if (!isPeak) continue;
            qip_detectedPeak peak;
            peak.integerPosition.first = x + view.x;
            peak.integerPosition.second = y + view.y;
            peak.position.x = static_cast<double>(peak.integerPosition.first);
            peak.position.y = static_cast<double>(peak.integerPosition.second);
            peak.value = space.at(x, y);
            peak.flags = edgeFlags(x, y, at.x0, at.y0, at.x1, at.y1);
            s = qstd_vector__pushBack(peaksOut, &peak);
            if (QSYS_FAILED(s)) return s;
        }
    return QSYS_OK;
}

qsys_status detectPeaks(const qimg_windowConst* view, const qstd_rect32* rect, double threshold,
                        const uint32_t* careCounts, uint32_t careCountsStride, uint32_t careLimit,
                        bool limited, qstd_vector_* peaksOut)
{
    if (view == nullptr || rect == nullptr || peaksOut == nullptr) return QSYS_E_BAD_ARGUMENT;
    if (limited && careCounts == nullptr) return QSYS_E_BAD_ARGUMENT;
    if (peaksOut->elementSize != sizeof(qip_detectedPeak)) return QSYS_E_BAD_ARGUMENT;
    if (view->firstPixel == nullptr) return QIMG_E_UNBOUND;
    if (view->depth != QIMG_DEPTH_64F) return QIMG_E_BAD_DEPTH;
    if (view->width < 0 || view->height < 0 || (view->height > 1 && view->rowStride < view->width))
        return QIMG_E_BAD_SIZE;
    qsys_status s = qstd_vector__resize(peaksOut, 0);
    if (QSYS_FAILED(s)) return s;

    const Space space{static_cast<const double*>(view->firstPixel), view->rowStride, view->width,
                      view->height};
    const Positions at = clipToView(*rect, *view);
    if (at.empty()) return QSYS_OK;
    if (limited && at.y1 - at.y0 > 1 && careCountsStride < static_cast<uint32_t>(at.x1)) return QSYS_E_BAD_ARGUMENT;
    const Care care{limited ? careCounts : nullptr, careCountsStride, careLimit};
    s = scanPositions(space, *view, at, threshold, care, peaksOut);
    if (QSYS_FAILED(s)) return s;
    return orderByHeight(space, *view, peaksOut);
}

}  // namespace

extern "C" {

qsys_status qip_detectPeaksDWithWindow(const qimg_windowConst* space, const qstd_rect32* rect,
                                       double threshold, qstd_vector_* peaksOut)
{
    return detectPeaks(space, rect, threshold, nullptr, 0, 0, false, peaksOut);
}

qsys_status qip_detectPeaksDWithWindowWithNCareLimit(const qimg_windowConst* space,
                                                     const qstd_rect32* rect, double threshold,
                                                     const uint32_t* careCounts,
                                                     uint32_t careCountsStride, uint32_t careLimit,
                                                     qstd_vector_* peaksOut)
{
    return detectPeaks(space, rect, threshold, careCounts, careCountsStride, careLimit, true, peaksOut);
}

}  // extern "C"

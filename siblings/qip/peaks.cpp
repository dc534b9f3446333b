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
// The peaks are ordered by their height between grid positions: the value
// raised by the parabola through each axis's two neighbours. A match that
// falls half way between positions of a coarse space is sampled below its
// top, and would otherwise be ranked behind lesser peaks that happen to sit
// on the grid.
#include "qip/internal.hpp"

#include <algorithm>
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

// The peak's value raised by the parabola of each axis that has both
// neighbours in the space.
double heightOf(const Space& space, const qimg_windowConst& view, const qip_detectedPeak& peak)
{
    const int32_t x = peak.integerPosition.first - view.x, y = peak.integerPosition.second - view.y;
    double height = peak.value;
    if (x > 0 && x + 1 < space.width)
        height += parabolaRise(space.at(x - 1, y), peak.value, space.at(x + 1, y));
    if (y > 0 && y + 1 < space.height)
        height += parabolaRise(space.at(x, y - 1), peak.value, space.at(x, y + 1));
    return height;
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
    // The rectangle in view pixels, clipped; 64-bit so that no corner overflows.
    auto clip = [](int64_t v, int64_t hi) { return v < 0 ? 0 : (v > hi ? hi : v); };
    const int64_t rx = static_cast<int64_t>(rect->x) - view->x;
    const int64_t ry = static_cast<int64_t>(rect->y) - view->y;
    const int32_t x0 = static_cast<int32_t>(clip(rx, space.width));
    const int32_t y0 = static_cast<int32_t>(clip(ry, space.height));
    const int32_t x1 = static_cast<int32_t>(clip(rx + (rect->width > 0 ? rect->width : 0), space.width));
    const int32_t y1 = static_cast<int32_t>(clip(ry + (rect->height > 0 ? rect->height : 0), space.height));
    if (x0 >= x1 || y0 >= y1) return QSYS_OK;
    if (limited && y1 - y0 > 1 && careCountsStride < static_cast<uint32_t>(x1)) return QSYS_E_BAD_ARGUMENT;

    Plateaus plateaus(space);
    for (int32_t y = y0; y < y1; ++y) {
        const double* row = space.firstPixel + y * space.rowStride;
        const double* above = y > 0 ? row - space.rowStride : nullptr;
        const double* below = y + 1 < space.height ? row + space.rowStride : nullptr;
        const uint32_t* careRow = limited ? careCounts + static_cast<size_t>(y) * careCountsStride : nullptr;
        for (int32_t x = x0; x < x1; ++x) {
            const double v = row[x];
            if (!(v >= threshold)) continue;  // also drops NaN
            if (limited && careRow[x] < careLimit) continue;
            const bool hasLeft = x > 0, hasRight = x + 1 < space.width;
            // A NaN neighbour fails both tests and so does not count.
            bool higher = false, equal = false;
            auto compare = [&](double n) {
                higher |= n > v;
                equal |= n == v;
            };
            if (hasLeft) compare(row[x - 1]);
            if (hasRight) compare(row[x + 1]);
            if (above != nullptr) compare(above[x]);
            if (below != nullptr) compare(below[x]);
            if (higher) continue;
            if (equal) {
                // The first member the scan meets decides the whole plateau.
                if (plateaus.seen(x, y)) continue;
                bool isPeak = false;
                s = plateaus.flood(x, y, &isPeak);
                if (QSYS_FAILED(s)) return s;
                if (!isPeak) continue;
            }
            qip_detectedPeak peak;
            peak.integerPosition.first = x + view->x;
            peak.integerPosition.second = y + view->y;
            peak.position.x = static_cast<double>(peak.integerPosition.first);
            peak.position.y = static_cast<double>(peak.integerPosition.second);
            peak.value = v;
            peak.flags = edgeFlags(x, y, x0, y0, x1, y1);
            s = qstd_vector__pushBack(peaksOut, &peak);
            if (QSYS_FAILED(s)) return s;
        }
    }
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

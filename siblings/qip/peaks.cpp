// Peak detection on score spaces of doubles.
//
// One row-major pass over the rectangle; a value is compared with its 4
// neighbours along the axes only when it passes the threshold (and the care
// limit). A value with no equal neighbour is decided on the spot. A value
// with an equal neighbour belongs to a plateau, which is flooded once: every
// member is marked as seen, the plateau is a peak only when none of its
// neighbours is higher, and it is reported at the first member the scan
// meets. The peaks are then ordered by value.
//
// Why the axes alone: a peak elongated along a diagonal leaves two nearly
// equal tops on diagonal neighbours, and the true top often lies nearer the
// lower of the two. Comparing with the diagonals too would report only the
// higher one; a search that follows each peak in a small neighbourhood on
// finer levels then loses the match whenever it went the wrong way.

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

uint32_t edgeFlags(const Space& space, int32_t x, int32_t y)
{
    uint32_t flags = 0;
    if (x == 0) flags |= QIP_PEAK_AT_LEFT;
    if (x + 1 == space.width) flags |= QIP_PEAK_AT_RIGHT;
    if (y == 0) flags |= QIP_PEAK_AT_TOP;
    if (y + 1 == space.height) flags |= QIP_PEAK_AT_BOTTOM;
    return flags;
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
            peak.flags = edgeFlags(space, x, y);
            s = qstd_vector__pushBack(peaksOut, &peak);
            if (QSYS_FAILED(s)) return s;
        }
    }
    // Strongest first, so that whoever follows one peak of several follows
    // the best; equal values stay in row-major order.
    auto* first = static_cast<qip_detectedPeak*>(peaksOut->begin);
    std::sort(first, first + peaksOut->size, [](const qip_detectedPeak& a, const qip_detectedPeak& b) {
        if (a.value != b.value) return a.value > b.value;
        if (a.integerPosition.second != b.integerPosition.second)
            return a.integerPosition.second < b.integerPosition.second;
        return a.integerPosition.first < b.integerPosition.first;
    });
    return QSYS_OK;
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

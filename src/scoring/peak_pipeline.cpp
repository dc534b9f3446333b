// The peak pipeline shared by the grey and the colour peak kernels: the
// search rectangle grown by one position, the views narrowed to it, the
// statistics planes laid out in one block per element type, the score space,
// detection inside the window and refinement. What differs with the plane
// set (statistics, space form, care limit, refinement) comes from a
// qsrch::PeakPlaneSet.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "frame/call_frame.hpp"
#include "kernels/grid.hpp"
#include "kernels/internal.hpp"
#include "scoring/internal.hpp"
#include "scoring/peaks_internal.hpp"

namespace qsrch {

qstd_rect32 grownRect(const qstd_rect32& window, int32_t imageWidth, int32_t imageHeight)
{
    const int64_t x0 = std::max<int64_t>(int64_t{window.x} - 1, 0);
    const int64_t y0 = std::max<int64_t>(int64_t{window.y} - 1, 0);
    const int64_t x1 = std::min<int64_t>(imageWidth, int64_t{window.x} + window.width + 1);
    const int64_t y1 = std::min<int64_t>(imageHeight, int64_t{window.y} + window.height + 1);
    return qstd_rect32{static_cast<int32_t>(x0), static_cast<int32_t>(y0),
                       static_cast<int32_t>(x1 - x0), static_cast<int32_t>(y1 - y0)};
}

bool noPeakPositions(const qimg_windowConst& pattern, const qimg_windowConst& image,
                     const qstd_rect32& window, const qstd_rect32& grown)
{
    const int64_t pw = pattern.width, ph = pattern.height;
    return image.width - pw + 1 < 1 || image.height - ph + 1 < 1 || window.width - pw + 1 < 1 ||
           window.height - ph + 1 < 1 || grown.width - pw + 1 < 1 || grown.height - ph + 1 < 1;
}

Status narrowToGrown(const qimg_windowConst& view, const qstd_rect32& grown, qimg_windowConst* out)
{
    *out = view;
    const qsrch_status status =
        qimg_windowConst_window(out, grown.x, grown.y, grown.width, grown.height, nullptr);
    out->x = 0;
    out->y = 0;
    return status;
}

Status dilateEndpointsForPeaks(const qstd_vector_qstd_pair32* endpoints, const qimg_windowConst& pattern,
                               const qimg_windowConst& image, qstd_vector_qstd_pair32* dilated)
{
    const qstd_pair32* listed = nullptr;
    uint32_t listedCount = 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qstd_pair32_getBeginSizeConst(endpoints, &listed, &listedCount));
    // The grown list holds a pair per image row; a shorter caller's list is
    // read as if padded with empty runs, never past its end.
    const size_t rows = std::max<size_t>(listedCount, static_cast<size_t>(image.height));
    QSRCH_RETURN_IF_ERROR(qstd_vector_qstd_pair32_resize(dilated, rows));
    std::copy(listed, listed + listedCount, dilated->begin);
    return qsrch_dilateEndpoints(dilated, dilated, 1, pattern.height, pattern.width, image.height,
                                 image.width);
}

PeakPlaneLayout::PeakPlaneLayout(bool doublePath, bool masked, bool endpoints, uint32_t sets,
                                 int32_t nx_, int32_t ny_)
    : doubles(doublePath), runtimeMasked(masked), aligned(endpoints), planeSets(sets), nx(nx_),
      ny(ny_)
{
    const size_t P = sets;
    room = aligned ? 4 * (static_cast<size_t>(nx) / 4) + 4 : static_cast<size_t>(nx);
    if (!doubles) {
        // Per set IP, Si, Sii; with a runtime mask the shared N and per set
        // Sp, Spp per position, else N and per set Sp, Spp once.
        pitch32 = 3 * P + (runtimeMasked ? 1 + 2 * P : 0);
        pitchD = 0;
        singles32 = runtimeMasked ? 0 : 1 + 2 * P;
        singlesD = 0;
    } else {
        // Unsigned: per set Si, and the shared N with per set Sp; double: per
        // set IP, Sii, and Spp.
        const size_t unsignedRows = P + (runtimeMasked ? 1 + P : 0);
        const size_t doubleRows = 2 * P + (runtimeMasked ? P : 0);
        pitchD = std::max(unsignedRows, doubleRows);
        pitch32 = pitchD;
        singles32 = runtimeMasked ? 0 : 1 + P;
        singlesD = runtimeMasked ? 0 : P;
    }
}

namespace {

// The first element of a block on a 16-byte boundary when the layout asks for it.
template <class T>
T* blockStart(T* begin, bool aligned)
{
    if (!aligned) return begin;
    const uintptr_t misalignment = reinterpret_cast<uintptr_t>(begin) % 16;
    return begin + (misalignment == 0 ? 0 : (16 - misalignment) / sizeof(T));
}

}  // namespace

void placePeakPlanes(const PeakPlaneLayout& layout, uint32_t* block32, double* blockD,
                     qsrch_peakPlanes* sets)
{
    const size_t S = layout.room, P = layout.planeSets;
    uint32_t* base = blockStart(block32, layout.aligned);
    uint32_t* singles = base + layout.rows32();
    for (size_t k = 0; k < P; ++k) {
        qsrch_peakPlanes& p = sets[k];
        p = qsrch_peakPlanes{};
        p.doubles = layout.doubles;
        p.perPositionPattern = layout.runtimeMasked;
        p.stride32 = static_cast<uint32_t>(layout.pitch32 * S);
        p.strideD = static_cast<uint32_t>(layout.pitchD * S);
        if (!layout.doubles) {
            p.innerProducts = base + 3 * k * S;
            p.imageSums = base + (3 * k + 1) * S;
            p.imageSumSqs = base + (3 * k + 2) * S;
            if (layout.runtimeMasked) {
                p.counts = base + 3 * P * S;
                p.patternSums = base + (3 * P + 1 + 2 * k) * S;
                p.patternSumSqs = base + (3 * P + 2 + 2 * k) * S;
            } else {
                p.counts = singles;
                p.patternSums = singles + 1 + 2 * k;
                p.patternSumSqs = singles + 2 + 2 * k;
            }
            continue;
        }
        p.imageSums = base + k * S;
        p.innerProductsD = blockD + 2 * k * S;
        p.imageSumSqsD = blockD + (2 * k + 1) * S;
        if (layout.runtimeMasked) {
            p.counts = base + P * S;
            p.patternSums = base + (P + 1 + k) * S;
            p.patternSumSqsD = blockD + (2 * P + k) * S;
        } else {
            p.counts = singles;
            p.patternSums = singles + 1 + k;
            p.patternSumSqsD = blockD + layout.rowsD() + k;
        }
    }
}

namespace {

// The statistics planes of one plane set: inner products (on the dilated
// runs when endpoints are in use, so that the refinement finds every
// neighbour of a listed position), image sums under the pattern mask or
// the pattern's window, and with a runtime mask the care counts and the
// plane's pattern sums per position.
Status planeStatistics(const PlaneStatisticsInputs& in, const qimg_windowConst* pattern,
                       const qimg_windowConst* image, const qstd_vector_qstd_pair32* dilated,
                       const qsrch_peakPlanes& p)
{
    const bool doubles = p.doubles != 0;
    if (dilated != nullptr) {
        QSRCH_RETURN_IF_ERROR(
            qsrch_computeInnerProductsUsingEndpoints(pattern, image, p.innerProducts, p.stride32, dilated, 1));
    } else {
        QSRCH_RETURN_IF_ERROR(doubles
                                  ? qsrch_DcomputeInnerProducts(pattern, image, p.innerProductsD, p.strideD)
                                  : qsrch_computeInnerProducts(pattern, image, p.innerProducts, p.stride32));
    }

    const bool masked = present(in.patternMask);
    const qimg_windowConst* sumWindow = masked ? in.patternMask : pattern;
    if (doubles) {
        QSRCH_RETURN_IF_ERROR(
            masked ? qsrch_DcomputeMaskSumISumISq(sumWindow, image, p.imageSums, p.imageSumSqsD, p.stride32)
                   : qsrch_DcomputeSumISumISq(sumWindow, image, p.imageSums, p.imageSumSqsD, p.stride32));
    } else {
        QSRCH_RETURN_IF_ERROR(
            masked ? qsrch_computeMaskSumISumISq(sumWindow, image, p.imageSums, p.imageSumSqs, p.stride32)
                   : qsrch_computeSumISumISq(sumWindow, image, p.imageSums, p.imageSumSqs, p.stride32));
    }

    if (in.runtimeMask == nullptr) return QSRCH_OK;
    if (dilated != nullptr && in.patternSumsOnRuns)
        return qsrch_computeMaskPatSumPatSumSqUsingEndpoints(pattern, in.patternMask, in.runtimeMask, p.counts,
                                                             p.patternSums, p.patternSumSqs, p.stride32,
                                                             dilated, 1);
    if (doubles)
        return qsrch_DcomputeMaskPatSumPatSumSq(pattern, in.patternMask, in.runtimeMask, p.counts,
                                                p.patternSums, p.patternSumSqsD, p.stride32);
    return qsrch_computeMaskPatSumPatSumSq(pattern, in.patternMask, in.runtimeMask, p.counts, p.patternSums,
                                           p.patternSumSqs, p.stride32);
}

// The narrowed image views and runtime mask view of one call.
Status narrowViews(const PeakCall& call, uint32_t planeCount, const qstd_rect32& grown, NarrowedViews* views)
{
    for (uint32_t k = 0; k < planeCount; ++k)
        QSRCH_RETURN_IF_ERROR(narrowToGrown(*call.image[k], grown, &views->image[k]));
    views->runtimeMasked = call.runtimeMask != nullptr;
    if (!views->runtimeMasked) return QSRCH_OK;
    QSRCH_RETURN_IF_ERROR(narrowToGrown(*call.runtimeMask, grown, &views->runtimeMask));
    // A mask record without pixels that is still in use cares for nothing,
    // which an empty view tells the kernels without their reading it.
    if (views->runtimeMask.firstPixel == nullptr) views->runtimeMask.width = views->runtimeMask.height = 0;
    return QSRCH_OK;
}

// Sizes the blocks for the layout and points the plane sets into them. The
// statistics kernels write every element of one integer plane set without
// endpoints, so its block is not zero-filled first; the other layouts hold
// elements no kernel writes.
Status placePlanes(const PeakPlaneLayout& layout, uint32_t** block32, qstd_vectord* blockD,
                   qsrch_peakPlanes* planes)
{
    const size_t bytes = layout.count32() * sizeof(uint32_t);
    const bool overwritten = !layout.doubles && !layout.aligned && layout.planeSets == 1;
    QSRCH_RETURN_IF_ERROR(overwritten ? qsys_memory_alloc_internal(bytes, block32)
                                      : qsys_memory_allocClear64_internal(bytes, block32));
    if (layout.countD() != 0) QSRCH_RETURN_IF_ERROR(qstd_vectord_resize(blockD, layout.countD()));
    placePeakPlanes(layout, *block32, blockD->begin, planes);
    return QSRCH_OK;
}

// Scores the grid into the space image (unbound on entry) and leaves
// viewOut on the scored nx x ny pixels with the origin of the grid's first
// position, so the detector's positions are the image's candidate positions.
// A space that covers every image position is written from the grid's
// first position; otherwise it holds the grid alone.
Status scoreSpace(const PeakPlaneSet& set, const PeakGrid& grid, const qsrch_peakPlanes* planes,
                  const qimg_windowConst& pattern0, const qimg_windowConst& image0, qimg_image* space,
                  qimg_window* viewOut)
{
    const qstd_rect32& g = grid.positions;
    const qstd_rect32 spaceRect = set.spaceCoversImage
                                      ? qstd_rect32{0, 0, image0.width - pattern0.width + 1,
                                                    image0.height - pattern0.height + 1}
                                      : qstd_rect32{0, 0, g.width, g.height};
    // A space of the grid alone without endpoints is scored at every pixel;
    // otherwise the pixels left unscored must read 0.
    if (!set.spaceCoversImage && grid.endpoints == nullptr)
        QSRCH_RETURN_IF_ERROR(qimg_image_constructAlignedUncleared(space, QIMG_DEPTH_64F, g.width, g.height, g.width));
    else
        QSRCH_RETURN_IF_ERROR(qimg_image_assignNewRect(space, QIMG_DEPTH_64F, &spaceRect));
    QSRCH_RETURN_IF_ERROR(qimg_window_init(viewOut, space));
    const ptrdiff_t offset = set.spaceCoversImage ? static_cast<ptrdiff_t>(g.y) * viewOut->rowStride + g.x : 0;
    QSRCH_RETURN_IF_ERROR(set.scoreSpace(planes, g.width, g.height, grid.endpoints,
                                         static_cast<double*>(viewOut->firstPixel) + offset, viewOut->rowStride));
    if (set.spaceCoversImage) return qimg_window_window(viewOut, g.x, g.y, g.width, g.height, nullptr);
    // The view gets the origin too, whether or not the image service
    // carries it over.
    space->x = g.x;
    space->y = g.y;
    QSRCH_RETURN_IF_ERROR(qimg_window_init(viewOut, space));
    viewOut->x = g.x;
    viewOut->y = g.y;
    return QSRCH_OK;
}

// The detector's local maxima inside the window, the care limit applied
// when a runtime mask is in use and the fraction gives one.
Status detect(const PeakPlaneSet& set, const PeakCall& call, const qimg_window& spaceView,
              const qsrch_peakPlanes& planes, uint32_t careTotal, bool runtimeMasked, qstd_vector_* detected)
{
    const qimg_windowConst& pattern0 = *call.pattern0;
    const qstd_rect32 peakRect{call.window.x, call.window.y, call.window.width - pattern0.width + 1,
                               call.window.height - pattern0.height + 1};
    const float fraction = call.params->minCareFraction;
    const uint32_t careLimit = runtimeMasked && fraction != 0 ? set.careLimit(careTotal, fraction) : 0;
    if (careLimit != 0)
        return qip_detectPeaksDWithWindowWithNCareLimit(qimg_window_asConst(&spaceView), &peakRect,
                                                        call.peakThreshold, planes.counts, planes.stride32,
                                                        careLimit, detected);
    return qip_detectPeaksDWithWindow(qimg_window_asConst(&spaceView), &peakRect, call.peakThreshold, detected);
}

}  // namespace

Status computePlaneStatistics(const PlaneStatisticsInputs& in, uint32_t planeCount,
                              const qsrch_peakPlanes* planes)
{
    CallFrame<1> frame;
    qstd_vector_qstd_pair32 dilated;  // lives as long as the frame that releases it
    if (in.endpoints != nullptr) {
        QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qstd_pair32_construct(&dilated, 0)));
        frame.release<qstd_vector_qstd_pair32_destruct>(0, &dilated);
        QSRCH_RETURN_IF_ERROR(
            frame.track(dilateEndpointsForPeaks(in.endpoints, *in.pattern[0], in.image[0], &dilated)));
    }
    for (uint32_t k = 0; k < planeCount; ++k)
        QSRCH_RETURN_IF_ERROR(frame.track(planeStatistics(in, in.pattern[k], &in.image[k],
                                                          in.endpoints != nullptr ? &dilated : nullptr,
                                                          planes[k])));
    return frame.finish();
}

PeakWork::PeakWork() { (void)qimg_image_constructUnbound(&space); }

PeakWork::~PeakWork()
{
    (void)qsys_memory_free_internal(&block32);
    (void)qstd_vectord_destruct(&blockD);
    releaseSpaceAndPeaks();
}

void PeakWork::releaseSpaceAndPeaks()
{
    (void)qimg_image_destruct(&space);  // leaves the image unbound
    if (detected.elementSize != 0) (void)qstd_vector_qip_detectedPeak_destruct(&detected);
    detected = qstd_vector_{};
}

Status detectIntoWork(const PeakPlaneSet& set, const PeakCall& call, PeakWork* work)
{
    const qimg_windowConst& pattern0 = *call.pattern0;
    const qimg_windowConst& image0 = *call.image[0];
    const qstd_rect32 grown = grownRect(call.window, image0.width, image0.height);
    // No candidate position: nothing acquired.
    if (noPeakPositions(pattern0, image0, call.window, grown)) return QSRCH_OK;

    NarrowedViews& views = work->views;
    QSRCH_RETURN_IF_ERROR(narrowViews(call, set.planeCount, grown, &views));
    const bool doubles = call.doubles;
    const PeakGrid grid{{grown.x, grown.y, views.image[0].width - pattern0.width + 1,
                         views.image[0].height - pattern0.height + 1},
                        !doubles && call.endpointsFlag == 1 ? call.endpoints : nullptr};
    work->positions = grid.positions;
    const PeakPlaneLayout layout(doubles, views.runtimeMasked, grid.endpoints != nullptr, set.planeCount,
                                 grid.positions.width, grid.positions.height);
    QSRCH_RETURN_IF_ERROR(placePlanes(layout, &work->block32, &work->blockD, work->planes));
    uint32_t careTotal = 0;
    QSRCH_RETURN_IF_ERROR(set.fillStatistics(views, grid.endpoints, work->planes, &careTotal));

    qimg_window spaceView;
    QSRCH_RETURN_IF_ERROR(scoreSpace(set, grid, work->planes, pattern0, image0, &work->space, &spaceView));
    QSRCH_RETURN_IF_ERROR(qstd_vector_qip_detectedPeak_construct(&work->detected, 0));
    return detect(set, call, spaceView, work->planes[0], careTotal, views.runtimeMasked, &work->detected);
}

Status runPeakPipeline(const PeakPlaneSet& set, const PeakCall& call, qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    PeakWork work;
    QSRCH_RETURN_IF_ERROR(detectIntoWork(set, call, &work));
    if (work.detected.elementSize == 0) return qstd_vector_qsrch_detectedPosePeak_resize(peaksOut, 0);
    return set.refine(work.views, work.positions, work.planes, &work.detected, peaksOut);
}

}  // namespace qsrch

// Refinement of detected peaks into pose peaks, and the shape score.
//
// A peak's score is recomputed from the statistics planes (exactly on the
// integer path, so it may differ from the space's double-formed value in
// the last bits), its position is moved by a parabolic fit over the scores
// of its 3 x 3 neighbourhood, read from the same planes, and contrast and
// brightness are taken at the moved integer position. The shape score reads
// pixels again: the squared correlation between the pattern cut at a
// threshold and the image cut at every grey level, from two histograms of
// 32-bit counts, in doubles.
#include <cstddef>
#include <cstdint>

#include "frame/call_frame.hpp"
#include "kernels/grid.hpp"
#include "scoring/internal.hpp"
#include "scoring/peaks_internal.hpp"
#include "scoring/three_plane_internal.hpp"

namespace {

using qsrch::CallFrame;
using qsrch::present;

// Flag bits of the detector that say which neighbours lie outside its
// rectangle; the fit is told about those only.
constexpr uint32_t kEdgeFlags = 0x1E;

template <class T>
T planeAt(const T* plane, uint32_t stride, const qstd_pair32& pos)
{
    return plane[static_cast<size_t>(pos.second) * stride + static_cast<size_t>(pos.first)];
}

// Index of the pattern statistics: the position's, or the single value's.
size_t patternIndex(const qsrch_peakPlanes& p, const qstd_pair32& pos)
{
    if (p.perPositionPattern == 0) return 0;
    return static_cast<size_t>(pos.second) * p.stride32 + static_cast<size_t>(pos.first);
}

// The six statistics of one plane at a position, as doubles.
struct Placement {
    double N, Sp, Spp, IP, Si, Sii;
};

Placement placementAt(const qsrch_peakPlanes& p, const qstd_pair32& pos)
{
    const size_t pi = patternIndex(p, pos);
    Placement s;
    s.N = p.counts[pi];
    s.Sp = p.patternSums[pi];
    s.Si = planeAt(p.imageSums, p.stride32, pos);
    if (p.doubles != 0) {
        s.Spp = p.patternSumSqsD[pi];
        s.IP = planeAt(p.innerProductsD, p.strideD, pos);
        s.Sii = planeAt(p.imageSumSqsD, p.strideD, pos);
    } else {
        s.Spp = p.patternSumSqs[pi];
        s.IP = planeAt(p.innerProducts, p.stride32, pos);
        s.Sii = planeAt(p.imageSumSqs, p.stride32, pos);
    }
    return s;
}

// Neighbour (dx, dy) in the fit's arrays, row by row from (-1, -1).
constexpr int fitIndex(int dx, int dy) { return (dy + 1) * 3 + (dx + 1); }

// The pair of the endpoint list for position row `row`, or none past its ends.
bool runOf(const qstd_pair32* pairs, uint32_t count, int32_t row, qstd_pair32* run)
{
    if (row < 0 || static_cast<uint32_t>(row) >= count) return false;
    *run = pairs[row];
    return true;
}

// Clears the three neighbours of a row above or below that fall outside its run.
void clearOutsideRun(const qstd_pair32& run, int32_t x, uint32_t* left, uint32_t* centre,
                     uint32_t* right)
{
    const int32_t s = run.first, e = run.second;
    if (x - 1 < s) *left = 0;
    if (e <= x + 1) *right = 0;
    if (x < s || e <= x || s == e) *centre = 0;
}

// The scores of the fit's usable neighbours of plane position pos.
qsrch::Status neighbourScores(const qsrch_normalizedCorrelationParams* params, const double* weights,
                              uint32_t planeCount, const qsrch_peakPlanes* planes, const qstd_pair32& pos,
                              const uint32_t valid[9], double values[9])
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int k = fitIndex(dx, dy);
            if ((dx == 0 && dy == 0) || valid[k] == 0) continue;
            const qstd_pair32 neighbour{pos.first + dx, pos.second + dy};
            QSRCH_RETURN_IF_ERROR(qsrch_scoreAt(params, weights, planeCount, planes, &neighbour, &values[k], nullptr));
        }
    return QSRCH_OK;
}

// Raises *score to the shape score of the placement at plane position `at`.
qsrch::Status shapeScoreAt(const qsrch_shapeViews& shape, const qstd_pair32& at, uint8_t threshold,
                           double* score)
{
    qimg_windowConst imageAt = *shape.image;
    const int32_t pw = shape.pattern->width, ph = shape.pattern->height;
    QSRCH_RETURN_IF_ERROR(qimg_windowConst_window(&imageAt, at.first, at.second, pw, ph, nullptr));
    qimg_windowConst maskAt;
    const bool runtimeMasked = shape.runtimeMask != nullptr;
    if (runtimeMasked) {
        maskAt = *shape.runtimeMask;
        QSRCH_RETURN_IF_ERROR(qimg_windowConst_window(&maskAt, at.first, at.second, pw, ph, nullptr));
    }
    return qsrch_shapeScore(shape.pattern, shape.patternMask, &imageAt, runtimeMasked ? &maskAt : nullptr,
                            threshold, score);
}

}  // namespace

namespace qsrch {

Status recordOfDetected(const qip_detectedPeak& d, qsrch_detectedPosePeak* peak)
{
    peak->score = d.value;
    peak->flags = d.flags;
    QSRCH_RETURN_IF_ERROR(qmath_xformLinear_initIdentity(&peak->pose));
    peak->pose.trans = d.position;
    peak->contrast = 0;
    peak->brightness = 0;
    peak->integerPosition = d.integerPosition;
    peak->searchGranularity = 0;
    peak->searchLevel = 0;
    peak->searchSplit = 0;
    peak->careCount = 0;
    return QSRCH_OK;
}

// The grey refinement of qsrch_refinePeaks, without endpoints.
Status DeferredPeaks::refine(qsrch_detectedPosePeak* peak) const
{
    const qsrch_shapeViews shape{pattern, patternMask, &work.views.image[0], work.views.runtimeMaskInUse()};
    return qsrch_refineOnePeak(&params, nullptr, 1, work.planes, &work.positions, nullptr, 0, &shape, peak);
}

}  // namespace qsrch

extern "C" {

qsrch_status qsrch_scoreAt(const qsrch_normalizedCorrelationParams* params, const double* weights,
                           uint32_t planeCount, const qsrch_peakPlanes* planes,
                           const qstd_pair32* pos, double* scoreOut, uint32_t* careCountOut)
{
    const qsrch_peakPlanes& p = planes[0];
    const size_t pi = patternIndex(p, *pos);
    if (careCountOut != nullptr) *careCountOut = p.counts[pi];
    if (planeCount == 3) {
        const Placement s0 = placementAt(planes[0], *pos), s1 = placementAt(planes[1], *pos),
                        s2 = placementAt(planes[2], *pos);
        return qsrch_DscoreFromStats3(params, weights, s0.N, s0.Sp, s1.Sp, s2.Sp, s0.Spp, s1.Spp,
                                      s2.Spp, s0.IP, s1.IP, s2.IP, s0.Si, s1.Si, s2.Si, s0.Sii,
                                      s1.Sii, s2.Sii, scoreOut);
    }
    if (p.doubles != 0) {
        const Placement s = placementAt(p, *pos);
        return qsrch_DscoreFromStats(params, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, scoreOut);
    }
    // Exact integer terms on the integer path.
    return qsrch_scoreFromStats(params, p.counts[pi], p.patternSums[pi], p.patternSumSqs[pi],
                                planeAt(p.innerProducts, p.stride32, *pos),
                                planeAt(p.imageSums, p.stride32, *pos),
                                planeAt(p.imageSumSqs, p.stride32, *pos), scoreOut);
}

qsrch_status qsrch_contrastBrightnessAt(const double* weights, uint32_t planeCount,
                                        const qsrch_peakPlanes* planes, const qstd_pair32* pos,
                                        double* contrastOut, double* brightnessOut)
{
    *contrastOut = 0;
    *brightnessOut = 0;
    if (planeCount == 3) {
        const Placement s0 = placementAt(planes[0], *pos), s1 = placementAt(planes[1], *pos),
                        s2 = placementAt(planes[2], *pos);
        return qsrch_DcomputeContrastAndBrightnessFromStats3(
            s0.N, s0.Sp, s1.Sp, s2.Sp, s0.Spp, s1.Spp, s2.Spp, s0.Si, s1.Si, s2.Si, s0.Sii, s1.Sii,
            s2.Sii, weights, contrastOut, brightnessOut);
    }
    const Placement s = placementAt(planes[0], *pos);
    return qsrch_DcomputeContrastAndBrightnessFromStats(s.N, s.Sp, s.Spp, s.Si, s.Sii, contrastOut,
                                                        brightnessOut);
}

qsrch_status qsrch_clearNeighboursOutsideEndpoints(const qstd_vector_qstd_pair32* endpoints,
                                                   uint32_t endpointsFlag, int32_t x, int32_t y,
                                                   uint32_t valid[9])
{
    if (endpoints == nullptr || endpointsFlag != 1) return QSRCH_OK;
    const qstd_pair32* pairs = nullptr;
    uint32_t count = 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qstd_pair32_getBeginSizeConst(endpoints, &pairs, &count));

    qstd_pair32 run;
    if (y - 1 < 0)
        valid[0] = valid[1] = valid[2] = 0;
    else if (runOf(pairs, count, y - 1, &run))
        clearOutsideRun(run, x, &valid[0], &valid[1], &valid[2]);
    else
        valid[0] = valid[1] = valid[2] = 0;

    if (runOf(pairs, count, y + 1, &run))
        clearOutsideRun(run, x, &valid[6], &valid[7], &valid[8]);
    else
        valid[6] = valid[7] = valid[8] = 0;

    // A row the list does not reach has no run, so no neighbours either.
    if (!runOf(pairs, count, y, &run)) {
        valid[3] = valid[5] = 0;
        return QSRCH_OK;
    }
    if (x <= run.first) valid[3] = 0;
    if (run.second <= x + 1) valid[5] = 0;
    return QSRCH_OK;
}

qsrch_status qsrch_shapeScore(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                              const qimg_windowConst* image, const qimg_windowConst* runtimeMask,
                              uint8_t threshold, double* score)
{
    // H counts the cared-for pixels by image value, F the foreground ones.
    uint32_t H[256], F[256];
    QSRCH_RETURN_IF_ERROR(qsys_memory_fill(0, sizeof H, H));
    QSRCH_RETURN_IF_ERROR(qsys_memory_fill(0, sizeof F, F));

    const bool patternMasked = present(patternMask), runtimeMasked = present(runtimeMask);
    uint64_t N = 0, Nf = 0;
    for (int32_t j = 0; j < pattern->height; ++j) {
        const uint8_t* p = qsrch::rowOf(*pattern, j);
        const uint8_t* v = qsrch::rowOf(*image, j);
        const uint8_t* pm = patternMasked ? qsrch::rowOf(*patternMask, j) : nullptr;
        const uint8_t* rm = runtimeMasked ? qsrch::rowOf(*runtimeMask, j) : nullptr;
        for (int32_t i = 0; i < pattern->width; ++i) {
            if ((pm != nullptr && pm[i] == 0) || (rm != nullptr && rm[i] == 0)) continue;
            ++N;
            ++H[v[i]];
            if (p[i] >= threshold) {
                ++Nf;
                ++F[v[i]];
            }
        }
    }

    // Cut the image at every level t from 255 down to 1: A pixels reach t,
    // B of them foreground.
    const double n = static_cast<double>(N), nf = static_cast<double>(Nf);
    uint64_t atLeast = 0, foregroundAtLeast = 0;
    for (int t = 255; t >= 1; --t) {
        atLeast += H[t];
        foregroundAtLeast += F[t];
        const double A = static_cast<double>(atLeast), B = static_cast<double>(foregroundAtLeast);
        const double cov = n * B - nf * A;
        if (!(cov >= 0)) continue;
        const double den = (n * A - A * A) * (nf * (n - nf));
        const double s = den != 0 ? cov * cov / den : 0.0;
        if (s > *score) *score = s;
    }
    return QSRCH_OK;
}

qsrch_status qsrch_refineOnePeak(const qsrch_normalizedCorrelationParams* params,
                                 const double* weights, uint32_t planeCount,
                                 const qsrch_peakPlanes* planes, const qstd_rect32* positions,
                                 const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsFlag,
                                 const qsrch_shapeViews* shape, qsrch_detectedPosePeak* peak)
{
    CallFrame<1> frame;
    const qstd_pair32 detectedAt = peak->integerPosition;
    const qstd_pair32 pos{detectedAt.first - positions->x, detectedAt.second - positions->y};

    double score = 0;
    QSRCH_RETURN_IF_ERROR(
        frame.track(qsrch_scoreAt(params, weights, planeCount, planes, &pos, &score, &peak->careCount)));
    peak->score = score;
    // No correlation to fit: the detector's position stands.
    if (score == 0.0) {
        return frame.finish(qsrch_contrastBrightnessAt(weights, planeCount, planes, &pos, &peak->contrast,
                                                       &peak->brightness));
    }

    qmath_peakDetectParabolicFitParams fitParams;
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_peakDetectParabolicFitParams_construct(&fitParams)));
    frame.release<qmath_peakDetectParabolicFitParams_destruct>(0, &fitParams);
    double values[9] = {};
    uint32_t valid[9] = {};
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_peakDetectParabolicFitSetupArraysUsingBounds(
        &fitParams, &detectedAt, positions, peak->flags & kEdgeFlags, values, valid)));
    if (endpoints != nullptr && endpointsFlag == 1)
        QSRCH_RETURN_IF_ERROR(frame.track(
            qsrch_clearNeighboursOutsideEndpoints(endpoints, endpointsFlag, pos.first, pos.second, valid)));
    QSRCH_RETURN_IF_ERROR(frame.track(neighbourScores(params, weights, planeCount, planes, pos, valid, values)));
    values[fitIndex(0, 0)] = score;

    qmath_vect offset;
    qstd_pair32 step;
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_vect_init(&offset, 0, 0)));
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_pair32_init(&step, 0, 0)));
    QSRCH_RETURN_IF_ERROR(
        frame.track(qmath_peakDetectParabolicFit(values, valid, &fitParams, &offset, &step, nullptr)));

    // The score stays the one at the detected position.
    peak->integerPosition = qstd_pair32{detectedAt.first + step.first, detectedAt.second + step.second};
    peak->pose.trans.x = detectedAt.first + offset.x;
    peak->pose.trans.y = detectedAt.second + offset.y;
    const qstd_pair32 moved{peak->integerPosition.first - positions->x,
                            peak->integerPosition.second - positions->y};
    QSRCH_RETURN_IF_ERROR(frame.track(
        qsrch_contrastBrightnessAt(weights, planeCount, planes, &moved, &peak->contrast, &peak->brightness)));

    if (params->shapeScoreOptimization == 0 || shape == nullptr) return frame.finish();
    return frame.finish(shapeScoreAt(*shape, moved, params->shapeThreshold, &peak->score));
}

qsrch_status qsrch_refineDetectedPeaks(const qsrch_normalizedCorrelationParams* params,
                                       const double* weights, uint32_t planeCount,
                                       const qsrch_peakPlanes* planes,
                                       const qstd_rect32* positions,
                                       const qstd_vector_qstd_pair32* endpoints,
                                       uint32_t endpointsFlag, const qsrch_shapeViews* shape,
                                       const qstd_vector_* detected,
                                       qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    const qip_detectedPeak* found = nullptr;
    uint32_t count = 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qip_detectedPeak_getBeginSizeConst(detected, &found, &count));
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_detectedPosePeak_resize(peaksOut, count));
    if (count == 0) return QSRCH_OK;
    qsrch_detectedPosePeak* out = nullptr;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_detectedPosePeak_getBegin(peaksOut, &out));

    for (uint32_t k = 0; k < count; ++k) {
        qsrch_detectedPosePeak& peak = out[k];
        QSRCH_RETURN_IF_ERROR(qsrch::recordOfDetected(found[k], &peak));
        QSRCH_RETURN_IF_ERROR(qsrch_refineOnePeak(params, weights, planeCount, planes, positions, endpoints,
                                                  endpointsFlag, shape, &peak));
    }
    return QSRCH_OK;
}

qsrch_status qsrch_refinePeaks(const qimg_windowConst* pattern,
                               const qimg_windowConst* patternMask,
                               const qimg_windowConst* image, const qimg_windowConst* runtimeMask,
                               const qstd_rect32* positions,
                               const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsFlag,
                               const qsrch_normalizedCorrelationParams* params,
                               const qsrch_peakPlanes* planes, const qstd_vector_* detected,
                               qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    const qsrch_shapeViews shape{pattern, patternMask, image, runtimeMask};
    return qsrch_refineDetectedPeaks(params, nullptr, 1, planes, positions, endpoints, endpointsFlag,
                                     &shape, detected, peaksOut);
}

QSRCH_API qsrch_status qsrch_computeShapeScoreOptimizationForImage(
    const qimg_imageConst* pattern, const qimg_imageConst* patternMask,
    const qimg_imageConst* image, const qimg_imageConst* runtimeMask, uint8_t shapeThreshold,
    double* scoreInOut)
{
    qimg_windowConst patternView, imageView, patternMaskView, runtimeMaskView;
    QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&patternView, pattern));
    if (patternMask != nullptr) QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&patternMaskView, patternMask));
    QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&imageView, image));
    if (runtimeMask != nullptr) QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&runtimeMaskView, runtimeMask));
    return qsrch_shapeScore(&patternView, patternMask != nullptr ? &patternMaskView : nullptr,
                            &imageView, runtimeMask != nullptr ? &runtimeMaskView : nullptr,
                            shapeThreshold, scoreInOut);
}

}  // extern "C"

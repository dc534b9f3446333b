// The operations of the coarse-to-fine search on single pyramid levels:
// scoring a whole level (or the search region's part of it), re-detecting
// one candidate in a small neighbourhood of a finer level, the threshold of
// a level and the contrast and brightness filter.
//
// Every peak computation pairs pattern level l with source level l, uses the
// pattern statistics stored with the level (sums of squares narrowed to
// single precision, as the level record's consumers have always seen them)
// and polls for attention first, whatever the number of positions.
#include <cmath>
#include <cstdint>
#include <limits>

#include <qsrch/three_plane.h>

#include "frame/call_frame.hpp"
#include "run/run_internal.hpp"
#include "scoring/peaks_internal.hpp"

namespace {

// The source level's views as one peak computation reads them; the
// refinement narrows a copy to its region.
struct SourceViews {
    qimg_windowConst plane[3];
    qimg_windowConst mask;
};

SourceViews viewsOf(const qsrch_normcorr_level_& level)
{
    return SourceViews{{level.planeWindow[0], level.planeWindow[1], level.planeWindow[2]}, level.maskWindow};
}

// Moves each view's first pixel to the rectangle's corner and gives it the
// rectangle's size; the rectangle lies inside the level, so nothing clips.
qsrch::Status narrowViews(SourceViews* views, const qstd_rect32& rect)
{
    for (qimg_windowConst& plane : views->plane) {
        QSRCH_RETURN_IF_ERROR(qimg_windowConst_windowRect(&plane, &rect, nullptr));
    }
    if (views->mask.firstPixel == nullptr) return QSRCH_OK;
    return qimg_windowConst_windowRect(&views->mask, &rect, nullptr);
}

bool isThreePlane(const qsrch_normcorr_level_& pattern) { return pattern.planeWindow[1].firstPixel != nullptr; }

// The peaks of the pattern level in the source views, restricted to `window`
// when it is given, into peaksOut. With `deferred`, a grey pattern's peaks
// are left unrefined there (see qsrch::searchCoarseLevelDeferred).
qsrch::Status computePeaks(const qsrch_normcorr_level_& pattern, const SourceViews& source,
                           const qstd_rect32* window, double threshold,
                           const qsrch_normcorr_runParams& params,
                           qstd_vector_qsrch_detectedPosePeak* peaksOut, qsrch::DeferredPeaks* deferred = nullptr)
{
    qsrch_normalizedCorrelationParams options;
    QSRCH_RETURN_IF_ERROR(qsrch::correlationOptions(params, &options));

    const qimg_windowConst* runtimeMask = source.mask.firstPixel != nullptr ? &source.mask : nullptr;
    double sumSq[3];
    for (int k = 0; k < 3; ++k) sumSq[k] = static_cast<float>(pattern.sumSq[k]);

    QSRCH_RETURN_IF_ERROR(qsys_attention_check());

    const qimg_windowConst* p = pattern.planeWindow;
    const qimg_windowConst* i = source.plane;
    if (deferred != nullptr && !isThreePlane(pattern)) {
        // The pattern statistics as the grey entries below pass them: the care
        // count too, except with a window.
        const uint32_t careCountToo = window == nullptr ? 1 : 0;
        const qsrch_givenPatternStats given{1, pattern.nCare, pattern.sum[0], sumSq[0], careCountToo,
                                            careCountToo * pattern.nCare};
        return qsrch::computeGreyPeaksDeferred(&p[0], &pattern.maskWindow, &i[0], runtimeMask, window, &options,
                                               given, threshold, deferred, peaksOut);
    }
    if (isThreePlane(pattern)) {
        if (window != nullptr)
            return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(
                &p[0], &p[1], &p[2], &pattern.maskWindow, &i[0], &i[1], &i[2], runtimeMask, pattern.nCare,
                pattern.sum[0], pattern.sum[1], pattern.sum[2], sumSq[0], sumSq[1], sumSq[2], window,
                threshold, &options, params.planeWeights, peaksOut);
        return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(
            &p[0], &p[1], &p[2], &pattern.maskWindow, &i[0], &i[1], &i[2], runtimeMask, pattern.nCare,
            pattern.sum[0], pattern.sum[1], pattern.sum[2], sumSq[0], sumSq[1], sumSq[2], threshold, &options,
            params.planeWeights, peaksOut);
    }
    if (window != nullptr)
        return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow(
            &p[0], &pattern.maskWindow, &i[0], runtimeMask, pattern.nCare, pattern.sum[0], sumSq[0], window,
            threshold, &options, peaksOut);
    return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats(
        &p[0], &pattern.maskWindow, &i[0], runtimeMask, pattern.nCare, pattern.sum[0], sumSq[0], threshold,
        &options, peaksOut);
}

// The part of source level `level` whose positions the search region covers,
// with one position to spare on every side and the pattern's extent added,
// clipped to the level.
qsrch::Status regionWindow(const qsrch_normcorr_model& model, const qsrch_normcorr_level_& pattern,
                           const qsrch_normcorr_level_& source, const qsrch_normcorr_level_& base,
                           const qsrch_normcorr_runParams& params, const qmath_xformLinear& clientFromImage,
                           int32_t granularity, qstd_rect32* windowOut)
{
    const qstd_rectD& region = params.searchRegion;
    const double g = granularity;
    qstd_rectD rect{region.x / g, region.y / g, region.width / g, region.height / g};

    // The region's frame carried into the level's pixels. Its translation is
    // taken against the pattern's client origin as seen in the image frame.
    qmath_xformLinear regionToLevel;
    QSRCH_RETURN_IF_ERROR(
        qmath_xformLinear_initCompose(&regionToLevel, &params.searchRegionXform, &model.clientFromPat));
    qmath_vect p;
    QSRCH_RETURN_IF_ERROR(qmath_matrix_mapPoint(&clientFromImage.matrix, &model.patFromClient.trans, &p));
    regionToLevel.trans.x = params.searchRegionXform.trans.x - p.x;
    regionToLevel.trans.y = params.searchRegionXform.trans.y - p.y;
    qmath_xformLinear imageFromClient;
    QSRCH_RETURN_IF_ERROR(qmath_xformLinear_getInverse(&clientFromImage, &imageFromClient));
    QSRCH_RETURN_IF_ERROR(qmath_xformLinear_initCompose(&regionToLevel, &imageFromClient, &regionToLevel));
    QSRCH_RETURN_IF_ERROR(
        qmath_xformLinear_initCompose(&regionToLevel, &regionToLevel, &source.baseFromLevel));
    QSRCH_RETURN_IF_ERROR(
        qmath_xformLinear_initCompose(&regionToLevel, &source.levelFromBase, &regionToLevel));

    // The base view's place in its image, in whole level pixels.
    rect.x += regionToLevel.trans.x - static_cast<double>(base.origin.first / granularity);
    rect.y += regionToLevel.trans.y - static_cast<double>(base.origin.second / granularity);

    qstd_rect32 positions;
    QSRCH_RETURN_IF_ERROR(qstd_rect32_initMinEnclosingRect(&positions, &rect));
    const qstd_rect32 oneAround{-1, -1, 3, 3};
    qstd_rect32 grown;
    QSRCH_RETURN_IF_ERROR(qstd_rect32_dilate(&positions, &oneAround, &grown));
    const qstd_rect32 patternExtent{0, 0, pattern.planeWindow[0].width, pattern.planeWindow[0].height};
    QSRCH_RETURN_IF_ERROR(qstd_rect32_dilate(&grown, &patternExtent, windowOut));
    const qstd_rect32 levelRect{0, 0, source.planeWindow[0].width, source.planeWindow[0].height};
    return qstd_rect32_intersect(windowOut, &levelRect);
}

// A candidate's position is taken at the nearest pixel, a position a hair
// below the middle between two pixels at the upper one.
constexpr double kRoundingNudge = 0.001;

int32_t nearestPixel(double position) { return qmath_double_round(position + kRoundingNudge); }

// The integer position a candidate is re-detected around on one axis, kept
// one position inside the level where the level leaves room for that.
int32_t refinementCentre(double position, int32_t levelSize, int32_t patternSize)
{
    int32_t centre = nearestPixel(position);
    if (centre <= 0 && levelSize > patternSize) centre = 1;
    if (int64_t{patternSize} + centre >= levelSize && centre != 0) centre = levelSize - patternSize - 1;
    return centre;
}

// The neighbourhood of one axis: positions centre - 1 ... centre + 1, one
// more on the side of a fractional offset beyond a quarter pixel.
void widenForOffset(double offset, int32_t* start, int32_t* extent)
{
    if (offset < -0.25) {
        *start -= 1;
        *extent += 1;
    }
    if (offset > 0.25) *extent += 1;
}

qsrch::Status rectsEqual(const qstd_rect32& a, const qstd_rect32& b, bool* equalOut)
{
    uint32_t equal = 0;
    qsrch_status s = qstd_rect32_compareEqual(&a, &b, &equal);
    *equalOut = equal != 0;
    return s;
}


// The peaks of the pattern level in the views, restricted to `window`;
// on the final level only those that pass the contrast and brightness limits.
qsrch::Status detectAtLevel(const qsrch_normcorr_level_& pattern, const SourceViews& source,
                            const qstd_rect32* window, double threshold, const qsrch_normcorr_runParams& params,
                            uint32_t isFinal, qstd_vector_qsrch_detectedPosePeak* peaksOut)
{
    QSRCH_RETURN_IF_ERROR(computePeaks(pattern, source, window, threshold, params, peaksOut));
    if (isFinal == 0) return QSRCH_OK;
    return qsrch_normcorr_filterContrastBrightness(peaksOut, params.contrastMin, params.contrastMax,
                                                   params.brightnessMin, params.brightnessMax);
}

// The level pixels a candidate is re-detected in: the positions around it
// (see refinementCentre and widenForOffset) with the pattern's extent,
// clipped to the level.
qsrch::Status refinementRegion(const qsrch_detectedPosePeak& candidate, const qsrch_normcorr_level_& patternLevel,
                               const qsrch_normcorr_level_& sourceLevel, const qstd_rect32& levelRect,
                               qstd_rect32* regionOut)
{
    const int32_t pw = patternLevel.planeWindow[0].width, ph = patternLevel.planeWindow[0].height;
    const double x = candidate.pose.trans.x, y = candidate.pose.trans.y;
    const int32_t ix = refinementCentre(x, sourceLevel.planeWindow[0].width, pw);
    const int32_t iy = refinementCentre(y, sourceLevel.planeWindow[0].height, ph);
    qstd_rect32 neighbourhood{-1, -1, pw + 2, ph + 2};
    widenForOffset(x - ix, &neighbourhood.x, &neighbourhood.width);
    widenForOffset(y - iy, &neighbourhood.y, &neighbourhood.height);
    const qstd_rect32 centre{ix, iy, 1, 1};
    QSRCH_RETURN_IF_ERROR(qstd_rect32_dilate(&centre, &neighbourhood, regionOut));
    return qstd_rect32_intersect(regionOut, &levelRect);
}

// What settling the peaks of one refinement region reads.
struct Redetection {
    const qsrch_normcorr_level_* patternLevel;
    const qsrch_normcorr_level_* sourceLevel;
    qstd_rect32 region;
    qstd_rect32 levelRect;
    double threshold;
    const qsrch_normcorr_runParams* params;
    uint32_t isFinal;
    qstd_vector_qsrch_detectedPosePeak* scratch;
};

// Moves a peak found in the region into level coordinates. A peak whose
// neighbours were all scored stands as detected; one on the region's
// border, with level pixels beyond it, is detected again at its own
// position with all its neighbours in view. keptOut is false when that
// finds nothing.
qsrch::Status settleInLevel(const Redetection& r, qsrch_detectedPosePeak* peak, bool* keptOut)
{
    const int32_t pw = r.patternLevel->planeWindow[0].width, ph = r.patternLevel->planeWindow[0].height;
    const int32_t px = nearestPixel(peak->pose.trans.x) + r.region.x;
    const int32_t py = nearestPixel(peak->pose.trans.y) + r.region.y;
    const qstd_rect32 around{px - 1, py - 1, pw + 2, ph + 2};
    qstd_rect32 inRegion = r.region, inLevel = r.levelRect;
    QSRCH_RETURN_IF_ERROR(qstd_rect32_intersect(&inRegion, &around));
    QSRCH_RETURN_IF_ERROR(qstd_rect32_intersect(&inLevel, &around));
    bool inside = false;
    QSRCH_RETURN_IF_ERROR(rectsEqual(inRegion, inLevel, &inside));
    *keptOut = true;
    if (inside) {
        peak->pose.trans.x += r.region.x;
        peak->pose.trans.y += r.region.y;
        return QSRCH_OK;
    }

    SourceViews views = viewsOf(*r.sourceLevel);
    QSRCH_RETURN_IF_ERROR(narrowViews(&views, inLevel));
    const qstd_rect32 single{px - inLevel.x, py - inLevel.y, pw, ph};
    QSRCH_RETURN_IF_ERROR(
        detectAtLevel(*r.patternLevel, views, &single, r.threshold, *r.params, r.isFinal, r.scratch));
    const qsrch_detectedPosePeak* again = nullptr;
    uint32_t found = 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_detectedPosePeak_getBeginSize32Const(r.scratch, &again, &found));
    if (found == 0) {
        *keptOut = false;
        return QSRCH_OK;
    }
    *peak = again[0];
    peak->pose.trans.x += inLevel.x;
    peak->pose.trans.y += inLevel.y;
    return QSRCH_OK;
}
}  // namespace

extern "C" {

float qsrch_normcorr_levelThreshold(float granularity, float coarseGranularity, int32_t fineGranularity,
                                    uint32_t shapeScoreOptimization, float threshold)
{
    const double lg = std::log(static_cast<double>(granularity));
    const double lc = std::log(static_cast<double>(coarseGranularity));
    const double lf = std::log(static_cast<double>(fineGranularity));
    if (lf == lc) return threshold;
    const double f = (lg - lc) / (lf - lc);
    // The shape score can raise scores, so candidates are let through lower.
    const double shapeAllowance = shapeScoreOptimization != 0 ? qsrch::kShapeScoreAllowance : 1.0;
    return static_cast<float>((0.5 * f + 0.5) * shapeAllowance * threshold);
}

qsrch_status qsrch_normcorr_filterContrastBrightness(qstd_vector_qsrch_detectedPosePeak* candidates,
                                                     double contrastMin, double contrastMax,
                                                     double brightnessMin, double brightnessMax)
{
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    if (contrastMin == 0.0 && contrastMax == kInfinity && brightnessMin == 0.0 && brightnessMax == kInfinity)
        return QSRCH_OK;
    qsrch_detectedPosePeak* first = nullptr;
    size_t count = 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_detectedPosePeak_getBeginSizeIntPtr(candidates, &first, &count));
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        const qsrch_detectedPosePeak& c = first[i];
        if (contrastMin <= c.contrast && c.contrast <= contrastMax && brightnessMin <= c.brightness &&
            c.brightness <= brightnessMax)
            first[kept++] = c;
    }
    return qstd_vector_qsrch_detectedPosePeak_resize(candidates, kept);
}

qsrch_status qsrch_normcorr_searchCoarseLevel(const qsrch_normcorr_model* model,
                                              const qstd_vector_qsrch_normcorr_level_* sourceLevels,
                                              const qsrch_normcorr_runParams* params,
                                              const qmath_xformLinear* clientFromImage, int32_t level,
                                              int32_t granularity,
                                              qstd_vector_qsrch_detectedPosePeak* candidatesOut)
{
    return qsrch::searchCoarseLevelDeferred(model, sourceLevels, params, clientFromImage, level, granularity,
                                            nullptr, candidatesOut);
}

}  // extern "C"

qsrch::Status qsrch::searchCoarseLevelDeferred(const qsrch_normcorr_model* model,
                                               const qstd_vector_qsrch_normcorr_level_* sourceLevels,
                                               const qsrch_normcorr_runParams* params,
                                               const qmath_xformLinear* clientFromImage, int32_t level,
                                               int32_t granularity, DeferredPeaks* deferred,
                                               qstd_vector_qsrch_detectedPosePeak* candidatesOut)
{
    const qsrch_normcorr_level_* pattern = nullptr;
    const qsrch_normcorr_level_* source = nullptr;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__getElementConst(&model->levels, level, &pattern));
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__getElementConst(sourceLevels, level, &source));

    const float threshold =
        params->adaptiveLevelThresholds != 0
            ? qsrch_normcorr_levelThreshold(static_cast<float>(granularity), model->trainParams.coarseGranularity,
                                            model->trainParams.fineGranularity, params->shapeScoreOptimization,
                                            params->acceptThreshold)
            : 0.5f * params->acceptThreshold;

    if (!qsrch::searchRegionPresent(params->searchRegion))
        return computePeaks(*pattern, viewsOf(*source), nullptr, threshold, *params, candidatesOut, deferred);

    const qsrch_normcorr_level_* base = nullptr;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__getElementConst(sourceLevels, 0, &base));
    qstd_rect32 window;
    QSRCH_RETURN_IF_ERROR(
        regionWindow(*model, *pattern, *source, *base, *params, *clientFromImage, granularity, &window));
    return computePeaks(*pattern, viewsOf(*source), &window, threshold, *params, candidatesOut, deferred);
}

extern "C" {

qsrch_status qsrch_normcorr_refineAtLevel(const qsrch_detectedPosePeak* candidate, const qstd_rect32* levelRect,
                                          const qsrch_normcorr_level_* patternLevel,
                                          const qsrch_normcorr_level_* sourceLevel, double threshold,
                                          const qsrch_normcorr_runParams* params, uint32_t isFinal,
                                          qstd_vector_qsrch_detectedPosePeak* candidatesOut)
{
    qstd_rect32 region;
    QSRCH_RETURN_IF_ERROR(refinementRegion(*candidate, *patternLevel, *sourceLevel, *levelRect, &region));
    SourceViews views = viewsOf(*sourceLevel);
    QSRCH_RETURN_IF_ERROR(narrowViews(&views, region));
    const qstd_rect32 wholeRegion{0, 0, region.width, region.height};
    QSRCH_RETURN_IF_ERROR(
        detectAtLevel(*patternLevel, views, &wholeRegion, threshold, *params, isFinal, candidatesOut));

    qsrch::CallFrame<1> frame;
    qstd_vector_qsrch_detectedPosePeak redetected;
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qsrch_detectedPosePeak_constructEmpty(&redetected)));
    frame.release<qstd_vector_qsrch_detectedPosePeak_destruct>(0, &redetected);
    const Redetection again{patternLevel, sourceLevel, region, *levelRect, threshold, params, isFinal, &redetected};

    uint32_t count = 0;
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qsrch_detectedPosePeak_getSize32(candidatesOut, &count)));
    for (uint32_t i = 0; i < count;) {
        qsrch_detectedPosePeak* peak = nullptr;
        QSRCH_RETURN_IF_ERROR(
            frame.track(qstd_vector_qsrch_detectedPosePeak_getElement(candidatesOut, i, &peak)));
        bool kept = false;
        QSRCH_RETURN_IF_ERROR(frame.track(settleInLevel(again, peak, &kept)));
        if (kept) {
            ++i;
            continue;
        }
        QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qsrch_detectedPosePeak_eraseElement(candidatesOut, i)));
        --count;
    }
    return frame.finish();
}

}  // extern "C"

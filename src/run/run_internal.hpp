// Operations of the coarse-to-fine search on single pyramid levels, used
// by the search itself.
#pragma once

#include <limits>

#include <qsrch/peaks.h>
#include <qsrch/pyramid.h>
#include <qsrch/run.h>

#include "frame/status.hpp"

extern "C" {

// The peaks of pattern level `level` in source level `level` (inside the
// search region when the parameters give one), in the peak functions' order
// and in the level's pixel coordinates. granularity is the level's integer
// scale against level 0 (2^level when every reduction halves).
[[nodiscard]] qsrch_status qsrch_normcorr_searchCoarseLevel(
    const qsrch_normcorr_model* model, const qstd_vector_qsrch_normcorr_level_* sourceLevels,
    const qsrch_normcorr_runParams* params, const qmath_xformLinear* clientFromImage, int32_t level,
    int32_t granularity, qstd_vector_qsrch_detectedPosePeak* candidatesOut);

// Re-detects one candidate (in the level's coordinates) in a small
// neighbourhood of positions on a finer level: the peaks found there, in
// level coordinates, each confirmed with all its neighbours in view.
// levelRect is (0, 0, width, height) of the source level; isFinal applies the
// contrast and brightness limits of the parameters.
[[nodiscard]] qsrch_status qsrch_normcorr_refineAtLevel(
    const qsrch_detectedPosePeak* candidate, const qstd_rect32* levelRect,
    const qsrch_normcorr_level_* patternLevel, const qsrch_normcorr_level_* sourceLevel, double threshold,
    const qsrch_normcorr_runParams* params, uint32_t isFinal,
    qstd_vector_qsrch_detectedPosePeak* candidatesOut);

// The threshold of a level between the coarse and the fine granularity.
float qsrch_normcorr_levelThreshold(float granularity, float coarseGranularity,
                                    int32_t fineGranularity, uint32_t shapeScoreOptimization,
                                    float threshold);

// Drops, in place, the candidates whose contrast or brightness lies outside
// the limits.
[[nodiscard]] qsrch_status qsrch_normcorr_filterContrastBrightness(
    qstd_vector_qsrch_detectedPosePeak* candidates, double contrastMin, double contrastMax,
    double brightnessMin, double brightnessMax);

}  // extern "C"

namespace qsrch {

class DeferredPeaks;

// qsrch_normcorr_searchCoarseLevel, but for a grey pattern the candidates
// are the detector's records, unrefined, and `deferred` keeps what refining
// them one at a time needs (deferred->active tells which was done).
[[nodiscard]] Status searchCoarseLevelDeferred(const qsrch_normcorr_model* model,
                                               const qstd_vector_qsrch_normcorr_level_* sourceLevels,
                                               const qsrch_normcorr_runParams* params,
                                               const qmath_xformLinear* clientFromImage, int32_t level,
                                               int32_t granularity, DeferredPeaks* deferred,
                                               qstd_vector_qsrch_detectedPosePeak* candidatesOut);

// Where the shape score may raise scores, the thresholds that let
// candidates through stand a quarter lower.
constexpr double kShapeScoreAllowance = 0.75;

// Present when both sides are non-zero and neither is +infinity.
inline bool searchRegionPresent(const qstd_rectD& region)
{
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    return region.width != 0.0 && region.height != 0.0 && region.width != kInfinity && region.height != kInfinity;
}

// The correlation options every peak computation of a run uses.
inline Status correlationOptions(const qsrch_normcorr_runParams& run, qsrch_normalizedCorrelationParams* out)
{
    qsrch_status s = qsrch_normalizedCorrelationParams_init(out);
    out->absoluteCorrelation = run.absoluteCorrelation;
    out->shapeScoreOptimization = run.shapeScoreOptimization;
    out->shapeThreshold = run.shapeThreshold;
    return s;
}

}  // namespace qsrch

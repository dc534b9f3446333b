// Granularity selection by trial, above the search it runs: the steps the
// exported selection functions share with their tests. Training reaches the
// selection through the public header (qsrch/pyramid.h) only.
#pragma once

#include <cstdint>

#include <qsrch/pyramid.h>

extern "C" {

// 1 for x below 2, otherwise the largest power of two not above x.
int32_t qsrch_largestPowerOfTwoNotAbove(float x);

// The selection loop for three planes (the size from plane 0).
[[nodiscard]] qsrch_status qsrch_normcorr_computeGranularitiesMaskWindow3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1, const qimg_windowConst* pattern2,
    const qimg_windowConst* mask, float trialThreshold, uint32_t shapeScoreOptimization,
    uint8_t shapeThreshold, float* coarseOut, int32_t* fineOut);

// One trial of coarse granularity cg (fine: the refining model's fine
// granularity). *acceptedOut is 1 when every phase passed. A failed training
// rejects cg with status 0 (three planes: only the library's own refusals);
// other failures are returned.
[[nodiscard]] qsrch_status qsrch_normcorr_tryGranularities(const qimg_windowConst* pattern,
                                                           const qimg_windowConst* mask, float cg,
                                                           int32_t fine, float trialThreshold,
                                                           uint32_t shapeScoreOptimization,
                                                           uint8_t shapeThreshold, uint32_t* acceptedOut);
// The same on images reduced by two with cg / 2, for an even integer cg.
[[nodiscard]] qsrch_status qsrch_normcorr_tryGranularitiesHalf(const qimg_windowConst* pattern,
                                                               const qimg_windowConst* mask, float cg,
                                                               int32_t fine, float trialThreshold,
                                                               uint32_t shapeScoreOptimization,
                                                               uint8_t shapeThreshold, uint32_t* acceptedOut);
[[nodiscard]] qsrch_status qsrch_normcorr_tryGranularities3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1, const qimg_windowConst* pattern2,
    const qimg_windowConst* mask, float cg, int32_t fine, float trialThreshold,
    uint32_t shapeScoreOptimization, uint8_t shapeThreshold, uint32_t* acceptedOut);

}  // extern "C"

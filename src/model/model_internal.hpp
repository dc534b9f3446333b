// The training steps shared by the entry points, by granularity selection
// (which trains trial models on the pattern) and by the search (which reads
// the pattern levels).
#pragma once

#include <cstdint>

#include <qsrch/model.h>

extern "C" {

// The training body. A mask view whose pixel pointer is null means no mask.
// Any failure leaves the model to be untrained by the caller.
[[nodiscard]] qsrch_status qsrch_normcorr_model_trainInternal(qsrch_normcorr_model* model,
                                                              const qsrch_normcorr_trainParams* params,
                                                              const qimg_windowConst* pattern,
                                                              const qimg_windowConst* mask);
[[nodiscard]] qsrch_status qsrch_normcorr_model_trainInternal3(
    qsrch_normcorr_model* model, const qsrch_normcorr_trainParams* params, const qimg_windowConst* pattern0,
    const qimg_windowConst* pattern1, const qimg_windowConst* pattern2, const qimg_windowConst* mask);

// With a mask: the model keeps the caller's mask values in trainMask, the
// base level a two-valued copy. Without one: nothing.
[[nodiscard]] qsrch_status qsrch_normcorr_model_initTrainMask(qsrch_normcorr_model* model,
                                                              const qimg_windowConst* mask, int32_t width,
                                                              int32_t height, qsrch_normcorr_level_* base);

// Levels 1 and up from the base level already in model->levels, then the
// care count, sums and sums of squares of the first numLevels levels.
[[nodiscard]] qsrch_status qsrch_normcorr_model_buildLevels(qsrch_normcorr_model* model, int32_t width,
                                                            int32_t height, int32_t numLevels,
                                                            const qsrch_normcorr_trainParams* params,
                                                            const qimg_windowConst* pattern,
                                                            const qimg_windowConst* mask);

// Every plane of the level becomes its minimum with the level's mask, so the
// level's sums are sums over cared-for pixels.
[[nodiscard]] qsrch_status qsrch_normcorr_level__applyMask(qsrch_normcorr_level_* level);

// The coarse granularity for a pattern whose smaller side is m.
float qsrch_normcorr_defaultCoarseGranularity(int32_t m);

// The number of pattern levels, level 0 included, down to coarseGranularity.
int32_t qsrch_normcorr_countLevels(float coarseGranularity);

}  // extern "C"

// Pieces of the coarse-to-fine search shared between its files: the integer
// helpers, the single-position and single-level paths, and the bounded
// result list that refined candidates enter.
#pragma once

#include <cstdint>

#include <qsrch/peaks.h>
#include <qsrch/pyramid.h>
#include <qsrch/run.h>

#include "frame/status.hpp"

extern "C" {

// The number of halvings that bring g to 1 or below.
int32_t qsrch_normcorr_levelIndexForGranularity(double g);
// 2^n, and 1 for n below 1.
int32_t qsrch_normcorr_powerOfTwo(int32_t n);

// Sort order of candidates and results: higher scores first.
int qsrch_normcorr_comparePeakScores(const qsrch_detectedPosePeak* a, const qsrch_detectedPosePeak* b);
// Index of the first candidate of least score; -1 for an empty vector.
[[nodiscard]] qsrch_status qsrch_normcorr_findLowestScore(
    const qstd_vector_qsrch_detectedPosePeak* candidates, int32_t* indexOut);

// The score of a pattern level against a source level of exactly its size.
[[nodiscard]] qsrch_status qsrch_normcorr_scoreSinglePosition(const qsrch_normcorr_level_* sourceLevel0,
                                                              const qsrch_normcorr_level_* patternLevel0,
                                                              const qsrch_normcorr_runParams* params,
                                                              float* scoreOut);

// Every peak of level 0 that passes the level threshold and the contrast and
// brightness limits, reported unsorted.
[[nodiscard]] qsrch_status qsrch_normcorr_searchSingleLevel(
    const qsrch_normcorr_model* model, const qstd_vector_qsrch_normcorr_level_* sourceLevels,
    const qsrch_normcorr_runParams* params, const qmath_xformLinear* clientFromImage,
    qstd_vector_qsrch_normcorr_result* results);

// The run bodies behind the exported entry points, also used by the
// top-level search: build the source pyramid of the view (a mask view NULL
// or without pixels counts as no mask) and search it. The three-plane body
// is always given a NULL mask by the entry points.
[[nodiscard]] qsrch_status qsrch_normcorr_runWindowInternal(const qsrch_normcorr_model* model,
                                                            const qimg_windowConst* window,
                                                            const qimg_windowConst* maskWindow,
                                                            const qsrch_normcorr_runParams* params,
                                                            const qmath_xformLinear* imageFromClient,
                                                            qstd_vector_qsrch_normcorr_result* results);
[[nodiscard]] qsrch_status qsrch_normcorr_runWindowInternal3(
    const qsrch_normcorr_model* model, const qimg_windowConst* window1, const qimg_windowConst* window2,
    const qimg_windowConst* window3, const qimg_windowConst* maskWindow,
    const qsrch_normcorr_runParams* params, const qmath_xformLinear* imageFromClient,
    qstd_vector_qsrch_normcorr_result* results);

}  // extern "C"

namespace qsrch {

// A candidate or result position moved between a level's pixel frame and
// the base frame: pose = outer ∘ pose ∘ inner.
Status conjugatePose(qmath_xformLinear* pose, const qmath_xformLinear& outer, const qmath_xformLinear& inner);

// The results of one search: at most numToFind refined candidates in base
// level coordinates, near duplicates (and, with an overlap fraction below 1,
// overlapping placements) merged into the better one. The list keeps the
// index of its weakest result when known (-1 otherwise) and counts the
// results that reach the confusion threshold.
class ResultList {
public:
    ResultList(qstd_vector_qsrch_detectedPosePeak* list, const qsrch_normcorr_runParams& params,
               int32_t patternWidth, int32_t patternHeight);

    // Enough results are certain: the search may stop.
    bool settled() const { return certainCount_ >= numToFind_; }
    // The numToFind-th best score once the list is full (the list is then
    // sorted), otherwise -1.
    Status rankScore(float* scoreOut);
    Status insert(const qsrch_detectedPosePeak& candidate);

private:
    Status recomputeLowest();
    // The index of the result that candidate duplicates or overlaps, or -1.
    Status findMatch(const qsrch_detectedPosePeak& candidate, int32_t* matchOut) const;

    qstd_vector_qsrch_detectedPosePeak* list_;
    int32_t numToFind_;
    float confusionThreshold_;
    bool overlapTest_;
    double overlapLimit_;
    double patternWidth_, patternHeight_;
    int32_t lowest_ = -1;
    int32_t certainCount_ = 0;
};

// Sorts candidates with the score comparator (not stable).
void sortByScore(qstd_vector_qsrch_detectedPosePeak* candidates);

}  // namespace qsrch

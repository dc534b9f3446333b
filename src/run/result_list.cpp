// The bounded result list of the coarse-to-fine search. A refined candidate
// either improves on a result it duplicates (positions within one pixel in
// x and y) or overlaps, takes a free place, or replaces the weakest result;
// a result is only ever replaced by a better one, so the count of certain
// results (at or above the confusion threshold) never decreases.
#include <cmath>
#include <cstdlib>

#include "run/search_internal.hpp"
#include "frame/status.hpp"

namespace {

using Peak = qsrch_detectedPosePeak;

int compareForSort(const void* a, const void* b)
{
    return qsrch_normcorr_comparePeakScores(static_cast<const Peak*>(a), static_cast<const Peak*>(b));
}

}  // namespace

extern "C" {

int qsrch_normcorr_comparePeakScores(const qsrch_detectedPosePeak* a, const qsrch_detectedPosePeak* b)
{
    const double d = b->score - a->score;
    if (d > 0.0) return 1;
    if (d == 0.0) return 0;
    return -1;
}

qsrch_status qsrch_normcorr_findLowestScore(const qstd_vector_qsrch_detectedPosePeak* candidates,
                                            int32_t* indexOut)
{
    const Peak* begin = nullptr;
    uint32_t size = 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_detectedPosePeak_getBeginSizeConst(candidates, &begin, &size));
    int32_t lowest = size == 0 ? -1 : 0;
    for (uint32_t i = 1; i < size; ++i)
        if (begin[i].score < begin[lowest].score) lowest = static_cast<int32_t>(i);
    *indexOut = lowest;
    return QSRCH_OK;
}

}  // extern "C"

namespace qsrch {

void sortByScore(qstd_vector_qsrch_detectedPosePeak* candidates)
{
    if (candidates->size > 1) std::qsort(candidates->begin, candidates->size, sizeof(Peak), &compareForSort);
}

Status conjugatePose(qmath_xformLinear* pose, const qmath_xformLinear& outer, const qmath_xformLinear& inner)
{
    QSRCH_RETURN_IF_ERROR(qmath_xformLinear_initCompose(pose, &outer, pose));
    return qmath_xformLinear_initCompose(pose, pose, &inner);
}

ResultList::ResultList(qstd_vector_qsrch_detectedPosePeak* list, const qsrch_normcorr_runParams& params,
                       int32_t patternWidth, int32_t patternHeight)
    : list_(list),
      numToFind_(params.numToFind),
      confusionThreshold_(params.confusionThreshold),
      overlapTest_(params.overlapFraction < 1.0f),
      // Single precision throughout, as the fraction is given.
      overlapLimit_(static_cast<float>(static_cast<float>(patternWidth) * params.overlapFraction *
                                       static_cast<float>(patternHeight))),
      patternWidth_(patternWidth),
      patternHeight_(patternHeight)
{
}

Status ResultList::recomputeLowest() { return qsrch_normcorr_findLowestScore(list_, &lowest_); }

Status ResultList::rankScore(float* scoreOut)
{
    *scoreOut = -1.0f;
    if (list_->size < static_cast<size_t>(numToFind_)) return QSRCH_OK;
    sortByScore(list_);
    QSRCH_RETURN_IF_ERROR(recomputeLowest());
    *scoreOut = static_cast<float>(static_cast<const Peak*>(list_->begin)[numToFind_ - 1].score);
    return QSRCH_OK;
}

Status ResultList::findMatch(const Peak& candidate, int32_t* matchOut) const
{
    const Peak* results = static_cast<const Peak*>(list_->begin);
    const double x = candidate.pose.trans.x, y = candidate.pose.trans.y;
    int32_t best = -1;
    double bestDistance = 0.0;
    for (size_t i = 0; i < list_->size; ++i) {
        const double dx = std::fabs(results[i].pose.trans.x - x), dy = std::fabs(results[i].pose.trans.y - y);
        bool matches = dx <= 1.0 && dy <= 1.0;
        if (!matches && overlapTest_) {
            qstd_rectD common{x, y, patternWidth_, patternHeight_};
            const qstd_rectD other{results[i].pose.trans.x, results[i].pose.trans.y, patternWidth_,
                                   patternHeight_};
            QSRCH_RETURN_IF_ERROR(qstd_rectD_intersect(&common, &other));
            matches = common.width * common.height > overlapLimit_;
        }
        const double distance = dx * dx + dy * dy;
        if (matches && (best < 0 || distance < bestDistance)) {
            best = static_cast<int32_t>(i);
            bestDistance = distance;
        }
    }
    *matchOut = best;
    return QSRCH_OK;
}

Status ResultList::insert(const Peak& candidate)
{
    if (lowest_ == -1 && list_->size != 0) QSRCH_RETURN_IF_ERROR(recomputeLowest());
    const double score = candidate.score;
    if (score == 0.0) return QSRCH_OK;
    const bool full = list_->size >= static_cast<size_t>(numToFind_);
    if (full && !(score > static_cast<const Peak*>(list_->begin)[lowest_].score)) return QSRCH_OK;

    int32_t match = -1;
    QSRCH_RETURN_IF_ERROR(findMatch(candidate, &match));
    if (match >= 0) {
        Peak& matched = static_cast<Peak*>(list_->begin)[match];
        if (matched.score >= score) return QSRCH_OK;
        if (score >= confusionThreshold_ && matched.score < confusionThreshold_) ++certainCount_;
        matched = candidate;
        if (match == lowest_) lowest_ = -1;
        return QSRCH_OK;
    }

    if (!full) {
        const size_t position = list_->size;
        const double lowestScore = lowest_ >= 0 ? static_cast<const Peak*>(list_->begin)[lowest_].score : 0.0;
        QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_detectedPosePeak_pushBack(list_, &candidate));
        if (score >= confusionThreshold_) ++certainCount_;
        if (position == 0)
            lowest_ = 0;
        else if (lowest_ >= 0 && score < lowestScore)
            lowest_ = static_cast<int32_t>(position);
        return QSRCH_OK;
    }

    if (lowest_ == -1) QSRCH_RETURN_IF_ERROR(recomputeLowest());
    Peak& weakest = static_cast<Peak*>(list_->begin)[lowest_];
    if (score >= confusionThreshold_ && weakest.score < confusionThreshold_) ++certainCount_;
    weakest = candidate;
    lowest_ = -1;
    return QSRCH_OK;
}

}  // namespace qsrch

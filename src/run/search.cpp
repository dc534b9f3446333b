// The coarse-to-fine search. Only the start level is scored at every
// position; each candidate found there is followed down the pyramid and
// re-detected in a few positions around it on every finer level until the
// level of the fine granularity. Positions travel between levels in base
// level (level 0) pixel coordinates, as the translation of an identity
// pose, and are mapped to the client's coordinates only at the end.
#include <algorithm>

#include <qsrch/scoring.h>
#include <qsrch/three_plane.h>

#include "frame/call_frame.hpp"
#include "run/run_internal.hpp"
#include "run/search_internal.hpp"
#include "scoring/peaks_internal.hpp"

namespace {

using Peak = qsrch_detectedPosePeak;
using PeakVector = qstd_vector_qsrch_detectedPosePeak;
using LevelVector = qstd_vector_qsrch_normcorr_level_;

// A pose in base-level pixels of the source view becomes a pose from the
// model's client coordinates to the search image's client coordinates.
qsrch::Status poseToClient(qmath_xformLinear* pose, const qsrch_normcorr_model& model,
                           const qsrch_normcorr_level_& sourceBase, const qmath_xformLinear& clientFromImage)
{
    // Pattern pixels are counted from the training view, patFromClient
    // reaches the pixels of its whole image.
    pose->trans.x -= model.trainImage.x;
    pose->trans.y -= model.trainImage.y;
    QSRCH_RETURN_IF_ERROR(qmath_xformLinear_initCompose(pose, pose, &model.patFromClient));
    pose->trans.x += sourceBase.origin.first;
    pose->trans.y += sourceBase.origin.second;
    return qmath_xformLinear_initCompose(pose, &clientFromImage, pose);
}

// Writes the peaks (already in client coordinates) to the caller's vector.
qsrch::Status writeResults(const PeakVector& peaks, float acceptThreshold,
                           qstd_vector_qsrch_normcorr_result* results)
{
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_result_resize(results, peaks.size));
    qsrch_normcorr_result* out = static_cast<qsrch_normcorr_result*>(results->begin);
    const Peak* in = static_cast<const Peak*>(peaks.begin);
    for (size_t i = 0; i < peaks.size; ++i) {
        out[i].accepted = in[i].score >= acceptThreshold ? 1 : 0;
        out[i].pose = in[i].pose;
        out[i].score = static_cast<float>(in[i].score);
        out[i].flags = in[i].flags;
        out[i].contrast = in[i].contrast;
        out[i].brightness = in[i].brightness;
    }
    return QSRCH_OK;
}

qsrch::Status mapToClient(PeakVector* peaks, const qsrch_normcorr_model& model,
                          const qsrch_normcorr_level_& sourceBase, const qmath_xformLinear& clientFromImage)
{
    Peak* p = static_cast<Peak*>(peaks->begin);
    for (size_t i = 0; i < peaks->size; ++i) {
        QSRCH_RETURN_IF_ERROR(poseToClient(&p[i].pose, model, sourceBase, clientFromImage));
    }
    return QSRCH_OK;
}

// What the refinement loop reads, fixed for one search.
struct Refinement {
    const qsrch_normcorr_model* model;
    const qsrch_normcorr_level_* patternLevels;
    const qsrch_normcorr_level_* sourceLevels;
    const qsrch_normcorr_runParams* params;
    PeakVector* queue;
    PeakVector* found;  // peaks of one refinement step
    qsrch::ResultList* results;
    // The start level's candidates, the queue's first startCount entries,
    // wait unrefined until their turn comes: the list usually settles after
    // the first few.
    const qsrch::DeferredPeaks* startPeaks;
    size_t startCount;
    const qsrch_normcorr_level_* startSource;
};

// Follows one candidate down to the fine granularity. A candidate that
// splits into several peaks on a level queues the others and is itself
// re-detected once more around its new position on that level. keptOut is
// false when no peak is left to follow.
qsrch::Status refineCandidate(const Refinement& r, Peak* candidate, bool* keptOut)
{
    *keptOut = false;
    const qsrch_normcorr_runParams& params = *r.params;
    const qsrch_normcorr_trainParams& train = r.model->trainParams;
    // A level index below 0 only arises from a model without a valid fine
    // granularity; stopping there keeps the loop finite.
    while (candidate->searchGranularity >= train.fineGranularity && candidate->searchLevel >= 0) {
        const int32_t l = candidate->searchLevel;
        const qsrch_normcorr_level_& source = r.sourceLevels[l];
        const qstd_rect32 levelRect{0, 0, source.planeWindow[0].width, source.planeWindow[0].height};
        Peak local = *candidate;
        QSRCH_RETURN_IF_ERROR(qsrch::conjugatePose(&local.pose, source.levelFromBase, source.baseFromLevel));

        float rank = -1.0f, threshold = 0.0f;
        QSRCH_RETURN_IF_ERROR(r.results->rankScore(&rank));
        if (params.adaptiveLevelThresholds)
            threshold = qsrch_normcorr_levelThreshold(
                static_cast<float>(candidate->searchGranularity), train.coarseGranularity,
                train.fineGranularity, params.shapeScoreOptimization, std::max(rank, params.acceptThreshold));
        const uint32_t isFinal = candidate->searchGranularity == train.fineGranularity ? 1 : 0;
        QSRCH_RETURN_IF_ERROR(qsrch_normcorr_refineAtLevel(&local, &levelRect, &r.patternLevels[l], &source,
                                                           threshold, &params, isFinal, r.found));
        const size_t count = r.found->size;
        if (count == 0) return QSRCH_OK;

        const bool splits = count > 1 && candidate->searchSplit == 0;
        for (size_t i = 1; splits && i < count; ++i) {
            Peak other = static_cast<const Peak*>(r.found->begin)[i];
            other.searchGranularity = candidate->searchGranularity;
            other.searchLevel = candidate->searchLevel;
            other.searchSplit = 1;
            QSRCH_RETURN_IF_ERROR(
                qsrch::conjugatePose(&other.pose, source.baseFromLevel, source.levelFromBase));
            QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_detectedPosePeak_pushBack(r.queue, &other));
        }
        Peak first = static_cast<const Peak*>(r.found->begin)[0];
        QSRCH_RETURN_IF_ERROR(qsrch::conjugatePose(&first.pose, source.baseFromLevel, source.levelFromBase));
        first.searchGranularity = candidate->searchGranularity;
        first.searchLevel = candidate->searchLevel;
        first.searchSplit = candidate->searchSplit;
        *candidate = first;
        if (splits) {
            candidate->searchSplit = 1;
            continue;
        }
        if (count == 1) candidate->searchSplit = 0;
        candidate->searchGranularity >>= 1;
        candidate->searchLevel -= 1;
    }
    *keptOut = true;
    return QSRCH_OK;
}

// The start level: the coarsest level both pyramids have, unless the search
// region is too small for it.
qsrch::Status startLevel(const qsrch_normcorr_model& model, const qstd_vector_qsrch_normcorr_level_* sourceLevels,
                         const qsrch_normcorr_runParams& params, int32_t xRange, int32_t yRange,
                         int32_t* levelOut, int32_t* granularityOut)
{
    uint32_t patternCount = 0, sourceCount = 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__getSize32(&model.levels, &patternCount));
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__getSize32(sourceLevels, &sourceCount));
    const auto* patternLevels = static_cast<const qsrch_normcorr_level_*>(model.levels.begin);
    int32_t level = qsrch_normcorr_levelIndexForGranularity(model.trainParams.fineGranularity);
    int32_t g = qsrch_normcorr_powerOfTwo(level);
    while (level < static_cast<int32_t>(patternCount) - 1) {
        if (level >= static_cast<int32_t>(sourceCount) - 1) break;
        if (params.limitLevelsToRegion && (int64_t{3} * g >= xRange || int64_t{3} * g >= yRange)) break;
        ++level;
        g = qmath_double_round(static_cast<float>(static_cast<float>(g) * patternLevels[level].factor));
    }
    *levelOut = level;
    *granularityOut = g;
    return QSRCH_OK;
}


// The one result of an image exactly the pattern's size: the identity pose
// and the score of that placement.
qsrch::Status scoreOnlyPosition(const qsrch_normcorr_level_& patternBase,
                                const qsrch_normcorr_level_& sourceBase,
                                const qsrch_normcorr_runParams& params,
                                qstd_vector_qsrch_normcorr_result* results)
{
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_result_resize(results, 1));
    qsrch_normcorr_result* only = static_cast<qsrch_normcorr_result*>(results->begin);
    QSRCH_RETURN_IF_ERROR(qmath_xformLinear_initIdentity(&only->pose));
    QSRCH_RETURN_IF_ERROR(qsrch_normcorr_result_init(only));
    return qsrch_normcorr_scoreSinglePosition(&sourceBase, &patternBase, &params, &only->score);
}

// A search region given with an identity client transform bounds how far
// the pattern can move, and with it the ranges the start level must fit.
qsrch::Status limitRangesToRegion(const qsrch_normcorr_runParams& params,
                                  const qmath_xformLinear& clientFromImage, int32_t* xRange, int32_t* yRange)
{
    const qstd_rectD& region = params.searchRegion;
    if (!qsrch::searchRegionPresent(region)) return QSRCH_OK;
    uint32_t identity = 0;
    QSRCH_RETURN_IF_ERROR(qmath_matrix_getIsIdentity(&clientFromImage.matrix, &identity));
    if (!identity) return QSRCH_OK;
    const int32_t r = qmath_double_round(region.width > region.height ? region.width : region.height);
    if (*xRange > r) *xRange = r;
    if (*yRange > r) *yRange = r;
    return QSRCH_OK;
}

// The candidates of the start level, in base-level pixels, each waiting
// for the next finer granularity; those of a grey pattern are left to be
// refined in their turn (deferred).
qsrch::Status seedQueue(const qsrch_normcorr_model* model, const LevelVector* sourceLevels,
                        const qsrch_normcorr_runParams* params, const qmath_xformLinear* clientFromImage,
                        int32_t start, int32_t g, qsrch::DeferredPeaks* deferred, PeakVector* queue)
{
    // The start level exists in both pyramids (a model whose fine granularity
    // lies beyond its levels is refused here rather than read past its end).
    const qsrch_normcorr_level_* startSource = nullptr;
    const qsrch_normcorr_level_* startPattern = nullptr;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__getElementConst(
        &model->levels, static_cast<size_t>(start), &startPattern));
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__getElementConst(
        sourceLevels, static_cast<size_t>(start), &startSource));
    QSRCH_RETURN_IF_ERROR(qsrch::searchCoarseLevelDeferred(model, sourceLevels, params, clientFromImage, start,
                                                           static_cast<float>(g), deferred, queue));
    Peak* coarse = static_cast<Peak*>(queue->begin);
    for (size_t i = 0; i < queue->size; ++i) {
        // A deferred candidate is carried to base-level pixels once refined.
        if (!deferred->active)
            QSRCH_RETURN_IF_ERROR(
                qsrch::conjugatePose(&coarse[i].pose, startSource->baseFromLevel, startSource->levelFromBase));
        coarse[i].searchGranularity = qsrch_normcorr_powerOfTwo(start) / 2;
        coarse[i].searchLevel = start - 1;
    }
    return QSRCH_OK;
}

// Follows the queued candidates, first in first out (candidates appended
// while refining wait their turn), until the result list is settled.
qsrch::Status refineQueue(const Refinement& refinement)
{
    for (size_t next = 0; next < refinement.queue->size && !refinement.results->settled(); ++next) {
        Peak candidate = static_cast<const Peak*>(refinement.queue->begin)[next];
        if (next < refinement.startCount) {
            const qsrch_normcorr_level_& source = *refinement.startSource;
            QSRCH_RETURN_IF_ERROR(refinement.startPeaks->refine(&candidate));
            QSRCH_RETURN_IF_ERROR(qsrch::conjugatePose(&candidate.pose, source.baseFromLevel, source.levelFromBase));
        }
        bool kept = false;
        QSRCH_RETURN_IF_ERROR(refineCandidate(refinement, &candidate, &kept));
        if (kept) QSRCH_RETURN_IF_ERROR(refinement.results->insert(candidate));
    }
    return QSRCH_OK;
}
}  // namespace

extern "C" {

int32_t qsrch_normcorr_levelIndexForGranularity(double g)
{
    // No finite double needs more halvings than this; infinity stops here too.
    int32_t n = 0;
    for (; g > 1.0 && n < 1100; g *= 0.5, ++n)
        if (g < 2.0) return n + 1;
    return n;
}

int32_t qsrch_normcorr_powerOfTwo(int32_t n)
{
    uint32_t p = 1;
    for (int32_t i = 0; i < n && i < 32; ++i) p *= 2u;
    return static_cast<int32_t>(p);
}

qsrch_status qsrch_normcorr_scoreSinglePosition(const qsrch_normcorr_level_* sourceLevel0,
                                                const qsrch_normcorr_level_* patternLevel0,
                                                const qsrch_normcorr_runParams* params, float* scoreOut)
{
    QSRCH_RETURN_IF_ERROR(qsys_attention_check());
    qsrch_normalizedCorrelationParams correlation;
    QSRCH_RETURN_IF_ERROR(qsrch::correlationOptions(*params, &correlation));
    double score = 0.0;
    const qimg_windowConst* pattern = patternLevel0->planeWindow;
    const qimg_windowConst* image = sourceLevel0->planeWindow;
    QSRCH_RETURN_IF_ERROR(
        pattern[1].firstPixel != nullptr
            ? qsrch_DcomputeNormalizedCorrelationSpace3(
                  &pattern[0], &pattern[1], &pattern[2], &patternLevel0->maskWindow, &image[0], &image[1],
                  &image[2], &correlation, params->planeWeights, &score, 1)
            : qsrch_DcomputeNormalizedCorrelationSpace(&pattern[0], &patternLevel0->maskWindow, &image[0],
                                                       &correlation, &score, 1));
    *scoreOut = static_cast<float>(score);
    return QSRCH_OK;
}

qsrch_status qsrch_normcorr_searchSingleLevel(const qsrch_normcorr_model* model,
                                              const qstd_vector_qsrch_normcorr_level_* sourceLevels,
                                              const qsrch_normcorr_runParams* params,
                                              const qmath_xformLinear* clientFromImage,
                                              qstd_vector_qsrch_normcorr_result* results)
{
    qsrch::CallFrame<1> frame;
    const qsrch_normcorr_level_* sourceBase = nullptr;
    QSRCH_RETURN_IF_ERROR(
        frame.track(qstd_vector_qsrch_normcorr_level__getElementConst(sourceLevels, 0, &sourceBase)));
    PeakVector candidates;
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qsrch_detectedPosePeak_constructEmpty(&candidates)));
    frame.release<qstd_vector_qsrch_detectedPosePeak_destruct>(0, &candidates);
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_searchCoarseLevel(
        model, sourceLevels, params, clientFromImage, 0, 1.0f, &candidates)));
    QSRCH_RETURN_IF_ERROR(frame.track(
        qsrch_normcorr_filterContrastBrightness(&candidates, params->contrastMin, params->contrastMax,
                                                params->brightnessMin, params->brightnessMax)));
    // Mapped before the caller's vector is touched, so a failure leaves it as it was.
    QSRCH_RETURN_IF_ERROR(frame.track(mapToClient(&candidates, *model, *sourceBase, *clientFromImage)));
    return frame.finish(writeResults(candidates, params->acceptThreshold, results));
}

qsrch_status qsrch_normcorr_runInternalLevels(const qsrch_normcorr_model* model,
                                              const qstd_vector_qsrch_normcorr_level_* sourceLevels,
                                              const qsrch_normcorr_runParams* params,
                                              const qmath_xformLinear* imageFromClient,
                                              qstd_vector_qsrch_normcorr_result* results)
{
    qsrch::CallFrame<3> frame;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_runParams_validate(params)));
    const qsrch_normcorr_level_* patternBase = nullptr;
    const qsrch_normcorr_level_* sourceBase = nullptr;
    QSRCH_RETURN_IF_ERROR(
        frame.track(qstd_vector_qsrch_normcorr_level__getElementConst(&model->levels, 0, &patternBase)));
    QSRCH_RETURN_IF_ERROR(
        frame.track(qstd_vector_qsrch_normcorr_level__getElementConst(sourceLevels, 0, &sourceBase)));
    const int32_t pw = patternBase->planeWindow[0].width, ph = patternBase->planeWindow[0].height;
    const int32_t sw = sourceBase->planeWindow[0].width, sh = sourceBase->planeWindow[0].height;

    // An image of exactly the pattern's size has one position: score it alone.
    if (params->singlePositionScoring && sw == pw && sh == ph)
        return frame.finish(scoreOnlyPosition(*patternBase, *sourceBase, *params, results));
    if ((!params->singlePositionScoring && (sw == pw || sh == ph)) || sw < pw || sh < ph)
        return frame.finish(QSRCH_E_IMAGE_TOO_SMALL);

    int32_t xRange = sw - pw, yRange = sh - ph;
    qmath_xformLinear clientFromImage;
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_xformLinear_getInverse(imageFromClient, &clientFromImage)));
    QSRCH_RETURN_IF_ERROR(frame.track(limitRangesToRegion(*params, clientFromImage, &xRange, &yRange)));

    int32_t start = 0, g = 1;
    QSRCH_RETURN_IF_ERROR(frame.track(startLevel(*model, sourceLevels, *params, xRange, yRange, &start, &g)));

    if (start == 0 && params->overlapFraction == 1.0f) {
        return frame.finish(
            qsrch_normcorr_searchSingleLevel(model, sourceLevels, params, &clientFromImage, results));
    }

    PeakVector queue, found, list;
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qsrch_detectedPosePeak_constructEmpty(&queue)));
    frame.release<qstd_vector_qsrch_detectedPosePeak_destruct>(0, &queue);
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qsrch_detectedPosePeak_constructEmpty(&list)));
    frame.release<qstd_vector_qsrch_detectedPosePeak_destruct>(1, &list);
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qsrch_detectedPosePeak_constructEmpty(&found)));
    frame.release<qstd_vector_qsrch_detectedPosePeak_destruct>(2, &found);
    qsrch::DeferredPeaks startPeaks;
    QSRCH_RETURN_IF_ERROR(
        frame.track(seedQueue(model, sourceLevels, params, &clientFromImage, start, g, &startPeaks, &queue)));

    qsrch::ResultList resultList(&list, *params, pw, ph);
    const Refinement refinement{model,       patternBase, sourceBase,
                                params,      &queue,      &found,
                                &resultList, &startPeaks, startPeaks.active ? queue.size : 0,
                                sourceBase + start};
    QSRCH_RETURN_IF_ERROR(frame.track(refineQueue(refinement)));

    QSRCH_RETURN_IF_ERROR(frame.track(mapToClient(&list, *model, *sourceBase, clientFromImage)));
    qsrch::sortByScore(&list);
    return frame.finish(writeResults(list, params->acceptThreshold, results));
}

}  // extern "C"

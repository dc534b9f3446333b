// Training: the pattern pyramid down to the coarse granularity, every level
// masked, and per level the care count and the per-plane sums and sums of
// squares that the correlation score needs. A level on which the pattern is
// uniform cannot be correlated: training then stops one level finer when it
// chose the granularity itself, and fails otherwise.
#include <algorithm>
#include <cmath>

#include <qsrch/kernels.h>

#include "frame/call_frame.hpp"
#include "frame/image_checks.hpp"
#include "model/model_internal.hpp"
#include "pyramid/pyramid_internal.hpp"

namespace {

// Pattern copies get the reduced levels' row layout, slack cleared.
qsrch::Status clearSlack(qimg_image* image)
{
    qimg_window view;
    QSRCH_RETURN_IF_ERROR(qimg_window_init(&view, image));
    return qsrch::clearRowSlack(view);
}

qsrch::Status constructPatternImage(qimg_image* image, int32_t width, int32_t height)
{
    return qimg_image_constructAligned(image, QIMG_DEPTH_8U, width, height, qsrch::levelRowStride(width));
}

// The band of surrounding pixels is read only where the pattern's image
// has two pixels on every side of the view; otherwise the first level is
// reduced from the pattern alone.
bool surroundInsideImage(const qimg_windowConst& pattern)
{
    int64_t column = 0, row = 0;
    return qsrch::placeInImage(pattern, &column, &row) && column >= 2 && row >= 2 &&
           column + pattern.width + 2 <= pattern.imageWidth && row + pattern.height + 2 <= pattern.imageHeight;
}

// Plane 0 of level, reduced by factor from the pattern grown by two pixels
// on every side, so its border pixels are smoothed with the real
// surroundings instead of a renormalised kernel.
qsrch::Status reduceWithSurround(qsrch_normcorr_level_* level, const qimg_windowConst& pattern, float factor)
{
    qsrch::CallFrame<3> frame;
    const int32_t grownWidth = pattern.width + 4, grownHeight = pattern.height + 4;
    qimg_image grown;
    QSRCH_RETURN_IF_ERROR(frame.track(constructPatternImage(&grown, grownWidth, grownHeight)));
    frame.release<qimg_image_destruct>(0, &grown);
    qimg_window grownView;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_window_init(&grownView, &grown)));
    grownView.x = pattern.x - 2;
    grownView.y = pattern.y - 2;

    qimg_windowConst source = pattern;
    source.width = grownWidth;
    source.height = grownHeight;
    source.x = pattern.x - 2;
    source.y = pattern.y - 2;
    source.firstPixel =
        static_cast<const uint8_t*>(pattern.firstPixel) - 2 * static_cast<ptrdiff_t>(pattern.rowStride) - 2;
    QSRCH_RETURN_IF_ERROR(frame.track(qip_pelCopyWindow8(&source, &grownView)));

    qsrch_normcorr_level_ from, reduced;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_level__construct(&from)));
    frame.release<qsrch_normcorr_level__destruct>(1, &from);
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_level__construct(&reduced)));
    frame.release<qsrch_normcorr_level__destruct>(2, &reduced);
    QSRCH_RETURN_IF_ERROR(
        frame.track(qimg_imageConst_assign(&from.planeImage[0], qimg_image_asConst(&grown))));
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_windowConst_init(&from.planeWindow[0], &from.planeImage[0])));
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_level__initReduced(&reduced, &from, 1, factor)));

    // The level's plane 0 is its own new image, so it is written in place;
    // the band's reduction is one pixel larger on every side.
    const qimg_windowConst& target = level->planeWindow[0];
    const qimg_windowConst& band = reduced.planeWindow[0];
    auto* out = static_cast<uint8_t*>(const_cast<void*>(target.firstPixel));
    const auto* in = static_cast<const uint8_t*>(band.firstPixel);
    for (int32_t y = 0; y < target.height; ++y)
        for (int32_t x = 0; x < target.width; ++x)
            out[static_cast<ptrdiff_t>(y) * target.rowStride + x] =
                in[static_cast<ptrdiff_t>(y + 1) * band.rowStride + x + 1];
    return frame.finish();
}

// Care count, sums and sums of squares of one level; uniform when the
// pattern has no variance there (every present plane constant over the
// cared-for pixels, or no cared-for pixel at all).
qsrch::Status levelStatistics(qsrch_normcorr_level_* level, bool masked, bool* uniform)
{
    level->nCare = static_cast<uint32_t>(level->planeWindow[0].width) *
                   static_cast<uint32_t>(level->planeWindow[0].height);
    if (masked) {
        QSRCH_RETURN_IF_ERROR(qsrch_normcorr_level__applyMask(level));
        uint32_t maskSum = 0;
        double maskSumSq = 0.0;
        QSRCH_RETURN_IF_ERROR(qsrch_DcomputeOneSumISumISq(&level->maskWindow, &maskSum, &maskSumSq));
        level->nCare = maskSum / 255;  // the level's mask is two-valued
    }
    QSRCH_RETURN_IF_ERROR(
        qsrch_DcomputeOneSumISumISq(&level->planeWindow[0], &level->sum[0], &level->sumSq[0]));
    if (level->planeWindow[1].firstPixel != nullptr) {
        for (int plane = 1; plane < 3; ++plane) {
            QSRCH_RETURN_IF_ERROR(qsrch_DcomputeOneSumISumISq(&level->planeWindow[plane], &level->sum[plane],
                                                              &level->sumSq[plane]));
        }
    }
    const double s0 = level->sum[0], s1 = level->sum[1], s2 = level->sum[2];
    const double squaredSums = s0 * s0 + s1 * s1 + s2 * s2;
    const double scaledSumSq = (level->sumSq[1] + level->sumSq[0] + level->sumSq[2]) * level->nCare;
    *uniform = qmath_double_epsilonEqual(squaredSums, scaledSumSq, 0.5) != 0;
    return QSRCH_OK;
}

// The granularities chosen for the caller: fine 1 and a coarse one from the
// pattern's size, or those of the trial that keeps the best score.
qsrch::Status selectGranularities(const qimg_windowConst& pattern, const qimg_windowConst* mask,
                                  qsrch_normcorr_trainParams* params)
{
    if (params->autoSelectByTrial == 0) {
        params->fineGranularity = 1;
        params->coarseGranularity = qsrch_normcorr_defaultCoarseGranularity(std::min(pattern.width, pattern.height));
        return QSRCH_OK;
    }
    return qsrch_normcorr_computeGranularitiesMaskWindow(&pattern, mask, params->trialThreshold, 0, 128,
                                                         &params->coarseGranularity, &params->fineGranularity);
}

// Copies the plane's pixels into `image` (made at the pattern's size) at the
// view's place, so the copy is the view's pixels whatever its origin, and
// makes planeImageOut share the copy.
qsrch::Status copyPlane(const qimg_windowConst& plane, qimg_image* image, qimg_imageConst* planeImageOut)
{
    qimg_window view;
    QSRCH_RETURN_IF_ERROR(qimg_window_init(&view, image));
    view.x = plane.x;
    view.y = plane.y;
    QSRCH_RETURN_IF_ERROR(qip_pelCopyWindow8(&plane, &view));
    QSRCH_RETURN_IF_ERROR(qsrch::clearRowSlack(view));
    return qimg_imageConst_assign(planeImageOut, qimg_image_asConst(image));
}

// The training body for one plane (plane1, plane2 NULL) or three.
qsrch::Status trainBody(qsrch_normcorr_model* model, const qsrch_normcorr_trainParams* params,
                        const qimg_windowConst* const planes[3], int planeCount, const qimg_windowConst* mask)
{
    qsrch::CallFrame<4> frame;
    // The caller's record may be the model's own, which untraining resets.
    const qsrch_normcorr_trainParams callerParams = *params;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_trainParams_validate(&callerParams)));
    uint32_t trained = 0;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_model_getIsTrained(model, &trained)));
    if (trained != 0) QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_model_untrain(model)));
    model->trainParams = callerParams;

    const qimg_windowConst& pattern = *planes[0];
    const int32_t width = pattern.width, height = pattern.height;
    if (callerParams.autoSelectGranularity != 0)
        QSRCH_RETURN_IF_ERROR(frame.track(selectGranularities(pattern, mask, &model->trainParams)));
    if (static_cast<int64_t>(width) * height < 3) {
        return frame.finish(QSRCH_E_PATTERN_TOO_SMALL);
    }

    const int32_t numLevels = qsrch_normcorr_countLevels(model->trainParams.coarseGranularity);
    QSRCH_RETURN_IF_ERROR(frame.track(
        qstd_vector_qsrch_normcorr_level__reserve(&model->levels, static_cast<size_t>(numLevels))));

    qsrch_normcorr_level_ base;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_level__construct(&base)));
    frame.release<qsrch_normcorr_level__destruct>(0, &base);

    // Every plane takes plane 0's size.
    qimg_image planeImages[3];
    for (int plane = 0; plane < planeCount; ++plane) {
        qimg_image* image = &planeImages[plane];
        QSRCH_RETURN_IF_ERROR(frame.track(constructPatternImage(image, width, height)));
        frame.release<qimg_image_destruct>(1 + static_cast<uint32_t>(plane), image);
        QSRCH_RETURN_IF_ERROR(frame.track(copyPlane(*planes[plane], image, &base.planeImage[plane])));
    }
    QSRCH_RETURN_IF_ERROR(
        frame.track(qimg_imageConst_assign(&model->trainImage, qimg_image_asConst(&planeImages[0]))));
    model->trainImage.x = pattern.x;
    model->trainImage.y = pattern.y;
    for (int plane = 0; plane < planeCount; ++plane)
        QSRCH_RETURN_IF_ERROR(
            frame.track(qimg_windowConst_init(&base.planeWindow[plane], &base.planeImage[plane])));

    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_model_initTrainMask(model, mask, width, height, &base)));
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qsrch_normcorr_level__pushBack(&model->levels, &base)));
    return frame.finish(
        qsrch_normcorr_model_buildLevels(model, width, height, numLevels, &callerParams, &pattern, mask));
}

// The image entry points' checks, in their order: a linear client-from-image
// transform of plane 0, then bound images (planes, then the mask). Nothing
// here touches the model.
qsrch::Status checkImages(const qimg_imageConst* const images[3], int planeCount, const qimg_imageConst* mask,
                          qmath_xformLinear* patFromClientOut)
{
    QSRCH_RETURN_IF_ERROR(qsrch::requireLinearClientFromImage(images[0]));
    for (int k = 0; k <= planeCount; ++k) {
        const qimg_imageConst* image = k < planeCount ? images[k] : mask;
        if (image != nullptr) QSRCH_RETURN_IF_ERROR(qsrch::requireBound(image, QSRCH_E_IMAGE_UNBOUND));
    }
    return qimg_imageConst_getLinearImageFromClientXform(images[0], patFromClientOut);
}

// Common tail of every entry point: train, untrain on failure, and on
// success take the transforms from patFromClient.
qsrch::Status trainViews(qsrch_normcorr_model* model, const qimg_windowConst* const planes[3], int planeCount,
                         const qimg_windowConst* mask, const qmath_xformLinear* patFromClient,
                         const qsrch_normcorr_trainParams* params)
{
    // Training resets the model, and patFromClient may be the model's own.
    const qmath_xformLinear given = *patFromClient;
    qsrch_status s =
        planeCount == 1
            ? qsrch_normcorr_model_trainInternal(model, params, planes[0], mask)
            : qsrch_normcorr_model_trainInternal3(model, params, planes[0], planes[1], planes[2], mask);
    if (QSRCH_FAILED(s)) {
        (void)qsrch_normcorr_model_untrain(model);  // the training's failure is the one reported
        return s;
    }
    return qsrch_normcorr_model_setPatFromClientXform(model, &given);
}

qsrch::Status trainImages(qsrch_normcorr_model* model, const qimg_imageConst* const images[3], int planeCount,
                          const qimg_imageConst* mask, const qsrch_normcorr_trainParams* params)
{
    qmath_xformLinear patFromClient;
    QSRCH_RETURN_IF_ERROR(checkImages(images, planeCount, mask, &patFromClient));
    qimg_windowConst views[3] = {};
    const qimg_windowConst* planes[3] = {&views[0], nullptr, nullptr};
    for (int plane = 0; plane < planeCount; ++plane) {
        QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&views[plane], images[plane]));
        planes[plane] = &views[plane];
    }
    qimg_windowConst maskView{};  // a null pixel pointer: no mask
    if (mask != nullptr) QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&maskView, mask));
    return trainViews(model, planes, planeCount, &maskView, &patFromClient, params);
}

}  // namespace

extern "C" {

float qsrch_normcorr_defaultCoarseGranularity(int32_t m)
{
    // Twice the granularity of a pattern half the size, down to 9 to 15
    // pixels, which sample at an eighth of their size.
    float doublings = 1.0f;
    while (m > 15) {
        m >>= 1;
        doublings *= 2.0f;
    }
    if (m <= 8) return doublings;
    return doublings * (static_cast<float>(m) * 0.125f);
}

int32_t qsrch_normcorr_countLevels(float coarseGranularity)
{
    int32_t count = 0;
    float granularity = 1.0f;
    while (granularity <= coarseGranularity) {
        ++count;
        float next = 2.0f * granularity;
        if (granularity < coarseGranularity && next > coarseGranularity) next = coarseGranularity;
        granularity = next;
    }
    return count;
}

qsrch_status qsrch_normcorr_model_trainInternal(qsrch_normcorr_model* model,
                                                const qsrch_normcorr_trainParams* params,
                                                const qimg_windowConst* pattern, const qimg_windowConst* mask)
{
    const qimg_windowConst* planes[3] = {pattern, nullptr, nullptr};
    return trainBody(model, params, planes, 1, mask);
}

qsrch_status qsrch_normcorr_model_trainInternal3(qsrch_normcorr_model* model,
                                                 const qsrch_normcorr_trainParams* params,
                                                 const qimg_windowConst* pattern0,
                                                 const qimg_windowConst* pattern1,
                                                 const qimg_windowConst* pattern2, const qimg_windowConst* mask)
{
    const qimg_windowConst* planes[3] = {pattern0, pattern1, pattern2};
    return trainBody(model, params, planes, 3, mask);
}

qsrch_status qsrch_normcorr_model_initTrainMask(qsrch_normcorr_model* model, const qimg_windowConst* mask,
                                                int32_t width, int32_t height, qsrch_normcorr_level_* base)
{
    if (mask->firstPixel == nullptr) return QSRCH_OK;
    qsrch::CallFrame<2> frame;
    // The model keeps the caller's values; the level gets them made two-valued.
    qimg_image callerMask, careMask;
    QSRCH_RETURN_IF_ERROR(frame.track(constructPatternImage(&callerMask, width, height)));
    frame.release<qimg_image_destruct>(0, &callerMask);
    qimg_window view;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_window_init(&view, &callerMask)));
    view.x = mask->x;
    view.y = mask->y;
    QSRCH_RETURN_IF_ERROR(frame.track(qip_pelCopyWindow8(mask, &view)));
    QSRCH_RETURN_IF_ERROR(
        frame.track(qimg_imageConst_assign(&model->trainMask, qimg_image_asConst(&callerMask))));
    model->trainMask.x = mask->x;
    model->trainMask.y = mask->y;
    QSRCH_RETURN_IF_ERROR(frame.track(clearSlack(&callerMask)));

    QSRCH_RETURN_IF_ERROR(frame.track(constructPatternImage(&careMask, width, height)));
    frame.release<qimg_image_destruct>(1, &careMask);
    QSRCH_RETURN_IF_ERROR(frame.track(
        qip_pelMap8(qimg_image_asConst(&callerMask), qsrch_normcorr_maskThresholdTable, &careMask)));
    QSRCH_RETURN_IF_ERROR(frame.track(clearSlack(&careMask)));
    QSRCH_RETURN_IF_ERROR(
        frame.track(qimg_imageConst_assign(&base->maskImage, qimg_image_asConst(&careMask))));
    return frame.finish(qimg_windowConst_init(&base->maskWindow, &base->maskImage));
}

qsrch_status qsrch_normcorr_model_buildLevels(qsrch_normcorr_model* model, int32_t /*width*/,
                                              int32_t /*height*/,
                                              int32_t numLevels, const qsrch_normcorr_trainParams* params,
                                              const qimg_windowConst* pattern, const qimg_windowConst* mask)
{
    qstd_vector_qsrch_normcorr_level_* levels = &model->levels;
    const float coarse = model->trainParams.coarseGranularity;
    float granularity = (coarse == 1.0f || coarse > 2.0f) ? 2.0f : coarse;
    float previous = 1.0f;
    qsrch_status s = QSRCH_OK;
    while (granularity <= coarse) {
        uint32_t k = 0;
        QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__getSize32(levels, &k));
        QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__resize(levels, k + 1));
        qsrch_normcorr_level_* level = nullptr;
        QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__getBegin(levels, &level));
        const float factor = granularity / previous;
        QSRCH_RETURN_IF_ERROR(qsrch_normcorr_level__initReduced(&level[k], &level[k - 1], 1, factor));
        if (granularity == 2.0f && params->useSurround != 0 && surroundInsideImage(*pattern)) {
            QSRCH_RETURN_IF_ERROR(reduceWithSurround(&level[k], *pattern, factor));
        }
        float next = 2.0f * granularity;
        if (granularity < coarse && next > coarse) next = coarse;
        previous = granularity;
        granularity = next;
    }

    // The whole pyramid is reduced from unmasked planes; masking comes after.
    uint32_t size = 0;
    qsrch_normcorr_level_* level = nullptr;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__getBeginSize32(levels, &level, &size));
    const uint32_t count = std::min(size, static_cast<uint32_t>(std::max(numLevels, 0)));
    const bool masked = mask->firstPixel != nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        bool uniform = false;
        QSRCH_RETURN_IF_ERROR(levelStatistics(&level[i], masked, &uniform));
        if (!uniform) continue;
        if (i == 0 || params->autoSelectGranularity == 0) {
            s = qstd_vector_qsrch_normcorr_level__resize(levels, 0);
            return QSRCH_FAILED(s) ? s : QSRCH_E_NO_CONTRAST;
        }
        // The coarsest usable level is i - 1, a power-of-two granularity.
        model->trainParams.coarseGranularity = std::ldexp(1.0f, static_cast<int>(i) - 1);
        return qstd_vector_qsrch_normcorr_level__resize(levels, i);
    }
    return QSRCH_OK;
}

qsrch_status qsrch_normcorr_level__applyMask(qsrch_normcorr_level_* level)
{
    qsrch::CallFrame<1> frame;
    qimg_image masked;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_image_constructUnbound(&masked)));
    frame.release<qimg_image_destruct>(0, &masked);
    for (int plane = 0; plane < 3; ++plane) {
        if (plane > 0) {
            if (level->planeWindow[plane].firstPixel == nullptr) continue;
            QSRCH_RETURN_IF_ERROR(frame.track(qimg_image_setUnbound(&masked)));
        }
        qimg_imageConst* planeImage = &level->planeImage[plane];
        QSRCH_RETURN_IF_ERROR(frame.track(qip_pelCopy8(planeImage, &masked)));
        QSRCH_RETURN_IF_ERROR(frame.track(qip_pelMin8(planeImage, &level->maskImage, &masked)));
        QSRCH_RETURN_IF_ERROR(frame.track(clearSlack(&masked)));
        QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_assign(planeImage, qimg_image_asConst(&masked))));
        QSRCH_RETURN_IF_ERROR(frame.track(qimg_windowConst_init(&level->planeWindow[plane], planeImage)));
    }
    return frame.finish();
}

qsrch_status qsrch_normcorr_model_untrain(qsrch_normcorr_model* model)
{
    qsrch::CallFrame<1> frame;
    qsrch_normcorr_model empty;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_model_construct(&empty)));
    frame.release<qsrch_normcorr_model_destruct>(0, &empty);
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_model_assign(model, &empty)));
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_setUnbound(&model->trainImage)));
    return frame.finish(qimg_imageConst_setUnbound(&model->trainMask));
}

// ---- Entry points ------------------------------------------------------------------

qsrch_status qsrch_normcorr_model_train(qsrch_normcorr_model* model, const qimg_imageConst* image,
                                        const qsrch_normcorr_trainParams* params)
{
    const qimg_imageConst* images[3] = {image, nullptr, nullptr};
    return trainImages(model, images, 1, nullptr, params);
}

qsrch_status qsrch_normcorr_model_trainMask(qsrch_normcorr_model* model, const qimg_imageConst* image,
                                            const qimg_imageConst* mask, const qsrch_normcorr_trainParams* params)
{
    const qimg_imageConst* images[3] = {image, nullptr, nullptr};
    return trainImages(model, images, 1, mask, params);
}

qsrch_status qsrch_normcorr_model_train3(qsrch_normcorr_model* model, const qimg_imageConst* image0,
                                         const qimg_imageConst* image1, const qimg_imageConst* image2,
                                         const qsrch_normcorr_trainParams* params)
{
    const qimg_imageConst* images[3] = {image0, image1, image2};
    return trainImages(model, images, 3, nullptr, params);
}

qsrch_status qsrch_normcorr_model_trainMask3(qsrch_normcorr_model* model, const qimg_imageConst* image0,
                                             const qimg_imageConst* image1, const qimg_imageConst* image2,
                                             const qimg_imageConst* mask, const qsrch_normcorr_trainParams* params)
{
    const qimg_imageConst* images[3] = {image0, image1, image2};
    return trainImages(model, images, 3, mask, params);
}

qsrch_status qsrch_normcorr_model_trainWindow(qsrch_normcorr_model* model, const qimg_windowConst* window,
                                              const qmath_xformLinear* patFromClient,
                                              const qsrch_normcorr_trainParams* params)
{
    const qimg_windowConst* planes[3] = {window, nullptr, nullptr};
    const qimg_windowConst noMask{};
    return trainViews(model, planes, 1, &noMask, patFromClient, params);
}

qsrch_status qsrch_normcorr_model_trainMaskWindow(qsrch_normcorr_model* model, const qimg_windowConst* window,
                                                  const qimg_windowConst* maskWindow,
                                                  const qmath_xformLinear* patFromClient,
                                                  const qsrch_normcorr_trainParams* params)
{
    const qimg_windowConst* planes[3] = {window, nullptr, nullptr};
    return trainViews(model, planes, 1, maskWindow, patFromClient, params);
}

qsrch_status qsrch_normcorr_model_trainWindow3(qsrch_normcorr_model* model, const qimg_windowConst* window0,
                                               const qimg_windowConst* window1, const qimg_windowConst* window2,
                                               const qmath_xformLinear* patFromClient,
                                               const qsrch_normcorr_trainParams* params)
{
    const qimg_windowConst* planes[3] = {window0, window1, window2};
    const qimg_windowConst noMask{};
    return trainViews(model, planes, 3, &noMask, patFromClient, params);
}

qsrch_status qsrch_normcorr_model_trainMaskWindow3(qsrch_normcorr_model* model,
                                                   const qimg_windowConst* window0,
                                                   const qimg_windowConst* window1,
                                                   const qimg_windowConst* window2,
                                                   const qimg_windowConst* maskWindow,
                                                   const qmath_xformLinear* patFromClient,
                                                   const qsrch_normcorr_trainParams* params)
{
    const qimg_windowConst* planes[3] = {window0, window1, window2};
    return trainViews(model, planes, 3, maskWindow, patFromClient, params);
}

}  // extern "C"

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
qsrch_status clearSlack(qimg_image* image)
{
    qimg_window view;
    qimg_window_init(&view, image);
    return qsrch::clearRowSlack(view);
}

qsrch_status constructPatternImage(qimg_image* image, int32_t width, int32_t height)
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
qsrch_status reduceWithSurround(qsrch_normcorr_level_* level, const qimg_windowConst& pattern, float factor)
{
    qsrch::CallFrame<3> frame;
    const int32_t grownWidth = pattern.width + 4, grownHeight = pattern.height + 4;
    qimg_image grown;
    if (frame.step(constructPatternImage(&grown, grownWidth, grownHeight))) return frame.finish();
    frame.release<qimg_image_destruct>(0, &grown);
    qimg_window grownView;
    qimg_window_init(&grownView, &grown);
    grownView.x = pattern.x - 2;
    grownView.y = pattern.y - 2;

    qimg_windowConst source = pattern;
    source.width = grownWidth;
    source.height = grownHeight;
    source.x = pattern.x - 2;
    source.y = pattern.y - 2;
    source.firstPixel =
        static_cast<const uint8_t*>(pattern.firstPixel) - 2 * static_cast<ptrdiff_t>(pattern.rowStride) - 2;
    if (frame.step(qip_pelCopyWindow8(&source, &grownView))) return frame.finish();

    qsrch_normcorr_level_ from, reduced;
    if (frame.step(qsrch_normcorr_level__construct(&from))) return frame.finish();
    frame.release<qsrch_normcorr_level__destruct>(1, &from);
    if (frame.step(qsrch_normcorr_level__construct(&reduced))) return frame.finish();
    frame.release<qsrch_normcorr_level__destruct>(2, &reduced);
    if (frame.step(qimg_imageConst_assign(&from.planeImage[0], qimg_image_asConst(&grown)))) return frame.finish();
    qimg_windowConst_init(&from.planeWindow[0], &from.planeImage[0]);
    if (frame.step(qsrch_normcorr_level__initReduced(&reduced, &from, 1, factor))) return frame.finish();

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
qsrch_status levelStatistics(qsrch_normcorr_level_* level, bool masked, bool* uniform)
{
    qsrch_status s = QSRCH_OK;
    level->nCare = static_cast<uint32_t>(level->planeWindow[0].width) *
                   static_cast<uint32_t>(level->planeWindow[0].height);
    if (masked) {
        s = qsrch_normcorr_level__applyMask(level);
        if (QSRCH_FAILED(s)) return s;
        uint32_t maskSum = 0;
        double maskSumSq = 0.0;
        s = qsrch_DcomputeOneSumISumISq(&level->maskWindow, &maskSum, &maskSumSq);
        if (QSRCH_FAILED(s)) return s;
        level->nCare = maskSum / 255;  // the level's mask is two-valued
    }
    s = qsrch_DcomputeOneSumISumISq(&level->planeWindow[0], &level->sum[0], &level->sumSq[0]);
    if (QSRCH_FAILED(s)) return s;
    if (level->planeWindow[1].firstPixel != nullptr) {
        for (int plane = 1; plane < 3; ++plane) {
            s = qsrch_DcomputeOneSumISumISq(&level->planeWindow[plane], &level->sum[plane],
                                            &level->sumSq[plane]);
            if (QSRCH_FAILED(s)) return s;
        }
    }
    const double s0 = level->sum[0], s1 = level->sum[1], s2 = level->sum[2];
    const double squaredSums = s0 * s0 + s1 * s1 + s2 * s2;
    const double scaledSumSq = (level->sumSq[1] + level->sumSq[0] + level->sumSq[2]) * level->nCare;
    *uniform = qmath_double_epsilonEqual(squaredSums, scaledSumSq, 0.5) != 0;
    return QSRCH_OK;
}

// The training body for one plane (plane1, plane2 NULL) or three.
qsrch_status trainBody(qsrch_normcorr_model* model, const qsrch_normcorr_trainParams* params,
                       const qimg_windowConst* const planes[3], int planeCount, const qimg_windowConst* mask)
{
    qsrch::CallFrame<4> frame;
    // The caller's record may be the model's own, which untraining resets.
    const qsrch_normcorr_trainParams callerParams = *params;
    if (frame.step(qsrch_normcorr_trainParams_validate(&callerParams))) return frame.finish();
    uint32_t trained = 0;
    if (frame.step(qsrch_normcorr_model_getIsTrained(model, &trained))) return frame.finish();
    if (trained != 0 && frame.step(qsrch_normcorr_model_untrain(model))) return frame.finish();
    model->trainParams = callerParams;

    const qimg_windowConst& pattern = *planes[0];
    const int32_t width = pattern.width, height = pattern.height;
    if (callerParams.autoSelectGranularity != 0) {
        if (callerParams.autoSelectByTrial == 0) {
            model->trainParams.fineGranularity = 1;
            model->trainParams.coarseGranularity =
                qsrch_normcorr_defaultCoarseGranularity(std::min(width, height));
        } else if (frame.step(qsrch_normcorr_computeGranularitiesMaskWindow(
                       &pattern, mask, callerParams.trialThreshold, 0, 128, &model->trainParams.coarseGranularity,
                       &model->trainParams.fineGranularity))) {
            return frame.finish();
        }
    }
    if (static_cast<int64_t>(width) * height < 3) {
        frame.step(QSRCH_E_PATTERN_TOO_SMALL);
        return frame.finish();
    }

    const int32_t numLevels = qsrch_normcorr_countLevels(model->trainParams.coarseGranularity);
    if (frame.step(qstd_vector_qsrch_normcorr_level__reserve(&model->levels, static_cast<size_t>(numLevels))))
        return frame.finish();

    qsrch_normcorr_level_ base;
    if (frame.step(qsrch_normcorr_level__construct(&base))) return frame.finish();
    frame.release<qsrch_normcorr_level__destruct>(0, &base);

    // Each plane is copied at its view's place, so the copy is the view's
    // pixels whatever its origin; every plane takes plane 0's size.
    qimg_image planeImages[3];
    for (int plane = 0; plane < planeCount; ++plane) {
        qimg_image* image = &planeImages[plane];
        if (frame.step(constructPatternImage(image, width, height))) return frame.finish();
        frame.release<qimg_image_destruct>(1 + static_cast<uint32_t>(plane), image);
        qimg_window view;
        qimg_window_init(&view, image);
        view.x = planes[plane]->x;
        view.y = planes[plane]->y;
        if (frame.step(qip_pelCopyWindow8(planes[plane], &view))) return frame.finish();
        if (frame.step(qsrch::clearRowSlack(view))) return frame.finish();
        if (frame.step(qimg_imageConst_assign(&base.planeImage[plane], qimg_image_asConst(image))))
            return frame.finish();
    }
    if (frame.step(qimg_imageConst_assign(&model->trainImage, qimg_image_asConst(&planeImages[0]))))
        return frame.finish();
    model->trainImage.x = pattern.x;
    model->trainImage.y = pattern.y;
    for (int plane = 0; plane < planeCount; ++plane)
        qimg_windowConst_init(&base.planeWindow[plane], &base.planeImage[plane]);

    if (frame.step(qsrch_normcorr_model_initTrainMask(model, mask, width, height, &base))) return frame.finish();
    if (frame.step(qstd_vector_qsrch_normcorr_level__pushBack(&model->levels, &base))) return frame.finish();
    frame.step(
        qsrch_normcorr_model_buildLevels(model, width, height, numLevels, &callerParams, &pattern, mask));
    return frame.finish();
}

// The image entry points' checks, in their order: a linear client-from-image
// transform of plane 0, then bound images (planes, then the mask). Nothing
// here touches the model.
qsrch_status checkImages(const qimg_imageConst* const images[3], int planeCount, const qimg_imageConst* mask,
                         qmath_xformLinear* patFromClientOut)
{
    qsrch_status s = qsrch::requireLinearClientFromImage(images[0]);
    if (QSRCH_FAILED(s)) return s;
    for (int k = 0; k <= planeCount; ++k) {
        const qimg_imageConst* image = k < planeCount ? images[k] : mask;
        if (image != nullptr && QSRCH_FAILED(s = qsrch::requireBound(image, QSRCH_E_IMAGE_UNBOUND))) return s;
    }
    return qimg_imageConst_getLinearImageFromClientXform(images[0], patFromClientOut);
}

// Common tail of every entry point: train, untrain on failure, and on
// success take the transforms from patFromClient.
qsrch_status trainViews(qsrch_normcorr_model* model, const qimg_windowConst* const planes[3], int planeCount,
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

qsrch_status trainImages(qsrch_normcorr_model* model, const qimg_imageConst* const images[3], int planeCount,
                         const qimg_imageConst* mask, const qsrch_normcorr_trainParams* params)
{
    qmath_xformLinear patFromClient;
    qsrch_status s = checkImages(images, planeCount, mask, &patFromClient);
    if (QSRCH_FAILED(s)) return s;
    qimg_windowConst views[3] = {};
    const qimg_windowConst* planes[3] = {&views[0], nullptr, nullptr};
    for (int plane = 0; plane < planeCount; ++plane) {
        qimg_windowConst_init(&views[plane], images[plane]);
        planes[plane] = &views[plane];
    }
    qimg_windowConst maskView{};  // a null pixel pointer: no mask
    if (mask != nullptr) qimg_windowConst_init(&maskView, mask);
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
    if (frame.step(constructPatternImage(&callerMask, width, height))) return frame.finish();
    frame.release<qimg_image_destruct>(0, &callerMask);
    qimg_window view;
    qimg_window_init(&view, &callerMask);
    view.x = mask->x;
    view.y = mask->y;
    if (frame.step(qip_pelCopyWindow8(mask, &view))) return frame.finish();
    if (frame.step(qimg_imageConst_assign(&model->trainMask, qimg_image_asConst(&callerMask))))
        return frame.finish();
    model->trainMask.x = mask->x;
    model->trainMask.y = mask->y;
    if (frame.step(clearSlack(&callerMask))) return frame.finish();

    if (frame.step(constructPatternImage(&careMask, width, height))) return frame.finish();
    frame.release<qimg_image_destruct>(1, &careMask);
    if (frame.step(qip_pelMap8(qimg_image_asConst(&callerMask), qsrch_normcorr_maskThresholdTable, &careMask)))
        return frame.finish();
    if (frame.step(clearSlack(&careMask))) return frame.finish();
    if (frame.step(qimg_imageConst_assign(&base->maskImage, qimg_image_asConst(&careMask)))) return frame.finish();
    qimg_windowConst_init(&base->maskWindow, &base->maskImage);
    return frame.finish();
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
        s = qstd_vector_qsrch_normcorr_level__getSize32(levels, &k);
        if (QSRCH_FAILED(s)) return s;
        s = qstd_vector_qsrch_normcorr_level__resize(levels, k + 1);
        if (QSRCH_FAILED(s)) return s;
        qsrch_normcorr_level_* level = nullptr;
        s = qstd_vector_qsrch_normcorr_level__getBegin(levels, &level);
        if (QSRCH_FAILED(s)) return s;
        const float factor = granularity / previous;
        s = qsrch_normcorr_level__initReduced(&level[k], &level[k - 1], 1, factor);
        if (QSRCH_FAILED(s)) return s;
        if (granularity == 2.0f && params->useSurround != 0 && surroundInsideImage(*pattern)) {
            s = reduceWithSurround(&level[k], *pattern, factor);
            if (QSRCH_FAILED(s)) return s;
        }
        float next = 2.0f * granularity;
        if (granularity < coarse && next > coarse) next = coarse;
        previous = granularity;
        granularity = next;
    }

    // The whole pyramid is reduced from unmasked planes; masking comes after.
    uint32_t size = 0;
    qsrch_normcorr_level_* level = nullptr;
    s = qstd_vector_qsrch_normcorr_level__getBeginSize32(levels, &level, &size);
    if (QSRCH_FAILED(s)) return s;
    const uint32_t count = std::min(size, static_cast<uint32_t>(std::max(numLevels, 0)));
    const bool masked = mask->firstPixel != nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        bool uniform = false;
        s = levelStatistics(&level[i], masked, &uniform);
        if (QSRCH_FAILED(s)) return s;
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
    if (frame.step(qimg_image_constructUnbound(&masked))) return frame.finish();
    frame.release<qimg_image_destruct>(0, &masked);
    for (int plane = 0; plane < 3; ++plane) {
        if (plane > 0) {
            if (level->planeWindow[plane].firstPixel == nullptr) continue;
            if (frame.step(qimg_image_setUnbound(&masked))) return frame.finish();
        }
        qimg_imageConst* planeImage = &level->planeImage[plane];
        if (frame.step(qip_pelCopy8(planeImage, &masked))) return frame.finish();
        if (frame.step(qip_pelMin8(planeImage, &level->maskImage, &masked))) return frame.finish();
        if (frame.step(clearSlack(&masked))) return frame.finish();
        if (frame.step(qimg_imageConst_assign(planeImage, qimg_image_asConst(&masked)))) return frame.finish();
        qimg_windowConst_init(&level->planeWindow[plane], planeImage);
    }
    return frame.finish();
}

qsrch_status qsrch_normcorr_model_untrain(qsrch_normcorr_model* model)
{
    qsrch::CallFrame<1> frame;
    qsrch_normcorr_model empty;
    if (frame.step(qsrch_normcorr_model_construct(&empty))) return frame.finish();
    frame.release<qsrch_normcorr_model_destruct>(0, &empty);
    if (frame.step(qsrch_normcorr_model_assign(model, &empty))) return frame.finish();
    if (frame.step(qimg_imageConst_setUnbound(&model->trainImage))) return frame.finish();
    frame.step(qimg_imageConst_setUnbound(&model->trainMask));
    return frame.finish();
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

// The reduction step: one pyramid level from the previous one. Every plane
// and the mask are smoothed and subsampled by the level's factor into images
// of their own; the transform to level 0 is carried along, composed with the
// smoother's scaling and shift at each step.
#include "frame/call_frame.hpp"
#include "pyramid/pyramid_internal.hpp"

namespace {

// Reduced side: the quotient in single precision, as the low-pass filter
// forms it, so both agree on the size for every factor.
int32_t reducedSide(int32_t side, float factor)
{
    float quotient = static_cast<float>(side) * (1.0f / factor);
    return qmath_double_floor(static_cast<double>(quotient));
}

// One plane (or the mask) of the new level: a view of its reduced image,
// the slack cleared on request, filled from sourceView.
qsrch::Status reduceInto(const qimg_windowConst* sourceView, const qsrch_normcorr_level_* previous,
                         uint32_t clearSlack, float factor, qimg_image* image, qimg_window* view,
                         qsrch_normcorr_level_* level)
{
    QSRCH_RETURN_IF_ERROR(qimg_window_init(view, image));
    if (clearSlack != 0) {
        QSRCH_RETURN_IF_ERROR(qsrch::clearRowSlack(*view));
    }
    return qsrch_normcorr_reducePlane(sourceView, &previous->baseFromLevel, factor, view,
                                      &level->baseFromLevel, level);
}

// The mask of the new level: the previous mask reduced at plane 0's size,
// then made two-valued again, since smoothing blurs the edge of the care area.
qsrch::Status reduceMask(qsrch_normcorr_level_* level, const qsrch_normcorr_level_* previous, uint32_t clearSlack,
                         float factor)
{
    qsrch::CallFrame<1> frame;
    const qimg_windowConst& previousPlane0 = previous->planeWindow[0];
    qimg_image maskImage;
    QSRCH_RETURN_IF_ERROR(frame.track(
        qsrch_normcorr_constructReducedImage(&maskImage, previousPlane0.width, previousPlane0.height, factor)));
    frame.release<qimg_image_destruct>(0, &maskImage);
    qimg_window view;
    QSRCH_RETURN_IF_ERROR(
        frame.track(reduceInto(&previous->maskWindow, previous, clearSlack, factor, &maskImage, &view, level)));
    QSRCH_RETURN_IF_ERROR(frame.track(
        qip_pelMap8(qimg_image_asConst(&maskImage), qsrch_normcorr_maskThresholdTable, &maskImage)));
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_assign(&level->maskImage, qimg_image_asConst(&maskImage))));
    level->maskWindow = *qimg_window_asConst(&view);
    return frame.finish();
}

// A new image for one plane of `level`, half the size of `above`, held by
// the level's handle; viewOut is a writable view of it. The reducer writes
// every pixel, so only the row slack is cleared first.
qsrch::Status attachHalvedPlane(qsrch_normcorr_level_* level, uint32_t plane, const qimg_windowConst& above,
                                uint32_t clearSlack, qimg_window* viewOut)
{
    qsrch::CallFrame<1> frame;
    qimg_image image;
    const int32_t width = above.width / 2;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_image_constructAlignedUncleared(
        &image, QIMG_DEPTH_8U, width, above.height / 2, qsrch::levelRowStride(width))));
    frame.release<qimg_image_destruct>(0, &image);
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_window_init(viewOut, &image)));
    if (clearSlack != 0) {
        QSRCH_RETURN_IF_ERROR(frame.track(qsrch::clearRowSlack(*viewOut)));
    }
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_assign(&level->planeImage[plane], qimg_image_asConst(&image))));
    level->planeWindow[plane] = *qimg_window_asConst(viewOut);
    return frame.finish();
}

// Every level below the first of one plane, in one pass of the halving reducer.
qsrch::Status halvePlane(qsrch_normcorr_level_* levels, int32_t count, uint32_t plane, uint32_t clearSlack)
{
    qimg_window views[QIP_GAUSS2_MAX_LEVELS];
    qmath_xformLinear transforms[QIP_GAUSS2_MAX_LEVELS];
    for (int32_t k = 1; k < count; ++k) {
        QSRCH_RETURN_IF_ERROR(
            attachHalvedPlane(&levels[k], plane, levels[k - 1].planeWindow[plane], clearSlack, &views[k - 1]));
    }
    QSRCH_RETURN_IF_ERROR(qip_gauss2_smoothLevels8_8(&levels[0].planeWindow[plane], &levels[0].baseFromLevel,
                                                     count - 1, views, transforms));
    for (int32_t k = 1; k < count; ++k) {
        levels[k].baseFromLevel = transforms[k - 1];
        levels[k].factor = 2.0f;
    }
    return QSRCH_OK;
}

}  // namespace

extern "C" {

const uint8_t qsrch_normcorr_maskThresholdTable[256] = {
#define QSRCH_T16(v) v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v
    QSRCH_T16(0),   QSRCH_T16(0),   QSRCH_T16(0),   QSRCH_T16(0),
    QSRCH_T16(0),   QSRCH_T16(0),   QSRCH_T16(0),   QSRCH_T16(0),
    QSRCH_T16(255), QSRCH_T16(255), QSRCH_T16(255), QSRCH_T16(255),
    QSRCH_T16(255), QSRCH_T16(255), QSRCH_T16(255), QSRCH_T16(255),
#undef QSRCH_T16
};

qsrch_status qsrch_normcorr_constructReducedImage(qimg_image* image, int32_t width, int32_t height, float factor)
{
    int32_t reducedWidth = reducedSide(width, factor);
    int32_t reducedHeight = reducedSide(height, factor);
    return qimg_image_constructAligned(image, QIMG_DEPTH_8U, reducedWidth, reducedHeight,
                                       qsrch::levelRowStride(reducedWidth));
}

qsrch_status qsrch_normcorr_reducePlane(const qimg_windowConst* source, const qmath_xformLinear* sourceBaseFromLevel,
                                        float factor, qimg_window* destination,
                                        qmath_xformLinear* destinationBaseFromLevelOut, qsrch_normcorr_level_* level)
{
    qsrch::CallFrame<2> frame;
    // The low-pass path's temporaries live as long as the cleanup list.
    qimg_image input, output;
    if (factor == 2.0f) {
        QSRCH_RETURN_IF_ERROR(frame.track(qip_gauss2_smoothWindow8_8(source, sourceBaseFromLevel, destination,
                                                                     destinationBaseFromLevelOut)));
    } else {
        qip_plpfParams params;
        QSRCH_RETURN_IF_ERROR(frame.track(qip_plpfParams_init(&params)));
        params.factorX = factor;
        params.factorY = factor;
        params.roundedFactorX = qmath_double_round(factor);
        params.roundedFactorY = qmath_double_round(factor);

        // The filter reads whole images, so the source view is copied into
        // one that carries the view's place and its transform to level 0.
        QSRCH_RETURN_IF_ERROR(
            frame.track(qimg_image_construct(&input, QIMG_DEPTH_8U, source->width, source->height)));
        frame.release<qimg_image_destruct>(0, &input);
        qimg_window inputView;
        QSRCH_RETURN_IF_ERROR(frame.track(qimg_window_init(&inputView, &input)));
        QSRCH_RETURN_IF_ERROR(frame.track(qsys_memory_copyRect(
            static_cast<size_t>(source->width), static_cast<size_t>(source->height), source->rowStride,
            inputView.rowStride, source->firstPixel, inputView.firstPixel)));
        input.x = source->x;
        input.y = source->y;
        QSRCH_RETURN_IF_ERROR(
            frame.track(qimg_image_setLinearClientFromImageXform(&input, sourceBaseFromLevel)));

        QSRCH_RETURN_IF_ERROR(frame.track(qimg_image_constructUnbound(&output)));
        frame.release<qimg_image_destruct>(1, &output);
        QSRCH_RETURN_IF_ERROR(frame.track(qip_plpf_smooth8_8(qimg_image_asConst(&input), &output, &params)));

        qimg_windowConst outputView;
        QSRCH_RETURN_IF_ERROR(frame.track(qimg_windowConst_init(&outputView, qimg_image_asConst(&output))));
        QSRCH_RETURN_IF_ERROR(frame.track(qip_pelCopyWindow8(&outputView, destination)));
        QSRCH_RETURN_IF_ERROR(
            frame.track(qimg_image_getLinearClientFromImageXform(&output, destinationBaseFromLevelOut)));
    }
    level->factor = factor;
    return frame.finish();
}

qsrch_status qsrch_normcorr_level__initReduced(qsrch_normcorr_level_* level, const qsrch_normcorr_level_* previous,
                                               uint32_t clearSlack, float factor)
{
    qsrch::CallFrame<3> frame;
    // The temporaries outlive the loop: the cleanup list releases them at exit.
    qimg_image planeImages[3];

    // Planes 0, 1, 2 in turn (1 and 2 only where the previous level has
    // them), then the mask, which is reduced at plane 0's size.
    for (uint32_t plane = 0; plane < 3; ++plane) {
        const qimg_windowConst& from = previous->planeWindow[plane];
        if (plane > 0 && from.firstPixel == nullptr) continue;
        qimg_image* image = &planeImages[plane];
        QSRCH_RETURN_IF_ERROR(
            frame.track(qsrch_normcorr_constructReducedImage(image, from.width, from.height, factor)));
        frame.release<qimg_image_destruct>(plane, image);
        qimg_window view;
        QSRCH_RETURN_IF_ERROR(
            frame.track(reduceInto(&from, previous, clearSlack, factor, image, &view, level)));
        QSRCH_RETURN_IF_ERROR(
            frame.track(qimg_imageConst_assign(&level->planeImage[plane], qimg_image_asConst(image))));
        level->planeWindow[plane] = *qimg_window_asConst(&view);
    }

    if (previous->maskWindow.firstPixel != nullptr) {
        QSRCH_RETURN_IF_ERROR(frame.track(reduceMask(level, previous, clearSlack, factor)));
    }
    return frame.finish(qmath_xformLinear_getInverse(&level->baseFromLevel, &level->levelFromBase));
}

qsrch_status qsrch_normcorr_levels__initHalved(qsrch_normcorr_level_* levels, int32_t count, uint32_t clearSlack)
{
    if (count < 2) return QSRCH_OK;
    if (count - 1 > QIP_GAUSS2_MAX_LEVELS) return QSYS_E_BAD_ARGUMENT;
    for (uint32_t plane = 0; plane < 3; ++plane) {
        if (plane > 0 && levels[0].planeWindow[plane].firstPixel == nullptr) continue;
        QSRCH_RETURN_IF_ERROR(halvePlane(levels, count, plane, clearSlack));
    }
    for (int32_t k = 1; k < count; ++k) {
        if (levels[k - 1].maskWindow.firstPixel != nullptr) {
            QSRCH_RETURN_IF_ERROR(reduceMask(&levels[k], &levels[k - 1], clearSlack, 2.0f));
        }
        QSRCH_RETURN_IF_ERROR(qmath_xformLinear_getInverse(&levels[k].baseFromLevel, &levels[k].levelFromBase));
    }
    return QSRCH_OK;
}

}  // extern "C"

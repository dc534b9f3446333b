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
    qsrch::CallFrame<4> frame;
    const qimg_windowConst& previousPlane0 = previous->planeWindow[0];
    // The temporaries outlive the loop: the cleanup list releases them at exit.
    qimg_image planeImages[3];
    qimg_image maskImage;

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
        QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_constructReducedImage(
            &maskImage, previousPlane0.width, previousPlane0.height, factor)));
        frame.release<qimg_image_destruct>(3, &maskImage);
        qimg_window view;
        QSRCH_RETURN_IF_ERROR(frame.track(
            reduceInto(&previous->maskWindow, previous, clearSlack, factor, &maskImage, &view, level)));
        // Smoothing blurs the edge of the care area; derived masks stay two-valued.
        QSRCH_RETURN_IF_ERROR(frame.track(
            qip_pelMap8(qimg_image_asConst(&maskImage), qsrch_normcorr_maskThresholdTable, &maskImage)));
        QSRCH_RETURN_IF_ERROR(
            frame.track(qimg_imageConst_assign(&level->maskImage, qimg_image_asConst(&maskImage))));
        level->maskWindow = *qimg_window_asConst(&view);
    }

    return frame.finish(qmath_xformLinear_getInverse(&level->baseFromLevel, &level->levelFromBase));
}

}  // extern "C"

// The top-level search model: an inner normalized-correlation model trained
// in plain pattern pixel coordinates, plus what only the wrapper knows: a
// copy of the training pixels carrying the training image's own client
// transform and the view's place in that image, and the origin that runs
// report positions for.
#include <qip/qip.h>
#include <qsrch/search.h>

#include "frame/call_frame.hpp"
#include "frame/image_checks.hpp"
#include "frame/vector_family.hpp"
#include "search/search_internal.hpp"

namespace {

// trainImage (sharing copy's pixels) takes the training image's transform,
// the view's origin and the view's pixels.
qsrch::Status fillTrainImage(qsrch_model* model, qimg_image* copy, const qimg_windowConst& view,
                             const qmath_xformPtrhConst* imageFromClient)
{
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_setImageFromClientXform(&model->trainImage, imageFromClient));
    model->trainImage.x = view.x;
    model->trainImage.y = view.y;
    // Views are placed by their origins when copied, so the copy's view
    // stands where the training view stood.
    qimg_window target;
    QSRCH_RETURN_IF_ERROR(qimg_window_init(&target, copy));
    target.x = view.x;
    target.y = view.y;
    return qip_pelCopyWindow8(&view, &target);
}

// Keeps the training view's pixels in the model's own image, with the view's
// size and origin and the training image's transform. The model counts as
// trained from the moment trainImage is bound, so a failure after that
// drops the pixels again.
qsrch::Status keepTrainingPixels(qsrch_model* model, const qimg_windowConst& view,
                                 const qmath_xformPtrhConst* imageFromClient)
{
    qsrch::CallFrame<1> frame;
    qimg_image copy;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_image_construct(&copy, QIMG_DEPTH_8U, view.width, view.height)));
    frame.release<qimg_image_destruct>(0, &copy);
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_assign(&model->trainImage, qimg_image_asConst(&copy))));
    const qsrch_status filled = fillTrainImage(model, &copy, view, imageFromClient);
    if (QSRCH_FAILED(filled)) (void)qimg_imageConst_setUnbound(&model->trainImage);
    return frame.finish(filled);
}

}  // namespace

namespace qsrch {

Status requireTrained(const qsrch_model* model)
{
    return requireBound(&model->trainImage, QSRCH_E_NOT_TRAINED);
}

bool surroundFits(const qstd_rect32& entire, const qstd_rect32& view)
{
    // 64-bit sums: origins and sizes are any 32-bit values.
    const int64_t ex = entire.x, ey = entire.y, vx = view.x, vy = view.y;
    return ex <= vx - 2 && ey <= vy - 2 && ex + entire.width >= vx + 2 + view.width &&
           ey + entire.height >= vy + 2 + view.height;
}

Status viewWithTransform(const qimg_imageConst* image, qimg_windowConst* view,
                         qmath_xformPtrhConst* imageFromClient)
{
    QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(view, image));
    return qimg_imageConst_getImageFromClientXform(image, imageFromClient);
}

}  // namespace qsrch

extern "C" {

qsrch_status qsrch_model_construct(qsrch_model* model)
{
    qsrch::CallFrame<2> frame;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_constructUnbound(&model->trainImage)));
    frame.releaseOnFailure<qimg_imageConst_destruct>(0, &model->trainImage);
    model->normcorrModel = nullptr;
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_vect_init(&model->origin, 0.0, 0.0)));
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_model_new(&model->normcorrModel)));
    frame.releaseHeapRecordOnFailure<qsrch_normcorr_model_delete>(1, &model->normcorrModel);
    return frame.finish();
}

qsrch_status qsrch_model_constructCopy(qsrch_model* model, const qsrch_model* source)
{
    qsrch::CallFrame<1> frame;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_model_construct(model)));
    frame.releaseOnFailure<qsrch_model_destruct>(0, model);
    return frame.finish(model != source ? qsrch_model_assign(model, source) : QSRCH_OK);
}

qsrch_status qsrch_model_assign(qsrch_model* model, const qsrch_model* source)
{
    if (model == source) return QSRCH_OK;
    model->origin = source->origin;
    model->trainParams = source->trainParams;
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_assign(&model->trainImage, &source->trainImage));
    return qsrch_normcorr_model_assign(model->normcorrModel, source->normcorrModel);
}

qsrch_status qsrch_model_destruct(qsrch_model* model)
{
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_destruct(&model->trainImage));
    return qsrch_normcorr_model_delete(&model->normcorrModel);
}

qsrch_status qsrch_model_train(qsrch_model* model, const qimg_imageConst* image, const qsrch_trainParams* params)
{
    qsrch::CallFrame<1> frame;
    qimg_imageConst noMask;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_constructUnbound(&noMask)));
    frame.release<qimg_imageConst_destruct>(0, &noMask);
    return frame.finish(qsrch_model_trainMask(model, image, &noMask, params));
}

qsrch_status qsrch_model_trainMask(qsrch_model* model, const qimg_imageConst* image, const qimg_imageConst* mask,
                                   const qsrch_trainParams* params)
{
    qsrch::CallFrame<2> frame;
    qsrch_trainParams local = *params;
    uint32_t bound = 0, maskBound = 0;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_getIsBound(image, &bound)));
    if (bound == 0) {
        return frame.finish(QSRCH_E_IMAGE_UNBOUND);
    }
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_getIsBound(mask, &maskBound)));

    qimg_windowConst view;
    qmath_xformPtrhConst imageFromClient;
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_xformPtrhConst_construct(&imageFromClient)));
    frame.release<qmath_xformPtrhConst_destruct>(0, &imageFromClient);
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch::viewWithTransform(image, &view, &imageFromClient)));

    // The band around the pattern is read from the training image, so it is
    // asked for only where the image has it.
    qimg_imageConst entire;
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_constructCopy(&entire, image)));
    frame.release<qimg_imageConst_destruct>(1, &entire);
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_setEntire(&entire)));
    const qstd_rect32 entireRect{entire.x, entire.y, entire.width, entire.height};
    const qstd_rect32 viewRect{view.x, view.y, view.width, view.height};
    if (!qsrch::surroundFits(entireRect, viewRect)) local.useSurround = 0;

    qimg_windowConst maskView;
    if (maskBound != 0) QSRCH_RETURN_IF_ERROR(frame.track(qimg_windowConst_init(&maskView, mask)));
    return frame.finish(qsrch_model_trainInternal(model, &view, maskBound != 0 ? &maskView : nullptr,
                                                  &imageFromClient, &local));
}

qsrch_status qsrch_model_trainWindow(qsrch_model* model, const qimg_windowConst* window,
                                     const qmath_xformPtrhConst* imageFromClient, const qsrch_trainParams* params)
{
    return qsrch_model_trainMaskWindow(model, window, nullptr, imageFromClient, params);
}

qsrch_status qsrch_model_trainMaskWindow(qsrch_model* model, const qimg_windowConst* window,
                                         const qimg_windowConst* maskWindow,
                                         const qmath_xformPtrhConst* imageFromClient,
                                         const qsrch_trainParams* params)
{
    // The window forms train on the view alone, never on a band around it.
    qsrch_trainParams local = *params;
    local.useSurround = 0;
    return qsrch_model_trainInternal(model, window, maskWindow, imageFromClient, &local);
}

qsrch_status qsrch_model_trainInternal(qsrch_model* model, const qimg_windowConst* view,
                                       const qimg_windowConst* maskView,
                                       const qmath_xformPtrhConst* imageFromClient,
                                       const qsrch_trainParams* params)
{
    uint32_t trained = 0;
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_getIsBound(&model->trainImage, &trained));
    if (trained != 0) {
        // Untrained from here on, whatever fails later.
        QSRCH_RETURN_IF_ERROR(qimg_imageConst_setUnbound(&model->trainImage));
        QSRCH_RETURN_IF_ERROR(qsrch_normcorr_model_untrain(model->normcorrModel));
    }
    QSRCH_RETURN_IF_ERROR(qsrch_trainParams_validate(params));
    model->trainParams = *params;
    qsrch_normcorr_trainParams normcorrParams;
    QSRCH_RETURN_IF_ERROR(qsrch_normcorr_trainParams_initFromTrainParams(&normcorrParams, params));

    qmath_xformLinear identity;
    QSRCH_RETURN_IF_ERROR(qmath_xformLinear_initIdentity(&identity));
    const qimg_windowConst pattern = qsrch::atPixelOrigin(*view);
    if (maskView != nullptr) {
        const qimg_windowConst patternMask = qsrch::atPixelOrigin(*maskView);
        QSRCH_RETURN_IF_ERROR(qsrch_normcorr_model_trainMaskWindow(model->normcorrModel, &pattern,
                                                                   &patternMask, &identity, &normcorrParams));
    } else {
        QSRCH_RETURN_IF_ERROR(
            qsrch_normcorr_model_trainWindow(model->normcorrModel, &pattern, &identity, &normcorrParams));
    }
    return keepTrainingPixels(model, *view, imageFromClient);
}

qsrch_status qsrch_model_untrain(qsrch_model* model)
{
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_setUnbound(&model->trainImage));
    return qsrch_normcorr_model_untrain(model->normcorrModel);
}

qsrch_status qsrch_model_getIsTrained(const qsrch_model* model, uint32_t* flagOut)
{
    return qimg_imageConst_getIsBound(&model->trainImage, flagOut);
}

qsrch_status qsrch_model_getSize(const qsrch_model* model, qstd_pair32* sizeOut)
{
    QSRCH_RETURN_IF_ERROR(qsrch::requireTrained(model));
    return qstd_pair32_init(sizeOut, model->trainImage.width, model->trainImage.height);
}

qsrch_status qsrch_model_getMinSearchImageSize(const qsrch_model* model, uint32_t algorithm,
                                               qstd_pair32* sizeOut)
{
    QSRCH_RETURN_IF_ERROR(qsrch::requireTrained(model));
    if (algorithm != 1) return QSRCH_E_BAD_ALGORITHM;
    return qsrch_model_getSize(model, sizeOut);
}

qsrch_status qsrch_model_getTrainImage(const qsrch_model* model, qimg_imageConst* imageOut)
{
    QSRCH_RETURN_IF_ERROR(qsrch::requireTrained(model));
    return qimg_imageConst_assign(imageOut, &model->trainImage);
}

qsrch_status qsrch_model_getTrainMask(const qsrch_model* model, qimg_imageConst* maskOut)
{
    QSRCH_RETURN_IF_ERROR(qsrch::requireTrained(model));
    return qsrch_normcorr_model_getTrainMask(model->normcorrModel, maskOut);
}

qsrch_status qsrch_model_getTrainParams(const qsrch_model* model, qsrch_trainParams* paramsOut)
{
    QSRCH_RETURN_IF_ERROR(qsrch::requireTrained(model));
    *paramsOut = model->trainParams;
    return QSRCH_OK;
}

qsrch_status qsrch_model_getOrigin(const qsrch_model* model, qmath_vect* vectOut)
{
    *vectOut = model->origin;
    return QSRCH_OK;
}

qsrch_status qsrch_model_setOrigin(qsrch_model* model, const qmath_vect* vect)
{
    model->origin = *vect;
    return QSRCH_OK;
}

}  // extern "C"

QSRCH_DEFINE_VECTOR_FAMILY(qsrch_model, (&qsrch::elementTable<qsrch_model, &qsrch_model_construct,
                                                              &qsrch_model_constructCopy, &qsrch_model_assign,
                                                              &qsrch_model_destruct>))

// The top-level runs: the search itself runs in plain pixel coordinates on
// the inner model; only the reported points go through the client
// transforms of the training and searched images, which need not be linear.
#include <qsrch/search.h>

#include "frame/call_frame.hpp"
#include "frame/image_checks.hpp"
#include "run/search_internal.hpp"
#include "search/search_internal.hpp"

namespace {

// The checks every run makes after its image checks.
qsrch::Status requireRunnable(const qsrch_model* model, const qsrch_runParams* params)
{
    QSRCH_RETURN_IF_ERROR(qsrch_runParams_validate(params));
    return qsrch::requireTrained(model);
}

// The image forms: a view of the whole image and its image-from-client
// transform, with the mask's view when there is a bound mask.
qsrch::Status runImage(const qsrch_model* model, const qimg_imageConst* image, const qimg_imageConst* mask,
                       const qsrch_runParams* params, qsrch_resultSet* set)
{
    qsrch::CallFrame<1> frame;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch::requireBound(image, QSRCH_E_IMAGE_UNBOUND)));
    uint32_t maskBound = 0;
    if (mask != nullptr) QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_getIsBound(mask, &maskBound)));
    qimg_windowConst view;
    qmath_xformPtrhConst imageFromClient;
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_xformPtrhConst_construct(&imageFromClient)));
    frame.release<qmath_xformPtrhConst_destruct>(0, &imageFromClient);
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch::viewWithTransform(image, &view, &imageFromClient)));
    qimg_windowConst maskView;
    if (maskBound != 0) QSRCH_RETURN_IF_ERROR(frame.track(qimg_windowConst_init(&maskView, mask)));
    QSRCH_RETURN_IF_ERROR(frame.track(requireRunnable(model, params)));
    return frame.finish(qsrch_runMaskWindow_usingNormcorr(model, &view, maskBound != 0 ? &maskView : nullptr,
                                                          &imageFromClient, params, set));
}

// One result as an entry: the pose's translation places the pattern's pixel
// (0, 0) in the searched view; the origin lies `originInPattern` beyond it,
// and the view `viewOrigin` into its image.
qsrch::Status toEntry(const qsrch_normcorr_result& result, const qmath_vect& originInPattern,
                      const qmath_vect& viewOrigin, const qmath_xformPtrhConst& clientFromImage,
                      qsrch_resultSetEntry* entryOut)
{
    qmath_vect inView, inImage;
    QSRCH_RETURN_IF_ERROR(qmath_vect_initAdd(&inView, &result.pose.trans, &originInPattern));
    QSRCH_RETURN_IF_ERROR(qmath_vect_initAdd(&inImage, &inView, &viewOrigin));
    qsrch_resultSetEntry entry;
    entry.accepted = result.accepted;
    QSRCH_RETURN_IF_ERROR(qmath_xformPtrhConst_mapPoint(&clientFromImage, &inImage, &entry.point));
    entry.score = result.score;
    entry.flags = result.flags;
    *entryOut = entry;
    return QSRCH_OK;
}

}  // namespace

extern "C" {

qsrch_status qsrch_run(const qsrch_model* model, const qimg_imageConst* image, const qsrch_runParams* params,
                       qsrch_resultSet* set)
{
    return runImage(model, image, nullptr, params, set);
}

qsrch_status qsrch_runMask(const qsrch_model* model, const qimg_imageConst* image, const qimg_imageConst* mask,
                           const qsrch_runParams* params, qsrch_resultSet* set)
{
    return runImage(model, image, mask, params, set);
}

qsrch_status qsrch_runWindow(const qsrch_model* model, const qimg_windowConst* view,
                             const qmath_xformPtrhConst* imageFromClient, const qsrch_runParams* params,
                             qsrch_resultSet* set)
{
    QSRCH_RETURN_IF_ERROR(requireRunnable(model, params));
    return qsrch_runMaskWindow_usingNormcorr(model, view, nullptr, imageFromClient, params, set);
}

qsrch_status qsrch_runMaskWindow(const qsrch_model* model, const qimg_windowConst* view,
                                 const qimg_windowConst* maskView, const qmath_xformPtrhConst* imageFromClient,
                                 const qsrch_runParams* params, qsrch_resultSet* set)
{
    QSRCH_RETURN_IF_ERROR(requireRunnable(model, params));
    return qsrch_runMaskWindow_usingNormcorr(model, view, maskView, imageFromClient, params, set);
}

qsrch_status qsrch_runMaskWindow_usingNormcorr(const qsrch_model* model, const qimg_windowConst* view,
                                               const qimg_windowConst* maskView,
                                               const qmath_xformPtrhConst* imageFromClient,
                                               const qsrch_runParams* params, qsrch_resultSet* set)
{
    qsrch::CallFrame<3> frame;
    qmath_xformLinear identity;
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_xformLinear_initIdentity(&identity)));
    qstd_vector_qsrch_normcorr_result results;
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qsrch_normcorr_result_constructEmpty(&results)));
    frame.release<qstd_vector_qsrch_normcorr_result_destruct>(0, &results);
    qsrch_normcorr_runParams normcorrParams;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_runParams_initFromRunParams(&normcorrParams, params)));

    const qimg_windowConst searchView = qsrch::atPixelOrigin(*view);
    qimg_windowConst searchMask;
    if (maskView != nullptr) searchMask = qsrch::atPixelOrigin(*maskView);
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_runWindowInternal(
        model->normcorrModel, &searchView, maskView != nullptr ? &searchMask : nullptr, &normcorrParams,
        &identity, &results)));

    // The origin in pattern pixels: through the training image's transform,
    // then relative to where the training view lay in that image.
    qmath_xformPtrhConst trainFromClient;
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_xformPtrhConst_construct(&trainFromClient)));
    frame.release<qmath_xformPtrhConst_destruct>(1, &trainFromClient);
    QSRCH_RETURN_IF_ERROR(
        frame.track(qimg_imageConst_getImageFromClientXform(&model->trainImage, &trainFromClient)));
    qmath_vect originInTrain, originInPattern, viewOrigin;
    QSRCH_RETURN_IF_ERROR(
        frame.track(qmath_xformPtrhConst_mapPoint(&trainFromClient, &model->origin, &originInTrain)));
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_vect_init(&originInPattern, originInTrain.x - model->trainImage.x,
                                                      originInTrain.y - model->trainImage.y)));
    // The caller's view, not the copy moved to (0, 0).
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_vect_init(&viewOrigin, view->x, view->y)));

    qmath_xformPtrhConst clientFromImage;
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_xformPtrhConst_construct(&clientFromImage)));
    frame.release<qmath_xformPtrhConst_destruct>(2, &clientFromImage);
    QSRCH_RETURN_IF_ERROR(
        frame.track(qmath_xformPtrhConst_getInverseConst(imageFromClient, &clientFromImage)));

    const qsrch_normcorr_result* found = nullptr;
    uint32_t n = 0;
    QSRCH_RETURN_IF_ERROR(
        frame.track(qstd_vector_qsrch_normcorr_result_getBeginSizeConst(&results, &found, &n)));
    const int32_t count = static_cast<int32_t>(n);
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch::reserveResultEntries(set, count)));
    set->count = count;
    for (int32_t i = 0; i < count; ++i)
        QSRCH_RETURN_IF_ERROR(
            frame.track(toEntry(found[i], originInPattern, viewOrigin, clientFromImage, &set->entries[i])));
    return frame.finish();
}

}  // extern "C"

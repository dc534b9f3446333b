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
qsrch_status requireRunnable(const qsrch_model* model, const qsrch_runParams* params)
{
    qsrch_status s = qsrch_runParams_validate(params);
    if (QSRCH_FAILED(s)) return s;
    return qsrch::requireTrained(model);
}

// The image forms: a view of the whole image and its image-from-client
// transform, with the mask's view when there is a bound mask.
qsrch_status runImage(const qsrch_model* model, const qimg_imageConst* image, const qimg_imageConst* mask,
                      const qsrch_runParams* params, qsrch_resultSet* set)
{
    qsrch::CallFrame<1> frame;
    if (frame.step(qsrch::requireBound(image, QSRCH_E_IMAGE_UNBOUND))) return frame.finish();
    uint32_t maskBound = 0;
    if (mask != nullptr && frame.step(qimg_imageConst_getIsBound(mask, &maskBound))) return frame.finish();
    qimg_windowConst view;
    if (frame.step(qimg_windowConst_init(&view, image))) return frame.finish();
    qmath_xformPtrhConst imageFromClient;
    if (frame.step(qmath_xformPtrhConst_construct(&imageFromClient))) return frame.finish();
    frame.release<qmath_xformPtrhConst_destruct>(0, &imageFromClient);
    if (frame.step(qimg_imageConst_getImageFromClientXform(image, &imageFromClient))) return frame.finish();
    qimg_windowConst maskView;
    if (maskBound != 0 && frame.step(qimg_windowConst_init(&maskView, mask))) return frame.finish();
    if (frame.step(requireRunnable(model, params))) return frame.finish();
    frame.step(qsrch_runMaskWindow_usingNormcorr(model, &view, maskBound != 0 ? &maskView : nullptr,
                                                 &imageFromClient, params, set));
    return frame.finish();
}

// One result as an entry: the pose's translation places the pattern's pixel
// (0, 0) in the searched view; the origin lies `originInPattern` beyond it,
// and the view `viewOrigin` into its image.
qsrch_status toEntry(const qsrch_normcorr_result& result, const qmath_vect& originInPattern,
                     const qmath_vect& viewOrigin, const qmath_xformPtrhConst& clientFromImage,
                     qsrch_resultSetEntry* entryOut)
{
    qmath_vect inView, inImage;
    qsrch_status s = qmath_vect_initAdd(&inView, &result.pose.trans, &originInPattern);
    if (QSRCH_FAILED(s)) return s;
    s = qmath_vect_initAdd(&inImage, &inView, &viewOrigin);
    if (QSRCH_FAILED(s)) return s;
    qsrch_resultSetEntry entry;
    entry.accepted = result.accepted;
    s = qmath_xformPtrhConst_mapPoint(&clientFromImage, &inImage, &entry.point);
    if (QSRCH_FAILED(s)) return s;
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
    qsrch_status s = requireRunnable(model, params);
    if (QSRCH_FAILED(s)) return s;
    return qsrch_runMaskWindow_usingNormcorr(model, view, nullptr, imageFromClient, params, set);
}

qsrch_status qsrch_runMaskWindow(const qsrch_model* model, const qimg_windowConst* view,
                                 const qimg_windowConst* maskView, const qmath_xformPtrhConst* imageFromClient,
                                 const qsrch_runParams* params, qsrch_resultSet* set)
{
    qsrch_status s = requireRunnable(model, params);
    if (QSRCH_FAILED(s)) return s;
    return qsrch_runMaskWindow_usingNormcorr(model, view, maskView, imageFromClient, params, set);
}

qsrch_status qsrch_runMaskWindow_usingNormcorr(const qsrch_model* model, const qimg_windowConst* view,
                                               const qimg_windowConst* maskView,
                                               const qmath_xformPtrhConst* imageFromClient,
                                               const qsrch_runParams* params, qsrch_resultSet* set)
{
    qsrch::CallFrame<3> frame;
    qmath_xformLinear identity;
    if (frame.step(qmath_xformLinear_initIdentity(&identity))) return frame.finish();
    qstd_vector_qsrch_normcorr_result results;
    if (frame.step(qstd_vector_qsrch_normcorr_result_constructEmpty(&results))) return frame.finish();
    frame.release<qstd_vector_qsrch_normcorr_result_destruct>(0, &results);
    qsrch_normcorr_runParams normcorrParams;
    if (frame.step(qsrch_normcorr_runParams_initFromRunParams(&normcorrParams, params))) return frame.finish();

    const qimg_windowConst searchView = qsrch::atPixelOrigin(*view);
    qimg_windowConst searchMask;
    if (maskView != nullptr) searchMask = qsrch::atPixelOrigin(*maskView);
    if (frame.step(qsrch_normcorr_runWindowInternal(model->normcorrModel, &searchView,
                                                    maskView != nullptr ? &searchMask : nullptr, &normcorrParams,
                                                    &identity, &results)))
        return frame.finish();

    // The origin in pattern pixels: through the training image's transform,
    // then relative to where the training view lay in that image.
    qmath_xformPtrhConst trainFromClient;
    if (frame.step(qmath_xformPtrhConst_construct(&trainFromClient))) return frame.finish();
    frame.release<qmath_xformPtrhConst_destruct>(1, &trainFromClient);
    if (frame.step(qimg_imageConst_getImageFromClientXform(&model->trainImage, &trainFromClient)))
        return frame.finish();
    qmath_vect originInTrain, originInPattern, viewOrigin;
    if (frame.step(qmath_xformPtrhConst_mapPoint(&trainFromClient, &model->origin, &originInTrain)))
        return frame.finish();
    if (frame.step(qmath_vect_init(&originInPattern, originInTrain.x - model->trainImage.x,
                                   originInTrain.y - model->trainImage.y)))
        return frame.finish();
    // The caller's view, not the copy moved to (0, 0).
    if (frame.step(qmath_vect_init(&viewOrigin, view->x, view->y))) return frame.finish();

    qmath_xformPtrhConst clientFromImage;
    if (frame.step(qmath_xformPtrhConst_construct(&clientFromImage))) return frame.finish();
    frame.release<qmath_xformPtrhConst_destruct>(2, &clientFromImage);
    if (frame.step(qmath_xformPtrhConst_getInverseConst(imageFromClient, &clientFromImage))) return frame.finish();

    const qsrch_normcorr_result* found = nullptr;
    uint32_t n = 0;
    if (frame.step(qstd_vector_qsrch_normcorr_result_getBeginSizeConst(&results, &found, &n))) return frame.finish();
    const int32_t count = static_cast<int32_t>(n);
    if (frame.step(qsrch::reserveResultEntries(set, count))) return frame.finish();
    set->count = count;
    for (int32_t i = 0; i < count; ++i)
        if (frame.step(toEntry(found[i], originInPattern, viewOrigin, clientFromImage, &set->entries[i])))
            return frame.finish();
    return frame.finish();
}

}  // extern "C"

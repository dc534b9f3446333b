// The run entry points: they check the image handles and the transform,
// make views of the images, build the source pyramid with the model's
// reduction factors and hand it to the coarse-to-fine search. The run
// parameters are checked by the search itself, after the pyramid exists,
// so an unbound image is reported first, then an untrained model, then
// invalid parameters.
#include "frame/call_frame.hpp"
#include "frame/image_checks.hpp"
#include "run/search_internal.hpp"

namespace {

using qsrch::requireBound;
using qsrch::requireLinearClientFromImage;

// The body of both internal forms: planes 1 and 2 are NULL for grey views.
qsrch::Status runViews(const qsrch_normcorr_model* model, const qimg_windowConst* plane0,
                       const qimg_windowConst* plane1, const qimg_windowConst* plane2,
                       const qimg_windowConst* mask, const qsrch_normcorr_runParams* params,
                       const qmath_xformLinear* imageFromClient, qstd_vector_qsrch_normcorr_result* results)
{
    qsrch::CallFrame<1> frame;
    QSRCH_RETURN_IF_ERROR(frame.track(requireBound(&model->trainImage, QSRCH_E_NOT_TRAINED)));
    qstd_vector_qsrch_normcorr_level_ sourceLevels;
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qsrch_normcorr_level__constructEmpty(&sourceLevels)));
    frame.release<qstd_vector_qsrch_normcorr_level__destruct>(0, &sourceLevels);
    uint32_t levelCount = 0;
    QSRCH_RETURN_IF_ERROR(
        frame.track(qstd_vector_qsrch_normcorr_level__getSize32(&model->levels, &levelCount)));

    // A mask view without pixels stands for no mask.
    if (mask != nullptr && mask->firstPixel == nullptr) mask = nullptr;
    const int32_t count = static_cast<int32_t>(levelCount);
    const qsrch_status built =
        plane1 == nullptr
            ? qsrch_normcorr_generateSrcLevelsMask(plane0, mask, &model->levels, count, &sourceLevels)
            : qsrch_normcorr_generateSrcLevelsMask3(plane0, plane1, plane2, mask, &model->levels, count,
                                                    &sourceLevels);
    QSRCH_RETURN_IF_ERROR(frame.track(built));
    return frame.finish(
        qsrch_normcorr_runInternalLevels(model, &sourceLevels, params, imageFromClient, results));
}

}  // namespace

extern "C" {

qsrch_status qsrch_normcorr_runWindowInternal(const qsrch_normcorr_model* model,
                                              const qimg_windowConst* window,
                                              const qimg_windowConst* maskWindow,
                                              const qsrch_normcorr_runParams* params,
                                              const qmath_xformLinear* imageFromClient,
                                              qstd_vector_qsrch_normcorr_result* results)
{
    return runViews(model, window, nullptr, nullptr, maskWindow, params, imageFromClient, results);
}

qsrch_status qsrch_normcorr_runWindowInternal3(
    const qsrch_normcorr_model* model, const qimg_windowConst* window1, const qimg_windowConst* window2,
    const qimg_windowConst* window3, const qimg_windowConst* maskWindow,
    const qsrch_normcorr_runParams* params, const qmath_xformLinear* imageFromClient,
    qstd_vector_qsrch_normcorr_result* results)
{
    return runViews(model, window1, window2, window3, maskWindow, params, imageFromClient, results);
}

qsrch_status qsrch_normcorr_run(const qsrch_normcorr_model* model, const qimg_imageConst* image,
                                const qsrch_normcorr_runParams* params,
                                qstd_vector_qsrch_normcorr_result* results)
{
    QSRCH_RETURN_IF_ERROR(requireBound(image, QSRCH_E_IMAGE_UNBOUND));
    QSRCH_RETURN_IF_ERROR(requireLinearClientFromImage(image));
    qimg_windowConst window;
    QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&window, image));
    qmath_xformLinear imageFromClient;
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_getLinearImageFromClientXform(image, &imageFromClient));
    return qsrch_normcorr_runWindowInternal(model, &window, nullptr, params, &imageFromClient, results);
}

qsrch_status qsrch_normcorr_runMask(const qsrch_normcorr_model* model, const qimg_imageConst* image,
                                    const qimg_imageConst* mask, const qsrch_normcorr_runParams* params,
                                    qstd_vector_qsrch_normcorr_result* results)
{
    QSRCH_RETURN_IF_ERROR(requireBound(image, QSRCH_E_IMAGE_UNBOUND));
    // An unbound mask is no error: every image pixel counts.
    uint32_t maskBound = 0;
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_getIsBound(mask, &maskBound));
    QSRCH_RETURN_IF_ERROR(requireLinearClientFromImage(image));
    qimg_windowConst window, maskWindow;
    QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&window, image));
    if (maskBound) QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&maskWindow, mask));
    qmath_xformLinear imageFromClient;
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_getLinearImageFromClientXform(image, &imageFromClient));
    return qsrch_normcorr_runWindowInternal(model, &window, maskBound ? &maskWindow : nullptr, params,
                                            &imageFromClient, results);
}

qsrch_status qsrch_normcorr_run3(const qsrch_normcorr_model* model, const qimg_imageConst* image1,
                                 const qimg_imageConst* image2, const qimg_imageConst* image3,
                                 const qsrch_normcorr_runParams* params,
                                 qstd_vector_qsrch_normcorr_result* results)
{
    const qimg_imageConst* planes[3] = {image1, image2, image3};
    for (const qimg_imageConst* plane : planes)
        QSRCH_RETURN_IF_ERROR(requireBound(plane, QSRCH_E_IMAGE_UNBOUND));
    QSRCH_RETURN_IF_ERROR(requireLinearClientFromImage(image1));
    qimg_windowConst windows[3];
    for (int i = 0; i < 3; ++i)
        QSRCH_RETURN_IF_ERROR(qimg_windowConst_init(&windows[i], planes[i]));
    qmath_xformLinear imageFromClient;
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_getLinearImageFromClientXform(image1, &imageFromClient));
    return qsrch_normcorr_runWindowInternal3(model, &windows[0], &windows[1], &windows[2], nullptr, params,
                                             &imageFromClient, results);
}

qsrch_status qsrch_normcorr_runWindow(const qsrch_normcorr_model* model, const qimg_windowConst* window,
                                      const qmath_xformLinear* imageFromClient,
                                      const qsrch_normcorr_runParams* params,
                                      qstd_vector_qsrch_normcorr_result* results)
{
    return qsrch_normcorr_runWindowInternal(model, window, nullptr, params, imageFromClient, results);
}

qsrch_status qsrch_normcorr_runMaskWindow(const qsrch_normcorr_model* model, const qimg_windowConst* window,
                                          const qimg_windowConst* maskWindow,
                                          const qmath_xformLinear* imageFromClient,
                                          const qsrch_normcorr_runParams* params,
                                          qstd_vector_qsrch_normcorr_result* results)
{
    return qsrch_normcorr_runWindowInternal(model, window, maskWindow, params, imageFromClient, results);
}

qsrch_status qsrch_normcorr_runWindow3(const qsrch_normcorr_model* model, const qimg_windowConst* window1,
                                       const qimg_windowConst* window2, const qimg_windowConst* window3,
                                       const qmath_xformLinear* imageFromClient,
                                       const qsrch_normcorr_runParams* params,
                                       qstd_vector_qsrch_normcorr_result* results)
{
    return qsrch_normcorr_runWindowInternal3(model, window1, window2, window3, nullptr, params,
                                             imageFromClient, results);
}

}  // extern "C"

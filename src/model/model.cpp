// The model record: construction, copying by sharing pixels, destruction on
// the heap or in place, its queries and transform setters, and the vector
// families that hold models and vectors of them.
#include <qsrch/model.h>

#include "frame/call_frame.hpp"
#include "frame/image_checks.hpp"
#include "frame/vector_family.hpp"

namespace {

// The getters' trained check: the bound-query's own failure, or
// QSRCH_E_NOT_TRAINED for a model without a training image.
qsrch::Status requireTrained(const qsrch_normcorr_model* model)
{
    return qsrch::requireBound(&model->trainImage, QSRCH_E_NOT_TRAINED);
}

// A training image or mask handed out shares the model's pixels and maps
// back to the client's frame.
qsrch::Status handOut(const qsrch_normcorr_model* model, const qimg_imageConst* held, qimg_imageConst* out)
{
    QSRCH_RETURN_IF_ERROR(requireTrained(model));
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_assign(out, held));
    return qimg_imageConst_setLinearImageFromClientXform(out, &model->patFromClient);
}

}  // namespace

extern "C" {

qsrch_status qsrch_normcorr_model_construct(qsrch_normcorr_model* model)
{
    qsrch::CallFrame<3> frame;
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector_qsrch_normcorr_level__constructEmpty(&model->levels)));
    frame.releaseOnFailure<qstd_vector_qsrch_normcorr_level__destruct>(0, &model->levels);
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_trainParams_init(&model->trainParams)));
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_xformLinear_initIdentity(&model->clientFromPat)));
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_xformLinear_initIdentity(&model->patFromClient)));
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_constructUnbound(&model->trainImage)));
    frame.releaseOnFailure<qimg_imageConst_destruct>(1, &model->trainImage);
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_constructUnbound(&model->trainMask)));
    frame.releaseOnFailure<qimg_imageConst_destruct>(2, &model->trainMask);
    return frame.finish();
}

qsrch_status qsrch_normcorr_model_constructCopy(qsrch_normcorr_model* model,
                                                const qsrch_normcorr_model* source)
{
    qsrch::CallFrame<1> frame;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_model_construct(model)));
    frame.releaseOnFailure<qsrch_normcorr_model_destruct>(0, model);
    return frame.finish(qsrch_normcorr_model_assign(model, source));
}

qsrch_status qsrch_normcorr_model_assign(qsrch_normcorr_model* model, const qsrch_normcorr_model* source)
{
    if (model == source) return QSRCH_OK;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__assign(&model->levels, &source->levels));
    model->trainParams = source->trainParams;
    model->clientFromPat = source->clientFromPat;
    model->patFromClient = source->patFromClient;
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_assign(&model->trainImage, &source->trainImage));
    return qimg_imageConst_assign(&model->trainMask, &source->trainMask);
}

qsrch_status qsrch_normcorr_model_destruct(qsrch_normcorr_model* model)
{
    QSRCH_RETURN_IF_ERROR(qstd_vector_qsrch_normcorr_level__destruct(&model->levels));
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_destruct(&model->trainImage));
    return qimg_imageConst_destruct(&model->trainMask);
}

qsrch_status qsrch_normcorr_model_delete(qsrch_normcorr_model** modelp)
{
    if (*modelp == nullptr) return QSRCH_OK;
    QSRCH_RETURN_IF_ERROR(qsrch_normcorr_model_destruct(*modelp));
    return qsys_memory_free_internal(modelp);
}

qsrch_status qsrch_normcorr_model_new(qsrch_normcorr_model** modelp)
{
    QSRCH_RETURN_IF_ERROR(qsrch_normcorr_model_delete(modelp));
    void* block = nullptr;
    QSRCH_RETURN_IF_ERROR(qsys_memory_alloc_internal(sizeof(qsrch_normcorr_model), &block));
    const qsrch_status s = qsrch_normcorr_model_construct(static_cast<qsrch_normcorr_model*>(block));
    if (QSRCH_FAILED(s)) {
        (void)qsys_memory_free_internal(&block);  // the construction's failure is the one returned
        return s;
    }
    *modelp = static_cast<qsrch_normcorr_model*>(block);
    return QSRCH_OK;
}

qsrch_status qsrch_normcorr_model_getIsTrained(const qsrch_normcorr_model* model, uint32_t* trainedOut)
{
    return qimg_imageConst_getIsBound(&model->trainImage, trainedOut);
}

qsrch_status qsrch_normcorr_model_getTrainImage(const qsrch_normcorr_model* model, qimg_imageConst* imageOut)
{
    return handOut(model, &model->trainImage, imageOut);
}

qsrch_status qsrch_normcorr_model_getTrainMask(const qsrch_normcorr_model* model, qimg_imageConst* maskOut)
{
    return handOut(model, &model->trainMask, maskOut);
}

qsrch_status qsrch_normcorr_model_getTrainParams(const qsrch_normcorr_model* model,
                                                 qsrch_normcorr_trainParams* paramsOut)
{
    QSRCH_RETURN_IF_ERROR(requireTrained(model));
    *paramsOut = model->trainParams;
    return QSRCH_OK;
}

qsrch_status qsrch_normcorr_model_setClientFromPatXform(qsrch_normcorr_model* model,
                                                        const qmath_xformLinear* clientFromPat)
{
    // Copied first: the argument may be one of the model's own transforms.
    const qmath_xformLinear given = *clientFromPat;
    model->clientFromPat = given;
    return qmath_xformLinear_getInverse(&given, &model->patFromClient);
}

qsrch_status qsrch_normcorr_model_setPatFromClientXform(qsrch_normcorr_model* model,
                                                        const qmath_xformLinear* patFromClient)
{
    const qmath_xformLinear given = *patFromClient;
    model->patFromClient = given;
    return qmath_xformLinear_getInverse(&given, &model->clientFromPat);
}

}  // extern "C"

QSRCH_DEFINE_VECTOR_FAMILY(qsrch_normcorr_model,
                           (&qsrch::elementTable<qsrch_normcorr_model, &qsrch_normcorr_model_construct,
                                                 &qsrch_normcorr_model_constructCopy, &qsrch_normcorr_model_assign,
                                                 &qsrch_normcorr_model_destruct>))

QSRCH_DEFINE_VECTOR_FAMILY_OF(vector_qsrch_normcorr_model, qstd_vector_qsrch_normcorr_model,
                              &qsrch::vectorOfVectorsTable<&qstd_vector_qsrch_normcorr_model_constructEmpty>)

/* qsrch: searching with a trained normalized-correlation model. */
#ifndef QSRCH_RUN_H
#define QSRCH_RUN_H

#include "../qimg/qimg.h"
#include "model.h"
#include "params.h"
#include "vectors.h"

QSIB_EXTERN_C_BEGIN

/* One instance found by a search. */
typedef struct qsrch_normcorr_result {
    uint32_t accepted;      /* 1 when the score reaches the accept threshold */
    qmath_xformLinear pose; /* model client coordinates to the searched image's client coordinates */
    float score;            /* normalized-correlation score */
    uint32_t flags;         /* the peak detector's flags */
    double contrast;        /* image deviation over pattern deviation */
    double brightness;      /* image sum over pattern sum */
} qsrch_normcorr_result;

/* accepted 0, identity pose, every number 0. */
QSRCH_API qsrch_status qsrch_normcorr_result_init(qsrch_normcorr_result* result);

QSRCH_DECLARE_VECTOR_FAMILY(qsrch_normcorr_result)
QSRCH_DECLARE_VECTOR_FAMILY_OF(vector_qsrch_normcorr_result, qstd_vector_qsrch_normcorr_result)

/* ---- Running a search ------------------------------------------------------------
 * Each run function searches an image for the trained pattern and resizes
 * results to the instances found, best first (at most numToFind of them,
 * unless the model has a single level searched without overlap test, when
 * every peak of level 0 is reported, in the peak detector's order: highest
 * first, by the peak's height between grid positions interpolated from its
 * scores before refinement). Checks, in order: the image (every plane of a
 * three-plane image) is bound, QSRCH_E_IMAGE_UNBOUND; its
 * client-from-image transform is linear, QSRCH_E_NONLINEAR_XFORM; the model
 * is trained, QSRCH_E_NOT_TRAINED; the run parameters are valid; the image
 * is larger than the pattern, QSRCH_E_IMAGE_TOO_SMALL (an image of exactly
 * the pattern's size is scored at its one position when
 * singlePositionScoring is set). The view forms make no checks of their own
 * and take the image-from-client transform of the view's image from the
 * caller. A mask (same size as the image; unbound, NULL or without pixels
 * for none) limits the image pixels that count. Three-plane forms use the
 * first plane's transform, and only the first plane for a grey model.
 * Each result's pose maps the model's client coordinates to the searched
 * image's client coordinates. After a failure the results are unspecified. */
QSRCH_API qsrch_status qsrch_normcorr_run(const qsrch_normcorr_model* model, const qimg_imageConst* image,
                                          const qsrch_normcorr_runParams* params,
                                          qstd_vector_qsrch_normcorr_result* results);
QSRCH_API qsrch_status qsrch_normcorr_runMask(const qsrch_normcorr_model* model,
                                              const qimg_imageConst* image, const qimg_imageConst* mask,
                                              const qsrch_normcorr_runParams* params,
                                              qstd_vector_qsrch_normcorr_result* results);
QSRCH_API qsrch_status qsrch_normcorr_run3(const qsrch_normcorr_model* model, const qimg_imageConst* image1,
                                           const qimg_imageConst* image2, const qimg_imageConst* image3,
                                           const qsrch_normcorr_runParams* params,
                                           qstd_vector_qsrch_normcorr_result* results);
QSRCH_API qsrch_status qsrch_normcorr_runWindow(const qsrch_normcorr_model* model,
                                                const qimg_windowConst* window,
                                                const qmath_xformLinear* imageFromClient,
                                                const qsrch_normcorr_runParams* params,
                                                qstd_vector_qsrch_normcorr_result* results);
QSRCH_API qsrch_status qsrch_normcorr_runMaskWindow(const qsrch_normcorr_model* model,
                                                    const qimg_windowConst* window,
                                                    const qimg_windowConst* maskWindow,
                                                    const qmath_xformLinear* imageFromClient,
                                                    const qsrch_normcorr_runParams* params,
                                                    qstd_vector_qsrch_normcorr_result* results);
QSRCH_API qsrch_status qsrch_normcorr_runWindow3(const qsrch_normcorr_model* model,
                                                 const qimg_windowConst* window1,
                                                 const qimg_windowConst* window2,
                                                 const qimg_windowConst* window3,
                                                 const qmath_xformLinear* imageFromClient,
                                                 const qsrch_normcorr_runParams* params,
                                                 qstd_vector_qsrch_normcorr_result* results);

/* The coarse-to-fine search of a source pyramid built for the model (as
 * many levels as the model or fewer, level 0 the searched view with its
 * origin): validates the parameters, then searches and fills results as the
 * run functions do. imageFromClient is the linear image-from-client
 * transform of the searched image. On failure results keep what they held,
 * except for single-position scoring, which has resized them to one. */
QSRCH_API qsrch_status qsrch_normcorr_runInternalLevels(const qsrch_normcorr_model* model,
                                                        const qstd_vector_qsrch_normcorr_level_* sourceLevels,
                                                        const qsrch_normcorr_runParams* params,
                                                        const qmath_xformLinear* imageFromClient,
                                                        qstd_vector_qsrch_normcorr_result* results);

QSIB_EXTERN_C_END

#endif

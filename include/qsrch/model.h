/* qsrch: the trained normalized-correlation model. Training turns a pattern
 * (one plane or three, whole images or views, with or without a care mask)
 * into a pyramid of pattern levels with the statistics the correlation
 * score needs; the model keeps that pyramid, the training parameters in
 * force, the transforms between the pattern's pixel grid and the client's
 * coordinates, and copies of the training pattern and mask. */
#ifndef QSRCH_MODEL_H
#define QSRCH_MODEL_H

#include "../qimg/qimg.h"
#include "../qmath/qmath.h"
#include "params.h"
#include "pyramid.h"
#include "vectors.h"

QSIB_EXTERN_C_BEGIN

/* A model is trained exactly when trainImage is bound; levels is then the
 * pattern pyramid (level 0 at full resolution first), and trainParams holds
 * the granularities actually used, which training may have chosen or
 * lowered. An untrained model has no levels and the default parameters. */
typedef struct qsrch_normcorr_model {
    qstd_vector_qsrch_normcorr_level_ levels; /* pattern pyramid; empty when untrained */
    qsrch_normcorr_trainParams trainParams;   /* parameters in force */
    qmath_xformLinear clientFromPat;          /* level-0 pattern pixels to client coordinates */
    qmath_xformLinear patFromClient;          /* the inverse */
    qimg_imageConst trainImage;  /* plane 0 of the pattern, row slack cleared, with the view's origin */
    qimg_imageConst trainMask;   /* the caller's mask values, with the mask view's origin; or unbound */
} qsrch_normcorr_model;

/* ---- Lifecycle -----------------------------------------------------------------
 * construct: an untrained model (no levels, default parameters, identity
 * transforms, unbound images); a failure leaves nothing allocated.
 * constructCopy: construct, then assign. assign: the levels and images share
 * the source's pixels, everything else is copied; assigning a model to
 * itself does nothing; after a failure the destination is only fit to be
 * destructed. destruct: levels, then trainImage, then trainMask, stopping at
 * the first failure.
 * new: releases the model *modelp points to (if any), then allocates and
 * constructs a new one and stores it in *modelp, which a failed construction
 * leaves unwritten. delete: NULL *modelp is 0; otherwise destruct and free
 * (a model whose destruct fails is not freed). */
QSRCH_API qsrch_status qsrch_normcorr_model_new(qsrch_normcorr_model** modelp);
QSRCH_API qsrch_status qsrch_normcorr_model_delete(qsrch_normcorr_model** modelp);
QSRCH_API qsrch_status qsrch_normcorr_model_construct(qsrch_normcorr_model* model);
QSRCH_API qsrch_status qsrch_normcorr_model_constructCopy(qsrch_normcorr_model* model,
                                                          const qsrch_normcorr_model* source);
QSRCH_API qsrch_status qsrch_normcorr_model_assign(qsrch_normcorr_model* model,
                                                   const qsrch_normcorr_model* source);
QSRCH_API qsrch_status qsrch_normcorr_model_destruct(qsrch_normcorr_model* model);

/* ---- Queries and transforms ------------------------------------------------------
 * The getters of image, mask and parameters refuse an untrained model with
 * QSRCH_E_NOT_TRAINED and leave their output untouched. The image and mask
 * handed out share the model's pixels and carry patFromClient as their
 * image-from-client transform. Each setter sets one transform and the other
 * to its inverse, returning the inversion's status. */
QSRCH_API qsrch_status qsrch_normcorr_model_getIsTrained(const qsrch_normcorr_model* model,
                                                         uint32_t* trainedOut);
QSRCH_API qsrch_status qsrch_normcorr_model_getTrainImage(const qsrch_normcorr_model* model,
                                                          qimg_imageConst* imageOut);
QSRCH_API qsrch_status qsrch_normcorr_model_getTrainMask(const qsrch_normcorr_model* model,
                                                         qimg_imageConst* maskOut);
QSRCH_API qsrch_status qsrch_normcorr_model_getTrainParams(const qsrch_normcorr_model* model,
                                                           qsrch_normcorr_trainParams* paramsOut);
QSRCH_API qsrch_status qsrch_normcorr_model_setClientFromPatXform(qsrch_normcorr_model* model,
                                                                  const qmath_xformLinear* clientFromPat);
QSRCH_API qsrch_status qsrch_normcorr_model_setPatFromClientXform(qsrch_normcorr_model* model,
                                                                  const qmath_xformLinear* patFromClient);

/* Vectors of models hold their elements through the operations above. */
QSRCH_DECLARE_VECTOR_FAMILY(qsrch_normcorr_model)
QSRCH_DECLARE_VECTOR_FAMILY_OF(vector_qsrch_normcorr_model, qstd_vector_qsrch_normcorr_model)

/* ---- Training ------------------------------------------------------------------
 * Builds the pattern pyramid down to the coarse granularity (chosen from the
 * pattern size when autoSelectGranularity is set, or with autoSelectByTrial
 * too by trial searches of the pattern's own image, with trialThreshold and
 * no shape score: qsrch_normcorr_computeGranularitiesMaskWindow, whose
 * failure is returned), masks every
 * level and computes its care count, sums and sums of squares. A pattern
 * that is uniform at full resolution fails with QSRCH_E_NO_CONTRAST; one
 * that is uniform at a coarser level lowers the coarse granularity to the
 * last usable level when the granularity was chosen automatically and fails
 * otherwise. Patterns of fewer than 3 pixels fail with
 * QSRCH_E_PATTERN_TOO_SMALL.
 * The image forms first require a linear client-from-image transform of the
 * (plane-0) image (QSRCH_E_NONLINEAR_XFORM) and bound images
 * (QSRCH_E_IMAGE_UNBOUND, pattern planes first, then the mask); a refusal
 * there leaves the model as it was. They take the pattern-from-client
 * transform from the plane-0 image; the view forms take it from the caller.
 * The mask view of the view forms must be given; its null pixel pointer
 * means no mask. Any later failure leaves the model untrained.
 * useSurround reduces the first level from the pattern with a band of two
 * pixels of its image on every side; where the image does not reach that
 * far, the ordinary reduction is used. */
QSRCH_API qsrch_status qsrch_normcorr_model_train(qsrch_normcorr_model* model, const qimg_imageConst* image,
                                                  const qsrch_normcorr_trainParams* params);
QSRCH_API qsrch_status qsrch_normcorr_model_trainMask(qsrch_normcorr_model* model,
                                                      const qimg_imageConst* image,
                                                      const qimg_imageConst* mask,
                                                      const qsrch_normcorr_trainParams* params);
QSRCH_API qsrch_status qsrch_normcorr_model_trainWindow(qsrch_normcorr_model* model,
                                                        const qimg_windowConst* window,
                                                        const qmath_xformLinear* patFromClient,
                                                        const qsrch_normcorr_trainParams* params);
QSRCH_API qsrch_status qsrch_normcorr_model_trainMaskWindow(qsrch_normcorr_model* model,
                                                            const qimg_windowConst* window,
                                                            const qimg_windowConst* maskWindow,
                                                            const qmath_xformLinear* patFromClient,
                                                            const qsrch_normcorr_trainParams* params);
QSRCH_API qsrch_status qsrch_normcorr_model_train3(qsrch_normcorr_model* model, const qimg_imageConst* image0,
                                                   const qimg_imageConst* image1,
                                                   const qimg_imageConst* image2,
                                                   const qsrch_normcorr_trainParams* params);
QSRCH_API qsrch_status qsrch_normcorr_model_trainMask3(qsrch_normcorr_model* model,
                                                       const qimg_imageConst* image0,
                                                       const qimg_imageConst* image1,
                                                       const qimg_imageConst* image2,
                                                       const qimg_imageConst* mask,
                                                       const qsrch_normcorr_trainParams* params);
QSRCH_API qsrch_status qsrch_normcorr_model_trainWindow3(qsrch_normcorr_model* model,
                                                         const qimg_windowConst* window0,
                                                         const qimg_windowConst* window1,
                                                         const qimg_windowConst* window2,
                                                         const qmath_xformLinear* patFromClient,
                                                         const qsrch_normcorr_trainParams* params);
QSRCH_API qsrch_status qsrch_normcorr_model_trainMaskWindow3(qsrch_normcorr_model* model,
                                                             const qimg_windowConst* window0,
                                                             const qimg_windowConst* window1,
                                                             const qimg_windowConst* window2,
                                                             const qimg_windowConst* maskWindow,
                                                             const qmath_xformLinear* patFromClient,
                                                             const qsrch_normcorr_trainParams* params);
/* The model becomes untrained, with no levels and the default parameters. */
QSRCH_API qsrch_status qsrch_normcorr_model_untrain(qsrch_normcorr_model* model);

QSIB_EXTERN_C_END

#endif

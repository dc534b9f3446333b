/* qsrch: the top-level search interface. A qsrch_model wraps a
 * normalized-correlation model trained in plain pattern pixel coordinates
 * and remembers where the pattern lay in its training image, with that
 * image's own (possibly non-linear) client transform and a reference point,
 * the origin. A run reports, for each instance found, where the origin lies
 * in the client coordinates of the searched image, into a caller-owned
 * qsrch_resultSet. */
#ifndef QSRCH_SEARCH_H
#define QSRCH_SEARCH_H

#include "../qimg/qimg.h"
#include "../qmath/qmath.h"
#include "model.h"
#include "params.h"
#include "vectors.h"

QSIB_EXTERN_C_BEGIN

/* A model is trained exactly when trainImage is bound. trainImage is the
 * model's own 8-bit copy of the training view: the view's size and origin
 * and the training image's image-from-client transform. trainParams holds
 * the parameters of the last training that passed validation; it is not set
 * by the constructor and read only when trained. */
typedef struct qsrch_model {
    qsrch_normcorr_model* normcorrModel; /* owned; created by construct, deleted by destruct */
    qimg_imageConst trainImage;          /* copy of the training pixels; unbound when untrained */
    qmath_vect origin;                   /* reference point in the training image's client coordinates */
    qsrch_trainParams trainParams;       /* parameters of the last validated training */
} qsrch_model;

/* ---- Lifecycle -----------------------------------------------------------------
 * construct: untrained, origin (0, 0), with its inner model; a failure leaves
 * nothing allocated. constructCopy: construct, then assign. assign: origin
 * and parameters by value, training pixels and inner model shared with the
 * source; assigning a model to itself does nothing. destruct: the training
 * image, then (if that succeeded) the inner model. */
QSRCH_API qsrch_status qsrch_model_construct(qsrch_model* model);
QSRCH_API qsrch_status qsrch_model_constructCopy(qsrch_model* model, const qsrch_model* source);
QSRCH_API qsrch_status qsrch_model_assign(qsrch_model* model, const qsrch_model* source);
QSRCH_API qsrch_status qsrch_model_destruct(qsrch_model* model);

/* ---- Training ------------------------------------------------------------------
 * The image forms train on the whole image with its own transform; an
 * unbound image is refused with QSRCH_E_IMAGE_UNBOUND and the model keeps its
 * previous training; an unbound mask means no mask. useSurround is kept only
 * when the image reaches two pixels beyond the view on every side. The
 * window forms take the training image's image-from-client transform from
 * the caller and never use the surrounding band. Past those checks, a
 * trained model is untrained first; invalid parameters (their validator's
 * code) or a failing inner training leave it untrained. */
QSRCH_API qsrch_status qsrch_model_train(qsrch_model* model, const qimg_imageConst* image,
                                         const qsrch_trainParams* params);
QSRCH_API qsrch_status qsrch_model_trainMask(qsrch_model* model, const qimg_imageConst* image,
                                             const qimg_imageConst* mask, const qsrch_trainParams* params);
QSRCH_API qsrch_status qsrch_model_trainWindow(qsrch_model* model, const qimg_windowConst* window,
                                               const qmath_xformPtrhConst* imageFromClient,
                                               const qsrch_trainParams* params);
QSRCH_API qsrch_status qsrch_model_trainMaskWindow(qsrch_model* model, const qimg_windowConst* window,
                                                   const qimg_windowConst* maskWindow,
                                                   const qmath_xformPtrhConst* imageFromClient,
                                                   const qsrch_trainParams* params);
QSRCH_API qsrch_status qsrch_model_untrain(qsrch_model* model);

/* ---- Queries -------------------------------------------------------------------
 * Size, training image, mask and parameters refuse an untrained model with
 * QSRCH_E_NOT_TRAINED. sizeOut is (width, height) of the training view.
 * getMinSearchImageSize accepts algorithm 1 only (QSRCH_E_BAD_ALGORITHM).
 * The image and mask handed out share the model's pixels. The origin can be
 * read and set whether or not the model is trained. */
QSRCH_API qsrch_status qsrch_model_getIsTrained(const qsrch_model* model, uint32_t* flagOut);
QSRCH_API qsrch_status qsrch_model_getSize(const qsrch_model* model, qstd_pair32* sizeOut);
QSRCH_API qsrch_status qsrch_model_getMinSearchImageSize(const qsrch_model* model, uint32_t algorithm,
                                                         qstd_pair32* sizeOut);
QSRCH_API qsrch_status qsrch_model_getTrainImage(const qsrch_model* model, qimg_imageConst* imageOut);
QSRCH_API qsrch_status qsrch_model_getTrainMask(const qsrch_model* model, qimg_imageConst* maskOut);
QSRCH_API qsrch_status qsrch_model_getTrainParams(const qsrch_model* model, qsrch_trainParams* paramsOut);
QSRCH_API qsrch_status qsrch_model_getOrigin(const qsrch_model* model, qmath_vect* vectOut);
QSRCH_API qsrch_status qsrch_model_setOrigin(qsrch_model* model, const qmath_vect* vect);

/* Vectors of models hold their elements through the operations above. */
QSRCH_DECLARE_VECTOR_FAMILY(qsrch_model)

/* ---- Result sets ---------------------------------------------------------------
 * A counted array owned by the caller. Its capacity is not recorded: the
 * array is reallocated to exactly the entries needed when more are needed
 * than count says, and left alone when fewer are. */
typedef struct qsrch_resultSetEntry {
    uint32_t accepted; /* the score reached the accept threshold */
    qmath_vect point;  /* the model's origin in the searched image's client coordinates */
    float score;
    uint32_t flags;    /* the peak detector's flags */
} qsrch_resultSetEntry;

typedef struct qsrch_resultSet {
    int32_t count;                  /* valid entries */
    qsrch_resultSetEntry* entries;  /* at least count entries; NULL when nothing was ever stored */
} qsrch_resultSet;

QSRCH_API qsrch_status qsrch_resultSet_construct(qsrch_resultSet* set);
QSRCH_API qsrch_status qsrch_resultSet_constructCopy(qsrch_resultSet* set, const qsrch_resultSet* source);
/* A failure to grow leaves the set unchanged. */
QSRCH_API qsrch_status qsrch_resultSet_assign(qsrch_resultSet* set, const qsrch_resultSet* source);
QSRCH_API qsrch_status qsrch_resultSet_destruct(qsrch_resultSet* set);

/* ---- Runs ----------------------------------------------------------------------
 * The search runs in pixel coordinates; only the reported points go through
 * the client transforms, which need not be linear. imageFromClient is the
 * searched image's image-from-client transform. Checks, in order: image
 * bound (image forms, QSRCH_E_IMAGE_UNBOUND), run parameters, trained model
 * (QSRCH_E_NOT_TRAINED). An unbound mask means no mask. Entries follow the
 * search's order (best first on the main path). */
QSRCH_API qsrch_status qsrch_run(const qsrch_model* model, const qimg_imageConst* image,
                                 const qsrch_runParams* params, qsrch_resultSet* set);
QSRCH_API qsrch_status qsrch_runMask(const qsrch_model* model, const qimg_imageConst* image,
                                     const qimg_imageConst* mask, const qsrch_runParams* params,
                                     qsrch_resultSet* set);
QSRCH_API qsrch_status qsrch_runWindow(const qsrch_model* model, const qimg_windowConst* view,
                                       const qmath_xformPtrhConst* imageFromClient,
                                       const qsrch_runParams* params, qsrch_resultSet* set);
QSRCH_API qsrch_status qsrch_runMaskWindow(const qsrch_model* model, const qimg_windowConst* view,
                                           const qimg_windowConst* maskView,
                                           const qmath_xformPtrhConst* imageFromClient,
                                           const qsrch_runParams* params, qsrch_resultSet* set);
/* The common body of the runs, without checks of its own; maskView may be
 * NULL. */
QSRCH_API qsrch_status qsrch_runMaskWindow_usingNormcorr(const qsrch_model* model, const qimg_windowConst* view,
                                                         const qimg_windowConst* maskView,
                                                         const qmath_xformPtrhConst* imageFromClient,
                                                         const qsrch_runParams* params, qsrch_resultSet* set);

QSIB_EXTERN_C_END

#endif

/* qsrch: image pyramids. A level holds up to three pixel planes and an
 * optional care mask at one scale, with the transforms between its pixel
 * grid and the grid of level 0; pattern levels also carry the statistics
 * the correlation score needs. Source pyramids are built from the image to
 * be searched with the reduction factors of a trained pattern pyramid. */
#ifndef QSRCH_PYRAMID_H
#define QSRCH_PYRAMID_H

#include "../qimg/qimg.h"
#include "../qmath/qmath.h"
#include "vectors.h"

QSIB_EXTERN_C_BEGIN

/* One pyramid level. Views are plain copies and own no pixels: what they
 * show is held by the level's own image handles, by another level's
 * handles (assignment shares pixels), or, for the base level of a source
 * pyramid, by the caller's image, which must outlive the level. A plane or
 * the mask is present exactly when its view has a pixel pointer. Views of
 * the level's own images have origin (0, 0); the base view's place in the
 * caller's image is kept in origin. */
typedef struct qsrch_normcorr_level_ {
    qstd_pair32 origin;              /* first = x, second = y; (0, 0) except a source base level */
    qimg_imageConst planeImage[3];   /* pixels the level holds; unbound where views look elsewhere */
    qimg_windowConst planeWindow[3]; /* the views the kernels read; planes 1, 2 absent when grey */
    qmath_xformLinear baseFromLevel; /* level pixel coordinates to level-0 pixel coordinates */
    qmath_xformLinear levelFromBase; /* the inverse */
    uint32_t nCare;                  /* care pixels (pattern levels) */
    uint32_t sum[3];                 /* sum of pixel values per plane (pattern levels) */
    double sumSq[3];                 /* sum of squared pixel values per plane (pattern levels) */
    qimg_imageConst maskImage;       /* 0 don't care, 255 care; a source base level holds the caller's mask */
    qimg_windowConst maskWindow;     /* null pixel pointer: no mask */
    float factor;                    /* reduction from the previous level; 2.0 after construction */
} qsrch_normcorr_level_;

/* construct: an empty level (no planes, no mask, identity transforms, zero
 * statistics, factor 2.0, unbound handles); a failure leaves nothing
 * allocated. constructCopy: construct, then assign. assign: the handles
 * share the source's pixels, every other field is copied; assigning a level
 * to itself does nothing; after a failure the destination is only fit to be
 * destructed. destruct: releases the handles, stopping at the first failure. */
QSRCH_API qsrch_status qsrch_normcorr_level__construct(qsrch_normcorr_level_* level);
QSRCH_API qsrch_status qsrch_normcorr_level__constructCopy(qsrch_normcorr_level_* level,
                                                           const qsrch_normcorr_level_* source);
QSRCH_API qsrch_status qsrch_normcorr_level__assign(qsrch_normcorr_level_* level,
                                                    const qsrch_normcorr_level_* source);
QSRCH_API qsrch_status qsrch_normcorr_level__destruct(qsrch_normcorr_level_* level);

/* Vectors of levels hold their elements through the operations above, so
 * copies of a level vector share pixels with the source levels. */
QSRCH_DECLARE_VECTOR_FAMILY(qsrch_normcorr_level_)
QSRCH_DECLARE_VECTOR_FAMILY_OF(vector_qsrch_normcorr_level_, qstd_vector_qsrch_normcorr_level_)

/* ---- Source pyramids ----------------------------------------------------------
 * Replace the contents of sourceLevels with numLevels levels of the source
 * view: level 0 looks at the caller's pixels (origin = the view's origin,
 * its views moved to origin (0, 0)), and level k is level k - 1 smoothed and
 * subsampled by the factor of pattern level k, so both pyramids share their
 * scales. patternLevels is read only for those factors; numLevels must be at
 * least 1 and at most the number of pattern levels.
 * With a mask (a view with pixels of the source's size; NULL for none) each
 * level carries a mask (the caller's own on level 0, values kept; reduced
 * and made 0 / 255 on the others) and, once every level exists, plane 0 of
 * each level is replaced by its minimum with the level's mask, so pixels
 * outside the care area read 0. Three-plane forms reduce all three planes
 * and mask plane 0 only. Without a mask no pixel of level 0 is copied.
 * A failure is returned as it came; sourceLevels then holds the levels made
 * so far and is fit only to be resized or destructed. */
QSRCH_API qsrch_status qsrch_normcorr_generateSrcLevels(
    const qimg_windowConst* source, const qstd_vector_qsrch_normcorr_level_* patternLevels,
    int32_t numLevels, qstd_vector_qsrch_normcorr_level_* sourceLevels);
QSRCH_API qsrch_status qsrch_normcorr_generateSrcLevelsMask(
    const qimg_windowConst* source, const qimg_windowConst* mask,
    const qstd_vector_qsrch_normcorr_level_* patternLevels, int32_t numLevels,
    qstd_vector_qsrch_normcorr_level_* sourceLevels);
QSRCH_API qsrch_status qsrch_normcorr_generateSrcLevels3(
    const qimg_windowConst* plane0, const qimg_windowConst* plane1, const qimg_windowConst* plane2,
    const qstd_vector_qsrch_normcorr_level_* patternLevels, int32_t numLevels,
    qstd_vector_qsrch_normcorr_level_* sourceLevels);
QSRCH_API qsrch_status qsrch_normcorr_generateSrcLevelsMask3(
    const qimg_windowConst* plane0, const qimg_windowConst* plane1, const qimg_windowConst* plane2,
    const qimg_windowConst* mask, const qstd_vector_qsrch_normcorr_level_* patternLevels,
    int32_t numLevels, qstd_vector_qsrch_normcorr_level_* sourceLevels);

/* ---- Choosing the granularities by trial ----------------------------------------
 * Chooses the coarse granularity by experiment: from the size-based guess
 * (the one training makes for the pattern's smaller side) down, each
 * candidate cg is tried by training two models on the pattern with it and
 * searching the pattern's own image at every sampling phase of the coarse
 * grid; the model refined to full resolution must find the pattern where it
 * lies (its best result within a pixel of it) and the model that stops at
 * the coarse level must accept its best result (accept threshold
 * trialThreshold, three quarters of it with the shape score). A cg that fails
 * is lowered by 2 (by half below 4); the trial of an even integer cg runs on
 * images reduced by two. A pattern filling more than half of its image in
 * either direction is searched in an image twice its size, centred on it and
 * filled with the image's mean grey level beyond the image.
 * The first cg that passes is written to *coarseOut and 1 to *fineOut.
 * Without the shape flag no cg below 2 is tried: the selection then ends
 * with the last lowered cg, untried, if it is at least 1 (a pattern whose
 * smaller side is at most 8 gets 1 at once). With the flag 1 is tried too,
 * and QSRCH_E_NO_GRANULARITY follows its failure. A trial whose trainings
 * fail counts as rejected; failures of the searches and image services end
 * the selection with their status, *coarseOut holding the cg under trial.
 * The pattern view's image is what the trials search (the view widened to
 * its whole image). mask: a view with a NULL pixel pointer means no mask;
 * the image forms take a NULL or unbound mask image as no mask. The
 * three-plane form tries every cg on the three planes at full resolution. */
QSRCH_API qsrch_status qsrch_normcorr_computeGranularitiesMask(const qimg_imageConst* pattern,
                                                               const qimg_imageConst* mask,
                                                               float trialThreshold,
                                                               uint32_t shapeScoreOptimization,
                                                               uint8_t shapeThreshold, float* coarseOut,
                                                               int32_t* fineOut);
QSRCH_API qsrch_status qsrch_normcorr_computeGranularitiesMask3(const qimg_imageConst* pattern0,
                                                                const qimg_imageConst* pattern1,
                                                                const qimg_imageConst* pattern2,
                                                                const qimg_imageConst* mask,
                                                                float trialThreshold,
                                                                uint32_t shapeScoreOptimization,
                                                                uint8_t shapeThreshold, float* coarseOut,
                                                                int32_t* fineOut);
/* maskWindow must not be NULL (QSYS_E_BAD_ARGUMENT). */
QSRCH_API qsrch_status qsrch_normcorr_computeGranularitiesMaskWindow(const qimg_windowConst* pattern,
                                                                     const qimg_windowConst* maskWindow,
                                                                     float trialThreshold,
                                                                     uint32_t shapeScoreOptimization,
                                                                     uint8_t shapeThreshold,
                                                                     float* coarseOut, int32_t* fineOut);
QSRCH_API qsrch_status qsrch_normcorr_computeGranularitiesWindow(const qimg_windowConst* pattern,
                                                                 float trialThreshold,
                                                                 uint32_t shapeScoreOptimization,
                                                                 uint8_t shapeThreshold, float* coarseOut,
                                                                 int32_t* fineOut);

QSIB_EXTERN_C_END

#endif

/* qmath: points, linear and general 2-D transforms, scalar helpers. */
#ifndef QMATH_QMATH_H
#define QMATH_QMATH_H

#include "../qstd/qstd.h"

QSIB_EXTERN_C_BEGIN

typedef struct qmath_vect { double x, y; } qmath_vect;

/* Row-major 2x2 matrix: (x, y) maps to (a11 x + a12 y, a21 x + a22 y). */
typedef struct qmath_matrix { double a11, a12, a21, a22; } qmath_matrix;

/* An affine map p -> matrix * p + trans. */
typedef struct qmath_xformLinear {
    qmath_vect trans;
    qmath_matrix matrix;
} qmath_xformLinear;

QSIB_API qsys_status qmath_vect_init(qmath_vect* v, double x, double y);
QSIB_API qsys_status qmath_vect_initAdd(qmath_vect* out, const qmath_vect* a, const qmath_vect* b);

QSIB_API qsys_status qmath_matrix_getIsIdentity(const qmath_matrix* m, uint32_t* flagOut);
QSIB_API qsys_status qmath_matrix_mapPoint(const qmath_matrix* m, const qmath_vect* in,
                                           qmath_vect* out);

QSIB_API qsys_status qmath_xformLinear_initIdentity(qmath_xformLinear* x);
/* A map that scales by (sx, sy) and then shifts by (tx, ty). */
QSIB_API qsys_status qmath_xformLinear_initScaleShift(qmath_xformLinear* x, double sx, double sy,
                                                      double tx, double ty);
/* dst = a after b: b is applied first. dst may alias a or b. */
QSIB_API qsys_status qmath_xformLinear_initCompose(qmath_xformLinear* dstOut,
                                                   const qmath_xformLinear* a,
                                                   const qmath_xformLinear* b);
/* QMATH_E_SINGULAR when the matrix has no inverse. dst may alias src. */
QSIB_API qsys_status qmath_xformLinear_getInverse(const qmath_xformLinear* src,
                                                  qmath_xformLinear* dstOut);
QSIB_API qsys_status qmath_xformLinear_mapPoint(const qmath_xformLinear* x, const qmath_vect* in,
                                                qmath_vect* out);
/* Fields compare equal unless one is less or greater than the other. */
QSIB_API qsys_status qmath_xformLinear_compareEqual(const qmath_xformLinear* a,
                                                    const qmath_xformLinear* b,
                                                    uint32_t* equalOut);

/* ---- General transforms -----------------------------------------------------
 * A handle to an immutable, reference-counted 2-D transform: linear, or a
 * radial distortion about a centre, p -> c + (p - c)(1 + k |p - c|^2), or the
 * inverse of one. Handles share the transform; the last one releases it.
 * Queries and maps on an empty handle give QMATH_E_EMPTY. For k < 0 the
 * distortion folds back beyond radius 1 / sqrt(-3k), so its inverse maps
 * only points within radius (2/3) / sqrt(-3k) of the centre; farther
 * points, and points that are not finite, give QMATH_E_SINGULAR. */
typedef struct qmath_xform_ qmath_xform_;
typedef struct qmath_xformPtrhConst { const qmath_xform_* xform; } qmath_xformPtrhConst;

/* An empty handle: it holds no transform until one is set. */
QSIB_API qsys_status qmath_xformPtrhConst_construct(qmath_xformPtrhConst* h);
QSIB_API qsys_status qmath_xformPtrhConst_destruct(qmath_xformPtrhConst* h);
QSIB_API qsys_status qmath_xformPtrhConst_assign(qmath_xformPtrhConst* dst,
                                                 const qmath_xformPtrhConst* src);
QSIB_API qsys_status qmath_xformPtrhConst_setLinear(qmath_xformPtrhConst* h,
                                                    const qmath_xformLinear* x);
/* k is in units of 1 / distance^2; k = 0 is the identity but is not linear.
 * A centre or k that is not finite gives QSYS_E_BAD_ARGUMENT. */
QSIB_API qsys_status qmath_xformPtrhConst_setRadial(qmath_xformPtrhConst* h, double centerX,
                                                    double centerY, double k);
QSIB_API qsys_status qmath_xformPtrhConst_getIsLinear(const qmath_xformPtrhConst* h,
                                                      uint32_t* flagOut);
/* QMATH_E_NOT_LINEAR for a non-linear transform. */
QSIB_API qsys_status qmath_xformPtrhConst_getLinear(const qmath_xformPtrhConst* h,
                                                    qmath_xformLinear* out);
QSIB_API qsys_status qmath_xformPtrhConst_getInverseConst(const qmath_xformPtrhConst* h,
                                                          qmath_xformPtrhConst* inverseOut);
QSIB_API qsys_status qmath_xformPtrhConst_mapPoint(const qmath_xformPtrhConst* h,
                                                   const qmath_vect* in, qmath_vect* out);

/* ---- Scalars ------------------------------------------------------------- */
/* Nearest integer, halves away from zero; saturates to the int32 range, and
 * NaN gives 0. */
QSIB_API int32_t qmath_double_round(double x);
/* Largest integer not above x; saturates like qmath_double_round. */
QSIB_API int32_t qmath_double_floor(double x);
/* Non-zero when |a - b| <= tolerance. */
QSIB_API int32_t qmath_double_epsilonEqual(double a, double b, double tolerance);

/* ---- Parabolic peak fit -------------------------------------------------------
 * Sub-pixel position of a peak from the 3 x 3 neighbourhood of values
 * around its integer position, stored row by row from offset (-1, -1):
 * index (dy + 1) * 3 + (dx + 1). */
typedef struct qmath_peakDetectParabolicFitParams {
    uint32_t separable; /* 1 (default): from the centre row and column; 0: a 2-D quadric */
    double maxOffset;   /* 0.5: offsets beyond this become an integer step */
    /* How far the fitted peak of a strict maximum may lie from the integer
     * position towards -x, +x, -y and +y: 1 (construct) or, where setup
     * finds that the neighbour on that side lies on the edge of the bounds
     * and inside the rectangle searched, 0.498, so that the fitted position
     * rounds to the maximum itself. */
    double reach[4];
} qmath_peakDetectParabolicFitParams;

QSIB_API qsys_status qmath_peakDetectParabolicFitParams_construct(
    qmath_peakDetectParabolicFitParams* params);
QSIB_API qsys_status qmath_peakDetectParabolicFitParams_destruct(
    qmath_peakDetectParabolicFitParams* params);
/* Marks valid[k] = 1 for the neighbours that lie inside `bounds`, 0 for
 * the others; the centre is always valid. Sets params->reach for the
 * position: a side whose neighbour has no position beyond it inside the
 * bounds gets 0.498, unless the detector's flags (QIP_PEAK_AT_* bits) say
 * the peak lies on that edge of the rectangle searched, so that nobody
 * searches around that neighbour. values is neither read nor written. */
QSIB_API qsys_status qmath_peakDetectParabolicFitSetupArraysUsingBounds(
    qmath_peakDetectParabolicFitParams* params, const qstd_pair32* position,
    const qstd_rect32* bounds, uint32_t flags, double values[9], uint32_t valid[9]);
/* offsetOut: the fitted peak's offset from the integer position. With
 * separable set, each axis takes its slope and curvature from the centre
 * and its two neighbours on that axis, and the axes are coupled by the
 * cross curvature of the four corners when those are valid; otherwise a
 * least-squares quadric is fitted over all valid values (the first form
 * stands in when fewer than 6 are valid, they do not fix a quadric, or it
 * has no maximum). The fit runs on the logarithms of the values when those
 * it uses are positive (corners only when at least 3% of the centre), so a
 * Gaussian-shaped peak is located exactly; else on the values. Where the
 * corners show the peak sharper at its top than the quadric (as correlation
 * peaks of photographs are), the coupled offset moves outwards as far as
 * the peak's exponent says: not at all for a quadric, most for a cone.
 * An axis with an unusable neighbour, a value that is not finite, or no
 * downward curvature keeps offset 0 and step 0. The offset is kept within
 * [-1, 1], and, when the centre is higher than every valid neighbour, within
 * params->reach: a fitted peak beyond that is taken at the highest point of
 * the fitted surface within it; and within its own cell where the fitted
 * surface, in logarithms, rates the neighbour it would step to more than
 * 0.1 above that neighbour's value. Where the offset exceeds maxOffset, stepOut
 * is the step (+1 or -1) to the neighbour nearer the fitted peak, and
 * offsetOut stays the offset from the original integer position, step
 * included. reserved must be NULL. */
QSIB_API qsys_status qmath_peakDetectParabolicFit(const double values[9], const uint32_t valid[9],
                                                  const qmath_peakDetectParabolicFitParams* params,
                                                  qmath_vect* offsetOut, qstd_pair32* stepOut,
                                                  void* reserved);

QSIB_EXTERN_C_END

#endif

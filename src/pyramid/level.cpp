// The pyramid level record: construction, copying by sharing pixels, and
// destruction; and the vector families that hold levels and vectors of them.
#include <qsrch/pyramid.h>

#include "frame/call_frame.hpp"
#include "frame/vector_family.hpp"

extern "C" {

qsrch_status qsrch_normcorr_level__construct(qsrch_normcorr_level_* level)
{
    qsrch::CallFrame<4> frame;
    level->origin = qstd_pair32{0, 0};
    // Whole views zeroed rather than only their pixel pointers, so a level
    // that was never filled reads as empty everywhere.
    for (qimg_windowConst& view : level->planeWindow) view = qimg_windowConst{};
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_xformLinear_initIdentity(&level->baseFromLevel)));
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_xformLinear_initIdentity(&level->levelFromBase)));
    level->nCare = 0;
    for (int plane = 0; plane < 3; ++plane) {
        level->sum[plane] = 0;
        level->sumSq[plane] = 0.0;
    }
    level->maskWindow = qimg_windowConst{};
    level->factor = 2.0f;

    // Each handle is released again only if a later one cannot be made.
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_constructUnbound(&level->maskImage)));
    frame.releaseOnFailure<qimg_imageConst_destruct>(0, &level->maskImage);
    for (uint32_t plane = 0; plane < 3; ++plane) {
        QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_constructUnbound(&level->planeImage[plane])));
        frame.releaseOnFailure<qimg_imageConst_destruct>(1 + plane, &level->planeImage[plane]);
    }
    return frame.finish();
}

qsrch_status qsrch_normcorr_level__constructCopy(qsrch_normcorr_level_* level, const qsrch_normcorr_level_* source)
{
    qsrch::CallFrame<1> frame;
    QSRCH_RETURN_IF_ERROR(frame.track(qsrch_normcorr_level__construct(level)));
    frame.releaseOnFailure<qsrch_normcorr_level__destruct>(0, level);
    return frame.finish(qsrch_normcorr_level__assign(level, source));
}

qsrch_status qsrch_normcorr_level__assign(qsrch_normcorr_level_* level, const qsrch_normcorr_level_* source)
{
    if (level == source) return QSRCH_OK;
    qsrch_status status = QSRCH_OK;
    for (int plane = 0; plane < 3; ++plane) {
        QSRCH_RETURN_IF_ERROR(qimg_imageConst_assign(&level->planeImage[plane], &source->planeImage[plane]));
    }
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_assign(&level->maskImage, &source->maskImage));

    level->origin = source->origin;
    for (int plane = 0; plane < 3; ++plane) level->planeWindow[plane] = source->planeWindow[plane];
    level->maskWindow = source->maskWindow;
    level->baseFromLevel = source->baseFromLevel;
    level->levelFromBase = source->levelFromBase;
    level->nCare = source->nCare;
    for (int plane = 0; plane < 3; ++plane) {
        level->sum[plane] = source->sum[plane];
        level->sumSq[plane] = source->sumSq[plane];
    }
    level->factor = source->factor;
    return status;
}

qsrch_status qsrch_normcorr_level__destruct(qsrch_normcorr_level_* level)
{
    for (int plane = 0; plane < 3; ++plane) {
        QSRCH_RETURN_IF_ERROR(qimg_imageConst_destruct(&level->planeImage[plane]));
    }
    return qimg_imageConst_destruct(&level->maskImage);
}

}  // extern "C"

QSRCH_DEFINE_VECTOR_FAMILY(qsrch_normcorr_level_,
                           (&qsrch::elementTable<qsrch_normcorr_level_, &qsrch_normcorr_level__construct,
                                                 &qsrch_normcorr_level__constructCopy,
                                                 &qsrch_normcorr_level__assign,
                                                 &qsrch_normcorr_level__destruct>))

QSRCH_DEFINE_VECTOR_FAMILY_OF(vector_qsrch_normcorr_level_, qstd_vector_qsrch_normcorr_level_,
                              &qsrch::vectorOfVectorsTable<&qstd_vector_qsrch_normcorr_level__constructEmpty>)

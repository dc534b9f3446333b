// The checks the entry points make on image handles before any work: is
// there a pixel buffer, and does the image map to the client's coordinates
// through a linear transform. Each returns the query's own failure first.
#pragma once

#include <qimg/qimg.h>
#include <qsrch/frame.h>

#include "frame/call_frame.hpp"

namespace qsrch {

// QSRCH_OK for a bound handle, whenUnbound otherwise (an unbound image, or a
// model without its training image).
inline qsrch_status requireBound(const qimg_imageConst* image, qsrch_status whenUnbound)
{
    uint32_t bound = 0;
    const qsrch_status s = qimg_imageConst_getIsBound(image, &bound);
    if (QSRCH_FAILED(s)) return s;
    return bound != 0 ? QSRCH_OK : whenUnbound;
}

// Positions map to the client's frame through a linear transform only:
// QSRCH_E_NONLINEAR_XFORM otherwise.
inline qsrch_status requireLinearClientFromImage(const qimg_imageConst* image)
{
    CallFrame<1> frame;
    qmath_xformPtrhConst clientFromImage;
    if (frame.step(qmath_xformPtrhConst_construct(&clientFromImage))) return frame.finish();
    frame.release<qmath_xformPtrhConst_destruct>(0, &clientFromImage);
    if (frame.step(qimg_imageConst_getClientFromImageXform(image, &clientFromImage))) return frame.finish();
    uint32_t linear = 0;
    if (frame.step(qmath_xformPtrhConst_getIsLinear(&clientFromImage, &linear))) return frame.finish();
    if (linear == 0) frame.step(QSRCH_E_NONLINEAR_XFORM);
    return frame.finish();
}

}  // namespace qsrch

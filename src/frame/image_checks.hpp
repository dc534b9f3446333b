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
inline Status requireBound(const qimg_imageConst* image, qsrch_status whenUnbound)
{
    uint32_t bound = 0;
    QSRCH_RETURN_IF_ERROR(qimg_imageConst_getIsBound(image, &bound));
    return bound != 0 ? QSRCH_OK : whenUnbound;
}

// Positions map to the client's frame through a linear transform only:
// QSRCH_E_NONLINEAR_XFORM otherwise.
inline Status requireLinearClientFromImage(const qimg_imageConst* image)
{
    CallFrame<1> frame;
    qmath_xformPtrhConst clientFromImage;
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_xformPtrhConst_construct(&clientFromImage)));
    frame.release<qmath_xformPtrhConst_destruct>(0, &clientFromImage);
    QSRCH_RETURN_IF_ERROR(frame.track(qimg_imageConst_getClientFromImageXform(image, &clientFromImage)));
    uint32_t linear = 0;
    QSRCH_RETURN_IF_ERROR(frame.track(qmath_xformPtrhConst_getIsLinear(&clientFromImage, &linear)));
    return frame.finish(linear == 0 ? QSRCH_E_NONLINEAR_XFORM : QSRCH_OK);
}

}  // namespace qsrch

// General transforms behind qmath_xformPtrhConst: linear, radial
// distortion p -> c + (p - c)(1 + k r^2) with r = |p - c|, and its inverse.
//
// The inverse of the radial map keeps the direction from the centre and
// solves t (1 + k t^2) = s for the radius t of the source point, given the
// radius s of the mapped point. For k >= 0 the left side grows without
// bound and the root is unique in [0, s]. For k < 0 the forward map is
// one-to-one only while 1 + 3 k t^2 > 0, that is t < 1 / sqrt(-3k), where
// the mapped radius reaches its largest value (2/3) / sqrt(-3k); mapped
// points farther out than that have no inverse in that disc and give
// QMATH_E_SINGULAR, as do points that are not finite.
#include "qmath/xform_object.hpp"

#include <qsys/qsys.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace qmath_detail {

const qmath_xform_* identityXform()
{
    static const qmath_xform_ identity{
        {0}, true, qmath_xform_::kLinear, {{0.0, 0.0}, {1.0, 0.0, 0.0, 1.0}}, 0.0, 0.0, 0.0};
    return &identity;
}

void acquire(const qmath_xform_* xform)
{
    if (xform != nullptr && !xform->immortal) xform->shares.fetch_add(1, std::memory_order_relaxed);
}

void release(const qmath_xform_* xform)
{
    if (xform == nullptr || xform->immortal) return;
    if (xform->shares.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    void* block = const_cast<qmath_xform_*>(xform);
    qsys_memory_free_internal(&block);
}

}  // namespace qmath_detail

namespace {

using qmath_detail::release;

// A new object with one share, owned by the caller.
qsys_status makeXform(const qmath_xform_& value, const qmath_xform_** out)
{
    void* block = nullptr;
    qsys_status s = qsys_memory_alloc_internal(sizeof(qmath_xform_), &block);
    if (QSYS_FAILED(s)) return s;
    auto* xform =
        new (block) qmath_xform_{{1}, false, value.kind, value.linear, value.centerX, value.centerY, value.k};
    *out = xform;
    return QSYS_OK;
}

// Replaces the handle's transform by a new one that the handle now owns.
void adopt(qmath_xformPtrhConst* h, const qmath_xform_* xform)
{
    const qmath_xform_* old = h->xform;
    h->xform = xform;
    release(old);
}

qmath_xform_ xformValue(qmath_xform_::Kind kind, double centerX, double centerY, double k)
{
    return qmath_xform_{{0}, false, kind, {{0.0, 0.0}, {1.0, 0.0, 0.0, 1.0}}, centerX, centerY, k};
}

// The radius t in [0, tMax] with t (1 + k t^2) = s, by Newton steps kept
// inside a shrinking bracket (bisection whenever a step leaves it).
double solveRadius(double s, double k, double tMax)
{
    double lo = 0.0, hi = tMax;
    double t = s < tMax ? s : tMax;
    for (int iteration = 0; iteration < 200; ++iteration) {
        double f = t * (1.0 + k * t * t) - s;
        if (f == 0.0) return t;
        if (f < 0.0)
            lo = t;
        else
            hi = t;
        double slope = 1.0 + 3.0 * k * t * t;
        double next = slope > 0.0 ? t - f / slope : lo;
        if (next == t) return t;  // the step is below the resolution of t
        if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
        if (hi - lo <= 4 * std::numeric_limits<double>::epsilon() * hi) return next;
        t = next;
    }
    return t;
}

qsys_status mapInverseRadial(const qmath_xform_& x, const qmath_vect& in, qmath_vect* out)
{
    double ex = in.x - x.centerX, ey = in.y - x.centerY;
    double s = std::hypot(ex, ey);
    if (!std::isfinite(s)) return QMATH_E_SINGULAR;
    if (s == 0.0) {
        *out = qmath_vect{x.centerX, x.centerY};
        return QSYS_OK;
    }
    // The root lies below both s and cbrt(s / k) when points move outwards
    // (k > 0), else between s and the turning radius.
    double tMax = s;
    if (x.k > 0.0) {
        tMax = std::min(s, std::cbrt(s / x.k));
    } else if (x.k < 0.0) {
        tMax = 1.0 / std::sqrt(-3.0 * x.k);
        if (s > tMax * (2.0 / 3.0)) return QMATH_E_SINGULAR;
    }
    double scale = solveRadius(s, x.k, tMax) / s;
    *out = qmath_vect{x.centerX + ex * scale, x.centerY + ey * scale};
    return QSYS_OK;
}

}  // namespace

extern "C" {

qsys_status qmath_xformPtrhConst_construct(qmath_xformPtrhConst* h)
{
    h->xform = nullptr;
    return QSYS_OK;
}

qsys_status qmath_xformPtrhConst_destruct(qmath_xformPtrhConst* h)
{
    adopt(h, nullptr);
    return QSYS_OK;
}

qsys_status qmath_xformPtrhConst_assign(qmath_xformPtrhConst* dst, const qmath_xformPtrhConst* src)
{
    // Take the new share before dropping the old: safe when both are one.
    qmath_detail::acquire(src->xform);
    adopt(dst, src->xform);
    return QSYS_OK;
}

qsys_status qmath_xformPtrhConst_setLinear(qmath_xformPtrhConst* h, const qmath_xformLinear* x)
{
    qmath_xform_ value = xformValue(qmath_xform_::kLinear, 0.0, 0.0, 0.0);
    value.linear = *x;
    const qmath_xform_* made = nullptr;
    qsys_status s = makeXform(value, &made);
    if (QSYS_FAILED(s)) return s;
    adopt(h, made);
    return QSYS_OK;
}

qsys_status qmath_xformPtrhConst_setRadial(qmath_xformPtrhConst* h, double centerX, double centerY, double k)
{
    if (!std::isfinite(centerX) || !std::isfinite(centerY) || !std::isfinite(k)) return QSYS_E_BAD_ARGUMENT;
    const qmath_xform_* made = nullptr;
    qsys_status s = makeXform(xformValue(qmath_xform_::kRadial, centerX, centerY, k), &made);
    if (QSYS_FAILED(s)) return s;
    adopt(h, made);
    return QSYS_OK;
}

qsys_status qmath_xformPtrhConst_getIsLinear(const qmath_xformPtrhConst* h, uint32_t* flagOut)
{
    if (h->xform == nullptr) return QMATH_E_EMPTY;
    *flagOut = h->xform->kind == qmath_xform_::kLinear;
    return QSYS_OK;
}

qsys_status qmath_xformPtrhConst_getLinear(const qmath_xformPtrhConst* h, qmath_xformLinear* out)
{
    if (h->xform == nullptr) return QMATH_E_EMPTY;
    if (h->xform->kind != qmath_xform_::kLinear) return QMATH_E_NOT_LINEAR;
    *out = h->xform->linear;
    return QSYS_OK;
}

qsys_status qmath_xformPtrhConst_getInverseConst(const qmath_xformPtrhConst* h,
                                                 qmath_xformPtrhConst* inverseOut)
{
    const qmath_xform_* x = h->xform;
    if (x == nullptr) return QMATH_E_EMPTY;
    if (x->immortal) {  // the identity is its own inverse
        adopt(inverseOut, x);
        return QSYS_OK;
    }
    qmath_xform_ value = xformValue(x->kind, x->centerX, x->centerY, x->k);
    if (x->kind == qmath_xform_::kLinear) {
        qsys_status s = qmath_xformLinear_getInverse(&x->linear, &value.linear);
        if (QSYS_FAILED(s)) return s;
    } else {
        value.kind = x->kind == qmath_xform_::kRadial ? qmath_xform_::kInverseRadial : qmath_xform_::kRadial;
    }
    const qmath_xform_* made = nullptr;
    qsys_status s = makeXform(value, &made);
    if (QSYS_FAILED(s)) return s;
    adopt(inverseOut, made);
    return QSYS_OK;
}

qsys_status qmath_xformPtrhConst_mapPoint(const qmath_xformPtrhConst* h, const qmath_vect* in,
                                          qmath_vect* out)
{
    const qmath_xform_* x = h->xform;
    if (x == nullptr) return QMATH_E_EMPTY;
    switch (x->kind) {
        case qmath_xform_::kLinear:
            return qmath_xformLinear_mapPoint(&x->linear, in, out);
        case qmath_xform_::kRadial: {
            double dx = in->x - x->centerX, dy = in->y - x->centerY;
            double gain = 1.0 + x->k * (dx * dx + dy * dy);
            *out = qmath_vect{x->centerX + dx * gain, x->centerY + dy * gain};
            return QSYS_OK;
        }
        case qmath_xform_::kInverseRadial:
            return mapInverseRadial(*x, *in, out);
    }
    return QSYS_E_BAD_ARGUMENT;
}

}  // extern "C"

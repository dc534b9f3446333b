// The object behind a qmath_xformPtrhConst: immutable once made, shared by
// handles through a count of shares, freed by the last one.
#pragma once

#include <qmath/qmath.h>

#include <atomic>

struct qmath_xform_ {
    enum Kind : int32_t { kLinear, kRadial, kInverseRadial };

    mutable std::atomic<int64_t> shares;
    bool immortal;  // the built-in identity: never counted, never freed
    Kind kind;
    qmath_xformLinear linear;    // kLinear
    double centerX, centerY, k;  // kRadial and kInverseRadial
};

namespace qmath_detail {

// The identity, shared without allocation: images with no transform of
// their own hand it out.
const qmath_xform_* identityXform();
void acquire(const qmath_xform_* xform);
void release(const qmath_xform_* xform);

}  // namespace qmath_detail

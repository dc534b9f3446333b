// Points, 2x2 matrices and affine maps. Every operation reads its inputs
// into locals before writing, so outputs may alias inputs.
#include <qmath/qmath.h>

#include <cmath>

namespace {

qmath_vect mapped(const qmath_matrix& m, const qmath_vect& p)
{
    return qmath_vect{m.a11 * p.x + m.a12 * p.y, m.a21 * p.x + m.a22 * p.y};
}

// Neither is less or greater than the other: NaN matches anything.
bool unordered(double a, double b) { return !(a < b) && !(a > b); }

}  // namespace

extern "C" {

qsys_status qmath_vect_init(qmath_vect* v, double x, double y)
{
    *v = qmath_vect{x, y};
    return QSYS_OK;
}

qsys_status qmath_vect_initAdd(qmath_vect* out, const qmath_vect* a, const qmath_vect* b)
{
    *out = qmath_vect{a->x + b->x, a->y + b->y};
    return QSYS_OK;
}

qsys_status qmath_matrix_getIsIdentity(const qmath_matrix* m, uint32_t* flagOut)
{
    *flagOut = m->a11 == 1.0 && m->a12 == 0.0 && m->a21 == 0.0 && m->a22 == 1.0;
    return QSYS_OK;
}

qsys_status qmath_matrix_mapPoint(const qmath_matrix* m, const qmath_vect* in, qmath_vect* out)
{
    *out = mapped(*m, *in);
    return QSYS_OK;
}

qsys_status qmath_xformLinear_initIdentity(qmath_xformLinear* x)
{
    *x = qmath_xformLinear{{0.0, 0.0}, {1.0, 0.0, 0.0, 1.0}};
    return QSYS_OK;
}

qsys_status qmath_xformLinear_initScaleShift(qmath_xformLinear* x, double sx, double sy, double tx, double ty)
{
    *x = qmath_xformLinear{{tx, ty}, {sx, 0.0, 0.0, sy}};
    return QSYS_OK;
}

qsys_status qmath_xformLinear_initCompose(qmath_xformLinear* dstOut, const qmath_xformLinear* a,
                                          const qmath_xformLinear* b)
{
    const qmath_matrix& ma = a->matrix;
    const qmath_matrix& mb = b->matrix;
    qmath_xformLinear c;
    c.matrix = qmath_matrix{ma.a11 * mb.a11 + ma.a12 * mb.a21, ma.a11 * mb.a12 + ma.a12 * mb.a22,
                            ma.a21 * mb.a11 + ma.a22 * mb.a21, ma.a21 * mb.a12 + ma.a22 * mb.a22};
    qmath_vect t = mapped(ma, b->trans);
    c.trans = qmath_vect{t.x + a->trans.x, t.y + a->trans.y};
    *dstOut = c;
    return QSYS_OK;
}

qsys_status qmath_xformLinear_getInverse(const qmath_xformLinear* src, qmath_xformLinear* dstOut)
{
    const qmath_matrix& m = src->matrix;
    qmath_xformLinear inv;
    if (m.a12 == 0.0 && m.a21 == 0.0) {
        // Scale and shift, the common case: invert each axis on its own so
        // power-of-two scales invert exactly.
        if (m.a11 == 0.0 || m.a22 == 0.0 || !std::isfinite(m.a11) || !std::isfinite(m.a22))
            return QMATH_E_SINGULAR;
        inv.matrix = qmath_matrix{1.0 / m.a11, 0.0, 0.0, 1.0 / m.a22};
    } else {
        double det = m.a11 * m.a22 - m.a12 * m.a21;
        if (det == 0.0 || !std::isfinite(det)) return QMATH_E_SINGULAR;
        inv.matrix = qmath_matrix{m.a22 / det, -m.a12 / det, -m.a21 / det, m.a11 / det};
    }
    qmath_vect t = mapped(inv.matrix, src->trans);
    inv.trans = qmath_vect{-t.x, -t.y};
    *dstOut = inv;
    return QSYS_OK;
}

qsys_status qmath_xformLinear_mapPoint(const qmath_xformLinear* x, const qmath_vect* in, qmath_vect* out)
{
    qmath_vect p = mapped(x->matrix, *in);
    *out = qmath_vect{p.x + x->trans.x, p.y + x->trans.y};
    return QSYS_OK;
}

qsys_status qmath_xformLinear_compareEqual(const qmath_xformLinear* a, const qmath_xformLinear* b,
                                           uint32_t* equalOut)
{
    *equalOut = unordered(a->trans.x, b->trans.x) && unordered(a->trans.y, b->trans.y) &&
                unordered(a->matrix.a11, b->matrix.a11) && unordered(a->matrix.a12, b->matrix.a12) &&
                unordered(a->matrix.a21, b->matrix.a21) && unordered(a->matrix.a22, b->matrix.a22);
    return QSYS_OK;
}

}  // extern "C"

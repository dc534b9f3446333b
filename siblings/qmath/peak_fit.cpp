// Sub-pixel peak position from the 3 x 3 neighbourhood of a detected peak.
//
// Correlation peaks are close to Gaussian near their top, so the fit works
// on the logarithms of the values when the values it uses are positive: a
// Gaussian peak is then located exactly, and sampled correlation peaks of
// textured images come out with clearly less error than from a parabola
// through the raw values. A value at or below zero sends the fit to the raw
// values.
//
// The default fit takes gradient and curvature of each axis from the centre
// row and column and couples the axes through the cross curvature of the
// four corners: a peak elongated along a diagonal is then located where its
// ridge culminates, not where the centre row happens to peak. A corner far
// below the centre (under kCornerShare of it) says little about the top of
// the peak and would dominate in logarithms, so the axes then stay apart.
// The coupled top is then moved outwards as far as the corners show the
// peak to be sharper than a quadric (see sharpenAxis).
//
// A centre higher than every valid neighbour is the peak's position on the
// integer grid. Its fitted peak may still lie beyond the cell, where a ridge
// culminates between grid positions, but not towards a neighbour on the edge
// of the scored positions (setup's bounds): a position there has no scored
// neighbours beyond it, so nobody can tell whether it is a peak, and a
// caller that re-detects around the rounded fitted position would find none.
// On such a side the fit takes the highest point of the fitted surface that
// still rounds to the maximum itself. A neighbour that the caller scored only
// as context around the rectangle it searched (the detector flags that side)
// is no such position: a peak searched alone, with its neighbours as margin,
// keeps its whole fitted offset.
#include <qip/qip.h>
#include <qmath/qmath.h>

#include <cmath>
#include <cstdint>
#include <utility>

namespace {

constexpr int kCentre = 4;
constexpr double kCornerShare = 0.03;
// The fitted peak is extrapolated beyond the neighbours' samples at most this far.
constexpr double kMaxFittedOffset = 1.0;
// Half a cell, less a margin: callers round positions with a bias of 0.001
// towards +infinity, and x + 0.498 + 0.001 still rounds to x.
constexpr double kHalfCell = 0.498;
// How far (in logarithms: about 10%) a quadric may rate a neighbour above its
// value before a strict maximum's step to it is refused.
constexpr double kOverrated = 0.1;

bool allPositive(const double* v, int count)
{
    for (int k = 0; k < count; ++k)
        if (!(v[k] > 0)) return false;
    return true;
}

bool allFinite(const double* v, int count)
{
    for (int k = 0; k < count; ++k)
        if (!std::isfinite(v[k])) return false;
    return true;
}

// Whether the centre is higher than every valid neighbour.
bool strictMaximum(const double values[9], const uint32_t valid[9])
{
    for (int k = 0; k < 9; ++k)
        if (k != kCentre && valid[k] != 0 && !(values[k] < values[kCentre])) return false;
    return true;
}

// The quadric with gradient (gx, gy) and Hessian (hxx, hxy; hxy, hyy) at
// the centre.
struct Quadric {
    double gx, gy, hxx, hxy, hyy;
    double at(double x, double y) const
    {
        return gx * x + gy * y + 0.5 * (hxx * x * x + 2 * hxy * x * y + hyy * y * y);
    }
};

// The stationary point of the quadric; false unless it is a maximum.
bool quadricMaximum(const Quadric& q, qmath_vect* offsetOut)
{
    const double det = q.hxx * q.hyy - q.hxy * q.hxy;
    if (!(q.hxx < 0) || !(det > 0)) return false;
    const double ox = -(q.hyy * q.gx - q.hxy * q.gy) / det;
    const double oy = -(q.hxx * q.gy - q.hxy * q.gx) / det;
    if (!std::isfinite(ox) || !std::isfinite(oy)) return false;
    *offsetOut = qmath_vect{ox, oy};
    return true;
}

// The offsets a fit may report: from lo to hi on each axis (x, then y).
struct Box {
    double lo[2], hi[2];
    double clamp(int axis, double v) const { return std::fmax(lo[axis], std::fmin(hi[axis], v)); }
    bool holds(const qmath_vect& v) const { return clamp(0, v.x) == v.x && clamp(1, v.y) == v.y; }
    // The box cut to [-h, h] on each axis.
    Box within(double h) const
    {
        return Box{{std::fmax(lo[0], -h), std::fmax(lo[1], -h)}, {std::fmin(hi[0], h), std::fmin(hi[1], h)}};
    }
};

// The fitted peak of a strict maximum keeps to the reach setup found; any
// other stays within kMaxFittedOffset.
Box offsetBox(bool strict, const qmath_peakDetectParabolicFitParams& params)
{
    if (!strict)
        return Box{{-kMaxFittedOffset, -kMaxFittedOffset}, {kMaxFittedOffset, kMaxFittedOffset}};
    auto reach = [](double r) { return std::fmax(0.0, std::fmin(kMaxFittedOffset, r)); };
    return Box{{-reach(params.reach[0]), -reach(params.reach[2])}, {reach(params.reach[1]), reach(params.reach[3])}};
}

// The highest point of a concave quadric in the box, given its maximum
// outside: on one of the box's sides, where the quadric restricted to that
// side peaks (clamped to the side's ends).
qmath_vect maximumInBox(const Quadric& q, const Box& box)
{
    qmath_vect best{0.0, 0.0};
    double bestValue = q.at(0.0, 0.0);
    for (int end = 0; end < 2; ++end) {
        const double x = end == 0 ? box.lo[0] : box.hi[0], y = end == 0 ? box.lo[1] : box.hi[1];
        const qmath_vect candidates[2] = {{x, box.clamp(1, -(q.gy + q.hxy * x) / q.hyy)},
                                          {box.clamp(0, -(q.gx + q.hxy * y) / q.hxx), y}};
        for (const qmath_vect& c : candidates) {
            const double value = q.at(c.x, c.y);
            if (value > bestValue) best = c, bestValue = value;
        }
    }
    return best;
}

// Sharp peaks. Correlation peaks of photographs are not quadrics at their
// top: the autocorrelation of natural images falls off almost linearly
// with distance at pixel scale (a cusp), and a quadric through the samples
// of a cusp puts its top too near the sampled maximum (by up to a third at
// a quarter cell). Modelled as A - D |d|^g, the peak's exponent shows in the
// corners: they fall by 2^(g/2) times the axes' fall, so
// kappa = (corner sum - 4 centre) / (2 (hxx + hyy)) = 2^(g/2 - 1), which is
// 1 for a quadric and 1/sqrt(2) for a cone. With beta = 2^g - 1 = 4 kappa^2 - 1
// (the fall two cells out over the fall one cell out, less one), the
// three samples of an axis give the top at 2p / (1 + 2p - (beta - 1)(p - 1/2))
// where p is the quadric's offset (exact for the cone's beta 1, the quadric
// itself for beta 3). Offsets within the noise of a match's own asymmetry
// (about kSteadyOffset) are moved less, so that exact copies at integer
// places stay put.
constexpr double kSteadyOffset = 0.05;

double peakBeta(const double f[9], double hxx, double hyy)
{
    const double kappa = (f[0] + f[2] + f[6] + f[8] - 4 * f[kCentre]) / (2 * (hxx + hyy));
    return std::isfinite(kappa) ? std::fmax(1.0, std::fmin(3.0, 4 * kappa * kappa - 1)) : 3.0;
}

double sharpenAxis(double p, double beta)
{
    const double a = std::fabs(p);
    if (!(a < 0.5) || beta >= 3.0) return p;  // beyond half a cell the model has no say
    const double cusp = 2 * a / (1 + 2 * a - (beta - 1) * (a - 0.5));
    return std::copysign(a + (cusp - a) * a * a / (a * a + kSteadyOffset * kSteadyOffset), p);
}

// Whether the quadric rates the neighbour that its top steps to (beyond
// half a cell) more than kOverrated above that neighbour's own value: then
// the corners that shaped the quadric disagree with the samples around the
// maximum, as a sharp peak's low corners do in logarithms, and the step is
// not to be trusted.
bool overratesNeighbour(const Quadric& q, const double f[9], const qmath_vect& top)
{
    const int nx = top.x > 0.5 ? 1 : (top.x < -0.5 ? -1 : 0), ny = top.y > 0.5 ? 1 : (top.y < -0.5 ? -1 : 0);
    if (nx == 0 && ny == 0) return false;
    return f[kCentre] + q.at(nx, ny) - f[(ny + 1) * 3 + nx + 1] > kOverrated;
}

// The top of the quadric whose cross curvature comes from the corners f
// (values or logarithms) and its other terms from the axes, moved outwards
// for a sharp peak (see sharpenAxis); false when it has no maximum. A strict
// maximum fitted in logarithms stays in its cell where the quadric overrates
// the neighbour it would step to.
bool coupledTop(const double f[9], double gx, double gy, double hxx, double hyy, bool guardStep, const Box& box,
                qmath_vect* topOut)
{
    const Quadric q{gx, gy, hxx, (f[8] - f[6] - f[2] + f[0]) / 4, hyy};
    qmath_vect top;
    if (!quadricMaximum(q, &top)) return false;
    const double beta = peakBeta(f, hxx, hyy);
    top = qmath_vect{sharpenAxis(top.x, beta), sharpenAxis(top.y, beta)};
    const Box limits = guardStep && overratesNeighbour(q, f, top) ? box.within(kHalfCell) : box;
    *topOut = limits.holds(top) ? top : maximumInBox(q, limits);
    return true;
}

// The default fit (see the file comment). An axis without both neighbours,
// with a value that is not finite, or without downward curvature stays 0.
qmath_vect fitRowAndColumn(const double values[9], const uint32_t valid[9], bool strict, const Box& box)
{
    const double* v = values;
    const bool xUsable = valid[3] != 0 && valid[5] != 0 && allFinite(v + 3, 3);
    const bool yUsable = valid[1] != 0 && valid[7] != 0 && std::isfinite(v[1]) &&
                         std::isfinite(v[4]) && std::isfinite(v[7]);
    const double used[5] = {v[4], xUsable ? v[3] : 1.0, xUsable ? v[5] : 1.0, yUsable ? v[1] : 1.0,
                            yUsable ? v[7] : 1.0};
    const bool logDomain = allPositive(used, 5);
    auto f = [&](int k) { return logDomain ? std::log(v[k]) : v[k]; };

    qmath_vect offset{0.0, 0.0};
    double gx = 0, hxx = 0, gy = 0, hyy = 0;
    if (xUsable) {
        gx = (f(5) - f(3)) / 2;
        hxx = f(3) - 2 * f(4) + f(5);
        if (hxx < 0) offset.x = -gx / hxx;
    }
    if (yUsable) {
        gy = (f(7) - f(1)) / 2;
        hyy = f(1) - 2 * f(4) + f(7);
        if (hyy < 0) offset.y = -gy / hyy;
    }
    offset = qmath_vect{box.clamp(0, offset.x), box.clamp(1, offset.y)};
    if (!(hxx < 0) || !(hyy < 0)) return offset;
    for (int k : {0, 2, 6, 8}) {
        if (valid[k] == 0 || !std::isfinite(v[k])) return offset;
        if (logDomain && !(v[k] >= kCornerShare * v[kCentre])) return offset;
    }
    double all[9];
    for (int k = 0; k < 9; ++k) all[k] = f(k);
    qmath_vect coupled;
    return coupledTop(all, gx, gy, hxx, hyy, strict && logDomain, box, &coupled) ? coupled : offset;
}

// Solves the n x n system a x = b in place by Gaussian elimination with
// partial pivoting; false when a pivot vanishes (the points do not fix the
// quadric).
template <int n>
bool solve(double (&a)[n][n], double (&b)[n], double (&x)[n])
{
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int r = col + 1; r < n; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        // Entries of the normal matrix are small integers, so an absolute
        // limit tells a singular point set from a regular one.
        if (std::fabs(a[pivot][col]) < 1e-9) return false;
        if (pivot != col) {
            for (int c = 0; c < n; ++c) std::swap(a[pivot][c], a[col][c]);
            std::swap(b[pivot], b[col]);
        }
        for (int r = col + 1; r < n; ++r) {
            const double f = a[r][col] / a[col][col];
            for (int c = col; c < n; ++c) a[r][c] -= f * a[col][c];
            b[r] -= f * b[col];
        }
    }
    for (int r = n - 1; r >= 0; --r) {
        double sum = b[r];
        for (int c = r + 1; c < n; ++c) sum -= a[r][c] * x[c];
        x[r] = sum / a[r][r];
    }
    return true;
}

// Least-squares quadric f = q0 + q1 x + q2 y + q3 x^2 + q4 xy + q5 y^2 over
// the valid points, in logarithms when every value is at least kCornerShare
// of a positive centre; false with fewer than 6 points, a point set that
// does not fix a quadric, or no maximum.
bool fitQuadric(const double values[9], const uint32_t valid[9], const Box& box, qmath_vect* offsetOut)
{
    double f[9];
    int dx[9], dy[9], count = 0;
    bool logDomain = values[kCentre] > 0;
    for (int k = 0; k < 9; ++k) {
        if (k != kCentre && valid[k] == 0) continue;
        f[count] = values[k];
        dx[count] = k % 3 - 1;
        dy[count] = k / 3 - 1;
        logDomain = logDomain && f[count] >= kCornerShare * values[kCentre];
        ++count;
    }
    if (count < 6 || !allFinite(f, count)) return false;
    if (logDomain)
        for (int p = 0; p < count; ++p) f[p] = std::log(f[p]);
    double normal[6][6] = {}, rhs[6] = {}, q[6];
    for (int p = 0; p < count; ++p) {
        const double basis[6] = {1.0, double(dx[p]), double(dy[p]), double(dx[p] * dx[p]),
                                 double(dx[p] * dy[p]), double(dy[p] * dy[p])};
        for (int r = 0; r < 6; ++r) {
            for (int c = 0; c < 6; ++c) normal[r][c] += basis[r] * basis[c];
            rhs[r] += basis[r] * f[p];
        }
    }
    if (!solve(normal, rhs, q)) return false;
    const Quadric fitted{q[1], q[2], 2 * q[3], q[4], 2 * q[5]};
    if (!quadricMaximum(fitted, offsetOut)) return false;
    if (!box.holds(*offsetOut)) *offsetOut = maximumInBox(fitted, box);
    return true;
}

// Beyond maxOffset the integer position moves one step towards the fitted peak.
void settleAxis(double offset, double maxOffset, double* offsetOut, int32_t* stepOut)
{
    *offsetOut = offset;
    *stepOut = std::fabs(offset) > maxOffset ? (offset > 0 ? 1 : -1) : 0;
}

}  // namespace

extern "C" {

qsys_status qmath_peakDetectParabolicFitParams_construct(qmath_peakDetectParabolicFitParams* params)
{
    if (params == nullptr) return QSYS_E_BAD_ARGUMENT;
    params->separable = 1;
    params->maxOffset = 0.5;
    for (double& r : params->reach) r = kMaxFittedOffset;
    return QSYS_OK;
}

qsys_status qmath_peakDetectParabolicFitParams_destruct(qmath_peakDetectParabolicFitParams* params)
{
    return params == nullptr ? QSYS_E_BAD_ARGUMENT : QSYS_OK;
}

qsys_status qmath_peakDetectParabolicFitSetupArraysUsingBounds(
    qmath_peakDetectParabolicFitParams* params, const qstd_pair32* position,
    const qstd_rect32* bounds, uint32_t flags, double values[9], uint32_t valid[9])
{
    (void)values;  // the caller fills the values of the valid neighbours afterwards
    if (params == nullptr || position == nullptr || bounds == nullptr || valid == nullptr)
        return QSYS_E_BAD_ARGUMENT;
    // 64-bit, so that positions near the int32 limits do not wrap.
    const int64_t left = bounds->x, right = static_cast<int64_t>(bounds->x) + bounds->width;
    const int64_t top = bounds->y, bottom = static_cast<int64_t>(bounds->y) + bounds->height;
    const int64_t x = position->first, y = position->second;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            valid[(dy + 1) * 3 + (dx + 1)] =
                (dx == 0 && dy == 0) || (x + dx >= left && x + dx < right && y + dy >= top && y + dy < bottom);
    // A neighbour two positions away inside the bounds gives the fit room to
    // step towards it; so does a side the detector flags, whose neighbour the
    // caller only scored as context and will not search around.
    auto reach = [](bool room, uint32_t flagged) { return room || flagged != 0 ? kMaxFittedOffset : kHalfCell; };
    params->reach[0] = reach(x - 2 >= left, flags & QIP_PEAK_AT_LEFT);
    params->reach[1] = reach(x + 2 < right, flags & QIP_PEAK_AT_RIGHT);
    params->reach[2] = reach(y - 2 >= top, flags & QIP_PEAK_AT_TOP);
    params->reach[3] = reach(y + 2 < bottom, flags & QIP_PEAK_AT_BOTTOM);
    return QSYS_OK;
}

qsys_status qmath_peakDetectParabolicFit(const double values[9], const uint32_t valid[9],
                                         const qmath_peakDetectParabolicFitParams* params,
                                         qmath_vect* offsetOut, qstd_pair32* stepOut, void* reserved)
{
    if (values == nullptr || valid == nullptr || params == nullptr || offsetOut == nullptr ||
        stepOut == nullptr || reserved != nullptr)
        return QSYS_E_BAD_ARGUMENT;
    const bool strict = strictMaximum(values, valid);
    const Box box = offsetBox(strict, *params);
    qmath_vect fitted{0.0, 0.0};
    if (params->separable != 0 || !fitQuadric(values, valid, box, &fitted))
        fitted = fitRowAndColumn(values, valid, strict, box);
    settleAxis(fitted.x, params->maxOffset, &offsetOut->x, &stepOut->first);
    settleAxis(fitted.y, params->maxOffset, &offsetOut->y, &stepOut->second);
    return QSYS_OK;
}

}  // extern "C"

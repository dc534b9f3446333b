// Scalar helpers: rounding to 32-bit integers that saturates instead of
// overflowing, so positions far outside any image stay ordered.
#include <qmath/qmath.h>

#include <cmath>
#include <cstdint>

namespace {

int32_t saturated(double integral)
{
    if (std::isnan(integral)) return 0;
    if (integral >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    if (integral <= static_cast<double>(INT32_MIN)) return INT32_MIN;
    return static_cast<int32_t>(integral);
}

}  // namespace

extern "C" {

int32_t qmath_double_round(double x) { return saturated(std::round(x)); }

int32_t qmath_double_floor(double x) { return saturated(std::floor(x)); }

int32_t qmath_double_epsilonEqual(double a, double b, double tolerance)
{
    return a == b || std::fabs(a - b) <= tolerance;
}

}  // extern "C"

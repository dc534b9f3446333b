// Affine transforms and rounding; radial ones are checked where searches map through them.
#include <cmath>

#include "support/test_support.hpp"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();

qmath_vect map(const qmath_xformLinear& x, qmath_vect p)
{
    qmath_vect out{kNaN, kNaN};
    return qmath_xformLinear_mapPoint(&x, &p, &out), out;
}

bool near(qmath_vect a, qmath_vect b, double t) { return std::fabs(a.x - b.x) <= t && std::fabs(a.y - b.y) <= t; }

bool same(const qmath_xformLinear& a, const qmath_xformLinear& b)
{
    uint32_t equal = 0;
    return qmath_xformLinear_compareEqual(&a, &b, &equal), equal != 0;
}

// Outputs may alias inputs; unordered fields compare equal.
TEST(Qmath, ComposeInvertCompareAndRound)
{
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> entry(-3, 3), shift(-500, 500);
    for (int trial = 0; trial < 200; ++trial) {
        const qmath_xformLinear a{{shift(rng), shift(rng)}, {entry(rng), entry(rng), entry(rng), entry(rng)}},
            b{{shift(rng), shift(rng)}, {entry(rng), entry(rng), entry(rng), entry(rng)}};
        if (std::fabs(a.matrix.a11 * a.matrix.a22 - a.matrix.a12 * a.matrix.a21) < 0.25) continue;  // singular
        qmath_xformLinear ab, inverse, aliasA = a, aliasB = b, aliasInverse = a;
        ASSERT_EQ(qmath_xformLinear_initCompose(&ab, &a, &b), QSYS_OK);
        ASSERT_EQ(qmath_xformLinear_getInverse(&a, &inverse), QSYS_OK);
        const qmath_vect p{shift(rng) * 2, shift(rng) * 2};
        EXPECT_TRUE(near(map(ab, p), map(a, map(b, p)), 1e-8) && near(map(inverse, map(a, p)), p, 1e-9)) << trial;
        qmath_xformLinear_initCompose(&aliasA, &aliasA, &b);
        qmath_xformLinear_initCompose(&aliasB, &a, &aliasB);
        qmath_xformLinear_getInverse(&aliasInverse, &aliasInverse);
        EXPECT_TRUE(same(aliasA, ab) && same(aliasB, ab) && same(aliasInverse, inverse)) << trial;
    }
    for (const qmath_matrix m :
         {qmath_matrix{1, 2, 2, 4}, {0, 0, 0, 3}, {kNaN, 0, 0, 1}, {1, kNaN, 0, 1}, {kInf, 1, 1, 1}}) {
        const qmath_xformLinear x{{1, 1}, m};
        qmath_xformLinear out{{9, 9}, {9, 9, 9, 9}};
        EXPECT_TRUE(qmath_xformLinear_getInverse(&x, &out) == QMATH_E_SINGULAR && out.trans.x == 9) << m.a11;
    }
    qmath_xformLinear a{{1, 2}, {1, 0, 0, 1}}, b = a;
    EXPECT_TRUE(same(a, (b.trans.y = kNaN, b)));
    EXPECT_FALSE(same(a, (b.matrix.a21 = std::nextafter(0.0, 1.0), b)));
    // Halves round away from zero; results saturate; NaN gives 0.
    const int32_t max = INT32_MAX, min = INT32_MIN;
    const std::tuple<double, int32_t, int32_t> cases[] = {  // x, rounded, floored
        {0.5, 1, 0}, {-0.5, -1, -1}, {2.5, 3, 2}, {-2.5, -3, -3}, {-0.0, 0, 0}, {0.49999999999999994, 0, 0},
        {-0.49999999999999994, 0, -1}, {-1e-300, 0, -1}, {2147483646.5, max, 2147483646}, {2147483647.9, max, max},
        {4503599627370497.0, max, max}, {-2147483646.5, -2147483647, -2147483647}, {-2147483647.5, min, min},
        {-2147483648.5, min, min}, {1e300, max, max}, {-kInf, min, min}, {kNaN, 0, 0}};
    for (const auto& [x, rounded, floored] : cases)
        EXPECT_TRUE(qmath_double_round(x) == rounded && qmath_double_floor(x) == floored) << x;
    EXPECT_TRUE(qmath_double_epsilonEqual(1.0, 1.25, 0.25) && qmath_double_epsilonEqual(kInf, kInf, 0));
    EXPECT_FALSE(qmath_double_epsilonEqual(1.0, std::nextafter(1.25, 2.0), 0.25) ||
                 qmath_double_epsilonEqual(kNaN, kNaN, 1));
}

}  // namespace

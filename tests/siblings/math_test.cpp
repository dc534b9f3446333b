// Affine and general transforms, rounding, and rectangles.
#include "support/test_support.hpp"

#include "frame/call_frame.hpp"

#include <cmath>
#include <limits>

namespace {

qmath_vect map(const qmath_xformLinear& x, qmath_vect p)
{
    qmath_vect out;
    qmath_xformLinear_mapPoint(&x, &p, &out);
    return out;
}

qmath_vect map(const qmath_xformPtrhConst& h, qmath_vect p, qsys_status expected = QSYS_OK)
{
    qmath_vect out{NAN, NAN};
    EXPECT_EQ(qmath_xformPtrhConst_mapPoint(&h, &p, &out), expected);
    return out;
}

void expectNear(qmath_vect got, qmath_vect expected, double tolerance)
{
    EXPECT_NEAR(got.x, expected.x, tolerance);
    EXPECT_NEAR(got.y, expected.y, tolerance);
}

// A random affine map whose matrix is not near singular.
qmath_xformLinear randomAffine(std::mt19937& rng)
{
    std::uniform_real_distribution<double> entry(-3, 3), shift(-500, 500);
    for (;;) {
        qmath_xformLinear x{{shift(rng), shift(rng)}, {entry(rng), entry(rng), entry(rng), entry(rng)}};
        if (std::fabs(x.matrix.a11 * x.matrix.a22 - x.matrix.a12 * x.matrix.a21) > 0.25) return x;
    }
}

TEST(XformLinear, ComposeAndInverseAgreeWithMappingOnRandomMaps)
{
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        qmath_xformLinear a = randomAffine(rng), b = randomAffine(rng), ab, inverse;
        ASSERT_EQ(qmath_xformLinear_initCompose(&ab, &a, &b), QSYS_OK);
        ASSERT_EQ(qmath_xformLinear_getInverse(&a, &inverse), QSYS_OK);
        std::uniform_real_distribution<double> coordinate(-1000, 1000);
        qmath_vect p{coordinate(rng), coordinate(rng)};
        expectNear(map(ab, p), map(a, map(b, p)), 1e-12 * 1e4);  // values reach ~1e4
        expectNear(map(inverse, map(a, p)), p, 1e-12 * 1e3);

        qmath_xformLinear roundTrip;
        qmath_xformLinear_initCompose(&roundTrip, &inverse, &a);
        EXPECT_NEAR(roundTrip.matrix.a11, 1, 1e-12);
        EXPECT_NEAR(roundTrip.matrix.a12, 0, 1e-12);
        EXPECT_NEAR(roundTrip.matrix.a21, 0, 1e-12);
        EXPECT_NEAR(roundTrip.matrix.a22, 1, 1e-12);
        expectNear(roundTrip.trans, qmath_vect{0, 0}, 1e-12 * 1e3);

        // Outputs may alias inputs.
        qmath_xformLinear aliased = a;
        qmath_xformLinear_initCompose(&aliased, &aliased, &b);
        uint32_t equal = 0;
        qmath_xformLinear_compareEqual(&aliased, &ab, &equal);
        EXPECT_TRUE(equal);
        aliased = b;
        qmath_xformLinear_initCompose(&aliased, &a, &aliased);
        qmath_xformLinear_compareEqual(&aliased, &ab, &equal);
        EXPECT_TRUE(equal);
        aliased = a;
        qmath_xformLinear_getInverse(&aliased, &aliased);
        qmath_xformLinear_compareEqual(&aliased, &inverse, &equal);
        EXPECT_TRUE(equal);
    }
}

TEST(XformLinear, PowerOfTwoScaleShiftsInvertExactly)
{
    for (double s : {0.25, 0.5, 2.0, 8.0}) {
        qmath_xformLinear x, inverse, back;
        qmath_xformLinear_initScaleShift(&x, s, 1 / s, 0.5, -3.25);
        ASSERT_EQ(qmath_xformLinear_getInverse(&x, &inverse), QSYS_OK);
        ASSERT_EQ(qmath_xformLinear_getInverse(&inverse, &back), QSYS_OK);
        uint32_t equal = 0;
        qmath_xformLinear_compareEqual(&back, &x, &equal);
        EXPECT_TRUE(equal) << s;
        EXPECT_EQ(map(inverse, map(x, qmath_vect{3.5, -7})).x, 3.5);
    }
}

TEST(XformLinear, SingularMapsAreRefusedAndLeaveTheOutput)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    const qmath_matrix singular[] = {{1, 2, 2, 4},   {0, 0, 0, 0},   {0, 0, 0, 3},  {nan, 0, 0, 1},
                                     {1, nan, 0, 1}, {inf, 0, 0, 1}, {inf, 1, 1, 1}};
    for (const qmath_matrix& m : singular) {
        qmath_xformLinear x{{1, 1}, m}, out{{9, 9}, {9, 9, 9, 9}};
        EXPECT_EQ(qmath_xformLinear_getInverse(&x, &out), QMATH_E_SINGULAR) << m.a11 << " " << m.a12;
        EXPECT_EQ(out.trans.x, 9.0);
    }
}

TEST(XformLinear, CompareEqualTreatsUnorderedFieldsAsEqual)
{
    qmath_xformLinear a{{1, 2}, {1, 0, 0, 1}}, b = a;
    uint32_t equal = 0;
    b.trans.y = std::numeric_limits<double>::quiet_NaN();
    qmath_xformLinear_compareEqual(&a, &b, &equal);
    EXPECT_TRUE(equal);
    b.matrix.a21 = std::nextafter(0.0, 1.0);
    qmath_xformLinear_compareEqual(&a, &b, &equal);
    EXPECT_FALSE(equal);
    uint32_t identity = 0;
    qmath_matrix_getIsIdentity(&a.matrix, &identity);
    EXPECT_TRUE(identity);
    qmath_matrix_getIsIdentity(&b.matrix, &identity);
    EXPECT_FALSE(identity);
}

// ---- General transforms -------------------------------------------------------------

TEST(XformGeneral, HandlesShareOneTransformUntilTheLastGoes)
{
    int64_t blocks = qsys_memory_blocksInUse();
    qmath_xformPtrhConst a, b;
    qmath_xformPtrhConst_construct(&a);
    qmath_xformPtrhConst_construct(&b);
    uint32_t flag;
    qmath_vect p{1, 2}, q;
    EXPECT_EQ(qmath_xformPtrhConst_getIsLinear(&a, &flag), QMATH_E_EMPTY);  // an empty handle holds nothing
    EXPECT_EQ(qmath_xformPtrhConst_getInverseConst(&a, &b), QMATH_E_EMPTY);
    EXPECT_EQ(qmath_xformPtrhConst_mapPoint(&a, &p, &q), QMATH_E_EMPTY);
    qmath_xformLinear x{{5, 6}, {0, -1, 1, 0}};
    ASSERT_EQ(qmath_xformPtrhConst_setLinear(&a, &x), QSYS_OK);
    ASSERT_EQ(qmath_xformPtrhConst_assign(&b, &a), QSYS_OK);
    ASSERT_EQ(qmath_xformPtrhConst_assign(&b, &b), QSYS_OK);
    EXPECT_EQ(a.xform, b.xform);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks + 1);
    qmath_xformPtrhConst_destruct(&a);
    EXPECT_EQ(a.xform, nullptr);
    expectNear(map(b, qmath_vect{1, 0}), qmath_vect{5, 7}, 0);
    ASSERT_EQ(qmath_xformPtrhConst_setRadial(&b, 0, 0, 1), QSYS_OK);  // replaces, releasing the linear one
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks + 1);
    EXPECT_EQ(qmath_xformPtrhConst_setRadial(&b, 0, NAN, 1), QSYS_E_BAD_ARGUMENT);
    qmath_xformPtrhConst_destruct(&b);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

TEST(XformGeneral, LinearHandlesInvertLikeTheirMaps)
{
    std::mt19937 rng(7);
    qmath_xformLinear x = randomAffine(rng), expected, got;
    qmath_xformLinear_getInverse(&x, &expected);
    qmath_xformPtrhConst h, inverse;
    qmath_xformPtrhConst_construct(&h);
    qmath_xformPtrhConst_construct(&inverse);
    ASSERT_EQ(qmath_xformPtrhConst_setLinear(&h, &x), QSYS_OK);
    ASSERT_EQ(qmath_xformPtrhConst_getInverseConst(&h, &inverse), QSYS_OK);
    uint32_t linear = 0, equal = 0;
    ASSERT_EQ(qmath_xformPtrhConst_getIsLinear(&inverse, &linear), QSYS_OK);
    EXPECT_TRUE(linear);
    ASSERT_EQ(qmath_xformPtrhConst_getLinear(&inverse, &got), QSYS_OK);
    qmath_xformLinear_compareEqual(&got, &expected, &equal);
    EXPECT_TRUE(equal);

    ASSERT_EQ(qmath_xformPtrhConst_getInverseConst(&h, &h), QSYS_OK);  // in place
    EXPECT_EQ(qmath_xformPtrhConst_getLinear(&h, &got), QSYS_OK);
    qmath_xformLinear_compareEqual(&got, &expected, &equal);
    EXPECT_TRUE(equal);

    qmath_xformLinear singular{{0, 0}, {1, 1, 1, 1}};
    qmath_xformPtrhConst_setLinear(&h, &singular);
    const qmath_xform_* before = inverse.xform;
    EXPECT_EQ(qmath_xformPtrhConst_getInverseConst(&h, &inverse), QMATH_E_SINGULAR);
    EXPECT_EQ(inverse.xform, before);
    qmath_xformPtrhConst_destruct(&h);
    qmath_xformPtrhConst_destruct(&inverse);
}

struct RadialCase {
    double k;
    double radius;  // largest radius probed
};

class RadialRoundTrip : public testing::TestWithParam<RadialCase> {};

TEST_P(RadialRoundTrip, InverseUndoesTheDistortion)
{
    const RadialCase c = GetParam();
    const qmath_vect center{31.5, -12.25};
    qmath_xformPtrhConst radial, inverse, again;
    qmath_xformPtrhConst_construct(&radial);
    qmath_xformPtrhConst_construct(&inverse);
    qmath_xformPtrhConst_construct(&again);
    ASSERT_EQ(qmath_xformPtrhConst_setRadial(&radial, center.x, center.y, c.k), QSYS_OK);
    ASSERT_EQ(qmath_xformPtrhConst_getInverseConst(&radial, &inverse), QSYS_OK);
    ASSERT_EQ(qmath_xformPtrhConst_getInverseConst(&inverse, &again), QSYS_OK);
    uint32_t linear = 1;
    ASSERT_EQ(qmath_xformPtrhConst_getIsLinear(&radial, &linear), QSYS_OK);
    EXPECT_FALSE(linear);  // even for k = 0
    qmath_xformLinear x;
    EXPECT_EQ(qmath_xformPtrhConst_getLinear(&inverse, &x), QMATH_E_NOT_LINEAR);

    std::mt19937 rng(static_cast<uint32_t>(c.k * 1e9) + 3);
    std::uniform_real_distribution<double> angle(0, 2 * M_PI), fraction(0, 1);
    for (int k = 0; k < 300; ++k) {
        double r = c.radius * (k == 0 ? 1.0 : k == 1 ? 0.0 : fraction(rng)), t = angle(rng);
        qmath_vect p{center.x + r * std::cos(t), center.y + r * std::sin(t)};
        SCOPED_TRACE(testing::Message() << "r " << r << " angle " << t);
        qmath_vect q = map(radial, p);
        double gain = 1 + c.k * r * r;
        double size = std::max(1.0, std::fabs(gain) * r);  // errors scale with the coordinates
        expectNear(q, qmath_vect{center.x + (p.x - center.x) * gain, center.y + (p.y - center.y) * gain},
                   1e-14 * size);
        expectNear(map(inverse, q), p, 1e-9 * std::max(1.0, r));
        expectNear(map(again, p), q, 0);  // the inverse of the inverse is the distortion
    }
    qmath_xformPtrhConst_destruct(&radial);
    qmath_xformPtrhConst_destruct(&inverse);
    qmath_xformPtrhConst_destruct(&again);
}

// For k < 0 the probed radius reaches just inside 1 / sqrt(-3k), where the
// distortion stops being one-to-one.
INSTANTIATE_TEST_SUITE_P(Distortions, RadialRoundTrip,
                         testing::Values(RadialCase{0, 500}, RadialCase{1e-6, 800}, RadialCase{3e-3, 2000},
                                         RadialCase{-1e-6, 577.3}, RadialCase{-2e-4, 40.8},
                                         RadialCase{-0.5, 0.8164}));

TEST(XformGeneral, InverseOfAFoldingDistortionEndsAtItsDomain)
{
    const double k = -1e-4, turn = 1 / std::sqrt(3e-4);  // the radius where the map folds back
    qmath_xformPtrhConst radial, inverse;
    qmath_xformPtrhConst_construct(&radial);
    qmath_xformPtrhConst_construct(&inverse);
    qmath_xformPtrhConst_setRadial(&radial, 0, 0, k);
    ASSERT_EQ(qmath_xformPtrhConst_getInverseConst(&radial, &inverse), QSYS_OK);
    double reach = turn * (1 + k * turn * turn);  // largest mapped radius
    qmath_vect atEdge = map(inverse, qmath_vect{0, reach * (1 - 1e-12)});
    EXPECT_NEAR(atEdge.y, turn, 1e-4 * turn);  // the slope vanishes there: only ~sqrt(eps) accuracy
    map(inverse, qmath_vect{reach * 1.001, 0}, QMATH_E_SINGULAR);
    map(inverse, qmath_vect{std::numeric_limits<double>::infinity(), 0}, QMATH_E_SINGULAR);
    qmath_xformPtrhConst_destruct(&radial);
    qmath_xformPtrhConst_destruct(&inverse);
}

// Builds a chain of transforms with every kind of construction.
qsys_status buildTransforms()
{
    qsrch::CallFrame<3> frame;
    qmath_xformPtrhConst linear, radial, inverse;
    qmath_xformPtrhConst_construct(&linear);
    frame.release<qmath_xformPtrhConst_destruct>(0, &linear);
    qmath_xformPtrhConst_construct(&radial);
    frame.release<qmath_xformPtrhConst_destruct>(1, &radial);
    qmath_xformPtrhConst_construct(&inverse);
    frame.release<qmath_xformPtrhConst_destruct>(2, &inverse);
    qmath_xformLinear x{{1, 2}, {2, 0, 0, 2}};
    if (frame.step(qmath_xformPtrhConst_setLinear(&linear, &x))) return frame.finish();
    if (frame.step(qmath_xformPtrhConst_getInverseConst(&linear, &inverse))) return frame.finish();
    if (frame.step(qmath_xformPtrhConst_setRadial(&radial, 3, 4, 1e-3))) return frame.finish();
    if (frame.step(qmath_xformPtrhConst_getInverseConst(&radial, &inverse))) return frame.finish();
    if (frame.step(qmath_xformPtrhConst_assign(&linear, &inverse))) return frame.finish();
    if (frame.step(qmath_xformPtrhConst_getInverseConst(&linear, &linear))) return frame.finish();
    return frame.finish();
}

TEST(XformGeneral, EveryAllocationFailsCleanly) { qtest::expectAllocationFailuresClean(buildTransforms); }

// ---- Scalars ------------------------------------------------------------------------

TEST(Scalar, RoundAndFloorSaturateAndSendNanToZero)
{
    const double inf = std::numeric_limits<double>::infinity(),
                 nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double x;
        int32_t rounded, floored;
    };
    const Case cases[] = {
        {0.5, 1, 0}, {-0.5, -1, -1}, {1.5, 2, 1}, {2.5, 3, 2}, {-2.5, -3, -3}, {-0.0, 0, 0},
        {0.49999999999999994, 0, 0}, {-0.49999999999999994, 0, -1}, {1e-300, 0, 0}, {-1e-300, 0, -1},
        {2147483646.5, INT32_MAX, 2147483646}, {2147483647.0, INT32_MAX, INT32_MAX},
        {2147483647.9, INT32_MAX, INT32_MAX}, {4503599627370497.0, INT32_MAX, INT32_MAX},
        {-2147483646.5, -2147483647, -2147483647}, {-2147483647.5, INT32_MIN, INT32_MIN},
        {-2147483648.0, INT32_MIN, INT32_MIN}, {-2147483648.5, INT32_MIN, INT32_MIN},
        {1e300, INT32_MAX, INT32_MAX}, {-1e300, INT32_MIN, INT32_MIN}, {inf, INT32_MAX, INT32_MAX},
        {-inf, INT32_MIN, INT32_MIN}, {nan, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qmath_double_round(c.x), c.rounded) << c.x;
        EXPECT_EQ(qmath_double_floor(c.x), c.floored) << c.x;
    }
    EXPECT_TRUE(qmath_double_epsilonEqual(1.0, 1.25, 0.25));  // the bound itself is inside
    EXPECT_FALSE(qmath_double_epsilonEqual(1.0, std::nextafter(1.25, 2.0), 0.25));
    EXPECT_TRUE(qmath_double_epsilonEqual(inf, inf, 0));
    EXPECT_FALSE(qmath_double_epsilonEqual(nan, nan, 1));
}

// ---- Rectangles ---------------------------------------------------------------------

bool inside(const qstd_rect32& r, int x, int y)
{
    return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
}

TEST(Rect, IntersectKeepsExactlyTheSharedPixels)
{
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> place(-6, 6), extent(-1, 7);
    for (int trial = 0; trial < 2000; ++trial) {
        qstd_rect32 a{place(rng), place(rng), extent(rng), extent(rng)},
            b{place(rng), place(rng), extent(rng), extent(rng)};
        SCOPED_TRACE(testing::Message() << a.x << "," << a.y << " " << a.width << "x" << a.height << " and "
                                        << b.x << "," << b.y << " " << b.width << "x" << b.height);
        qstd_rect32 c = a;
        ASSERT_EQ(qstd_rect32_intersect(&c, &b), QSYS_OK);
        ASSERT_GE(c.width, 0);
        ASSERT_GE(c.height, 0);
        ASSERT_EQ(c.width == 0, c.height == 0);  // empty means both extents 0
        for (int y = -8; y < 16; ++y)
            for (int x = -8; x < 16; ++x) ASSERT_EQ(inside(c, x, y), inside(a, x, y) && inside(b, x, y));
    }
    qstd_rect32 far{INT32_MAX - 2, 0, INT32_MAX, 5}, whole{0, 0, INT32_MAX, 3};
    ASSERT_EQ(qstd_rect32_intersect(&far, &whole), QSYS_OK);  // no overflow at the edge of the range
    EXPECT_TRUE(far.x == INT32_MAX - 2 && far.width == 2 && far.height == 3);
}

TEST(Rect, DilateAndEnclosingRectangles)
{
    qstd_rect32 a{2, -3, 10, 4}, b{-1, 1, 3, 5}, out;
    qstd_rect32_dilate(&a, &b, &out);
    qstd_rect32 expected{1, -2, 12, 8};
    uint32_t equal = 0;
    qstd_rect32_compareEqual(&out, &expected, &equal);
    EXPECT_TRUE(equal);

    struct Case {
        qstd_rectD rect;
        qstd_rect32 expected;
    };
    const Case cases[] = {{{0, 0, 4, 3}, {0, 0, 4, 3}},
                          {{0.5, 0.5, 1, 1}, {0, 0, 2, 2}},
                          {{-0.5, -2.25, 0.5, 0.25}, {-1, -3, 1, 1}},
                          {{1.2, 1.2, 0.1, 0.1}, {1, 1, 1, 1}},
                          {{3, 3, 0, 0}, {3, 3, 0, 0}},
                          {{3.5, 3, -2, 1}, {3, 3, 0, 1}}};
    for (const Case& c : cases) {
        qstd_rect32_initMinEnclosingRect(&out, &c.rect);
        qstd_rect32_compareEqual(&out, &c.expected, &equal);
        EXPECT_TRUE(equal) << c.rect.x << "," << c.rect.y << " " << c.rect.width << "x" << c.rect.height
                           << " -> " << out.x << "," << out.y << " " << out.width << "x" << out.height;
    }
}

TEST(Rect, DoubleRectanglesIntersectAndCompare)
{
    qstd_rectD a, b;
    qstd_rectD_init(&a, 0.5, 0.5, 10, 2);
    qstd_rectD_init(&b, 3.25, -1, 100, 2);
    ASSERT_EQ(qstd_rectD_intersect(&a, &b), QSYS_OK);
    qstd_rectD expected{3.25, 0.5, 7.25, 0.5};
    uint32_t equal = 0;
    qstd_rectD_compareEqual(&a, &expected, &equal);
    EXPECT_TRUE(equal);
    qstd_rectD_init(&b, 50, 50, 1, 1);
    qstd_rectD_intersect(&a, &b);
    EXPECT_TRUE(a.width == 0 && a.height == 0);
    expected.x = NAN;  // unordered fields match
    qstd_rectD_init(&a, 1, 0.5, 7.25, 0.5);
    qstd_rectD_compareEqual(&a, &expected, &equal);
    EXPECT_TRUE(equal);
    a.height = 0.5000000001;
    qstd_rectD_compareEqual(&a, &expected, &equal);
    EXPECT_FALSE(equal);
    qstd_pair32 pair;
    qstd_pair32_init(&pair, -4, 9);
    EXPECT_TRUE(pair.first == -4 && pair.second == 9);
}

}  // namespace

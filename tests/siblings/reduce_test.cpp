// The pyramid reducers, halving binomial and general low pass: sizes, borders,
// rounding, pixels outside the source, and the transforms they report.
#include <cmath>
#include <cstring>

#include "support/levels.hpp"

namespace {

using qtest::mapPoint;
using Content = std::function<uint8_t(int32_t, int32_t)>;

const struct Reducer {
    const char* name;
    bool halving;  // the binomial by two, else the low pass by fx, fy
    double fx, fy;
} kReducers[] = {{"gauss2", true, 2, 2},        {"plpf 1", false, 1, 1}, {"plpf 1.5", false, 1.5, 1.5},
                 {"plpf 2.04", false, 2.04, 2.04}, {"plpf 2.5", false, 2.5, 2.5}, {"plpf 3", false, 3, 3},
                 {"plpf 1.5x2.5", false, 1.5, 2.5}};

const qmath_xformLinear kIdentity = qtest::identity();

struct Reduced {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
    qmath_xformLinear clientFromReduced{};
    int at(int32_t x, int32_t y) const { return pixels[size_t(y) * width + x]; }
};

qimg_window writable(const qimg_windowConst& v)
{
    qimg_window w;
    std::memcpy(&w, &v, sizeof w);
    return w;
}

// Reduces w x h pixels of `content`, a view inside a larger image (halving)
// or an image with a wider stride (low pass), every byte around it garbage.
Reduced reduce(const Reducer& r, int32_t w, int32_t h, const Content& content, const qmath_xformLinear& fromSource)
{
    std::mt19937 garbage(1);
    Reduced out;
    qtest::Image8 image(w + 4, h + 4, w + 6), target(w / 2, h / 2);
    image.randomize(garbage);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) image.at(x + 2, y + 2) = content(x, y);
    const qimg_windowConst source = image.window(2, 2, w, h);
    if (r.halving) {
        qimg_window destination = writable(target.window());
        EXPECT_EQ(qip_gauss2_smoothWindow8_8(&source, &fromSource, &destination, &out.clientFromReduced), QSYS_OK);
        out.width = w / 2, out.height = h / 2, out.pixels = qtest::pixels(target.window());
        return out;
    }
    qimg_image sourceImage, reduced;
    EXPECT_EQ(qimg_image_constructAligned(&sourceImage, QIMG_DEPTH_8U, w, h, image.stride()), QSYS_OK);
    std::memcpy(sourceImage.firstPixel, source.firstPixel, size_t(image.stride()) * (h - 1) + w);
    sourceImage.x = 5, sourceImage.y = -3;
    qimg_image_setLinearClientFromImageXform(&sourceImage, &fromSource);
    qimg_image_constructUnbound(&reduced);
    qip_plpfParams params;
    qip_plpfParams_init(&params);
    params.factorX = r.fx, params.factorY = r.fy;
    EXPECT_EQ(qip_plpf_smooth8_8(qimg_image_asConst(&sourceImage), &reduced, &params), QSYS_OK);
    EXPECT_TRUE(reduced.x == 5 && reduced.y == -3) << "the source's origin";
    qimg_windowConst view;
    qimg_windowConst_init(&view, qimg_image_asConst(&reduced));
    out.width = view.width, out.height = view.height, out.pixels = qtest::pixels(view);
    qimg_image_getLinearClientFromImageXform(&reduced, &out.clientFromReduced);
    qimg_image_destruct(&reduced);
    qimg_image_destruct(&sourceImage);
    return out;
}

// Both paths against the binomial (1 3 3 1) renormalised over existing
// pixels, widths around the 16-pixel blocks, garbage around both views.
class Gauss2 : public qtest::BothPaths {};
INSTANTIATE_TEST_SUITE_P(Paths, Gauss2, testing::Values(qtest::Path::optimized, qtest::Path::generic),
                         qtest::pathName);

TEST_P(Gauss2, MatchesRenormalisedBinomialAndWritesOnlyTheDestination)
{
    const uint32_t taps[4] = {1, 3, 3, 1};
    std::mt19937 rng(11);
    for (bool saturated : {false, true})
        for (int32_t w : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 34, 35, 36, 66, 67, 101})
            for (int32_t h : {1, 2, 3, 4, 5, 9, 12}) {
                SCOPED_TRACE(testing::Message() << w << "x" << h << (saturated ? " all 255" : ""));
                qtest::Image8 source(w + 4, h + 3, w + 9);
                source.randomize(rng, saturated ? 255 : 0);
                const qimg_windowConst view = source.window(2, 1, w, h);
                const int32_t dw = w / 2, dh = h / 2;
                qtest::Image8 target(dw + 3, dh + 2, dw + 5, 0x5A);
                target.fill(0x3C);
                qimg_window destination = writable(target.window(1, 1, dw, dh));
                const qmath_xformLinear clientFromSource = {{3.0, -1.0}, {0.5, 0.0, 0.0, 0.25}};
                qmath_xformLinear clientFromReduced, expected = {{3.25, -0.875}, {1.0, 0.0, 0.0, 0.5}};
                ASSERT_EQ(qip_gauss2_smoothWindow8_8(&view, &clientFromSource, &destination, &clientFromReduced),
                          QSYS_OK);
                EXPECT_EQ(std::memcmp(&clientFromReduced, &expected, sizeof expected), 0);
                for (int32_t y = -1; y < target.height() - 1; ++y)
                    for (int32_t x = -1; x < target.stride() - 1; ++x) {
                        uint32_t sum = 0, weight = 0;
                        for (int32_t k = 0; k < 16; ++k) {
                            const int32_t sx = 2 * x - 1 + k % 4, sy = 2 * y - 1 + k / 4;
                            if (sx < 0 || sy < 0 || sx >= w || sy >= h) continue;
                            sum += taps[k % 4] * taps[k / 4] * source.at(sx + 2, sy + 1);
                            weight += taps[k % 4] * taps[k / 4];
                        }
                        const bool inside = x >= 0 && y >= 0 && x < dw && y < dh;
                        ASSERT_EQ(target.at(x + 1, y + 1),
                                  inside ? (sum + weight / 2) / weight : x + 1 < target.width() ? 0x3C : 0x5A)
                            << "at " << x << "," << y;
                    }
            }
}

// floor(n / f) with the quotient formed in single precision; constant
// images stay constant to the last grey level, borders included.
TEST(Reducers, SizesAndExactConstants)
{
    for (const Reducer& r : kReducers)
        for (int value : {0, 1, 254, 255})
            for (int32_t w : {1, 2, 3, 4, 5, 9, 33})
                for (int32_t h : {1, 2, 3, 5, 8}) {
                    SCOPED_TRACE(testing::Message() << r.name << " value " << value << " " << w << "x" << h);
                    const Reduced out = reduce(r, w, h, [&](int32_t, int32_t) { return uint8_t(value); }, kIdentity);
                    auto size = [](int32_t n, double f) { return int32_t(std::floor(n * (1.0f / float(f)))); };
                    ASSERT_TRUE(out.width == size(w, r.fx) && out.height == size(h, r.fy));
                    ASSERT_EQ(std::count(out.pixels.begin(), out.pixels.end(), value), out.width * out.height);
                }
}

// Away from the border a reduced ramp is the ramp where the reported
// transform (composed with a general linear one) maps each pixel, rounded to
// the nearest level: a reducer that truncated, or whose taps started at the
// wrong pixel after dropping those of weight 0 (factor 2.04 sweeps every
// phase), would be off by one.
TEST(Reducers, RampReducesToTheNearestLevelAtTheReportedPosition)
{
    const qmath_xformLinear toClient = {{4.0, -2.5}, {0.8, 0.3, -0.2, 1.1}};
    qmath_xformLinear sourceFromClient;
    qmath_xformLinear_getInverse(&toClient, &sourceFromClient);
    auto ramp = [](double x, double y) { return 10.0 + 3.0 * x + 3.0 * y; };
    const int32_t w = 49, h = 33;
    for (const Reducer& r : kReducers) {
        SCOPED_TRACE(r.name);
        const Reduced out = reduce(r, w, h, [&](int32_t x, int32_t y) { return uint8_t(ramp(x, y)); }, toClient);
        const double margin = 2.0 * std::max(r.fx, r.fy) + 2.0;
        int checked = 0;
        for (int32_t y = 0; y < out.height; ++y)
            for (int32_t x = 0; x < out.width; ++x) {
                const qmath_vect client = mapPoint(out.clientFromReduced, x, y);
                const qmath_vect p = mapPoint(sourceFromClient, client.x, client.y);
                const double want = ramp(p.x, p.y);
                if (p.x < margin || p.y < margin || p.x > w - 1 - margin || p.y > h - 1 - margin) continue;
                if (std::fabs(want - std::floor(want) - 0.5) < 0.02) continue;  // a half level: either way
                ASSERT_EQ(out.at(x, y), std::lround(want)) << "at " << x << "," << y;
                ++checked;
            }
        EXPECT_GE(checked, 16);
    }
}

// Refused calls leave the destination as it was; several halvings in one
// pass refuse a wrong size anywhere before any level is written.
TEST(Reducers, RefuseBadInputs)
{
    qtest::Image8 plane(40, 40), target(20, 20), small(11, 10);
    const qimg_windowConst view = plane.window();
    qmath_xformLinear out[2];
    target.fill(7);
    qimg_window levels[2] = {writable(target.window()), writable(small.window())}, unbound = levels[0];
    unbound.firstPixel = nullptr;
    EXPECT_EQ(qip_gauss2_smoothWindow8_8(&view, &kIdentity, &levels[1], out), QIMG_E_SIZE_MISMATCH);
    EXPECT_EQ(qip_gauss2_smoothWindow8_8(&view, &kIdentity, &unbound, out), QIMG_E_UNBOUND);
    EXPECT_EQ(qip_gauss2_smoothLevels8_8(&view, &kIdentity, 2, levels, out), QIMG_E_SIZE_MISMATCH);
    EXPECT_EQ(qip_gauss2_smoothLevels8_8(&view, &kIdentity, 0, levels, out), QSYS_E_BAD_ARGUMENT);
    EXPECT_EQ(qtest::pixels(target.window()), std::vector<uint8_t>(400, 7)) << "nothing written before the refusal";
    qimg_image source, destination;
    ASSERT_EQ(qimg_image_construct(&source, QIMG_DEPTH_8U, 12, 9), QSYS_OK);
    qimg_image_constructUnbound(&destination);
    qip_plpfParams params;
    qip_plpfParams_init(&params);
    auto plpf = [&] { return qip_plpf_smooth8_8(qimg_image_asConst(&source), &destination, &params); };
    for (double f : {0.999, 0.0, std::nan(""), double(INFINITY)}) {
        params.factorY = f;
        EXPECT_EQ(plpf(), QSYS_E_BAD_ARGUMENT) << f;
    }
    params.factorY = 2.0, params.reserved = 1;
    EXPECT_EQ(plpf(), QSYS_E_BAD_ARGUMENT);
    params.reserved = 0;
    qmath_xformPtrhConst radial;
    qmath_xformPtrhConst_construct(&radial);
    ASSERT_EQ(qmath_xformPtrhConst_setRadial(&radial, 6.0, 4.0, 1e-3), QSYS_OK);
    qimg_image_setClientFromImageXform(&source, &radial);
    qmath_xformPtrhConst_destruct(&radial);
    EXPECT_EQ(plpf(), QMATH_E_NOT_LINEAR);
    qimg_image_setUnbound(&source);
    EXPECT_TRUE(plpf() == QIMG_E_UNBOUND && destination.pixels == nullptr);
    qimg_image_destruct(&source), qimg_image_destruct(&destination);
}

// Every allocation of the low pass may fail: the call reports it and holds
// nothing; a bound destination keeps its old pixels.
TEST(Reducers, AllocationFailuresLeakNothing)
{
    qtest::expectAllocationFailuresClean([&] {
        qimg_image source, destination;
        qimg_image_constructUnbound(&destination);
        qsys_status s = qimg_image_construct(&source, QIMG_DEPTH_8U, 37, 23);
        if (s == QSYS_OK) s = qimg_image_assignNew(&destination, QIMG_DEPTH_8U, 4, 4);
        if (s == QSYS_OK) {
            void* before = destination.firstPixel;
            qip_plpfParams params;
            qip_plpfParams_init(&params);
            params.factorX = params.factorY = 1.5;
            s = qip_plpf_smooth8_8(qimg_image_asConst(&source), &destination, &params);
            EXPECT_TRUE(s == QSYS_OK || (destination.firstPixel == before && destination.width == 4));
        }
        qimg_image_destruct(&source);
        qimg_image_destruct(&destination);
        return s;
    });
}

}  // namespace

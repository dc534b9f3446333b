// The pyramid reducers, halving binomial and general low pass.
#include <cmath>
#include <cstring>

#include "support/levels.hpp"

namespace {

using qtest::mapPoint;
using Content = std::function<uint8_t(int32_t, int32_t)>;

// Factors of the general low pass, about every phase of its taps; factor 2 is the binomial's own test.
const std::pair<double, double> kFactors[] = {{1, 1}, {1.5, 1.5}, {2.04, 2.04}, {2.5, 2.5}, {3, 3}, {1.5, 2.5}};

const qmath_xformLinear kIdentity = qtest::identity();

struct Reduced {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
    qmath_xformLinear clientFromReduced{};
};

qimg_window writable(const qimg_windowConst& v) { qimg_window w; return std::memcpy(&w, &v, sizeof w), w; }

// The low pass of w x h pixels of `content` at (5, -3), garbage in the row slack.
Reduced reduce(std::pair<double, double> f, int32_t w, int32_t h, const Content& content,
               const qmath_xformLinear& fromSource)
{
    std::mt19937 garbage(1);
    qimg_image source, reduced;
    EXPECT_EQ(qimg_image_constructAligned(&source, QIMG_DEPTH_8U, w, h, w + 3), QSYS_OK);
    for (int32_t k = 0; k < (w + 3) * h; ++k)
        static_cast<uint8_t*>(source.firstPixel)[k] = k % (w + 3) < w ? content(k % (w + 3), k / (w + 3)) : garbage();
    source.x = 5, source.y = -3;
    qimg_image_setLinearClientFromImageXform(&source, &fromSource), qimg_image_constructUnbound(&reduced);
    qip_plpfParams params;
    qip_plpfParams_init(&params), params.factorX = f.first, params.factorY = f.second;
    EXPECT_EQ(qip_plpf_smooth8_8(qimg_image_asConst(&source), &reduced, &params), QSYS_OK);
    EXPECT_TRUE(reduced.x == 5 && reduced.y == -3) << "the source's origin";
    qimg_windowConst view;
    qimg_windowConst_init(&view, qimg_image_asConst(&reduced));
    Reduced out{view.width, view.height, qtest::pixels(view), {}};
    qimg_image_getLinearClientFromImageXform(&reduced, &out.clientFromReduced);
    qimg_image_destruct(&reduced), qimg_image_destruct(&source);
    return out;
}

// The binomial (1 3 3 1) renormalised over existing pixels; widths around the 16-pixel blocks.
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
                const qmath_xformLinear clientFromSource = {{3.0, -1.0}, {0.5, 0.25, -0.5, 0.25}};
                qmath_xformLinear reported, expected = {{3.375, -1.125}, {1.0, 0.5, -1.0, 0.5}};
                ASSERT_EQ(qip_gauss2_smoothWindow8_8(&view, &clientFromSource, &destination, &reported), QSYS_OK);
                EXPECT_EQ(std::memcmp(&reported, &expected, sizeof expected), 0);
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

// Size quotients in single precision; a ramp shows truncation or taps misplaced after dropping zero weights.
TEST(Reducers, SizesConstantsAndRampsAtTheReportedPosition)
{
    const qmath_xformLinear toClient = {{4.0, -2.5}, {0.8, 0.3, -0.2, 1.1}};
    qmath_xformLinear sourceFromClient;
    qmath_xformLinear_getInverse(&toClient, &sourceFromClient);
    auto ramp = [](double x, double y) { return 10.0 + 3.0 * x + 3.0 * y; };
    auto size = [](int32_t n, double f) { return int32_t(std::floor(n * (1.0f / float(f)))); };
    for (const auto& f : kFactors) {
        SCOPED_TRACE(testing::Message() << "factors " << f.first << ", " << f.second);
        for (int value : {0, 1, 254, 255})
            for (int32_t w : {1, 2, 3, 4, 5, 9, 33})
                for (int32_t h : {1, 2, 3, 5, 8}) {
                    const Reduced out = reduce(f, w, h, [&](int32_t, int32_t) { return uint8_t(value); }, kIdentity);
                    ASSERT_TRUE(out.width == size(w, f.first) && out.height == size(h, f.second)) << w << "x" << h;
                    ASSERT_EQ(std::count(out.pixels.begin(), out.pixels.end(), value), out.width * out.height)
                        << value << " " << w << "x" << h;
                }
        const int32_t w = 49, h = 33;
        const Reduced out = reduce(f, w, h, [&](int32_t x, int32_t y) { return uint8_t(ramp(x, y)); }, toClient);
        const double margin = 2.0 * std::max(f.first, f.second) + 2.0;
        int checked = 0;
        for (int32_t y = 0; y < out.height; ++y)
            for (int32_t x = 0; x < out.width; ++x) {
                const qmath_vect client = mapPoint(out.clientFromReduced, x, y);
                const qmath_vect p = mapPoint(sourceFromClient, client.x, client.y);
                const double want = ramp(p.x, p.y);
                if (p.x < margin || p.y < margin || p.x > w - 1 - margin || p.y > h - 1 - margin) continue;
                if (std::fabs(want - std::floor(want) - 0.5) < 0.02) continue;  // a half level: either way
                ASSERT_EQ(out.pixels[size_t(y) * out.width + x], std::lround(want)) << "at " << x << "," << y;
                ++checked;
            }
        EXPECT_GE(checked, 16);
    }
}

// Several halvings in one pass refuse a wrong size anywhere before any level is written.
TEST(Reducers, RefuseBadInputsAndUnwindAllocationFailures)
{
    qtest::Image8 plane(40, 40), target(20, 20, 20, 7), small(11, 10);
    const qimg_windowConst view = plane.window();
    qmath_xformLinear out[2];
    qimg_window levels[2] = {writable(target.window()), writable(small.window())}, unbound = levels[0];
    unbound.firstPixel = nullptr;
    EXPECT_EQ(qip_gauss2_smoothWindow8_8(&view, &kIdentity, &levels[1], out), QIMG_E_SIZE_MISMATCH);
    EXPECT_EQ(qip_gauss2_smoothWindow8_8(&view, &kIdentity, &unbound, out), QIMG_E_UNBOUND);
    EXPECT_EQ(qip_gauss2_smoothLevels8_8(&view, &kIdentity, 2, levels, out), QIMG_E_SIZE_MISMATCH);
    EXPECT_EQ(qip_gauss2_smoothLevels8_8(&view, &kIdentity, 0, levels, out), QSYS_E_BAD_ARGUMENT);
    EXPECT_EQ(qtest::pixels(target.window()), std::vector<uint8_t>(400, 7)) << "nothing written before the refusal";
    qimg_image source, destination;
    ASSERT_EQ(qimg_image_construct(&source, QIMG_DEPTH_8U, 37, 23), QSYS_OK);
    qimg_image_constructUnbound(&destination);
    qip_plpfParams params;
    qip_plpfParams_init(&params);
    auto plpf = [&] { return qip_plpf_smooth8_8(qimg_image_asConst(&source), &destination, &params); };
    for (double f : {0.999, 0.0, std::nan(""), double(INFINITY)})
        EXPECT_EQ((params.factorY = f, plpf()), QSYS_E_BAD_ARGUMENT) << f;
    EXPECT_EQ((params.factorY = 2.0, params.reserved = 1, plpf()), QSYS_E_BAD_ARGUMENT);
    params.reserved = 0, params.factorX = params.factorY = 1.5;
    ASSERT_EQ(plpf(), QSYS_OK);  // the destination holds pixels and a transform
    qtest::expectAllocationFailuresClean([&] {
        const auto kept = std::tuple(destination.firstPixel, destination.width);
        const qsys_status s = plpf();
        EXPECT_TRUE(s == QSYS_OK || std::tuple(destination.firstPixel, destination.width) == kept);
        return s;
    });
    qmath_xformPtrhConst radial;
    qmath_xformPtrhConst_construct(&radial);
    ASSERT_EQ(qmath_xformPtrhConst_setRadial(&radial, 6.0, 4.0, 1e-3), QSYS_OK);
    qimg_image_setClientFromImageXform(&source, &radial), qmath_xformPtrhConst_destruct(&radial);
    EXPECT_EQ(plpf(), QMATH_E_NOT_LINEAR);
    qimg_image_setUnbound(&source), qimg_image_setUnbound(&destination);
    EXPECT_TRUE(plpf() == QIMG_E_UNBOUND && destination.pixels == nullptr);
    qimg_image_destruct(&source), qimg_image_destruct(&destination);
}

}  // namespace

// Granularity selection by trial searches of the pattern's own image.
#include <functional>

#include "granularity/granularity_internal.hpp"
#include "run/run_support.hpp"

namespace {

using qtest::Image8;

// Detail at every scale from 2 to 32 pixels, like a photographed surface.
Image8 natural(std::mt19937& rng, int32_t w, int32_t h)
{
    std::vector<double> sum(size_t(w) * h, 0.0);
    std::normal_distribution<double> g(0.0, 1.0);
    for (int cell = 2; cell <= 32; cell *= 2) {
        const int32_t gw = w / cell + 2;
        std::vector<double> grid(size_t(gw) * (h / cell + 2));
        for (double& v : grid) v = g(rng) * std::pow(cell, 0.6);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const double *c = &grid[size_t(y / cell) * gw + x / cell], a = double(x % cell) / cell,
                             b = double(y % cell) / cell;
                sum[size_t(y) * w + x] += (1 - b) * ((1 - a) * c[0] + a * c[1]) + b * ((1 - a) * c[gw] + a * c[gw + 1]);
            }
    }
    Image8 image(w, h, w + 3);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            image.at(x, y) = uint8_t(std::clamp(128.0 + 6.0 * sum[size_t(y) * w + x], 0.0, 255.0));
    return image;
}

const qimg_windowConst kNoMask{};
float coarse = 0;
int32_t fine = 0;

qsrch_status select(const qimg_windowConst& pattern, uint32_t shape = 0, float trialThreshold = 0.25f,
                    const qimg_windowConst& mask = kNoMask)
{
    return qsrch_normcorr_computeGranularitiesMaskWindow(&pattern, &mask, trialThreshold, shape, 128, &coarse,
                                                         &fine);
}

TEST(Granularity, StepsDownFromTheSizeBasedGuessWhileTrialsFail)
{
    std::mt19937 rng(3);
    Image8 noise(320, 270), stripes(64, 64);
    noise.randomize(rng);
    // Perfect scores only: every coarse trial fails, and 1 stands (tried only with the shape flag).
    for (uint32_t shape : {0u, 1u})
        EXPECT_TRUE(select(noise.window(200, 150, 100, 100), shape, 1.0f) == QSRCH_OK && coarse == 1 && fine == 1);
    // The first guess passes, even integer or not; a view moved to (0, 0) is sought at its own place.
    rng.seed(3);
    const Image8 surface = natural(rng, 200, 200);
    for (const auto& [side, guess] : {std::pair{100, 12.0f}, {28, 3.5f}, {40, 5.0f}, {44, 5.5f}, {-100, 12.0f}}) {
        qimg_windowConst view = surface.window(60, 60, std::abs(side), std::abs(side));
        view.x = view.y = side < 0 ? 0 : view.x;
        EXPECT_EQ(select(view), QSRCH_OK);
        EXPECT_EQ(coarse, guess) << side;
    }
    // A side of 8 starts at 1, whose trial (shape flag only) fails on a repeating pattern.
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 64; ++x) stripes.at(x, y) = x % 4 < 2 ? 40 : 200;
    EXPECT_EQ(select(stripes.window(20, 20, 8, 30), 0), QSRCH_OK);
    EXPECT_EQ(select(stripes.window(20, 20, 8, 30), 1), QSRCH_E_NO_GRANULARITY);
}

// A coarse level sees a texture repeating every 16 pixels as one pattern; a finer one does not.
TEST(Granularity, PatternRepeatingAtTheCoarseLevelIsAcceptedAtAFinerOne)
{
    auto scene = [](int32_t period) {
        std::mt19937 rng(5);
        const Image8 tile = natural(rng, 1000, 1000);
        Image8 image(320, 270, 323);
        for (int32_t y = 0; y < 270; ++y)
            for (int32_t x = 0; x < 320; ++x)
                image.at(x, y) = uint8_t(std::clamp(tile.at(x % period, y % period) + int(rng() % 25) - 12, 0, 255));
        return image;
    };
    const Image8 repeating = scene(16), plain = scene(1000);
    const qimg_windowConst pattern = repeating.window(200, 150, 100, 100);
    ASSERT_EQ(select(plain.window(200, 150, 100, 100)), QSRCH_OK);
    const float coarsePlain = coarse;
    ASSERT_EQ(select(pattern), QSRCH_OK);
    EXPECT_TRUE(coarse >= 2.0f && coarse < coarsePlain) << coarse << " vs " << coarsePlain;
    uint32_t accepted = 1;
    EXPECT_EQ(qsrch_normcorr_tryGranularitiesHalf(&pattern, &kNoMask, coarsePlain, 1, 0.25f, 0, 128, &accepted),
              QSRCH_OK);
    EXPECT_EQ(accepted, 0u);
}

// A pattern filling its image is sought in an enlarged one; training takes plane 0's value.
TEST(Granularity, PatternFillingItsImageIsSoughtInAnEnlargedImage)
{
    std::mt19937 rng(23);
    const Image8 p0 = natural(rng, 100, 80), p1 = natural(rng, 100, 80), p2 = natural(rng, 100, 80);
    Image8 mask(100, 80);
    mask.fill(200);
    const qtest::OwnedImage i0(p0), i1(p1), i2(p2), maskImage(mask);
    const qimg_windowConst v0 = p0.window();
    const std::function<qsrch_status()> forms[] = {
        [&] { return qsrch_normcorr_computeGranularitiesWindow(&v0, 0.25f, 0, 128, &coarse, &fine); },
        [&] {
            return qsrch_normcorr_computeGranularitiesMask(i0.cget(), maskImage.cget(), 0.25f, 0, 128, &coarse, &fine);
        },
        [&] {
            return qsrch_normcorr_computeGranularitiesMask3(i0.cget(), i1.cget(), i2.cget(), nullptr, 0.25f, 0, 128,
                                                            &coarse, &fine);
        },
    };
    float grey = 0;
    for (const auto& form : forms) {
        EXPECT_TRUE(form() == QSRCH_OK && coarse >= 2.0f && fine == 1) << &form - forms;
        grey = grey == 0 ? coarse : grey;
    }
    qsrch_normcorr_trainParams params;
    qsrch_normcorr_trainParams_init(&params);
    params.autoSelectGranularity = params.autoSelectByTrial = 1;
    const qmath_xformLinear identity = qtest::identity();
    qtest::Model grey1, three;
    EXPECT_EQ(qsrch_normcorr_model_trainWindow(grey1.get(), &v0, &identity, &params), QSRCH_OK);
    EXPECT_EQ(qsrch_normcorr_model_train3(three.get(), i0.cget(), i1.cget(), i2.cget(), &params), QSRCH_OK);
    EXPECT_TRUE(grey1->trainParams.coarseGranularity == grey && three->trainParams.coarseGranularity == grey);
    EXPECT_EQ(qsrch_normcorr_computeGranularitiesMaskWindow(&v0, nullptr, 0.25f, 0, 128, &grey, nullptr),
              QSYS_E_BAD_ARGUMENT);
}

// A failed allocation rejects a granularity inside a grey training and ends the selection
// elsewhere; nothing stays allocated. Every seventh allocation reaches every site.
TEST(Granularity, ResourceFailuresLeakNothing)
{
    std::mt19937 rng(29);
    const Image8 image = natural(rng, 60, 50);
    const qimg_windowConst even = image.window(10, 10, 32, 32), odd = image.window(5, 5, 21, 21);
    Image8 mask(60, 50);
    mask.fill(200);
    for (int32_t y = 10; y < 20; ++y) mask.at(12, y) = 0;
    const std::function<qsrch_status()> calls[] = {
        [&] { return select(even, 1, 0.25f, mask.window(10, 10, 32, 32)); },
        [&] { return qsrch_normcorr_computeGranularitiesWindow(&odd, 0.25f, 0, 128, &coarse, &fine); },
        [&] { return qsrch_normcorr_computeGranularitiesMaskWindow3(&odd, &odd, &odd, &kNoMask, .25f, 0, 128,
                                                                     &coarse, &fine); },
    };
    for (const auto& call : calls) {
        const bool threePlanes = &call == &calls[2];
        const int64_t blocks = qsys_memory_blocksInUse(), before = qsys_memory_allocationCount();
        ASSERT_EQ(call(), QSRCH_OK);
        const int64_t allocations = qsys_memory_allocationCount() - before;
        bool rejected = false;
        for (int64_t n = 0; n < allocations; n += 7) {
            qsys_memory_failAfter(n);
            const qsrch_status s = call();
            qsys_memory_failAfter(-1);
            ASSERT_TRUE(s == QSYS_E_NO_MEMORY || (s == QSRCH_OK && !threePlanes)) << n;
            rejected = rejected || s == QSRCH_OK;
            ASSERT_EQ(qsys_memory_blocksInUse(), blocks) << n;
        }
        EXPECT_EQ(rejected, !threePlanes);
    }
    qtest::AttentionCounter stop(QSYS_E_ABORTED);
    EXPECT_EQ(calls[0](), QSYS_E_ABORTED);
}

}  // namespace

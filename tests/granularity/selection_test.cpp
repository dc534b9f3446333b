// Granularity selection by trial searches of the pattern's own image.
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
        for (int32_t k = 0; k < w * h; ++k) {
            const int32_t x = k % w, y = k / w;
            const double *c = &grid[size_t(y / cell) * gw + x / cell], a = double(x % cell) / cell,
                         b = double(y % cell) / cell;
            sum[k] += (1 - b) * ((1 - a) * c[0] + a * c[1]) + b * ((1 - a) * c[gw] + a * c[gw + 1]);
        }
    }
    Image8 image(w, h, w + 3);
    for (int32_t k = 0; k < w * h; ++k) image.at(k % w, k / w) = uint8_t(std::clamp(128.0 + 6.0 * sum[k], 0.0, 255.0));
    return image;
}

const qimg_windowConst kNoMask{};
float coarse = 0;
int32_t fine = 0;

qsrch_status select(const qimg_windowConst& pattern, uint32_t shape = 0, float trial = 0.25f,
                    const qimg_windowConst& mask = kNoMask)
{
    return qsrch_normcorr_computeGranularitiesMaskWindow(&pattern, &mask, trial, shape, 128, &coarse, &fine);
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
        EXPECT_TRUE(select(view) == QSRCH_OK && coarse == guess) << side << ": " << coarse;
    }
    // A side of 8 starts at 1, whose trial (shape flag only) fails on a repeating pattern.
    for (int32_t k = 0; k < 64 * 64; ++k) stripes.at(k % 64, k / 64) = k % 4 < 2 ? 40 : 200;
    EXPECT_TRUE(select(stripes.window(20, 20, 8, 30), 0) == QSRCH_OK &&
                select(stripes.window(20, 20, 8, 30), 1) == QSRCH_E_NO_GRANULARITY);
    // A texture repeating every 16 pixels looks like one pattern at the first guess, 12, not at a finer level.
    rng.seed(5);
    const Image8 tile = natural(rng, 16, 16);
    for (int32_t k = 0; k < 320 * 270; ++k)
        noise.at(k % 320, k / 320) = uint8_t(std::clamp(tile.at(k % 16, k / 320 % 16) + int(rng() % 25) - 12, 0, 255));
    ASSERT_EQ(select(noise.window(200, 150, 100, 100)), QSRCH_OK);
    EXPECT_TRUE(coarse >= 2.0f && coarse < 12.0f) << coarse;
}

// A pattern filling its image is sought in an enlarged one; training takes plane 0's value.
TEST(Granularity, PatternFillingItsImageIsSoughtInAnEnlargedImage)
{
    std::mt19937 rng(23);
    const Image8 p0 = natural(rng, 100, 80), p1 = natural(rng, 100, 80), p2 = natural(rng, 100, 80);
    const qtest::OwnedImage i0(p0), i1(p1), i2(p2), maskImage(Image8(100, 80, 100, 200));
    const qimg_windowConst v0 = p0.window();
    auto chosen = [&](qsrch_status s) {
        EXPECT_TRUE(s == QSRCH_OK && coarse >= 2.0f && fine == 1) << s;
        return coarse;
    };
    const float grey = chosen(qsrch_normcorr_computeGranularitiesWindow(&v0, 0.25f, 0, 128, &coarse, &fine));
    chosen(qsrch_normcorr_computeGranularitiesMask(i0.cget(), maskImage.cget(), 0.25f, 0, 128, &coarse, &fine));
    chosen(qsrch_normcorr_computeGranularitiesMask3(i0.cget(), i1.cget(), i2.cget(), nullptr, 0.25f, 0, 128, &coarse,
                                                    &fine));
    qsrch_normcorr_trainParams params;
    qsrch_normcorr_trainParams_init(&params), params.autoSelectGranularity = params.autoSelectByTrial = 1;
    const qmath_xformLinear identity = qtest::identity();
    qtest::Model grey1, three;
    EXPECT_TRUE(qsrch_normcorr_model_trainWindow(grey1.get(), &v0, &identity, &params) == QSRCH_OK &&
                qsrch_normcorr_model_train3(three.get(), i0.cget(), i1.cget(), i2.cget(), &params) == QSRCH_OK);
    EXPECT_TRUE(grey1->trainParams.coarseGranularity == grey && three->trainParams.coarseGranularity == grey);
    EXPECT_EQ(qsrch_normcorr_computeGranularitiesMaskWindow(&v0, nullptr, 0.25f, 0, 128, &coarse, nullptr),
              QSYS_E_BAD_ARGUMENT);
}

// A failed allocation rejects a grey granularity but ends a three-plane selection; nothing leaks.
TEST(Granularity, ResourceFailuresLeakNothing)
{
    std::mt19937 rng(29);
    const Image8 image = natural(rng, 60, 50);
    const qimg_windowConst even = image.window(10, 10, 32, 32), odd = image.window(5, 5, 21, 21);
    Image8 mask(60, 50, 60, 200);
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
        for (int64_t n = 0; n < allocations; n += 7) {  // every seventh reaches every site
            const qsrch_status s = (qsys_memory_failAfter(n), call());
            qsys_memory_failAfter(-1), rejected = rejected || s == QSRCH_OK;
            ASSERT_TRUE((s == QSYS_E_NO_MEMORY || (s == QSRCH_OK && !threePlanes)) &&
                        qsys_memory_blocksInUse() == blocks) << n << ": " << s;
        }
        EXPECT_EQ(rejected, !threePlanes);
    }
    qtest::AttentionCounter stop(QSYS_E_ABORTED);
    EXPECT_EQ(calls[0](), QSYS_E_ABORTED);
}

}  // namespace

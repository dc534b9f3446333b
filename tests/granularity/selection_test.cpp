// Granularity selection by trial searches of the pattern's own image.
#include <functional>

#include "granularity/granularity_internal.hpp"
#include "run/run_support.hpp"

namespace {

using qtest::Image8;
using qtest::OwnedImage;

// Detail at every scale from 2 to 32 pixels, stronger at the larger ones,
// like a photographed surface.
Image8 natural(std::mt19937& rng, int32_t w, int32_t h)
{
    std::vector<double> sum(static_cast<size_t>(w) * h, 0.0);
    std::normal_distribution<double> g(0.0, 1.0);
    for (int cell = 2; cell <= 32; cell *= 2) {
        const int32_t gw = w / cell + 2, gh = h / cell + 2;
        std::vector<double> grid(static_cast<size_t>(gw) * gh);
        for (double& v : grid) v = g(rng) * std::pow(cell, 0.6);
        auto at = [&](int32_t p, int32_t q) { return grid[size_t(q) * gw + p]; };
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const double u = double(x) / cell, v = double(y) / cell;
                const int32_t i = int32_t(u), j = int32_t(v);
                const double a = u - i, b = v - j;
                sum[size_t(y) * w + x] += (1 - b) * ((1 - a) * at(i, j) + a * at(i + 1, j)) +
                                          b * ((1 - a) * at(i, j + 1) + a * at(i + 1, j + 1));
            }
    }
    Image8 image(w, h, w + 3);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            image.at(x, y) = uint8_t(std::clamp(128.0 + 6.0 * sum[size_t(y) * w + x], 0.0, 255.0));
    return image;
}

const qimg_windowConst kNoMask{};

qsrch_normcorr_trainParams byTrial()
{
    qsrch_normcorr_trainParams p;
    qsrch_normcorr_trainParams_init(&p);
    p.autoSelectGranularity = p.autoSelectByTrial = 1;
    return p;
}

qsrch_status select(const qimg_windowConst& pattern, uint32_t shape, float* coarse, int32_t* fine,
                    float trialThreshold = 0.25f, const qimg_windowConst& mask = kNoMask)
{
    return qsrch_normcorr_computeGranularitiesMaskWindow(&pattern, &mask, trialThreshold, shape, 128, coarse,
                                                         fine);
}

TEST(Granularity, StepsDownFromTheSizeBasedGuessWhileTrialsFail)
{
    std::mt19937 rng(3);
    Image8 noise(320, 270);
    noise.randomize(rng);
    const qimg_windowConst pattern = noise.window(200, 150, 100, 100);
    float coarse = -1;
    int32_t fine = -1;
    // Asked to accept only perfect scores, every coarse trial fails (some
    // sampling phase always blurs the pattern). Without the shape flag
    // nothing below 2 is tried and the last lowered value, 1, stands; with it
    // 1 is tried too and passes (full resolution matches itself perfectly).
    for (uint32_t shape : {0u, 1u}) {
        SCOPED_TRACE(shape);
        EXPECT_EQ(select(pattern, shape, &coarse, &fine, 1.0f), QSRCH_OK);
        EXPECT_EQ(coarse, 1.0f);
        EXPECT_EQ(fine, 1);
    }
    // On a photographed surface, with the usual threshold, the first guess
    // passes. Guesses that are not even integers are tried at full
    // resolution, the coarse-only model then stopping at the largest power
    // of two below them.
    rng.seed(3);
    const Image8 surface = natural(rng, 200, 200);
    EXPECT_EQ(select(surface.window(60, 60, 100, 100), 0, &coarse, &fine), QSRCH_OK);
    EXPECT_EQ(coarse, 12.0f);
    for (const auto& [side, guess] : {std::pair{28, 3.5f}, std::pair{40, 5.0f}, std::pair{44, 5.5f}}) {
        EXPECT_EQ(select(surface.window(60, 60, side, side), 0, &coarse, &fine), QSRCH_OK);
        EXPECT_EQ(coarse, guess) << side;
    }

    // A smaller side of 8 starts at 1: untried without the shape flag, one
    // trial with it, whose failure (the pattern repeats all over its image)
    // leaves no granularity.
    Image8 stripes(64, 64);
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 64; ++x) stripes.at(x, y) = x % 4 < 2 ? 40 : 200;
    for (uint32_t shape : {0u, 1u})
        EXPECT_EQ(select(stripes.window(20, 20, 8, 30), shape, &coarse, &fine),
                  shape ? QSRCH_E_NO_GRANULARITY : QSRCH_OK);
}

TEST(Granularity, PatternRepeatingAtTheCoarseLevelIsAcceptedAtAFinerOne)
{
    // A texture that repeats every 16 pixels, with a faint detail of its own:
    // a coarse level sees the repeats as one pattern, a fine one tells them
    // apart. The same scene without the repeats keeps a coarser granularity.
    auto scene = [](int32_t period) {
        std::mt19937 rng(5);
        const Image8 tile = natural(rng, 1000, 1000);
        Image8 detail(320, 270);
        detail.randomize(rng);
        Image8 image(320, 270, 323);
        for (int32_t y = 0; y < 270; ++y)
            for (int32_t x = 0; x < 320; ++x)
                image.at(x, y) = uint8_t(std::clamp(
                    tile.at(x % period, y % period) + (detail.at(x, y) - 128) * 12 / 128, 0, 255));
        return image;
    };
    const Image8 repeating = scene(16), plain = scene(1000);
    const qimg_windowConst pattern = repeating.window(200, 150, 100, 100);
    float coarseRepeating = 0, coarsePlain = 0;
    int32_t fine = 0;
    ASSERT_EQ(select(pattern, 0, &coarseRepeating, &fine), QSRCH_OK);
    ASSERT_EQ(select(plain.window(200, 150, 100, 100), 0, &coarsePlain, &fine), QSRCH_OK);
    EXPECT_GE(coarseRepeating, 2.0f);
    EXPECT_LT(coarseRepeating, coarsePlain);
    uint32_t accepted = 1;
    EXPECT_EQ(qsrch_normcorr_tryGranularitiesHalf(&pattern, &kNoMask, coarsePlain, 1, 0.25f, 0, 128, &accepted),
              QSRCH_OK);
    EXPECT_EQ(accepted, 0u);
}

TEST(Granularity, ChosenGranularityFindsATextureAtEverySamplingPhase)
{
    std::mt19937 rng(17);
    const Image8 image = natural(rng, 360, 300);
    const qimg_windowConst pattern = image.window(150, 110, 100, 100);
    const qsrch_normcorr_trainParams params = byTrial();
    const qmath_xformLinear identity = qtest::identity();
    qtest::Model model;
    ASSERT_EQ(qsrch_normcorr_model_trainWindow(model.get(), &pattern, &identity, &params), QSRCH_OK);
    float coarse = 0, movedCoarse = 0;
    int32_t fine = 0;
    ASSERT_EQ(select(pattern, 0, &coarse, &fine), QSRCH_OK);
    EXPECT_TRUE(model->trainParams.coarseGranularity == coarse && model->trainParams.fineGranularity == 1);
    EXPECT_GE(coarse, 4.0f);
    // A view moved to origin (0, 0), as the top-level model trains, is still sought at its own place.
    qimg_windowConst moved = pattern;
    moved.x = moved.y = 0;
    EXPECT_EQ(select(moved, 0, &movedCoarse, &fine), QSRCH_OK);
    EXPECT_EQ(movedCoarse, coarse);
    const qsrch_normcorr_runParams run = qtest::runParams();
    for (int32_t i = 0; i < coarse; ++i)
        for (int32_t j = 0; j < coarse; ++j) {
            SCOPED_TRACE(testing::Message() << "phase " << i << ", " << j);
            const qimg_windowConst view = image.window(i, j, 360 - i, 300 - j);
            qtest::Results results;
            ASSERT_EQ(qsrch_normcorr_runWindow(model.get(), &view, &identity, &run, results.get()), QSRCH_OK);
            ASSERT_GE(results.size(), 1u);
            // Poses place the pattern relative to where it was trained.
            EXPECT_NEAR(results[0].pose.trans.x, 0.0, 0.05);
            EXPECT_NEAR(results[0].pose.trans.y, 0.0, 0.05);
            EXPECT_GT(results[0].score, 0.999f);
        }
}

TEST(Granularity, PatternFillingItsImageIsSoughtInAnEnlargedImage)
{
    // Narrowed for the sampling phases, the image would soon be too small to
    // hold the pattern; every form still settles, training takes plane 0's.
    std::mt19937 rng(23);
    const Image8 p0 = natural(rng, 100, 80), p1 = natural(rng, 100, 80), p2 = natural(rng, 100, 80);
    Image8 mask(100, 80);
    mask.fill(200);
    const OwnedImage i0(p0), i1(p1), i2(p2), maskImage(mask);
    const qimg_windowConst v0 = p0.window(), v1 = p1.window(), v2 = p2.window(), m = mask.window();
    using Select = std::function<qsrch_status(float*, int32_t*)>;
    const Select forms[] = {
        [&](float* c, int32_t* f) { return qsrch_normcorr_computeGranularitiesWindow(&v0, 0.25f, 0, 128, c, f); },
        [&](float* c, int32_t* f) { return select(v0, 0, c, f, 0.25f, m); },
        [&](float* c, int32_t* f) {
            return qsrch_normcorr_computeGranularitiesMask(i0.cget(), maskImage.cget(), 0.25f, 0, 128, c, f);
        },
        [&](float* c, int32_t* f) {
            return qsrch_normcorr_computeGranularitiesMask3(i0.cget(), i1.cget(), i2.cget(), nullptr, 0.25f, 0, 128, c, f);
        },
        [&](float* c, int32_t* f) {
            return qsrch_normcorr_computeGranularitiesMaskWindow3(&v0, &v1, &v2, &m, 0.25f, 0, 128, c, f);
        },
    };
    float grey = 0;
    for (const Select& form : forms) {
        SCOPED_TRACE(&form - forms);
        float coarse = 0;
        int32_t fine = 0;
        ASSERT_EQ(form(&coarse, &fine), QSRCH_OK);
        EXPECT_GE(coarse, 2.0f);
        EXPECT_EQ(fine, 1);
        if (grey == 0) grey = coarse;
    }
    const qsrch_normcorr_trainParams params = byTrial();
    qtest::Model model;
    EXPECT_EQ(qsrch_normcorr_model_train3(model.get(), i0.cget(), i1.cget(), i2.cget(), &params), QSRCH_OK);
    EXPECT_EQ(model->trainParams.coarseGranularity, grey);
    EXPECT_EQ(qsrch_normcorr_computeGranularitiesMaskWindow(&v0, nullptr, 0.25f, 0, 128, &grey, nullptr),
              QSYS_E_BAD_ARGUMENT);
}

TEST(Granularity, ResourceFailuresLeakNothing)
{
    // A failed allocation inside a grey training only rejects that
    // granularity; elsewhere, and in a three-plane step, it ends the
    // selection; nothing stays allocated. Every seventh reaches every site.
    std::mt19937 rng(29);
    const Image8 image = natural(rng, 60, 50);
    const qimg_windowConst even = image.window(10, 10, 32, 32), odd = image.window(5, 5, 21, 21);
    Image8 mask(60, 50);
    mask.fill(200);
    for (int32_t y = 10; y < 20; ++y) mask.at(12, y) = 0;
    const qimg_windowConst maskView = mask.window(10, 10, 32, 32);
    float coarse = 0;
    int32_t fine = 0;
    const std::function<qsrch_status()> calls[] = {
        [&] { return select(even, 1, &coarse, &fine, 0.25f, maskView); },
        [&] { return qsrch_normcorr_computeGranularitiesWindow(&odd, 0.25f, 0, 128, &coarse, &fine); },
        [&] {
            return qsrch_normcorr_computeGranularitiesMaskWindow3(&odd, &odd, &odd, &kNoMask, 0.25f, 0, 128,
                                                                  &coarse, &fine);
        },
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
    // An attention stop ends the selection with its status.
    qtest::AttentionCounter stop(QSYS_E_ABORTED);
    EXPECT_EQ(calls[0](), QSYS_E_ABORTED);
}

}  // namespace

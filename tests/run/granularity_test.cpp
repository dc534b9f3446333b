// Searches with the automatic coarse granularity of a 28-pixel pattern side
// (3.5 for 28 x 28, level factors 2 and 1.75; 2.5 for 28 x 21, factors 2 and
// 1.25): exact copies planted in small views must be found at their place.
#include "run/run_support.hpp"

namespace {

using qtest::Image8, qtest::Model, qtest::OwnedImage, qtest::Texture;

Texture randomTexture(std::mt19937& rng, double w, double h)
{
    return qtest::blobTexture(rng, int(w * h / 12), -10, w + 20, -10, h + 20, 2.0, 2.0, 60, 128);
}

// Whether a search following every candidate down, in a w x h view of a
// texture from `seed` holding the pattern at (x0, y0), finds it within half a
// pixel scoring at least 0.95.
bool foundAt(Model& model, const Image8& pattern, int32_t w, int32_t h, int32_t x0, int32_t y0, uint32_t seed)
{
    std::mt19937 backgroundRng(seed);
    Image8 scene = qtest::sample(randomTexture(backgroundRng, w, h), w, h);
    qtest::paste(scene, pattern, x0, y0);
    OwnedImage image(scene);
    const qsrch_normcorr_runParams params = qtest::runParams(1, 1.0f);
    qtest::Results results;
    EXPECT_EQ(qsrch_normcorr_run(model.get(), image.cget(), &params, results.get()), QSRCH_OK);
    for (size_t i = 0; i < results.size(); ++i)
        if (std::hypot(results[i].pose.trans.x - x0, results[i].pose.trans.y - y0) <= 0.5 && results[i].score >= 0.95f)
            return true;
    return false;
}

}  // namespace

// Corners and middle of each view. Random pixels copied half way between two
// positions of level 1 (the 64 x 48 view at (3, 13)): the fit of the strict
// maximum steps more than half a position onto the refinement region's edge,
// where re-detection would drop the only candidate.
TEST(Granularity, AutomaticNonPowerOfTwoFindsExactCopiesInSmallViews)
{
    for (const auto& [pw, ph, expectedCoarse] : {std::tuple{28, 28, 3.5f}, {28, 21, 2.5f}, {28, 28, 0.0f}}) {
        std::mt19937 rng(expectedCoarse == 0 ? 9 : 21 + (ph == 21));
        const Image8 pattern = expectedCoarse == 0 ? qtest::texture(rng, pw, ph)
                                                   : qtest::sample(randomTexture(rng, pw, ph), pw, ph);
        Model model;
        OwnedImage image(pattern);
        const qsrch_normcorr_trainParams tp = qtest::trainParams(1, 2.0f);
        ASSERT_EQ(qsrch_normcorr_model_train(model.get(), image.cget(), &tp), QSRCH_OK);
        ASSERT_EQ(model->trainParams.coarseGranularity, expectedCoarse == 0 ? 3.5f : expectedCoarse);
        ASSERT_EQ(qtest::levelCount(*model), 3u);
        if (expectedCoarse == 0) {
            EXPECT_TRUE(foundAt(model, pattern, 64, 48, 3, 13, 3));
            continue;
        }
        for (const auto& [w, h] : {std::pair{52, 39}, {64, 48}, {80, 60}})
            for (int place = 0; place < 4; ++place) {
                const int32_t x0 = 1 + place * (w - pw - 3) / 3, y0 = 1 + place * (h - ph - 3) / 3;
                EXPECT_TRUE(foundAt(model, pattern, w, h, x0, y0, uint32_t(w)))
                    << pw << "x" << ph << ", view " << w << "x" << h << ", copy at " << x0 << ", " << y0;
            }
    }
}

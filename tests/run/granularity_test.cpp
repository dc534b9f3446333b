// Searches with the automatic coarse granularity of a 28-pixel pattern side
// (3.5 for 28 x 28, level factors 2 and 1.75; 2.5 for 28 x 21, factors 2 and
// 1.25): exact copies planted at the corners and middle of small views must
// be found within half a pixel, scoring at least 0.95.
#include "run/run_support.hpp"

namespace {

qtest::Texture randomTexture(std::mt19937& rng, double w, double h)
{
    return qtest::blobTexture(rng, int(w * h / 12), -10, w + 20, -10, h + 20, 2.0, 2.0, 60, 128);
}

TEST(Granularity, AutomaticNonPowerOfTwoFindsExactCopiesInSmallViews)
{
    for (const auto& [pw, ph, coarse] : {std::tuple{28, 28, 3.5f}, {28, 21, 2.5f}}) {
        std::mt19937 rng(ph == 28 ? 21 : 22);
        const qtest::Image8 pattern = qtest::sample(randomTexture(rng, pw, ph), pw, ph);
        qtest::Model model;
        const qtest::OwnedImage patternImage(pattern);
        const qsrch_normcorr_trainParams tp = qtest::trainParams(1, 2.0f);
        ASSERT_EQ(qsrch_normcorr_model_train(model.get(), patternImage.cget(), &tp), QSRCH_OK);
        ASSERT_TRUE(model->trainParams.coarseGranularity == coarse && qtest::levelCount(*model) == 3u);
        for (const auto& [w, h] : {std::pair{52, 39}, {64, 48}, {80, 60}})
            for (int place = 0; place < 4; ++place) {
                const int32_t x0 = 1 + place * (w - pw - 3) / 3, y0 = 1 + place * (h - ph - 3) / 3;
                std::mt19937 backgroundRng(w);
                qtest::Image8 scene = qtest::sample(randomTexture(backgroundRng, w, h), w, h);
                qtest::paste(scene, pattern, x0, y0);
                const qtest::OwnedImage image(scene);
                const qsrch_normcorr_runParams params = qtest::runParams(1, 1.0f);
                qtest::Results results;
                ASSERT_EQ(qsrch_normcorr_run(model.get(), image.cget(), &params, results.get()), QSRCH_OK);
                bool found = false;
                for (size_t i = 0; i < results.size(); ++i)
                    found = found || (std::hypot(results[i].pose.trans.x - x0, results[i].pose.trans.y - y0) <= 0.5 &&
                                      results[i].score >= 0.95f);
                EXPECT_TRUE(found) << pw << "x" << ph << ", view " << w << "x" << h << ", copy at " << x0 << ", " << y0;
            }
    }
}

}  // namespace

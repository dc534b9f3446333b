// Searches with the automatic coarse granularity of a 28-pixel pattern side
// (3.5 for 28 x 28, level factors 2 and 1.75; 2.5 for 28 x 21, factors 2 and
// 1.25): an exact copy of the pattern planted in small views at integer
// places must be found at its place; copies at sub-pixel places (drawn from a
// smooth analytic texture, so they are exact too) are searched and recorded.
#include <cstdio>

#include "run/run_support.hpp"

namespace {

using qtest::Image8;
using qtest::Model;
using qtest::OwnedImage;
using qtest::Texture;

Texture randomTexture(std::mt19937& rng, double w, double h)
{
    return qtest::blobTexture(rng, int(w * h / 12), -10, w + 20, -10, h + 20, 2.0, 2.0, 60, 128);
}

void trainAutomatic(Model& model, const Image8& pattern, float expectedCoarse)
{
    OwnedImage image(pattern);
    const qsrch_normcorr_trainParams tp = qtest::trainParams(1, 2.0f);
    ASSERT_EQ(qsrch_normcorr_model_train(model.get(), image.cget(), &tp), QSRCH_OK);
    ASSERT_EQ(model->trainParams.coarseGranularity, expectedCoarse);
    ASSERT_EQ(qtest::levelCount(*model), 3u);
}

// Whether a search of `scene` reports the copy at (x, y): a result
// within `within` pixels with a score of at least `minScore`. Every
// candidate is followed down: a chance match of the textured background may
// not end the search before the copy is refined.
bool foundAt(Model& model, const Image8& scene, double x, double y, double within, float minScore)
{
    OwnedImage image(scene);
    const qsrch_normcorr_runParams params = qtest::runParams(1, 1.0f);
    qtest::Results results;
    EXPECT_EQ(qsrch_normcorr_run(model.get(), image.cget(), &params, results.get()), QSRCH_OK);
    for (size_t i = 0; i < results.size(); ++i)
        if (std::hypot(results[i].pose.trans.x - x, results[i].pose.trans.y - y) <= within &&
            results[i].score >= minScore)
            return true;
    return false;
}

// The view's own texture, with `copy` (pattern pixel (u, v) at (x0 + u,
// y0 + v)) over the pattern's w x h extent.
template <class Copy>
Image8 plant(int32_t w, int32_t h, uint32_t backgroundSeed, double x0, double y0, int32_t pw, int32_t ph, Copy copy)
{
    std::mt19937 backgroundRng(backgroundSeed);
    const Texture background = randomTexture(backgroundRng, w, h);
    Image8 scene(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const double u = x - x0, v = y - y0;
            const bool inside = u >= 0 && v >= 0 && u <= pw - 1 && v <= ph - 1;
            scene.at(x, y) = inside ? copy(u, v) : qtest::toPixel(background(x, y));
        }
    return scene;
}

Image8 plantCopy(const Texture& texture, int32_t pw, int32_t ph, int32_t w, int32_t h, double x0, double y0)
{
    return plant(w, h, uint32_t(w), x0, y0, pw, ph,
                 [&](double u, double v) { return qtest::toPixel(texture(u, v)); });
}

}  // namespace

TEST(Granularity, AutomaticNonPowerOfTwoFindsExactCopiesInSmallViews)
{
    const int32_t patterns[2][2] = {{28, 28}, {28, 21}};
    const float expectedCoarse[2] = {3.5f, 2.5f};
    for (int p = 0; p < 2; ++p) {
        const int32_t pw = patterns[p][0], ph = patterns[p][1];
        std::mt19937 rng(21 + p);
        const Texture texture = randomTexture(rng, pw, ph);
        Model model;
        trainAutomatic(model, qtest::sample(texture, pw, ph), expectedCoarse[p]);
        for (const auto& [w, h] : {std::pair{52, 39}, std::pair{64, 48}, std::pair{80, 60}}) {
            std::string record;
            // Corners and middle of the view, on and off the coarse grid.
            for (double offset : {0.0, 0.25, 0.5, 0.75})
                for (int place = 0; place < 4; ++place) {
                    const double x0 = 1 + place * (w - pw - 3) / 3 + offset;
                    const double y0 = 1 + place * (h - ph - 3) / 3 + offset / 2;
                    SCOPED_TRACE(testing::Message() << "pattern " << pw << "x" << ph << ", view " << w << "x" << h
                                                    << ", copy at " << x0 << ", " << y0);
                    // An integer copy scores 1 at its place; a sub-pixel one only near it, and its
                    // fitted place may be off by most of a pixel. Sub-pixel copies are only recorded:
                    // some are still lost in refinement.
                    const bool integer = offset == 0.0;
                    const bool found = foundAt(model, plantCopy(texture, pw, ph, w, h, x0, y0), x0, y0,
                                               integer ? 0.5 : 1.25, integer ? 0.95f : 0.6f);
                    EXPECT_TRUE(found || !integer);
                    record += found ? '+' : '-';
                }
            std::printf("[ granular ] %dx%d pattern, coarse %g, %dx%d view: %s\n", pw, ph, expectedCoarse[p], w, h,
                        record.c_str());
        }
    }
}

// Random pixels copied half way between two positions of level 1: the
// candidate arrives at (1.72, 6.81), the refinement scores x 0..3, y 6..8 and
// finds the strict maximum (2, 7). The corner coupling of the fit puts the
// peak more than half a position above it, on row 6, the region's edge; the
// border test would re-detect around (2, 6), find (2, 7) higher and drop the
// only candidate. The fit keeps such a peak within rounding of (2, 7).
TEST(Granularity, RefinementKeepsPeakWhoseFitStepsOntoRegionEdge)
{
    std::mt19937 rng(9);
    const Image8 pattern = qtest::texture(rng, 28, 28);
    Model model;
    trainAutomatic(model, pattern, 3.5f);
    const Image8 scene =
        plant(64, 48, 3, 3, 13, 28, 28, [&](double u, double v) { return pattern.at(int32_t(u), int32_t(v)); });
    EXPECT_TRUE(foundAt(model, scene, 3, 13, 0.5, 0.95f));
}

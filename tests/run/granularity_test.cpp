// Searches with the automatic coarse granularity of a 28-pixel pattern side
// (3.5 for 28 x 28, level factors 2 and 1.75; 2.5 for 28 x 21, factors 2 and
// 1.25): an exact copy of the pattern planted in small views at integer
// places must be found at its place; copies at sub-pixel places (drawn from a
// smooth analytic texture, so they are exact too) are searched and recorded.
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "model/model_support.hpp"

namespace {

using qtest::Image8;
using qtest::Model;
using qtest::OwnedImage;

struct Blob {
    double x, y, sigma, amplitude;
};

struct Texture {
    std::vector<Blob> blobs;
    double operator()(double x, double y) const
    {
        double v = 128;
        for (const Blob& b : blobs) {
            const double dx = x - b.x, dy = y - b.y, reach = 5 * b.sigma;
            if (std::fabs(dx) < reach && std::fabs(dy) < reach)
                v += b.amplitude * std::exp(-(dx * dx + dy * dy) / (2 * b.sigma * b.sigma));
        }
        return v;
    }
};

Texture randomTexture(std::mt19937& rng, double w, double h, double sigmaMin, double sigmaMax)
{
    std::uniform_real_distribution<double> u(0, 1);
    Texture t;
    for (int i = 0, n = int(w * h / 12); i < n; ++i)
        t.blobs.push_back({u(rng) * (w + 20) - 10, u(rng) * (h + 20) - 10,
                           sigmaMin + (sigmaMax - sigmaMin) * u(rng), 60 * (2 * u(rng) - 1)});
    return t;
}

uint8_t toPixel(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

class Results {
public:
    Results() { EXPECT_EQ(qstd_vector_qsrch_normcorr_result_constructEmpty(&v_), QSRCH_OK); }
    ~Results() { qstd_vector_qsrch_normcorr_result_destruct(&v_); }
    Results(const Results&) = delete;
    qstd_vector_qsrch_normcorr_result* get() { return &v_; }
    size_t size() const { return v_.size; }
    const qsrch_normcorr_result& operator[](size_t i) const
    {
        return static_cast<const qsrch_normcorr_result*>(v_.begin)[i];
    }

private:
    qstd_vector_qsrch_normcorr_result v_;
};

void trainAutomatic(Model& model, const Image8& pattern)
{
    OwnedImage image(pattern);
    const qsrch_normcorr_trainParams tp = qtest::trainParams(1, 2.0f);
    ASSERT_EQ(qsrch_normcorr_model_train(model.get(), image.cget(), &tp), QSRCH_OK);
}

// Whether a search of `scene` reports the copy at (x, y): a result
// within `within` pixels with a score of at least `minScore`.
bool foundAt(Model& model, const Image8& scene, double x, double y, double within, float minScore)
{
    OwnedImage image(scene);
    qsrch_normcorr_runParams params;
    EXPECT_EQ(qsrch_normcorr_runParams_init(&params), QSRCH_OK);
    // Every candidate is followed down: a chance match of the textured
    // background may not end the search before the copy is refined.
    params.confusionThreshold = 1.0f;
    Results results;
    EXPECT_EQ(qsrch_normcorr_run(model.get(), image.cget(), &params, results.get()), QSRCH_OK);
    for (size_t i = 0; i < results.size(); ++i)
        if (std::hypot(results[i].pose.trans.x - x, results[i].pose.trans.y - y) <= within &&
            results[i].score >= minScore)
            return true;
    return false;
}

Image8 sampleTexture(const Texture& texture, int32_t w, int32_t h)
{
    Image8 image(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) image.at(x, y) = toPixel(texture(x, y));
    return image;
}

// The view's own texture with the pattern's texture planted so that pattern
// pixel (0, 0) falls on (x0, y0).
Image8 plantCopy(const Texture& texture, int32_t pw, int32_t ph, int32_t w, int32_t h, double x0, double y0)
{
    std::mt19937 backgroundRng(w);
    const Texture background = randomTexture(backgroundRng, w, h, 2.0, 4.0);
    Image8 scene(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const double u = x - x0, v = y - y0;
            const bool inside = u >= 0 && v >= 0 && u <= pw - 1 && v <= ph - 1;
            scene.at(x, y) = toPixel(inside ? texture(u, v) : background(x, y));
        }
    return scene;
}

constexpr int32_t kViews[3][2] = {{52, 39}, {64, 48}, {80, 60}};

}  // namespace

TEST(Granularity, AutomaticNonPowerOfTwoFindsExactCopiesInSmallViews)
{
    const int32_t patterns[2][2] = {{28, 28}, {28, 21}};
    const float expectedCoarse[2] = {3.5f, 2.5f};
    for (int p = 0; p < 2; ++p) {
        const int32_t pw = patterns[p][0], ph = patterns[p][1];
        std::mt19937 rng(21 + p);
        const Texture texture = randomTexture(rng, pw, ph, 2.0, 4.0);
        Model model;
        trainAutomatic(model, sampleTexture(texture, pw, ph));
        ASSERT_EQ(model->trainParams.coarseGranularity, expectedCoarse[p]);
        ASSERT_EQ(qtest::levelCount(*model), 3u);

        for (const auto& view : kViews) {
            const int32_t w = view[0], h = view[1];
            std::string record;
            // Corners and middle of the view, on and off the coarse grid.
            for (double offset : {0.0, 0.25, 0.5, 0.75})
                for (int place = 0; place < 4; ++place) {
                    const double x0 = 1 + place * (w - pw - 3) / 3 + offset;
                    const double y0 = 1 + place * (h - ph - 3) / 3 + offset / 2;
                    SCOPED_TRACE("pattern " + std::to_string(pw) + "x" + std::to_string(ph) + ", view " +
                                 std::to_string(w) + "x" + std::to_string(h) + ", copy at " +
                                 std::to_string(x0) + ", " + std::to_string(y0));
                    const Image8 scene = plantCopy(texture, pw, ph, w, h, x0, y0);
                    // An integer copy scores 1 at its place; a sub-pixel one only
                    // near it, and its fitted place may be off by most of a pixel.
                    const bool integer = offset == 0.0;
                    const bool found = foundAt(model, scene, x0, y0, integer ? 0.5 : 1.25, integer ? 0.95f : 0.6f);
                    // Sub-pixel copies are only recorded: some are still lost in
                    // refinement (see the disabled test below).
                    if (integer) {
                        EXPECT_TRUE(found);
                    }
                    record += found ? '+' : '-';
                }
            std::printf("[ granular ] %dx%d pattern, coarse %g, %dx%d view: %s\n", pw, ph,
                        model->trainParams.coarseGranularity, w, h, record.c_str());
        }
    }
}

// Both cases lose the copy in the same way. On a refinement level the best
// position is a strict local maximum of the scores, but the sub-pixel fit
// puts the peak a little more than half a position away (0.52 to 0.55) and
// steps the integer position onto the neighbour on the edge of the
// refinement region. Re-detected there, with its neighbours in view, the
// neighbour is no local maximum, so the peak is removed and with it the only
// candidate of the copy. First: independent random pixels copied at an
// integer place half way between two positions of level 1. Second: a smooth
// texture at a sub-pixel place, also lost on level 1 (other places lose it
// on level 0). Kept disabled until the fit no longer steps off a detected
// maximum.
TEST(Granularity, DISABLED_RefinementKeepsPeakWhoseFitStepsOntoRegionEdge)
{
    std::mt19937 rng(9);
    const Image8 pattern = qtest::texture(rng, 28, 28);
    Model model;
    trainAutomatic(model, pattern);
    ASSERT_EQ(model->trainParams.coarseGranularity, 3.5f);
    const int32_t w = 64, h = 48, x0 = 3, y0 = 13;
    std::mt19937 backgroundRng(x0);
    const Texture background = randomTexture(backgroundRng, w, h, 2.0, 4.0);
    Image8 scene(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int32_t u = x - x0, v = y - y0;
            scene.at(x, y) = u >= 0 && v >= 0 && u < 28 && v < 28 ? pattern.at(u, v) : toPixel(background(x, y));
        }
    EXPECT_TRUE(foundAt(model, scene, x0, y0, 0.5, 0.95f));

    std::mt19937 smoothRng(22);
    const Texture texture = randomTexture(smoothRng, 28, 21, 2.0, 4.0);
    Model smoothModel;
    trainAutomatic(smoothModel, sampleTexture(texture, 28, 21));
    EXPECT_TRUE(foundAt(smoothModel, plantCopy(texture, 28, 21, 80, 60, 1.25, 1.125), 1.25, 1.125, 1.25, 0.6f));
}

// Training's pyramid, masks and statistics against the reducers and brute force.
#include "model_support.hpp"

#include <cmath>
#include <numeric>

namespace {

using qtest::at, qtest::expectPlane, qtest::Plane, qtest::planeOf;
using qtest::reduceLevel, qtest::Image8, qtest::level, qtest::Model;

struct TrainCase {
    int32_t w, h;
    uint32_t autoSelect;
    float coarse;  // given granularity; ignored with autoSelect
    int planes;
    bool masked;
    bool window;
    std::vector<float> granularities;  // expected, level 0 first
};

// Views into larger images with slack at other origins, or whole images.
struct Pattern {
    std::vector<Image8> planes;
    Image8 mask{0, 0};
    std::vector<qimg_windowConst> views;
    qimg_windowConst maskView{};
};

Pattern makePattern(const TrainCase& c, std::mt19937& rng)
{
    Pattern p;
    const int32_t dx = c.window ? 5 : 0, dy = c.window ? 3 : 0;
    const int32_t iw = c.w + (c.window ? 9 : 0), ih = c.h + (c.window ? 6 : 0);
    for (int k = 0; k < c.planes; ++k) p.planes.push_back(qtest::texture(rng, iw, ih, c.window ? iw + 7 : -1));
    for (const Image8& plane : p.planes) p.views.push_back(plane.window(dx, dy, c.w, c.h));
    p.mask = qtest::blobMask(rng, c.w + (c.window ? 4 : 0), c.h + (c.window ? 4 : 0));
    if (c.masked) p.maskView = p.mask.window(c.window ? 2 : 0, c.window ? 4 : 0, c.w, c.h);
    return p;
}

qsrch_status train(Model& model, const TrainCase& c, const Pattern& p, bool masked,
                   const qsrch_normcorr_trainParams& params)
{
    const qimg_windowConst noMask{};
    const qimg_windowConst* mask = masked ? &p.maskView : &noMask;
    const qmath_xformLinear id = qtest::identity();
    if (c.window) {
        if (c.planes == 1) return qsrch_normcorr_model_trainMaskWindow(model.get(), &p.views[0], mask, &id, &params);
        return qsrch_normcorr_model_trainMaskWindow3(model.get(), &p.views[0], &p.views[1], &p.views[2], mask, &id,
                                                     &params);
    }
    std::vector<std::unique_ptr<qtest::OwnedImage>> images;
    for (const Image8& plane : p.planes) images.push_back(std::make_unique<qtest::OwnedImage>(plane));
    qtest::OwnedImage maskImage(p.mask);
    if (c.planes == 1)
        return masked ? qsrch_normcorr_model_trainMask(model.get(), images[0]->cget(), maskImage.cget(), &params)
                      : qsrch_normcorr_model_train(model.get(), images[0]->cget(), &params);
    return masked ? qsrch_normcorr_model_trainMask3(model.get(), images[0]->cget(), images[1]->cget(),
                                                    images[2]->cget(), maskImage.cget(), &params)
                  : qsrch_normcorr_model_train3(model.get(), images[0]->cget(), images[1]->cget(),
                                                images[2]->cget(), &params);
}

class TrainLevels : public ::testing::TestWithParam<TrainCase> {};

// The plane a level holds, with its sum and sum of squares.
void expectPlaneAndSums(const qsrch_normcorr_level_& L, int plane, const Plane& expected, const char* what)
{
    expectPlane(L.planeWindow[plane], expected, what);
    uint64_t sum = 0, sumSq = 0;
    for (uint8_t v : expected.px) sum += v, sumSq += uint64_t{v} * v;
    EXPECT_EQ(L.sum[plane], sum);
    EXPECT_EQ(L.sumSq[plane], static_cast<double>(sumSq));
}

TEST_P(TrainLevels, EveryLevelIsTheReducedMaskedPatternWithExactStatistics)
{
    const TrainCase& c = GetParam();
    std::mt19937 rng(static_cast<uint32_t>(c.w * 131 + c.h));
    const Pattern p = makePattern(c, rng);
    const qsrch_normcorr_trainParams params = qtest::trainParams(c.autoSelect, c.coarse);
    const size_t n = c.granularities.size();

    // Unmasked: level 0 is the pattern, level k the reduction of level k - 1;
    // planes a grey pattern lacks stay empty.
    Model plain;
    ASSERT_EQ(train(plain, c, p, false, params), QSRCH_OK);
    ASSERT_TRUE(qtest::trained(*plain));
    ASSERT_EQ(qtest::levelCount(*plain), n);
    EXPECT_EQ(plain->trainParams.coarseGranularity, c.granularities.back());
    EXPECT_EQ(plain->trainParams.fineGranularity, 1);
    for (size_t k = 0; k < n; ++k) {
        SCOPED_TRACE("level " + std::to_string(k));
        const qsrch_normcorr_level_& L = level(*plain, k);
        EXPECT_TRUE(k == 0 || L.factor == c.granularities[k] / c.granularities[k - 1]) << L.factor;
        EXPECT_EQ(L.maskWindow.firstPixel, nullptr);
        for (int plane = 0; plane < 3; ++plane) {
            if (plane >= c.planes) {
                EXPECT_TRUE(L.planeWindow[plane].firstPixel == nullptr && L.sum[plane] == 0u);
                continue;
            }
            const Plane expected = k == 0 ? planeOf(p.views[plane])
                                          : reduceLevel(level(*plain, k - 1).planeWindow[plane], L.factor);
            EXPECT_EQ(L.nCare, static_cast<uint32_t>(expected.px.size()));
            expectPlaneAndSums(L, plane, expected, "plane");
        }
    }
    // The model's copy of the pattern: its pixels, cleared slack, the view's origin.
    const qimg_imageConst& copy = plain->trainImage;
    EXPECT_TRUE(copy.x == p.views[0].x && copy.y == p.views[0].y);
    qimg_windowConst copyView;
    qimg_windowConst_init(&copyView, &copy);
    expectPlane(copyView, planeOf(p.views[0]), "trainImage");
    for (int32_t y = 0; y < copy.height; ++y)
        for (int32_t x = copy.width; x < copy.rowStride; ++x) ASSERT_EQ(at(copyView, x, y), 0) << x << ", " << y;
    EXPECT_FALSE(qtest::isBound(plain->trainMask));
    if (!c.masked) return;

    // Masked: the same pyramid, each plane zeroed where the two-valued mask
    // of its level is 0, and statistics over the cared-for pixels only.
    Model masked;
    ASSERT_EQ(train(masked, c, p, true, params), QSRCH_OK);
    ASSERT_EQ(qtest::levelCount(*masked), n);
    for (size_t k = 0; k < n; ++k) {
        SCOPED_TRACE("masked level " + std::to_string(k));
        const qsrch_normcorr_level_& L = level(*masked, k);
        Plane mask = k == 0 ? planeOf(p.maskView) : reduceLevel(level(*masked, k - 1).maskWindow, L.factor);
        for (uint8_t& v : mask.px) v = v < 128 ? 0 : 255;
        expectPlane(L.maskWindow, mask, "mask");
        EXPECT_EQ(L.nCare, static_cast<uint32_t>(mask.px.size() - std::count(mask.px.begin(), mask.px.end(), 0)));
        for (int plane = 0; plane < c.planes; ++plane) {
            Plane expected = planeOf(level(*plain, k).planeWindow[plane]);
            for (size_t i = 0; i < expected.px.size(); ++i) expected.px[i] = mask.px[i] == 0 ? 0 : expected.px[i];
            expectPlaneAndSums(L, plane, expected, "masked plane");
        }
    }
    // The model keeps the caller's mask values, at the mask view's origin.
    EXPECT_TRUE(masked->trainMask.x == p.maskView.x && masked->trainMask.y == p.maskView.y);
    qimg_windowConst maskCopy;
    qimg_windowConst_init(&maskCopy, &masked->trainMask);
    expectPlane(maskCopy, planeOf(p.maskView), "trainMask");
}

// Odd given granularities end in another factor; smaller sides 8..97 choose 1..12.
INSTANTIATE_TEST_SUITE_P(
    Cases, TrainLevels,
    ::testing::Values(TrainCase{40, 33, 0, 4.0f, 1, false, false, {1, 2, 4}},
                      TrainCase{40, 33, 0, 3.0f, 1, true, true, {1, 2, 3}},
                      TrainCase{33, 17, 0, 1.5f, 3, true, true, {1, 1.5f}},
                      TrainCase{64, 61, 0, 6.0f, 3, false, false, {1, 2, 4, 6}},
                      TrainCase{31, 9, 0, 1.0f, 1, true, true, {1}},
                      TrainCase{8, 9, 1, 4.0f, 1, true, false, {1}},
                      TrainCase{12, 17, 1, 4.0f, 1, false, true, {1, 1.5f}},
                      TrainCase{16, 16, 1, 4.0f, 3, true, true, {1, 2}},
                      TrainCase{20, 20, 1, 4.0f, 3, false, true, {1, 2, 2.5f}},
                      TrainCase{24, 31, 1, 4.0f, 3, true, false, {1, 2, 3}},
                      TrainCase{97, 100, 1, 4.0f, 1, true, true, {1, 2, 4, 8, 12}}));

TEST(DefaultCoarseGranularity, FollowsThePatternSize)
{
    const std::pair<int32_t, float> cases[] = {{-3, 1.0f}, {1, 1.0f},  {8, 1.0f},   {9, 1.125f},  {12, 1.5f},
                                               {15, 1.875f}, {16, 2.0f}, {20, 2.5f}, {31, 1.875f * 2}, {100, 12.0f}};
    for (auto [m, g] : cases) EXPECT_EQ(qsrch_normcorr_defaultCoarseGranularity(m), g) << m;
}

// Level 1 from the pattern grown by two pixels, if asked and there is room.
TEST(TrainSurround, FirstLevelIsReducedWithTheSurroundingBand)
{
    std::mt19937 rng(7);
    const int32_t w = 21, h = 14;
    Image8 image = qtest::texture(rng, w + 9, h + 8, w + 16);
    const qmath_xformLinear id = qtest::identity();
    const qsrch_normcorr_trainParams plainParams = qtest::trainParams(0, 4.0f);
    const qsrch_normcorr_trainParams bandParams = qtest::trainParams(0, 4.0f, 1, 1);
    // Level 1 of `model` trained from the view at (x, y).
    auto levelOne = [&](Model& model, int32_t x, int32_t y, const qsrch_normcorr_trainParams& params,
                        bool moved = false) {
        qimg_windowConst view = image.window(x, y, w, h);
        if (moved) view.x = view.y = 0;  // callers may move the view's origin: the band is placed by its pixels
        EXPECT_EQ(qsrch_normcorr_model_trainWindow(model.get(), &view, &id, &params), QSRCH_OK);
        return qtest::levelCount(*model) > 1 ? planeOf(level(*model, 1).planeWindow[0]) : Plane{};
    };
    Model plain, band, bandMoved;
    const Plane reducedBand = reduceLevel(image.window(2, 0, w + 4, h + 4), 2.0f);
    const Plane reducedPlain = levelOne(plain, 4, 2, plainParams);
    Plane expected = reducedPlain;
    for (int32_t y = 0; y < expected.h; ++y)
        for (int32_t x = 0; x < expected.w; ++x) expected.px[size_t(y) * expected.w + x] = reducedBand(x + 1, y + 1);
    EXPECT_NE(expected.px, reducedPlain.px);  // the border of a texture must see its surroundings
    levelOne(band, 4, 2, bandParams);
    expectPlane(level(*band, 1).planeWindow[0], expected, "band");
    expectPlane(level(*band, 2).planeWindow[0], reduceLevel(level(*band, 1).planeWindow[0], 2.0f), "level 2");
    EXPECT_EQ(level(*band, 1).sum[0], uint32_t(std::accumulate(expected.px.begin(), expected.px.end(), 0)));
    EXPECT_EQ(levelOne(bandMoved, 4, 2, bandParams, true).px, expected.px);
    for (auto [x, y] : {std::pair{1, 2}, std::pair{4, 1}, std::pair{8, 2}, std::pair{4, 7}}) {
        Model tooClose;
        EXPECT_EQ(levelOne(tooClose, x, y, bandParams).px, levelOne(plain, x, y, plainParams).px)
            << "no room at " << x << ", " << y;
    }
}

// A uniform level: automatic granularity stops finer, a given one fails.
TEST(TrainUniform, CoarserUniformLevelLowersAutomaticGranularityOnly)
{
    std::mt19937 rng(11);
    const int32_t w = 32, h = 32;  // size-based choice: 4
    Image8 pattern = qtest::texture(rng, w, h);
    // Isolated care pixels vanish on reduction: level 1 has no care pixel.
    Image8 mask(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) mask.at(x, y) = (x % 4 == 1 && y % 4 == 1) ? 200 : 0;
    const qimg_windowConst view = pattern.window(), maskView = mask.window();
    const qmath_xformLinear id = qtest::identity();

    Model model;
    const qsrch_normcorr_trainParams automatic = qtest::trainParams(1, 4.0f), given = qtest::trainParams(0, 4.0f);
    ASSERT_EQ(qsrch_normcorr_model_trainMaskWindow(model.get(), &view, &maskView, &id, &automatic), QSRCH_OK);
    EXPECT_TRUE(qtest::levelCount(*model) == 1 && model->trainParams.coarseGranularity == 1.0f &&
                model->trainParams.fineGranularity == 1 && level(*model, 0).nCare == 64);
    EXPECT_EQ(qsrch_normcorr_model_trainMaskWindow(model.get(), &view, &maskView, &id, &given), QSRCH_E_NO_CONTRAST);
    EXPECT_TRUE(!qtest::trained(*model) && qtest::levelCount(*model) == 0);

    // Three planes are uniform only together: a constant plane 0 beside a
    // textured plane 1 still trains.
    Image8 flat(w, h);
    flat.fill(90);
    const qimg_windowConst flatView = flat.window();
    ASSERT_EQ(qsrch_normcorr_model_trainWindow3(model.get(), &flatView, &view, &flatView, &id, &given), QSRCH_OK);
    EXPECT_EQ(qtest::levelCount(*model), 3u);
    EXPECT_EQ(qsrch_normcorr_model_trainWindow3(model.get(), &flatView, &flatView, &flatView, &id, &automatic),
              QSRCH_E_NO_CONTRAST);
    EXPECT_FALSE(qtest::trained(*model));
}

}  // namespace

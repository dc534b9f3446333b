// Training's pyramid, masks and statistics against the reducers and brute force.
#include <numeric>

#include "model_support.hpp"

namespace {

using qtest::expectPlane, qtest::Image8, qtest::level, qtest::Model, qtest::Plane, qtest::planeOf, qtest::reduceLevel;

// w, h, autoSelect, given coarse, planes, masked, window (views into larger images with slack at other
// origins), the granularities expected from level 0.
using TrainCase = std::tuple<int32_t, int32_t, uint32_t, float, int, bool, bool, std::vector<float>>;

class TrainLevels : public ::testing::TestWithParam<TrainCase> {
protected:
    void SetUp() override
    {
        const auto& [w, h, autoSelect, coarse, planes, masked, window, granularities] = GetParam();
        std::mt19937 rng(static_cast<uint32_t>(w * 131 + h));
        const int32_t d = window ? 1 : 0, iw = w + 9 * d, ih = h + 6 * d;
        for (int k = 0; k < planes; ++k) planes_.push_back(qtest::texture(rng, iw, ih, window ? iw + 7 : -1));
        for (const Image8& plane : planes_) views_.push_back(plane.window(5 * d, 3 * d, w, h));
        mask_ = qtest::blobMask(rng, w + 4 * d, h + 4 * d);
        maskView_ = mask_.window(2 * d, 4 * d, w, h);
    }
    qsrch_status train(Model& model, bool masked)
    {
        const qsrch_normcorr_trainParams params = qtest::trainParams(std::get<2>(GetParam()), std::get<3>(GetParam()));
        const qimg_windowConst noMask{}, *mask = masked ? &maskView_ : &noMask, *v = views_.data();
        const qmath_xformLinear id = qtest::identity();
        qsrch_normcorr_model* m = model.get();
        return std::get<4>(GetParam()) == 1 ? qsrch_normcorr_model_trainMaskWindow(m, &v[0], mask, &id, &params)
                             : qsrch_normcorr_model_trainMaskWindow3(m, &v[0], &v[1], &v[2], mask, &id, &params);
    }
    std::vector<Image8> planes_;
    std::vector<qimg_windowConst> views_;
    Image8 mask_;
    qimg_windowConst maskView_{};
};

void expectPlaneAndSums(const qsrch_normcorr_level_& L, int plane, const Plane& expected, const char* what)
{
    expectPlane(L.planeWindow[plane], expected, what);
    uint64_t sum = 0, sumSq = 0;
    for (uint8_t v : expected.px) sum += v, sumSq += uint64_t{v} * v;
    EXPECT_TRUE(L.sum[plane] == sum && L.sumSq[plane] == static_cast<double>(sumSq)) << what;
}

// Level k reduces level k - 1; masked, planes are zeroed where the level's two-valued mask is 0.
TEST_P(TrainLevels, EveryLevelIsTheReducedMaskedPatternWithExactStatistics)
{
    const auto& [w, h, autoSelect, coarse, planes, isMasked, window, granularities] = GetParam();
    const size_t n = granularities.size();
    Model plain, masked;
    ASSERT_EQ(train(plain, false), QSRCH_OK);
    ASSERT_EQ(isMasked ? train(masked, true) : QSRCH_OK, QSRCH_OK);
    ASSERT_TRUE(qtest::trained(*plain) && plain->levels.size == n && (!isMasked || masked->levels.size == n));
    EXPECT_TRUE(plain->trainParams.coarseGranularity == granularities.back() &&
                plain->trainParams.fineGranularity == 1);
    for (size_t k = 0; k < n; ++k) {
        SCOPED_TRACE("level " + std::to_string(k));
        const qsrch_normcorr_level_& L = level(*plain, k);
        EXPECT_TRUE((k == 0 || L.factor == granularities[k] / granularities[k - 1]) && !L.maskWindow.firstPixel);
        for (int plane = planes; plane < 3; ++plane)
            EXPECT_TRUE(L.planeWindow[plane].firstPixel == nullptr && L.sum[plane] == 0u);
        for (int plane = 0; plane < planes; ++plane) {
            const Plane expected =
                k == 0 ? planeOf(views_[plane]) : reduceLevel(level(*plain, k - 1).planeWindow[plane], L.factor);
            EXPECT_EQ(L.nCare, static_cast<uint32_t>(expected.px.size()));
            expectPlaneAndSums(L, plane, expected, "plane");
        }
        if (!isMasked) continue;
        const qsrch_normcorr_level_& M = level(*masked, k);
        Plane mask = k == 0 ? planeOf(maskView_) : reduceLevel(level(*masked, k - 1).maskWindow, M.factor);
        for (uint8_t& v : mask.px) v = v < 128 ? 0 : 255;
        expectPlane(M.maskWindow, mask, "mask");
        EXPECT_EQ(M.nCare, static_cast<uint32_t>(mask.px.size() - std::count(mask.px.begin(), mask.px.end(), 0)));
        for (int plane = 0; plane < planes; ++plane) {
            Plane expected = planeOf(L.planeWindow[plane]);
            for (size_t i = 0; i < expected.px.size(); ++i) expected.px[i] = mask.px[i] == 0 ? 0 : expected.px[i];
            expectPlaneAndSums(M, plane, expected, "masked plane");
        }
    }
    const qimg_imageConst& copy = plain->trainImage;
    EXPECT_TRUE(copy.x == views_[0].x && copy.y == views_[0].y && !qtest::isBound(plain->trainMask));
    qimg_windowConst copyView, maskCopy;
    qimg_windowConst_init(&copyView, &copy);
    expectPlane(copyView, planeOf(views_[0]), "trainImage");
    if (!isMasked) return;
    EXPECT_TRUE(masked->trainMask.x == maskView_.x && masked->trainMask.y == maskView_.y);
    qimg_windowConst_init(&maskCopy, &masked->trainMask);
    expectPlane(maskCopy, planeOf(maskView_), "trainMask");
}

// Odd given granularities end in another factor; smaller sides 8..97 choose 1..12.
using C = TrainCase;
INSTANTIATE_TEST_SUITE_P(
    Cases, TrainLevels,
    ::testing::Values(C{40, 33, 0, 4, 1, false, false, {1, 2, 4}}, C{40, 33, 0, 3, 1, true, true, {1, 2, 3}},
                      C{33, 17, 0, 1.5f, 3, true, true, {1, 1.5f}}, C{31, 9, 0, 1, 1, true, true, {1}},
                      C{64, 61, 0, 6, 3, false, false, {1, 2, 4, 6}}, C{8, 9, 1, 4, 1, true, false, {1}},
                      C{12, 17, 1, 4, 1, false, true, {1, 1.5f}}, C{16, 16, 1, 4, 3, true, true, {1, 2}},
                      C{20, 20, 1, 4, 3, false, true, {1, 2, 2.5f}}, C{24, 31, 1, 4, 3, true, false, {1, 2, 3}},
                      C{97, 100, 1, 4, 1, true, true, {1, 2, 4, 8, 12}}));

// Level 1 from the pattern grown by two pixels, placed by the view's pixels, not its recorded origin.
TEST(TrainSurround, FirstLevelIsReducedWithTheSurroundingBand)
{
    std::mt19937 rng(7);
    const int32_t w = 21, h = 14;
    Image8 image = qtest::texture(rng, w + 9, h + 8, w + 16);
    const qmath_xformLinear id = qtest::identity();
    auto levelOne = [&](int32_t x, int32_t y, uint32_t band, bool moved = false) {
        qimg_windowConst view = image.window(x, y, w, h);
        if (moved) view.x = view.y = 0;
        Model model;
        const qsrch_normcorr_trainParams params = qtest::trainParams(0, 4.0f, 1, band);
        EXPECT_EQ(qsrch_normcorr_model_trainWindow(model.get(), &view, &id, &params), QSRCH_OK);
        expectPlane(level(*model, 2).planeWindow[0], reduceLevel(level(*model, 1).planeWindow[0], 2.0f), "level 2");
        return std::pair{planeOf(level(*model, 1).planeWindow[0]), level(*model, 1).sum[0]};
    };
    const Plane reducedBand = reduceLevel(image.window(2, 0, w + 4, h + 4), 2.0f), plain = levelOne(4, 2, 0).first;
    Plane expected = plain;
    for (int32_t y = 0; y < expected.h; ++y)
        for (int32_t x = 0; x < expected.w; ++x) expected.px[size_t(y) * expected.w + x] = reducedBand(x + 1, y + 1);
    EXPECT_NE(expected.px, plain.px);  // the border of a texture must see its surroundings
    for (bool moved : {false, true}) {
        const auto [banded, sum] = levelOne(4, 2, 1, moved);
        EXPECT_TRUE(banded.px == expected.px && sum == std::accumulate(expected.px.begin(), expected.px.end(), 0u));
    }
}

}  // namespace

// A pattern cut from a scene scores 1 where it was cut and less elsewhere,
// through the kernels' planes.
#include <algorithm>
#include <type_traits>

#include "reference.hpp"

namespace {

// A smooth texture plus noise stretched over 0..255, so that no two windows
// are affine copies.
qtest::Image8 texturedScene(std::mt19937& rng, int32_t w, int32_t h)
{
    const qtest::SmoothScene smooth(rng, 5, 40);
    std::normal_distribution<double> noise(0, 0.05);
    std::vector<double> v(size_t(w) * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) v[size_t(y) * w + x] = smooth(x, y) + noise(rng);
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    qtest::Image8 scene(w, h, w + 5);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            scene.at(x, y) = uint8_t(std::lround((v[size_t(y) * w + x] - *lo) * 255 / (*hi - *lo)));
    return scene;
}

// The space from the kernels' planes: SqT uint32_t for the integer kernels, double for the D forms.
template <class SqT>
std::vector<double> scoreSpace(const qtest::Image8& pattern, const qtest::Image8& scene, uint32_t stride)
{
    const qimg_windowConst p = pattern.window(), i = scene.window();
    const int32_t w = pattern.width(), h = pattern.height(), ny = scene.height() - h + 1;
    const uint32_t nx = uint32_t(scene.width() - w + 1), n = uint32_t(w * h);
    std::vector<uint32_t> sumI(stride * ny);
    std::vector<SqT> sumISq(stride * ny), products(stride * ny);
    std::vector<double> scores(stride * ny, -1.0);
    const auto params = qtest::scoreParams(0, 0, 0);
    uint32_t sumP = 0;
    SqT sumPSq = 0;
    std::vector<qsrch_status> status;  // braced lists run their calls in order
    if constexpr (std::is_same_v<SqT, double>)
        status = {qsrch_DcomputeOneSumISumISq(&p, &sumP, &sumPSq),
                  qsrch_DcomputeSumISumISq(&p, &i, sumI.data(), sumISq.data(), stride),
                  qsrch_DcomputeInnerProducts(&p, &i, products.data(), stride),
                  qsrch_DcomputeNormalizedCorrelation(w, h, n, sumP, sumPSq, nx, ny, sumI.data(), sumISq.data(),
                                                      stride, products.data(), stride, &params, scores.data(),
                                                      stride)};
    else
        status = {qsrch_computeOneSumISumISq(&p, &sumP, &sumPSq),
                  qsrch_computeSumISumISq(&p, &i, sumI.data(), sumISq.data(), stride),
                  qsrch_computeInnerProducts(&p, &i, products.data(), stride),
                  qsrch_computeNormalizedCorrelation(w, h, n, sumP, sumPSq, nx, ny, sumI.data(), sumISq.data(),
                                                     stride, products.data(), stride, &params, scores.data(),
                                                     stride)};
    EXPECT_EQ(status, std::vector<qsrch_status>(4, QSRCH_OK));
    return scores;
}

TEST(CutPattern, PeaksWithScoreOneExactlyWhereItWasCut)
{
    // 300 x 250 has more than 0x10000 pixels: the double forms alone.
    const struct { int32_t pw, ph, sw, sh; } sizes[] = {
        {1, 9, 60, 40}, {8, 8, 90, 70}, {17, 31, 120, 80}, {64, 48, 160, 120}, {300, 250, 340, 280}};
    uint32_t seed = 40;
    for (const auto& s : sizes) {
        std::mt19937 rng(++seed);
        const qtest::Image8 scene = texturedScene(rng, s.sw, s.sh);
        const int32_t nx = s.sw - s.pw + 1, ny = s.sh - s.ph + 1, stride = nx + 3;
        const int32_t cutX = int32_t(rng() % uint32_t(nx)), cutY = int32_t(rng() % uint32_t(ny));
        SCOPED_TRACE(testing::Message() << s.pw << "x" << s.ph << " cut at " << cutX << ", " << cutY);
        qtest::Image8 pattern(s.pw, s.ph, s.pw + 3);
        for (int32_t y = 0; y < s.ph; ++y)
            for (int32_t x = 0; x < s.pw; ++x) pattern.at(x, y) = scene.at(cutX + x, cutY + y);
        std::vector<std::pair<const char*, std::vector<double>>> spaces;
        spaces.emplace_back("double", scoreSpace<double>(pattern, scene, stride));
        if (s.pw * s.ph <= 0x10000) spaces.emplace_back("integer", scoreSpace<uint32_t>(pattern, scene, stride));
        for (const auto& [form, scores] : spaces) {
            const double peak = scores[size_t(cutY) * stride + cutX];
            EXPECT_NEAR(peak, 1.0, 1e-9) << form;
            for (int32_t y = 0; y < ny; ++y)
                for (int32_t x = 0; x < nx; ++x) {
                    if (x == cutX && y == cutY) continue;
                    ASSERT_LT(scores[size_t(y) * stride + x], peak) << form << " at " << x << ", " << y;
                }
        }
    }
}

}  // namespace

// Peak detection against a brute-force plateau labelling; the sub-pixel peak fit.
#include <cmath>
#include <numeric>
#include <tuple>

#include "support/test_support.hpp"

namespace {

// A huge value in the row slack shows reads past the width.
struct SpaceImage {
    int32_t width, height, stride, originX, originY;
    std::vector<double> pixels = std::vector<double>(size_t(stride) * height, 1e300);
    double& at(int32_t x, int32_t y) { return pixels[size_t(y) * stride + x]; }
    qimg_windowConst view() const
    {
        qimg_windowConst v{};
        v.width = v.imageWidth = width, v.height = v.imageHeight = height, v.x = originX, v.y = originY;
        v.depth = QIMG_DEPTH_64F, v.rowStride = stride, v.firstPixel = v.imageFirstPixel = pixels.data();
        return v;
    }
};

using PeakKey = std::tuple<int32_t, int32_t, double, double, double, uint32_t>;

// Each maximal plateau at its first position in the rectangle passing threshold and care, row-major.
std::vector<PeakKey> bruteForcePeaks(SpaceImage& s, const qstd_rect32& rect, double threshold, const uint32_t* care,
                                     uint32_t careStride, uint32_t careLimit)
{
    const int32_t w = s.width, h = s.height;
    auto v = [&](int32_t i) { return s.at(i % w, i / w); };
    auto pairs = [&](auto f) {  // each position with each of its neighbours
        for (int32_t i = 0; i < w * h; ++i)
            for (const auto& [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}})
                if (i % w + dx >= 0 && i % w + dx < w && i / w + dy >= 0 && i / w + dy < h) f(i, i + dy * w + dx);
    };
    std::vector<int32_t> label(size_t(w) * h);  // each plateau's smallest index, by joining equal neighbours
    std::iota(label.begin(), label.end(), 0);
    for (bool joined = true; joined;) {
        joined = false;
        pairs([&](auto i, auto j) { if (v(i) == v(j) && label[j] < label[i]) label[i] = label[j], joined = true; });
    }
    std::vector<bool> isMax(size_t(w) * h, true), reported(size_t(w) * h);
    pairs([&](auto i, auto j) { isMax[label[i]] = isMax[label[i]] && !std::isnan(v(i)) && !(v(j) > v(i)); });
    std::vector<PeakKey> peaks;
    const int64_t left = int64_t(rect.x) - s.originX, top = int64_t(rect.y) - s.originY;
    const int64_t x0 = std::max<int64_t>(left, 0), x1 = std::min<int64_t>(left + rect.width, w);
    const int64_t y0 = std::max<int64_t>(top, 0), y1 = std::min<int64_t>(top + rect.height, h);
    for (int32_t y = int32_t(y0); y < y1; ++y)
        for (int32_t x = int32_t(x0); x < x1; ++x) {
            const int id = label[y * w + x];
            if (!(s.at(x, y) >= threshold) || !isMax[id] || reported[id]) continue;
            if (care != nullptr && care[y * careStride + x] < careLimit) continue;
            reported[id] = true;
            const uint32_t flags = (x == x0 ? QIP_PEAK_AT_LEFT : 0) | (x == x1 - 1 ? QIP_PEAK_AT_RIGHT : 0) |
                                   (y == y0 ? QIP_PEAK_AT_TOP : 0) | (y == y1 - 1 ? QIP_PEAK_AT_BOTTOM : 0);
            peaks.push_back({x + s.originX, y + s.originY, double(x + s.originX), double(y + s.originY), s.at(x, y),
                             flags});
        }
    return peaks;
}

// Few distinct levels, so that plateaus of every shape occur. The order (highest between grid positions
// first) shows in the searches that keep the best peaks.
TEST(PeakDetector, AgreesWithPlateauLabellingOnRandomSpaces)
{
    constexpr int32_t kSizes[] = {1, 2, 3, 7, 8, 9, 16, 17, 31};
    for (uint32_t seed = 1; seed <= 600; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
        const int32_t w = kSizes[pick(0, 8)], h = kSizes[pick(0, 8)], levels = pick(2, 6);
        SpaceImage s{w, h, w + pick(0, 3), pick(-20, 20), pick(-20, 20)};
        SCOPED_TRACE(testing::Message() << "seed " << seed << " size " << w << "x" << h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) s.at(x, y) = pick(0, 40) == 0 ? NAN : 0.25 * pick(0, levels - 1) - 0.5;
        qstd_rect32 rect{s.originX + pick(-2, w), s.originY + pick(-2, h), pick(0, w + 2), pick(0, h + 2)};
        if (seed % 10 == 0) rect = {s.originX, s.originY, w, h};
        const double threshold = seed % 7 == 0 ? -HUGE_VAL : 0.25 * pick(-3, 3);
        const uint32_t careStride = uint32_t(w + pick(0, 2)), careLimit = uint32_t(pick(0, 4));
        std::vector<uint32_t> care(size_t(w + 2) * h);
        for (auto& c : care) c = uint32_t(pick(0, 5));
        const uint32_t* useCare = seed % 2 == 0 ? care.data() : nullptr;
        const qimg_windowConst view = s.view();
        auto detect = [&](qstd_vector_* out) {
            return useCare ? qip_detectPeaksDWithWindowWithNCareLimit(&view, &rect, threshold, useCare, careStride,
                                                                      careLimit, out)
                           : qip_detectPeaksDWithWindow(&view, &rect, threshold, out);
        };
        qstd_vector_ v;
        if (seed % 50 == 1)
            qtest::expectAllocationFailuresClean([&] {
                qsys_status st = qstd_vector_qip_detectedPeak_construct(&v, 0);
                st = QSYS_FAILED(st) ? st : detect(&v);
                return qstd_vector_qip_detectedPeak_destruct(&v), st;
            });
        ASSERT_TRUE(qstd_vector_qip_detectedPeak_construct(&v, 1) == QSYS_OK && detect(&v) == QSYS_OK);
        std::vector<PeakKey> got;
        for (const auto* p = static_cast<const qip_detectedPeak*>(v.begin); got.size() < v.size; ++p)
            got.push_back({p->integerPosition.first, p->integerPosition.second, p->position.x, p->position.y,
                           p->value, p->flags});
        qstd_vector_qip_detectedPeak_destruct(&v);
        std::vector<PeakKey> want = bruteForcePeaks(s, rect, threshold, useCare, careStride, careLimit);
        std::sort(got.begin(), got.end()), std::sort(want.begin(), want.end());
        ASSERT_EQ(got, want);
    }
}

const uint32_t kAllValid[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};

// The fit of a 3 x 3 neighbourhood keeps its cell and lands within `tolerance` of (x, y).
void expectFit(const double values[9], double x, double y, double tolerance, const uint32_t valid[9] = kAllValid,
               uint32_t separable = 1)
{
    qmath_peakDetectParabolicFitParams params;
    ASSERT_EQ(qmath_peakDetectParabolicFitParams_construct(&params), QSYS_OK);
    params.separable = separable;
    qmath_vect offset{NAN, NAN};
    qstd_pair32 step{99, 99};
    ASSERT_EQ(qmath_peakDetectParabolicFit(values, valid, &params, &offset, &step, nullptr), QSYS_OK);
    EXPECT_TRUE(std::fabs(offset.x - x) <= tolerance && std::fabs(offset.y - y) <= tolerance && step.first == 0 &&
                step.second == 0)
        << offset.x << ", " << offset.y << " step " << step.first << ", " << step.second;
}

// Quadrics are fitted on their values, Gaussians on their logarithms: both exactly, in any direction.
// Unusable neighbours leave their axis at 0; a flat or bowl-shaped neighbourhood is not fitted. The
// photograph's scores: a quadric of their logarithms rates a neighbour 0.99 where it is 0.81.
TEST(ParabolicFit, LocatesExactPeaksLeavesUnusableAxesAtZeroAndReachesWhereItMay)
{
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> centre(-0.5, 0.5), curvature(0.2, 1), angle(0, 3.14159);
        const double cx = centre(rng), cy = centre(rng), ka = curvature(rng), kb = curvature(rng);
        const double c = std::cos(angle(rng)), s = std::sin(angle(rng));
        double quadric[9], gaussian[9];
        for (int k = 0; k < 9; ++k) {
            const double x = k % 3 - 1 - cx, y = k / 3 - 1 - cy, u = c * x + s * y, v = c * y - s * x;
            quadric[k] = -0.5 * (u * u * ka + v * v * kb) - 0.01, gaussian[k] = 0.9 * std::exp(quadric[k] + 0.01);
        }
        for (const double* values : {quadric, gaussian})
            for (uint32_t separable : {1u, 0u}) {
                SCOPED_TRACE(testing::Message() << "seed " << seed << (values == quadric ? " quadric " : " gaussian ")
                                                << separable);
                expectFit(values, cx, cy, 1e-9, kAllValid, separable);
            }
    }
    std::array<double, 9> peak;
    for (int k = 0; k < 9; ++k) peak[k] = 1 - std::pow(k % 3 - 1.3, 2) - std::pow(k / 3 - 0.8, 2);
    using Case = std::tuple<std::array<uint32_t, 9>, int, double, double, double, uint32_t>;
    for (const auto& [valid, poison, value, x, y, separable] : std::vector<Case>{
             // valid, index given a bad value (or -1), the value, offset, separable
             {{1, 1, 1, 0, 1, 1, 1, 1, 1}, -1, 0, 0, -0.2, 1}, {{1, 1, 1, 1, 1, 1, 1, 0, 1}, -1, 0, 0.3, 0, 1},
             {{1, 1, 1, 0, 1, 1, 1, 1, 1}, 3, NAN, 0, -0.2, 1}, {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 5, NAN, 0, -0.2, 1},
             {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 1, -HUGE_VAL, 0.3, 0, 1},
             {{0, 1, 0, 1, 1, 1, 0, 1, 0}, -1, 0, 0.3, -0.2, 0},  // five points: 2-D falls back to separable
             {{1, 1, 1, 1, 1, 1, 0, 0, 0}, -1, 0, 0.3, 0, 0}}) {  // two rows do not fix a quadric
        SCOPED_TRACE(testing::Message() << "poison " << poison << ", offset " << x << ", " << y);
        std::array<double, 9> values = peak;
        if (poison >= 0) values[poison] = value;
        expectFit(values.data(), x, y, 1e-12, valid.data(), separable);
    }
    const double flat[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1}, bowl[9] = {2, 1, 2, 1, 0, 1, 2, 1, 2};
    const double photograph[9] = {0.8110, 0.6382, 0.2759, 0.7687, 0.9626, 0.7872, 0.1388, 0.3993, 0.6638};
    expectFit(flat, 0, 0, 0), expectFit(bowl, 0, 0, 0, kAllValid, 0), expectFit(photograph, 0, 0, 0.498);
    // The setup: a side reaches a full cell with a position beyond its neighbour or its edge flag (bits 1, 32 ignored).
    qmath_peakDetectParabolicFitParams params;
    ASSERT_EQ(qmath_peakDetectParabolicFitParams_construct(&params), QSYS_OK);
    EXPECT_TRUE(params.separable == 1 && params.maxOffset == 0.5);
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
        const qstd_rect32 b{pick(-5, 5), pick(-5, 5), pick(1, 4), pick(1, 4)};
        const qstd_pair32 at{b.x + pick(-1, b.width), b.y + pick(-1, b.height)};
        const uint32_t flags = uint32_t(pick(0, 63));
        double values[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
        uint32_t valid[9];
        ASSERT_EQ(qmath_peakDetectParabolicFitSetupArraysUsingBounds(&params, &at, &b, flags, values, valid), QSYS_OK);
        for (int k = 0; k < 9; ++k) {
            const int32_t x = at.first + k % 3 - 1, y = at.second + k / 3 - 1;
            const bool inside = x >= b.x && x < b.x + b.width && y >= b.y && y < b.y + b.height;
            EXPECT_TRUE(valid[k] == uint32_t(k == 4 || inside) && values[k] == 7.0) << seed << " neighbour " << k;
        }
        const bool beyond[4] = {at.first - 2 >= b.x, at.first + 2 < b.x + b.width, at.second - 2 >= b.y,
                                at.second + 2 < b.y + b.height};
        for (int side = 0; side < 4; ++side)  // left, right, top, bottom
            EXPECT_EQ(params.reach[side], beyond[side] || (flags & (2u << side)) ? 1.0 : 0.498) << seed << " " << side;
    }
    qmath_vect offset;
    qstd_pair32 step;
    const double values[9] = {};
    int reserved = 0;
    EXPECT_EQ(qmath_peakDetectParabolicFit(nullptr, kAllValid, &params, &offset, &step, nullptr), QSYS_E_BAD_ARGUMENT);
    EXPECT_EQ(qmath_peakDetectParabolicFit(values, kAllValid, &params, &offset, &step, &reserved), QSYS_E_BAD_ARGUMENT);
}

}  // namespace

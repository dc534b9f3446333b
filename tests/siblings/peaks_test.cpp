// Peak detection on score spaces and the sub-pixel peak fit: the detector
// against a brute-force plateau labelling, the fit on exact and sampled
// peaks.
#include "support/test_support.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

// Found by argument-dependent lookup, so at global scope like the record.
static bool operator==(const qip_detectedPeak& a, const qip_detectedPeak& b)
{
    return a.position.x == b.position.x && a.position.y == b.position.y &&
           a.integerPosition.first == b.integerPosition.first &&
           a.integerPosition.second == b.integerPosition.second && a.value == b.value &&
           a.flags == b.flags;
}

static std::ostream& operator<<(std::ostream& os, const qip_detectedPeak& p)
{
    return os << "(" << p.integerPosition.first << ", " << p.integerPosition.second << ") value "
              << p.value << " flags " << p.flags;
}

namespace {

// ---- Detector ---------------------------------------------------------------

// A score space of doubles: a view with its origin, rows wider than the
// view, and a huge value in the slack so that reading past the width shows.
struct SpaceImage {
    int32_t width, height, stride, originX, originY;
    std::vector<double> pixels;
    SpaceImage(int32_t w, int32_t h, int32_t s, int32_t ox, int32_t oy)
        : width(w), height(h), stride(s), originX(ox), originY(oy),
          pixels(static_cast<size_t>(s) * h, 1e300)
    {
    }
    double& at(int32_t x, int32_t y) { return pixels[static_cast<size_t>(y) * stride + x]; }
    double at(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * stride + x]; }
    qimg_windowConst view() const
    {
        qimg_windowConst v{};
        v.width = width;
        v.height = height;
        v.x = originX;
        v.y = originY;
        v.depth = QIMG_DEPTH_64F;
        v.imageWidth = width;
        v.imageHeight = height;
        v.rowStride = stride;
        v.firstPixel = pixels.data();
        v.imageFirstPixel = pixels.data();
        return v;
    }
};

struct Care {
    uint32_t stride, limit;
    std::vector<uint32_t> counts;
};

// Labels every plateau of the view (8-connected equal values), decides which
// are maxima, and reports each maximal plateau at its first position inside
// the rectangle that passes threshold and care limit.
std::vector<qip_detectedPeak> bruteForcePeaks(const SpaceImage& s, const qstd_rect32& rect,
                                              double threshold, const Care* care)
{
    const int32_t w = s.width, h = s.height;
    std::vector<int> label(static_cast<size_t>(w) * h, -1);
    std::vector<bool> isMax;
    for (int32_t sy = 0; sy < h; ++sy) {
        for (int32_t sx = 0; sx < w; ++sx) {
            if (label[sy * w + sx] >= 0) continue;
            const int id = static_cast<int>(isMax.size());
            const double v = s.at(sx, sy);
            bool maximal = true;
            std::vector<std::pair<int32_t, int32_t>> todo{{sx, sy}};
            label[sy * w + sx] = id;
            while (!todo.empty()) {
                auto [x, y] = todo.back();
                todo.pop_back();
                for (int32_t ny = y - 1; ny <= y + 1; ++ny) {
                    for (int32_t nx = x - 1; nx <= x + 1; ++nx) {
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h || (nx == x && ny == y)) continue;
                        const double n = s.at(nx, ny);
                        if (n > v) maximal = false;
                        if (n == v && label[ny * w + nx] < 0) {
                            label[ny * w + nx] = id;
                            todo.push_back({nx, ny});
                        }
                    }
                }
            }
            isMax.push_back(maximal && !std::isnan(v));
        }
    }
    std::vector<bool> reported(isMax.size(), false);
    std::vector<qip_detectedPeak> peaks;
    for (int64_t ry = rect.y; ry < int64_t(rect.y) + rect.height; ++ry) {
        for (int64_t rx = rect.x; rx < int64_t(rect.x) + rect.width; ++rx) {
            const int64_t x = rx - s.originX, y = ry - s.originY;
            if (x < 0 || y < 0 || x >= w || y >= h) continue;
            const double v = s.at(int32_t(x), int32_t(y));
            const int id = label[y * w + x];
            if (!(v >= threshold) || !isMax[id] || reported[id]) continue;
            if (care != nullptr && care->counts[y * care->stride + x] < care->limit) continue;
            reported[id] = true;
            uint32_t flags = (x == 0 ? QIP_PEAK_AT_LEFT : 0) | (x == w - 1 ? QIP_PEAK_AT_RIGHT : 0) |
                             (y == 0 ? QIP_PEAK_AT_TOP : 0) | (y == h - 1 ? QIP_PEAK_AT_BOTTOM : 0);
            peaks.push_back({{double(rx), double(ry)}, {int32_t(rx), int32_t(ry)}, v, flags});
        }
    }
    return peaks;
}

// Runs the detector on a vector that already holds a stale element, so that
// "replaced" is checked too.
qsys_status detect(const SpaceImage& s, const qstd_rect32& rect, double threshold, const Care* care,
                   std::vector<qip_detectedPeak>* out)
{
    qstd_vector_ v;
    EXPECT_EQ(qstd_vector_qip_detectedPeak_construct(&v, 1), QSYS_OK);
    const qimg_windowConst view = s.view();
    qsys_status status =
        care == nullptr ? qip_detectPeaksDWithWindow(&view, &rect, threshold, &v)
                        : qip_detectPeaksDWithWindowWithNCareLimit(&view, &rect, threshold,
                                                                   care->counts.data(), care->stride,
                                                                   care->limit, &v);
    const qip_detectedPeak* first = nullptr;
    uint32_t size = 0;
    qstd_vector_qip_detectedPeak_getBeginSizeConst(&v, &first, &size);
    out->assign(first, first + size);
    qstd_vector_qip_detectedPeak_destruct(&v);
    return status;
}

TEST(PeakDetector, AgreesWithPlateauLabellingOnRandomSpaces)
{
    constexpr int32_t kSizes[] = {1, 2, 3, 7, 8, 9, 16, 17, 31};
    for (uint32_t seed = 1; seed <= 600; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](int32_t lo, int32_t hi) {
            return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
        };
        const int32_t w = kSizes[pick(0, 8)], h = kSizes[pick(0, 8)];
        SpaceImage s(w, h, w + pick(0, 3), pick(-20, 20), pick(-20, 20));
        SCOPED_TRACE(::testing::Message() << "seed " << seed << " size " << w << "x" << h);
        // Few distinct levels, so that plateaus of every shape occur; some NaN.
        const int levels = pick(2, 6);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                s.at(x, y) = pick(0, 40) == 0 ? std::numeric_limits<double>::quiet_NaN()
                                              : 0.25 * pick(0, levels - 1) - 0.5;
        // Rectangles inside, overlapping and beyond the view, or empty.
        qstd_rect32 rect{s.originX + pick(-2, w), s.originY + pick(-2, h), pick(0, w + 2), pick(0, h + 2)};
        if (seed % 10 == 0) rect = {s.originX, s.originY, w, h};
        const double threshold = seed % 7 == 0 ? -std::numeric_limits<double>::infinity()
                                               : 0.25 * pick(-3, 3);
        Care care{static_cast<uint32_t>(w + pick(0, 2)), static_cast<uint32_t>(pick(0, 4)), {}};
        care.counts.resize(static_cast<size_t>(care.stride) * h);
        for (auto& c : care.counts) c = static_cast<uint32_t>(pick(0, 5));
        const Care* useCare = seed % 2 == 0 ? &care : nullptr;

        std::vector<qip_detectedPeak> got;
        ASSERT_EQ(detect(s, rect, threshold, useCare, &got), QSYS_OK);
        const std::vector<qip_detectedPeak> expected = bruteForcePeaks(s, rect, threshold, useCare);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t k = 0; k < got.size(); ++k) EXPECT_EQ(got[k], expected[k]) << "peak " << k;
    }
}

TEST(PeakDetector, RefusesBadInputsAndUnwindsAllocationFailures)
{
    SpaceImage s(9, 7, 11, 3, -2);
    std::mt19937 rng(5);
    for (double& v : s.pixels) v = std::uniform_int_distribution<int>(0, 2)(rng);  // many plateaus
    const qimg_windowConst view = s.view();
    const qstd_rect32 rect{3, -2, 9, 7};
    qstd_vector_ peaks;
    ASSERT_EQ(qstd_vector_qip_detectedPeak_construct(&peaks, 0), QSYS_OK);
    qimg_windowConst bad = view;
    bad.depth = QIMG_DEPTH_8U;
    EXPECT_EQ(qip_detectPeaksDWithWindow(&bad, &rect, 0, &peaks), QIMG_E_BAD_DEPTH);
    bad = view;
    bad.firstPixel = nullptr;
    EXPECT_EQ(qip_detectPeaksDWithWindow(&bad, &rect, 0, &peaks), QIMG_E_UNBOUND);
    EXPECT_EQ(qip_detectPeaksDWithWindow(&view, nullptr, 0, &peaks), QSYS_E_BAD_ARGUMENT);
    EXPECT_EQ(qip_detectPeaksDWithWindowWithNCareLimit(&view, &rect, 0, nullptr, 9, 1, &peaks),
              QSYS_E_BAD_ARGUMENT);
    qstd_vector_ wrongElements;
    ASSERT_EQ(qstd_vector__constructWithVtable(&wrongElements, 0, sizeof(double), nullptr), QSYS_OK);
    EXPECT_EQ(qip_detectPeaksDWithWindow(&view, &rect, 0, &wrongElements), QSYS_E_BAD_ARGUMENT);
    qstd_vector__destruct(&wrongElements);
    qstd_vector_qip_detectedPeak_destruct(&peaks);

    qtest::expectAllocationFailuresClean([&] {
        qstd_vector_ v;
        qsys_status st = qstd_vector_qip_detectedPeak_construct(&v, 0);
        if (!QSYS_FAILED(st)) st = qip_detectPeaksDWithWindow(&view, &rect, 0, &v);
        qstd_vector_qip_detectedPeak_destruct(&v);
        return st;
    });
}

// ---- Parabolic fit ----------------------------------------------------------

struct FitResult {
    qmath_vect offset;
    qstd_pair32 step;
};

FitResult fit(const double values[9], const uint32_t valid[9], uint32_t separable = 1, double maxOffset = 0.5)
{
    qmath_peakDetectParabolicFitParams params;
    EXPECT_EQ(qmath_peakDetectParabolicFitParams_construct(&params), QSYS_OK);
    params.separable = separable;
    params.maxOffset = maxOffset;
    FitResult r{{NAN, NAN}, {99, 99}};
    EXPECT_EQ(qmath_peakDetectParabolicFit(values, valid, &params, &r.offset, &r.step, nullptr), QSYS_OK);
    return r;
}

template <class F>
void sample(F f, double values[9])
{
    for (int k = 0; k < 9; ++k) values[k] = f(k % 3 - 1.0, k / 3 - 1.0);
}

const uint32_t kAllValid[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};

TEST(ParabolicFit, ExactPeaksAreLocatedExactly)
{
    // Quadrics at or below zero are fitted on their values, Gaussians on their
    // logarithms; both forms are exact for a peak elongated along any direction.
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> centre(-0.5, 0.5), curvature(0.2, 1), angle(0, 3.14159);
        const double cx = centre(rng), cy = centre(rng), ka = curvature(rng), kb = curvature(rng);
        const double c = std::cos(angle(rng)), s = std::sin(angle(rng));
        auto exponent = [&](double x, double y) {
            const double u = c * (x - cx) + s * (y - cy), v = -s * (x - cx) + c * (y - cy);
            return -0.5 * (u * u * ka + v * v * kb);
        };
        double values[9];
        for (int shape = 0; shape < 2; ++shape) {
            if (shape == 0) sample([&](double x, double y) { return exponent(x, y) - 0.01; }, values);
            if (shape == 1)
                sample([&](double x, double y) { return 0.9 * std::exp(exponent(x, y)); }, values);
            for (uint32_t separable : {1u, 0u}) {
                SCOPED_TRACE(::testing::Message() << "shape " << shape << " separable " << separable);
                const FitResult r = fit(values, kAllValid, separable);
                EXPECT_NEAR(r.offset.x, cx, 1e-9);
                EXPECT_NEAR(r.offset.y, cy, 1e-9);
                EXPECT_EQ(r.step.first, 0);
                EXPECT_EQ(r.step.second, 0);
            }
        }
    }
}

TEST(ParabolicFit, SampledCorrelationPeaksOfSmoothTextures)
{
    // A continuous texture of Gaussian blobs; the pattern is sampled on the
    // integer grid, the image shifted by a sub-pixel amount, and the squared
    // correlation at the 3 x 3 integer shifts around the true one is fitted.
    double worst = 0;
    for (uint32_t seed = 1; seed <= 30; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> u(0, 1);
        const double blur = 1 + u(rng);
        constexpr int n = 21;
        SCOPED_TRACE(::testing::Message() << "seed " << seed << " blur " << blur);
        struct Blob { double x, y, a; };
        std::vector<Blob> blobs(140);
        for (Blob& b : blobs) b = {-5 + (n + 10) * u(rng), -5 + (n + 10) * u(rng), 255 * u(rng)};
        auto texture = [&](double x, double y) {
            double v = 0;
            for (const Blob& b : blobs)
                v += b.a * std::exp(-((x - b.x) * (x - b.x) + (y - b.y) * (y - b.y)) / (2 * blur * blur));
            return v;
        };
        const double sx = u(rng) - 0.5, sy = u(rng) - 0.5;
        std::vector<double> pattern;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) pattern.push_back(texture(x, y));
        double values[9];
        sample([&](double dx, double dy) {
            double sp = 0, si = 0, spp = 0, sii = 0, spi = 0;
            for (int y = 0; y < n; ++y) {
                for (int x = 0; x < n; ++x) {
                    const double p = pattern[y * n + x], i = texture(x + dx - sx, y + dy - sy);
                    sp += p, si += i, spp += p * p, sii += i * i, spi += p * i;
                }
            }
            const double cov = n * n * spi - sp * si;
            return cov * cov / ((n * n * spp - sp * sp) * (n * n * sii - si * si));
        }, values);
        for (uint32_t separable : {1u, 0u}) {
            const FitResult r = fit(values, kAllValid, separable);
            worst = std::max({worst, std::fabs(r.offset.x - sx), std::fabs(r.offset.y - sy)});
            EXPECT_NEAR(r.offset.x, sx, 0.1) << "separable " << separable;
            EXPECT_NEAR(r.offset.y, sy, 0.1) << "separable " << separable;
        }
    }
    RecordProperty("worstError", std::to_string(worst));
}

TEST(ParabolicFit, StepsTowardsAFittedPeakBeyondHalfAPixel)
{
    struct Case { double centre, maxOffset, offset; int32_t step; };
    const Case cases[] = {
        {0.8, 0.5, 0.8, 1}, {-0.7, 0.5, -0.7, -1}, {0.4, 0.5, 0.4, 0}, {-0.45, 0.5, -0.45, 0},
        {0.4, 0.3, 0.4, 1}, {-0.35, 0.3, -0.35, -1}, {3.0, 0.5, 1.0, 1}, {-2.5, 0.5, -1.0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "centre " << c.centre << " maxOffset " << c.maxOffset);
        double values[9];
        sample([&](double x, double y) { return std::exp(-0.5 * ((x - c.centre) * (x - c.centre) + y * y)); },
               values);
        for (uint32_t separable : {1u, 0u}) {
            const FitResult r = fit(values, kAllValid, separable, c.maxOffset);
            EXPECT_NEAR(r.offset.x, c.offset, 1e-9);
            EXPECT_EQ(r.step.first, c.step);
            EXPECT_NEAR(r.offset.y, 0, 1e-9);
            EXPECT_EQ(r.step.second, 0);
        }
    }
}

TEST(ParabolicFit, UnusableNeighboursLeaveTheirAxisAtZero)
{
    double peak[9];
    sample([](double x, double y) { return 1 - (x - 0.3) * (x - 0.3) - (y + 0.2) * (y + 0.2); }, peak);
    struct Case {
        const char* what;
        std::array<uint32_t, 9> valid;
        int poison;  // index given a bad value, or -1
        double value;
        double x, y;
        uint32_t separable;
    };
    const Case cases[] = {
        {"left neighbour invalid", {1, 1, 1, 0, 1, 1, 1, 1, 1}, -1, 0, 0, -0.2, 1},
        {"bottom neighbour invalid", {1, 1, 1, 1, 1, 1, 1, 0, 1}, -1, 0, 0.3, 0, 1},
        {"an invalid value is never read", {1, 1, 1, 0, 1, 1, 1, 1, 1}, 3, NAN, 0, -0.2, 1},
        {"NaN neighbour", {1, 1, 1, 1, 1, 1, 1, 1, 1}, 5, NAN, 0, -0.2, 1},
        {"infinite neighbour", {1, 1, 1, 1, 1, 1, 1, 1, 1}, 1, -HUGE_VAL, 0.3, 0, 1},
        {"five points: 2-D falls back to separable", {0, 1, 0, 1, 1, 1, 0, 1, 0}, -1, 0, 0.3, -0.2, 0},
        {"two rows do not fix a quadric", {1, 1, 1, 1, 1, 1, 0, 0, 0}, -1, 0, 0.3, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        double values[9];
        std::copy(peak, peak + 9, values);
        if (c.poison >= 0) values[c.poison] = c.value;
        const FitResult r = fit(values, c.valid.data(), c.separable);
        EXPECT_NEAR(r.offset.x, c.x, 1e-12);
        EXPECT_NEAR(r.offset.y, c.y, 1e-12);
        EXPECT_EQ(r.step.first, 0);
        EXPECT_EQ(r.step.second, 0);
    }
    // A flat or bowl-shaped neighbourhood is not fitted.
    double flat[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    FitResult r = fit(flat, kAllValid);
    EXPECT_EQ(r.offset.x, 0);
    EXPECT_EQ(r.offset.y, 0);
    double bowl[9] = {2, 1, 2, 1, 0, 1, 2, 1, 2};
    r = fit(bowl, kAllValid, 0);
    EXPECT_EQ(r.offset.x, 0);
    EXPECT_EQ(r.offset.y, 0);
}

TEST(ParabolicFit, SetupMarksNeighboursInsideBoundsAndNotFlagged)
{
    qmath_peakDetectParabolicFitParams params;
    ASSERT_EQ(qmath_peakDetectParabolicFitParams_construct(&params), QSYS_OK);
    EXPECT_EQ(params.separable, 1u);
    EXPECT_EQ(params.maxOffset, 0.5);
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        auto pick = [&](int32_t lo, int32_t hi) {
            return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
        };
        const qstd_rect32 bounds{pick(-5, 5), pick(-5, 5), pick(1, 4), pick(1, 4)};
        const qstd_pair32 position{bounds.x + pick(-1, bounds.width), bounds.y + pick(-1, bounds.height)};
        const uint32_t flags = static_cast<uint32_t>(pick(0, 63));  // bits 1 and 32 mean nothing here
        double values[9];
        std::fill(values, values + 9, 7.0);
        uint32_t valid[9];
        ASSERT_EQ(qmath_peakDetectParabolicFitSetupArraysUsingBounds(&params, &position, &bounds, flags,
                                                                     values, valid),
                  QSYS_OK);
        for (int k = 0; k < 9; ++k) {
            const int dx = k % 3 - 1, dy = k / 3 - 1;
            const int32_t x = position.first + dx, y = position.second + dy;
            bool expected = x >= bounds.x && x < bounds.x + bounds.width && y >= bounds.y &&
                            y < bounds.y + bounds.height;
            if ((dx == -1 && (flags & 2)) || (dx == 1 && (flags & 4)) || (dy == -1 && (flags & 8)) ||
                (dy == 1 && (flags & 16)))
                expected = false;
            if (k == 4) expected = true;
            EXPECT_EQ(valid[k], expected ? 1u : 0u) << "neighbour " << dx << ", " << dy;
            EXPECT_EQ(values[k], 7.0);
        }
    }
    qmath_vect offset;
    qstd_pair32 step;
    int reserved = 0;
    EXPECT_EQ(qmath_peakDetectParabolicFit(nullptr, kAllValid, &params, &offset, &step, nullptr),
              QSYS_E_BAD_ARGUMENT);
    double values[9] = {};
    EXPECT_EQ(qmath_peakDetectParabolicFit(values, kAllValid, &params, &offset, &step, &reserved),
              QSYS_E_BAD_ARGUMENT);
    EXPECT_EQ(qmath_peakDetectParabolicFitParams_destruct(&params), QSYS_OK);
}

}  // namespace

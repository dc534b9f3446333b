// Shared by the run suites: owned vectors, run parameters, analytic
// textures (exact between pixels) and grid textures.
#pragma once

#include <cmath>
#include <vector>

#include "model/model_support.hpp"
#include "run/run_internal.hpp"

namespace qtest {

// A vector of one of the library's vector families, owned by the test.
template <class V, class E, qsrch_status (*Construct)(V*), qsrch_status (*Destruct)(V*)>
class Owned {
public:
    Owned() { EXPECT_EQ(Construct(&v_), QSRCH_OK); }
    ~Owned() { Destruct(&v_); }
    Owned(const Owned&) = delete;
    V* get() { return &v_; }
    size_t size() const { return v_.size; }
    const E& operator[](size_t i) const { return static_cast<const E*>(v_.begin)[i]; }

private:
    V v_;
};
using Results = Owned<qstd_vector_qsrch_normcorr_result, qsrch_normcorr_result,
                      &qstd_vector_qsrch_normcorr_result_constructEmpty, &qstd_vector_qsrch_normcorr_result_destruct>;
using Peaks = Owned<qstd_vector_qsrch_detectedPosePeak, qsrch_detectedPosePeak,
                    &qstd_vector_qsrch_detectedPosePeak_constructEmpty, &qstd_vector_qsrch_detectedPosePeak_destruct>;
using Levels = Owned<qstd_vector_qsrch_normcorr_level_, qsrch_normcorr_level_,
                     &qstd_vector_qsrch_normcorr_level__constructEmpty, &qstd_vector_qsrch_normcorr_level__destruct>;

inline qsrch_normcorr_runParams runParams(int32_t numToFind = 1, float confusion = 0.5f, float overlap = 1.0f,
                                          float accept = 0.3f)
{
    qsrch_normcorr_runParams p;
    EXPECT_EQ(qsrch_normcorr_runParams_init(&p), QSRCH_OK);
    p.numToFind = numToFind, p.confusionThreshold = confusion, p.overlapFraction = overlap, p.acceptThreshold = accept;
    return p;
}

// Smooth blobs over a base and gradient, a soft-edged disk and optional
// stripes: detail at every scale down to a few pixels, defined between pixels.
struct Texture {
    struct Blob {
        double x, y, sigma, amplitude;
    };
    std::vector<Blob> blobs;
    double base = 100, gx = 0, gy = 0, diskX = 0, diskY = 0, diskR = 0, diskAmplitude = 0, stripePeriod = 0;

    double operator()(double x, double y) const
    {
        double v = base + gx * x + gy * y;
        for (const Blob& b : blobs) {
            const double dx = x - b.x, dy = y - b.y;  // beyond five deviations a blob adds under 1e-4
            if (std::fabs(dx) < 5 * b.sigma && std::fabs(dy) < 5 * b.sigma)
                v += b.amplitude * std::exp(-(dx * dx + dy * dy) / (2 * b.sigma * b.sigma));
        }
        v += diskAmplitude / (1 + std::exp((std::hypot(x - diskX, y - diskY) - diskR) / 0.8));
        return stripePeriod > 0 ? v + 45 * std::cos(2 * 3.14159265358979 * x / stripePeriod) : v;
    }
};

// n blobs in (x0, y0) + [0, w) x [0, h), deviations sigmaMin + [0, sigmaSpan),
// amplitudes within +-amplitude.
inline Texture blobTexture(std::mt19937& rng, int n, double x0, double w, double y0, double h, double sigmaMin,
                           double sigmaSpan, double amplitude, double base)
{
    std::uniform_real_distribution<double> u(0, 1);
    Texture t;
    t.base = base;
    for (int i = 0; i < n; ++i)
        t.blobs.push_back(
            {u(rng) * w + x0, u(rng) * h + y0, sigmaMin + sigmaSpan * u(rng), amplitude * (2 * u(rng) - 1)});
    return t;
}

inline uint8_t toPixel(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

inline Image8 sample(const Texture& t, int32_t w, int32_t h)
{
    Image8 image(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) image.at(x, y) = toPixel(t(x, y));
    return image;
}

// Random values on 6-pixel cells, interpolated bilinearly, with a little
// noise: scores fall off smoothly around a match.
inline Image8 gridTexture(std::mt19937& rng, int32_t w, int32_t h)
{
    const int32_t gw = w / 6 + 2;
    std::uniform_int_distribution<int> value(20, 235), noise(-6, 6);
    std::vector<double> grid(static_cast<size_t>(gw) * (h / 6 + 2));
    for (double& g : grid) g = value(rng);
    auto g = [&](int32_t i, int32_t j) { return grid[static_cast<size_t>(j) * gw + i]; };
    Image8 image(w, h, w + 7);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int32_t cx = x / 6, cy = y / 6;
            const double ax = x / 6.0 - cx, ay = y / 6.0 - cy;
            const double v = (1 - ay) * ((1 - ax) * g(cx, cy) + ax * g(cx + 1, cy)) +
                             ay * ((1 - ax) * g(cx, cy + 1) + ax * g(cx + 1, cy + 1));
            image.at(x, y) = static_cast<uint8_t>(std::clamp(int(v) + noise(rng), 0, 255));
        }
    return image;
}

inline Image8 crop(const Image8& from, int32_t x0, int32_t y0, int32_t w, int32_t h)
{
    Image8 out(w, h, w + 3);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) out.at(x, y) = from.at(x0 + x, y0 + y);
    return out;
}

inline void paste(Image8& into, const Image8& what, int32_t x0, int32_t y0)
{
    for (int32_t y = 0; y < what.height(); ++y)
        for (int32_t x = 0; x < what.width(); ++x) into.at(x0 + x, y0 + y) = what.at(x, y);
}

}  // namespace qtest

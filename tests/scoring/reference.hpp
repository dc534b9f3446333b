// Brute-force placement statistics and reference scores for the scoring
// suites: 64-bit sums, r^2 from mean-centred pixels in long double.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "scoring/internal.hpp"
#include "support/test_support.hpp"

namespace qtest {

struct Stats {
    uint64_t N = 0, Sp = 0, Spp = 0, Si = 0, Sii = 0, IP = 0;
};

// The pixels of one placement: pattern over the image window at (x, y);
// a pixel counts where `care` (image-sized, may be null) is non-zero.
struct Placement {
    const Image8* pattern;
    const Image8* image;
    const Image8* care = nullptr;
    int32_t x = 0, y = 0;

    template <class F>
    void forEach(F f) const
    {
        for (int32_t j = 0; j < pattern->height(); ++j)
            for (int32_t i = 0; i < pattern->width(); ++i)
                if (care == nullptr || care->at(x + i, y + j) != 0) f(pattern->at(i, j), image->at(x + i, y + j));
    }
    Stats stats() const
    {
        Stats s;
        forEach([&](uint64_t p, uint64_t v) {
            ++s.N, s.Sp += p, s.Spp += p * p, s.Si += v, s.Sii += v * v, s.IP += p * v;
        });
        return s;
    }
    // Centred cross and squared deviations, from the means in long double.
    void centred(long double& c, long double& vp, long double& vi, long double& n) const
    {
        const Stats s = stats();
        n = s.N;
        c = vp = vi = 0;
        if (s.N == 0) return;
        const long double mp = s.Sp / n, mi = s.Si / n;
        forEach([&](long double p, long double v) {
            c += (p - mp) * (v - mi), vp += (p - mp) * (p - mp), vi += (v - mi) * (v - mi);
        });
    }
};

// The single score's statistics: pattern sums and inner product over every
// pixel, image sums over the mask's, the care count the mask's sum over 255.
inline Stats singleScoreStats(const Image8& pattern, const Image8* mask, const Image8& image)
{
    Stats s = Placement{&pattern, &image}.stats();
    if (mask == nullptr) return s;
    const Stats cared = Placement{&pattern, &image, mask}.stats();
    s.N = 0, s.Si = cared.Si, s.Sii = cared.Sii;
    for (int32_t y = 0; y < mask->height(); ++y)
        for (int32_t x = 0; x < mask->width(); ++x) s.N += mask->at(x, y);
    s.N /= 255;
    return s;
}

inline qsrch_normalizedCorrelationParams scoreParams(uint32_t absolute, uint32_t negative, uint32_t covariance)
{
    qsrch_normalizedCorrelationParams p;
    qsrch_normalizedCorrelationParams_init(&p);
    p.absoluteCorrelation = absolute, p.negativeCorrelation = negative, p.covarianceScore = covariance;
    return p;
}

struct ModeCase {
    const char* name;
    qsrch_normalizedCorrelationParams params;
};

inline const std::vector<ModeCase>& allModes()
{
    static const std::vector<ModeCase> modes = {
        {"default", scoreParams(0, 0, 0)},    {"absolute", scoreParams(1, 0, 0)},
        {"negative", scoreParams(0, 1, 0)},   {"both flags", scoreParams(1, 1, 0)},
        {"covariance", scoreParams(0, 0, 1)}, {"covariance+flags", scoreParams(1, 1, 1)},
    };
    return modes;
}

// The score a placement should get, from its centred pixels.
inline long double referenceScore(const Placement& placement, const qsrch_normalizedCorrelationParams& params)
{
    long double c, vp, vi, n;
    placement.centred(c, vp, vi, n);
    if (params.covarianceScore) return vp == 0 ? 0.0L : c / std::sqrt(n * vp);
    c = params.absoluteCorrelation ? std::fabs(c) : params.negativeCorrelation ? -c : c;
    return c > 0 && vp * vi != 0 ? c * c / (vp * vi) : 0.0L;
}

inline ::testing::AssertionResult closeRelative(double actual, long double expected, long double tolerance)
{
    if (std::fabs(actual - expected) <= tolerance * std::fabs(expected) + 1e-15L)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "actual " << actual << ", expected " << static_cast<double>(expected);
}

// A plane of one statistic at its own stride.
template <class T>
struct Plane {
    int32_t stride;
    std::vector<T> v;
    Plane(int32_t nx, int32_t ny, int32_t slack, T fill) : stride(nx + slack), v(size_t(stride) * ny, fill) {}
    T& at(int32_t x, int32_t y) { return v[size_t(y) * stride + x]; }
    T at(int32_t x, int32_t y) const { return v[size_t(y) * stride + x]; }
};

// Three planes of one size, each with its own garbage in the row slack.
struct Planes {
    std::vector<Image8> p;
    Planes(int32_t w, int32_t h, int32_t extraStride = 3)
        : p{Image8(w, h, w + extraStride, 0x5A), Image8(w, h, w + extraStride, 0xC3),
            Image8(w, h, w + extraStride, 0x99)} {}
    Image8& operator[](size_t k) { return p[k]; }
    const Image8& operator[](size_t k) const { return p[k]; }
    void randomize(std::mt19937& rng) { for (Image8& q : p) q.randomize(rng); }
    // Pattern plane (k + shift) % 3 copied into plane k at (x, y).
    void plant(const Planes& pattern, int32_t x, int32_t y, int shift = 0)
    {
        for (size_t k = 0; k < 3; ++k)
            for (int32_t j = 0; j < pattern[0].height(); ++j)
                for (int32_t i = 0; i < pattern[0].width(); ++i)
                    p[k].at(x + i, y + j) = pattern[(k + shift) % 3].at(i, j);
    }
};

using Runs = PairList;

// The ny position rows of an H-row image listed whole, the rest empty.
inline std::vector<qstd_pair32> fullRuns(int32_t nx, int32_t ny, int32_t imageHeight)
{
    std::vector<qstd_pair32> pairs(size_t(imageHeight), qstd_pair32{0, 0});
    for (int32_t r = 0; r < ny; ++r) pairs[size_t(r)] = {0, nx};
    return pairs;
}

}  // namespace qtest

// Brute-force placement statistics and reference scores for the scoring
// suites: sums with 64-bit accumulators, r^2 from mean-centred pixels in
// long double.
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

}  // namespace qtest

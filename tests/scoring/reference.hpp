// Brute-force placement statistics, reference scores from exact 128-bit terms, and peak lists compared field by field.
#pragma once

#include <cmath>

#include "scoring/internal.hpp"
#include "scoring/peaks_internal.hpp"
#include "scoring/three_plane_internal.hpp"
#include "support/test_support.hpp"

namespace qtest {

struct Stats {
    uint64_t N = 0, Sp = 0, Spp = 0, Si = 0, Sii = 0, IP = 0;
};
using Stats3 = std::array<Stats, 3>;
using Params = qsrch_normalizedCorrelationParams;

// The sums of the pattern over the image at (x, y), where `care` (image-sized, may be null) cares.
inline Stats placement(const Image8& pattern, const Image8& image, const Image8* care = nullptr, int32_t x = 0,
                       int32_t y = 0)
{
    Stats s;
    for (int32_t j = 0; j < pattern.height(); ++j)
        for (int32_t i = 0; i < pattern.width(); ++i) {
            if (care != nullptr && care->at(x + i, y + j) == 0) continue;
            const uint64_t p = pattern.at(i, j), v = image.at(x + i, y + j);
            ++s.N, s.Sp += p, s.Spp += p * p, s.Si += v, s.Sii += v * v, s.IP += p * v;
        }
    return s;
}

inline qsrch_normalizedCorrelationParams scoreParams(uint32_t absolute, uint32_t negative, uint32_t covariance)
{
    qsrch_normalizedCorrelationParams p;
    qsrch_normalizedCorrelationParams_init(&p);
    p.absoluteCorrelation = absolute, p.negativeCorrelation = negative, p.covarianceScore = covariance;
    return p;
}

inline const std::vector<qsrch_normalizedCorrelationParams>& allModes()
{
    static const std::vector<qsrch_normalizedCorrelationParams> modes = {scoreParams(0, 0, 0), scoreParams(1, 0, 0),
        scoreParams(0, 1, 0), scoreParams(1, 1, 0), scoreParams(0, 0, 1), scoreParams(1, 1, 1)};
    return modes;
}

inline std::string modeName(const qsrch_normalizedCorrelationParams& p)
{
    return "flags " + std::to_string(p.absoluteCorrelation * 100 + p.negativeCorrelation * 10 + p.covarianceScore);
}

// The score of exact statistics; NaN where a covariance score's variance term is negative.
inline long double referenceScore(const Stats& s, const qsrch_normalizedCorrelationParams& params)
{
    __extension__ typedef __int128 I;
    const I cov = I(s.N) * s.IP - I(s.Sp) * s.Si, vp = I(s.N) * s.Spp - I(s.Sp) * s.Sp,
            vi = I(s.N) * s.Sii - I(s.Si) * s.Si;
    if (params.covarianceScore) return vp == 0 ? 0.0L : (long double)cov / (std::sqrt((long double)vp) * s.N);
    const I c = params.absoluteCorrelation ? (cov < 0 ? -cov : cov) : params.negativeCorrelation ? -cov : cov;
    return c > 0 && vi != 0 && vp != 0 ? (long double)c * c / ((long double)vi * vp) : 0.0L;
}

inline double scoreOf(const qsrch_normalizedCorrelationParams& p, const Stats& s, bool fromDoubles = false)
{
    double r = -1;
    EXPECT_EQ(fromDoubles ? qsrch_DscoreFromStats(&p, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &r)
                          : qsrch_scoreFromStats(&p, s.N, s.Sp, s.Spp, s.IP, s.Si, s.Sii, &r),
              QSRCH_OK);
    return r;
}

inline double score3Of(const qsrch_normalizedCorrelationParams& p, const double* w, const Stats3& s)
{
    double r = -1;
    EXPECT_EQ(qsrch_DscoreFromStats3(&p, w, s[0].N, s[0].Sp, s[1].Sp, s[2].Sp, s[0].Spp, s[1].Spp, s[2].Spp, s[0].IP,
                                     s[1].IP, s[2].IP, s[0].Si, s[1].Si, s[2].Si, s[0].Sii, s[1].Sii, s[2].Sii, &r),
              QSRCH_OK);
    return r;
}

inline ::testing::AssertionResult closeRelative(double actual, long double expected, long double tolerance)
{
    if (std::fabs(actual - expected) <= tolerance * std::fabs(expected) + 1e-15L) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "actual " << actual << ", expected " << static_cast<double>(expected);
}

using Runs = PairList;

inline qimg_windowConst withoutPixels(qimg_windowConst view) { return view.firstPixel = nullptr, view; }
using Peaks = std::vector<qsrch_detectedPosePeak>;

// Every field exactly, or (three planes against grey) the doubles up to rounding.
inline ::testing::AssertionResult samePeaks(const Peaks& a, const Peaks& b, bool exact = true)
{
    if (a.size() != b.size()) return ::testing::AssertionFailure() << a.size() << " peaks vs " << b.size();
    for (size_t k = 0; k < a.size(); ++k) {
        auto fields = [](const qsrch_detectedPosePeak& r) {
            const qmath_xformLinear& x = r.pose;
            return std::array<double, 16>{x.trans.x, x.trans.y, x.matrix.a11, x.matrix.a12, x.matrix.a21, x.matrix.a22,
                                          r.score, r.contrast, r.brightness, double(r.flags), double(r.careCount),
                                          double(r.integerPosition.first), double(r.integerPosition.second),
                                          double(r.searchGranularity), double(r.searchLevel), double(r.searchSplit)};
        };
        const auto p = fields(a[k]), q = fields(b[k]);
        for (size_t i = 0; i < p.size(); ++i)
            if (exact || i > 8 ? p[i] != q[i] : std::fabs(p[i] - q[i]) > 1e-9 * std::max(1.0, std::fabs(q[i])))
                return ::testing::AssertionFailure() << "peak " << k << " at (" << p[11] << ", " << p[12] << ") field "
                                                     << i << ": " << p[i] << " vs " << q[i];
    }
    return ::testing::AssertionSuccess();
}

}  // namespace qtest

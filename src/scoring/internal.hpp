// Scoring functions the library uses internally and does not export, and
// the pieces shared by every form that works in doubles: the score of one
// placement from its centred terms, contrast from scaled variances, and the
// row walk of a score space.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

#include <qsrch/scoring.h>

#include "frame/status.hpp"

extern "C" {

// The score of one placement from unsigned 32-bit statistics. cov, vp and
// vi are exact (128-bit) integers; only the final quotient is rounded.
[[nodiscard]] qsrch_status qsrch_scoreFromStats(const qsrch_normalizedCorrelationParams* params, uint32_t n,
                                                uint32_t patternSum, uint32_t patternSumSq,
                                                uint32_t innerProduct, uint32_t imageSum, uint32_t imageSumSq,
                                                double* scoreOut);
// The same from double statistics, in doubles.
[[nodiscard]] qsrch_status qsrch_DscoreFromStats(const qsrch_normalizedCorrelationParams* params, double n,
                                                 double patternSum, double patternSumSq, double innerProduct,
                                                 double imageSum, double imageSumSq, double* scoreOut);

// Score spaces over run-length position lists: row y scores the columns
// start <= x < end of pair y * endpointsStep and writes 0.0 everywhere else
// up to width. Rows whose pair lies past the end of the list are all 0.0.
[[nodiscard]] qsrch_status qsrch_computeNormalizedCorrelationUsingEndpoints(
    uint32_t patternWidth, uint32_t patternHeight, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsStep, uint32_t n, uint32_t patternSum, uint32_t patternSumSq, uint32_t width,
    int32_t height, const uint32_t* imageSums, const uint32_t* imageSumSqs, uint32_t imageStatsStride,
    const uint32_t* innerProducts, int32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, double* scores, int32_t scoresStride);
[[nodiscard]] qsrch_status qsrch_computeNormalizedCorrelationRuntimeMaskedUsingEndpoints(
    uint32_t patternWidth, uint32_t patternHeight, const uint32_t* counts, const uint32_t* patternSums,
    const uint32_t* patternSumSqs, uint32_t patternStatsStride, uint32_t width, int32_t height,
    const uint32_t* imageSums, const uint32_t* imageSumSqs, uint32_t imageStatsStride,
    const uint32_t* innerProducts, uint32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, double* scores, uint32_t scoresStride,
    const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsStep);

}  // extern "C"

namespace qsrch {

// The score from cov = N*IP - Sp*Si, vi = N*Sii - Si^2, vp = N*Spp - Sp^2,
// with the mode read from the flags. covDivisor is N*sqrt(vp), needed only
// in covariance mode (callers with one pattern triple form it once).
// r^2 of a covariance that the polarity flags have already signed: only a
// positive one scores.
inline double squaredCorrelation(double cov, double vi, double vp)
{
    if (!(cov > 0)) return 0.0;
    const double den = vi * vp;
    return den == 0 ? 0.0 : cov * cov / den;
}

inline double covarianceScore(double cov, double covDivisor)
{
    return covDivisor == 0 ? 0.0 : cov / covDivisor;
}

inline double scoreFromTerms(const qsrch_normalizedCorrelationParams& params, double cov,
                             double vi, double vp, double covDivisor)
{
    if (params.covarianceScore != 0) return covarianceScore(cov, covDivisor);
    if (params.absoluteCorrelation != 0)
        cov = std::fabs(cov);
    else if (params.negativeCorrelation != 0)
        cov = -cov;
    return squaredCorrelation(cov, vi, vp);
}

// A count that is neither below nor above 0 (so also NaN) has no statistics.
inline bool noCareCount(double n) { return !(n < 0) && !(n > 0); }

// The variance of a sum whose square is sumSquared and a sum of squares,
// scaled by the reciprocal count: multiplied by inv and inv^2, not divided.
inline double scaledVariance(double inv, double sumSquared, double sumSq)
{
    return inv * sumSq - sumSquared * (inv * inv);
}

// Image deviation over pattern deviation. Rounding can leave a variance a
// hair below 0; the magnitude still means something.
inline double contrastFromVariances(double vi, double vp)
{
    return vp != 0 ? std::sqrt(std::fabs(vi / vp)) : 1.0;
}

// ---- Row walk of a score space ------------------------------------------------

struct ScorePlane {
    double* scores;
    ptrdiff_t stride;
};

// Width is unsigned at the interface; a value that reads negative as a
// signed 32-bit count writes nothing, like a width of 0.
inline int32_t columnsOf(uint32_t width) { return static_cast<int32_t>(width); }

// Every position of every row.
struct AllColumns {
    std::pair<int32_t, int32_t> columns(int32_t, int32_t width) const { return {0, width}; }
    static constexpr bool zeroOutside = false;
};

// The run of one endpoint pair per row (width >= 1), clamped to the row;
// everything else 0.0. A row whose pair lies past the end of the list has
// no run.
struct EndpointColumns {
    const qstd_pair32* pairs;
    size_t count;
    uint32_t step;

    explicit EndpointColumns(const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsStep)
        : pairs(endpoints->begin), count(endpoints->size), step(endpointsStep) {}
    std::pair<int32_t, int32_t> columns(int32_t y, int32_t width) const
    {
        const size_t index = static_cast<size_t>(y) * step;
        if (index >= count) return {0, 0};
        const int32_t start = std::clamp(pairs[index].first, 0, width);
        return {start, std::clamp(pairs[index].second, start, width)};
    }
    static constexpr bool zeroOutside = true;
};

// Calls scoreRow(y, rowScores, x0, x1) for the scored columns of each row
// y < height, after zeroing the rest of the row where Rows asks for it.
template <class Rows, class ScoreRow>
void forEachScoreRow(const Rows& rows, int32_t width, int32_t height, const ScorePlane& out,
                     ScoreRow&& scoreRow)
{
    if (width < 1) return;
    for (int32_t y = 0; y < height; ++y) {
        double* scores = out.scores + y * out.stride;
        const auto [x0, x1] = rows.columns(y, width);
        if constexpr (Rows::zeroOutside) {
            std::fill(scores, scores + x0, 0.0);
            std::fill(scores + x1, scores + width, 0.0);
        }
        scoreRow(y, scores, x0, x1);
    }
}

// The pattern mask's care count: its sum over 255.
Status maskCareCount(const qimg_windowConst* mask, uint32_t* countOut);

}  // namespace qsrch

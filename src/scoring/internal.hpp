// Scoring functions the library uses internally and does not export, and
// the score of one placement from its centred terms, shared by every form
// that works in doubles.
#pragma once

#include <cmath>
#include <cstdint>

#include <qsrch/scoring.h>

extern "C" {

// The score of one placement from unsigned 32-bit statistics. cov, vp and
// vi are exact (128-bit) integers; only the final quotient is rounded.
qsrch_status qsrch_scoreFromStats(const qsrch_normalizedCorrelationParams* params, uint32_t n,
                                  uint32_t patternSum, uint32_t patternSumSq,
                                  uint32_t innerProduct, uint32_t imageSum, uint32_t imageSumSq,
                                  double* scoreOut);
// The same from double statistics, in doubles.
qsrch_status qsrch_DscoreFromStats(const qsrch_normalizedCorrelationParams* params, double n,
                                   double patternSum, double patternSumSq, double innerProduct,
                                   double imageSum, double imageSumSq, double* scoreOut);

// Score spaces over run-length position lists: row y scores the columns
// start <= x < end of pair y * endpointsStep and writes 0.0 everywhere else
// up to width. Rows whose pair lies past the end of the list are all 0.0.
qsrch_status qsrch_computeNormalizedCorrelationUsingEndpoints(
    uint32_t patternWidth, uint32_t patternHeight, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsStep, uint32_t n, uint32_t patternSum, uint32_t patternSumSq, uint32_t width,
    int32_t height, const uint32_t* imageSums, const uint32_t* imageSumSqs,
    uint32_t imageStatsStride, const uint32_t* innerProducts, int32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, double* scores, int32_t scoresStride);
qsrch_status qsrch_computeNormalizedCorrelationRuntimeMaskedUsingEndpoints(
    uint32_t patternWidth, uint32_t patternHeight, const uint32_t* counts,
    const uint32_t* patternSums, const uint32_t* patternSumSqs, uint32_t patternStatsStride,
    uint32_t width, int32_t height, const uint32_t* imageSums, const uint32_t* imageSumSqs,
    uint32_t imageStatsStride, const uint32_t* innerProducts, uint32_t innerProductsStride,
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

}  // namespace qsrch

// Three-plane scoring functions the library uses internally and does not
// export, and the weighted plane sums every three-plane form shares.
#pragma once

#include <cstdint>

#include <qsrch/three_plane.h>

#include "scoring/internal.hpp"
#include "scoring/peaks_internal.hpp"

extern "C" {

// The three-plane score of one placement from double statistics.
[[nodiscard]] qsrch_status qsrch_DscoreFromStats3(const qsrch_normalizedCorrelationParams* params,
                                                  const double* weights, double N, double Sp0, double Sp1,
                                                  double Sp2, double Spp0, double Spp1, double Spp2,
                                                  double IP0, double IP1, double IP2, double Si0, double Si1,
                                                  double Si2, double Sii0, double Sii1, double Sii2,
                                                  double* scoreOut);

// Three-plane spaces over run-length position lists, integer statistics:
// row y scores the columns start <= x < end of pair y * endpointsStep and
// writes 0.0 everywhere else up to width. Argument lists follow the
// single-plane endpoint forms, with the planes and weights of the
// three-plane spaces; the pattern sums of squares of the one-triple form
// are doubles, as in qsrch_computeNormalizedCorrelation3.
[[nodiscard]] qsrch_status qsrch_computeNormalizedCorrelation3UsingEndpoints(
    uint32_t patternWidth, uint32_t patternHeight, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsStep, uint32_t n, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2, double Spp0, double Spp1,
    double Spp2, uint32_t width, int32_t height, const uint32_t* Si0, const uint32_t* Si1,
    const uint32_t* Si2, const uint32_t* Sii0, const uint32_t* Sii1, const uint32_t* Sii2,
    uint32_t imageStatsStride, const uint32_t* IP0, const uint32_t* IP1, const uint32_t* IP2,
    int32_t innerProductsStride, const qsrch_normalizedCorrelationParams* params, const double* weights,
    double* scores, int32_t scoresStride);
[[nodiscard]] qsrch_status qsrch_computeNormalizedCorrelationRuntimeMasked3UsingEndpoints(
    uint32_t patternWidth, uint32_t patternHeight, const uint32_t* counts, const uint32_t* Sp0,
    const uint32_t* Sp1, const uint32_t* Sp2, const uint32_t* Spp0, const uint32_t* Spp1,
    const uint32_t* Spp2, uint32_t patternStatsStride, uint32_t width, int32_t height, const uint32_t* Si0,
    const uint32_t* Si1, const uint32_t* Si2, const uint32_t* Sii0, const uint32_t* Sii1,
    const uint32_t* Sii2, uint32_t imageStatsStride, const uint32_t* IP0, const uint32_t* IP1,
    const uint32_t* IP2, uint32_t innerProductsStride, const qsrch_normalizedCorrelationParams* params,
    const double* weights, double* scores, uint32_t scoresStride, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsStep);

// What one three-plane peak call works on. The runtime mask is in use
// whenever non-null; the window is always given. doubles picks the double
// statistics (patterns of more than 0x10000 pixels), else the integer ones.
// Endpoints are in use on the integer path with endpointsFlag 1. The pattern
// statistics are always given (an entry given none computes them first):
// n, Sp_k and Spp_k serve every position when no runtime mask is in use,
// and n sets the care limit when one is.
typedef struct qsrch_peaks3Inputs {
    const qimg_windowConst* pattern[3];
    const qimg_windowConst* patternMask;
    const qimg_windowConst* image[3];
    const qimg_windowConst* runtimeMask;
    qstd_rect32 window;
    const qstd_vector_qstd_pair32* endpoints;
    uint32_t endpointsFlag;
    uint32_t doubles;
    uint32_t n;
    uint32_t patternSums[3];
    double patternSumSqs[3];
} qsrch_peaks3Inputs;

// The three-plane peak kernel behind the eight exported three-plane entries.
[[nodiscard]] qsrch_status qsrch_computePeaksCommon3(const qsrch_peaks3Inputs* inputs, double peakThreshold,
                                                     const qsrch_normalizedCorrelationParams* params,
                                                     const double* weights,
                                                     qstd_vector_qsrch_detectedPosePeak* peaksOut);

// Turns detected peaks into pose peaks scored with three plane sets and the
// weights; no shape score. positions is the planes' grid (x0, y0, nx, ny).
[[nodiscard]] qsrch_status qsrch_refinePeaks3(
    const qstd_rect32* positions, const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsFlag,
    const qsrch_normalizedCorrelationParams* params, const double* weights, const qsrch_peakPlanes* planes,
    const qstd_vector_* detected, qstd_vector_qsrch_detectedPosePeak* peaksOut);

}  // extern "C"

namespace qsrch {

// Weighted sums over the planes, added in plane order; each term is formed
// left to right as written: w_k*a_k, w_k*(a_k^2), (w_k*a_k)*b_k.
inline double weightedSum(const double* w, double a0, double a1, double a2)
{
    return w[0] * a0 + w[1] * a1 + w[2] * a2;
}

inline double weightedSquares(const double* w, double a0, double a1, double a2)
{
    return w[0] * (a0 * a0) + w[1] * (a1 * a1) + w[2] * (a2 * a2);
}

inline double weightedProducts(const double* w, double a0, double a1, double a2, double b0,
                               double b1, double b2)
{
    return w[0] * a0 * b0 + w[1] * a1 * b1 + w[2] * a2 * b2;
}

// Pattern side of one three-plane placement: the care count, the plane
// sums, and vp = N*sum(w*Spp) - sum(w*Sp^2).
struct PatternTerms3 {
    double N;
    double Sp[3];
    double vp;
};

inline PatternTerms3 patternTerms3(const double* w, double N, double Sp0, double Sp1, double Sp2,
                                   double Spp0, double Spp1, double Spp2)
{
    return {N, {Sp0, Sp1, Sp2},
            N * weightedSum(w, Spp0, Spp1, Spp2) - weightedSquares(w, Sp0, Sp1, Sp2)};
}

// cov of a placement: N*sum(w*IP) - sum(w*Sp*Si).
inline double covariance3(const double* w, const PatternTerms3& p, double IP0, double IP1,
                          double IP2, double Si0, double Si1, double Si2)
{
    return p.N * weightedSum(w, IP0, IP1, IP2) -
           weightedProducts(w, p.Sp[0], p.Sp[1], p.Sp[2], Si0, Si1, Si2);
}

// vi of a placement: N*sum(w*Sii) - sum(w*Si^2).
inline double imageVariance3(const double* w, double N, double Si0, double Si1, double Si2,
                             double Sii0, double Sii1, double Sii2)
{
    return N * weightedSum(w, Sii0, Sii1, Sii2) - weightedSquares(w, Si0, Si1, Si2);
}

// N*sqrt(vp), the covariance mode's divisor.
inline double covarianceDivisor3(const PatternTerms3& p) { return p.N * std::sqrt(p.vp); }

}  // namespace qsrch

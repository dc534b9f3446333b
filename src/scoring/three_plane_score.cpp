// Three-plane score, contrast and brightness of one placement from its
// per-plane statistics and the plane weights.
//
// Arithmetic: doubles throughout (there is no exact-integer three-plane
// form). Every weighted sum adds its planes in order 0, 1, 2 and forms each
// term left to right as written; cov, vp and vi then enter the single-plane
// score modes unchanged. Contrast and brightness scale by 1/n and 1/n^2
// rather than dividing by n.
#include "scoring/three_plane_internal.hpp"

extern "C" {

QSRCH_API qsrch_status qsrch_DcomputeContrastAndBrightnessFromStats3(
    double n, double Sp0, double Sp1, double Sp2, double Spp0, double Spp1, double Spp2, double Si0,
    double Si1, double Si2, double Sii0, double Sii1, double Sii2, const double* weights,
    double* contrastOut, double* brightnessOut)
{
    if (qsrch::noCareCount(n)) {
        *contrastOut = 1.0;
        *brightnessOut = 1.0;
        return QSRCH_OK;
    }
    const double* w = weights;
    const double inv = 1.0 / n;
    const double patternSquares = qsrch::weightedSquares(w, Sp0, Sp1, Sp2);
    const double vp = qsrch::scaledVariance(inv, patternSquares, qsrch::weightedSum(w, Spp0, Spp1, Spp2));
    const double vi = qsrch::scaledVariance(inv, qsrch::weightedSquares(w, Si0, Si1, Si2),
                                            qsrch::weightedSum(w, Sii0, Sii1, Sii2));
    *contrastOut = qsrch::contrastFromVariances(vi, vp);
    // The factor b minimising sum(w_k * (Si_k - b*Sp_k)^2).
    *brightnessOut = patternSquares != 0
                         ? qsrch::weightedProducts(w, Sp0, Sp1, Sp2, Si0, Si1, Si2) / patternSquares
                         : 1.0;
    return QSRCH_OK;
}

qsrch_status qsrch_DscoreFromStats3(const qsrch_normalizedCorrelationParams* params,
                                    const double* weights, double N, double Sp0, double Sp1,
                                    double Sp2, double Spp0, double Spp1, double Spp2, double IP0,
                                    double IP1, double IP2, double Si0, double Si1, double Si2,
                                    double Sii0, double Sii1, double Sii2, double* scoreOut)
{
    const qsrch::PatternTerms3 pattern =
        qsrch::patternTerms3(weights, N, Sp0, Sp1, Sp2, Spp0, Spp1, Spp2);
    const double cov = qsrch::covariance3(weights, pattern, IP0, IP1, IP2, Si0, Si1, Si2);
    const double vi = qsrch::imageVariance3(weights, N, Si0, Si1, Si2, Sii0, Sii1, Sii2);
    const double divisor = params->covarianceScore != 0 ? qsrch::covarianceDivisor3(pattern) : 0.0;
    *scoreOut = qsrch::scoreFromTerms(*params, cov, vi, pattern.vp, divisor);
    return QSRCH_OK;
}

}  // extern "C"

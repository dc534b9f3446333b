// Score, contrast and brightness of one placement from its six statistics.
//
// Arithmetic: the integer score forms cov, vp and vi exactly in 128-bit
// integers (N*Spp of two values near 2^32 exceeds signed 64 bits), applies
// the polarity flags and the sign test on those integers, and rounds only
// when it converts the terms to double for the final quotient. The double
// forms do the same steps in doubles. Contrast and brightness work in
// doubles, scaling by 1/n and 1/n^2 rather than dividing by n.
#include <cmath>

#include "scoring/internal.hpp"

namespace {

__extension__ typedef __int128 Int128;

double contrastOf(double n, double patternSum, double patternSumSq, double imageSum,
                  double imageSumSq)
{
    double inv = 1.0 / n;
    double vp = qsrch::scaledVariance(inv, patternSum * patternSum, patternSumSq);
    double vi = qsrch::scaledVariance(inv, imageSum * imageSum, imageSumSq);
    return qsrch::contrastFromVariances(vi, vp);
}

}  // namespace

extern "C" {

QSRCH_API qsrch_status qsrch_DcomputeContrastAndBrightnessFromStats(
    double n, double patternSum, double patternSumSq, double imageSum, double imageSumSq,
    double* contrastOut, double* brightnessOut)
{
    if (qsrch::noCareCount(n)) {
        *contrastOut = 1.0;
        *brightnessOut = 1.0;
        return QSRCH_OK;
    }
    *contrastOut = contrastOf(n, patternSum, patternSumSq, imageSum, imageSumSq);
    *brightnessOut = patternSum != 0 ? imageSum / patternSum : 1.0;
    return QSRCH_OK;
}

QSRCH_API qsrch_status qsrch_DcomputeContrastFromStats(double n, double patternSum,
                                                       double patternSumSq, double imageSum,
                                                       double imageSumSq, double* contrastOut)
{
    *contrastOut = qsrch::noCareCount(n) ? 1.0
                                         : contrastOf(n, patternSum, patternSumSq, imageSum, imageSumSq);
    return QSRCH_OK;
}

qsrch_status qsrch_scoreFromStats(const qsrch_normalizedCorrelationParams* params, uint32_t n,
                                  uint32_t patternSum, uint32_t patternSumSq,
                                  uint32_t innerProduct, uint32_t imageSum, uint32_t imageSumSq,
                                  double* scoreOut)
{
    // The terms exactly in 128 bits; the score modes as for the double forms
    // (a 128-bit value and its double have the same sign).
    const Int128 N = n, Sp = patternSum, Si = imageSum;
    const Int128 cov = N * innerProduct - Sp * Si;
    const Int128 vp = N * patternSumSq - Sp * Sp;
    const Int128 vi = N * imageSumSq - Si * Si;
    const double covDivisor =
        params->covarianceScore != 0 ? std::sqrt(static_cast<double>(vp)) * static_cast<double>(n) : 0.0;
    *scoreOut = qsrch::scoreFromTerms(*params, static_cast<double>(cov), static_cast<double>(vi),
                                      static_cast<double>(vp), covDivisor);
    return QSRCH_OK;
}

qsrch_status qsrch_DscoreFromStats(const qsrch_normalizedCorrelationParams* params, double n,
                                   double patternSum, double patternSumSq, double innerProduct,
                                   double imageSum, double imageSumSq, double* scoreOut)
{
    double cov = n * innerProduct - patternSum * imageSum;
    double vp = n * patternSumSq - patternSum * patternSum;
    double vi = n * imageSumSq - imageSum * imageSum;
    double covDivisor = params->covarianceScore != 0 ? n * std::sqrt(vp) : 0.0;
    *scoreOut = qsrch::scoreFromTerms(*params, cov, vi, vp, covDivisor);
    return QSRCH_OK;
}

}  // extern "C"

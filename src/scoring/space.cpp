// Correlation spaces: the score of every candidate position from the
// statistics planes of the kernels, and the two entry points that read
// pixels (the single score of equal-sized pattern and image, and the planes
// of a runtime-masked space).
//
// Arithmetic: every space works in doubles. Integer planes are converted
// element by element; for statistics of 8-bit patterns of up to 65536
// pixels every product and difference is an integer below 2^53 and so
// exact, and only the final quotient rounds. Forms with one pattern triple
// form N, Sp and vp = N*Spp - Sp^2 once per call; runtime-masked forms form
// them per position. The integer forms fix the score mode once per call,
// and with one pattern triple score covariance as a product with
// 1/(N*sqrt(vp)); the double forms read the flags at each position and
// divide. All forms agree up to rounding.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "frame/attention.hpp"
#include "frame/dispatch.hpp"
#include "kernels/grid.hpp"
#include "scoring/internal.hpp"
#include "frame/status.hpp"

namespace {

using Params = qsrch_normalizedCorrelationParams;

// Kernel names for the inhibit query: small patterns (at most 256 pixels,
// a signed 32-bit product) and big ones are separate switches.
const char16_t* switchName(uint32_t patternWidth, uint32_t patternHeight, const char16_t* small,
                           const char16_t* big)
{
    int32_t pixels = qsrch::product32(static_cast<int32_t>(patternWidth),
                                      static_cast<int32_t>(patternHeight));
    return pixels <= 256 ? small : big;
}

// flagged: the double forms, which test the flags at every position.
enum class Mode { correlation, absolute, negative, covariance, flagged };

Mode modeOf(const Params& params)
{
    if (params.covarianceScore != 0) return Mode::covariance;
    if (params.absoluteCorrelation != 0) return Mode::absolute;
    if (params.negativeCorrelation != 0) return Mode::negative;
    return Mode::correlation;
}

// Pattern terms of one position.
struct Terms {
    double N, Sp, vp;
};

// One care count and pattern sum for the whole space.
struct OneTriple {
    Terms terms;
    double covDivisor;  // N*sqrt(vp)
    double covFactor;   // 1 / covDivisor, or 0 where covariance scores 0

    OneTriple(uint32_t n, uint32_t patternSum, double patternSumSq)
    {
        const double N = n, Sp = patternSum;
        terms = {N, Sp, N * patternSumSq - Sp * Sp};
        covDivisor = N * std::sqrt(terms.vp);
        covFactor = covDivisor == 0 ? 0.0 : 1.0 / covDivisor;
    }
    const OneTriple& row(int32_t) const { return *this; }
    const Terms& at(int32_t) const { return terms; }
    double divisor(const Terms&) const { return covDivisor; }
    double covariance(double cov, const Terms&) const { return cov * covFactor; }
};

// Care counts and pattern sums per position, under a runtime mask.
template <class SqT>
struct PerPosition {
    const uint32_t* counts;
    const uint32_t* sums;
    const SqT* sumSqs;
    ptrdiff_t stride;

    PerPosition row(int32_t y) const
    {
        const ptrdiff_t o = y * stride;
        return {counts + o, sums + o, sumSqs + o, stride};
    }
    Terms at(int32_t x) const
    {
        const double N = counts[x], Sp = sums[x];
        return {N, Sp, N * static_cast<double>(sumSqs[x]) - Sp * Sp};
    }
    static double divisor(const Terms& t) { return t.N * std::sqrt(t.vp); }
    double covariance(double cov, const Terms& t) const
    {
        return qsrch::covarianceScore(cov, divisor(t));
    }
};

template <class SqT>
struct ImagePlanes {
    const uint32_t* sums;
    const SqT* sumSqs;
    ptrdiff_t statsStride;
    const SqT* innerProducts;
    ptrdiff_t innerProductsStride;
};

template <Mode M, class Pattern>
double scoreOf(const Params& params, const Pattern& pattern, const Terms& t, double cov, double vi)
{
    if constexpr (M == Mode::flagged) {
        // The square root only where covariance mode needs it.
        const double d = params.covarianceScore != 0 ? pattern.divisor(t) : 0.0;
        return qsrch::scoreFromTerms(params, cov, vi, t.vp, d);
    } else if constexpr (M == Mode::covariance) {
        return pattern.covariance(cov, t);
    } else {
        if constexpr (M == Mode::absolute) cov = std::fabs(cov);
        if constexpr (M == Mode::negative) cov = -cov;
        return qsrch::squaredCorrelation(cov, vi, t.vp);
    }
}

// Scores columns x0 <= x < x1 of one row; every pointer is already at the row.
template <Mode M, class Pattern, class SqT>
void scoreRow(const Params& params, const Pattern& pattern, const uint32_t* imageSums,
              const SqT* imageSumSqs, const SqT* innerProducts, double* scores, int32_t x0,
              int32_t x1)
{
    for (int32_t x = x0; x < x1; ++x) {
        const Terms& t = pattern.at(x);
        const double Si = imageSums[x];
        const double Sii = static_cast<double>(imageSumSqs[x]);
        const double IP = static_cast<double>(innerProducts[x]);
        const double cov = t.N * IP - t.Sp * Si;
        const double vi = t.N * Sii - Si * Si;
        scores[x] = scoreOf<M>(params, pattern, t, cov, vi);
    }
}

using qsrch::AllColumns;
using qsrch::EndpointColumns;
using qsrch::ScorePlane;
using qsrch::columnsOf;

template <Mode M, class Rows, class Patterns, class SqT>
void scoreSpace(const Params& params, const Rows& rows, const Patterns& patterns, int32_t width,
                int32_t height, const ImagePlanes<SqT>& image, const ScorePlane& out)
{
    qsrch::forEachScoreRow(rows, width, height, out, [&](int32_t y, double* scores, int32_t x0,
                                                         int32_t x1) {
        scoreRow<M>(params, patterns.row(y), image.sums + y * image.statsStride,
                    image.sumSqs + y * image.statsStride,
                    image.innerProducts + y * image.innerProductsStride, scores, x0, x1);
    });
}

// The integer forms: one loop per score mode.
template <class Rows, class Patterns>
void scoreIntegerSpace(const Params& params, const Rows& rows, const Patterns& patterns,
                       int32_t width, int32_t height, const ImagePlanes<uint32_t>& image,
                       const ScorePlane& out)
{
    switch (modeOf(params)) {
    case Mode::covariance:
        return scoreSpace<Mode::covariance>(params, rows, patterns, width, height, image, out);
    case Mode::absolute:
        return scoreSpace<Mode::absolute>(params, rows, patterns, width, height, image, out);
    case Mode::negative:
        return scoreSpace<Mode::negative>(params, rows, patterns, width, height, image, out);
    default:
        return scoreSpace<Mode::correlation>(params, rows, patterns, width, height, image, out);
    }
}

}  // namespace

extern "C" {

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelation(
    uint32_t patternWidth, uint32_t patternHeight, uint32_t n, uint32_t patternSum,
    double patternSumSq, uint32_t width, int32_t height, const uint32_t* imageSums,
    const double* imageSumSqs, uint32_t imageStatsStride, const double* innerProducts,
    int32_t innerProductsStride, const qsrch_normalizedCorrelationParams* params, double* scores,
    int32_t scoresStride)
{
    const char16_t* name = switchName(patternWidth, patternHeight, u"qsrch_DnormalizedCorrelationSmall",
                                      u"qsrch_DnormalizedCorrelationBig");
    return qsrch::dispatch(name, qsrch::noOptimizedPath, [&] {
        const ImagePlanes<double> image{imageSums, imageSumSqs, imageStatsStride, innerProducts,
                                        innerProductsStride};
        scoreSpace<Mode::flagged>(*params, AllColumns{}, OneTriple(n, patternSum, patternSumSq),
                                  columnsOf(width), height, image, {scores, scoresStride});
        return QSRCH_OK;
    });
}

QSRCH_API qsrch_status qsrch_computeNormalizedCorrelation(
    uint32_t patternWidth, uint32_t patternHeight, uint32_t n, uint32_t patternSum,
    uint32_t patternSumSq, uint32_t width, int32_t height, const uint32_t* imageSums,
    const uint32_t* imageSumSqs, uint32_t imageStatsStride, const uint32_t* innerProducts,
    int32_t innerProductsStride, const qsrch_normalizedCorrelationParams* params, double* scores,
    int32_t scoresStride)
{
    const char16_t* name = switchName(patternWidth, patternHeight, u"qsrch_normalizedCorrelationSmall",
                                      u"qsrch_normalizedCorrelationBig");
    return qsrch::dispatch(name, qsrch::noOptimizedPath, [&] {
        const ImagePlanes<uint32_t> image{imageSums, imageSumSqs, imageStatsStride, innerProducts,
                                          innerProductsStride};
        scoreIntegerSpace(*params, AllColumns{}, OneTriple(n, patternSum, patternSumSq),
                          columnsOf(width), height, image, {scores, scoresStride});
        return QSRCH_OK;
    });
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationRuntimeMasked(
    uint32_t patternWidth, uint32_t patternHeight, const uint32_t* counts,
    const uint32_t* patternSums, const double* patternSumSqs, uint32_t patternStatsStride,
    uint32_t width, int32_t height, const uint32_t* imageSums, const double* imageSumSqs,
    uint32_t imageStatsStride, const double* innerProducts, uint32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, double* scores, uint32_t scoresStride)
{
    const char16_t* name =
        switchName(patternWidth, patternHeight, u"qsrch_DnormalizedCorrelationRuntimeMaskedSmall",
                   u"qsrch_DnormalizedCorrelationRuntimeMaskedBig");
    return qsrch::dispatch(name, qsrch::noOptimizedPath, [&] {
        const PerPosition<double> patterns{counts, patternSums, patternSumSqs, patternStatsStride};
        const ImagePlanes<double> image{imageSums, imageSumSqs, imageStatsStride, innerProducts,
                                        innerProductsStride};
        scoreSpace<Mode::flagged>(*params, AllColumns{}, patterns, columnsOf(width), height, image,
                                  {scores, scoresStride});
        return QSRCH_OK;
    });
}

QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationRuntimeMasked(
    uint32_t patternWidth, uint32_t patternHeight, const uint32_t* counts,
    const uint32_t* patternSums, const uint32_t* patternSumSqs, uint32_t patternStatsStride,
    uint32_t width, int32_t height, const uint32_t* imageSums, const uint32_t* imageSumSqs,
    uint32_t imageStatsStride, const uint32_t* innerProducts, uint32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, double* scores, uint32_t scoresStride)
{
    const char16_t* name =
        switchName(patternWidth, patternHeight, u"qsrch_normalizedCorrelationRuntimeMaskedSmall",
                   u"qsrch_normalizedCorrelationRuntimeMaskedBig");
    return qsrch::dispatch(name, qsrch::noOptimizedPath, [&] {
        const PerPosition<uint32_t> patterns{counts, patternSums, patternSumSqs, patternStatsStride};
        const ImagePlanes<uint32_t> image{imageSums, imageSumSqs, imageStatsStride, innerProducts,
                                          innerProductsStride};
        scoreIntegerSpace(*params, AllColumns{}, patterns, columnsOf(width), height, image,
                          {scores, scoresStride});
        return QSRCH_OK;
    });
}

qsrch_status qsrch_computeNormalizedCorrelationUsingEndpoints(
    uint32_t patternWidth, uint32_t patternHeight, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsStep, uint32_t n, uint32_t patternSum, uint32_t patternSumSq, uint32_t width,
    int32_t height, const uint32_t* imageSums, const uint32_t* imageSumSqs,
    uint32_t imageStatsStride, const uint32_t* innerProducts, int32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, double* scores, int32_t scoresStride)
{
    const char16_t* name =
        switchName(patternWidth, patternHeight, u"qsrch_normalizedCorrelationSmallUsingEndpoints",
                   u"qsrch_normalizedCorrelationBigUsingEndpoints");
    return qsrch::dispatch(name, qsrch::noOptimizedPath, [&] {
        const ImagePlanes<uint32_t> image{imageSums, imageSumSqs, imageStatsStride, innerProducts,
                                          innerProductsStride};
        scoreIntegerSpace(*params, EndpointColumns(endpoints, endpointsStep),
                          OneTriple(n, patternSum, patternSumSq), columnsOf(width), height, image,
                          {scores, scoresStride});
        return QSRCH_OK;
    });
}

qsrch_status qsrch_computeNormalizedCorrelationRuntimeMaskedUsingEndpoints(
    uint32_t patternWidth, uint32_t patternHeight, const uint32_t* counts,
    const uint32_t* patternSums, const uint32_t* patternSumSqs, uint32_t patternStatsStride,
    uint32_t width, int32_t height, const uint32_t* imageSums, const uint32_t* imageSumSqs,
    uint32_t imageStatsStride, const uint32_t* innerProducts, uint32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, double* scores, uint32_t scoresStride,
    const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsStep)
{
    const char16_t* name = switchName(patternWidth, patternHeight,
                                      u"qsrch_normalizedCorrelationRuntimeMaskedSmallUsingEndpoints",
                                      u"qsrch_normalizedCorrelationRuntimeMaskedBigUsingEndpoints");
    return qsrch::dispatch(name, qsrch::noOptimizedPath, [&] {
        const PerPosition<uint32_t> patterns{counts, patternSums, patternSumSqs, patternStatsStride};
        const ImagePlanes<uint32_t> image{imageSums, imageSumSqs, imageStatsStride, innerProducts,
                                          innerProductsStride};
        scoreIntegerSpace(*params, EndpointColumns(endpoints, endpointsStep), patterns,
                          columnsOf(width), height, image, {scores, scoresStride});
        return QSRCH_OK;
    });
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationSpace(
    const qimg_windowConst* pattern, const qimg_windowConst* mask, const qimg_windowConst* image,
    const qsrch_normalizedCorrelationParams* params, double* scoreOut, uint32_t /*scoresStride*/)
{
    const bool masked = qsrch::present(mask);
    const uint32_t patternPixels =
        static_cast<uint32_t>(pattern->width) * static_cast<uint32_t>(pattern->height);
    uint32_t careCount = patternPixels;
    if (masked) QSRCH_RETURN_IF_ERROR(qsrch::maskCareCount(mask, &careCount));

    uint32_t patternSum = 0, imageSum = 0;
    if (patternPixels > static_cast<uint32_t>(qsrch::kMaxIntegerPatternPixels)) {
        double patternSumSq = 0, imageSumSq = 0, innerProduct = 0;
        QSRCH_RETURN_IF_ERROR(qsrch_DcomputeOneSumISumISq(pattern, &patternSum, &patternSumSq));
        QSRCH_RETURN_IF_ERROR(masked ? qsrch_DcomputeMaskSumISumISq(mask, image, &imageSum, &imageSumSq, 0)
                                     : qsrch_DcomputeOneSumISumISq(image, &imageSum, &imageSumSq));
        QSRCH_RETURN_IF_ERROR(qsrch_DcomputeInnerProducts(pattern, image, &innerProduct, 0));
        return qsrch_DscoreFromStats(params, careCount, patternSum, patternSumSq, innerProduct,
                                     imageSum, imageSumSq, scoreOut);
    }
    uint32_t patternSumSq = 0, imageSumSq = 0, innerProduct = 0;
    QSRCH_RETURN_IF_ERROR(qsrch_computeOneSumISumISq(pattern, &patternSum, &patternSumSq));
    QSRCH_RETURN_IF_ERROR(masked ? qsrch_computeMaskSumISumISq(mask, image, &imageSum, &imageSumSq, 0)
                                 : qsrch_computeOneSumISumISq(image, &imageSum, &imageSumSq));
    QSRCH_RETURN_IF_ERROR(qsrch_computeInnerProducts(pattern, image, &innerProduct, 0));
    return qsrch_scoreFromStats(params, careCount, patternSum, patternSumSq, innerProduct, imageSum,
                                imageSumSq, scoreOut);
}

QSRCH_API qsrch_status qsrch_DcomputeSumsRuntimeMasked(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
    const qimg_windowConst* image, const qimg_windowConst* runtimeMask, uint32_t stride,
    double* innerProducts, uint32_t* imageSums, double* imageSumSqs, uint32_t* counts,
    uint32_t* patternSums, double* patternSumSqs)
{
    QSRCH_RETURN_IF_ERROR(qsrch_DcomputeInnerProducts(pattern, image, innerProducts, stride));
    QSRCH_RETURN_IF_ERROR(
        qsrch::present(patternMask)
            ? qsrch_DcomputeMaskSumISumISq(patternMask, image, imageSums, imageSumSqs, stride)
            : qsrch_DcomputeSumISumISq(pattern, image, imageSums, imageSumSqs, stride));
    return qsrch_DcomputeMaskPatSumPatSumSq(pattern, patternMask, runtimeMask, counts, patternSums,
                                            patternSumSqs, stride);
}

}  // extern "C"

// Three-plane correlation spaces: the weighted three-plane score at every
// candidate position from per-plane statistics planes, and the single
// three-plane score of equal-sized pattern and image planes.
//
// Arithmetic: every space works in doubles, integer planes converted element
// by element, with the weighted sums of the three-plane score (plane order
// 0, 1, 2, each term left to right as written). Forms with one pattern set
// form vp and N*sqrt(vp) once per call; runtime-masked forms per position,
// the square root only in covariance mode. The three-plane spaces have no
// optimized twins and take no part in the inhibit query: they run their
// loops directly.
#include <cstddef>

#include "frame/attention.hpp"
#include "frame/call_frame.hpp"
#include "kernels/grid.hpp"
#include "kernels/scratch.hpp"
#include "scoring/three_plane_internal.hpp"

namespace {

using Params = qsrch_normalizedCorrelationParams;
using qsrch::PatternTerms3;

// One care count and pattern sums for the whole space.
struct OnePatternSet {
    PatternTerms3 terms;
    double divisor;  // N*sqrt(vp)

    OnePatternSet(const double* w, uint32_t n, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2,
                  double Spp0, double Spp1, double Spp2)
        : terms(qsrch::patternTerms3(w, n, Sp0, Sp1, Sp2, Spp0, Spp1, Spp2)),
          divisor(qsrch::covarianceDivisor3(terms))
    {
    }
    const PatternTerms3& at(int32_t, int32_t) const { return terms; }
    double covDivisor(const PatternTerms3&) const { return divisor; }
};

// Care counts and pattern sums per position, under a runtime mask.
template <class SqT>
struct PerPositionSets {
    const double* w;
    const uint32_t* counts;
    const uint32_t* sums[3];
    const SqT* sumSqs[3];
    ptrdiff_t stride;

    PatternTerms3 at(int32_t x, int32_t y) const
    {
        const ptrdiff_t i = y * stride + x;
        return qsrch::patternTerms3(w, counts[i], sums[0][i], sums[1][i], sums[2][i],
                                    static_cast<double>(sumSqs[0][i]),
                                    static_cast<double>(sumSqs[1][i]),
                                    static_cast<double>(sumSqs[2][i]));
    }
    static double covDivisor(const PatternTerms3& t) { return qsrch::covarianceDivisor3(t); }
};

template <class SqT>
struct ImagePlanes3 {
    const uint32_t* sums[3];
    const SqT* sumSqs[3];
    ptrdiff_t statsStride;
    const SqT* innerProducts[3];
    ptrdiff_t innerProductsStride;
};

template <class Rows, class Patterns, class SqT>
qsrch::Status scoreSpace3(const Params& params, const double* w, const Rows& rows, const Patterns& patterns,
                          uint32_t width, int32_t height, const ImagePlanes3<SqT>& image,
                          const qsrch::ScorePlane& out)
{
    const auto toDouble = [](SqT v) { return static_cast<double>(v); };
    qsrch::forEachScoreRow(rows, qsrch::columnsOf(width), height, out,
                           [&](int32_t y, double* scores, int32_t x0, int32_t x1) {
        for (int32_t x = x0; x < x1; ++x) {
            const PatternTerms3 t = patterns.at(x, y);
            const ptrdiff_t s = y * image.statsStride + x;
            const ptrdiff_t p = y * image.innerProductsStride + x;
            const double Si0 = image.sums[0][s], Si1 = image.sums[1][s], Si2 = image.sums[2][s];
            const double cov = qsrch::covariance3(w, t, toDouble(image.innerProducts[0][p]),
                                                  toDouble(image.innerProducts[1][p]),
                                                  toDouble(image.innerProducts[2][p]), Si0, Si1, Si2);
            const double vi = qsrch::imageVariance3(w, t.N, Si0, Si1, Si2,
                                                    toDouble(image.sumSqs[0][s]),
                                                    toDouble(image.sumSqs[1][s]),
                                                    toDouble(image.sumSqs[2][s]));
            const double divisor = params.covarianceScore != 0 ? patterns.covDivisor(t) : 0.0;
            scores[x] = qsrch::scoreFromTerms(params, cov, vi, t.vp, divisor);
        }
    });
    return QSRCH_OK;
}

// ---- Single three-plane score -------------------------------------------------

// The kernels of one route: integer (patterns of up to 65536 pixels) or double.
struct IntegerRoute {
    using Wide = uint32_t;
    using WideVector = qstd_vector32;
    static constexpr auto oneSums = qsrch_computeOneSumISumISq;
    static constexpr auto innerProducts = qsrch_computeInnerProducts;
    static constexpr auto maskSums = qsrch_computeMaskSumISumISq;
    static constexpr auto sums = qsrch_computeSumISumISq;
    static constexpr auto space = qsrch_computeNormalizedCorrelation3;
};

struct DoubleRoute {
    using Wide = double;
    using WideVector = qstd_vectord;
    static constexpr auto oneSums = qsrch_DcomputeOneSumISumISq;
    static constexpr auto innerProducts = qsrch_DcomputeInnerProducts;
    static constexpr auto maskSums = qsrch_DcomputeMaskSumISumISq;
    static constexpr auto sums = qsrch_DcomputeSumISumISq;
    static constexpr auto space = qsrch_DcomputeNormalizedCorrelation3;
};

struct PlaneViews {
    const qimg_windowConst* pattern[3];
    const qimg_windowConst* mask;
    const qimg_windowConst* image[3];
};

// Pattern sums of the three planes, then the care count, then per plane the
// inner product and the image sums, each stopping at the first failure; the
// space form then scores position (0, 0). Callers pass equal-sized pattern
// and image planes; the working planes still cover every position of a
// larger image so that the kernels stay inside them.
template <class Route>
qsrch::Status singleScore3(const PlaneViews& v, const Params* params, const double* weights, double* scoreOut,
                           uint32_t scoresStride)
{
    using Wide = typename Route::Wide;
    const qimg_windowConst& pattern0 = *v.pattern[0];
    uint32_t Sp[3] = {};
    Wide Spp[3] = {};
    qsrch_status status = QSRCH_OK;
    for (int k = 0; k < 3; ++k)
        QSRCH_RETURN_IF_ERROR(Route::oneSums(v.pattern[k], &Sp[k], &Spp[k]));

    const bool masked = qsrch::present(v.mask);
    uint32_t careCount = static_cast<uint32_t>(pattern0.width) * static_cast<uint32_t>(pattern0.height);
    if (masked) {
        uint32_t maskSum = 0;
        Wide maskSumSq = 0;
        QSRCH_RETURN_IF_ERROR(Route::oneSums(v.mask, &maskSum, &maskSumSq));
        careCount = maskSum / 255;
    }

    const qsrch::PositionGrid grid = qsrch::positionGrid(pattern0, *v.image[0]);
    const uint32_t stride = grid.nx > 1 ? static_cast<uint32_t>(grid.nx) : 1;
    const size_t count = static_cast<size_t>(stride) * (grid.ny > 1 ? grid.ny : 1);
    qsrch::CallFrame<2> frame;
    qstd_vector32 sumVector;
    typename Route::WideVector wideVector;
    uint32_t* sums = nullptr;
    Wide* wide = nullptr;
    QSRCH_RETURN_IF_ERROR(qsrch::allocateScratch(frame, 0, &sumVector, 3 * count, &sums));
    QSRCH_RETURN_IF_ERROR(qsrch::allocateScratch(frame, 1, &wideVector, 6 * count, &wide));
    uint32_t* Si[3] = {sums, sums + count, sums + 2 * count};
    Wide* Sii[3] = {wide, wide + count, wide + 2 * count};
    Wide* IP[3] = {wide + 3 * count, wide + 4 * count, wide + 5 * count};

    for (int k = 0; k < 3; ++k) {
        QSRCH_RETURN_IF_ERROR(frame.track(Route::innerProducts(v.pattern[k], v.image[k], IP[k], stride)));
        status = masked ? Route::maskSums(v.mask, v.image[k], Si[k], Sii[k], stride)
                        : Route::sums(v.pattern[k], v.image[k], Si[k], Sii[k], stride);
        QSRCH_RETURN_IF_ERROR(frame.track(status));
    }
    return frame.finish(Route::space(
        static_cast<uint32_t>(pattern0.width), static_cast<uint32_t>(pattern0.height), careCount, Sp[0],
        Sp[1], Sp[2], static_cast<double>(Spp[0]), static_cast<double>(Spp[1]), static_cast<double>(Spp[2]),
        1, 1, Si[0], Si[1], Si[2], Sii[0], Sii[1], Sii[2], stride, IP[0], IP[1], IP[2],
        static_cast<int32_t>(stride), params, weights, scoreOut, static_cast<int32_t>(scoresStride)));
}

}  // namespace

extern "C" {

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelation3(
    uint32_t /*patternWidth*/, uint32_t /*patternHeight*/, uint32_t n, uint32_t Sp0, uint32_t Sp1,
    uint32_t Sp2, double Spp0, double Spp1, double Spp2, uint32_t width, int32_t height,
    const uint32_t* Si0, const uint32_t* Si1, const uint32_t* Si2, const double* Sii0,
    const double* Sii1, const double* Sii2, uint32_t imageStatsStride, const double* IP0,
    const double* IP1, const double* IP2, int32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scores,
    int32_t scoresStride)
{
    const ImagePlanes3<double> image{
        {Si0, Si1, Si2}, {Sii0, Sii1, Sii2}, imageStatsStride, {IP0, IP1, IP2}, innerProductsStride};
    return scoreSpace3(*params, weights, qsrch::AllColumns{},
                       OnePatternSet(weights, n, Sp0, Sp1, Sp2, Spp0, Spp1, Spp2), width, height,
                       image, {scores, scoresStride});
}

QSRCH_API qsrch_status qsrch_computeNormalizedCorrelation3(
    uint32_t /*patternWidth*/, uint32_t /*patternHeight*/, uint32_t n, uint32_t Sp0, uint32_t Sp1,
    uint32_t Sp2, double Spp0, double Spp1, double Spp2, uint32_t width, int32_t height,
    const uint32_t* Si0, const uint32_t* Si1, const uint32_t* Si2, const uint32_t* Sii0,
    const uint32_t* Sii1, const uint32_t* Sii2, uint32_t imageStatsStride, const uint32_t* IP0,
    const uint32_t* IP1, const uint32_t* IP2, int32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scores,
    int32_t scoresStride)
{
    const ImagePlanes3<uint32_t> image{
        {Si0, Si1, Si2}, {Sii0, Sii1, Sii2}, imageStatsStride, {IP0, IP1, IP2}, innerProductsStride};
    return scoreSpace3(*params, weights, qsrch::AllColumns{},
                       OnePatternSet(weights, n, Sp0, Sp1, Sp2, Spp0, Spp1, Spp2), width, height,
                       image, {scores, scoresStride});
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationRuntimeMasked3(
    uint32_t /*patternWidth*/, uint32_t /*patternHeight*/, const uint32_t* counts,
    const uint32_t* Sp0, const uint32_t* Sp1, const uint32_t* Sp2, const double* Spp0,
    const double* Spp1, const double* Spp2, uint32_t patternStatsStride, uint32_t width,
    int32_t height, const uint32_t* Si0, const uint32_t* Si1, const uint32_t* Si2,
    const double* Sii0, const double* Sii1, const double* Sii2, uint32_t imageStatsStride,
    const double* IP0, const double* IP1, const double* IP2, uint32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scores,
    uint32_t scoresStride)
{
    const PerPositionSets<double> patterns{
        weights, counts, {Sp0, Sp1, Sp2}, {Spp0, Spp1, Spp2}, patternStatsStride};
    const ImagePlanes3<double> image{
        {Si0, Si1, Si2}, {Sii0, Sii1, Sii2}, imageStatsStride, {IP0, IP1, IP2}, innerProductsStride};
    return scoreSpace3(*params, weights, qsrch::AllColumns{}, patterns, width, height, image,
                       {scores, scoresStride});
}

QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationRuntimeMasked3(
    uint32_t /*patternWidth*/, uint32_t /*patternHeight*/, const uint32_t* counts,
    const uint32_t* Sp0, const uint32_t* Sp1, const uint32_t* Sp2, const uint32_t* Spp0,
    const uint32_t* Spp1, const uint32_t* Spp2, uint32_t patternStatsStride, uint32_t width,
    int32_t height, const uint32_t* Si0, const uint32_t* Si1, const uint32_t* Si2,
    const uint32_t* Sii0, const uint32_t* Sii1, const uint32_t* Sii2, uint32_t imageStatsStride,
    const uint32_t* IP0, const uint32_t* IP1, const uint32_t* IP2, uint32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scores,
    uint32_t scoresStride)
{
    const PerPositionSets<uint32_t> patterns{
        weights, counts, {Sp0, Sp1, Sp2}, {Spp0, Spp1, Spp2}, patternStatsStride};
    const ImagePlanes3<uint32_t> image{
        {Si0, Si1, Si2}, {Sii0, Sii1, Sii2}, imageStatsStride, {IP0, IP1, IP2}, innerProductsStride};
    return scoreSpace3(*params, weights, qsrch::AllColumns{}, patterns, width, height, image,
                       {scores, scoresStride});
}

qsrch_status qsrch_computeNormalizedCorrelation3UsingEndpoints(
    uint32_t /*patternWidth*/, uint32_t /*patternHeight*/, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsStep, uint32_t n, uint32_t Sp0, uint32_t Sp1, uint32_t Sp2, double Spp0,
    double Spp1, double Spp2, uint32_t width, int32_t height, const uint32_t* Si0,
    const uint32_t* Si1, const uint32_t* Si2, const uint32_t* Sii0, const uint32_t* Sii1,
    const uint32_t* Sii2, uint32_t imageStatsStride, const uint32_t* IP0, const uint32_t* IP1,
    const uint32_t* IP2, int32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scores,
    int32_t scoresStride)
{
    const ImagePlanes3<uint32_t> image{
        {Si0, Si1, Si2}, {Sii0, Sii1, Sii2}, imageStatsStride, {IP0, IP1, IP2}, innerProductsStride};
    return scoreSpace3(*params, weights, qsrch::EndpointColumns(endpoints, endpointsStep),
                       OnePatternSet(weights, n, Sp0, Sp1, Sp2, Spp0, Spp1, Spp2), width, height,
                       image, {scores, scoresStride});
}

qsrch_status qsrch_computeNormalizedCorrelationRuntimeMasked3UsingEndpoints(
    uint32_t /*patternWidth*/, uint32_t /*patternHeight*/, const uint32_t* counts,
    const uint32_t* Sp0, const uint32_t* Sp1, const uint32_t* Sp2, const uint32_t* Spp0,
    const uint32_t* Spp1, const uint32_t* Spp2, uint32_t patternStatsStride, uint32_t width,
    int32_t height, const uint32_t* Si0, const uint32_t* Si1, const uint32_t* Si2,
    const uint32_t* Sii0, const uint32_t* Sii1, const uint32_t* Sii2, uint32_t imageStatsStride,
    const uint32_t* IP0, const uint32_t* IP1, const uint32_t* IP2, uint32_t innerProductsStride,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scores,
    uint32_t scoresStride, const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsStep)
{
    const PerPositionSets<uint32_t> patterns{
        weights, counts, {Sp0, Sp1, Sp2}, {Spp0, Spp1, Spp2}, patternStatsStride};
    const ImagePlanes3<uint32_t> image{
        {Si0, Si1, Si2}, {Sii0, Sii1, Sii2}, imageStatsStride, {IP0, IP1, IP2}, innerProductsStride};
    return scoreSpace3(*params, weights, qsrch::EndpointColumns(endpoints, endpointsStep), patterns,
                       width, height, image, {scores, scoresStride});
}

QSRCH_API qsrch_status qsrch_computeNormalizedCorrelationSpace3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* mask, const qimg_windowConst* image0,
    const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scoreOut,
    uint32_t scoresStride)
{
    // No size test here: the integer kernels refuse patterns too large for them.
    const PlaneViews views{{pattern0, pattern1, pattern2}, mask, {image0, image1, image2}};
    return singleScore3<IntegerRoute>(views, params, weights, scoreOut, scoresStride);
}

QSRCH_API qsrch_status qsrch_DcomputeNormalizedCorrelationSpace3(
    const qimg_windowConst* pattern0, const qimg_windowConst* pattern1,
    const qimg_windowConst* pattern2, const qimg_windowConst* mask, const qimg_windowConst* image0,
    const qimg_windowConst* image1, const qimg_windowConst* image2,
    const qsrch_normalizedCorrelationParams* params, const double* weights, double* scoreOut,
    uint32_t scoresStride)
{
    if (!qsrch::tooLargeForIntegers(pattern0->width, pattern0->height))
        return qsrch_computeNormalizedCorrelationSpace3(pattern0, pattern1, pattern2, mask, image0,
                                                        image1, image2, params, weights, scoreOut,
                                                        scoresStride);
    const PlaneViews views{{pattern0, pattern1, pattern2}, mask, {image0, image1, image2}};
    return singleScore3<DoubleRoute>(views, params, weights, scoreOut, scoresStride);
}

}  // extern "C"

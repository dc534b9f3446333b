// Shared by the peak and refinement suites: the sixteen peak entries behind
// one call, and comparison of peak lists.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "reference.hpp"
#include "scoring/peaks_internal.hpp"
#include "scoring/three_plane_internal.hpp"

namespace qtest {

class PeakVector {
public:
    PeakVector() { qstd_vector_qsrch_detectedPosePeak_construct(&v_, 0); }
    ~PeakVector() { qstd_vector_qsrch_detectedPosePeak_destruct(&v_); }
    PeakVector(const PeakVector&) = delete;
    PeakVector& operator=(const PeakVector&) = delete;
    qstd_vector_qsrch_detectedPosePeak* get() { return &v_; }
    std::vector<qsrch_detectedPosePeak> items() const
    {
        const qsrch_detectedPosePeak* first = nullptr;
        uint32_t size = 0;
        qstd_vector_qsrch_detectedPosePeak_getBeginSizeConst(&v_, &first, &size);
        return std::vector<qsrch_detectedPosePeak>(first, first + size);
    }

private:
    qstd_vector_qsrch_detectedPosePeak v_;
};

// The pattern planes, mask and image planes of a call; grey entries read plane 0.
struct PeakViews {
    qimg_windowConst pattern[3];
    const qimg_windowConst* mask;
    qimg_windowConst image[3];
};

inline PeakViews viewsOf(const Planes& pattern, const qimg_windowConst* mask, const Planes& image)
{
    return {{pattern[0].window(), pattern[1].window(), pattern[2].window()},
            mask,
            {image[0].window(), image[1].window(), image[2].window()}};
}

// What the entries take besides the views; integer three-plane entries cast the sums of squares.
struct PeakInputs {
    const qimg_windowConst* runtimeMask = nullptr;
    const qstd_rect32* window = nullptr;
    const qstd_vector_qstd_pair32* endpoints = nullptr;
    uint32_t endpointsFlag = 1;
    uint32_t n = 0, sum[3] = {};
    double sumSq[3] = {};
    double threshold = 0.5;
    qsrch_normalizedCorrelationParams params = scoreParams(0, 0, 0);
    double weights[3] = {1, 1, 1};
};

enum Takes : unsigned { kThreePlanes = 1, kWindow = 2, kRuntime = 4, kEndpoints = 8, kPatStats = 16, kDoubles = 32 };

using PeakCall = std::function<qsrch_status(qstd_vector_qsrch_detectedPosePeak*)>;

struct PeakEntry {
    const char* name;
    unsigned takes;
    qsrch_status (*call)(const PeakViews&, const PeakInputs&, qstd_vector_qsrch_detectedPosePeak*);
    PeakCall bind(const PeakViews& v, const PeakInputs& in) const
    {
        return [this, &v, &in](qstd_vector_qsrch_detectedPosePeak* out) { return call(v, in, out); };
    }
};

// The argument lists, spelled once.
#define QT_V const PeakViews &v, const PeakInputs &in, qstd_vector_qsrch_detectedPosePeak *out
#define QT_G &v.pattern[0], v.mask, &v.image[0]
#define QT_3 &v.pattern[0], &v.pattern[1], &v.pattern[2], v.mask, &v.image[0], &v.image[1], &v.image[2]
#define QT_S in.sum[0], in.sum[1], in.sum[2]
#define QT_D in.sumSq[0], in.sumSq[1], in.sumSq[2]
#define QT_U uint32_t(in.sumSq[0]), uint32_t(in.sumSq[1]), uint32_t(in.sumSq[2])
inline const std::vector<PeakEntry>& peakEntries()
{
    static const std::vector<PeakEntry> entries = {
        {"plain", 0, [](QT_V) {
             return qsrch_DcomputeNormalizedCorrelationPeaks(QT_G, in.threshold, &in.params, out);
         }},
        {"window", kWindow, [](QT_V) {
             return qsrch_DcomputeNormalizedCorrelationPeaksWithWindow(QT_G, in.window, in.threshold, &in.params,
                                                                       out);
         }},
        {"patStats", kPatStats, [](QT_V) {
             return qsrch_DcomputeNormalizedCorrelationPeaksWithPatStats(QT_G, in.n, in.sum[0], in.sumSq[0],
                                                                         in.threshold, &in.params, out);
         }},
        {"endpointsPatStats", kEndpoints | kPatStats, [](QT_V) {
             return qsrch_DcomputeNormalizedCorrelationPeaksUsingEndpointsWithPatStats(
                 QT_G, in.endpoints, in.endpointsFlag, in.n, in.sum[0], in.sumSq[0], in.threshold, &in.params,
                 out);
         }},
        {"runtime", kRuntime, [](QT_V) {
             return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMasked(QT_G, in.runtimeMask, in.threshold,
                                                                          &in.params, out);
         }},
        {"runtimeEndpoints", kRuntime | kEndpoints, [](QT_V) {
             return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedUsingEndpoints(
                 QT_G, in.runtimeMask, in.endpoints, in.endpointsFlag, in.threshold, &in.params, out);
         }},
        {"runtimePatStats", kRuntime | kPatStats, [](QT_V) {
             return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats(
                 QT_G, in.runtimeMask, in.n, in.sum[0], in.sumSq[0], in.threshold, &in.params, out);
         }},
        {"runtimeWindow", kRuntime | kPatStats | kWindow, [](QT_V) {
             return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow(
                 QT_G, in.runtimeMask, in.n, in.sum[0], in.sumSq[0], in.window, in.threshold, &in.params, out);
         }},
        {"Dplain3", kThreePlanes | kDoubles, [](QT_V) {
             return qsrch_DcomputeNormalizedCorrelationPeaks3(QT_3, in.threshold, &in.params, in.weights, out);
         }},
        {"plain3", kThreePlanes, [](QT_V) {
             return qsrch_computeNormalizedCorrelationPeaks3(QT_3, in.threshold, &in.params, in.weights, out);
         }},
        {"DruntimeWindow3", kThreePlanes | kDoubles | kRuntime | kPatStats | kWindow, [](QT_V) {
             return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(
                 QT_3, in.runtimeMask, in.n, QT_S, QT_D, in.window, in.threshold, &in.params, in.weights, out);
         }},
        {"DruntimePatStats3", kThreePlanes | kDoubles | kRuntime | kPatStats, [](QT_V) {
             return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(
                 QT_3, in.runtimeMask, in.n, QT_S, QT_D, in.threshold, &in.params, in.weights, out);
         }},
        {"DruntimeEndpoints3", kThreePlanes | kDoubles | kRuntime | kPatStats | kEndpoints, [](QT_V) {
             return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3_usingEndpoints(
                 QT_3, in.runtimeMask, in.n, in.endpoints, in.endpointsFlag, QT_S, QT_D, in.threshold, &in.params,
                 in.weights, out);
         }},
        {"runtimeWindow3", kThreePlanes | kRuntime | kPatStats | kWindow, [](QT_V) {
             return qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(
                 QT_3, in.runtimeMask, in.n, QT_S, QT_U, in.window, in.threshold, &in.params, in.weights, out);
         }},
        {"runtimePatStats3", kThreePlanes | kRuntime | kPatStats, [](QT_V) {
             return qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(
                 QT_3, in.runtimeMask, in.n, QT_S, QT_U, in.threshold, &in.params, in.weights, out);
         }},
        {"runtimeEndpoints3", kThreePlanes | kRuntime | kPatStats | kEndpoints, [](QT_V) {
             return qsrch_computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3_usingEndpoints(
                 QT_3, in.runtimeMask, in.n, in.endpoints, in.endpointsFlag, QT_S, QT_U, in.threshold, &in.params,
                 in.weights, out);
         }},
    };
    return entries;
}
#undef QT_V
#undef QT_G
#undef QT_3
#undef QT_S
#undef QT_D
#undef QT_U

inline const PeakEntry& entryNamed(const std::string& name)
{
    for (const PeakEntry& e : peakEntries())
        if (name == e.name) return e;
    throw std::invalid_argument(name);
}

inline std::vector<qsrch_detectedPosePeak> runEntry(const PeakEntry& e, const PeakViews& v, const PeakInputs& in)
{
    PeakVector out;
    EXPECT_EQ(e.call(v, in, out.get()), QSRCH_OK) << e.name;
    return out.items();
}

// Every field exactly, or (three planes against grey) the doubles up to rounding.
inline ::testing::AssertionResult samePeaks(const std::vector<qsrch_detectedPosePeak>& a,
                                            const std::vector<qsrch_detectedPosePeak>& b, bool exact = true)
{
    if (a.size() != b.size()) return ::testing::AssertionFailure() << a.size() << " peaks vs " << b.size();
    for (size_t k = 0; k < a.size(); ++k) {
        const qsrch_detectedPosePeak &p = a[k], &q = b[k];
        auto doubles = [](const qsrch_detectedPosePeak& r) {
            const qmath_xformLinear& x = r.pose;
            return std::array<double, 9>{x.trans.x, x.trans.y, x.matrix.a11, x.matrix.a12, x.matrix.a21,
                                         x.matrix.a22, r.score, r.contrast, r.brightness};
        };
        const auto dp = doubles(p), dq = doubles(q);
        bool same = std::tie(p.flags, p.careCount, p.integerPosition.first, p.integerPosition.second,
                             p.searchGranularity, p.searchLevel, p.searchSplit) ==
                    std::tie(q.flags, q.careCount, q.integerPosition.first, q.integerPosition.second,
                             q.searchGranularity, q.searchLevel, q.searchSplit);
        for (size_t i = 0; i < dp.size(); ++i)
            same &= exact ? dp[i] == dq[i] : std::fabs(dp[i] - dq[i]) <= 1e-9 * std::max(1.0, std::fabs(dq[i]));
        if (!same)
            return ::testing::AssertionFailure() << "peak " << k << " at (" << p.integerPosition.first << ", "
                                                 << p.integerPosition.second << ") score " << p.score;
    }
    return ::testing::AssertionSuccess();
}

// Every allocation of a peak call may fail and is released; unfailed, the
// call must find peaks, so that the sweep reaches the refinement.
inline void expectPeakAllocationFailuresClean(const PeakCall& call)
{
    expectAllocationFailuresClean([&] {
        qstd_vector_qsrch_detectedPosePeak out;
        qsrch_status s = qstd_vector_qsrch_detectedPosePeak_construct(&out, 0);
        if (QSRCH_FAILED(s)) return s;
        s = call(&out);
        uint32_t found = 0;
        qstd_vector_qsrch_detectedPosePeak_getSize(&out, &found);
        if (s == QSRCH_OK && found == 0) s = QSYS_E_BAD_ARGUMENT;
        qstd_vector_qsrch_detectedPosePeak_destruct(&out);
        return s;
    });
}

}  // namespace qtest

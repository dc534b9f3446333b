// Shared by the peak and refinement suites: the sixteen peak entries behind one call, and comparison of peak lists.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "reference.hpp"
#include "scoring/peaks_internal.hpp"
#include "scoring/three_plane_internal.hpp"

namespace qtest {

struct PeakVector {
    qstd_vector_qsrch_detectedPosePeak v;
    PeakVector() { qstd_vector_qsrch_detectedPosePeak_construct(&v, 0); }
    ~PeakVector() { qstd_vector_qsrch_detectedPosePeak_destruct(&v); }
    std::vector<qsrch_detectedPosePeak> items() const
    {
        const auto* first = static_cast<const qsrch_detectedPosePeak*>(v.begin);
        return std::vector<qsrch_detectedPosePeak>(first, first + v.size);
    }
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

struct PeakEntry {
    const char* name;
    unsigned takes;
    qsrch_status (*call)(const PeakViews&, const PeakInputs&, qstd_vector_qsrch_detectedPosePeak*);
};

// The argument lists, spelled once.
#define QT_E(name, takes, call) {name, takes, [](QT_V) { return qsrch_##call; }}
#define QT_V const PeakViews &v, const PeakInputs &in, qstd_vector_qsrch_detectedPosePeak *out
#define QT_G &v.pattern[0], v.mask, &v.image[0]
#define QT_3 &v.pattern[0], &v.pattern[1], &v.pattern[2], v.mask, &v.image[0], &v.image[1], &v.image[2]
#define QT_P in.n, in.sum[0], in.sumSq[0]
#define QT_S in.sum[0], in.sum[1], in.sum[2]
#define QT_D QT_S, in.sumSq[0], in.sumSq[1], in.sumSq[2]
#define QT_U QT_S, uint32_t(in.sumSq[0]), uint32_t(in.sumSq[1]), uint32_t(in.sumSq[2])
#define QT_T in.threshold, &in.params, out
#define QT_W in.threshold, &in.params, in.weights, out
inline const std::vector<PeakEntry>& peakEntries()
{
    static const std::vector<PeakEntry> entries = {
        QT_E("plain", 0, DcomputeNormalizedCorrelationPeaks(QT_G, QT_T)),
        QT_E("window", kWindow, DcomputeNormalizedCorrelationPeaksWithWindow(QT_G, in.window, QT_T)),
        QT_E("patStats", kPatStats, DcomputeNormalizedCorrelationPeaksWithPatStats(QT_G, QT_P, QT_T)),
        QT_E("endpointsPatStats", kEndpoints | kPatStats,
             DcomputeNormalizedCorrelationPeaksUsingEndpointsWithPatStats(QT_G, in.endpoints, in.endpointsFlag, QT_P,
                                                                          QT_T)),
        QT_E("runtime", kRuntime, DcomputeNormalizedCorrelationPeaksRuntimeMasked(QT_G, in.runtimeMask, QT_T)),
        QT_E("runtimeEndpoints", kRuntime | kEndpoints,
             DcomputeNormalizedCorrelationPeaksRuntimeMaskedUsingEndpoints(QT_G, in.runtimeMask, in.endpoints,
                                                                           in.endpointsFlag, QT_T)),
        QT_E("runtimePatStats", kRuntime | kPatStats,
             DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats(QT_G, in.runtimeMask, QT_P, QT_T)),
        QT_E("runtimeWindow", kRuntime | kPatStats | kWindow,
             DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow(QT_G, in.runtimeMask, QT_P, in.window, QT_T)),
        QT_E("Dplain3", kThreePlanes | kDoubles, DcomputeNormalizedCorrelationPeaks3(QT_3, QT_W)),
        QT_E("plain3", kThreePlanes, computeNormalizedCorrelationPeaks3(QT_3, QT_W)),
        QT_E("DruntimeWindow3", kThreePlanes | kDoubles | kRuntime | kPatStats | kWindow,
             DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(QT_3, in.runtimeMask, in.n, QT_D, in.window,
                                                                        QT_W)),
        QT_E("DruntimePatStats3", kThreePlanes | kDoubles | kRuntime | kPatStats,
             DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(QT_3, in.runtimeMask, in.n, QT_D, QT_W)),
        QT_E("DruntimeEndpoints3", kThreePlanes | kDoubles | kRuntime | kPatStats | kEndpoints,
             DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3_usingEndpoints(
                 QT_3, in.runtimeMask, in.n, in.endpoints, in.endpointsFlag, QT_D, QT_W)),
        QT_E("runtimeWindow3", kThreePlanes | kRuntime | kPatStats | kWindow,
             computeNormalizedCorrelationPeaksRuntimeMaskedWithWindow3(QT_3, in.runtimeMask, in.n, QT_U, in.window,
                                                                       QT_W)),
        QT_E("runtimePatStats3", kThreePlanes | kRuntime | kPatStats,
             computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3(QT_3, in.runtimeMask, in.n, QT_U, QT_W)),
        QT_E("runtimeEndpoints3", kThreePlanes | kRuntime | kPatStats | kEndpoints,
             computeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats3_usingEndpoints(
                 QT_3, in.runtimeMask, in.n, in.endpoints, in.endpointsFlag, QT_U, QT_W)),
    };
    return entries;
}
#undef QT_E
#undef QT_V
#undef QT_G
#undef QT_3
#undef QT_P
#undef QT_S
#undef QT_D
#undef QT_U
#undef QT_T
#undef QT_W

inline const PeakEntry& entryNamed(const std::string& name)
{
    for (const PeakEntry& e : peakEntries())
        if (name == e.name) return e;
    throw std::invalid_argument(name);
}

inline std::vector<qsrch_detectedPosePeak> runEntry(const PeakEntry& e, const PeakViews& v, const PeakInputs& in)
{
    PeakVector out;
    EXPECT_EQ(e.call(v, in, &out.v), QSRCH_OK) << e.name;
    return out.items();
}

// Every field exactly, or (three planes against grey) the doubles up to rounding.
inline ::testing::AssertionResult samePeaks(const std::vector<qsrch_detectedPosePeak>& a,
                                            const std::vector<qsrch_detectedPosePeak>& b, bool exact = true)
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

// Shared by the peak and refinement suites: owned vectors of pose peaks and
// endpoint runs, the eight peak entries behind one call, and exact
// comparison of peak lists.
#pragma once

#include <cstdint>
#include <functional>
#include <tuple>
#include <vector>

#include "reference.hpp"
#include "scoring/peaks_internal.hpp"

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

class Runs {
public:
    explicit Runs(const std::vector<qstd_pair32>& pairs)
    {
        qstd_vector_qstd_pair32_construct(&v_, pairs.size());
        for (size_t k = 0; k < pairs.size(); ++k) v_.begin[k] = pairs[k];
    }
    ~Runs() { qstd_vector_qstd_pair32_destruct(&v_); }
    Runs(const Runs&) = delete;
    Runs& operator=(const Runs&) = delete;
    const qstd_vector_qstd_pair32* get() const { return &v_; }

private:
    qstd_vector_qstd_pair32 v_;
};

// Every position row of an H-row image listed whole: (0, nx) for the ny
// position rows, (0, 0) for the rest.
inline std::vector<qstd_pair32> fullRuns(int32_t nx, int32_t ny, int32_t imageHeight)
{
    std::vector<qstd_pair32> pairs(size_t(imageHeight), qstd_pair32{0, 0});
    for (int32_t r = 0; r < ny; ++r) pairs[size_t(r)] = {0, nx};
    return pairs;
}

enum class Entry {
    plain, window, patStats, endpointsPatStats,
    runtime, runtimeEndpoints, runtimePatStats, runtimeWindow
};

inline const char* nameOf(Entry e)
{
    static const char* const names[] = {"plain", "window", "patStats", "endpointsPatStats",
                                        "runtime", "runtimeEndpoints", "runtimePatStats",
                                        "runtimeWindow"};
    return names[int(e)];
}

// What the entries take besides pattern, mask and image; each uses its own.
struct PeakInputs {
    const qimg_windowConst* runtimeMask = nullptr;
    const qstd_rect32* window = nullptr;
    const qstd_vector_qstd_pair32* endpoints = nullptr;
    uint32_t endpointsFlag = 1;
    uint32_t n = 0, sum = 0;
    double sumSq = 0;
    double threshold = 0.5;
    qsrch_normalizedCorrelationParams params = scoreParams(0, 0, 0);
};

inline qsrch_status callEntry(Entry e, const qimg_windowConst* pattern, const qimg_windowConst* mask,
                              const qimg_windowConst* image, const PeakInputs& in,
                              qstd_vector_qsrch_detectedPosePeak* out)
{
    const auto* p = &in.params;
    switch (e) {
    case Entry::plain:
        return qsrch_DcomputeNormalizedCorrelationPeaks(pattern, mask, image, in.threshold, p, out);
    case Entry::window:
        return qsrch_DcomputeNormalizedCorrelationPeaksWithWindow(pattern, mask, image, in.window,
                                                                  in.threshold, p, out);
    case Entry::patStats:
        return qsrch_DcomputeNormalizedCorrelationPeaksWithPatStats(
            pattern, mask, image, in.n, in.sum, in.sumSq, in.threshold, p, out);
    case Entry::endpointsPatStats:
        return qsrch_DcomputeNormalizedCorrelationPeaksUsingEndpointsWithPatStats(
            pattern, mask, image, in.endpoints, in.endpointsFlag, in.n, in.sum, in.sumSq,
            in.threshold, p, out);
    case Entry::runtime:
        return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMasked(pattern, mask, image,
                                                                     in.runtimeMask, in.threshold,
                                                                     p, out);
    case Entry::runtimeEndpoints:
        return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedUsingEndpoints(
            pattern, mask, image, in.runtimeMask, in.endpoints, in.endpointsFlag, in.threshold, p,
            out);
    case Entry::runtimePatStats:
        return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithPatStats(
            pattern, mask, image, in.runtimeMask, in.n, in.sum, in.sumSq, in.threshold, p, out);
    case Entry::runtimeWindow:
        return qsrch_DcomputeNormalizedCorrelationPeaksRuntimeMaskedWithWindow(
            pattern, mask, image, in.runtimeMask, in.n, in.sum, in.sumSq, in.window, in.threshold,
            p, out);
    }
    return QSYS_E_BAD_ARGUMENT;
}

// Every field, exactly.
inline auto fieldsOf(const qsrch_detectedPosePeak& p)
{
    const qmath_xformLinear& x = p.pose;
    return std::make_tuple(x.trans.x, x.trans.y, x.matrix.a11, x.matrix.a12, x.matrix.a21, x.matrix.a22,
                           p.score, p.flags, p.contrast, p.brightness, p.integerPosition.first,
                           p.integerPosition.second, p.searchGranularity, p.searchLevel, p.searchSplit,
                           p.careCount);
}

inline ::testing::AssertionResult samePeak(const qsrch_detectedPosePeak& a,
                                           const qsrch_detectedPosePeak& b)
{
    if (fieldsOf(a) == fieldsOf(b)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "peak at (" << a.integerPosition.first << ", " << a.integerPosition.second
           << ") score " << a.score << " vs (" << b.integerPosition.first << ", "
           << b.integerPosition.second << ") score " << b.score;
}

inline ::testing::AssertionResult samePeaks(const std::vector<qsrch_detectedPosePeak>& a,
                                            const std::vector<qsrch_detectedPosePeak>& b)
{
    if (a.size() != b.size())
        return ::testing::AssertionFailure() << a.size() << " peaks vs " << b.size();
    for (size_t k = 0; k < a.size(); ++k) {
        ::testing::AssertionResult r = samePeak(a[k], b[k]);
        if (!r) return r << " (peak " << k << ")";
    }
    return ::testing::AssertionSuccess();
}

using PeakCall = std::function<qsrch_status(qstd_vector_qsrch_detectedPosePeak*)>;

// Windows or images with no candidate position, against a 6 x 5 pattern on
// a 20 x 20 image: an empty list, status 0, and no allocation.
struct NothingToScore { const char* what; int32_t W, H; qstd_rect32 window; };
inline const NothingToScore kNothingToScore[] = {
    {"image narrower", 5, 20, {0, 0, 5, 20}},   {"image lower", 20, 4, {0, 0, 20, 4}},
    {"window narrower", 20, 20, {3, 3, 5, 10}}, {"window lower", 20, 20, {3, 3, 10, 4}},
    {"window past the image", 20, 20, {17, 0, 11, 20}},
};

inline void expectNoPeaksAndNoAllocation(const PeakCall& call)
{
    PeakVector out;
    ASSERT_EQ(qstd_vector_qsrch_detectedPosePeak_resize(out.get(), 3), QSRCH_OK);
    const int64_t before = qsys_memory_allocationCount();
    EXPECT_EQ(call(out.get()), QSRCH_OK);
    EXPECT_EQ(qsys_memory_allocationCount(), before);
    EXPECT_TRUE(out.items().empty());
}

// Every allocation of a peak call may fail: the call returns the failure and
// releases everything it acquired. Unfailed, the call must find peaks, so
// that the sweep reaches the refinement.
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

// Runtime care along an 8-pixel row: a 3-wide pattern's care counts per
// position are 0, 1, 1, 2, 2, 2. On a black image every score is 0, so the
// detector reports the one plateau at its first position whose care count
// reaches the limit: at x with that count, or nothing for x < 0.
inline const uint8_t kCareRow[8] = {0, 0, 0, 255, 0, 200, 255, 0};

inline void expectPlateauAt(const std::vector<qsrch_detectedPosePeak>& peaks, int32_t x, uint32_t careCount)
{
    if (x < 0) {
        EXPECT_TRUE(peaks.empty());
        return;
    }
    ASSERT_EQ(peaks.size(), 1u);
    EXPECT_EQ(peaks[0].integerPosition.first, x);
    EXPECT_EQ(peaks[0].score, 0.0);
    EXPECT_EQ(peaks[0].careCount, careCount);
}

}  // namespace qtest

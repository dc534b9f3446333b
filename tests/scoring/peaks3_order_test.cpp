// The colour entries that are given no pattern statistics take them before
// they look at the window: a pattern too large for the integer sums is
// refused by the integer entry even where no position would fit.
#include <gtest/gtest.h>

#include "peak_support.hpp"

namespace {

using qtest::Planes;

TEST(ColourPeaksOrder, OversizePatternIsRefusedBeforeTheEmptyAnswer)
{
    const Planes pattern(257, 256, 0);  // 0x10100 pixels
    const Planes image(64, 64);
    const qtest::PeakViews v = qtest::viewsOf(pattern, nullptr, image);
    const qsrch_normalizedCorrelationParams params = qtest::scoreParams(0, 0, 0);
    const double weights[3] = {1, 1, 1};
    qtest::PeakVector integerPeaks, doublePeaks;
    EXPECT_EQ(QSRCH_E_PATTERN_TOO_LARGE,
              qsrch_computeNormalizedCorrelationPeaks3(&v.pattern[0], &v.pattern[1], &v.pattern[2], nullptr,
                                                       &v.image[0], &v.image[1], &v.image[2], 0.5, &params,
                                                       weights, integerPeaks.get()));
    // The double entry takes the double sums and gives the empty answer.
    EXPECT_EQ(QSRCH_OK, qsrch_DcomputeNormalizedCorrelationPeaks3(&v.pattern[0], &v.pattern[1], &v.pattern[2],
                                                                  nullptr, &v.image[0], &v.image[1], &v.image[2],
                                                                  0.5, &params, weights, doublePeaks.get()));
    EXPECT_TRUE(doublePeaks.items().empty());
}

}  // namespace

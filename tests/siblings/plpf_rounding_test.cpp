// The general-factor reducer to the grey level: a ramp reduces to the ramp
// at each destination pixel's sampling centre f x + (f - 1) / 2, rounded to
// the nearest level. With slope 3 no ramp value at a centre lies within
// 0.02 of a half level, so a reducer that truncated would be off by one;
// factor 2.04 sweeps the centres through every phase, so some end taps
// round to weight 0 and are dropped, and a tap list that then started at
// the wrong pixel would be off too.
#include <cmath>

#include "support/test_support.hpp"

namespace {

TEST(PlpfRounding, RampsReduceToTheNearestLevelOfTheRampAtTheCentre)
{
    const int32_t w = 60, h = 50;
    // Slope 3 along one axis: factor 2.5 gives 7.5 x + 2.25, 1.5 gives 4.5 x + 0.75, 2.04 gives 6.12 x + 1.56.
    for (const auto& [fx, fy, alongX] : {std::tuple{2.5, 1.5, true}, std::tuple{2.5, 1.5, false},
                                         std::tuple{2.04, 2.04, true}, std::tuple{2.04, 2.04, false}}) {
        SCOPED_TRACE(testing::Message() << fx << " x " << fy << (alongX ? ", ramp along x" : ", ramp along y"));
        qimg_image source, reduced;
        ASSERT_EQ(qimg_image_construct(&source, QIMG_DEPTH_8U, w, h), QSYS_OK);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                static_cast<uint8_t*>(source.firstPixel)[y * source.rowStride + x] = uint8_t(3 * (alongX ? x : y));
        ASSERT_EQ(qimg_image_constructUnbound(&reduced), QSYS_OK);
        qip_plpfParams params;
        ASSERT_EQ(qip_plpfParams_init(&params), QSYS_OK);
        params.factorX = fx, params.factorY = fy;
        ASSERT_EQ(qip_plpf_smooth8_8(qimg_image_asConst(&source), &reduced, &params), QSYS_OK);
        const double f = alongX ? fx : fy;
        const int32_t size = alongX ? reduced.width : reduced.height, reach = int32_t(std::ceil(f)) + 1;
        int checked = 0;
        for (int32_t y = 0; y < reduced.height; ++y)
            for (int32_t x = 0; x < reduced.width; ++x) {
                const int32_t i = alongX ? x : y;
                const double centre = f * i + (f - 1) / 2;
                if (centre < reach || centre > (alongX ? w : h) - 1 - reach || i >= size) continue;
                const int got = static_cast<const uint8_t*>(reduced.firstPixel)[y * reduced.rowStride + x];
                ASSERT_EQ(got, std::lround(3 * centre)) << "at " << x << ", " << y;
                ++checked;
            }
        EXPECT_GE(checked, 80);
        qimg_image_destruct(&reduced);
        qimg_image_destruct(&source);
    }
}

}  // namespace

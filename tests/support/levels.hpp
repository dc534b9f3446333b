// Pixel access through level views and one pyramid step by the reducers.
#pragma once

#include <qip/qip.h>

#include "support/test_support.hpp"

namespace qtest {

inline uint8_t at(const qimg_windowConst& v, int32_t x, int32_t y) { return pel(v, x, y); }

inline bool isBound(const qimg_imageConst& image)
{
    uint32_t bound = 0;
    return qimg_imageConst_getIsBound(&image, &bound), bound != 0;
}

inline qmath_xformLinear identity() { return {{0, 0}, {1, 0, 0, 1}}; }

inline qmath_vect mapPoint(const qmath_xformLinear& x, double px, double py)
{
    qmath_vect in{px, py}, out{};
    return qmath_xformLinear_mapPoint(&x, &in, &out), out;
}

// A view's pixels, row by row, without the slack.
struct Plane {
    int32_t w = 0, h = 0;
    std::vector<uint8_t> px;
    uint8_t operator()(int32_t x, int32_t y) const { return px[static_cast<size_t>(y) * w + x]; }
};

inline Plane planeOf(const qimg_windowConst& v)
{
    Plane p{v.width, v.height, {}};
    for (int32_t y = 0; y < v.height; ++y)
        for (int32_t x = 0; x < v.width; ++x) p.px.push_back(at(v, x, y));
    return p;
}

inline std::vector<uint8_t> pixels(const qimg_windowConst& v) { return planeOf(v).px; }

// The Gaussian two-times reducer for a factor of 2, the low-pass filter else.
inline Plane reduceLevel(const qimg_windowConst& from, float factor, qmath_xformLinear* reducedToFrom = nullptr)
{
    qimg_image in, out;
    qmath_xformLinear id = identity(), xform;
    if (factor == 2.0f) {
        EXPECT_EQ(qimg_image_construct(&out, QIMG_DEPTH_8U, from.width / 2, from.height / 2), QSRCH_OK);
        qimg_window outView;
        qimg_window_init(&outView, &out);
        EXPECT_EQ(qip_gauss2_smoothWindow8_8(&from, &id, &outView, &xform), QSRCH_OK);
    } else {  // the filter reads a whole image: a copy of the view
        EXPECT_EQ(qimg_image_construct(&in, QIMG_DEPTH_8U, from.width, from.height), QSRCH_OK);
        for (int32_t y = 0; y < from.height; ++y)
            std::copy_n(static_cast<const uint8_t*>(from.firstPixel) + y * from.rowStride, from.width,
                        static_cast<uint8_t*>(in.firstPixel) + y * in.rowStride);
        qip_plpfParams params;
        qip_plpfParams_init(&params);
        params.factorX = params.factorY = factor;
        qimg_image_constructUnbound(&out);
        EXPECT_EQ(qip_plpf_smooth8_8(qimg_image_asConst(&in), &out, &params), QSRCH_OK);
        qimg_image_getLinearClientFromImageXform(&out, &xform);
        qimg_image_destruct(&in);
    }
    if (reducedToFrom) *reducedToFrom = xform;
    qimg_windowConst view;
    qimg_windowConst_init(&view, qimg_image_asConst(&out));
    Plane p = planeOf(view);
    qimg_image_destruct(&out);
    return p;
}

// Equal sizes and pixels; reports the first few differences.
inline void expectPlane(const qimg_windowConst& actual, const Plane& expected, const std::string& what)
{
    SCOPED_TRACE(what);
    ASSERT_EQ(std::make_pair(actual.width, actual.height), std::make_pair(expected.w, expected.h));
    for (int32_t y = 0, shown = 0; y < expected.h; ++y)
        for (int32_t x = 0; x < expected.w; ++x)
            if (at(actual, x, y) != expected(x, y) && shown++ < 4)
                ADD_FAILURE() << "(" << x << ", " << y << "): " << int(at(actual, x, y)) << " vs "
                              << int(expected(x, y));
}

}  // namespace qtest

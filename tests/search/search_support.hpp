// Shared by the top-level search suites: owned records, textured scenes, parameter records.
#pragma once

#include "run/run_support.hpp"
#include "search/search_internal.hpp"

namespace qtest {

template <class T, auto construct, auto destruct>
struct Record {
    T r;
    Record() { construct(&r); }
    ~Record() { EXPECT_EQ(destruct(&r), QSRCH_OK); }
    Record(const Record&) = delete;
    T* get() { return &r; }
    T* operator->() { return &r; }
};
using SearchModel = Record<qsrch_model, qsrch_model_construct, qsrch_model_destruct>;
using ResultSet = Record<qsrch_resultSet, qsrch_resultSet_construct, qsrch_resultSet_destruct>;
using Xform = Record<qmath_xformPtrhConst, qmath_xformPtrhConst_construct, qmath_xformPtrhConst_destruct>;

inline void scaleShift(Xform& x, double sx, double sy, double tx, double ty)
{
    qmath_xformLinear l;
    qmath_xformLinear_initScaleShift(&l, sx, sy, tx, ty);
    EXPECT_EQ(qmath_xformPtrhConst_setLinear(x.get(), &l), QSRCH_OK);
}

struct Identity : Xform {
    Identity() { scaleShift(*this, 1, 1, 0, 0); }
};

inline qmath_vect map(Xform& x, qmath_vect p)
{
    qmath_vect out{};
    EXPECT_EQ(qmath_xformPtrhConst_mapPoint(x.get(), &p, &out), QSRCH_OK);
    return out;
}

// Noise smoothed by a 3 x 3 box: seen by coarse levels, sharp for sub-pixel fits.
inline Image8 smoothTexture(std::mt19937& rng, int32_t w, int32_t h)
{
    Image8 noise(w, h), smooth(w, h);
    noise.randomize(rng);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int sum = 0, n = 0;
            for (int32_t j = std::max(0, y - 1); j <= std::min(h - 1, y + 1); ++j)
                for (int32_t i = std::max(0, x - 1); i <= std::min(w - 1, x + 1); ++i) sum += noise.at(i, j), ++n;
            smooth.at(x, y) = static_cast<uint8_t>(sum / n);
        }
    return smooth;
}

// Granularities from the caller (coarse, fine 1) unless coarse is 0.
inline qsrch_trainParams topTrainParams(int32_t coarse = 0, uint32_t useSurround = 0)
{
    qsrch_trainParams p;
    qsrch_trainParams_init(&p);
    p.useSurround = useSurround;
    if (coarse != 0) p.autoSelectGranularity = 0, p.coarseGranularity = coarse;
    return p;
}

inline qsrch_runParams topRunParams(int32_t numToFind = 1)
{
    qsrch_runParams p;
    qsrch_runParams_init(&p);
    return p.numToFind = numToFind, p;
}

// The image's view narrowed to a rectangle, which keeps its place in the image.
inline qimg_windowConst viewOf(const qimg_imageConst* image, int32_t x, int32_t y, int32_t w, int32_t h)
{
    qimg_windowConst v;
    EXPECT_EQ(qimg_windowConst_init(&v, image), QSRCH_OK);
    EXPECT_EQ(qimg_windowConst_window(&v, x, y, w, h, nullptr), QSRCH_OK);
    return v;
}

inline bool sameEntry(const qsrch_resultSetEntry& a, const qsrch_resultSetEntry& b)
{
    return a.accepted == b.accepted && a.point.x == b.point.x && a.point.y == b.point.y && a.score == b.score &&
           a.flags == b.flags;
}

}  // namespace qtest

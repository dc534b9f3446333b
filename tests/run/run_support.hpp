// Shared by the run suites: owned vectors, run parameters, grid textures.
#pragma once

#include <cmath>
#include <vector>

#include "model/model_support.hpp"
#include "run/run_internal.hpp"

namespace qtest {

// A vector of one of the library's vector families, owned by the test.
template <class V, class E, qsrch_status (*Construct)(V*), qsrch_status (*Destruct)(V*)>
struct Owned {
    V v;
    Owned() { EXPECT_EQ(Construct(&v), QSRCH_OK); }
    ~Owned() { Destruct(&v); }
    Owned(const Owned&) = delete;
    V* get() { return &v; }
    size_t size() const { return v.size; }
    const E& operator[](size_t i) const { return static_cast<const E*>(v.begin)[i]; }
};
using Results = Owned<qstd_vector_qsrch_normcorr_result, qsrch_normcorr_result,
                      &qstd_vector_qsrch_normcorr_result_constructEmpty, &qstd_vector_qsrch_normcorr_result_destruct>;
using Peaks = Owned<qstd_vector_qsrch_detectedPosePeak, qsrch_detectedPosePeak,
                    &qstd_vector_qsrch_detectedPosePeak_constructEmpty, &qstd_vector_qsrch_detectedPosePeak_destruct>;
using Levels = Owned<qstd_vector_qsrch_normcorr_level_, qsrch_normcorr_level_,
                     &qstd_vector_qsrch_normcorr_level__constructEmpty, &qstd_vector_qsrch_normcorr_level__destruct>;

inline qsrch_normcorr_runParams runParams(int32_t numToFind = 1, float confusion = 0.5f, float overlap = 1.0f,
                                          float accept = 0.3f)
{
    qsrch_normcorr_runParams p;
    EXPECT_EQ(qsrch_normcorr_runParams_init(&p), QSRCH_OK);
    p.numToFind = numToFind, p.confusionThreshold = confusion, p.overlapFraction = overlap, p.acceptThreshold = accept;
    return p;
}

// Random 6-pixel cells interpolated bilinearly, a little noise: scores fall off smoothly around a match.
inline Image8 gridTexture(std::mt19937& rng, int32_t w, int32_t h)
{
    const int32_t gw = w / 6 + 2;
    std::uniform_int_distribution<int> value(20, 235), noise(-6, 6);
    std::vector<double> grid(static_cast<size_t>(gw) * (h / 6 + 2));
    for (double& g : grid) g = value(rng);
    auto g = [&](int32_t i, int32_t j) { return grid[static_cast<size_t>(j) * gw + i]; };
    Image8 image(w, h, w + 7);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int32_t cx = x / 6, cy = y / 6;
            const double ax = x / 6.0 - cx, ay = y / 6.0 - cy;
            const double v = (1 - ay) * ((1 - ax) * g(cx, cy) + ax * g(cx + 1, cy)) +
                             ay * ((1 - ax) * g(cx, cy + 1) + ax * g(cx + 1, cy + 1));
            image.at(x, y) = static_cast<uint8_t>(std::clamp(int(v) + noise(rng), 0, 255));
        }
    return image;
}

// Copies the w x h block of `from` at (fx, fy) to (tx, ty) of `to`.
inline void paste(Image8& to, const Image8& from, int32_t fx, int32_t fy, int32_t w, int32_t h, int32_t tx,
                  int32_t ty)
{
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) to.at(tx + x, ty + y) = from.at(fx + x, fy + y);
}

}  // namespace qtest

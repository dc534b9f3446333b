// Shared by the run suites: run parameters, grid textures.
#pragma once

#include <cmath>
#include <vector>

#include "model/model_support.hpp"
#include "run/run_internal.hpp"

namespace qtest {

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

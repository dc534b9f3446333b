// Shared by the model suites: owned models and images, textured patterns, blob masks.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>

#include "model/model_internal.hpp"
#include "support/levels.hpp"

namespace qtest {

struct Model {
    qsrch_normcorr_model m;
    Model() { EXPECT_EQ(qsrch_normcorr_model_construct(&m), QSRCH_OK); }
    ~Model() { EXPECT_EQ(qsrch_normcorr_model_destruct(&m), QSRCH_OK); }
    Model(const Model&) = delete;
    qsrch_normcorr_model* get() { return &m; }
    const qsrch_normcorr_model& operator*() const { return m; }
    const qsrch_normcorr_model* operator->() const { return &m; }
};

inline const qsrch_normcorr_level_& level(const qsrch_normcorr_model& m, size_t i)
{
    return static_cast<const qsrch_normcorr_level_*>(m.levels.begin)[i];
}

inline bool trained(const qsrch_normcorr_model& m)
{
    uint32_t flag = 0;
    return qsrch_normcorr_model_getIsTrained(&m, &flag) == QSRCH_OK && flag != 0;
}

inline bool sameXform(const qmath_xformLinear& a, const qmath_xformLinear& b) { return !std::memcmp(&a, &b, sizeof a); }

// Untrained: default parameters, identity transforms, no level, no mask.
inline void expectUntrained(const qsrch_normcorr_model& m)
{
    qsrch_normcorr_trainParams d;
    qsrch_normcorr_trainParams_init(&d);
    EXPECT_TRUE(!trained(m) && m.levels.size == 0 && !std::memcmp(&m.trainParams, &d, sizeof d));
    EXPECT_FALSE(isBound(m.trainMask));
    EXPECT_TRUE(sameXform(m.clientFromPat, identity()) && sameXform(m.patFromClient, identity()));
}

// Random values: no level of a reasonably sized pattern is uniform.
inline Image8 texture(std::mt19937& rng, int32_t w, int32_t h, int32_t stride = -1)
{
    Image8 image(w, h, stride);
    return image.randomize(rng, 10, 245), image;
}

// An ellipse that survives reduction: care values 128..255 inside, 0..127 out.
inline Image8 blobMask(std::mt19937& rng, int32_t w, int32_t h)
{
    Image8 mask(w, h);
    std::uniform_int_distribution<int> care(128, 255), dontCare(0, 127);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const double dx = (x + 0.5) / w - 0.5, dy = (y + 0.5) / h - 0.5;
            mask.at(x, y) = static_cast<uint8_t>(dx * dx + dy * dy < 0.2 ? care(rng) : dontCare(rng));
        }
    return mask;
}

inline qsrch_normcorr_trainParams trainParams(uint32_t autoSelect, float coarse, int32_t fine = 1, uint32_t band = 0)
{
    qsrch_normcorr_trainParams p;
    qsrch_normcorr_trainParams_init(&p);
    p.autoSelectGranularity = autoSelect, p.coarseGranularity = coarse, p.fineGranularity = fine, p.useSurround = band;
    return p;
}

}  // namespace qtest

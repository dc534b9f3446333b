// Parameter records: defaults, validation order (NaN fails every range rule), conversions, equality.
#include <cmath>
#include <cstring>

#include "support/test_support.hpp"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();
using Change = void (*)(qsrch_normcorr_runParams&);
#define SET(...) [](qsrch_normcorr_runParams& p) { __VA_ARGS__; }

// Top-level granularities are powers of two, the normcorr coarse one any finite value of at least 1.
TEST(TrainParams, GranularityRulesInOrder)
{
    const qsrch_status ok = QSRCH_OK, bad = QSRCH_E_BAD_GRANULARITY, order = QSRCH_E_GRANULARITY_ORDER;
    const std::tuple<float, int32_t, uint32_t, qsrch_status, qsrch_status> cases[] = {  // top level, normcorr
        {64, 2, 1, ok, ok}, {3, 3, 1, bad, ok}, {1.5f, 1, 1, bad, ok}, {0.5f, 1, 1, bad, bad}, {kNaN, 1, 1, bad, bad},
        {kInf, 1, 1, bad, bad}, {4, 0, 1, bad, bad}, {4, 3, 1, bad, bad}, {4, 8, 1, order, order},
        {3, 8, 2, bad, order}, {4, 2, 2, QSRCH_E_BAD_ALGORITHM, ok}};
    qsrch_trainParams t;
    qsrch_normcorr_trainParams n;
    for (const auto& [coarse, fine, algorithm, topLevel, normcorr] : cases) {
        ASSERT_TRUE(qsrch_trainParams_init(&t) == QSRCH_OK && qsrch_normcorr_trainParams_init(&n) == QSRCH_OK);
        EXPECT_TRUE(t.coarseGranularity == 4 && n.coarseGranularity == 4.0f && n.trialThreshold == 0.25f);
        t.coarseGranularity = int32_t(coarse), t.fineGranularity = n.fineGranularity = fine;
        t.algorithm = algorithm, n.coarseGranularity = coarse;
        const bool whole = std::isfinite(coarse) && coarse == std::floor(coarse);  // the top level holds integers
        EXPECT_TRUE(!whole || qsrch_trainParams_validate(&t) == topLevel) << coarse << "/" << fine << "/" << algorithm;
        EXPECT_EQ(qsrch_normcorr_trainParams_validate(&n), normcorr) << coarse << "/" << fine;
    }
}

// The rules both run records share, in order, then the normcorr record's own.
TEST(RunParams, RulesInOrder)
{
    const qsrch_status accept = QSRCH_E_BAD_ACCEPT_THRESHOLD, above = QSRCH_E_ACCEPT_ABOVE_CONFUSION,
                       overlap = QSRCH_E_BAD_OVERLAP;
    const std::pair<Change, qsrch_status> cases[] = {
        {SET(p.acceptThreshold = p.confusionThreshold = p.overlapFraction = 1), QSRCH_OK},
        {SET(p.acceptThreshold = -0.1f), accept}, {SET(p.acceptThreshold = kNaN), accept},
        {SET(p.confusionThreshold = kNaN), QSRCH_E_BAD_CONFUSION_THRESHOLD},
        {SET(p.acceptThreshold = 0.6f), above}, {SET(p.numToFind = 0), QSRCH_E_BAD_NUM_TO_FIND},
        {SET(p.overlapFraction = 1.01f), overlap}, {SET(p.overlapFraction = kNaN), overlap},
        {SET(p.acceptThreshold = 0.6f, p.numToFind = 0, p.overlapFraction = kNaN), above},
        {SET(p.contrastMin = 0.5, p.contrastMax = 0.5, p.brightnessMax = 0), QSRCH_OK},
        {SET(p.contrastMin = kNaN), QSRCH_E_BAD_CONTRAST_MIN},
        {SET(p.contrastMin = 2, p.contrastMax = 1), QSRCH_E_CONTRAST_RANGE},
        {SET(p.brightnessMin = kNaN), QSRCH_E_BAD_BRIGHTNESS_MIN},
        {SET(p.brightnessMin = 2, p.brightnessMax = 1), QSRCH_E_BRIGHTNESS_RANGE}};
    qsrch_normcorr_runParams n;
    qsrch_runParams r;
    for (size_t k = 0; k < std::size(cases); ++k) {
        ASSERT_TRUE(qsrch_normcorr_runParams_init(&n) == QSRCH_OK && qsrch_runParams_init(&r) == QSRCH_OK);
        cases[k].first(n);
        r.acceptThreshold = n.acceptThreshold, r.confusionThreshold = n.confusionThreshold;
        r.numToFind = n.numToFind, r.overlapFraction = n.overlapFraction;
        EXPECT_EQ(qsrch_normcorr_runParams_validate(&n), cases[k].second) << "case " << k;
        EXPECT_EQ(qsrch_runParams_validate(&r), k < 9 ? cases[k].second : QSRCH_OK) << "case " << k;
    }
    EXPECT_EQ(qsrch_runParams_validate(&(r.algorithm = 0, r)), QSRCH_E_BAD_ALGORITHM);
}

// Conversions validate the source first, copy the shared fields and reset what the source does not have.
TEST(Params, DefaultsAndConversions)
{
    qsrch_normalizedCorrelationParams p;
    qsrch_trainParams t;
    qsrch_normcorr_trainParams n;
    qsrch_runParams r;
    qsrch_normcorr_runParams m, defaults;
    std::memset(&p, 0xFF, sizeof p), std::memset(&m, 0xFF, sizeof m);
    ASSERT_EQ(qsrch_normalizedCorrelationParams_init(&p) | qsrch_normcorr_runParams_init(&m), QSRCH_OK);
    EXPECT_TRUE(p.absoluteCorrelation + p.negativeCorrelation + p.shapeScoreOptimization + p.covarianceScore == 0 &&
                p.shapeThreshold == 128 && p.minCareFraction == 0.0f);
    EXPECT_TRUE(m.acceptThreshold == 0.3f && m.confusionThreshold == 0.5f && m.numToFind == 1 &&
                m.overlapFraction == 1.0f && m.searchRegion.width == 0 && m.searchRegionXform.matrix.a11 == 1.0);
    EXPECT_TRUE(m.adaptiveLevelThresholds + m.singlePositionScoring + m.limitLevelsToRegion + m.absoluteCorrelation +
                    m.shapeScoreOptimization == 0 && m.shapeThreshold == 128 && m.planeWeights[0] == 1.0);
    EXPECT_TRUE(m.contrastMin == 0 && std::isinf(m.contrastMax) && m.brightnessMin == 0 &&
                std::isinf(m.brightnessMax) && m.planeWeights[2] == 1.0);
    qsrch_trainParams_init(&t), qsrch_normcorr_trainParams_init(&n);
    t.coarseGranularity = 8, t.fineGranularity = 2, t.useSurround = t.autoSelectByTrial = 1, n.trialThreshold = 0.9f;
    ASSERT_EQ(qsrch_normcorr_trainParams_initFromTrainParams(&n, &t), QSRCH_OK);
    EXPECT_TRUE(n.coarseGranularity == 8.0f && n.fineGranularity == 2 && n.useSurround == 1u &&
                n.autoSelectByTrial == 1u && n.trialThreshold == 0.25f);
    t.algorithm = 7, n.trialThreshold = 0.9f;
    EXPECT_TRUE(qsrch_normcorr_trainParams_initFromTrainParams(&n, &t) == QSRCH_E_BAD_ALGORITHM &&
                n.trialThreshold == 0.9f);
    qsrch_runParams_init(&r), qsrch_normcorr_runParams_init(&defaults);
    r.acceptThreshold = defaults.acceptThreshold = 0.7f, r.confusionThreshold = defaults.confusionThreshold = 0.8f;
    r.numToFind = defaults.numToFind = 9, r.overlapFraction = defaults.overlapFraction = 0.25f;
    defaults.singlePositionScoring = 1, m.contrastMin = 3, m.planeWeights[1] = 0;
    uint32_t equal = 0;
    ASSERT_EQ(qsrch_normcorr_runParams_initFromRunParams(&m, &r), QSRCH_OK);
    EXPECT_TRUE(qsrch_normcorr_runParams_compareEqual(&m, &defaults, &equal) == QSRCH_OK && equal &&
                m.planeWeights[1] == 1.0);  // everything else as initialised
}

// Algorithm and plane weights take no part, NaN equals anything; any other field alone breaks equality.
TEST(RunParams, Equality)
{
    qsrch_runParams a, b;
    uint32_t equal = 7;
    qsrch_runParams_init(&a), qsrch_runParams_init(&b), b.algorithm = 3, a.overlapFraction = kNaN;
    EXPECT_TRUE(qsrch_runParams_compareEqual(&a, &b, &equal) == QSRCH_OK && equal == 1);
    const Change changes[] = {
        SET(p.planeWeights[0] = 5), SET(p.contrastMax = kNaN), SET(p.acceptThreshold = 0.1f),
        SET(p.confusionThreshold = 0.9f), SET(p.numToFind = 3), SET(p.overlapFraction = 0.5f),
        SET(p.adaptiveLevelThresholds = 1), SET(p.singlePositionScoring = 1), SET(p.limitLevelsToRegion = 1),
        SET(p.absoluteCorrelation = 1), SET(p.shapeScoreOptimization = 1), SET(p.shapeThreshold = 3),
        SET(p.contrastMin = 0.5), SET(p.brightnessMin = 0.5), SET(p.brightnessMax = 4),
        SET(p.searchRegionXform.trans.x = 1), SET(p.searchRegion.height = 10)};
    qsrch_normcorr_runParams m, c;
    qsrch_normcorr_runParams_init(&m);
    for (size_t k = 0; k < std::size(changes); ++k) {
        changes[k](c = m);
        EXPECT_TRUE(qsrch_normcorr_runParams_compareEqual(&c, &m, &(equal = 7)) == QSRCH_OK && equal == (k < 2))
            << "change " << k;
    }
}

}  // namespace

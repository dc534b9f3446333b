// Parameter records: defaults, validation order, conversions and equality.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "support/test_support.hpp"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(TrainParams, DefaultsValidate)
{
    qsrch_trainParams t;
    qsrch_normcorr_trainParams n;
    ASSERT_EQ(qsrch_trainParams_init(&t), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_trainParams_init(&n), QSRCH_OK);
    EXPECT_EQ(t.coarseGranularity, 4);
    EXPECT_EQ(n.coarseGranularity, 4.0f);
    EXPECT_EQ(n.trialThreshold, 0.25f);
    EXPECT_EQ(qsrch_trainParams_validate(&t), QSRCH_OK);
    EXPECT_EQ(qsrch_normcorr_trainParams_validate(&n), QSRCH_OK);
}

TEST(TrainParams, TopLevelGranularitiesArePowersOfTwo)
{
    struct Case {
        int32_t coarse, fine;
        uint32_t algorithm;
        qsrch_status expected;
    };
    const Case cases[] = {
        {1, 1, 1, QSRCH_OK},          {64, 2, 1, QSRCH_OK},
        {3, 1, 1, QSRCH_E_BAD_GRANULARITY},  {6, 1, 1, QSRCH_E_BAD_GRANULARITY},
        {0, 1, 1, QSRCH_E_BAD_GRANULARITY},  {-4, 1, 1, QSRCH_E_BAD_GRANULARITY},
        {4, 0, 1, QSRCH_E_BAD_GRANULARITY},  {4, 3, 1, QSRCH_E_BAD_GRANULARITY},
        {4, 8, 1, QSRCH_E_GRANULARITY_ORDER}, {4, 2, 2, QSRCH_E_BAD_ALGORITHM},
        {3, 8, 2, QSRCH_E_BAD_GRANULARITY},  // the first violated rule wins
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.coarse << "/" << c.fine << "/" << c.algorithm);
        qsrch_trainParams t;
        qsrch_trainParams_init(&t);
        t.coarseGranularity = c.coarse;
        t.fineGranularity = c.fine;
        t.algorithm = c.algorithm;
        EXPECT_EQ(qsrch_trainParams_validate(&t), c.expected);
    }
}

TEST(TrainParams, NormcorrCoarseGranularityNeedNotBeAPowerOfTwo)
{
    struct Case {
        float coarse;
        int32_t fine;
        qsrch_status expected;
    };
    const Case cases[] = {
        {3.0f, 1, QSRCH_OK},
        {3.0f, 3, QSRCH_OK},  // fine equal to coarse
        {1.5f, 1, QSRCH_OK},
        {4.0f, 8, QSRCH_E_GRANULARITY_ORDER},
        {4.0f, 0, QSRCH_E_BAD_GRANULARITY},
        {4.0f, 3, QSRCH_E_BAD_GRANULARITY},
        {0.5f, 1, QSRCH_E_BAD_GRANULARITY},
        {kNaN, 1, QSRCH_E_BAD_GRANULARITY},
        {std::numeric_limits<float>::infinity(), 1, QSRCH_E_BAD_GRANULARITY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.coarse << "/" << c.fine);
        qsrch_normcorr_trainParams n;
        qsrch_normcorr_trainParams_init(&n);
        n.coarseGranularity = c.coarse;
        n.fineGranularity = c.fine;
        EXPECT_EQ(qsrch_normcorr_trainParams_validate(&n), c.expected);
    }
}

TEST(TrainParams, ConversionValidatesAndResetsTrialThreshold)
{
    qsrch_trainParams t;
    qsrch_trainParams_init(&t);
    t.coarseGranularity = 8;
    t.fineGranularity = 2;
    t.useSurround = 1;
    t.autoSelectByTrial = 1;
    qsrch_normcorr_trainParams n;
    qsrch_normcorr_trainParams_init(&n);
    n.trialThreshold = 0.9f;
    ASSERT_EQ(qsrch_normcorr_trainParams_initFromTrainParams(&n, &t), QSRCH_OK);
    EXPECT_EQ(n.coarseGranularity, 8.0f);
    EXPECT_EQ(n.fineGranularity, 2);
    EXPECT_EQ(n.useSurround, 1u);
    EXPECT_EQ(n.autoSelectByTrial, 1u);
    EXPECT_EQ(n.trialThreshold, 0.25f);

    t.algorithm = 7;
    n.trialThreshold = 0.9f;
    EXPECT_EQ(qsrch_normcorr_trainParams_initFromTrainParams(&n, &t), QSRCH_E_BAD_ALGORITHM);
    EXPECT_EQ(n.trialThreshold, 0.9f);  // untouched on failure
}

// The run rules shared by both run records, applied to either.
template <class Run>
void checkCommonRunRules(const std::function<qsrch_status(const Run&)>& validate, const Run& defaults)
{
    struct Case {
        float accept, confusion;
        int32_t num;
        float overlap;
        qsrch_status expected;
    };
    const Case cases[] = {
        {1.0f, 1.0f, 1, 1.0f, QSRCH_OK},
        {0.0f, 0.0f, 5, 0.0f, QSRCH_OK},
        {-0.1f, 0.5f, 1, 1.0f, QSRCH_E_BAD_ACCEPT_THRESHOLD},
        {kNaN, 0.5f, 1, 1.0f, QSRCH_E_BAD_ACCEPT_THRESHOLD},
        {0.3f, 1.5f, 1, 1.0f, QSRCH_E_BAD_CONFUSION_THRESHOLD},
        {0.3f, kNaN, 1, 1.0f, QSRCH_E_BAD_CONFUSION_THRESHOLD},
        {0.6f, 0.5f, 1, 1.0f, QSRCH_E_ACCEPT_ABOVE_CONFUSION},
        {0.3f, 0.5f, 0, 1.0f, QSRCH_E_BAD_NUM_TO_FIND},
        {0.3f, 0.5f, 1, 1.01f, QSRCH_E_BAD_OVERLAP},
        {0.3f, 0.5f, 1, kNaN, QSRCH_E_BAD_OVERLAP},
        {0.6f, 0.5f, 0, kNaN, QSRCH_E_ACCEPT_ABOVE_CONFUSION},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.accept << "/" << c.confusion << "/" << c.num << "/" << c.overlap);
        Run r = defaults;
        r.acceptThreshold = c.accept;
        r.confusionThreshold = c.confusion;
        r.numToFind = c.num;
        r.overlapFraction = c.overlap;
        EXPECT_EQ(validate(r), c.expected);
    }
}

TEST(RunParams, CommonRulesInOrder)
{
    qsrch_runParams r;
    qsrch_runParams_init(&r);
    checkCommonRunRules<qsrch_runParams>([](const qsrch_runParams& p) { return qsrch_runParams_validate(&p); },
                                         r);
    r.algorithm = 0;
    EXPECT_EQ(qsrch_runParams_validate(&r), QSRCH_E_BAD_ALGORITHM);

    qsrch_normcorr_runParams n;
    ASSERT_EQ(qsrch_normcorr_runParams_init(&n), QSRCH_OK);
    checkCommonRunRules<qsrch_normcorr_runParams>(
        [](const qsrch_normcorr_runParams& p) { return qsrch_normcorr_runParams_validate(&p); }, n);
}

TEST(RunParams, ContrastAndBrightnessLimits)
{
    struct Case {
        double cMin, cMax, bMin, bMax;
        qsrch_status expected;
    };
    const double nan = std::nan("");
    const Case cases[] = {
        {0, 0, 0, kInf, QSRCH_OK},
        {0.5, 2, 1, 1, QSRCH_OK},
        {-1, kInf, 0, kInf, QSRCH_E_BAD_CONTRAST_MIN},
        {nan, kInf, 0, kInf, QSRCH_E_BAD_CONTRAST_MIN},
        {2, 1, 0, kInf, QSRCH_E_CONTRAST_RANGE},
        {0, kInf, -0.5, kInf, QSRCH_E_BAD_BRIGHTNESS_MIN},
        {0, kInf, nan, kInf, QSRCH_E_BAD_BRIGHTNESS_MIN},
        {0, kInf, 2, 1, QSRCH_E_BRIGHTNESS_RANGE},
    };
    for (const Case& c : cases) {
        qsrch_normcorr_runParams n;
        qsrch_normcorr_runParams_init(&n);
        n.contrastMin = c.cMin;
        n.contrastMax = c.cMax;
        n.brightnessMin = c.bMin;
        n.brightnessMax = c.bMax;
        EXPECT_EQ(qsrch_normcorr_runParams_validate(&n), c.expected)
            << c.cMin << " " << c.cMax << " " << c.bMin << " " << c.bMax;
    }
}

TEST(RunParams, ConversionCopiesTheCommonFieldsAndScoresSinglePositions)
{
    qsrch_runParams r;
    qsrch_runParams_init(&r);
    r.acceptThreshold = 0.7f;
    r.confusionThreshold = 0.8f;
    r.numToFind = 9;
    r.overlapFraction = 0.25f;
    qsrch_normcorr_runParams n;
    qsrch_normcorr_runParams_init(&n);
    n.contrastMin = 3;
    n.planeWeights[1] = 0;
    ASSERT_EQ(qsrch_normcorr_runParams_initFromRunParams(&n, &r), QSRCH_OK);
    EXPECT_EQ(n.acceptThreshold, 0.7f);
    EXPECT_EQ(n.numToFind, 9);
    EXPECT_EQ(n.overlapFraction, 0.25f);
    EXPECT_EQ(n.singlePositionScoring, 1u);
    EXPECT_EQ(n.contrastMin, 0.0);
    EXPECT_EQ(n.contrastMax, kInf);
    EXPECT_EQ(n.planeWeights[1], 1.0);
    EXPECT_EQ(n.shapeThreshold, 128);
    EXPECT_EQ(n.searchRegionXform.matrix.a11, 1.0);
    EXPECT_EQ(n.searchRegion.width, 0.0);
}

TEST(RunParams, EqualityIgnoresAlgorithmAndPlaneWeightsAndTreatsNaNAsEqual)
{
    qsrch_runParams a, b;
    qsrch_runParams_init(&a);
    qsrch_runParams_init(&b);
    uint32_t equal = 7;
    b.algorithm = 3;
    a.overlapFraction = kNaN;
    ASSERT_EQ(qsrch_runParams_compareEqual(&a, &b, &equal), QSRCH_OK);
    EXPECT_EQ(equal, 1u);
    b.numToFind = 2;
    qsrch_runParams_compareEqual(&a, &b, &equal);
    EXPECT_EQ(equal, 0u);

    qsrch_normcorr_runParams n, m;
    qsrch_normcorr_runParams_init(&n);
    qsrch_normcorr_runParams_init(&m);
    m.planeWeights[0] = 5;
    n.contrastMax = std::nan("");
    qsrch_normcorr_runParams_compareEqual(&n, &m, &equal);
    EXPECT_EQ(equal, 1u);

    // Each compared field, changed alone, breaks equality.
    const std::function<void(qsrch_normcorr_runParams&)> changes[] = {
        [](auto& p) { p.acceptThreshold = 0.1f; },     [](auto& p) { p.confusionThreshold = 0.9f; },
        [](auto& p) { p.numToFind = 3; },             [](auto& p) { p.overlapFraction = 0.5f; },
        [](auto& p) { p.adaptiveLevelThresholds = 1; }, [](auto& p) { p.singlePositionScoring = 1; },
        [](auto& p) { p.limitLevelsToRegion = 1; },     [](auto& p) { p.absoluteCorrelation = 1; },
        [](auto& p) { p.shapeScoreOptimization = 1; },  [](auto& p) { p.shapeThreshold = 3; },
        [](auto& p) { p.contrastMin = 0.5; },           [](auto& p) { p.brightnessMin = 0.5; },
        [](auto& p) { p.brightnessMax = 4; },           [](auto& p) { p.searchRegionXform.trans.x = 1; },
        [](auto& p) { p.searchRegion.height = 10; },
    };
    for (size_t k = 0; k < std::size(changes); ++k) {
        qsrch_normcorr_runParams c = m;
        changes[k](c);
        equal = 7;
        EXPECT_EQ(qsrch_normcorr_runParams_compareEqual(&c, &m, &equal), QSRCH_OK);
        EXPECT_EQ(equal, 0u) << "change " << k;
    }
}

TEST(CorrelationParams, Defaults)
{
    qsrch_normalizedCorrelationParams p;
    std::memset(&p, 0xFF, sizeof p);
    ASSERT_EQ(qsrch_normalizedCorrelationParams_init(&p), QSRCH_OK);
    EXPECT_EQ(p.absoluteCorrelation + p.negativeCorrelation + p.shapeScoreOptimization + p.covarianceScore, 0u);
    EXPECT_EQ(p.shapeThreshold, 128);
    EXPECT_EQ(p.minCareFraction, 0.0f);
}

}  // namespace

// Parameter records: defaults, validation (the first violated rule wins),
// conversion from the top-level records, and equality.
#include <qsrch/params.h>

#include <cmath>
#include <limits>

#include "frame/status.hpp"

namespace {

// Floats compare equal unless one is ordered below or above the other, so
// a NaN matches anything.
template <class T>
bool sameNumber(T a, T b)
{
    return !(a < b) && !(a > b);
}

// x within [0, 1]; NaN is outside.
bool unitRange(float x) { return x >= 0.0f && x <= 1.0f; }

bool isPowerOfTwo(int32_t n)
{
    // Halving loop of the definition, written as the equivalent bit test.
    return n > 0 && (n & (n - 1)) == 0;
}

// A top-level granularity: 1, or even with a power-of-two half.
bool validTopLevelGranularity(int32_t g)
{
    return g >= 1 && (g == 1 || (g % 2 == 0 && isPowerOfTwo(g / 2)));
}

qsrch::Status validateCommonRun(float accept, float confusion, int32_t numToFind, float overlap)
{
    if (!unitRange(accept)) return QSRCH_E_BAD_ACCEPT_THRESHOLD;
    if (!unitRange(confusion)) return QSRCH_E_BAD_CONFUSION_THRESHOLD;
    if (accept > confusion) return QSRCH_E_ACCEPT_ABOVE_CONFUSION;
    if (numToFind < 1) return QSRCH_E_BAD_NUM_TO_FIND;
    if (!unitRange(overlap)) return QSRCH_E_BAD_OVERLAP;
    return QSRCH_OK;
}

template <class Run>
bool sameCommonRun(const Run& a, const Run& b)
{
    return sameNumber(a.acceptThreshold, b.acceptThreshold) &&
           sameNumber(a.confusionThreshold, b.confusionThreshold) && a.numToFind == b.numToFind &&
           sameNumber(a.overlapFraction, b.overlapFraction);
}

}  // namespace

extern "C" {

qsrch_status qsrch_trainParams_init(qsrch_trainParams* p)
{
    *p = qsrch_trainParams{1, 0, 4, 1, 1, 0};
    return QSRCH_OK;
}

qsrch_status qsrch_trainParams_validate(const qsrch_trainParams* p)
{
    if (!validTopLevelGranularity(p->coarseGranularity)) return QSRCH_E_BAD_GRANULARITY;
    if (!validTopLevelGranularity(p->fineGranularity)) return QSRCH_E_BAD_GRANULARITY;
    if (p->fineGranularity > p->coarseGranularity) return QSRCH_E_GRANULARITY_ORDER;
    if (p->algorithm != 1) return QSRCH_E_BAD_ALGORITHM;
    return QSRCH_OK;
}

qsrch_status qsrch_normcorr_trainParams_init(qsrch_normcorr_trainParams* p)
{
    *p = qsrch_normcorr_trainParams{1, 0, 4.0f, 1, 0, 0.25f};
    return QSRCH_OK;
}

qsrch_status qsrch_normcorr_trainParams_validate(const qsrch_normcorr_trainParams* p)
{
    // A coarse granularity must be a finite number of at least 1: NaN and
    // +infinity would leave the pyramid without a last level.
    const float coarse = p->coarseGranularity;
    if (!(coarse >= 1.0f) || !std::isfinite(coarse)) return QSRCH_E_BAD_GRANULARITY;
    const float fine = static_cast<float>(p->fineGranularity);
    if (!isPowerOfTwo(p->fineGranularity) && !(fine == coarse)) return QSRCH_E_BAD_GRANULARITY;
    if (fine > coarse) return QSRCH_E_GRANULARITY_ORDER;
    return QSRCH_OK;
}

qsrch_status qsrch_normcorr_trainParams_initFromTrainParams(qsrch_normcorr_trainParams* dst,
                                                            const qsrch_trainParams* src)
{
    QSRCH_RETURN_IF_ERROR(qsrch_trainParams_validate(src));
    dst->autoSelectGranularity = src->autoSelectGranularity;
    dst->autoSelectByTrial = src->autoSelectByTrial;
    dst->coarseGranularity = static_cast<float>(src->coarseGranularity);
    dst->fineGranularity = src->fineGranularity;
    dst->useSurround = src->useSurround;
    dst->trialThreshold = 0.25f;
    return QSRCH_OK;
}

qsrch_status qsrch_runParams_init(qsrch_runParams* p)
{
    *p = qsrch_runParams{0.3f, 0.5f, 1, 1.0f, 1};
    return QSRCH_OK;
}

qsrch_status qsrch_runParams_validate(const qsrch_runParams* p)
{
    QSRCH_RETURN_IF_ERROR(
        validateCommonRun(p->acceptThreshold, p->confusionThreshold, p->numToFind, p->overlapFraction));
    if (p->algorithm != 1) return QSRCH_E_BAD_ALGORITHM;
    return QSRCH_OK;
}

qsrch_status qsrch_runParams_compareEqual(const qsrch_runParams* a, const qsrch_runParams* b,
                                          uint32_t* equalOut)
{
    *equalOut = sameCommonRun(*a, *b) ? 1u : 0u;
    return QSRCH_OK;
}

qsrch_status qsrch_normcorr_runParams_init(qsrch_normcorr_runParams* p)
{
    const double infinity = std::numeric_limits<double>::infinity();
    p->acceptThreshold = 0.3f;
    p->confusionThreshold = 0.5f;
    p->numToFind = 1;
    p->overlapFraction = 1.0f;
    QSRCH_RETURN_IF_ERROR(qmath_xformLinear_initIdentity(&p->searchRegionXform));
    QSRCH_RETURN_IF_ERROR(qstd_rectD_init(&p->searchRegion, 0, 0, 0, 0));
    p->adaptiveLevelThresholds = 0;
    p->singlePositionScoring = 0;
    p->limitLevelsToRegion = 0;
    p->absoluteCorrelation = 0;
    p->contrastMin = 0.0;
    p->contrastMax = infinity;
    p->brightnessMin = 0.0;
    p->brightnessMax = infinity;
    p->shapeScoreOptimization = 0;
    p->shapeThreshold = 128;
    p->planeWeights[0] = p->planeWeights[1] = p->planeWeights[2] = 1.0;
    return QSRCH_OK;
}

qsrch_status qsrch_normcorr_runParams_initFromRunParams(qsrch_normcorr_runParams* dst,
                                                        const qsrch_runParams* src)
{
    qsrch_status s = qsrch_normcorr_runParams_init(dst);
    dst->acceptThreshold = src->acceptThreshold;
    dst->confusionThreshold = src->confusionThreshold;
    dst->numToFind = src->numToFind;
    dst->overlapFraction = src->overlapFraction;
    dst->singlePositionScoring = 1;
    return s;
}

qsrch_status qsrch_normcorr_runParams_validate(const qsrch_normcorr_runParams* p)
{
    QSRCH_RETURN_IF_ERROR(
        validateCommonRun(p->acceptThreshold, p->confusionThreshold, p->numToFind, p->overlapFraction));
    if (!(p->contrastMin >= 0.0)) return QSRCH_E_BAD_CONTRAST_MIN;
    if (p->contrastMin > p->contrastMax) return QSRCH_E_CONTRAST_RANGE;
    if (!(p->brightnessMin >= 0.0)) return QSRCH_E_BAD_BRIGHTNESS_MIN;
    if (p->brightnessMin > p->brightnessMax) return QSRCH_E_BRIGHTNESS_RANGE;
    return QSRCH_OK;
}

qsrch_status qsrch_normcorr_runParams_compareEqual(const qsrch_normcorr_runParams* a,
                                                   const qsrch_normcorr_runParams* b,
                                                   uint32_t* equalOut)
{
    *equalOut = 0;
    const bool samePlain =
        sameCommonRun(*a, *b) && a->adaptiveLevelThresholds == b->adaptiveLevelThresholds &&
        a->singlePositionScoring == b->singlePositionScoring &&
        a->limitLevelsToRegion == b->limitLevelsToRegion &&
        a->absoluteCorrelation == b->absoluteCorrelation &&
        a->shapeScoreOptimization == b->shapeScoreOptimization &&
        a->shapeThreshold == b->shapeThreshold && sameNumber(a->contrastMin, b->contrastMin) &&
        sameNumber(a->contrastMax, b->contrastMax) && sameNumber(a->brightnessMin, b->brightnessMin) &&
        sameNumber(a->brightnessMax, b->brightnessMax);
    if (!samePlain) return QSRCH_OK;
    // The plane weights take no part: they weight a search, they do not
    // change which search it is.
    uint32_t sameXform = 0;
    qsrch_status s = qmath_xformLinear_compareEqual(&a->searchRegionXform, &b->searchRegionXform, &sameXform);
    if (QSRCH_FAILED(s) || sameXform == 0) return s;
    return qstd_rectD_compareEqual(&a->searchRegion, &b->searchRegion, equalOut);
}

qsrch_status qsrch_normalizedCorrelationParams_init(qsrch_normalizedCorrelationParams* p)
{
    *p = qsrch_normalizedCorrelationParams{0, 0, 0, 0, 128, 0.0f};
    return QSRCH_OK;
}

}  // extern "C"

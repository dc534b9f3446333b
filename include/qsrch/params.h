/* qsrch: parameter records of training, searching and one correlation. */
#ifndef QSRCH_PARAMS_H
#define QSRCH_PARAMS_H

#include "../qmath/qmath.h"
#include "../qstd/qstd.h"
#include "frame.h"

QSIB_EXTERN_C_BEGIN

/* Training parameters of the top-level interface. */
typedef struct qsrch_trainParams {
    uint32_t autoSelectGranularity; /* 1: training chooses the granularities */
    uint32_t autoSelectByTrial;     /* with the above: choose by trial searches */
    int32_t coarseGranularity;      /* 4; a power of two */
    int32_t fineGranularity;        /* 1; a power of two, at most coarse */
    uint32_t algorithm;             /* 1, normalized correlation, the only one */
    uint32_t useSurround;           /* 0; reduce level 1 with a surrounding band */
} qsrch_trainParams;

/* Training parameters of the normalized-correlation interface. */
typedef struct qsrch_normcorr_trainParams {
    uint32_t autoSelectGranularity; /* 1 */
    uint32_t autoSelectByTrial;     /* 0 */
    float coarseGranularity;        /* 4.0; at least 1, any value */
    int32_t fineGranularity;        /* 1 */
    uint32_t useSurround;           /* 0 */
    float trialThreshold;           /* 0.25; used by granularity selection by trial */
} qsrch_normcorr_trainParams;

/* Run parameters of the top-level interface. */
typedef struct qsrch_runParams {
    float acceptThreshold;    /* 0.3: a result scoring at least this is accepted */
    float confusionThreshold; /* 0.5: a result scoring at least this is certain */
    int32_t numToFind;        /* 1 */
    float overlapFraction;    /* 1.0 (no overlap test): largest overlap of two results */
    uint32_t algorithm;       /* 1 */
} qsrch_runParams;

/* Run parameters of the normalized-correlation interface. */
typedef struct qsrch_normcorr_runParams {
    float acceptThreshold;              /* 0.3 */
    float confusionThreshold;           /* 0.5 */
    int32_t numToFind;                  /* 1 */
    float overlapFraction;              /* 1.0 */
    qmath_xformLinear searchRegionXform; /* identity */
    qstd_rectD searchRegion;            /* (0, 0, 0, 0): no region */
    uint32_t adaptiveLevelThresholds;   /* 0 */
    uint32_t singlePositionScoring;     /* 0 (1 after initFromRunParams) */
    uint32_t limitLevelsToRegion;       /* 0 */
    uint32_t absoluteCorrelation;       /* 0 */
    double contrastMin;                 /* 0 */
    double contrastMax;                 /* +infinity */
    double brightnessMin;               /* 0 */
    double brightnessMax;               /* +infinity */
    double planeWeights[3];             /* 1, 1, 1 */
    uint32_t shapeScoreOptimization;    /* 0 */
    uint8_t shapeThreshold;             /* 128 */
} qsrch_normcorr_runParams;

/* Options of one correlation or peak computation. */
typedef struct qsrch_normalizedCorrelationParams {
    uint32_t absoluteCorrelation;    /* 0: the score ignores the sign of the correlation */
    uint32_t negativeCorrelation;    /* 0: only an inverted match scores */
    uint32_t shapeScoreOptimization; /* 0: offer refined peaks the shape score */
    uint32_t covarianceScore;        /* 0: covariance over the pattern's deviation, not r^2 */
    uint8_t shapeThreshold;          /* 128: foreground level of the shape score */
    float minCareFraction;           /* 0: share of the care count a peak must keep */
} qsrch_normalizedCorrelationParams;

QSRCH_API qsrch_status qsrch_trainParams_init(qsrch_trainParams* p);
QSRCH_API qsrch_status qsrch_trainParams_validate(const qsrch_trainParams* p);
QSRCH_API qsrch_status qsrch_runParams_init(qsrch_runParams* p);
QSRCH_API qsrch_status qsrch_runParams_validate(const qsrch_runParams* p);
QSRCH_API qsrch_status qsrch_runParams_compareEqual(const qsrch_runParams* a,
                                                    const qsrch_runParams* b,
                                                    uint32_t* equalOut);
QSRCH_API qsrch_status qsrch_normcorr_trainParams_init(qsrch_normcorr_trainParams* p);
/* Validates src first and leaves dst untouched when it fails. */
QSRCH_API qsrch_status qsrch_normcorr_trainParams_initFromTrainParams(
    qsrch_normcorr_trainParams* dst, const qsrch_trainParams* src);
QSRCH_API qsrch_status qsrch_normcorr_trainParams_validate(const qsrch_normcorr_trainParams* p);
QSRCH_API qsrch_status qsrch_normcorr_runParams_init(qsrch_normcorr_runParams* p);
/* Does not validate src; turns single-position scoring on. */
QSRCH_API qsrch_status qsrch_normcorr_runParams_initFromRunParams(qsrch_normcorr_runParams* dst,
                                                                  const qsrch_runParams* src);
QSRCH_API qsrch_status qsrch_normcorr_runParams_validate(const qsrch_normcorr_runParams* p);
QSRCH_API qsrch_status qsrch_normcorr_runParams_compareEqual(const qsrch_normcorr_runParams* a,
                                                             const qsrch_normcorr_runParams* b,
                                                             uint32_t* equalOut);
QSRCH_API qsrch_status qsrch_normalizedCorrelationParams_init(
    qsrch_normalizedCorrelationParams* p);

QSIB_EXTERN_C_END

#endif

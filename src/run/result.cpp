// The result record of a normalized-correlation search and the vector
// families that hold results and vectors of them.
#include <qsrch/run.h>

#include "frame/vector_family.hpp"
#include "frame/status.hpp"

extern "C" {

qsrch_status qsrch_normcorr_result_init(qsrch_normcorr_result* result)
{
    // The pose comes first: a failure leaves the other fields as they were.
    QSRCH_RETURN_IF_ERROR(qmath_xformLinear_initIdentity(&result->pose));
    result->accepted = 0;
    result->score = 0.0f;
    result->flags = 0;
    result->contrast = 0.0;
    result->brightness = 0.0;
    return QSRCH_OK;
}

}  // extern "C"

// Results are plain data once initialised: copied, assigned and dropped as bytes.
QSRCH_DEFINE_VECTOR_FAMILY(qsrch_normcorr_result,
                           (&qsrch::elementTable<qsrch_normcorr_result, &qsrch_normcorr_result_init, nullptr,
                                                 nullptr, nullptr>))

QSRCH_DEFINE_VECTOR_FAMILY_OF(vector_qsrch_normcorr_result, qstd_vector_qsrch_normcorr_result,
                              &qsrch::vectorOfVectorsTable<&qstd_vector_qsrch_normcorr_result_constructEmpty>)

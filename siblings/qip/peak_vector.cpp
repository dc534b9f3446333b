// Vectors of qip_detectedPeak, the peak detector's output: plain records in
// the generic vector, no element operations.
#include <qip/qip.h>

extern "C" {

qsys_status qstd_vector_qip_detectedPeak_construct(qstd_vector_* v, size_t count)
{
    return qstd_vector__constructWithVtable(v, count, sizeof(qip_detectedPeak), nullptr);
}

qsys_status qstd_vector_qip_detectedPeak_destruct(qstd_vector_* v) { return qstd_vector__destruct(v); }

qsys_status qstd_vector_qip_detectedPeak_getBeginSizeConst(const qstd_vector_* v,
                                                           const qip_detectedPeak** firstOut, uint32_t* sizeOut)
{
    return qstd_vector__getBeginSize32Const(v, firstOut, sizeOut);
}

}  // extern "C"

// The vector family of pose peaks: plain records, copied bytewise, so the
// family has no element-operations table.
#include <qsrch/peaks.h>

#include "frame/vector_family.hpp"

QSRCH_DEFINE_VECTOR_FAMILY(qsrch_detectedPosePeak, nullptr)

/* qprt: the run-time switch that forbids optimized kernel paths. */
#ifndef QPRT_QPRT_H
#define QPRT_QPRT_H

#include "../qsys/qsys_base.h"

QSIB_EXTERN_C_BEGIN

/* Asked with a kernel's UTF-16, zero-terminated switch name (for example
 * u"qsrch_innerProducts"); a non-zero answer forbids that kernel's optimized
 * path for the call. */
typedef int32_t (*qprt_inhibitQuery)(const uint16_t* name);

/* NULL (the default) allows every optimized path. Set it from one thread
 * while no kernel runs; kernels read it on every call. */
extern QSIB_API_NO_STATUS qprt_inhibitQuery qprt_isOptimizationInhibitedFP;

QSIB_EXTERN_C_END

#endif

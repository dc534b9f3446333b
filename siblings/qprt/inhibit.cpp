#include <qprt/qprt.h>

extern "C" {
QSIB_API qprt_inhibitQuery qprt_isOptimizationInhibitedFP = nullptr;
}

// Choice between a kernel's optimized and generic implementations, made on
// every call: the client's inhibit query may forbid the optimized path by
// name, and an optimized path may decline its inputs; in both cases (any
// status whose bits 5..15 read 0x600) the generic path runs.
#pragma once

#include <qprt/qprt.h>
#include <qsrch/frame.h>

#include "frame/status.hpp"

namespace qsrch {

inline bool inhibited(const char16_t* name)
{
    qprt_inhibitQuery query = qprt_isOptimizationInhibitedFP;
    return query != nullptr && query(reinterpret_cast<const uint16_t*>(name)) != 0;
}

inline bool declinedOptimizedPath(qsys_status s) { return statusFamily(s) == 0x600u; }

template <class Optimized, class Generic>
Status dispatch(const char16_t* name, Optimized&& optimized, Generic&& generic)
{
    const qsys_status status = inhibited(name) ? QSRCH_E_NO_OPTIMIZED_PATH : qsys_status{optimized()};
    return declinedOptimizedPath(status) ? Status{generic()} : Status{status};
}

// The optimized variant of kernels that have none yet.
inline Status noOptimizedPath() { return QSRCH_E_NO_OPTIMIZED_PATH; }

}  // namespace qsrch

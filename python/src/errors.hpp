// Failure statuses of the library as Python exceptions: the qsrch.Error
// subclass that fits the code (ParameterError for a parameter out of range,
// and so on; see qsrch/_errors.py), carrying the code and its name.
#pragma once

#include <string>

#include <qsrch/frame.h>

namespace qpy {

// `doing` says what failed, e.g. "find".
[[noreturn]] void raiseStatus(qsrch_status status, const std::string& doing);

inline void check(qsrch_status status, const char* doing)
{
    if (QSRCH_FAILED(status)) raiseStatus(status, doing);
}

}  // namespace qpy

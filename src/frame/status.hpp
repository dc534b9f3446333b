// The status inside the library, and the one way a failure is passed up.
//
// Internal functions return Status, which may not be dropped: a call that
// ignores one does not compile unless it says so with (void). The library's
// build gives the C declarations of its own and its services' functions the
// same rule (QSRCH_CHECK_STATUS in qsys_base.h).
#pragma once

#include <cstdint>

#include <qsys/qsys_base.h>

namespace qsrch {

class [[nodiscard]] Status {
public:
    constexpr Status(qsys_status code = QSYS_OK) noexcept : code_(code) {}
    constexpr operator qsys_status() const noexcept { return code_; }

private:
    qsys_status code_;
};

constexpr bool failed(qsys_status s) { return s < 0; }

// Codes of one family share bits 5 to 15: the library's own (0xA00 to
// 0xA1F), the optimized path's refusals (0x600 to 0x61F).
constexpr uint32_t kStatusFamilyMask = 0xFFE0u;
constexpr uint32_t statusFamily(qsys_status s) { return static_cast<uint32_t>(s) & kStatusFamilyMask; }

}  // namespace qsrch

// Returns the status of expr from the calling function when it is a failure.
// In a function with a call frame, pass the step through frame.track() so the
// frame's cleanup sees the failure.
#define QSRCH_RETURN_IF_ERROR(expr)                             \
    do {                                                        \
        const ::qsrch::Status qsrchStatus_ = (expr);            \
        if (::qsrch::failed(qsrchStatus_)) return qsrchStatus_; \
    } while (0)

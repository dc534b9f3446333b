/* qsrch: status codes, version and the export macro. */
#ifndef QSRCH_FRAME_H
#define QSRCH_FRAME_H

#include "../qsys/qsys.h"

#ifndef QSRCH_API
#  define QSRCH_API QSIB_MUST_USE_ QSIB_VISIBLE_
#endif

#define QSRCH_VERSION_MAJOR 0
#define QSRCH_VERSION_MINOR 1
#define QSRCH_VERSION_PATCH 0
#define QSRCH_VERSION_NUMBER \
    (QSRCH_VERSION_MAJOR * 10000 + QSRCH_VERSION_MINOR * 100 + QSRCH_VERSION_PATCH)

QSIB_EXTERN_C_BEGIN

/* Every function returns a 32-bit status: 0 on success, negative (bit 31
 * set) on failure. These values never change. */
typedef qsys_status qsrch_status;

#define QSRCH_OK                         0
#define QSRCH_FAILED(s)                  QSYS_FAILED(s)
#define QSRCH_E_NO_OPTIMIZED_PATH        QSYS_STATUS(0x80000601u)
#define QSRCH_E_BAD_GRANULARITY          QSYS_STATUS(0x80000A01u)
#define QSRCH_E_GRANULARITY_ORDER        QSYS_STATUS(0x80000A02u)
#define QSRCH_E_BAD_ALGORITHM            QSYS_STATUS(0x80000A03u)
#define QSRCH_E_BAD_ACCEPT_THRESHOLD     QSYS_STATUS(0x80000A04u)
#define QSRCH_E_BAD_CONFUSION_THRESHOLD  QSYS_STATUS(0x80000A05u)
#define QSRCH_E_ACCEPT_ABOVE_CONFUSION   QSYS_STATUS(0x80000A06u)
#define QSRCH_E_BAD_NUM_TO_FIND          QSYS_STATUS(0x80000A07u)
#define QSRCH_E_BAD_OVERLAP              QSYS_STATUS(0x80000A08u)
#define QSRCH_E_IMAGE_UNBOUND            QSYS_STATUS(0x80000A09u)
#define QSRCH_E_NO_CONTRAST              QSYS_STATUS(0x80000A0Au)
#define QSRCH_E_NOT_TRAINED              QSYS_STATUS(0x80000A0Bu)
#define QSRCH_E_PATTERN_TOO_SMALL        QSYS_STATUS(0x80000A0Cu)
#define QSRCH_E_IMAGE_TOO_SMALL          QSYS_STATUS(0x80000A0Du)
#define QSRCH_E_NONLINEAR_XFORM          QSYS_STATUS(0x80000A0Eu)
#define QSRCH_E_BAD_CONTRAST_MIN         QSYS_STATUS(0x80000A0Fu)
#define QSRCH_E_NO_GRANULARITY           QSYS_STATUS(0x80000A10u)
#define QSRCH_E_CONTRAST_RANGE           QSYS_STATUS(0x80000A11u)
#define QSRCH_E_BAD_BRIGHTNESS_MIN       QSYS_STATUS(0x80000A12u)
#define QSRCH_E_BRIGHTNESS_RANGE         QSYS_STATUS(0x80000A13u)
#define QSRCH_E_PATTERN_TOO_LARGE        QSYS_STATUS(0x80000A14u)

/* The name of a status code ("QSRCH_E_BAD_OVERLAP", "QSYS_E_NO_MEMORY",
 * "QSRCH_OK"), or "unknown status" for a code neither library produces.
 * The string is static. */
QSRCH_API const char* qsrch_statusName(qsrch_status status);

/* The library's version as QSRCH_VERSION_NUMBER computes it, so a client can
 * compare the library it runs with the header it was built against. */
QSRCH_API uint32_t qsrch_versionNumber(void);

QSIB_EXTERN_C_END

#endif

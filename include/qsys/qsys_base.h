/* Common ground of the q* sibling libraries: the status type, the export
 * macro and the status conventions shared by qsys, qstd, qimg, qmath, qip,
 * qprt and qsrch. */
#ifndef QSYS_BASE_H
#define QSYS_BASE_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  define QSIB_VISIBLE_ __declspec(dllexport)
#elif defined(__GNUC__)
#  define QSIB_VISIBLE_ __attribute__((visibility("default")))
#else
#  define QSIB_VISIBLE_
#endif

/* Inside the qsrch library (built with QSRCH_CHECK_STATUS) a call that drops
 * a returned status does not compile; one ignored on purpose is written
 * (void). Clients are not held to this. */
#if defined(__cplusplus) && defined(QSRCH_CHECK_STATUS)
#  define QSIB_MUST_USE_ [[nodiscard]]
#else
#  define QSIB_MUST_USE_
#endif

#ifndef QSIB_API
#  define QSIB_API QSIB_MUST_USE_ QSIB_VISIBLE_
#endif
/* The few exports that return no status: void functions, a variable. */
#ifndef QSIB_API_NO_STATUS
#  if defined(__cplusplus) && defined(QSRCH_CHECK_STATUS)
#    define QSIB_API_NO_STATUS QSIB_VISIBLE_
#  else
#    define QSIB_API_NO_STATUS QSIB_API
#  endif
#endif

#ifdef __cplusplus
#  define QSIB_EXTERN_C_BEGIN extern "C" {
#  define QSIB_EXTERN_C_END }
#else
#  define QSIB_EXTERN_C_BEGIN
#  define QSIB_EXTERN_C_END
#endif

/* A status is a 32-bit value: 0 for success, bit 31 set for failure.
 * Test failure with QSYS_FAILED(s) (the status is negative as int32_t). */
typedef int32_t qsys_status;

#define QSYS_STATUS(code) ((qsys_status)(int32_t)(uint32_t)(code))
#define QSYS_FAILED(s) ((int32_t)(s) < 0)
#define QSYS_OK 0

/* Codes of the sibling stand-ins. They pass through qsrch unchanged. */
#define QSYS_E_NO_MEMORY       QSYS_STATUS(0x80000101u) /* allocation failed */
#define QSYS_E_ABORTED         QSYS_STATUS(0x80000102u) /* attention: stop requested */
#define QSYS_E_BAD_ARGUMENT    QSYS_STATUS(0x80000103u) /* size, count or mode out of range */
#define QSYS_E_OUT_OF_RANGE    QSYS_STATUS(0x80000104u) /* index past the end of a vector */
#define QIMG_E_BAD_DEPTH       QSYS_STATUS(0x80000201u) /* depth code not 1, 2 or 8 */
#define QIMG_E_BAD_SIZE        QSYS_STATUS(0x80000202u) /* negative size or stride below width */
#define QIMG_E_UNBOUND         QSYS_STATUS(0x80000203u) /* operation needs pixels */
#define QIMG_E_SIZE_MISMATCH   QSYS_STATUS(0x80000204u) /* images of different sizes */
#define QMATH_E_SINGULAR       QSYS_STATUS(0x80000301u) /* transform has no inverse */
#define QMATH_E_NOT_LINEAR     QSYS_STATUS(0x80000302u) /* linear form asked of a non-linear transform */
#define QMATH_E_EMPTY          QSYS_STATUS(0x80000303u) /* transform handle holds no transform */

#endif

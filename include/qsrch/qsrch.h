/* qsrch: pattern search by normalized correlation. This header gives a
 * client the whole interface, with the image, math and system services it
 * is built on. */
#ifndef QSRCH_QSRCH_H
#define QSRCH_QSRCH_H

#include "../qip/qip.h"
#include "../qimg/qimg.h"
#include "../qmath/qmath.h"
#include "../qprt/qprt.h"
#include "../qstd/qstd.h"
#include "../qsys/qsys.h"

#include "frame.h"
#include "kernels.h"
#include "params.h"
#include "scoring.h"
#include "three_plane.h"
#include "vectors.h"
#include "peaks.h"
#include "pyramid.h"
#include "model.h"
#include "run.h"
#include "search.h"

#endif

// Sliding image sums, SSE2 twins of kernels/generic/sliding_sums: the same
// arguments and values as qsrch_computeSumISumISq and
// qsrch_computeSumISumISqLessThan4.
#pragma once

#include <cstdint>

#include <qimg/qimg.h>
#include <qsys/qsys.h>

#include "frame/status.hpp"

namespace qsrch::sse2 {

// 3 x 3 grids from five bands of rows and columns (images narrower than 8
// pixels or whose rows are not a multiple of 16 bytes apart are refused);
// other grids of at most 4 x 4 positions in images of at least 9 x 9 pixels
// through qsrch_computeSumISumISqLessThan4 and its own dispatch; all others
// by streaming running sums.
qsrch::Status computeSumISumISq(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                uint32_t* sumI, uint32_t* sumISq, uint32_t outStride);

// The band table of a grid of at most 4 x 4 positions in an image of at
// least 9 x 9 pixels; refuses images wider than 4096 pixels.
qsrch::Status computeSumISumISqLessThan4(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                         uint32_t* sumI, uint32_t* sumISq, uint32_t outStride);

}  // namespace qsrch::sse2

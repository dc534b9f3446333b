// Sliding image sums, generic path: the band table for tiny position grids
// and separable running sums for everything else, in 8-bit and 16-bit
// forms. Same arguments and results as the exported kernels; the integer
// kernel keeps its own size rule and attention poll, the others leave them
// to their exported wrappers.
#pragma once

#include <cstdint>

#include <qimg/qimg.h>

#include "frame/status.hpp"

namespace qsrch::generic {

// Repeats the size rule and the poll, then takes the band table (through its
// own dispatch) for grids of at most 4 x 4 positions in images of at least
// 9 x 9 pixels, and the running sums otherwise.
qsrch::Status computeSumISumISq(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                uint32_t* sumI, uint32_t* sumISq, uint32_t outStride);
// The band table alone; the grid must be at most 4 x 4 in an image of at
// least 9 x 9 pixels.
qsrch::Status computeSumISumISqLessThan4(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                         uint32_t* sumI, uint32_t* sumISq, uint32_t outStride);
qsrch::Status DcomputeSumISumISq(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                 uint32_t* sumI, double* sumISq, uint32_t outStride);
qsrch::Status DcomputeSumISumISq16(const qimg_windowConst* pattern, const qimg_windowConst* image,
                                   uint32_t* sumI, double* sumISq, uint32_t outStride);
qsrch::Status computeOneSumISumISq(const qimg_windowConst* window, uint32_t* sumI, uint32_t* sumISq);
qsrch::Status DcomputeOneSumISumISq(const qimg_windowConst* window, uint32_t* sumI, double* sumISq);

}  // namespace qsrch::generic

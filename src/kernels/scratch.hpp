// Scratch arrays of the statistics kernels: a plain-number vector of
// `count` zero elements, listed in the caller's cleanup list as soon as it
// exists and handed out as a pointer to its first element. Each returns true
// when a step failed; the frame then holds that step's status.
#pragma once

#include <cstddef>
#include <cstdint>

#include <qstd/qstd.h>

#include "frame/call_frame.hpp"

namespace qsrch {

template <class Frame>
bool scratchFailed(Frame& frame, uint32_t ordinal, qstd_vector32* vector, size_t count,
                   uint32_t** first)
{
    if (frame.step(qstd_vector32_construct(vector, count))) return true;
    frame.template release<qstd_vector32_destruct>(ordinal, vector);
    return frame.step(qstd_vector32_getBegin(vector, first));
}

template <class Frame>
bool scratchFailed(Frame& frame, uint32_t ordinal, qstd_vectord* vector, size_t count,
                   double** first)
{
    if (frame.step(qstd_vectord_construct(vector, count))) return true;
    frame.template release<qstd_vectord_destruct>(ordinal, vector);
    return frame.step(qstd_vectord_getBegin(vector, first));
}

// Sums of squares of 16-bit pixels: 64-bit elements, read as unsigned.
template <class Frame>
bool scratchFailed(Frame& frame, uint32_t ordinal, qstd_vector64s* vector, size_t count,
                   uint64_t** first)
{
    if (frame.step(qstd_vector64s_construct(vector, count))) return true;
    frame.template release<qstd_vector64s_destruct>(ordinal, vector);
    int64_t* signedFirst = nullptr;
    if (frame.step(qstd_vector64s_getBegin(vector, &signedFirst))) return true;
    *first = reinterpret_cast<uint64_t*>(signedFirst);
    return false;
}

}  // namespace qsrch

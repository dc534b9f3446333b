// Scratch arrays of the statistics kernels: a plain-number vector of
// `count` zero elements, listed in the caller's cleanup list as soon as it
// exists and handed out as a pointer to its first element. Each returns the
// status of the failed step, which the frame also holds. Small working sets
// of the optimized kernels live on the stack instead (LocalScratch).
#pragma once

#include <cstddef>
#include <cstdint>

#include <qstd/qstd.h>

#include "frame/call_frame.hpp"
#include "kernels/grid.hpp"

namespace qsrch {

template <class Frame>
Status allocateScratch(Frame& frame, uint32_t ordinal, qstd_vector32* vector, size_t count, uint32_t** first)
{
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector32_construct(vector, count)));
    frame.template release<qstd_vector32_destruct>(ordinal, vector);
    return frame.track(qstd_vector32_getBegin(vector, first));
}

template <class Frame>
Status allocateScratch(Frame& frame, uint32_t ordinal, qstd_vectord* vector, size_t count, double** first)
{
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vectord_construct(vector, count)));
    frame.template release<qstd_vectord_destruct>(ordinal, vector);
    return frame.track(qstd_vectord_getBegin(vector, first));
}

// Sums of squares of 16-bit pixels: 64-bit elements, read as unsigned.
template <class Frame>
Status allocateScratch(Frame& frame, uint32_t ordinal, qstd_vector64s* vector, size_t count, uint64_t** first)
{
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector64s_construct(vector, count)));
    frame.template release<qstd_vector64s_destruct>(ordinal, vector);
    int64_t* signedFirst = nullptr;
    QSRCH_RETURN_IF_ERROR(frame.track(qstd_vector64s_getBegin(vector, &signedFirst)));
    *first = reinterpret_cast<uint64_t*>(signedFirst);
    return QSYS_OK;
}

// `count` unsigned 32-bit elements of unspecified contents, 16-byte
// aligned: on the stack when they fit in Capacity, else a qstd_vector32
// listed in the frame's cleanup list (so the frame must outlive the use).
template <size_t Capacity>
class LocalScratch {
public:
    template <class Frame>
    Status reserve(Frame& frame, uint32_t ordinal, size_t count)
    {
        if (count <= Capacity) {
            data_ = local_;
            return QSYS_OK;
        }
        return allocateScratch(frame, ordinal, &vector_, count, &data_);
    }
    uint32_t* data() const { return data_; }

private:
    alignas(16) uint32_t local_[Capacity];
    qstd_vector32 vector_;
    uint32_t* data_ = nullptr;
};

// A double output made through an integer kernel: integer(scratch, stride)
// writes 32-bit values at the positions of a scratch laid out with the given
// row stride, which are then converted once each into `out`. The scratch
// covers exactly the addressed elements, so a single position row may have
// a stride of 0.
template <size_t StackCapacity, class Integer>
Status throughIntegerScratch(PositionGrid grid, uint32_t scratchStride, double* out, uint32_t outStride,
                             Integer integer)
{
    if (grid.empty()) return QSYS_OK;
    CallFrame<1> frame;
    LocalScratch<StackCapacity> scratch;
    const size_t extent = static_cast<size_t>(grid.ny - 1) * scratchStride + static_cast<size_t>(grid.nx);
    QSRCH_RETURN_IF_ERROR(scratch.reserve(frame, 0, extent));
    QSRCH_RETURN_IF_ERROR(frame.track(integer(scratch.data(), scratchStride)));
    copyPositions(grid, scratch.data(), scratchStride, out, outStride);
    return frame.finish();
}

}  // namespace qsrch

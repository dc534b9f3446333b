// Scratch arrays of the statistics kernels: a plain-number vector of
// `count` zero elements, listed in the caller's cleanup list as soon as it
// exists and handed out as a pointer to its first element. Each returns true
// when a step failed; the frame then holds that step's status. Small working
// sets of the optimized kernels live on the stack instead (LocalScratch).
#pragma once

#include <cstddef>
#include <cstdint>

#include <qstd/qstd.h>

#include "frame/call_frame.hpp"
#include "kernels/grid.hpp"

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

// `count` unsigned 32-bit elements of unspecified contents, 16-byte
// aligned: on the stack when they fit in Capacity, else a qstd_vector32
// listed in the frame's cleanup list (so the frame must outlive the use).
template <size_t Capacity>
class LocalScratch {
public:
    template <class Frame>
    bool failed(Frame& frame, uint32_t ordinal, size_t count)
    {
        if (count <= Capacity) {
            data_ = local_;
            return false;
        }
        return scratchFailed(frame, ordinal, &vector_, count, &data_);
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
qsys_status throughIntegerScratch(PositionGrid grid, uint32_t scratchStride, double* out, uint32_t outStride,
                                  Integer integer)
{
    if (grid.empty()) return QSYS_OK;
    CallFrame<1> frame;
    LocalScratch<StackCapacity> scratch;
    const size_t extent = static_cast<size_t>(grid.ny - 1) * scratchStride + static_cast<size_t>(grid.nx);
    if (scratch.failed(frame, 0, extent)) return frame.finish();
    if (frame.step(integer(scratch.data(), scratchStride))) return frame.finish();
    copyPositions(grid, scratch.data(), scratchStride, out, outStride);
    return frame.finish();
}

}  // namespace qsrch

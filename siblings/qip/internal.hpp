// Helpers shared by the qip operations.
#pragma once

#include <qip/qip.h>
#include <qsys/qsys.h>

#include <cstddef>

namespace qip_detail {

// An 8-bit operand must be bound and of depth 8U.
inline qsys_status check8(const qimg_windowConst& view)
{
    if (view.firstPixel == nullptr) return QIMG_E_UNBOUND;
    return view.depth == QIMG_DEPTH_8U ? QSYS_OK : QIMG_E_BAD_DEPTH;
}

inline qsys_status check8(const qimg_window& view) { return check8(*qimg_window_asConst(&view)); }

// A block from the qsys heap, released when the scope ends. `bytes` is kept
// by owners that grow the block.
struct HeapBlock {
    void* block = nullptr;
    size_t bytes = 0;
    HeapBlock() = default;
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    ~HeapBlock() { qsys_memory_free_internal(&block); }
};

}  // namespace qip_detail

// Growing a run-length position list so that the four neighbours of every
// listed position are listed too. Each position row's range becomes the
// hull of its own range widened by one column on each side (clipped to the
// grid) and the ranges of the rows above and below as they stand. The
// neighbours' ranges are taken literally, an empty (0, 0) included, so an
// empty neighbour pulls the start to column 0.
#include <algorithm>

#include "kernels/internal.hpp"
#include "frame/status.hpp"

extern "C" qsrch_status qsrch_dilateEndpoints(const qstd_vector_qstd_pair32* source,
                                              qstd_vector_qstd_pair32* destination, uint32_t step,
                                              int32_t patternHeight, int32_t patternWidth,
                                              int32_t imageHeight, int32_t imageWidth)
{
    const qstd_pair32* from = nullptr;
    uint32_t fromCount = 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qstd_pair32_getBeginSizeConst(source, &from, &fromCount));
    qstd_pair32* to = nullptr;
    uint32_t toCount = 0;
    QSRCH_RETURN_IF_ERROR(qstd_vector_qstd_pair32_getBeginSize(destination, &to, &toCount));

    // One pair serves every row: there is no row above or below to unite.
    if (step == 0) {
        to[0] = from[0];
        return QSRCH_OK;
    }

    // Any other step means a pair per row. The list sizes are the caller's
    // duty: both hold at least imageHeight pairs.
    const int32_t nx = imageWidth - patternWidth + 1;
    const int32_t ny = imageHeight - patternHeight + 1;
    // The row above is read from a copy, so a list dilated into itself
    // still sees its source ranges.
    qstd_pair32 above{0, 0};
    for (int32_t r = 0; r < ny; ++r) {
        const qstd_pair32 own = from[r];
        int32_t start = own.first <= 0 ? 0 : own.first - 1;
        int32_t end = own.second < nx ? own.second + 1 : nx;
        if (r > 0) {
            start = std::min(start, above.first);
            end = std::max(end, above.second);
        }
        if (r + 1 < ny) {
            start = std::min(start, from[r + 1].first);
            end = std::max(end, from[r + 1].second);
        }
        to[r] = start < end ? qstd_pair32{start, end} : qstd_pair32{0, 0};
        above = own;
    }
    for (int32_t r = std::max(ny, 0); r < imageHeight; ++r) to[r] = qstd_pair32{0, 0};
    return QSRCH_OK;
}

// Low-pass reduction by a general factor f on each axis.
//
// Destination pixel x stands for the f-wide source interval that starts at
// the left edge of source pixel f x, and samples it at its centre
// c(x) = f x + (f - 1) / 2; the reduced grid maps into the source grid by
// p -> f p + (f - 1) / 2 on each axis. The filter is a tent of half-width f
// and unit area (its response vanishes at the reduced grid's sampling
// frequency and its harmonics) convolved with the unit tent that
// interpolates linearly between source pixels. That second factor makes the
// discrete weights reproduce linear functions at any centre, fractional or
// not: a ramp reduces to the ramp at c(x), so the reported transform is
// exact and coarse positions map back to the right place.
//
// Arithmetic: the weights are computed once per destination column and
// row in 16-bit fixed point and rounded cumulatively, so each set sums to
// exactly 1 << 16; near the border only the source pixels that exist
// receive weight (the kernel is renormalised over them), so nothing
// outside the image is read and a constant image stays constant. Columns
// are filtered first, straight from the source rows, into 32-bit sums (at
// most 255 << 16) that are rounded to 16 bits with 8 fraction bits; the
// horizontal pass then accumulates at most 255 << 24 in 32 bits and rounds
// to the nearest grey level.
#include "qip/internal.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr int kWeightBits = 16;
constexpr uint32_t kWeightOne = 1u << kWeightBits;

// Second antiderivative of the unit tent (support [-1, 1]), 0 on its left.
double tentSecondIntegral(double u)
{
    double a = std::fabs(u);
    double inside = a < 1.0 ? (1.0 - a) * (1.0 - a) * (1.0 - a) / 6.0 : 0.0;
    return std::max(u, 0.0) + inside;
}

// The taps of one axis: for destination index x, count[x] weights from
// source index first[x] on, stored at weights[x * maxTaps] and padded with
// zeros up to span, the largest count, so the inner loops can run a fixed
// number of taps.
struct AxisTaps {
    int32_t* first;
    int32_t* count;
    uint32_t* weights;
    int64_t maxTaps;
    int32_t span;
};

// The filter reaches f + 1 source pixels either side of its centre; an open
// interval of length 2 (f + 1) holds at most floor(2 (f + 1)) + 1 integers,
// one more allows for rounding of its ends.
int64_t maxTapsFor(double f, int32_t sourceCount)
{
    const double bound = std::floor(2.0 * (f + 1.0)) + 2.0;
    return bound < sourceCount ? static_cast<int64_t>(bound) : sourceCount;
}

// `ideal` has room for maxTaps + 2 values.
void buildTaps(AxisTaps& taps, int32_t destCount, int32_t sourceCount, double f, double* ideal)
{
    const double reach = f + 1.0;
    taps.span = 1;
    for (int32_t x = 0; x < destCount; ++x) {
        const double centre = f * x + (f - 1.0) / 2.0;
        int64_t lo = std::max<int64_t>(0, static_cast<int64_t>(std::floor(centre - reach)) + 1);
        int64_t hi = std::min<int64_t>(sourceCount - 1, static_cast<int64_t>(std::ceil(centre + reach)) - 1);
        if (hi < lo) lo = hi = std::min<int64_t>(std::max<int64_t>(0, std::llround(centre)), sourceCount - 1);
        int64_t n = std::min(hi - lo + 1, taps.maxTaps);
        // The weight of the pixel at distance d from the centre is the wide
        // tent convolved with the unit tent: f times the second difference,
        // over d - 1, d, d + 1, of the wide tent's second antiderivative.
        // Neighbouring pixels share two of the three values.
        for (int64_t k = 0; k < n + 2; ++k)
            ideal[k] = f * tentSecondIntegral((static_cast<double>(lo + k - 1) - centre) / f);
        double total = 0.0;
        for (int64_t k = 0; k < n; ++k) {
            ideal[k] = std::max(ideal[k] - 2.0 * ideal[k + 1] + ideal[k + 2], 0.0);
            total += ideal[k];
        }
        uint32_t* w = taps.weights + x * taps.maxTaps;
        if (!(total > 0.0)) {
            // Only reachable through rounding at the ends: give all weight
            // to the pixel nearest the centre.
            int64_t nearest = std::min<int64_t>(std::max<int64_t>(lo, std::llround(centre)), lo + n - 1);
            for (int64_t k = 0; k < n; ++k) w[k] = lo + k == nearest ? kWeightOne : 0;
        } else {
            // Cumulative rounding: every weight within one unit of its ideal
            // value, none negative, and the sum exactly kWeightOne.
            double running = 0.0;
            uint32_t previous = 0;
            for (int64_t k = 0; k < n; ++k) {
                running += ideal[k];
                uint32_t upTo = k + 1 == n ? kWeightOne
                                           : static_cast<uint32_t>(running / total * kWeightOne + 0.5);
                upTo = std::max(upTo, previous);
                w[k] = upTo - previous;
                previous = upTo;
            }
        }
        // Taps that rounded to nothing at the ends are dropped; what is left
        // is either one tap of weight kWeightOne or taps that fit 16 bits.
        int64_t skip = 0;
        while (w[skip] == 0) ++skip;
        while (w[n - 1] == 0) --n;
        n -= skip;
        for (int64_t k = 0; k < taps.maxTaps; ++k) w[k] = k < n ? w[k + skip] : 0;
        taps.first[x] = static_cast<int32_t>(lo + skip);
        taps.count[x] = static_cast<int32_t>(n);
        taps.span = std::max(taps.span, static_cast<int32_t>(n));
    }
}

// The scratch arrays of one call, carved from one block.
struct Workspace {
    AxisTaps tx, ty;
    uint32_t* columnSums;   // source width
    uint16_t* columnValues; // source width, then tx.maxTaps zeros
    uint16_t* rowWeights;   // ty.maxTaps
    double* ideal;          // the larger maxTaps, plus 2

    // Places the arrays from `base` on, each 64-byte aligned, and returns
    // the bytes they take; with a null base it only measures.
    uint64_t layOut(uint8_t* base, int32_t w, int32_t dw, int32_t dh)
    {
        uint64_t used = 0;
        auto take = [&](uint64_t bytes) {
            uint64_t at = used;
            used += (bytes + 63) / 64 * 64;
            return at;
        };
        const uint64_t firstX = take(uint64_t(dw) * 4), countX = take(uint64_t(dw) * 4);
        const uint64_t weightsX = take(uint64_t(dw) * tx.maxTaps * 4);
        const uint64_t firstY = take(uint64_t(dh) * 4), countY = take(uint64_t(dh) * 4);
        const uint64_t weightsY = take(uint64_t(dh) * ty.maxTaps * 4);
        const uint64_t sums = take(uint64_t(w) * 4), values = take((uint64_t(w) + tx.maxTaps) * 2);
        const uint64_t row = take(uint64_t(ty.maxTaps) * 2);
        const uint64_t idealAt = take((uint64_t(std::max(tx.maxTaps, ty.maxTaps)) + 2) * 8);
        if (base != nullptr) {
            tx.first = reinterpret_cast<int32_t*>(base + firstX);
            tx.count = reinterpret_cast<int32_t*>(base + countX);
            tx.weights = reinterpret_cast<uint32_t*>(base + weightsX);
            ty.first = reinterpret_cast<int32_t*>(base + firstY);
            ty.count = reinterpret_cast<int32_t*>(base + countY);
            ty.weights = reinterpret_cast<uint32_t*>(base + weightsY);
            columnSums = reinterpret_cast<uint32_t*>(base + sums);
            columnValues = reinterpret_cast<uint16_t*>(base + values);
            rowWeights = reinterpret_cast<uint16_t*>(base + row);
            ideal = reinterpret_cast<double*>(base + idealAt);
        }
        return used;
    }
};

// The column sums of destination row y, rounded to 16 bits with 8
// fraction bits.
void filterColumns(const qimg_windowConst& s, const Workspace& ws, int32_t y)
{
    const AxisTaps& ty = ws.ty;
    uint32_t* columnSums = ws.columnSums;
    uint16_t* columnValues = ws.columnValues;
    uint16_t* rowWeights = ws.rowWeights;
    const int32_t w = s.width, first = ty.first[y], count = ty.count[y];
    const uint32_t* wy = ty.weights + y * ty.maxTaps;
    auto rowOf = [&](int32_t r) {
        return static_cast<const uint8_t*>(s.firstPixel) + static_cast<ptrdiff_t>(r) * s.rowStride;
    };
    if (count == 1) {
        const uint8_t* row = rowOf(first);
        for (int32_t i = 0; i < w; ++i) columnValues[i] = static_cast<uint16_t>(row[i] << 8);
        return;
    }
    // Several taps: each weight fits 16 bits. Read from a 16-bit copy, the
    // products visibly widen from 16 to 32 bits, which vectorises well.
    for (int32_t k = 0; k < count; ++k) rowWeights[k] = static_cast<uint16_t>(wy[k]);
    const uint8_t* row = rowOf(first);
    for (int32_t i = 0; i < w; ++i) columnSums[i] = static_cast<uint32_t>(rowWeights[0] * row[i]);
    for (int32_t k = 1; k < count; ++k) {
        row = rowOf(first + k);
        for (int32_t i = 0; i < w; ++i) columnSums[i] += static_cast<uint32_t>(rowWeights[k] * row[i]);
    }
    for (int32_t i = 0; i < w; ++i) columnValues[i] = static_cast<uint16_t>((columnSums[i] + 128) >> 8);
}

// One destination row from the column values; Span fixed at compile time
// for the common small filters, 0 for any other.
template <int Span>
void filterRow(const uint16_t* columnValues, const AxisTaps& tx, int32_t dw, uint8_t* to)
{
    const int32_t span = Span > 0 ? Span : tx.span;
    for (int32_t x = 0; x < dw; ++x) {
        const uint16_t* v = columnValues + tx.first[x];
        const uint32_t* wx = tx.weights + x * tx.maxTaps;
        uint32_t sum = 1u << 23;
        for (int32_t k = 0; k < span; ++k) sum += wx[k] * v[k];
        to[x] = static_cast<uint8_t>(sum >> 24);
    }
}

// The padded taps past a row's end read the zeros after the column values,
// with weight 0.
void reducePixels(const qimg_windowConst& s, const Workspace& ws, qimg_image& out)
{
    const AxisTaps& tx = ws.tx;
    const uint16_t* values = ws.columnValues;
    for (int64_t i = 0; i < tx.maxTaps; ++i) ws.columnValues[s.width + i] = 0;
    for (int32_t y = 0; y < out.height; ++y) {
        filterColumns(s, ws, y);
        uint8_t* to = static_cast<uint8_t*>(out.firstPixel) + static_cast<ptrdiff_t>(y) * out.rowStride;
        switch (tx.span) {
        case 3: filterRow<3>(values, tx, out.width, to); break;
        case 4: filterRow<4>(values, tx, out.width, to); break;
        case 5: filterRow<5>(values, tx, out.width, to); break;
        case 6: filterRow<6>(values, tx, out.width, to); break;
        case 7: filterRow<7>(values, tx, out.width, to); break;
        case 8: filterRow<8>(values, tx, out.width, to); break;
        default: filterRow<0>(values, tx, out.width, to); break;
        }
    }
}

// floor(n / f) with the quotient formed in single precision, as the
// pyramid that sizes its levels forms it.
int32_t reducedSize(int32_t n, double f)
{
    float quotient = static_cast<float>(n) * (1.0f / static_cast<float>(f));
    return qmath_double_floor(static_cast<double>(quotient));
}

bool validFactor(double f) { return f >= 1.0 && std::isfinite(f); }

}  // namespace

extern "C" {

qsys_status qip_plpfParams_init(qip_plpfParams* params)
{
    params->factorX = params->factorY = 2.0;
    params->roundedFactorX = params->roundedFactorY = 2;
    params->reserved = 0;
    return QSYS_OK;
}

qsys_status qip_plpf_smooth8_8(const qimg_imageConst* source, qimg_image* destination,
                               const qip_plpfParams* params)
{
    qimg_windowConst view;
    qimg_windowConst_init(&view, source);
    qsys_status s = qip_detail::check8(view);
    if (QSYS_FAILED(s)) return s;
    const double fx = params->factorX, fy = params->factorY;
    if (!validFactor(fx) || !validFactor(fy) || params->reserved != 0) return QSYS_E_BAD_ARGUMENT;

    qmath_xformLinear clientFromSource;
    s = source->clientFromImage.xform == nullptr
            ? qmath_xformLinear_initIdentity(&clientFromSource)
            : qmath_xformPtrhConst_getLinear(&source->clientFromImage, &clientFromSource);
    if (QSYS_FAILED(s)) return s;
    qmath_xformLinear sourceFromReduced, clientFromReduced;
    qmath_xformLinear_initScaleShift(&sourceFromReduced, fx, fy, (fx - 1.0) / 2.0, (fy - 1.0) / 2.0);
    qmath_xformLinear_initCompose(&clientFromReduced, &clientFromSource, &sourceFromReduced);

    const int32_t w = view.width, h = view.height;
    const int32_t dw = reducedSize(w, fx), dh = reducedSize(h, fy);

    // Built aside and moved in last: a failure leaves the destination as it
    // was, and the source may be the destination itself.
    qimg_image reduced;
    qimg_image_constructUnbound(&reduced);
    s = qimg_image_assignNew(&reduced, QIMG_DEPTH_8U, dw, dh);
    if (!QSYS_FAILED(s)) s = qimg_image_setLinearClientFromImageXform(&reduced, &clientFromReduced);
    if (!QSYS_FAILED(s) && dw > 0 && dh > 0) {
        Workspace ws{};
        ws.tx.maxTaps = maxTapsFor(fx, w);
        ws.ty.maxTaps = maxTapsFor(fy, h);
        const uint64_t bytes = ws.layOut(nullptr, w, dw, dh);
        qip_detail::HeapBlock scratch;
        s = bytes > SIZE_MAX ? QSYS_E_NO_MEMORY : qsys_memory_alloc_internal(size_t(bytes), &scratch.block);
        if (!QSYS_FAILED(s)) {
            ws.layOut(static_cast<uint8_t*>(scratch.block), w, dw, dh);
            buildTaps(ws.tx, dw, w, fx, ws.ideal);
            buildTaps(ws.ty, dh, h, fy, ws.ideal);
            reducePixels(view, ws, reduced);
        }
    }
    if (QSYS_FAILED(s)) {
        qimg_image_destruct(&reduced);
        return s;
    }
    reduced.x = source->x;
    reduced.y = source->y;
    qimg_image_destruct(destination);
    *destination = reduced;
    return QSYS_OK;
}

}  // extern "C"

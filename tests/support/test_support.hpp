// Helpers shared by the suites; the statistics kernels' brute-force reference and shared properties.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <qsrch/qsrch.h>

namespace qtest {

// 8- or 16-bit pixels; the row slack and one guard element hold `slack`.
template <class Pixel>
class Image {
public:
    static constexpr int kMax = std::numeric_limits<Pixel>::max();
    Image(int32_t width = 0, int32_t height = 0, int32_t rowStride = -1, Pixel slack = Pixel(0xBEA5))
        : width_(width), height_(height), stride_(rowStride < 0 ? width : rowStride),
          pixels_(size_t(stride_) * std::max(height, 0) + 1, slack) {}
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t stride() const { return stride_; }
    Pixel& at(int32_t x, int32_t y) { return pixels_[size_t(y) * stride_ + x]; }
    Pixel at(int32_t x, int32_t y) const { return pixels_[size_t(y) * stride_ + x]; }
    Pixel* data() { return pixels_.data(); }
    void fill(Pixel v) { set([&] { return v; }); }
    template <class Rng> void randomize(Rng& rng, int lo = 0, int hi = kMax)
    {
        set([&, d = std::uniform_int_distribution<int>(lo, hi)]() mutable { return Pixel(d(rng)); });
    }
    // Care values from 1 to 255 on about `careShare` of the pixels, 0 elsewhere.
    template <class Rng> void randomMask(Rng& rng, double careShare = 0.6)
    {
        std::uniform_real_distribution<double> u(0, 1);
        std::uniform_int_distribution<int> v(1, 255);
        set([&] { return Pixel(u(rng) < careShare ? v(rng) : 0); });
    }
    qimg_windowConst window() const { return window(0, 0, width_, height_); }
    qimg_windowConst window(int32_t x, int32_t y, int32_t w, int32_t h) const
    {
        qimg_windowConst v{};
        v.width = w, v.height = h, v.x = x, v.y = y, v.depth = sizeof(Pixel) == 1 ? QIMG_DEPTH_8U : QIMG_DEPTH_16U;
        v.imageWidth = width_, v.imageHeight = height_, v.rowStride = stride_, v.imageFirstPixel = pixels_.data();
        v.firstPixel = pixels_.data() + size_t(y) * stride_ + x;
        return v;
    }

private:
    template <class F> void set(F value)
    {
        for (int32_t y = 0; y < height_; ++y)
            for (int32_t x = 0; x < width_; ++x) at(x, y) = value();
    }
    int32_t width_, height_, stride_;
    std::vector<Pixel> pixels_;
};
using Image8 = Image<uint8_t>;

// A binary 8-bit PGM of tests/data; an empty image when it cannot be read.
inline Image8 readTestPgm(const std::string& name)
{
    std::ifstream in(std::string(QSRCH_TEST_DATA) + "/" + name, std::ios::binary);
    std::string magic;
    int32_t width = 0, height = 0, maxValue = 0;
    in >> magic >> width >> height >> maxValue;
    in.get();
    if (!in || magic != "P5" || maxValue != 255) return Image8();
    Image8 image(width, height);
    for (int32_t y = 0; y < height; ++y) in.read(reinterpret_cast<char*>(&image.at(0, y)), width);
    return in ? image : Image8();
}

// Counts attention polls on this thread while alive; answers `answer`.
class AttentionCounter {
public:
    explicit AttentionCounter(qsys_status a = QSYS_OK) : answer_(a) { qsys_attention_setHandler(&handle, this); }
    ~AttentionCounter() { qsys_attention_setHandler(nullptr, nullptr); }
    AttentionCounter(const AttentionCounter&) = delete;
    int polls() const { return polls_; }

private:
    static qsys_status handle(void* self) { return static_cast<AttentionCounter*>(self)->poll(); }
    qsys_status poll() { return ++polls_, answer_; }
    qsys_status answer_;
    int polls_ = 0;
};

// Forbids the optimized paths named (all when none; a name never asked
// records only) on top of what the replaced query forbids, recording the
// names asked; nests.
class InhibitSwitch {
public:
    explicit InhibitSwitch(std::vector<std::u16string> names = {})
        : names_(std::move(names)), all_(names_.empty()), replaced_(qprt_isOptimizationInhibitedFP), outer_(current_)
    {
        current_ = this, qprt_isOptimizationInhibitedFP = [](const uint16_t* name) { return current_->answer(name); };
    }
    ~InhibitSwitch() { current_ = outer_, qprt_isOptimizationInhibitedFP = replaced_; }
    InhibitSwitch(const InhibitSwitch&) = delete;
    const std::vector<std::u16string>& asked() const { return asked_; }

private:
    int32_t answer(const uint16_t* name)
    {
        std::u16string n;
        for (const uint16_t* p = name; *p != 0; ++p) n.push_back(static_cast<char16_t>(*p));
        asked_.push_back(n);
        // An outer switch answers (and records) for the query it replaced.
        const bool replacedForbids = outer_ ? outer_->answer(name) != 0 : replaced_ && replaced_(name) != 0;
        return all_ || std::count(names_.begin(), names_.end(), n) > 0 || replacedForbids;
    }
    static inline InhibitSwitch* current_ = nullptr;
    std::vector<std::u16string> names_, asked_;
    bool all_;
    qprt_inhibitQuery replaced_;
    InhibitSwitch* outer_;
};

// Set by main when QSRCH_TEST_GENERIC_ONLY forbids every optimized path.
inline bool genericOnlyRun = false;

enum class Path { optimized, generic };
class BothPaths : public testing::TestWithParam<Path> {
    void SetUp() override { generic_.reset(GetParam() == Path::generic ? new InhibitSwitch() : nullptr); }
    std::unique_ptr<InhibitSwitch> generic_;
};
inline std::string pathName(const testing::TestParamInfo<Path>& info)
{
    return info.param == Path::optimized ? "optimized" : "generic";
}

// Fails each allocation of `call` in turn: QSYS_E_NO_MEMORY, no block left.
inline void expectAllocationFailuresClean(const std::function<qsys_status()>& call)
{
    const int64_t before = qsys_memory_allocationCount(), blocks = qsys_memory_blocksInUse();
    ASSERT_EQ(call(), QSYS_OK);
    const int64_t allocations = qsys_memory_allocationCount() - before;
    ASSERT_EQ(qsys_memory_blocksInUse(), blocks);
    for (int64_t n = 0; n < allocations; ++n) {
        SCOPED_TRACE("failing allocation " + std::to_string(n));
        qsys_memory_failAfter(n);
        EXPECT_EQ(call(), QSYS_E_NO_MEMORY);
        qsys_memory_failAfter(-1);
        EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
    }
}

// A run-length pair list owned by the test.
class PairList {
public:
    explicit PairList(const std::vector<qstd_pair32>& pairs)
    {
        qstd_vector_qstd_pair32_construct(&v_, pairs.size()), std::copy(pairs.begin(), pairs.end(), v_.begin);
    }
    ~PairList() { qstd_vector_qstd_pair32_destruct(&v_); }
    PairList(const PairList&) = delete;
    PairList& operator=(const PairList&) = delete;
    qstd_vector_qstd_pair32* get() { return &v_; }
    const qstd_vector_qstd_pair32* get() const { return &v_; }
    std::vector<qstd_pair32> pairs() const { return {v_.begin, v_.begin + v_.size}; }

private:
    qstd_vector_qstd_pair32 v_;
};

constexpr uint32_t kSentinel = 0xDEADBEEFu;

// Positions (x < nx, y < ny) hold want(x, y), all others the sentinel.
template <class T, class Want>
void expectOutput(const std::vector<T>& out, uint32_t outStride, int64_t nx, int64_t ny, Want want)
{
    for (size_t k = 0, differences = 0; k < out.size(); ++k) {
        const int64_t x = k % outStride, y = k / outStride;
        const double expected = x < nx && y < ny ? static_cast<double>(want(x, y)) : kSentinel;
        if (static_cast<double>(out[k]) != expected && ++differences <= 5)
            ADD_FAILURE() << "element (" << x << ", " << y << "): " << static_cast<double>(out[k]) << ", want "
                          << expected;
    }
}

template <class Pixel = uint8_t> Pixel pel(const qimg_windowConst& v, int64_t x, int64_t y)
{
    return static_cast<const Pixel*>(v.firstPixel)[y * v.rowStride + x];
}

// One position's sums over the cared-for pattern pixels; count, ΣP and ΣP²
// only where the image care mask cares too.
enum Stat { kSumI, kSumII, kIp, kCount, kSumP, kSumPP };
using WindowStats = std::array<uint64_t, 6>;

template <class Pixel>
WindowStats bruteStats(const qimg_windowConst& pattern, const qimg_windowConst* patternMask,
                       const qimg_windowConst& image, const qimg_windowConst* imageMask, int x, int y)
{
    WindowStats s{};
    for (int j = 0; j < pattern.height; ++j)
        for (int i = 0; i < pattern.width; ++i) {
            if (patternMask != nullptr && pel(*patternMask, i, j) == 0) continue;
            const uint64_t v = pel<Pixel>(image, x + i, y + j), p = pel(pattern, i, j);
            s[kSumI] += v, s[kSumII] += v * v, s[kIp] += p * v;
            if (imageMask != nullptr && pel(*imageMask, x + i, y + j) == 0) continue;
            s[kCount] += 1, s[kSumP] += p, s[kSumPP] += p * p;
        }
    return s;
}

enum KernelFlags : unsigned {
    kIntegerLimit = 1,  // refuses patterns of more than 0x10000 pixels
    kPatternMask = 2,   // only pixels the pattern mask cares for count
    kImageMask = 4,     // the pattern-side sums count only pixels the image care mask cares for
    kSixteenBit = 8,    // reads the 16-bit image
    kAlwaysPolls = 16,  // polls attention whatever the number of positions
    kDoubleLast = 32,   // the last output is the double plane
    kRowSq32 = 64,      // row sums of squares in 32 bits: exact for rows of up to 66051 pixels
};

// A pattern with its mask over an image with its care mask and 16-bit twin,
// all views into larger images with slack.
struct KernelCase {
    int w, h, W, H, nx, ny;
    uint32_t outStride;
    Image8 pattern, patternMask, image, imageMask;
    Image<uint16_t> image16;
    // size: the pattern's size without pixels; absentMask: no pixels, no mask.
    qimg_windowConst p, size{}, pm, absentMask, i, im, i16;
    mutable std::map<unsigned, std::vector<WindowStats>> references;

    KernelCase(std::mt19937& rng, int w_, int h_, int W_, int H_, double patternCare, double imageCare,
               int extraStride, int lo = 0)
        : w(w_), h(h_), W(W_), H(H_), nx(W - w + 1), ny(H - h + 1), outStride(std::max(nx, 1) + extraStride)
    {
        auto extra = [&](int n) { return std::uniform_int_distribution<int>(0, n)(rng); };
        const int ox = extra(3), oy = extra(2), bigW = W + ox + extra(3), bigH = H + oy + extra(2);
        pattern = Image8(w, h, w + extra(9), 0x5A), patternMask = Image8(w, h, w + extra(9));
        image = Image8(bigW, bigH, bigW + extra(9)), imageMask = Image8(bigW, bigH, bigW + extra(9));
        image16 = Image<uint16_t>(bigW, bigH, bigW + extra(9));
        pattern.randomize(rng, lo), image.randomize(rng, lo), image16.randomize(rng, lo * 257);
        patternMask.randomMask(rng, patternCare), imageMask.randomMask(rng, imageCare);
        p = pattern.window(), pm = absentMask = patternMask.window(), absentMask.firstPixel = nullptr;
        size.width = w, size.height = h, size.rowStride = w;
        i = image.window(ox, oy, W, H), im = imageMask.window(ox, oy, W, H), i16 = image16.window(ox, oy, W, H);
    }
    std::string describe() const
    {
        return (testing::Message() << "pattern " << w << "x" << h << ", image " << W << "x" << H << ", outStride "
                                   << outStride).GetString();
    }
    const std::vector<WindowStats>& reference(unsigned flags) const
    {
        const unsigned key = flags & (kPatternMask | kImageMask | kSixteenBit);
        std::vector<WindowStats>& ref = references[key];
        const qimg_windowConst *m = key & kPatternMask ? &pm : nullptr, *c = key & kImageMask ? &im : nullptr;
        for (int y = 0, known = !ref.empty(); !known && y < ny; ++y)
            for (int x = 0; x < nx; ++x)
                ref.push_back(key & kSixteenBit ? bruteStats<uint16_t>(p, m, i16, c, x, y)
                                                : bruteStats<uint8_t>(p, m, i, c, x, y));
        return ref;
    }
};

// Sentinel-filled output planes with a spare row.
struct Outputs {
    std::vector<uint32_t> u[3];
    std::vector<double> d;
    explicit Outputs(const KernelCase& c)
    {
        for (auto& plane : u) plane.assign((std::max(c.ny, 0) + size_t{1}) * c.outStride, kSentinel);
        d.assign(u[0].size(), kSentinel);
    }
    void expectUntouched() const
    {
        for (const auto& plane : u) expectOutput(plane, 1, 0, 0, [](int64_t, int64_t) { return 0; });
        expectOutput(d, 1, 0, 0, [](int64_t, int64_t) { return 0; });
    }
};

struct Kernel {
    std::string name;
    const char16_t* dispatchName;  // asked of the inhibit query on every call; nullptr: not checked
    unsigned flags;
    std::vector<Stat> outputs;  // held by u[0], u[1], ... (the last one by d with kDoubleLast)
    std::function<qsys_status(const KernelCase&, Outputs&)> run;

    void expectExact(const KernelCase& c, const Outputs& o) const
    {
        const std::vector<WindowStats>& ref = c.reference(flags);
        for (size_t n = 0; n < outputs.size(); ++n) {
            SCOPED_TRACE("output " + std::to_string(n));
            auto want = [&](int64_t x, int64_t y) { return ref[y * c.nx + x][outputs[n]]; };
            auto want32 = [&](int64_t x, int64_t y) { return uint32_t(want(x, y)); };
            if (flags & kDoubleLast && n + 1 == outputs.size()) expectOutput(o.d, c.outStride, c.nx, c.ny, want);
            else expectOutput(o.u[n], c.outStride, c.nx, c.ny, want32);
        }
    }
    void expectExact(const KernelCase& c) const
    {
        Outputs o(c);
        ASSERT_EQ(run(c, o), QSRCH_OK);
        expectExact(c, o);
    }
};

// Awkward widths, height 1, few positions and long rows, patterns larger than
// the image or empty, saturated pixels, masks caring for nothing or all.
inline void expectExactOnRandomCases(const std::vector<Kernel>& kernels)
{
    const int widths[] = {1, 7, 8, 9, 15, 16, 17, 31};
    const double careShares[] = {0.0, 0.05, 0.6, 1.0};
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        int w = seed % 3 == 0 ? pick(1, 40) : widths[seed % 8], h = seed % 4 == 0 ? 1 : pick(1, 20);
        if (seed % 50 == 0) (seed % 100 == 0 ? w : h) = 0;
        const bool few = seed % 4 == 1, many = seed % 4 == 2;
        const int W = few ? w + pick(0, 3) : many ? w + pick(13, 90) : std::max(1, w + pick(-2, 12));
        const KernelCase c(rng, w, h, W, few ? h + pick(0, 3) : std::max(1, h + pick(-2, 8)), careShares[pick(0, 3)],
                           careShares[pick(0, 3)], pick(0, 5), seed % 17 == 0 ? 255 : 0);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", " + c.describe());
        for (const Kernel& k : kernels) {
            SCOPED_TRACE(k.name);
            k.expectExact(c);
        }
    }
}

// Around 0x10000 pattern pixels: the integer limit refuses more untouched;
// the rest stays exact where sums split or 32-bit partial sums would wrap.
inline void expectSizeRuleAndLargePatterns(const std::vector<Kernel>& kernels)
{
    const std::array<int, 3> shapes[] = {{256, 256, 255}, {65536, 1, 255}, {65537, 1, 200}, {1, 65537, 200},
                                         {300, 300, 0},   {255, 257, 200}, {200, 1000, 0},  {70000, 1, 250},
                                         {1, 60000, 255}};
    for (const auto& [w, h, lo] : shapes) {
        std::mt19937 rng(w * 7919 + h);
        const double care = lo == 255 ? 1.0 : 0.8;
        const KernelCase c(rng, w, h, w + 10, h + 2, care, care, 2, lo);
        for (const Kernel& k : kernels) {
            if (k.flags & kRowSq32 && w > 66051) continue;
            SCOPED_TRACE(k.name + ", " + c.describe());
            AttentionCounter attention;
            Outputs o(c);
            const bool refused = k.flags & kIntegerLimit && w * h > 0x10000;
            EXPECT_EQ(k.run(c, o), refused ? QSRCH_E_PATTERN_TOO_LARGE : QSRCH_OK);
            EXPECT_EQ(attention.polls() > 0, !refused);
            refused ? o.expectUntouched() : k.expectExact(c, o);
        }
    }
}

// Polls over more than 31 positions (or always); a stop comes back before
// any write; each call asks the inhibit query once for its name.
inline void expectPollRuleAndInhibitNames(const std::vector<Kernel>& kernels)
{
    const qsys_status stop = QSYS_STATUS(0x8ABC0123u);
    std::mt19937 rng(7);
    for (const auto& [nx, ny] : std::vector<std::pair<int, int>>{{31, 1}, {1, 31}, {32, 1}, {8, 4}, {1, 1}}) {
        const KernelCase c(rng, 3, 2, nx + 2, ny + 1, 0.6, 0.6, 1);
        for (const Kernel& k : kernels) {
            SCOPED_TRACE(k.name + ", " + c.describe());
            const bool polls = k.flags & kAlwaysPolls || nx * ny > 31;
            AttentionCounter attention;
            InhibitSwitch inhibit({u""});
            k.expectExact(c);
            EXPECT_EQ(attention.polls() > 0, polls);
            const std::vector<std::u16string>& asked = inhibit.asked();
            EXPECT_EQ(k.dispatchName ? std::count(asked.begin(), asked.end(), k.dispatchName) : 1, 1);
            AttentionCounter stopping(stop);
            Outputs stopped(c);
            EXPECT_EQ(k.run(c, stopped), polls ? stop : QSRCH_OK);
            if (polls) stopped.expectUntouched();
        }
    }
}

inline void expectAllocationFailuresReleaseScratch(const std::vector<Kernel>& kernels)
{
    std::mt19937 rng(5);
    const KernelCase small(rng, 12, 9, 60, 40, 0.8, 0.9, 1), large(rng, 300, 300, 303, 302, 0.8, 0.9, 1);
    for (const Kernel& k : kernels)
        for (const KernelCase* c : {&small, &large}) {
            if (k.flags & kIntegerLimit && c == &large) continue;
            SCOPED_TRACE(k.name + ", " + c->describe());
            Outputs o(*c);
            expectAllocationFailuresClean([&] { return k.run(*c, o); });
        }
}

// An image of the image service holding a copy of a test image's pixels, or unbound.
struct OwnedImage {
    qimg_image image;
    explicit OwnedImage(const Image8& from)
    {
        EXPECT_EQ(qimg_image_construct(&image, QIMG_DEPTH_8U, from.width(), from.height()), QSRCH_OK);
        for (int32_t y = 0; y < from.height(); ++y)
            for (int32_t x = 0; x < from.width(); ++x)
                static_cast<uint8_t*>(image.firstPixel)[y * image.rowStride + x] = from.at(x, y);
    }
    OwnedImage() { qimg_image_constructUnbound(&image); }
    ~OwnedImage() { qimg_image_destruct(&image); }
    OwnedImage(const OwnedImage&) = delete;
    qimg_image* get() { return &image; }
    const qimg_imageConst* cget() const { return qimg_image_asConst(&image); }
};

// A vector of one of the library's vector families, owned by the test.
template <class V, class E, qsrch_status (*Construct)(V*), qsrch_status (*Destruct)(V*)>
struct Owned {
    V v;
    Owned() { EXPECT_EQ(Construct(&v), QSRCH_OK); }
    ~Owned() { Destruct(&v); }
    Owned(const Owned&) = delete;
    V* get() { return &v; }
    size_t size() const { return v.size; }
    E& operator[](size_t i) const { return static_cast<E*>(v.begin)[i]; }
    std::vector<E> items() const
    {
        auto* p = static_cast<const E*>(v.begin);
        return {p, p + v.size};
    }
};
using Results = Owned<qstd_vector_qsrch_normcorr_result, qsrch_normcorr_result,
                      &qstd_vector_qsrch_normcorr_result_constructEmpty, &qstd_vector_qsrch_normcorr_result_destruct>;
using PeakVector = Owned<qstd_vector_qsrch_detectedPosePeak, qsrch_detectedPosePeak,
                         &qstd_vector_qsrch_detectedPosePeak_constructEmpty,
                         &qstd_vector_qsrch_detectedPosePeak_destruct>;
using Levels = Owned<qstd_vector_qsrch_normcorr_level_, qsrch_normcorr_level_,
                     &qstd_vector_qsrch_normcorr_level__constructEmpty, &qstd_vector_qsrch_normcorr_level__destruct>;

}  // namespace qtest

// The shared kernel properties as tests of `suite` over both paths.
#define QTEST_KERNEL_PROPERTIES(suite, kernels)                                                            \
    class suite : public qtest::BothPaths {};                                                              \
    INSTANTIATE_TEST_SUITE_P(Paths, suite, testing::Values(qtest::Path::optimized, qtest::Path::generic),  \
                             qtest::pathName);                                                             \
    TEST_P(suite, MatchBruteForceOnRandomCases) { qtest::expectExactOnRandomCases(kernels); }               \
    TEST_P(suite, SizeRuleAndLargePatterns) { qtest::expectSizeRuleAndLargePatterns(kernels); }             \
    TEST_P(suite, PollRuleAndInhibitNames) { qtest::expectPollRuleAndInhibitNames(kernels); }               \
    TEST_P(suite, ScratchReleasedWhenAnAllocationFails) { qtest::expectAllocationFailuresReleaseScratch(kernels); }

// Test helpers shared by the suites: images with garbage in the row slack,
// seeded random content, an attention-poll counter, an inhibit switch, and
// an allocation-failure sweep.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <qsrch/qsrch.h>

namespace qtest {

// An 8-bit image owned by the test: rowStride >= width, the bytes between
// width and rowStride filled with `slack` so a kernel that reads past the
// width shows it. Views are made with window().
class Image8 {
public:
    Image8(int32_t width, int32_t height, int32_t rowStride = -1, uint8_t slack = 0xA5)
        : width_(width), height_(height), stride_(rowStride < 0 ? width : rowStride),
          pixels_(static_cast<size_t>(stride_) * (height > 0 ? height : 0) + 1, slack)
    {
        // One guard byte after the last row, also non-zero.
    }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t stride() const { return stride_; }
    uint8_t& at(int32_t x, int32_t y) { return pixels_[static_cast<size_t>(y) * stride_ + x]; }
    uint8_t at(int32_t x, int32_t y) const { return pixels_[static_cast<size_t>(y) * stride_ + x]; }
    uint8_t* data() { return pixels_.data(); }

    void fill(uint8_t v)
    {
        for (int32_t y = 0; y < height_; ++y)
            for (int32_t x = 0; x < width_; ++x) at(x, y) = v;
    }
    template <class Rng>
    void randomize(Rng& rng, int lo = 0, int hi = 255)
    {
        std::uniform_int_distribution<int> d(lo, hi);
        for (int32_t y = 0; y < height_; ++y)
            for (int32_t x = 0; x < width_; ++x) at(x, y) = static_cast<uint8_t>(d(rng));
    }
    // Random mask: about `careShare` of the pixels cared for, with care
    // values other than 255.
    template <class Rng>
    void randomMask(Rng& rng, double careShare = 0.6)
    {
        std::uniform_real_distribution<double> u(0, 1);
        std::uniform_int_distribution<int> v(1, 255);
        for (int32_t y = 0; y < height_; ++y)
            for (int32_t x = 0; x < width_; ++x)
                at(x, y) = u(rng) < careShare ? static_cast<uint8_t>(v(rng)) : 0;
    }

    qimg_windowConst window() const { return window(0, 0, width_, height_); }
    qimg_windowConst window(int32_t x, int32_t y, int32_t w, int32_t h) const
    {
        qimg_windowConst v{};
        v.width = w;
        v.height = h;
        v.x = x;
        v.y = y;
        v.depth = QIMG_DEPTH_8U;
        v.imageWidth = width_;
        v.imageHeight = height_;
        v.rowStride = stride_;
        v.imageFirstPixel = pixels_.data();
        v.firstPixel = pixels_.data() + static_cast<size_t>(y) * stride_ + x;
        return v;
    }

private:
    int32_t width_, height_, stride_;
    std::vector<uint8_t> pixels_;
};

// Counts attention polls on this thread while alive; answers `answer`.
class AttentionCounter {
public:
    explicit AttentionCounter(qsys_status answer = QSYS_OK) : answer_(answer)
    {
        qsys_attention_setHandler(&AttentionCounter::handle, this);
    }
    ~AttentionCounter() { qsys_attention_setHandler(nullptr, nullptr); }
    AttentionCounter(const AttentionCounter&) = delete;
    AttentionCounter& operator=(const AttentionCounter&) = delete;
    int polls() const { return polls_; }
    void answer(qsys_status s) { answer_ = s; }

private:
    static qsys_status handle(void* self)
    {
        auto* c = static_cast<AttentionCounter*>(self);
        ++c->polls_;
        return c->answer_;
    }
    qsys_status answer_;
    int polls_ = 0;
};

// Installs an inhibit query while alive. With no names, every optimized
// path is forbidden; otherwise only the named ones. The names asked are
// recorded.
class InhibitSwitch {
public:
    explicit InhibitSwitch(std::vector<std::u16string> names = {})
    {
        current() = this;
        names_ = std::move(names);
        qprt_isOptimizationInhibitedFP = &InhibitSwitch::query;
    }
    ~InhibitSwitch()
    {
        qprt_isOptimizationInhibitedFP = nullptr;
        current() = nullptr;
    }
    InhibitSwitch(const InhibitSwitch&) = delete;
    InhibitSwitch& operator=(const InhibitSwitch&) = delete;
    const std::vector<std::u16string>& asked() const { return asked_; }

private:
    static InhibitSwitch*& current()
    {
        static InhibitSwitch* s = nullptr;
        return s;
    }
    static int32_t query(const uint16_t* name)
    {
        std::u16string n;
        for (const uint16_t* p = name; *p != 0; ++p) n.push_back(static_cast<char16_t>(*p));
        InhibitSwitch* self = current();
        self->asked_.push_back(n);
        if (self->names_.empty()) return 1;
        for (const auto& k : self->names_)
            if (k == n) return 1;
        return 0;
    }
    std::vector<std::u16string> names_;
    std::vector<std::u16string> asked_;
};

// Runs `call` once to count its allocations, then once more for each of
// them with that allocation failing: every such run must return
// QSYS_E_NO_MEMORY and leave no block allocated. `call` must set up and
// tear down its own records outside the counted region by itself, so it is
// given the region as a function to call.
inline void expectAllocationFailuresClean(const std::function<qsys_status()>& call)
{
    int64_t before = qsys_memory_allocationCount();
    int64_t blocks = qsys_memory_blocksInUse();
    ASSERT_EQ(call(), QSYS_OK);
    int64_t allocations = qsys_memory_allocationCount() - before;
    ASSERT_EQ(qsys_memory_blocksInUse(), blocks);
    for (int64_t n = 0; n < allocations; ++n) {
        SCOPED_TRACE("failing allocation " + std::to_string(n));
        qsys_memory_failAfter(n);
        EXPECT_EQ(call(), QSYS_E_NO_MEMORY);
        qsys_memory_failAfter(-1);
        EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
    }
}

}  // namespace qtest

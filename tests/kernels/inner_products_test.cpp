// Inner products against a 64-bit brute force, and the run-length list
// dilation.
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kernels/internal.hpp"
#include "support/test_support.hpp"

namespace {

using qtest::Image8;

constexpr uint32_t kSentinel = 0xDEADBEEFu;

uint64_t bruteInner(const Image8& pattern, const Image8& image, int32_t x, int32_t y)
{
    uint64_t sum = 0;
    for (int32_t j = 0; j < pattern.height(); ++j)
        for (int32_t i = 0; i < pattern.width(); ++i)
            sum += uint64_t{pattern.at(i, j)} * image.at(x + i, y + j);
    return sum;
}

// A pair list owned by the test.
struct PairList {
    qstd_vector_qstd_pair32 v{};
    explicit PairList(std::vector<qstd_pair32> pairs)
    {
        qstd_vector_qstd_pair32_construct(&v, pairs.size());
        for (size_t k = 0; k < pairs.size(); ++k) v.begin[k] = pairs[k];
    }
    ~PairList() { qstd_vector_qstd_pair32_destruct(&v); }
    PairList(const PairList&) = delete;
    PairList& operator=(const PairList&) = delete;
    std::vector<qstd_pair32> pairs() const { return {v.begin, v.begin + v.size}; }
};

enum class Form { Integer, Double, Endpoints };

std::string formName(Form f)
{
    return f == Form::Integer ? "integer" : f == Form::Double ? "double" : "endpoints";
}

// Runs one form over the whole grid (the endpoint form with step 0 and the
// range (0, nx)) into a sentinel-filled buffer of `elements`, returned as
// doubles (every 32-bit value is exact in a double).
qsys_status runForm(Form form, const Image8& pattern, const Image8& image, uint32_t outStride,
                    size_t elements, std::vector<double>& out)
{
    qimg_windowConst p = pattern.window(), i = image.window();
    qsys_status s;
    if (form == Form::Double) {
        out.assign(elements, double{kSentinel});
        return qsrch_DcomputeInnerProducts(&p, &i, out.data(), outStride);
    }
    std::vector<uint32_t> o(elements, kSentinel);
    if (form == Form::Integer) {
        s = qsrch_computeInnerProducts(&p, &i, o.data(), outStride);
    } else {
        int32_t nx = image.width() - pattern.width() + 1;
        PairList all({{0, nx > 0 ? nx : 0}});
        s = qsrch_computeInnerProductsUsingEndpoints(&p, &i, o.data(), outStride, &all.v, 0);
    }
    out.assign(o.begin(), o.end());
    return s;
}

// Every listed position holds the brute-force value, every other element
// of the buffer still holds the sentinel.
template <class Listed>
void expectPositions(const std::vector<double>& out, const Image8& pattern, const Image8& image,
                     uint32_t outStride, Listed listed)
{
    int32_t nx = image.width() - pattern.width() + 1, ny = image.height() - pattern.height() + 1;
    int failures = 0;
    for (size_t e = 0; e < out.size() && failures < 5; ++e) {
        int32_t x = static_cast<int32_t>(e % outStride), y = static_cast<int32_t>(e / outStride);
        bool position = x < nx && y < ny && listed(x, y);
        double want = position ? static_cast<double>(bruteInner(pattern, image, x, y)) : double{kSentinel};
        if (out[e] != want) {
            ++failures;
            ADD_FAILURE() << "at (" << x << ", " << y << "): " << out[e] << ", expected " << want;
        }
    }
}

auto everyPosition = [](int32_t, int32_t) { return true; };

class InnerProductForms : public ::testing::TestWithParam<Form> {};

TEST_P(InnerProductForms, MatchBruteForceOnRandomCases)
{
    const int32_t widths[] = {1, 7, 8, 9, 15, 16, 17, 31};
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int32_t> small(1, 12), pad(0, 9);
        int32_t w = widths[seed % 8], h = seed % 5 == 0 ? 1 : small(rng);
        // Now and then a pattern wider or taller than the image: nothing written.
        int32_t nx = seed % 13 == 0 ? 0 : small(rng), ny = seed % 11 == 0 ? -1 : small(rng);
        if (seed % 7 == 0) ny = 1;
        Image8 pattern(w, h, w + pad(rng), 0x5A), image(w + nx - 1, h + ny - 1, w + nx - 1 + pad(rng));
        pattern.randomize(rng);
        image.randomize(rng);
        uint32_t outStride = static_cast<uint32_t>(std::max(nx, 1) + pad(rng));
        SCOPED_TRACE("seed " + std::to_string(seed) + ", pattern " + std::to_string(w) + "x" +
                     std::to_string(h) + ", grid " + std::to_string(nx) + "x" + std::to_string(ny));
        std::vector<double> out;
        size_t elements = (std::max(ny, 0) + 1) * outStride;
        ASSERT_EQ(runForm(GetParam(), pattern, image, outStride, elements, out), QSRCH_OK);
        expectPositions(out, pattern, image, outStride, everyPosition);
    }
}

// 65536 pattern pixels is the largest integer pattern: all-255 windows give
// the largest sum, 65025 * 65536; one pixel more is refused untouched and
// unpolled. The double form has no limit.
TEST_P(InnerProductForms, SizeRuleAtTheLimit)
{
    struct Shape { int32_t w, h; bool accepted; };
    for (Shape shape : {Shape{256, 256, true}, Shape{65536, 1, true}, Shape{257, 255, true},
                        Shape{65537, 1, false}, Shape{1, 65537, false}}) {
        SCOPED_TRACE(std::to_string(shape.w) + "x" + std::to_string(shape.h));
        Image8 pattern(shape.w, shape.h), image(shape.w + 5, shape.h + 6);
        pattern.fill(255);
        image.fill(255);
        qtest::AttentionCounter polls;
        std::vector<double> out;
        uint32_t outStride = 8;
        qsys_status s = runForm(GetParam(), pattern, image, outStride, 8 * outStride, out);
        bool accepted = shape.accepted || GetParam() == Form::Double;
        ASSERT_EQ(s, accepted ? QSRCH_OK : QSRCH_E_PATTERN_TOO_LARGE);
        if (!accepted) {
            EXPECT_EQ(polls.polls(), 0);
        }
        for (size_t e = 0; e < out.size(); ++e) {
            bool position = accepted && e % outStride < 6 && e / outStride < 7;
            double pixels = double(shape.w) * shape.h;
            ASSERT_EQ(out[e], position ? 65025.0 * pixels : double{kSentinel}) << "element " << e;
        }
        if (shape.w == 256) {
            EXPECT_EQ(out[0], 4261478400.0);
        }
    }
}

// The full forms poll once above 31 positions and not at all up to 31; the
// endpoint form polls once whatever the count. A negative answer comes back
// unchanged before anything is written.
TEST_P(InnerProductForms, AttentionPoll)
{
    struct Grid { int32_t nx, ny; };
    for (Grid g : {Grid{31, 1}, Grid{1, 1}, Grid{32, 1}, Grid{4, 8}}) {
        for (qsys_status answer : {QSRCH_OK, QSYS_E_ABORTED}) {
            SCOPED_TRACE(std::to_string(g.nx) + "x" + std::to_string(g.ny) + " positions, answer " +
                         std::to_string(answer));
            Image8 pattern(3, 2), image(g.nx + 2, g.ny + 1);
            pattern.fill(1);
            image.fill(2);
            qtest::AttentionCounter polls(answer);
            std::vector<double> out;
            qsys_status s = runForm(GetParam(), pattern, image, g.nx, g.nx * g.ny, out);
            bool polled = GetParam() == Form::Endpoints || g.nx * g.ny > 31;
            EXPECT_EQ(polls.polls(), polled ? 1 : 0);
            EXPECT_EQ(s, polled ? answer : QSRCH_OK);
            EXPECT_EQ(out[0], s == QSRCH_OK ? 12.0 : double{kSentinel});
        }
    }
}

INSTANTIATE_TEST_SUITE_P(, InnerProductForms,
                         ::testing::Values(Form::Integer, Form::Double, Form::Endpoints),
                         [](const auto& info) { return formName(info.param); });

TEST(InnerProducts, NamesAskedOfTheInhibitQuery)
{
    Image8 pattern(3, 3), image(5, 5);
    qimg_windowConst p = pattern.window(), i = image.window();
    std::vector<uint32_t> out(9);
    std::vector<double> outD(9);
    PairList ranges({{0, 3}, {1, 2}, {0, 0}});
    qtest::InhibitSwitch inhibit;
    EXPECT_EQ(qsrch_computeInnerProducts(&p, &i, out.data(), 3), QSRCH_OK);
    EXPECT_EQ(qsrch_DcomputeInnerProducts(&p, &i, outD.data(), 3), QSRCH_OK);
    EXPECT_EQ(qsrch_computeInnerProductsUsingEndpoints(&p, &i, out.data(), 3, &ranges.v, 1), QSRCH_OK);
    EXPECT_EQ(inhibit.asked(), (std::vector<std::u16string>{u"qsrch_innerProducts", u"qsrch_DinnerProducts",
                                                            u"qsrch_innerProductsUsingEndpoints"}));
}

// Large patterns are scored as half-height halves (twice over for 600 x 300)
// whose sum must be the exact inner product; every half polls again.
TEST(InnerProducts, DoubleFormSplitsLargePatternsExactly)
{
    struct Case { int32_t w, h, nx, ny, polls; };
    for (Case c : {Case{400, 300, 8, 6, 3}, Case{600, 300, 3, 2, 0}, Case{70000, 1, 3, 2, 0}}) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        std::mt19937 rng(c.w);
        Image8 pattern(c.w, c.h, c.w + 3), image(c.w + c.nx - 1, c.h + c.ny - 1, c.w + c.nx + 4);
        int lo = c.w > 0x10000 ? 250 : 0;  // so that the 70000-pixel row overflows 32 bits
        pattern.randomize(rng, lo, 255);
        image.randomize(rng, lo, 255);
        qtest::AttentionCounter polls;
        std::vector<double> out;
        ASSERT_EQ(runForm(Form::Double, pattern, image, c.nx + 2, (c.ny + 1) * (c.nx + 2), out), QSRCH_OK);
        EXPECT_EQ(polls.polls(), c.polls);
        expectPositions(out, pattern, image, c.nx + 2, everyPosition);
    }
}

TEST(InnerProducts, SplitScratchFailuresLeakNothing)
{
    Image8 pattern(600, 300), image(602, 301);  // three scratch blocks: whole and both halves split
    pattern.fill(7);
    image.fill(9);
    qimg_windowConst p = pattern.window(), i = image.window();
    std::vector<double> out(2 * 4);
    qtest::expectAllocationFailuresClean([&] { return qsrch_DcomputeInnerProducts(&p, &i, out.data(), 4); });
    int64_t before = qsys_memory_allocationCount();
    ASSERT_EQ(qsrch_DcomputeInnerProducts(&p, &i, out.data(), 4), QSRCH_OK);
    EXPECT_EQ(qsys_memory_allocationCount() - before, 3);
    EXPECT_EQ(out[0], 600.0 * 300 * 63);
}

// Only the listed columns of each position row are written.
TEST(InnerProducts, EndpointFormWritesOnlyListedColumns)
{
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int32_t> size(1, 17);
        int32_t w = size(rng), h = size(rng) % 6 + 1, nx = size(rng), ny = size(rng) % 9 + 1;
        Image8 pattern(w, h, w + 3), image(w + nx - 1, h + ny - 1, w + nx + 6);
        pattern.randomize(rng);
        image.randomize(rng);
        uint32_t step = seed % 4 == 0 ? 0 : 1;
        std::vector<qstd_pair32> ranges;
        for (int32_t r = 0; r < ny; ++r) {
            std::uniform_int_distribution<int32_t> column(0, nx);
            int32_t a = column(rng), b = column(rng);
            ranges.push_back(r % 3 == 1 ? qstd_pair32{0, 0} : qstd_pair32{std::min(a, b), std::max(a, b)});
        }
        if (step == 0) ranges = {qstd_pair32{std::min(2, nx), std::min(5, nx)}};
        SCOPED_TRACE("seed " + std::to_string(seed) + ", step " + std::to_string(step));
        PairList list(ranges);
        qimg_windowConst p = pattern.window(), i = image.window();
        uint32_t outStride = nx + 3;
        std::vector<uint32_t> out((ny + 1) * outStride, kSentinel);
        ASSERT_EQ(qsrch_computeInnerProductsUsingEndpoints(&p, &i, out.data(), outStride, &list.v, step),
                  QSRCH_OK);
        auto listed = [&](int32_t x, int32_t y) {
            qstd_pair32 range = ranges[y * step];
            return range.first <= x && x < range.second;
        };
        expectPositions(std::vector<double>(out.begin(), out.end()), pattern, image, outStride, listed);
    }
}

// ---- Dilation of a run-length list -------------------------------------------

// Dilates `rows` (one pair per image row) for a 3 x 3 pattern over an
// image of nx + 2 columns, into a destination pre-filled with garbage.
std::vector<qstd_pair32> dilate(std::vector<qstd_pair32> rows, int32_t nx, uint32_t step = 1)
{
    PairList source(rows);
    PairList destination(std::vector<qstd_pair32>(rows.size(), qstd_pair32{7, 9}));
    int32_t imageHeight = static_cast<int32_t>(rows.size());
    EXPECT_EQ(qsrch_dilateEndpoints(&source.v, &destination.v, step, 3, 3, imageHeight, nx + 2), QSRCH_OK);
    EXPECT_EQ(source.pairs().size(), rows.size());
    return destination.pairs();
}

std::string text(const std::vector<qstd_pair32>& pairs)
{
    std::string s;
    for (const qstd_pair32& p : pairs)
        s += "(" + std::to_string(p.first) + "," + std::to_string(p.second) + ")";
    return s;
}

TEST(DilateEndpoints, WidensOwnRangeAndUnitesNeighbours)
{
    // Six position rows in eight image rows; the last two are cleared.
    EXPECT_EQ(text(dilate({{4, 5}, {4, 5}, {4, 5}, {4, 5}, {4, 5}, {4, 5}, {4, 5}, {4, 5}}, 10)),
              "(3,6)(3,6)(3,6)(3,6)(3,6)(3,6)(0,0)(0,0)");
    EXPECT_EQ(text(dilate({{0, 10}, {0, 10}, {0, 10}}, 10)), "(0,10)(0,0)(0,0)");
    // Neighbours' ranges are taken as they are, without widening.
    EXPECT_EQ(text(dilate({{1, 2}, {5, 9}, {6, 7}, {2, 3}, {0, 0}, {0, 0}}, 10)),
              "(0,9)(1,10)(2,9)(1,7)(0,0)(0,0)");
}

TEST(DilateEndpoints, EmptyRowsGrowToTheFirstColumn)
{
    EXPECT_EQ(text(dilate({{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}, 10)),
              "(0,1)(0,1)(0,1)(0,0)(0,0)");
    EXPECT_EQ(text(dilate({{0, 0}, {4, 5}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}, 10)),
              "(0,5)(0,6)(0,5)(0,1)(0,0)(0,0)");
    // No position columns: every range stays empty.
    EXPECT_EQ(text(dilate({{0, 0}, {0, 0}, {0, 0}}, 0)), "(0,0)(0,0)(0,0)");
}

TEST(DilateEndpoints, StepZeroCopiesTheSinglePair)
{
    EXPECT_EQ(text(dilate({{2, 5}, {1, 1}, {3, 3}}, 10, 0)), "(2,5)(7,9)(7,9)");
}

// Every neighbour of a listed position is listed afterwards, the list only
// grows, and a list dilated into itself gives the same result.
TEST(DilateEndpoints, ListsEveryNeighbourOnRandomLists)
{
    for (uint32_t seed = 1; seed <= 50; ++seed) {
        std::mt19937 rng(seed);
        int32_t nx = static_cast<int32_t>(rng() % 12) + 1, ny = static_cast<int32_t>(rng() % 8) + 1;
        std::vector<qstd_pair32> rows;
        for (int32_t r = 0; r < ny + 2; ++r) {
            int32_t a = static_cast<int32_t>(rng() % (nx + 1)), b = static_cast<int32_t>(rng() % (nx + 1));
            bool empty = r >= ny || a == b;
            rows.push_back(empty ? qstd_pair32{0, 0} : qstd_pair32{std::min(a, b), std::max(a, b)});
        }
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::vector<qstd_pair32> grown = dilate(rows, nx);
        auto listed = [](const qstd_pair32& p, int32_t x) { return p.first <= x && x < p.second; };
        for (int32_t r = 0; r < ny; ++r) {
            EXPECT_TRUE(grown[r].first >= 0 && grown[r].second <= nx) << "row " << r;
            for (int32_t x = 0; x < nx; ++x) {
                if (!listed(rows[r], x)) continue;
                EXPECT_TRUE(listed(grown[r], x)) << r << ", " << x;
                EXPECT_TRUE(x == 0 || listed(grown[r], x - 1)) << r << ", " << x;
                EXPECT_TRUE(x + 1 == nx || listed(grown[r], x + 1)) << r << ", " << x;
                EXPECT_TRUE(r == 0 || listed(grown[r - 1], x)) << r << ", " << x;
                EXPECT_TRUE(r + 1 == ny || listed(grown[r + 1], x)) << r << ", " << x;
            }
        }
        PairList inPlace(rows);
        ASSERT_EQ(qsrch_dilateEndpoints(&inPlace.v, &inPlace.v, 1, 3, 3, ny + 2, nx + 2), QSRCH_OK);
        std::vector<qstd_pair32> same = inPlace.pairs();
        for (size_t k = 0; k < rows.size(); ++k)
            EXPECT_TRUE(same[k].first == grown[k].first && same[k].second == grown[k].second) << "row " << k;
    }
}

}  // namespace

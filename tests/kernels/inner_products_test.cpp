// Inner products against the brute force on both paths, the endpoint form's
// listed columns, switching one kernel's optimized path, and the run-length
// list dilation.
#include "kernels/internal.hpp"
#include "support/test_support.hpp"

namespace {

using namespace qtest;

bool listed(const qstd_pair32& range, int64_t x) { return range.first <= x && x < range.second; }

const std::vector<Kernel> kKernels = {
    {"computeInnerProducts", u"qsrch_innerProducts", kIntegerLimit, {kIp},
     [](const KernelCase& c, Outputs& o) {
         return qsrch_computeInnerProducts(&c.p, &c.i, o.u[0].data(), c.outStride);
     }},
    {"DcomputeInnerProducts", u"qsrch_DinnerProducts", kDoubleLast, {kIp},
     [](const KernelCase& c, Outputs& o) {
         return qsrch_DcomputeInnerProducts(&c.p, &c.i, o.d.data(), c.outStride);
     }},
    // Step 0: the one range for every row.
    {"computeInnerProductsUsingEndpoints", u"qsrch_innerProductsUsingEndpoints", kIntegerLimit | kAlwaysPolls,
     {kIp},
     [](const KernelCase& c, Outputs& o) {
         qstd_pair32 all{0, std::max(c.nx, 0)};
         const qstd_vector_qstd_pair32 list{&all, 1, 1};  // no allocation of its own
         return qsrch_computeInnerProductsUsingEndpoints(&c.p, &c.i, o.u[0].data(), c.outStride, &list, 0);
     }},
};

QTEST_KERNEL_PROPERTIES(InnerProducts, kKernels)

// Position row r computes the columns of pair r * step, nothing else.
TEST_P(InnerProducts, EndpointFormWritesOnlyListedColumns)
{
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const int w = pick(1, 17), h = pick(1, 6), step = seed % 4 == 0 ? 0 : 1;
        const KernelCase c(rng, w, h, w + pick(0, seed % 2 ? 16 : 80), h + pick(0, 8), 1, 1, 3);
        std::vector<qstd_pair32> ranges;
        for (int r = 0; r < c.ny; ++r) {
            const int a = pick(0, c.nx), b = pick(0, c.nx);
            ranges.push_back(r % 3 == 1 ? qstd_pair32{0, 0} : qstd_pair32{std::min(a, b), std::max(a, b)});
        }
        SCOPED_TRACE(testing::Message() << "seed " << seed << ", " << c.describe());
        const PairList list(ranges);
        Outputs o(c);
        ASSERT_EQ(qsrch_computeInnerProductsUsingEndpoints(&c.p, &c.i, o.u[0].data(), c.outStride, list.get(),
                                                           step),
                  QSRCH_OK);
        const std::vector<WindowStats>& ref = c.reference(0);
        expectOutput(o.u[0], c.outStride, c.nx, c.ny, [&](int64_t x, int64_t y) {
            return listed(ranges[y * step], x) ? ref[y * c.nx + x][kIp] : kSentinel;
        });
    }
}

// Tall patterns over wide images: the seams of the optimized path's column strips must not show.
TEST_P(InnerProducts, TallPatternsOverWideImages)
{
    std::mt19937 rng(3);
    const KernelCase c(rng, 3, 1500, 200, 1502, 1, 1, 5);
    for (const Kernel& k : kKernels) k.expectExact(c);
}

// Forbidding "qsrch_innerProducts" turns only the integer form generic: the
// double form's variant still shows in its scratch, which generic loops never take.
TEST(InnerProductsSwitch, ForbiddingTheIntegerKernelLeavesTheDoubleOne)
{
    if (genericOnlyRun) GTEST_SKIP() << "this run forbids every optimized path";
    struct Shape { int w, h, W, H; int64_t integerAllocations, doubleAllocations; };
    for (const Shape s : {Shape{5, 3, 6, 4, 0, 0}, {5, 3, 14, 12, 0, 1}, {8, 8, 600, 12, 1, 2}}) {
        std::mt19937 rng(s.W);
        const KernelCase c(rng, s.w, s.h, s.W, s.H, 1, 1, 2);
        SCOPED_TRACE(c.describe());
        auto allocations = [&](const Kernel& k) {
            const int64_t before = qsys_memory_allocationCount();
            k.expectExact(c);
            return qsys_memory_allocationCount() - before;
        };
        EXPECT_EQ(allocations(kKernels[0]), s.integerAllocations);
        InhibitSwitch inhibit({u"qsrch_innerProducts"});
        EXPECT_EQ(allocations(kKernels[0]), 0);
        EXPECT_EQ(allocations(kKernels[1]), s.doubleAllocations);
        EXPECT_EQ(inhibit.asked(), (std::vector<std::u16string>{u"qsrch_innerProducts", u"qsrch_DinnerProducts"}));
    }
}

// Dilates one pair per image row for a 3 x 3 pattern into a destination of garbage.
std::string dilate(const std::vector<qstd_pair32>& rows, int32_t nx, uint32_t step = 1)
{
    const PairList source(rows);
    PairList destination(std::vector<qstd_pair32>(rows.size(), qstd_pair32{7, 9}));
    const int32_t height = int32_t(rows.size());
    EXPECT_EQ(qsrch_dilateEndpoints(source.get(), destination.get(), step, 3, 3, height, nx + 2), QSRCH_OK);
    std::string s;
    for (const qstd_pair32& p : destination.pairs())
        s += "(" + std::to_string(p.first) + "," + std::to_string(p.second) + ")";
    return s;
}

TEST(DilateEndpoints, Examples)
{
    // Six position rows in eight image rows; the last two are cleared; neighbours' ranges are not widened.
    EXPECT_EQ(dilate(std::vector<qstd_pair32>(8, {4, 5}), 10), "(3,6)(3,6)(3,6)(3,6)(3,6)(3,6)(0,0)(0,0)");
    EXPECT_EQ(dilate({{0, 10}, {0, 10}, {0, 10}}, 10), "(0,10)(0,0)(0,0)");
    EXPECT_EQ(dilate({{1, 2}, {5, 9}, {6, 7}, {2, 3}, {0, 0}, {0, 0}}, 10), "(0,9)(1,10)(2,9)(1,7)(0,0)(0,0)");
    // Empty rows grow to the first column, except with no columns at all.
    EXPECT_EQ(dilate(std::vector<qstd_pair32>(5, {0, 0}), 10), "(0,1)(0,1)(0,1)(0,0)(0,0)");
    EXPECT_EQ(dilate({{0, 0}, {4, 5}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}, 10), "(0,5)(0,6)(0,5)(0,1)(0,0)(0,0)");
    EXPECT_EQ(dilate({{0, 0}, {0, 0}, {0, 0}}, 0), "(0,0)(0,0)(0,0)");
    EXPECT_EQ(dilate({{2, 5}, {1, 1}, {3, 3}}, 10, 0), "(2,5)(7,9)(7,9)");  // step 0 copies the single pair
}

// The four neighbours of a listed position are listed afterwards, inside
// the grid, and a list dilated into itself gives the same.
TEST(DilateEndpoints, ListsEveryNeighbourOnRandomLists)
{
    for (unsigned seed = 1; seed <= 50; ++seed) {
        std::mt19937 rng(seed);
        const int32_t nx = int32_t(rng() % 12) + 1, ny = int32_t(rng() % 8) + 1;
        std::vector<qstd_pair32> rows;
        for (int32_t r = 0; r < ny + 2; ++r) {
            const int32_t a = int32_t(rng() % (nx + 1)), b = int32_t(rng() % (nx + 1));
            rows.push_back(r >= ny || a == b ? qstd_pair32{0, 0} : qstd_pair32{std::min(a, b), std::max(a, b)});
        }
        SCOPED_TRACE("seed " + std::to_string(seed));
        const PairList source(rows);
        PairList grown(rows), inPlace(rows);
        ASSERT_EQ(qsrch_dilateEndpoints(source.get(), grown.get(), 1, 3, 3, ny + 2, nx + 2), QSRCH_OK);
        ASSERT_EQ(qsrch_dilateEndpoints(inPlace.get(), inPlace.get(), 1, 3, 3, ny + 2, nx + 2), QSRCH_OK);
        const std::vector<qstd_pair32> g = grown.pairs(), same = inPlace.pairs();
        for (int32_t r = 0; r < ny + 2; ++r) {
            EXPECT_TRUE(same[r].first == g[r].first && same[r].second == g[r].second) << "row " << r;
            if (r >= ny) continue;
            EXPECT_TRUE(g[r].first >= 0 && g[r].second <= nx) << "row " << r;
            for (int32_t x = 0; x < nx; ++x)
                for (const auto& d : {std::array{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}}) {
                    const int32_t nr = r + d[1], nc = x + d[0];
                    if (!listed(rows[r], x) || nr < 0 || nr >= ny || nc < 0 || nc >= nx) continue;
                    EXPECT_TRUE(listed(g[nr], nc)) << "(" << x << ", " << r << ") to (" << nc << ", " << nr << ")";
                }
        }
    }
}

}  // namespace

// Inner products against the brute force on both paths, and the run-length list dilation.
#include "kernels/internal.hpp"
#include "support/test_support.hpp"

namespace {

using namespace qtest;

const std::vector<Kernel> kKernels = {
    {"computeInnerProducts", u"qsrch_innerProducts", kIntegerLimit, {kIp},
     [](auto& c, auto& o) { return qsrch_computeInnerProducts(&c.p, &c.i, o.u[0].data(), c.outStride); }},
    {"DcomputeInnerProducts", u"qsrch_DinnerProducts", kDoubleLast, {kIp},
     [](auto& c, auto& o) { return qsrch_DcomputeInnerProducts(&c.p, &c.i, o.d.data(), c.outStride); }},
    {"computeInnerProductsUsingEndpoints", u"qsrch_innerProductsUsingEndpoints", kIntegerLimit | kAlwaysPolls, {kIp},
     [](auto& c, auto& o) {
         qstd_pair32 all{0, std::max(c.nx, 0)};  // step 0: the one range for every row
         const qstd_vector_qstd_pair32 list{&all, 1, 1};
         return qsrch_computeInnerProductsUsingEndpoints(&c.p, &c.i, o.u[0].data(), c.outStride, &list, 0);
     }},
};

QTEST_KERNEL_PROPERTIES(InnerProducts, kKernels)

// Position row r computes the columns of pair r * step, nothing else; tall
// patterns over wide images show no seams between the optimized column strips.
TEST_P(InnerProducts, EndpointFormWritesOnlyListedColumns)
{
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const int w = pick(1, 17), h = pick(1, 6), step = seed % 4 == 0 ? 0 : 1;
        const KernelCase c(rng, w, h, w + pick(0, seed % 2 ? 16 : 80), h + pick(0, 8), 1, 1, 3);
        std::vector<qstd_pair32> ranges;
        for (int r = 0, a = pick(0, c.nx), b = pick(0, c.nx); r < c.ny; ++r, a = pick(0, c.nx), b = pick(0, c.nx))
            ranges.push_back(r % 3 == 1 ? qstd_pair32{0, 0} : qstd_pair32{std::min(a, b), std::max(a, b)});
        SCOPED_TRACE(testing::Message() << "seed " << seed << ", " << c.describe());
        Outputs o(c);
        ASSERT_EQ(qsrch_computeInnerProductsUsingEndpoints(&c.p, &c.i, o.u[0].data(), c.outStride,
                                                           PairList(ranges).get(), step), QSRCH_OK);
        expectOutput(o.u[0], c.outStride, c.nx, c.ny, [&](int64_t x, int64_t y) {
            const qstd_pair32& r = ranges[y * step];
            return r.first <= x && x < r.second ? c.reference(0)[y * c.nx + x][kIp] : kSentinel;
        });
    }
    std::mt19937 rng(3);
    for (const Kernel& k : kKernels) k.expectExact(KernelCase(rng, 3, 1500, 200, 1502, 1, 1, 5));
}

// Dilates one pair per image row for a 3 x 3 pattern into a destination of garbage, and in place alike.
std::string dilate(const std::vector<qstd_pair32>& rows, int32_t nx, uint32_t step = 1)
{
    PairList destination(std::vector<qstd_pair32>(rows.size(), qstd_pair32{7, 9})), inPlace(rows);
    const int32_t h = int32_t(rows.size());
    EXPECT_EQ(qsrch_dilateEndpoints(PairList(rows).get(), destination.get(), step, 3, 3, h, nx + 2), QSRCH_OK);
    EXPECT_EQ(qsrch_dilateEndpoints(inPlace.get(), inPlace.get(), step, 3, 3, h, nx + 2), QSRCH_OK);
    std::string text[2];
    for (int k = 0; k < 2; ++k)
        for (const qstd_pair32& p : (k ? inPlace : destination).pairs())
            text[k] += "(" + std::to_string(p.first) + "," + std::to_string(p.second) + ")";
    EXPECT_TRUE(step == 0 || text[0] == text[1]) << "in place: " << text[1];
    return text[0];
}

// Each row the hull of its own range widened by one (within the nx positions) and its neighbours' ranges.
TEST(DilateEndpoints, Examples)
{
    // Four position rows in six image rows, the last two cleared; empty rows grow to the first column.
    EXPECT_EQ(dilate({{1, 2}, {5, 10}, {6, 7}, {2, 3}, {0, 0}, {0, 0}}, 10), "(0,10)(1,10)(2,10)(1,7)(0,0)(0,0)");
    EXPECT_EQ(dilate(std::vector<qstd_pair32>(5, {0, 0}), 10), "(0,1)(0,1)(0,1)(0,0)(0,0)");
    EXPECT_EQ(dilate({{0, 0}, {4, 5}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}, 10), "(0,5)(0,6)(0,5)(0,1)(0,0)(0,0)");
    EXPECT_EQ(dilate({{0, 0}, {0, 0}, {0, 0}}, 0), "(0,0)(0,0)(0,0)");  // no columns at all
    EXPECT_EQ(dilate({{2, 5}, {1, 1}, {3, 3}}, 10, 0), "(2,5)(7,9)(7,9)");  // step 0 copies the single pair
}

}  // namespace

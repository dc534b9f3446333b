// The bounded result list against a plain reference that looks up the weakest result afresh on
// every insertion, on random streams with near duplicates, overlaps, ties and zero scores.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "run/search_internal.hpp"
#include "support/test_support.hpp"

namespace {

using Peak = qsrch_detectedPosePeak;

struct Reference {
    std::vector<Peak> list;
    size_t numToFind;
    float confusion, overlap;
    double pw, ph;

    size_t lowest() const
    {
        auto byScore = [](const Peak& a, const Peak& b) { return a.score < b.score; };
        return std::min_element(list.begin(), list.end(), byScore) - list.begin();
    }
    void insert(const Peak& c)
    {
        if (c.score == 0 || (list.size() >= numToFind && c.score <= list[lowest()].score)) return;
        int match = -1;
        double best = 0;
        for (size_t i = 0; i < list.size(); ++i) {
            const double dx = std::fabs(list[i].pose.trans.x - c.pose.trans.x);
            const double dy = std::fabs(list[i].pose.trans.y - c.pose.trans.y);
            const double area = std::max(0.0, pw - dx) * std::max(0.0, ph - dy);
            const double limit = double(float(float(pw) * overlap * float(ph)));
            const bool near = (dx <= 1 && dy <= 1) || (overlap < 1 && area > limit);
            if (near && (match < 0 || dx * dx + dy * dy < best)) match = int(i), best = dx * dx + dy * dy;
        }
        if (match >= 0) list[match] = list[match].score < c.score ? c : list[match];
        else if (list.size() < numToFind) list.push_back(c);
        else list[lowest()] = c;
    }
    bool settled() const
    {
        return size_t(std::count_if(list.begin(), list.end(), [&](const Peak& p) { return p.score >= confusion; })) >=
               numToFind;
    }
};

TEST(ResultList, MatchesTheReferenceOnRandomCandidateStreams)
{
    for (unsigned seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        std::uniform_real_distribution<double> u(0, 1);
        qsrch_normcorr_runParams params;
        ASSERT_EQ(qsrch_normcorr_runParams_init(&params), QSRCH_OK);
        params.numToFind = pick(1, 5);
        params.confusionThreshold = float(pick(0, 4)) / 4;
        params.overlapFraction = seed % 3 == 0 ? 1.0f : float(pick(0, 3)) / 4;
        const int32_t pw = pick(2, 6), ph = pick(2, 6);
        qtest::PeakVector list;
        qsrch::ResultList results(list.get(), params, pw, ph);
        Reference reference{{}, size_t(params.numToFind), params.confusionThreshold, params.overlapFraction, double(pw),
                            double(ph)};
        for (int n = pick(1, 40); n > 0 && !reference.settled(); --n) {
            Peak c{};  // on a small field of positions, so that duplicates and overlaps are common
            c.pose.matrix.a11 = c.pose.matrix.a22 = 1;
            c.pose.trans.x = pick(0, 8) + 0.5 * pick(0, 2), c.pose.trans.y = pick(0, 8) + 0.5 * pick(0, 2);
            c.score = pick(0, 9) == 0 ? 0.0 : pick(0, 4) == 0 ? 0.5 : u(rng);
            ASSERT_EQ(results.insert(c), QSRCH_OK);
            reference.insert(c);
            ASSERT_EQ(results.settled(), reference.settled());
        }
        std::vector<std::array<double, 3>> held, expected;
        for (size_t i = 0; i < list.size(); ++i)
            held.push_back({list[i].score, list[i].pose.trans.x, list[i].pose.trans.y});
        for (const Peak& p : reference.list) expected.push_back({p.score, p.pose.trans.x, p.pose.trans.y});
        ASSERT_EQ(held, expected);
        // Once the list is full the rank score is its numToFind-th best, and the list is sorted.
        float rank = 0;
        const size_t n = reference.numToFind;
        ASSERT_EQ(results.rankScore(&rank), QSRCH_OK);
        std::sort(expected.rbegin(), expected.rend());
        EXPECT_EQ(rank, expected.size() >= n ? float(expected[n - 1][0]) : -1.0f);
        for (size_t i = 1; i < list.size() && list.size() >= n; ++i) EXPECT_GE(list[i - 1].score, list[i].score);
    }
}

}  // namespace

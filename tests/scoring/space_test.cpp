// Score spaces from statistics planes of real pixels against the score of
// each position on its own, run-length rows, empty spaces and the names
// offered to the inhibit query.
#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "reference.hpp"

namespace {

using Params = qsrch_normalizedCorrelationParams;
using qtest::Image8;

constexpr double kSentinel = -12345.5;

// A plane of one statistic at its own stride, garbage in the row slack.
template <class T>
struct Plane {
    int32_t stride;
    std::vector<T> v;
    Plane(int32_t nx, int32_t ny, int32_t slack, T fill) : stride(nx + slack), v(size_t(stride) * ny, fill) {}
    T& at(int32_t x, int32_t y) { return v[size_t(y) * stride + x]; }
    T at(int32_t x, int32_t y) const { return v[size_t(y) * stride + x]; }
};

// Every statistics plane of a pattern over an image with a pattern or its
// inverse planted in it; `masked` adds a runtime mask on the image.
struct SpaceCase {
    int32_t nx, ny;
    Image8 pattern, image, care;
    bool masked;
    Plane<uint32_t> N{nx, ny, 1, 0xDEADBEEF}, Sp{nx, ny, 1, 0xDEADBEEF}, Spp{nx, ny, 1, 0xDEADBEEF};
    Plane<uint32_t> Si{nx, ny, 3, 0xDEADBEEF}, Sii{nx, ny, 3, 0xDEADBEEF}, IP{nx, ny, 5, 0xDEADBEEF};
    Plane<double> SppD{nx, ny, 1, 1e300}, SiiD{nx, ny, 3, 1e300}, IPD{nx, ny, 5, 1e300};

    SpaceCase(std::mt19937& rng, int32_t w, int32_t h, int32_t nx_, int32_t ny_, bool masked_)
        : nx(nx_),
          ny(ny_),
          pattern(w, h),
          image(nx_ + w - 1, ny_ + h - 1),
          care(image.width(), image.height()),
          masked(masked_)
    {
        pattern.randomize(rng);
        image.randomize(rng);
        care.randomMask(rng, 0.8);
        std::uniform_int_distribution<int32_t> px(0, nx - 1), py(0, ny - 1);
        for (int k = 0; k < 2; ++k) {  // the pattern, then its inverse
            const int32_t x0 = px(rng), y0 = py(rng);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    image.at(x0 + x, y0 + y) = uint8_t(k == 0 ? pattern.at(x, y) : 255 - pattern.at(x, y));
        }
        for (int32_t y = 0; y < ny; ++y)
            for (int32_t x = 0; x < nx; ++x) {
                const qtest::Stats s =
                    qtest::Placement{&pattern, &image, masked ? &care : nullptr, x, y}.stats();
                N.at(x, y) = uint32_t(s.N), Sp.at(x, y) = uint32_t(s.Sp), Spp.at(x, y) = uint32_t(s.Spp);
                Si.at(x, y) = uint32_t(s.Si), Sii.at(x, y) = uint32_t(s.Sii), IP.at(x, y) = uint32_t(s.IP);
                SppD.at(x, y) = double(s.Spp), SiiD.at(x, y) = double(s.Sii), IPD.at(x, y) = double(s.IP);
            }
    }
    qtest::Stats whole() const { return qtest::Placement{&pattern, &pattern}.stats(); }
};

struct Call {
    uint32_t patternWidth, patternHeight, width;
    int32_t height;
    const qstd_vector_qstd_pair32* endpoints;
    double* scores;
    int32_t scoresStride;
};

struct Form {
    const char* name;
    const char16_t* small;
    const char16_t* big;
    bool runtimeMasked, doubleStats, endpoints;
    qsrch_status (*run)(const SpaceCase&, const Params&, const Call&);
};

const Form kForms[] = {
    {"DcomputeNormalizedCorrelation", u"qsrch_DnormalizedCorrelationSmall",
     u"qsrch_DnormalizedCorrelationBig", false, true, false,
     [](const SpaceCase& c, const Params& p, const Call& k) {
         const qtest::Stats s = c.whole();
         return qsrch_DcomputeNormalizedCorrelation(
             k.patternWidth, k.patternHeight, s.N, s.Sp, s.Spp, k.width, k.height, c.Si.v.data(),
             c.SiiD.v.data(), c.Si.stride, c.IPD.v.data(), c.IPD.stride, &p, k.scores, k.scoresStride);
     }},
    {"computeNormalizedCorrelation", u"qsrch_normalizedCorrelationSmall", u"qsrch_normalizedCorrelationBig",
     false, false, false,
     [](const SpaceCase& c, const Params& p, const Call& k) {
         const qtest::Stats s = c.whole();
         return qsrch_computeNormalizedCorrelation(k.patternWidth, k.patternHeight, s.N, s.Sp, s.Spp, k.width,
                                                   k.height, c.Si.v.data(), c.Sii.v.data(), c.Si.stride,
                                                   c.IP.v.data(), c.IP.stride, &p, k.scores, k.scoresStride);
     }},
    {"DcomputeNormalizedCorrelationRuntimeMasked", u"qsrch_DnormalizedCorrelationRuntimeMaskedSmall",
     u"qsrch_DnormalizedCorrelationRuntimeMaskedBig", true, true, false,
     [](const SpaceCase& c, const Params& p, const Call& k) {
         return qsrch_DcomputeNormalizedCorrelationRuntimeMasked(
             k.patternWidth, k.patternHeight, c.N.v.data(), c.Sp.v.data(), c.SppD.v.data(), c.N.stride,
             k.width, k.height, c.Si.v.data(), c.SiiD.v.data(), c.Si.stride, c.IPD.v.data(), c.IPD.stride, &p,
             k.scores, k.scoresStride);
     }},
    {"computeNormalizedCorrelationRuntimeMasked", u"qsrch_normalizedCorrelationRuntimeMaskedSmall",
     u"qsrch_normalizedCorrelationRuntimeMaskedBig", true, false, false,
     [](const SpaceCase& c, const Params& p, const Call& k) {
         return qsrch_computeNormalizedCorrelationRuntimeMasked(
             k.patternWidth, k.patternHeight, c.N.v.data(), c.Sp.v.data(), c.Spp.v.data(), c.N.stride,
             k.width, k.height, c.Si.v.data(), c.Sii.v.data(), c.Si.stride, c.IP.v.data(), c.IP.stride, &p,
             k.scores, k.scoresStride);
     }},
    {"computeNormalizedCorrelationUsingEndpoints", u"qsrch_normalizedCorrelationSmallUsingEndpoints",
     u"qsrch_normalizedCorrelationBigUsingEndpoints", false, false, true,
     [](const SpaceCase& c, const Params& p, const Call& k) {
         const qtest::Stats s = c.whole();
         return qsrch_computeNormalizedCorrelationUsingEndpoints(
             k.patternWidth, k.patternHeight, k.endpoints, 1, s.N, s.Sp, s.Spp, k.width, k.height,
             c.Si.v.data(), c.Sii.v.data(), c.Si.stride, c.IP.v.data(), c.IP.stride, &p, k.scores,
             k.scoresStride);
     }},
    {"computeNormalizedCorrelationRuntimeMaskedUsingEndpoints",
     u"qsrch_normalizedCorrelationRuntimeMaskedSmallUsingEndpoints",
     u"qsrch_normalizedCorrelationRuntimeMaskedBigUsingEndpoints", true, false, true,
     [](const SpaceCase& c, const Params& p, const Call& k) {
         return qsrch_computeNormalizedCorrelationRuntimeMaskedUsingEndpoints(
             k.patternWidth, k.patternHeight, c.N.v.data(), c.Sp.v.data(), c.Spp.v.data(), c.N.stride,
             k.width, k.height, c.Si.v.data(), c.Sii.v.data(), c.Si.stride, c.IP.v.data(), c.IP.stride, &p,
             k.scores, k.scoresStride, k.endpoints, 1);
     }},
};

// A run-length list owned by the test.
struct Endpoints {
    qstd_vector_qstd_pair32 v{};
    explicit Endpoints(const std::vector<qstd_pair32>& pairs)
    {
        EXPECT_EQ(qstd_vector_qstd_pair32_construct(&v, pairs.size()), QSYS_OK);
        std::copy(pairs.begin(), pairs.end(), v.begin);
    }
    ~Endpoints() { qstd_vector_qstd_pair32_destruct(&v); }
    static Endpoints fullRows(int32_t nx, int32_t ny)
    {
        return Endpoints(std::vector<qstd_pair32>(ny, {0, nx}));
    }
};

// The score of position (x, y) on its own.
double positionScore(const Form& f, const SpaceCase& c, const Params& p, int32_t x, int32_t y)
{
    const qtest::Stats whole = c.whole();
    const uint32_t n = f.runtimeMasked ? c.N.at(x, y) : uint32_t(whole.N);
    const uint32_t sp = f.runtimeMasked ? c.Sp.at(x, y) : uint32_t(whole.Sp);
    const uint32_t spp = f.runtimeMasked ? c.Spp.at(x, y) : uint32_t(whole.Spp);
    double s = kSentinel;
    if (f.doubleStats)
        qsrch_DscoreFromStats(&p, n, sp, spp, c.IPD.at(x, y), c.Si.at(x, y), c.SiiD.at(x, y), &s);
    else
        qsrch_scoreFromStats(&p, n, sp, spp, c.IP.at(x, y), c.Si.at(x, y), c.Sii.at(x, y), &s);
    return s;
}

// Runs a form over the whole space (full rows for the endpoint forms).
Plane<double> runSpace(const Form& f, const SpaceCase& c, const Params& p, uint32_t pw = 3, uint32_t ph = 3)
{
    Plane<double> scores(c.nx, c.ny, 2, kSentinel);
    Endpoints rows = Endpoints::fullRows(c.nx, c.ny);
    EXPECT_EQ(f.run(c, p, {pw, ph, uint32_t(c.nx), c.ny, &rows.v, scores.v.data(), scores.stride}), QSRCH_OK);
    return scores;
}

void expectSlackUntouched(const Plane<double>& scores, int32_t nx, int32_t ny)
{
    for (int32_t y = 0; y < ny; ++y)
        for (int32_t x = nx; x < scores.stride; ++x) ASSERT_EQ(scores.at(x, y), kSentinel) << x << "," << y;
}

TEST(CorrelationSpace, EveryFormMatchesPerPositionScore)
{
    std::mt19937 rng(11);
    for (int32_t nx : {1, 7, 8, 9, 15, 16, 17, 31})
        for (int32_t ny : {1, 4}) {
            const int32_t w = 1 + int32_t(rng() % 6), h = 1 + int32_t(rng() % 6);
            const SpaceCase plain(rng, w, h, nx, ny, false), masked(rng, w, h, nx, ny, true);
            for (const Form& f : kForms)
                for (const auto& mode : qtest::allModes()) {
                    SCOPED_TRACE(std::string(f.name) + ", " + mode.name + ", " + std::to_string(nx) + "x" +
                                 std::to_string(ny) + ", pattern " + std::to_string(w) + "x" +
                                 std::to_string(h));
                    const SpaceCase& c = f.runtimeMasked ? masked : plain;
                    const Plane<double> scores = runSpace(f, c, mode.params);
                    // Only the integer one-triple covariance multiplies by a reciprocal.
                    const bool rounded = mode.params.covarianceScore && !f.runtimeMasked && !f.doubleStats;
                    for (int32_t y = 0; y < ny; ++y)
                        for (int32_t x = 0; x < nx; ++x) {
                            const double expected = positionScore(f, c, mode.params, x, y);
                            if (rounded)
                                ASSERT_NEAR(scores.at(x, y), expected, 1e-15 * std::fabs(expected))
                                    << x << "," << y;
                            else
                                ASSERT_EQ(scores.at(x, y), expected) << x << "," << y;
                        }
                    expectSlackUntouched(scores, nx, ny);
                }
        }
}

TEST(CorrelationSpace, EndpointRowsScoreOnlyTheirRun)
{
    for (uint32_t seed = 0; seed < 40; ++seed) {
        std::mt19937 rng(seed);
        const int32_t nx = 1 + int32_t(rng() % 31), ny = 1 + int32_t(rng() % 8);
        SCOPED_TRACE("seed " + std::to_string(seed));
        const SpaceCase c(rng, 4, 3, nx, ny, true);
        std::uniform_int_distribution<int32_t> column(-3, nx + 3);
        std::vector<qstd_pair32> pairs;
        for (int32_t y = 0; y < ny; ++y)
            pairs.push_back({column(rng), column(rng)});  // empty and reversed too
        pairs[0] = {2, 2};
        if (seed % 4 == 0) pairs.resize(size_t(ny) / 2);  // rows past the list score nothing
        const Endpoints endpoints(pairs);
        for (const Form& f : kForms) {
            if (!f.endpoints) continue;
            SCOPED_TRACE(f.name);
            const Params p = qtest::scoreParams(0, 0, 0);
            const Plane<double> full = runSpace(f, c, p);
            Plane<double> scores(nx, ny, 2, kSentinel);
            ASSERT_EQ(f.run(c, p, {4, 3, uint32_t(nx), ny, &endpoints.v, scores.v.data(), scores.stride}),
                      QSRCH_OK);
            for (int32_t y = 0; y < ny; ++y)
                for (int32_t x = 0; x < nx; ++x) {
                    const bool inRun = size_t(y) < pairs.size() && x >= pairs[y].first && x < pairs[y].second;
                    ASSERT_EQ(scores.at(x, y), inRun ? full.at(x, y) : 0.0) << x << "," << y;
                }
            expectSlackUntouched(scores, nx, ny);
        }
    }
}

TEST(CorrelationSpace, EmptySpacesWriteNothing)
{
    std::mt19937 rng(5);
    const SpaceCase c(rng, 3, 3, 9, 4, true);
    const Endpoints rows = Endpoints::fullRows(9, 4);
    struct Size {
        uint32_t width;
        int32_t height;
    } sizes[] = {{9, 0}, {9, -3}, {0, 4}, {0x80000000u, 4}};
    for (const Form& f : kForms)
        for (const Size& s : sizes) {
            SCOPED_TRACE(std::string(f.name) + " " + std::to_string(s.width) + "x" +
                         std::to_string(s.height));
            Plane<double> scores(9, 4, 2, kSentinel);
            EXPECT_EQ(f.run(c, qtest::scoreParams(0, 0, 0),
                            {3, 3, s.width, s.height, &rows.v, scores.v.data(), 11}),
                      QSRCH_OK);
            EXPECT_TRUE(
                std::all_of(scores.v.begin(), scores.v.end(), [](double v) { return v == kSentinel; }));
        }
}

// Size names come from the signed 32-bit product of the pattern's sides.
TEST(CorrelationSpace, OffersSmallOrBigNameAndInhibitionChangesNothing)
{
    std::mt19937 rng(9);
    const SpaceCase c(rng, 3, 3, 17, 3, true);
    struct Size {
        uint32_t w, h;
        bool small;
    } sizes[] = {{16, 16, true},           {16, 17, false},
                 {256, 1, true},           {1, 257, false},
                 {0x10000, 0x10000, true}, {0x10000, 0x10001, false},
                 {0x8000, 0x10000, true},  {0xFFFFFFFFu, 0xFFFFFFFFu, true}};
    for (const Form& f : kForms)
        for (const Size& s : sizes) {
            SCOPED_TRACE(std::string(f.name) + " " + std::to_string(s.w) + "x" + std::to_string(s.h));
            const Plane<double> free = runSpace(f, c, qtest::scoreParams(1, 0, 0), s.w, s.h);
            qtest::InhibitSwitch inhibit;
            const Plane<double> inhibited = runSpace(f, c, qtest::scoreParams(1, 0, 0), s.w, s.h);
            ASSERT_EQ(inhibit.asked().size(), 1u);
            EXPECT_TRUE(inhibit.asked()[0] == (s.small ? f.small : f.big));
            EXPECT_EQ(free.v, inhibited.v);
        }
}

}  // namespace

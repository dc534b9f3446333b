// Score spaces from statistics planes of real pixels against the score of
// each position on its own, run-length rows, empty spaces and the names
// offered to the inhibit query.
#include "reference.hpp"

namespace {

using Params = qsrch_normalizedCorrelationParams;
using qtest::Image8;

constexpr double kUnwritten = -12345.5;

// A plane of one statistic at its own stride, garbage in the row slack.
template <class T>
struct Plane {
    int32_t stride;
    std::vector<T> v;
    Plane(int32_t nx, int32_t ny, int32_t slack, T fill) : stride(nx + slack), v(size_t(stride) * ny, fill) {}
    T& at(int32_t x, int32_t y) { return v[size_t(y) * stride + x]; }
    T at(int32_t x, int32_t y) const { return v[size_t(y) * stride + x]; }
};

// Every statistics plane of a pattern over an image with the pattern and its
// inverse planted in it; `masked` adds a runtime mask on the image.
struct SpaceCase {
    int32_t nx, ny;
    Image8 pattern, image, care;
    Plane<uint32_t> N{nx, ny, 1, 0xDEADBEEF}, Sp{nx, ny, 1, 0xDEADBEEF}, Spp{nx, ny, 1, 0xDEADBEEF};
    Plane<uint32_t> Si{nx, ny, 3, 0xDEADBEEF}, Sii{nx, ny, 3, 0xDEADBEEF}, IP{nx, ny, 5, 0xDEADBEEF};
    Plane<double> SppD{nx, ny, 1, 1e300}, SiiD{nx, ny, 3, 1e300}, IPD{nx, ny, 5, 1e300};
    qtest::Stats whole;

    SpaceCase(std::mt19937& rng, int32_t w, int32_t h, int32_t nx_, int32_t ny_, bool masked)
        : nx(nx_), ny(ny_), pattern(w, h), image(nx_ + w - 1, ny_ + h - 1), care(image.width(), image.height())
    {
        pattern.randomize(rng);
        image.randomize(rng);
        care.randomMask(rng, 0.8);
        for (int k = 0; k < 2; ++k) {
            const int32_t x0 = int32_t(rng() % nx), y0 = int32_t(rng() % ny);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    image.at(x0 + x, y0 + y) = uint8_t(k == 0 ? pattern.at(x, y) : 255 - pattern.at(x, y));
        }
        whole = qtest::Placement{&pattern, &pattern}.stats();
        for (int32_t y = 0; y < ny; ++y)
            for (int32_t x = 0; x < nx; ++x) {
                const qtest::Stats s = qtest::Placement{&pattern, &image, masked ? &care : nullptr, x, y}.stats();
                N.at(x, y) = uint32_t(s.N), Sp.at(x, y) = uint32_t(s.Sp), Spp.at(x, y) = uint32_t(s.Spp);
                Si.at(x, y) = uint32_t(s.Si), Sii.at(x, y) = uint32_t(s.Sii), IP.at(x, y) = uint32_t(s.IP);
                SppD.at(x, y) = double(s.Spp), SiiD.at(x, y) = double(s.Sii), IPD.at(x, y) = double(s.IP);
            }
    }
};

struct Call {
    uint32_t pw, ph, width;
    int32_t height;
    const qstd_vector_qstd_pair32* endpoints;
    double* scores;
    int32_t stride;
};

struct Form {
    const char* name;
    const char16_t *small, *big;  // the names offered to the inhibit query
    bool runtimeMasked, doubleStats, endpoints;
    qsrch_status (*run)(const SpaceCase&, const Params&, const Call&);
};

const Form kForms[] = {
    {"DcomputeNormalizedCorrelation", u"qsrch_DnormalizedCorrelationSmall", u"qsrch_DnormalizedCorrelationBig",
     false, true, false,
     [](const SpaceCase& c, const Params& p, const Call& k) {
         return qsrch_DcomputeNormalizedCorrelation(k.pw, k.ph, c.whole.N, c.whole.Sp, c.whole.Spp, k.width,
                                                    k.height, c.Si.v.data(), c.SiiD.v.data(), c.Si.stride,
                                                    c.IPD.v.data(), c.IPD.stride, &p, k.scores, k.stride);
     }},
    {"computeNormalizedCorrelation", u"qsrch_normalizedCorrelationSmall", u"qsrch_normalizedCorrelationBig", false,
     false, false,
     [](const SpaceCase& c, const Params& p, const Call& k) {
         return qsrch_computeNormalizedCorrelation(k.pw, k.ph, c.whole.N, c.whole.Sp, c.whole.Spp, k.width,
                                                   k.height, c.Si.v.data(), c.Sii.v.data(), c.Si.stride,
                                                   c.IP.v.data(), c.IP.stride, &p, k.scores, k.stride);
     }},
    {"DcomputeNormalizedCorrelationRuntimeMasked", u"qsrch_DnormalizedCorrelationRuntimeMaskedSmall",
     u"qsrch_DnormalizedCorrelationRuntimeMaskedBig", true, true, false,
     [](const SpaceCase& c, const Params& p, const Call& k) {
         return qsrch_DcomputeNormalizedCorrelationRuntimeMasked(
             k.pw, k.ph, c.N.v.data(), c.Sp.v.data(), c.SppD.v.data(), c.N.stride, k.width, k.height,
             c.Si.v.data(), c.SiiD.v.data(), c.Si.stride, c.IPD.v.data(), c.IPD.stride, &p, k.scores, k.stride);
     }},
    {"computeNormalizedCorrelationRuntimeMasked", u"qsrch_normalizedCorrelationRuntimeMaskedSmall",
     u"qsrch_normalizedCorrelationRuntimeMaskedBig", true, false, false,
     [](const SpaceCase& c, const Params& p, const Call& k) {
         return qsrch_computeNormalizedCorrelationRuntimeMasked(
             k.pw, k.ph, c.N.v.data(), c.Sp.v.data(), c.Spp.v.data(), c.N.stride, k.width, k.height, c.Si.v.data(),
             c.Sii.v.data(), c.Si.stride, c.IP.v.data(), c.IP.stride, &p, k.scores, k.stride);
     }},
    {"computeNormalizedCorrelationUsingEndpoints", u"qsrch_normalizedCorrelationSmallUsingEndpoints",
     u"qsrch_normalizedCorrelationBigUsingEndpoints", false, false, true,
     [](const SpaceCase& c, const Params& p, const Call& k) {
         return qsrch_computeNormalizedCorrelationUsingEndpoints(
             k.pw, k.ph, k.endpoints, 1, c.whole.N, c.whole.Sp, c.whole.Spp, k.width, k.height, c.Si.v.data(),
             c.Sii.v.data(), c.Si.stride, c.IP.v.data(), c.IP.stride, &p, k.scores, k.stride);
     }},
    {"computeNormalizedCorrelationRuntimeMaskedUsingEndpoints",
     u"qsrch_normalizedCorrelationRuntimeMaskedSmallUsingEndpoints",
     u"qsrch_normalizedCorrelationRuntimeMaskedBigUsingEndpoints", true, false, true,
     [](const SpaceCase& c, const Params& p, const Call& k) {
         return qsrch_computeNormalizedCorrelationRuntimeMaskedUsingEndpoints(
             k.pw, k.ph, c.N.v.data(), c.Sp.v.data(), c.Spp.v.data(), c.N.stride, k.width, k.height, c.Si.v.data(),
             c.Sii.v.data(), c.Si.stride, c.IP.v.data(), c.IP.stride, &p, k.scores, k.stride, k.endpoints, 1);
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
};

// The score of position (x, y) on its own.
double positionScore(const Form& f, const SpaceCase& c, const Params& p, int32_t x, int32_t y)
{
    const bool own = f.runtimeMasked;
    const uint32_t n = own ? c.N.at(x, y) : c.whole.N, sp = own ? c.Sp.at(x, y) : c.whole.Sp,
                   spp = own ? c.Spp.at(x, y) : c.whole.Spp;
    double s = kUnwritten;
    if (f.doubleStats)
        qsrch_DscoreFromStats(&p, n, sp, spp, c.IPD.at(x, y), c.Si.at(x, y), c.SiiD.at(x, y), &s);
    else
        qsrch_scoreFromStats(&p, n, sp, spp, c.IP.at(x, y), c.Si.at(x, y), c.Sii.at(x, y), &s);
    return s;
}

// Runs a form over rows listed by `pairs` (full rows by default) into a plane
// with slack, which must stay unwritten.
Plane<double> runSpace(const Form& f, const SpaceCase& c, const Params& p, std::vector<qstd_pair32> pairs = {},
                       uint32_t pw = 3, uint32_t ph = 3)
{
    Plane<double> scores(c.nx, c.ny, 2, kUnwritten);
    if (pairs.empty()) pairs.assign(c.ny, {0, c.nx});
    const Endpoints rows(pairs);
    EXPECT_EQ(f.run(c, p, {pw, ph, uint32_t(c.nx), c.ny, &rows.v, scores.v.data(), scores.stride}), QSRCH_OK);
    for (int32_t y = 0; y < c.ny; ++y)
        for (int32_t x = c.nx; x < scores.stride; ++x) EXPECT_EQ(scores.at(x, y), kUnwritten) << x << "," << y;
    return scores;
}

// Endpoint forms score only the runs of their rows (empty, reversed and
// out-of-range runs too) and write 0 elsewhere; rows past the end of the
// list score nothing.
TEST(CorrelationSpace, EveryFormMatchesPerPositionScore)
{
    std::mt19937 rng(11);
    for (int32_t nx : {1, 7, 8, 9, 15, 16, 17, 31})
        for (int32_t ny : {1, 4, 7}) {
            const int32_t w = 1 + int32_t(rng() % 6), h = 1 + int32_t(rng() % 6);
            const SpaceCase plain(rng, w, h, nx, ny, false), masked(rng, w, h, nx, ny, true);
            std::uniform_int_distribution<int32_t> column(-3, nx + 3);
            std::vector<qstd_pair32> runs = {{2, 2}}, fullRows;
            for (int32_t y = 1; y < (ny == 7 ? 4 : ny); ++y) runs.push_back({column(rng), column(rng)});
            for (const Form& f : kForms)
                for (const auto& mode : qtest::allModes()) {
                    SCOPED_TRACE(std::string(f.name) + ", " + mode.name + ", " + std::to_string(nx) + "x" +
                                 std::to_string(ny) + ", pattern " + std::to_string(w) + "x" + std::to_string(h));
                    const SpaceCase& c = f.runtimeMasked ? masked : plain;
                    const Plane<double> scores = runSpace(f, c, mode.params, f.endpoints ? runs : fullRows);
                    // Only the integer one-triple covariance multiplies by a reciprocal.
                    const double tolerance = mode.params.covarianceScore && !f.runtimeMasked && !f.doubleStats;
                    for (int32_t y = 0; y < ny; ++y)
                        for (int32_t x = 0; x < nx; ++x) {
                            const bool inRun = !f.endpoints || (size_t(y) < runs.size() &&
                                                                x >= runs[y].first && x < runs[y].second);
                            const double expected = inRun ? positionScore(f, c, mode.params, x, y) : 0.0;
                            ASSERT_NEAR(scores.at(x, y), expected, 1e-15 * tolerance * std::fabs(expected))
                                << x << "," << y;
                        }
                }
        }
}

// Size names come from the signed 32-bit product of the pattern's sides; an
// empty space (a side below 1, or a width too large for a signed count)
// writes nothing; inhibition changes no score.
TEST(CorrelationSpace, EmptySpacesAndInhibitNames)
{
    std::mt19937 rng(9);
    const SpaceCase c(rng, 3, 3, 17, 3, true);
    const Endpoints rows(std::vector<qstd_pair32>(3, {0, 17}));
    const struct {
        uint32_t w, h;
        bool small;
    } sizes[] = {{16, 16, true},          {16, 17, false},          {256, 1, true},
                 {1, 257, false},         {0x10000, 0x10000, true}, {0x10000, 0x10001, false},
                 {0x8000, 0x10000, true}, {0xFFFFFFFFu, 0xFFFFFFFFu, true}};
    for (const Form& f : kForms) {
        SCOPED_TRACE(f.name);
        for (const auto& [width, height] : std::vector<std::pair<uint32_t, int32_t>>{{17, 0}, {17, -3}, {0, 3},
                                                                                    {0x80000000u, 3}}) {
            Plane<double> scores(17, 3, 2, kUnwritten);
            EXPECT_EQ(f.run(c, qtest::scoreParams(0, 0, 0), {3, 3, width, height, &rows.v, scores.v.data(), 19}),
                      QSRCH_OK);
            EXPECT_TRUE(std::all_of(scores.v.begin(), scores.v.end(), [](double v) { return v == kUnwritten; }))
                << width << "x" << height;
        }
        for (const auto& s : sizes) {
            SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
            const Plane<double> free = runSpace(f, c, qtest::scoreParams(1, 0, 0), {}, s.w, s.h);
            qtest::InhibitSwitch inhibit;
            EXPECT_EQ(free.v, runSpace(f, c, qtest::scoreParams(1, 0, 0), {}, s.w, s.h).v);
            EXPECT_EQ(inhibit.asked(), std::vector<std::u16string>{s.small ? f.small : f.big});
        }
    }
}

}  // namespace

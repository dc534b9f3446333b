// Score spaces, grey and three-plane, against each position's own score; runs, empty spaces, inhibit names.
#include "reference.hpp"

namespace {

using namespace qtest;

constexpr double kUnwritten = -12345.5;
constexpr uint32_t kGarbage = 0xDEADBEEF;

template <class T>
struct Plane {
    int32_t stride;
    std::vector<T> v;
    Plane(int32_t nx, int32_t ny, int32_t slack, T fill) : stride(nx + slack), v(size_t(stride) * ny, fill) {}
    T& at(int32_t x, int32_t y) { return v[size_t(y) * stride + x]; }
};

// Every statistics plane of three random planes, each at a stride of its own; `masked` adds a runtime mask.
struct SpaceCase {
    int32_t nx, ny;
    std::vector<Stats3> stats;  // per position
    Stats3 whole;               // the pattern's own sums
    Plane<uint32_t> N{nx, ny, 1, kGarbage};
    std::vector<Plane<uint32_t>> Sp, Spp, Si, Sii, IP;
    std::vector<Plane<double>> SppD, SiiD, IPD;

    SpaceCase(std::mt19937& rng, int32_t w, int32_t h, int32_t nx_, int32_t ny_, bool masked)
        : nx(nx_), ny(ny_), stats(size_t(nx_) * ny_), Sp(3, {nx, ny, 1, kGarbage}), Spp(Sp),
          Si(3, {nx, ny, 3, kGarbage}), Sii(Si), IP(3, {nx, ny, 5, kGarbage}), SppD(3, {nx, ny, 1, 1e300}),
          SiiD(3, {nx, ny, 3, 1e300}), IPD(3, {nx, ny, 5, 1e300})
    {
        Image8 pattern(w, h), image(nx + w - 1, ny + h - 1), care(nx + w - 1, ny + h - 1);
        care.randomMask(rng, 0.8);
        for (int k = 0; k < 3; ++k) {
            pattern.randomize(rng), image.randomize(rng);
            whole[k] = placement(pattern, pattern);
            for (int32_t y = 0; y < ny; ++y)
                for (int32_t x = 0; x < nx; ++x) {
                    const Stats s = stats[size_t(y) * nx + x][k] = placement(pattern, image, masked ? &care : 0, x, y);
                    N.at(x, y) = s.N, Sp[k].at(x, y) = s.Sp, Spp[k].at(x, y) = s.Spp, SppD[k].at(x, y) = s.Spp;
                    Si[k].at(x, y) = s.Si, Sii[k].at(x, y) = s.Sii, SiiD[k].at(x, y) = s.Sii;
                    IP[k].at(x, y) = s.IP, IPD[k].at(x, y) = s.IP;
                }
        }
    }
    // The statistics a form sees at (x, y): one-triple forms take the pattern's own sums.
    Stats3 at(int32_t x, int32_t y, bool runtimeMasked) const
    {
        Stats3 s = stats[size_t(y) * nx + x];
        for (int k = 0; k < 3 && !runtimeMasked; ++k)
            s[k].N = whole[k].N, s[k].Sp = whole[k].Sp, s[k].Spp = whole[k].Spp;
        return s;
    }
};

struct Call {
    uint32_t pw, ph, width;
    int32_t height;
    const double* weights;
    const qstd_vector_qstd_pair32* endpoints;
    double* scores;
    int32_t stride;
};

enum FormFlags : unsigned { kThree = 1, kMasked = 2, kDoubles = 4, kRuns = 8 };

struct Form {
    const char* name;
    unsigned flags;
    qsrch_status (*run)(const SpaceCase&, const Params&, const Call&);
};

// Argument groups: the pattern's sums, per-position pattern planes, image planes (integer or double), output.
#define QT_FORM(flags, name, ...) \
    {#name, flags, [](const SpaceCase& c, const Params& p, const Call& k) { return qsrch_##name(__VA_ARGS__); }}
#define QT_G(P) c.P[0].v.data()
#define QT_T(P) c.P[0].v.data(), c.P[1].v.data(), c.P[2].v.data()
#define QT_S1 c.whole[0].N, c.whole[0].Sp, c.whole[0].Spp
#define QT_S3 c.whole[0].N, c.whole[0].Sp, c.whole[1].Sp, c.whole[2].Sp, c.whole[0].Spp, c.whole[1].Spp, c.whole[2].Spp
#define QT_PER(X, Spp) k.pw, k.ph, c.N.v.data(), X(Sp), X(Spp), c.N.stride
#define QT_IMAGE(X, Sii, IP) k.width, k.height, X(Si), X(Sii), c.Si[0].stride, X(IP), c.IP[0].stride, &p
#define QT_I(X) QT_IMAGE(X, Sii, IP)
#define QT_D(X) QT_IMAGE(X, SiiD, IPD)
#define QT_OUT k.scores, k.stride
#define QT_W k.weights, k.scores, k.stride
const Form kForms[] = {
    QT_FORM(kDoubles, DcomputeNormalizedCorrelation, k.pw, k.ph, QT_S1, QT_D(QT_G), QT_OUT),
    QT_FORM(0, computeNormalizedCorrelation, k.pw, k.ph, QT_S1, QT_I(QT_G), QT_OUT),
    QT_FORM(kDoubles | kMasked, DcomputeNormalizedCorrelationRuntimeMasked, QT_PER(QT_G, SppD), QT_D(QT_G), QT_OUT),
    QT_FORM(kMasked, computeNormalizedCorrelationRuntimeMasked, QT_PER(QT_G, Spp), QT_I(QT_G), QT_OUT),
    QT_FORM(kRuns, computeNormalizedCorrelationUsingEndpoints, k.pw, k.ph, k.endpoints, 1, QT_S1, QT_I(QT_G), QT_OUT),
    QT_FORM(kMasked | kRuns, computeNormalizedCorrelationRuntimeMaskedUsingEndpoints, QT_PER(QT_G, Spp), QT_I(QT_G),
            QT_OUT, k.endpoints, 1),
    QT_FORM(kThree | kDoubles, DcomputeNormalizedCorrelation3, k.pw, k.ph, QT_S3, QT_D(QT_T), QT_W),
    QT_FORM(kThree, computeNormalizedCorrelation3, k.pw, k.ph, QT_S3, QT_I(QT_T), QT_W),
    QT_FORM(kThree | kDoubles | kMasked, DcomputeNormalizedCorrelationRuntimeMasked3, QT_PER(QT_T, SppD), QT_D(QT_T),
            QT_W),
    QT_FORM(kThree | kMasked, computeNormalizedCorrelationRuntimeMasked3, QT_PER(QT_T, Spp), QT_I(QT_T), QT_W),
    QT_FORM(kThree | kRuns, computeNormalizedCorrelation3UsingEndpoints, k.pw, k.ph, k.endpoints, 1, QT_S3, QT_I(QT_T),
            QT_W),
    QT_FORM(kThree | kMasked | kRuns, computeNormalizedCorrelationRuntimeMasked3UsingEndpoints, QT_PER(QT_T, Spp),
            QT_I(QT_T), QT_W, k.endpoints, 1),
};

// The name a grey form offers to the inhibit query.
std::u16string switchName(unsigned flags, bool small)
{
    return std::u16string(u"qsrch_") + (flags & kDoubles ? u"D" : u"") + u"normalizedCorrelation" +
           (flags & kMasked ? u"RuntimeMasked" : u"") + (small ? u"Small" : u"Big") +
           (flags & kRuns ? u"UsingEndpoints" : u"");
}

// Runs a form over rows listed by `pairs` (full rows by default); the slack stays unwritten.
Plane<double> runSpace(const Form& f, const SpaceCase& c, const Params& p, const double* weights,
                       std::vector<qstd_pair32> pairs = {}, uint32_t pw = 3, uint32_t ph = 3)
{
    Plane<double> scores(c.nx, c.ny, 2, kUnwritten);
    if (pairs.empty()) pairs.assign(c.ny, {0, c.nx});
    const Runs rows(pairs);
    EXPECT_EQ(f.run(c, p, {pw, ph, uint32_t(c.nx), c.ny, weights, rows.get(), scores.v.data(), scores.stride}),
              QSRCH_OK);
    for (int32_t y = 0; y < c.ny; ++y)
        for (int32_t x = c.nx; x < scores.stride; ++x) EXPECT_EQ(scores.at(x, y), kUnwritten) << x << "," << y;
    return scores;
}

const double kWeights[][3] = {{1, 1, 1}, {0.299, 0.587, 0.114}, {2, 0, 0.5}, {0.25, 3, 1.5}};

// Endpoint forms score only their runs (empty, reversed and out-of-range too) and write 0 elsewhere.
TEST(CorrelationSpace, EveryFormMatchesPerPositionScore)
{
    std::mt19937 rng(11);
    for (int32_t nx : {1, 7, 8, 9, 15, 16, 17, 31})
        for (int32_t ny : {1, 4, 7}) {
            const int32_t w = 1 + int32_t(rng() % 6), h = 1 + int32_t(rng() % 6);
            const SpaceCase plain(rng, w, h, nx, ny, false), masked(rng, w, h, nx, ny, true);
            std::uniform_int_distribution<int32_t> column(-3, nx + 3);
            std::vector<qstd_pair32> runs = {{2, 2}};
            for (int32_t y = 1; y < (ny == 7 ? 4 : ny); ++y) runs.push_back({column(rng), column(rng)});
            for (const Form& f : kForms)
                for (const Params& mode : allModes())
                    for (const double* weights : {kWeights[0], kWeights[1], kWeights[2], kWeights[3]}) {
                        if (!(f.flags & kThree) && weights != kWeights[0]) continue;
                        SCOPED_TRACE(testing::Message() << f.name << ", " << modeName(mode) << ", " << nx << "x"
                                                        << ny << ", weight " << weights[1]);
                        const SpaceCase& c = f.flags & kMasked ? masked : plain;
                        Plane<double> scores = runSpace(f, c, mode, weights,
                                                              f.flags & kRuns ? runs : std::vector<qstd_pair32>{});
                        // Only the integer one-triple grey covariance multiplies by a reciprocal.
                        const double tolerance = mode.covarianceScore && !(f.flags & ~kRuns) ? 1e-15 : 0;
                        for (int32_t y = 0; y < ny; ++y)
                            for (int32_t x = 0; x < nx; ++x) {
                                const bool inRun = !(f.flags & kRuns) || (size_t(y) < runs.size() &&
                                                                          x >= runs[y].first && x < runs[y].second);
                                const Stats3 t = c.at(x, y, f.flags & kMasked);
                                const double want = !inRun ? 0.0 : f.flags & kThree ? score3Of(mode, weights, t)
                                                                              : scoreOf(mode, t[0], f.flags & kDoubles);
                                ASSERT_NEAR(scores.at(x, y), want, tolerance * std::fabs(want)) << x << "," << y;
                            }
                    }
        }
}

// Size names follow the signed 32-bit product of the sides; an empty space writes nothing.
TEST(CorrelationSpace, EmptySpacesAndInhibitNames)
{
    std::mt19937 rng(9);
    const SpaceCase c(rng, 3, 3, 17, 3, true);
    const Runs rows(std::vector<qstd_pair32>(3, {0, 17}));
    const struct { uint32_t w, h; bool small; } sizes[] = {
        {16, 16, true}, {16, 17, false}, {0x10000, 0x10000, true}, {0x10000, 0x10001, false},
        {0x8000, 0x10000, true}, {0xFFFFFFFFu, 0xFFFFFFFFu, true}};
    const Params absolute = scoreParams(1, 0, 0);
    for (const Form& f : kForms) {
        SCOPED_TRACE(f.name);
        for (const auto& [width, height] :
             std::vector<std::pair<uint32_t, int32_t>>{{17, 0}, {17, -3}, {0, 3}, {0x80000000u, 3}}) {
            Plane<double> scores(17, 3, 2, kUnwritten);
            EXPECT_EQ(f.run(c, absolute, {3, 3, width, height, kWeights[1], rows.get(), scores.v.data(), 19}),
                      QSRCH_OK);
            EXPECT_EQ(std::count(scores.v.begin(), scores.v.end(), kUnwritten), scores.v.size())
                << width << "x" << height;
        }
        for (const auto& s : sizes) {
            SCOPED_TRACE(testing::Message() << s.w << "x" << s.h);
            const Plane<double> free = runSpace(f, c, absolute, kWeights[1], {}, s.w, s.h);
            InhibitSwitch inhibit;
            EXPECT_EQ(free.v, runSpace(f, c, absolute, kWeights[1], {}, s.w, s.h).v);
            EXPECT_EQ(inhibit.asked(), f.flags & kThree ? std::vector<std::u16string>{}
                                                        : std::vector{switchName(f.flags, s.small)});
        }
    }
}

}  // namespace

// The `qsrch` tool as its users meet it: its JSON equals the library's own
// results for the same parameters, its exit statuses follow grep's, every
// bad input is one line on stderr and status 2 with no picture left behind,
// and threads, colour search, pictures and the demo do what they say.
#include <functional>
#include <optional>
#include <tuple>

#include <nlohmann/json.hpp>
#include <qsrch/qsrch.h>

#include "cli_support.hpp"

namespace clitest {
namespace {

using nlohmann::json;

struct Result {
    double x, y, score;
    bool accepted;
    double contrast, brightness;
};

// A library image holding a copy of a grey picture.
struct LibImage {
    explicit LibImage(const Picture& p)
    {
        EXPECT_EQ(qimg_image_construct(&image, QIMG_DEPTH_8U, p.width, p.height), QSRCH_OK);
        for (int32_t y = 0; y < p.height; ++y)
            std::copy_n(&p.px[size_t(y) * p.width], p.width,
                        static_cast<uint8_t*>(image.firstPixel) + size_t(y) * image.rowStride);
    }
    ~LibImage() { qimg_image_destruct(&image); }
    LibImage(const LibImage&) = delete;
    const qimg_imageConst* get() const { return qimg_image_asConst(&image); }
    qimg_image image;
};

struct Roi {
    int32_t x, y, width, height;
};

// What one case searches, and the library's parameters for it.
struct Inputs {
    Picture pattern, scene, patternMask, sceneMask;
    std::optional<Roi> roi;
};
struct LibParams {
    qsrch_trainParams train;
    qsrch_runParams run;
    std::function<void(qsrch_normcorr_runParams&)> extras;  // options the top-level lacks
};

Picture crop(const Picture& p, const Roi& r)
{
    Picture c(r.width, r.height);
    for (int32_t y = 0; y < r.height; ++y)
        std::copy_n(&p.px[size_t(y + r.y) * p.width + r.x], r.width, &c.at(0, y));
    return c;
}

// The normalized-correlation interface, which reports contrast and
// brightness and takes the options the top-level lacks.
qsrch_status normcorr(const Inputs& in, const LibParams& setup, std::vector<Result>& out)
{
    const LibImage pattern(in.roi ? crop(in.pattern, *in.roi) : in.pattern), scene(in.scene);
    qsrch_normcorr_trainParams train;
    qsrch_normcorr_runParams run;
    qsrch_status s = qsrch_normcorr_trainParams_initFromTrainParams(&train, &setup.train);
    if (QSRCH_FAILED(s) || QSRCH_FAILED(s = qsrch_normcorr_runParams_initFromRunParams(&run, &setup.run)))
        return s;
    if (setup.extras) setup.extras(run);
    qsrch_normcorr_model* model = nullptr;
    if (QSRCH_FAILED(s = qsrch_normcorr_model_new(&model))) return s;
    if (!in.patternMask.px.empty()) {
        const LibImage mask(in.patternMask);
        s = qsrch_normcorr_model_trainMask(model, pattern.get(), mask.get(), &train);
    } else {
        s = qsrch_normcorr_model_train(model, pattern.get(), &train);
    }
    qstd_vector_qsrch_normcorr_result results;
    qstd_vector_qsrch_normcorr_result_constructEmpty(&results);
    if (!QSRCH_FAILED(s) && !in.sceneMask.px.empty()) {
        const LibImage mask(in.sceneMask);
        s = qsrch_normcorr_runMask(model, scene.get(), mask.get(), &run, &results);
    } else if (!QSRCH_FAILED(s)) {
        s = qsrch_normcorr_run(model, scene.get(), &run, &results);
    }
    const qsrch_normcorr_result* r = nullptr;
    uint32_t n = 0;
    if (!QSRCH_FAILED(s)) qstd_vector_qsrch_normcorr_result_getBeginSizeConst(&results, &r, &n);
    for (uint32_t i = 0; i < n; ++i)
        out.push_back({r[i].pose.trans.x, r[i].pose.trans.y, r[i].score, r[i].accepted != 0, r[i].contrast,
                       r[i].brightness});
    qstd_vector_qsrch_normcorr_result_destruct(&results);
    qsrch_normcorr_model_delete(&model);
    return s;
}

// ---- Fixtures ------------------------------------------------------------------

constexpr int32_t kPatternW = 32, kPatternH = 28;
// The tool's default --overlap, its one default that is not the library's.
constexpr float kToolOverlap = 0.5f;
const Roi kRoi{8, 6, kPatternW, kPatternH};

// A scene with the pattern planted twice, the second copy dimmer and
// brighter; the pattern also sits inside a larger image at kRoi.
Inputs standardInputs()
{
    Inputs in;
    const Picture part = texturePicture(2, kPatternW, kPatternH);
    in.scene = texturePicture(1, 160, 120);
    plant(in.scene, part, 50, 40);
    plant(in.scene, part, 104, 72, 0.8, 25);
    in.pattern = part;
    return in;
}

// Writes pattern.pgm and scene.pgm of standardInputs() into `dir`.
Inputs writeStandard(const ScratchDir& dir)
{
    Inputs in = standardInputs();
    writePnm(dir / "pattern.pgm", in.pattern);
    writePnm(dir / "scene.pgm", in.scene);
    return in;
}

template <class Care> Picture maskOf(int32_t w, int32_t h, Care care)
{
    Picture m(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) m.at(x, y) = uint8_t(care(x, y));
    return m;
}

std::vector<Result> parseResults(const json& scene)
{
    std::vector<Result> out;
    for (const json& r : scene.at("results"))
        out.push_back({r.at("x").get<double>(), r.at("y").get<double>(), r.at("score").get<double>(),
                       r.at("accepted").get<bool>(), r.at("contrast").get<double>(),
                       r.at("brightness").get<double>()});
    return out;
}

// ---- The tool's JSON equals the library's results ------------------------------

struct AgreementCase {
    const char* name;
    std::vector<std::string> args;
    std::function<void(qsrch_trainParams&, qsrch_runParams&)> configure;
    std::function<void(qsrch_normcorr_runParams&)> extras = nullptr;  // options the top-level lacks
    enum { Plain, WithRoi, WithPatternMask, WithSceneMask } inputs = Plain;
};

// Test names stay short: a case prints as its name.
void PrintTo(const AgreementCase& c, std::ostream* out) { *out << c.name; }

class Agreement : public testing::TestWithParam<std::tuple<AgreementCase, std::string>> {};

TEST_P(Agreement, JsonEqualsLibrary)
{
    const AgreementCase& c = std::get<0>(GetParam());
    const std::string ext = std::get<1>(GetParam());
    ScratchDir dir;
    Inputs in = standardInputs();
    std::vector<std::string> args{"find", "--json"};
    auto write = [&](const std::string& name, const Picture& p) {
        const std::string path = dir / (name + ext);
        if (ext == ".pgm")
            writePnm(path, p, "# written by the test\n");
        else
            writePng(path, p, PNG_FORMAT_GRAY);
        return path;
    };
    if (c.inputs == AgreementCase::WithRoi) {
        Picture larger = texturePicture(3, 48, 40);
        plant(larger, in.pattern, kRoi.x, kRoi.y);
        in.pattern = larger;
        in.roi = kRoi;
    }
    if (c.inputs == AgreementCase::WithPatternMask) {
        in.patternMask = maskOf(kPatternW, kPatternH,
                                [](int x, int y) { return x < 10 && y < 10 ? 0 : (x + y) % 3 ? 255 : 128; });
        args.insert(args.end(), {"--pattern-mask", write("pmask", in.patternMask)});
    }
    if (c.inputs == AgreementCase::WithSceneMask) {
        in.sceneMask = maskOf(160, 120, [](int x, int y) { return x >= 100 && y >= 68 ? 0 : 200; });
        args.insert(args.end(), {"--scene-mask", write("smask", in.sceneMask)});
    }
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {write("pattern", in.pattern), write("scene", in.scene)});

    LibParams setup;
    qsrch_trainParams_init(&setup.train);
    qsrch_runParams_init(&setup.run);
    setup.run.overlapFraction = kToolOverlap;
    c.configure(setup.train, setup.run);
    setup.extras = c.extras;
    std::vector<Result> full;
    const qsrch_status fullStatus = normcorr(in, setup, full);
    const ToolRun run = runTool(dir, args);
    if (QSRCH_FAILED(fullStatus)) {
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(qsrch_statusName(fullStatus)), std::string::npos) << run.err;
        return;
    }
    ASSERT_EQ(run.err, "");
    const json out = json::parse(run.out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].at("scene"), args.back());
    const std::vector<Result> got = parseResults(out[0]);
    ASSERT_EQ(got.size(), full.size());
    bool anyAccepted = false;
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        anyAccepted |= got[i].accepted;
        EXPECT_EQ(std::tuple(got[i].x, got[i].y, got[i].score, got[i].accepted, got[i].contrast, got[i].brightness),
                  std::tuple(full[i].x, full[i].y, full[i].score, full[i].accepted, full[i].contrast,
                             full[i].brightness));
    }
    EXPECT_EQ(run.status, anyAccepted ? 0 : 1);
}

using Train = qsrch_trainParams;
using Run = qsrch_runParams;
using Extras = qsrch_normcorr_runParams;
const auto findTwo = [](Train&, Run& r) { r.numToFind = 2; };

const AgreementCase kAgreementCases[] = {
    {"defaults", {}, [](Train&, Run&) {}},
    {"num", {"--num", "3"}, [](Train&, Run& r) { r.numToFind = 3; }},
    {"thresholds", {"--num", "2", "--accept", "0.95", "--confusion", "0.97"},
     [](Train&, Run& r) { r.numToFind = 2, r.acceptThreshold = 0.95f, r.confusionThreshold = 0.97f; }},
    {"overlap", {"--num", "3", "--overlap", "0.4"},
     [](Train&, Run& r) { r.numToFind = 3, r.overlapFraction = 0.4f; }},
    {"granularities", {"--num", "2", "--granularity", "2,1"},
     [](Train& t, Run& r) { r.numToFind = 2, t.autoSelectGranularity = 0, t.coarseGranularity = 2; }},
    {"coarseOnly", {"--granularity", "8"},
     [](Train& t, Run&) { t.autoSelectGranularity = 0, t.coarseGranularity = 8; }},
    // Whatever the library answers to selection by trial, the tool answers too.
    {"trial", {"--granularity", "trial"},
     [](Train& t, Run&) { t.autoSelectGranularity = 1, t.autoSelectByTrial = 1; }},
    {"roi", {"--num", "2", "--roi", "8,6,32,28"}, findTwo, nullptr, AgreementCase::WithRoi},
    {"patternMask", {"--num", "2"}, findTwo, nullptr, AgreementCase::WithPatternMask},
    {"sceneMask", {"--num", "2"}, findTwo, nullptr, AgreementCase::WithSceneMask},
    {"contrastLimits", {"--num", "2", "--contrast-min", "0.9", "--brightness-max", "1.5"}, findTwo,
     [](Extras& p) { p.contrastMin = 0.9, p.brightnessMax = 1.5; }},
    {"region", {"--num", "2", "--region", "95,65,20,20"}, findTwo,
     [](Extras& p) { p.searchRegion = {95, 65, 20, 20}; }},
    {"absoluteAndShape", {"--absolute", "--shape-score", "--shape-threshold", "100"}, [](Train&, Run&) {},
     [](Extras& p) { p.absoluteCorrelation = 1, p.shapeScoreOptimization = 1, p.shapeThreshold = 100; }},
};

INSTANTIATE_TEST_SUITE_P(Cli, Agreement,
                         testing::Combine(testing::ValuesIn(kAgreementCases),
                                          testing::Values(std::string(".pgm"), std::string(".png"))),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == ".pgm" ? "Pgm" : "Png");
                         });

// ---- Errors: one line naming the file, status 2, no picture left ----------------

TEST(CliFiles, BadInputsFailCleanly)
{
    ScratchDir dir;
    const Inputs in = writeStandard(dir);
    writePng(dir / "scene.png", in.scene, PNG_FORMAT_GRAY);
    writeJpeg(dir / "scene.jpg", in.scene);
    const std::string png = slurp(dir / "scene.png"), jpg = slurp(dir / "scene.jpg"),
                      pgm = slurp(dir / "scene.pgm");
    spill(dir / "empty.png", "");
    spill(dir / "text.png", "hello, world\n");
    spill(dir / "cut.png", png.substr(0, png.size() / 2));
    spill(dir / "cut.jpg", jpg.substr(0, jpg.size() / 2));
    spill(dir / "junk.jpg", "\xFF\xD8\xFF" + std::string(300, 'x'));
    spill(dir / "cut.pgm", pgm.substr(0, pgm.size() - 10));
    spill(dir / "wide.pgm", "P5\n2 2\n65535\n" + std::string(8, '\1'));
    spill(dir / "header.pgm", "P5\n-3 2\n255\n" + std::string(6, '\1'));
    Picture deep(16, 16, 2);
    writePng(dir / "deep.png", deep, PNG_FORMAT_LINEAR_Y);
    fs::create_directory(dir / "folder.png");
    const std::string tiny = dir / "tiny.pgm";
    writePnm(tiny, texturePicture(4, 20, 20));

    const std::vector<std::string> bad{"missing.png", "empty.png", "text.png",   "cut.png",
                                       "cut.jpg",     "junk.jpg",  "cut.pgm",    "wide.pgm",
                                       "header.pgm",  "deep.png",  "folder.png", "tiny.pgm"};
    for (const std::string& name : bad)
        for (const bool asPattern : {false, true}) {
            SCOPED_TRACE(name + (asPattern ? " as pattern" : " as scene"));
            if (asPattern && name == "tiny.pgm") continue;  // a good pattern
            const std::string path = dir / name, picture = dir / "out.png";
            const ToolRun run = runTool(dir, {"find", "--draw", picture, asPattern ? path : dir / "pattern.pgm",
                                              asPattern ? dir / "scene.pgm" : path});
            EXPECT_EQ(run.status, 2);
            EXPECT_EQ(run.errLines(), 1) << run.err;
            EXPECT_NE(run.err.find(path), std::string::npos) << run.err;
            EXPECT_EQ(run.out, "");
            for (const auto& entry : fs::directory_iterator(dir.path()))
                EXPECT_EQ(entry.path().string().find("out.png"), std::string::npos) << entry.path();
        }
}

// ---- Exit statuses -------------------------------------------------------------

TEST(CliStatus, FollowsGrep)
{
    ScratchDir dir;
    writeStandard(dir);
    const std::string pattern = dir / "pattern.pgm", scene = dir / "scene.pgm", other = dir / "other.pgm";
    writePnm(other, texturePicture(9, 160, 120));
    writePnm(dir / "mask.pgm", Picture(5, 5));
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"find", pattern, scene}, 0},
        {{"find", pattern, other, scene}, 0},
        {{"find", "--accept", "0.9", "--confusion", "0.95", pattern, other}, 1},
        {{}, 2},
        {{"find", pattern}, 2},
        {{"find", "--bogus", pattern, scene}, 2},
        {{"find", "--num", "x", pattern, scene}, 2},
        {{"find", "--num", "0", pattern, scene}, 2},
        {{"find", "--accept", "0.8", "--confusion", "0.5", pattern, scene}, 2},
        {{"find", "--granularity", "3", pattern, scene}, 2},
        {{"find", "--roi", "0,0,40,10", pattern, scene}, 2},
        {{"find", "--surround", pattern, scene}, 2},
        {{"find", "--pattern-mask", dir / "mask.pgm", pattern, scene}, 2},
        {{"find", "--scene-mask", dir / "mask.pgm", pattern, scene}, 2},
        {{"find", "--json", "--csv", pattern, scene}, 2},
        {{"find", "-j", "0", pattern, scene}, 2},
        {{"find", "--colour", "--scene-mask", dir / "mask.pgm", pattern, scene}, 2},
        {{"find", "--granularity", "4294967300", pattern, scene}, 2},
        {{"find", "--granularity", "2147483648,1", pattern, scene}, 2},
        {{"find", "--granularity", "4,1x", pattern, scene}, 2},
        {{"find", "--contrast-max", "nan", pattern, scene}, 2},
        {{"find", "--brightness-min", "-nan", pattern, scene}, 2},
        {{"find", "--max-pixels", "0", pattern, scene}, 2},
        {{"find", "--max-pixels", "4000", pattern, scene}, 2},
        {{"find", pattern, "-", "-"}, 2},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        const ToolRun run = runTool(dir, c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.errLines(), c.status == 2 ? 1 : 0) << run.err;
    }
}

// ---- Results: best first, at most --num, no match twice --------------------------

struct ResultsCase {
    const char* name;
    std::vector<std::string> args;
    size_t num;
    double overlap;  // the largest overlap allowed between two results
};

void PrintTo(const ResultsCase& c, std::ostream* out) { *out << c.name; }

class Results : public testing::TestWithParam<ResultsCase> {};

// A pattern that repeats every 8 pixels, planted three times in a noisy
// scene: the places 8 pixels beside each copy match two thirds of it, one
// match found again.
TEST_P(Results, BestFirstAtMostNumAndNoMatchTwice)
{
    const ResultsCase& c = GetParam();
    ScratchDir dir;
    Picture part(24, 24), scene = texturePicture(7, 160, 120);
    for (int32_t y = 0; y < 24; ++y)
        for (int32_t x = 0; x < 24; ++x)
            part.at(x, y) = uint8_t(128 + 90 * std::sin(x * 0.785398) * std::cos(y * 0.25));
    plant(scene, part, 20, 20);
    plant(scene, part, 90, 30, 0.7, 30);
    plant(scene, part, 60, 80, 0.5, 60);
    for (int32_t y = 0; y < 120; ++y)
        for (int32_t x = 0; x < 160; ++x) scene.at(x, y) = uint8_t((3 * scene.at(x, y) + texture(9, x, y)) / 4);
    writePnm(dir / "part.pgm", part);
    writePnm(dir / "scene.pgm", scene);
    std::vector<std::string> args{"find", "--json", "--accept", "0.05", "--confusion", "0.9"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {dir / "part.pgm", dir / "scene.pgm"});
    const ToolRun run = runTool(dir, args);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Result> found = parseResults(json::parse(run.out)[0]);
    EXPECT_GE(found.size(), 2u);
    EXPECT_LE(found.size(), c.num);
    double mostShared = 0;  // of the pattern's area, by two results
    for (size_t i = 0; i < found.size(); ++i) {
        if (i > 0) {
            EXPECT_GE(found[i - 1].score, found[i].score) << i;
        }
        for (size_t k = 0; k < i; ++k)
            mostShared = std::max(mostShared, std::max(0.0, 24 - std::fabs(found[i].x - found[k].x)) *
                                                  std::max(0.0, 24 - std::fabs(found[i].y - found[k].y)) / (24 * 24));
    }
    EXPECT_LE(mostShared, c.overlap);
}

const ResultsCase kResultsCases[] = {
    // Granularity 1 with the overlap test off searches level 0 alone, which
    // reports every peak, unsorted.
    {"singleLevel", {"--granularity", "1", "--overlap", "1", "--num", "3"}, 3, 1.0},
    {"singleLevelDefaultOverlap", {"--granularity", "1", "--num", "4"}, 4, kToolOverlap},
    {"pyramid", {"--num", "6"}, 6, kToolOverlap},
    {"pyramidFromLevel1", {"--granularity", "2", "--num", "6"}, 6, kToolOverlap},
};

INSTANTIATE_TEST_SUITE_P(Cli, Results, testing::ValuesIn(kResultsCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Many scenes ---------------------------------------------------------------

TEST(CliScenes, ThreadsKeepTheOrderAndTheAnswers)
{
    ScratchDir dir;
    const Inputs in = writeStandard(dir);
    std::vector<std::string> scenes;
    for (int i = 0; i < 20; ++i) {
        Picture scene = texturePicture(100 + i, 120, 100);
        plant(scene, in.pattern, 5 + 4 * i, 60 - 2 * i);
        scenes.push_back(dir / ("scene" + std::to_string(i) + ".pgm"));
        writePnm(scenes.back(), scene);
    }
    auto run = [&](const char* jobs, const char* format) {
        std::vector<std::string> args{"find", format, "--num", "2", "-j", jobs, dir / "pattern.pgm"};
        args.insert(args.end(), scenes.begin(), scenes.end());
        return runTool(dir, args);
    };
    const ToolRun one = run("1", "--json"), two = run("2", "--json"), csv = run("2", "--csv");
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(two.status, 0);
    EXPECT_EQ(two.out, one.out);
    const json out = json::parse(one.out);
    ASSERT_EQ(out.size(), scenes.size());
    size_t rows = 0;
    for (size_t i = 0; i < scenes.size(); ++i) {
        EXPECT_EQ(out[i].at("scene"), scenes[i]);
        const std::vector<Result> found = parseResults(out[i]);
        ASSERT_FALSE(found.empty());
        EXPECT_NEAR(found[0].x, 5 + 4 * double(i), 0.25);
        EXPECT_NEAR(found[0].y, 60 - 2 * double(i), 0.25);
        // CSV carries the same numbers, exactly.
        for (size_t k = 0; k < found.size(); ++k, ++rows) {
            std::ostringstream row;
            row << scenes[i] << ',' << k + 1 << ',';
            const std::string tail = csv.out.substr(csv.out.find(row.str()) + row.str().size());
            EXPECT_EQ(std::stod(tail), found[k].x);
        }
    }
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), long(rows) + 1);
}

// ---- Colour search --------------------------------------------------------------

TEST(CliColour, FindsTheColourPatternNotItsGreyTwin)
{
    ScratchDir dir;
    const Picture part = texturePicture(2, kPatternW, kPatternH);
    Picture pattern(kPatternW, kPatternH, 3), scene(160, 120, 3);
    std::fill(scene.px.begin(), scene.px.end(), uint8_t(90));
    std::fill(pattern.px.begin(), pattern.px.end(), uint8_t(90));
    for (int32_t y = 0; y < kPatternH; ++y)
        for (int32_t x = 0; x < kPatternW; ++x) {
            pattern.at(x, y, 0) = scene.at(30 + x, 20 + y, 0) = part.px[size_t(y) * kPatternW + x];
            scene.at(100 + x, 70 + y, 1) = part.px[size_t(y) * kPatternW + x];  // the same, in green
        }
    writePng(dir / "pattern.png", pattern, PNG_FORMAT_RGB);
    writePnm(dir / "scene.ppm", scene);
    const ToolRun run =
        runTool(dir, {"find", "--json", "--colour", "--num", "2", dir / "pattern.png", dir / "scene.ppm"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Result> found = parseResults(json::parse(run.out)[0]);
    ASSERT_FALSE(found.empty());
    EXPECT_NEAR(found[0].x, 30, 0.1);
    EXPECT_NEAR(found[0].y, 20, 0.1);
    EXPECT_GT(found[0].score, 0.95);
    for (size_t i = 1; i < found.size(); ++i) EXPECT_LT(found[i].score, 0.5);
}

// ---- Pictures and the demo ------------------------------------------------------

TEST(CliDraw, PicturesHaveTheSceneSizeAndGreenFrames)
{
    ScratchDir dir;
    const Inputs in = writeStandard(dir);
    writePnm(dir / "a.pgm", in.scene);
    writePng(dir / "b.png", texturePicture(5, 90, 70), PNG_FORMAT_GRAY);
    const ToolRun one =
        runTool(dir, {"find", "--json", "--draw", dir / "one.png", dir / "pattern.pgm", dir / "a.pgm"});
    ASSERT_EQ(one.status, 0) << one.err;
    const Result best = parseResults(json::parse(one.out)[0])[0];
    Picture picture = readPng(dir / "one.png");
    ASSERT_EQ(picture.channels, 3);
    EXPECT_EQ(picture.width, in.scene.width);
    EXPECT_EQ(picture.height, in.scene.height);
    // The frame just left of the found rectangle, halfway down.
    const int32_t fx = int32_t(std::lround(best.x)) - 1, fy = int32_t(std::lround(best.y)) + kPatternH / 2;
    EXPECT_GT(picture.at(fx, fy, 1), 150);
    EXPECT_LT(picture.at(fx, fy, 0), 60);

    const ToolRun several =
        runTool(dir, {"find", "--draw", dir / "pictures", dir / "pattern.pgm", dir / "a.pgm", dir / "b.png"});
    EXPECT_EQ(several.status, 0) << several.err;
    EXPECT_EQ(readPng(dir / "pictures/a-found.png").width, in.scene.width);
    EXPECT_EQ(readPng(dir / "pictures/b-found.png").height, 70);
    EXPECT_NE(several.out.find("== " + (dir / "b.png")), std::string::npos) << several.out;
}

TEST(CliDemo, FindsThePartAndWritesThePicture)
{
    ScratchDir dir;
    const ToolRun run = runTool(dir, {"demo", "--out", dir / "demo"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string picture = dir / "demo/qsrch-demo.png";
    EXPECT_NE(run.out.find(picture), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" yes "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" no "), std::string::npos) << run.out;
    const Picture p = readPng(picture);
    EXPECT_EQ(p.width, 400);
    EXPECT_EQ(p.height, 300);
    const ToolRun elsewhere = runTool(dir, {"demo", "--samples", dir / "nothing-here"});
    EXPECT_EQ(elsewhere.status, 2);
    EXPECT_EQ(elsewhere.errLines(), 1) << elsewhere.err;
}

}  // namespace
}  // namespace clitest

// The `qsrch` tool as its users meet it: its JSON equals the library's own
// results for the same parameters, its exit statuses follow grep's, every bad
// input is one line on stderr and status 2 with no picture left behind; files
// that claim far more pixels than they hold are refused at once and cheaply,
// a pipe reads like a file in every format, a picture replaces only a regular
// file, and threads, colour search and the demo do what they say.
#include <functional>
#include <tuple>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <nlohmann/json.hpp>
#include <qsrch/qsrch.h>

#include "cli_support.hpp"

namespace clitest {
namespace {

using nlohmann::json;
using Result = std::tuple<double, double, double, bool, double, double>;  // x, y, score, accepted, contrast, brightness
enum { X, Y, Score, Accepted };
constexpr size_t npos = std::string::npos;

std::vector<Result> parseResults(const json& scene)
{
    std::vector<Result> out;
    for (const json& r : scene.at("results"))
        out.emplace_back(r.at("x"), r.at("y"), r.at("score"), r.at("accepted"), r.at("contrast"), r.at("brightness"));
    return out;
}

struct Inputs {
    Picture pattern, scene, patternMask, sceneMask;
};

// A grey picture as the library sees it; no pixels when the picture has none.
qimg_windowConst viewOf(const Picture& p)
{
    qimg_windowConst v{};
    v.width = v.imageWidth = p.width, v.height = v.imageHeight = p.height, v.rowStride = p.width;
    v.depth = QIMG_DEPTH_8U, v.firstPixel = v.imageFirstPixel = p.px.empty() ? nullptr : p.px.data();
    return v;
}

using TrainParams = qsrch_normcorr_trainParams;
using RunParams = qsrch_normcorr_runParams;

// The normalized-correlation interface, which reports contrast and
// brightness and takes the options the top-level lacks.
qsrch_status normcorr(const Inputs& in, const TrainParams& train, const RunParams& run, std::vector<Result>& out)
{
    const qimg_windowConst pattern = viewOf(in.pattern), scene = viewOf(in.scene);
    const qimg_windowConst patternMask = viewOf(in.patternMask), sceneMask = viewOf(in.sceneMask);
    qmath_xformLinear id;
    qmath_xformLinear_initIdentity(&id);
    qsrch_normcorr_model* model = nullptr;
    qsrch_status s = qsrch_normcorr_model_new(&model);
    qstd_vector_qsrch_normcorr_result results;
    qstd_vector_qsrch_normcorr_result_constructEmpty(&results);
    if (!QSRCH_FAILED(s))
        s = patternMask.firstPixel ? qsrch_normcorr_model_trainMaskWindow(model, &pattern, &patternMask, &id, &train)
                                   : qsrch_normcorr_model_trainWindow(model, &pattern, &id, &train);
    if (!QSRCH_FAILED(s))
        s = sceneMask.firstPixel ? qsrch_normcorr_runMaskWindow(model, &scene, &sceneMask, &id, &run, &results)
                                 : qsrch_normcorr_runWindow(model, &scene, &id, &run, &results);
    const qsrch_normcorr_result* r = nullptr;
    uint32_t n = 0;
    if (!QSRCH_FAILED(s)) qstd_vector_qsrch_normcorr_result_getBeginSizeConst(&results, &r, &n);
    for (uint32_t i = 0; i < n; ++i)
        out.emplace_back(r[i].pose.trans.x, r[i].pose.trans.y, r[i].score, r[i].accepted != 0, r[i].contrast,
                         r[i].brightness);
    qstd_vector_qsrch_normcorr_result_destruct(&results);
    qsrch_normcorr_model_delete(&model);
    return s;
}

constexpr int32_t kPatternW = 32, kPatternH = 28;
constexpr float kToolOverlap = 0.5f;  // the tool's default --overlap, its one default that is not the library's

// A scene with the pattern planted twice, the second copy dimmer and brighter.
Inputs writeStandard(const ScratchDir& dir)
{
    Inputs in{texturePicture(2, kPatternW, kPatternH), texturePicture(1, 160, 120), {}, {}};
    plant(in.scene, in.pattern, 50, 40);
    plant(in.scene, in.pattern, 104, 72, 0.8, 25);
    writePnm(dir / "pattern.pgm", in.pattern, "# written by the test\n");
    writePnm(dir / "scene.pgm", in.scene);
    return in;
}

// The pattern's mask: a corner of no care, two care values elsewhere; the
// scene's: the dimmer copy's corner unseen.
int patternCare(int x, int y) { return x < 10 && y < 10 ? 0 : (x + y) % 3 ? 255 : 128; }
int sceneCare(int x, int y) { return x >= 100 && y >= 68 ? 0 : 200; }

Picture maskOf(int32_t w, int32_t h, int (*care)(int, int))
{
    Picture m(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) m.at(x, y) = uint8_t(care(x, y));
    return m;
}


struct AgreementCase {
    const char* name;
    std::vector<std::string> args;  // files named *.pgm lie in the scratch folder
    std::function<void(TrainParams&, RunParams&)> configure = [](auto&, auto&) {};
};
void PrintTo(const AgreementCase& c, std::ostream* out) { *out << c.name; }

class Agreement : public testing::TestWithParam<AgreementCase> {};

// The library runs from the top-level defaults, as the tool does, with the options given.
TEST_P(Agreement, JsonEqualsLibrary)
{
    const AgreementCase& c = GetParam();
    ScratchDir dir;
    Inputs in = writeStandard(dir);
    std::vector<std::string> args{"find", "--json"};
    for (const std::string& a : c.args) args.push_back(a.find(".pgm") != npos ? dir / a : a);
    args.insert(args.end(), {dir / "pattern.pgm", dir / "scene.pgm"});
    auto given = [&](const char* option) { return std::count(c.args.begin(), c.args.end(), option) > 0; };
    if (given("--roi")) {  // the pattern sits at (8, 6) in a larger picture
        Picture larger = texturePicture(3, 48, 40);
        plant(larger, in.pattern, 8, 6);
        writePnm(dir / "pattern.pgm", larger);
    }
    if (given("--pattern-mask"))
        writePnm(dir / "pmask.pgm", in.patternMask = maskOf(kPatternW, kPatternH, patternCare));
    if (given("--scene-mask")) writePnm(dir / "smask.pgm", in.sceneMask = maskOf(160, 120, sceneCare));
    qsrch_trainParams topTrain;
    qsrch_runParams topRun;
    TrainParams train;
    RunParams run;
    qsrch_trainParams_init(&topTrain), qsrch_runParams_init(&topRun);
    ASSERT_EQ(qsrch_normcorr_trainParams_initFromTrainParams(&train, &topTrain), QSRCH_OK);
    ASSERT_EQ(qsrch_normcorr_runParams_initFromRunParams(&run, &topRun), QSRCH_OK);
    run.overlapFraction = kToolOverlap;
    c.configure(train, run);
    std::vector<Result> want;
    const qsrch_status status = normcorr(in, train, run, want);
    // The tool prints them best first, at most --num: level 0 alone reports every peak, unsorted.
    auto better = [](const Result& a, const Result& b) { return std::get<Score>(a) > std::get<Score>(b); };
    std::stable_sort(want.begin(), want.end(), better);
    want.resize(std::min(want.size(), size_t(run.numToFind)));
    const ToolRun tool = runTool(dir, args);
    if (QSRCH_FAILED(status)) {
        EXPECT_EQ(tool.status, 2);
        EXPECT_NE(tool.err.find(qsrch_statusName(status)), npos) << tool.err;
        return;
    }
    ASSERT_EQ(tool.err, "");
    const json out = json::parse(tool.out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].at("scene"), args.back());
    EXPECT_EQ(parseResults(out[0]), want);
    const bool accepted = std::any_of(want.begin(), want.end(), [](const Result& r) { return std::get<Accepted>(r); });
    EXPECT_EQ(tool.status, accepted ? 0 : 1);
}

const auto findTwo = [](auto&, auto& r) { r.numToFind = 2; };

const AgreementCase kAgreementCases[] = {
    {"defaults", {}},
    {"num", {"--num", "3"}, [](auto&, auto& r) { r.numToFind = 3; }},
    {"thresholds", {"--num", "2", "--accept", "0.95", "--confusion", "0.97"},
     [](auto&, auto& r) { r.numToFind = 2, r.acceptThreshold = 0.95f, r.confusionThreshold = 0.97f; }},
    {"overlap", {"--num", "3", "--overlap", "0.4"}, [](auto&, auto& r) { r.numToFind = 3, r.overlapFraction = 0.4f; }},
    {"granularities", {"--num", "2", "--granularity", "2,1"},
     [](auto& t, auto& r) { r.numToFind = 2, t.autoSelectGranularity = 0, t.coarseGranularity = 2; }},
    {"coarseOnly", {"--granularity", "8"},
     [](auto& t, auto&) { t.autoSelectGranularity = 0, t.coarseGranularity = 8; }},
    {"singleLevel", {"--granularity", "1", "--overlap", "1", "--num", "5"},
     [](auto& t, auto& r) {
         t.autoSelectGranularity = 0, t.coarseGranularity = 1, r.overlapFraction = 1, r.numToFind = 5;
     }},
    {"singleLevelOverlap", {"--granularity", "1", "--num", "4"},
     [](auto& t, auto& r) { t.autoSelectGranularity = 0, t.coarseGranularity = 1, r.numToFind = 4; }},
    // Whatever the library answers to selection by trial, the tool answers too.
    {"trial", {"--granularity", "trial"}, [](auto& t, auto&) { t.autoSelectGranularity = 1, t.autoSelectByTrial = 1; }},
    {"roi", {"--num", "2", "--roi", "8,6,32,28"}, findTwo},
    {"patternMask", {"--num", "2", "--pattern-mask", "pmask.pgm"}, findTwo},
    {"sceneMask", {"--num", "2", "--scene-mask", "smask.pgm"}, findTwo},
    {"contrastLimits", {"--num", "2", "--contrast-min", "0.9", "--brightness-max", "1.5"},
     [](auto&, auto& r) { r.numToFind = 2, r.contrastMin = 0.9, r.brightnessMax = 1.5; }},
    {"region", {"--num", "2", "--region", "95,65,20,20"},
     [](auto&, auto& r) { r.numToFind = 2, r.searchRegion = {95, 65, 20, 20}; }},
    {"absoluteAndShape", {"--absolute", "--shape-score", "--shape-threshold", "100"},
     [](auto&, auto& r) { r.absoluteCorrelation = 1, r.shapeScoreOptimization = 1, r.shapeThreshold = 100; }},
};

INSTANTIATE_TEST_SUITE_P(Cli, Agreement, testing::ValuesIn(kAgreementCases),
                         [](const auto& info) { return std::string(info.param.name); });


TEST(CliFiles, BadInputsFailCleanly)
{
    ScratchDir dir;
    const Inputs in = writeStandard(dir);
    writePng(dir / "scene.png", in.scene, PNG_FORMAT_GRAY), writeJpeg(dir / "scene.jpg", in.scene);
    const std::string png = slurp(dir / "scene.png"), jpg = slurp(dir / "scene.jpg"), pgm = slurp(dir / "scene.pgm");
    spill(dir / "empty.png", ""), spill(dir / "text.png", "hello, world\n");
    spill(dir / "cut.png", png.substr(0, png.size() / 2)), spill(dir / "cut.jpg", jpg.substr(0, jpg.size() / 2));
    spill(dir / "junk.jpg", "\xFF\xD8\xFF" + std::string(300, 'x'));
    spill(dir / "cut.pgm", pgm.substr(0, pgm.size() - 10));
    spill(dir / "wide.pgm", "P5\n2 2\n65535\n" + std::string(8, '\1'));
    spill(dir / "header.pgm", "P5\n-3 2\n255\n" + std::string(6, '\1'));
    writePng(dir / "deep.png", Picture(16, 16, 2), PNG_FORMAT_LINEAR_Y);
    fs::create_directory(dir / "folder.png");
    writePnm(dir / "tiny.pgm", texturePicture(4, 20, 20));  // a good pattern, a scene smaller than the pattern
    for (const char* name : {"missing.png", "empty.png", "text.png", "cut.png", "cut.jpg", "junk.jpg", "cut.pgm",
                             "wide.pgm", "header.pgm", "deep.png", "folder.png", "tiny.pgm"})
        for (const bool asPattern : {false, true}) {
            SCOPED_TRACE(std::string(name) + (asPattern ? " as pattern" : " as scene"));
            if (asPattern && name == std::string("tiny.pgm")) continue;
            const std::string path = dir / name;
            const ToolRun run = runTool(dir, {"find", "--draw", dir / "out.png", asPattern ? path : dir / "pattern.pgm",
                                              asPattern ? dir / "scene.pgm" : path});
            EXPECT_TRUE(run.status == 2 && run.errLines() == 1 && run.out.empty()) << run.status << run.err << run.out;
            EXPECT_NE(run.err.find(path), npos) << run.err;
            for (const auto& entry : fs::directory_iterator(dir.path))
                EXPECT_EQ(entry.path().string().find("out.png"), npos) << entry.path();
        }
}


TEST(CliStatus, FollowsGrep)
{
    ScratchDir dir;
    writeStandard(dir);
    const std::string pattern = dir / "pattern.pgm", scene = dir / "scene.pgm", other = dir / "other.pgm",
                      mask = dir / "mask.pgm";
    writePnm(other, texturePicture(9, 160, 120)), writePnm(mask, Picture(5, 5));
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{pattern, scene}, 0}, {{pattern, other, scene}, 0},
        {{"--accept", "0.9", "--confusion", "0.95", pattern, other}, 1},
        {{pattern}, 2}, {{"--bogus", pattern, scene}, 2}, {{"--num", "x", pattern, scene}, 2},
        {{"--num", "0", pattern, scene}, 2}, {{"--accept", "0.8", "--confusion", "0.5", pattern, scene}, 2},
        {{"--granularity", "3", pattern, scene}, 2}, {{"--roi", "0,0,40,10", pattern, scene}, 2},
        {{"--surround", pattern, scene}, 2}, {{"--pattern-mask", mask, pattern, scene}, 2},
        {{"--scene-mask", mask, pattern, scene}, 2}, {{"--json", "--csv", pattern, scene}, 2},
        {{"-j", "0", pattern, scene}, 2}, {{"--colour", "--scene-mask", mask, pattern, scene}, 2},
        {{"--granularity", "4294967300", pattern, scene}, 2}, {{"--granularity", "2147483648,1", pattern, scene}, 2},
        {{"--granularity", "4,1x", pattern, scene}, 2}, {{"--contrast-max", "nan", pattern, scene}, 2},
        {{"--brightness-min", "-nan", pattern, scene}, 2}, {{"--max-pixels", "0", pattern, scene}, 2},
        {{"--max-pixels", "4000", pattern, scene}, 2}, {{pattern, "-", "-"}, 2}, {{}, 2},
    };
    for (auto [args, status] : cases) {
        if (!args.empty()) args.insert(args.begin(), "find");
        SCOPED_TRACE(testing::PrintToString(args));
        const ToolRun run = runTool(dir, args);
        EXPECT_EQ(run.status, status);
        EXPECT_EQ(run.errLines(), status == 2 ? 1 : 0) << run.err;
    }
}

// The tool needs some 30 MB for these files; the pixels they claim need gigabytes.
constexpr rlim_t kMemoryLimit = rlim_t(200) << 20;
#ifdef QSRCH_TEST_SANITIZED
constexpr rlim_t kAddressSpace = 0;  // the sanitizers reserve terabytes up front: only the peak memory tells
#else
constexpr rlim_t kAddressSpace = kMemoryLimit;
#endif

// A file of the decoding corpus, refused with `says`, and with `raisedSays`
// when --max-pixels allows what it may (nullptr: not tried).
struct HostileCase {
    const char *name, *file, *says, *raisedSays;
};
void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

class HostileFiles : public testing::TestWithParam<HostileCase> {};

// Through a file, whose size is known, and through a pipe, whose size is not.
TEST_P(HostileFiles, AreRefusedAtOnceWithinTheMemoryLimit)
{
    const HostileCase& c = GetParam();
    ScratchDir dir;
    writePnm(dir / "pattern.pgm", texturePicture(2, 32, 28));
    const std::string path = std::string(QSRCH_DECODE_CORPUS) + "/" + c.file;
    for (const bool raised : {false, true})
        for (const bool piped : {false, true}) {
            const char* says = raised ? c.raisedSays : c.says;
            if (says == nullptr) continue;
            SCOPED_TRACE(std::string(piped ? "through a pipe, " : "as a file, ") + says);
            std::vector<std::string> args{"find", dir / "pattern.pgm", piped ? "-" : path};
            if (raised) args.insert(args.begin() + 1, {"--max-pixels", "1073741824"});  // the largest
            const ToolRun run =
                runTool(dir, args, {piped ? std::optional(slurp(path)) : std::nullopt, kAddressSpace, 1});
            EXPECT_TRUE(run.status == 2 && run.errLines() == 1) << run.status << run.err;
            EXPECT_NE(run.err.find(piped ? "standard input" : path), npos) << run.err;
            EXPECT_NE(run.err.find(says), npos) << run.err;
            EXPECT_LT(run.maxRssKb, long(kMemoryLimit / 1024));
        }
}

const char* const kTooMany = "more than --max-pixels";
const HostileCase kHostileCases[] = {
    // A 568-byte arithmetic-coded progressive JPEG: its decoder goes on with
    // zeros where the data ends, into whole-image coefficient buffers.
    {"progressive16384", "arith-progressive-16384x16384.jpg", kTooMany, "too few bytes"},
    {"progressive65500", "arith-progressive-65500x65500.jpg", nullptr, kTooMany},
    // Headers of a few bytes whose pixels would be allocated before the missing data shows.
    {"ppmHeader", "header-18918x18918.ppm", kTooMany, "truncated PPM file"},
    {"pngHeader", "header-18918x18918.png", kTooMany, "damaged PNG file"},
    {"jpegHeader", "truncated-18000x18000.jpg", kTooMany, "too few bytes"},
    {"truncatedJpeg", "truncated-1500x1500.jpg", "truncated JPEG file", nullptr},
};

INSTANTIATE_TEST_SUITE_P(Cli, HostileFiles, testing::ValuesIn(kHostileCases),
                         [](const auto& info) { return std::string(info.param.name); });


// Grey pixels in n channels: replicated, or with an alpha of 200 as the second of two.
Picture channels(const Picture& grey, int32_t n)
{
    Picture p(grey.width, grey.height, n);
    for (size_t i = 0; i < grey.px.size(); ++i)
        for (int32_t c = 0; c < n; ++c) p.px[n * i + c] = n == 2 && c == 1 ? 200 : grey.px[i];
    return p;
}

using Path = const std::string&;
const std::pair<const char*, void (*)(Path, const Picture&)> kFormats[] = {
    {"pgm", [](Path f, const Picture& p) { writePnm(f, p, "# comment\n# another\n"); }},
    {"ppm", [](Path f, const Picture& p) { writePnm(f, channels(p, 3)); }},
    {"grey.png", [](Path f, const Picture& p) { writePng(f, p, PNG_FORMAT_GRAY); }},
    {"png", [](Path f, const Picture& p) { writePng(f, channels(p, 3), PNG_FORMAT_RGB); }},
    {"alpha.png", [](Path f, const Picture& p) { writePng(f, channels(p, 2), PNG_FORMAT_GA); }},
    {"palette.png", [](Path f, const Picture& p) { writePng(f, p, PNG_FORMAT_RGB_COLORMAP); }},
    {"interlaced.png", [](Path f, const Picture& p) { writeInterlacedPng(f, channels(p, 3)); }},
    {"jpg", [](Path f, const Picture& p) { writeJpeg(f, p); }},
    {"rgb.jpg", [](Path f, const Picture& p) { writeJpeg(f, channels(p, 3)); }},
    {"progressive.jpg", [](Path f, const Picture& p) { writeJpeg(f, channels(p, 3), true); }},
};

// The table of one scene puts its first result within a quarter pixel of (x, y).
void expectFirstAt(const std::string& table, double x, double y)
{
    double fx = -1, fy = -1;
    if (table.find("\n  1 ") != npos) std::sscanf(table.c_str() + table.find("\n  1 "), " 1 %lf %lf", &fx, &fy);
    EXPECT_TRUE(std::fabs(fx - x) <= 0.25 && std::fabs(fy - y) <= 0.25) << table;
}

// Every format, as scene and as pattern, from a file and through a pipe named
// "-" (the scene also through "/dev/stdin"): the grey answer of a PGM file,
// exactly where the format is lossless. The scene outgrows a pipe's buffer.
TEST(CliPipes, EveryFormatReadsAsFromAFile)
{
    ScratchDir dir;
    const Picture part = texturePicture(2, 32, 28);
    Picture scene = texturePicture(1, 400, 300);
    plant(scene, part, 211, 143);
    writePnm(dir / "part.pgm", part), writePnm(dir / "scene.pgm", scene);
    const ToolRun reference = runTool(dir, {"find", "--num", "2", dir / "part.pgm", dir / "scene.pgm"});
    ASSERT_EQ(reference.status, 0) << reference.err;
    for (const auto& [name, write] : kFormats) {
        SCOPED_TRACE(name);
        const std::string scenePath = dir / (std::string("scene.") + name);
        const std::string partPath = dir / (std::string("part.") + name);
        write(scenePath, scene), write(partPath, part);
        const ToolRun fromFile = runTool(dir, {"find", "--num", "2", partPath, scenePath});
        ASSERT_EQ(fromFile.status, 0) << fromFile.err;
        EXPECT_TRUE(std::string(name).find("jpg") != npos || fromFile.out == reference.out) << fromFile.out;
        expectFirstAt(fromFile.out, 211, 143);
        for (const char* stdinName : {"-", "/dev/stdin"}) {
            const ToolRun sceneRun = runTool(dir, {"find", "--num", "2", partPath, stdinName}, {slurp(scenePath)});
            EXPECT_EQ(sceneRun.err + sceneRun.out, fromFile.out);
        }
        const ToolRun partRun = runTool(dir, {"find", "--num", "2", "-", scenePath}, {slurp(partPath)});
        EXPECT_EQ(partRun.err + partRun.out, fromFile.out);
    }
}

// A large scene of nearly one colour compresses far beyond a photograph, and
// a pipe gives no size: its pixels grow as its rows arrive, and still come
// out whole.
TEST(CliPipes, ScenesThatOutgrowTheirFirstRoomArriveWhole)
{
    ScratchDir dir;
    const Picture part = texturePicture(2, 32, 28);
    Picture scene(2400, 1800);
    std::fill(scene.px.begin(), scene.px.end(), uint8_t(100));
    plant(scene, texturePicture(3, 200, 150), 2100, 1600);
    plant(scene, part, 2190, 1700);
    writePnm(dir / "part.pgm", part), writePnm(dir / "scene.pgm", scene);
    writePng(dir / "scene.png", scene, PNG_FORMAT_GRAY);
    writeInterlacedPng(dir / "interlaced.png", scene);
    writeJpeg(dir / "scene.jpg", scene);
    for (const char* name : {"scene.pgm", "scene.png", "interlaced.png", "scene.jpg"})
        for (const bool piped : {false, true}) {
            SCOPED_TRACE(std::string(name) + (piped ? " through a pipe" : ""));
            const ToolRun run = runTool(dir, {"find", dir / "part.pgm", piped ? "-" : dir / name},
                                        {piped ? std::optional(slurp(dir / name)) : std::nullopt});
            ASSERT_EQ(run.status, 0) << run.err;
            expectFirstAt(run.out, 2190, 1700);
        }
}


TEST(CliDraw, PicturesShowTheResultsAndReplaceOnlyRegularFiles)
{
    ScratchDir dir;
    writeStandard(dir);
    writePng(dir / "b.png", texturePicture(5, 90, 70), PNG_FORMAT_GRAY);
    const ToolRun one = runTool(dir, {"find", "--draw", dir / "one.png", dir / "pattern.pgm", dir / "scene.pgm"});
    ASSERT_EQ(one.status, 0) << one.err;
    Picture picture = readPng(dir / "one.png");
    ASSERT_EQ(std::make_tuple(picture.channels, picture.width, picture.height), std::make_tuple(3, 160, 120));
    EXPECT_TRUE(picture.at(49, 54, 1) > 150 && picture.at(49, 54, 0) < 60);  // the frame left of the best, halfway down
    const ToolRun several =
        runTool(dir, {"find", "--draw", dir / "pictures", dir / "pattern.pgm", dir / "scene.pgm", dir / "b.png"});
    EXPECT_EQ(several.status, 0) << several.err;
    EXPECT_EQ(readPng(dir / "pictures/scene-found.png").width, 160);
    EXPECT_EQ(readPng(dir / "pictures/b-found.png").height, 70);
    EXPECT_NE(several.out.find("== " + (dir / "b.png")), npos) << several.out;

    spill(dir / "kept.txt", "kept\n");
    fs::create_symlink(dir / "kept.txt", dir / "link.png");
    fs::create_symlink(dir / "nowhere.png", dir / "dangling.png");
    ASSERT_EQ(mkfifo((dir / "fifo.png").c_str(), 0644), 0);
    fs::remove_all(dir / "pictures"), fs::create_directories(dir / "pictures/scene-found.png");
    std::vector<std::string> targets{"link.png", "dangling.png", "fifo.png", "pictures"};
    // Only root may make a device node.
    if (mknod((dir / "device.png").c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0) targets.push_back("device.png");
    for (const std::string& target : targets) {
        SCOPED_TRACE(target);
        const fs::file_type before = fs::symlink_status(dir / target).type();
        const ToolRun run = runTool(dir, {"find", "--draw", dir / target, dir / "pattern.pgm", dir / "scene.pgm"});
        EXPECT_TRUE(run.status == 2 && run.errLines() == 1 && run.out.empty()) << run.status << run.err << run.out;
        EXPECT_NE(run.err.find(target), npos) << run.err;
        EXPECT_EQ(fs::symlink_status(dir / target).type(), before);
    }
    EXPECT_EQ(slurp(dir / "kept.txt"), "kept\n");
    EXPECT_FALSE(fs::exists(dir / "nowhere.png"));
    EXPECT_TRUE(fs::is_empty(dir / "pictures/scene-found.png"));
    // No temporary file left behind, and a regular file is replaced.
    for (const auto& entry : fs::directory_iterator(dir.path))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    const ToolRun replaced = runTool(dir, {"find", "--draw", dir / "kept.txt", dir / "pattern.pgm", dir / "scene.pgm"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(readPng(dir / "kept.txt").width, 160);
}


TEST(CliScenes, ThreadsKeepTheOrderAndTheAnswers)
{
    ScratchDir dir;
    const Inputs in = writeStandard(dir);
    std::vector<std::string> scenes;
    for (int i = 0; i < 20; ++i) {
        Picture scene = texturePicture(100 + i, 120, 100);
        plant(scene, in.pattern, 5 + 4 * i, 60 - 2 * i);
        writePnm(scenes.emplace_back(dir / ("scene" + std::to_string(i) + ".pgm")), scene);
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
        EXPECT_NEAR(std::get<X>(found[0]), 5 + 4 * double(i), 0.25);
        EXPECT_NEAR(std::get<Y>(found[0]), 60 - 2 * double(i), 0.25);
        for (size_t k = 0; k < found.size(); ++k, ++rows) {  // CSV carries the same numbers, exactly
            const std::string row = scenes[i] + ',' + std::to_string(k + 1) + ',';
            EXPECT_EQ(std::stod(csv.out.substr(csv.out.find(row) + row.size())), std::get<X>(found[k]));
        }
    }
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), long(rows) + 1);
}

TEST(CliColour, FindsTheColourPatternNotItsGreyTwin)
{
    ScratchDir dir;
    const Picture part = texturePicture(2, kPatternW, kPatternH);
    Picture pattern(kPatternW, kPatternH, 3), scene(160, 120, 3);
    std::fill(scene.px.begin(), scene.px.end(), uint8_t(90));
    std::fill(pattern.px.begin(), pattern.px.end(), uint8_t(90));
    for (int32_t y = 0; y < kPatternH; ++y)
        for (int32_t x = 0; x < kPatternW; ++x)  // red in the pattern and at (30, 20), green at (100, 70)
            pattern.at(x, y, 0) = scene.at(30 + x, 20 + y, 0) = scene.at(100 + x, 70 + y, 1) =
                part.px[size_t(y) * kPatternW + x];
    writePng(dir / "pattern.png", pattern, PNG_FORMAT_RGB);
    writePnm(dir / "scene.ppm", scene);
    const ToolRun run =
        runTool(dir, {"find", "--json", "--colour", "--num", "2", dir / "pattern.png", dir / "scene.ppm"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Result> found = parseResults(json::parse(run.out)[0]);
    ASSERT_FALSE(found.empty());
    EXPECT_NEAR(std::get<X>(found[0]), 30, 0.1);
    EXPECT_NEAR(std::get<Y>(found[0]), 20, 0.1);
    EXPECT_GT(std::get<Score>(found[0]), 0.95);
    for (size_t i = 1; i < found.size(); ++i) EXPECT_LT(std::get<Score>(found[i]), 0.5);
}

TEST(CliDemo, FindsThePartAndWritesThePicture)
{
    ScratchDir dir;
    const std::string picture = dir / "demo/qsrch-demo.png";
    const ToolRun run = runTool(dir, {"demo", "--out", dir / "demo"});
    EXPECT_TRUE(run.status == 0 && run.err.empty()) << run.err;
    for (const std::string& said : {picture, std::string(" yes "), std::string(" no ")})
        EXPECT_NE(run.out.find(said), npos) << said << " in " << run.out;
    EXPECT_EQ(std::make_pair(readPng(picture).width, readPng(picture).height), std::make_pair(400, 300));
    const ToolRun elsewhere = runTool(dir, {"demo", "--samples", dir / "nothing-here"});
    EXPECT_TRUE(elsewhere.status == 2 && elsewhere.errLines() == 1) << elsewhere.err;
}

}  // namespace
}  // namespace clitest

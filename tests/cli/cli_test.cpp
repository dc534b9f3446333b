// The `qsrch` tool as its users meet it: JSON equal to the library's results,
// grep's exit statuses, one stderr line and status 2 for every bad input, files
// claiming far more pixels than they hold refused cheaply, pipes read like files.
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

bool near(const Result& r, double x, double y, double within)
{
    return std::fabs(std::get<X>(r) - x) <= within && std::fabs(std::get<Y>(r) - y) <= within;
}

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

// The normalized-correlation interface: it reports contrast and brightness.
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

// A scene with the pattern planted twice, the second copy dimmer and brighter.
Inputs writeStandard(const ScratchDir& dir)
{
    Inputs in{texturePicture(2, kPatternW, kPatternH), texturePicture(1, 160, 120), {}, {}};
    plant(in.scene, in.pattern, 50, 40), plant(in.scene, in.pattern, 104, 72, 0.8, 25);
    writePnm(dir / "pattern.pgm", in.pattern, "# written by the test\n"), writePnm(dir / "scene.pgm", in.scene);
    return in;
}

// Masks: the pattern's without care in a corner and with two care values
// elsewhere; the scene's hides the dimmer copy's corner.
Picture maskOf(int32_t w, int32_t h, bool pattern)
{
    Picture m(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            m.at(x, y) = pattern ? (x < 10 && y < 10 ? 0 : (x + y) % 3 ? 255 : 128) : x >= 100 && y >= 68 ? 0 : 200;
    return m;
}

struct AgreementCase {
    const char* name;
    std::vector<std::string> args;  // files named *.pgm lie in the scratch folder
    std::function<void(TrainParams&, RunParams&)> configure = [](auto&, auto&) {};
};

const auto findTwo = [](auto&, auto& r) { r.numToFind = 2; };
const AgreementCase kAgreementCases[] = {
    {"defaults", {}},
    {"thresholds", {"--num", "2", "--accept", "0.95", "--confusion", "0.97"},
     [](auto&, auto& r) { r.numToFind = 2, r.acceptThreshold = 0.95f, r.confusionThreshold = 0.97f; }},
    {"overlap", {"--num", "3", "--overlap", "0.4"}, [](auto&, auto& r) { r.numToFind = 3, r.overlapFraction = 0.4f; }},
    {"granularities", {"--num", "2", "--granularity", "2,1"},
     [](auto& t, auto& r) { r.numToFind = 2, t.autoSelectGranularity = 0, t.coarseGranularity = 2; }},
    // At level 0 alone, with the tool's overlap.
    {"singleLevel", {"--granularity", "1", "--num", "4"},
     [](auto& t, auto& r) { t.autoSelectGranularity = 0, t.coarseGranularity = 1, r.numToFind = 4; }},
    // Whatever the library answers to selection by trial, the tool answers too.
    {"trial", {"--granularity", "trial"}, [](auto& t, auto&) { t.autoSelectGranularity = 1, t.autoSelectByTrial = 1; }},
    {"roi", {"--num", "2", "--roi", "8,6,32,28"}, findTwo},
    {"patternMask", {"--num", "2", "--pattern-mask", "pmask.pgm"}, findTwo},
    {"sceneMask", {"--num", "2", "--scene-mask", "smask.pgm"}, findTwo},
    {"contrastLimits", {"--num", "2", "--contrast-min", "0.9", "--brightness-max", "1.5"},
     [](auto&, auto& r) { r.numToFind = 2, r.contrastMin = 0.9, r.brightnessMax = 1.5; }},
    {"region", {"--region", "95,65,20,20"}, [](auto&, auto& r) { r.searchRegion = {95, 65, 20, 20}; }},
    {"absoluteAndShape", {"--absolute", "--shape-score", "--shape-threshold", "100"},
     [](auto&, auto& r) { r.absoluteCorrelation = 1, r.shapeScoreOptimization = 1, r.shapeThreshold = 100; }},
};

// The library runs from the top-level defaults, as the tool does, with the options given.
TEST(CliAgreement, JsonEqualsLibrary)
{
    ScratchDir dir;
    const Inputs standard = writeStandard(dir);
    Picture larger = texturePicture(3, 48, 40);  // for --roi: the pattern at (8, 6) in a larger picture
    plant(larger, standard.pattern, 8, 6), writePnm(dir / "larger.pgm", larger);
    const Picture patternMask = maskOf(kPatternW, kPatternH, true), sceneMask = maskOf(160, 120, false);
    writePnm(dir / "pmask.pgm", patternMask), writePnm(dir / "smask.pgm", sceneMask);
    qsrch_trainParams topTrain;
    qsrch_runParams topRun;
    qsrch_trainParams_init(&topTrain), qsrch_runParams_init(&topRun);
    for (const AgreementCase& c : kAgreementCases) {
        SCOPED_TRACE(c.name);
        auto given = [&](const char* option) { return std::count(c.args.begin(), c.args.end(), option) > 0; };
        std::vector<std::string> args{"find", "--json"};
        for (const std::string& a : c.args) args.push_back(a.find(".pgm") != npos ? dir / a : a);
        args.insert(args.end(), {dir / (given("--roi") ? "larger.pgm" : "pattern.pgm"), dir / "scene.pgm"});
        const Inputs in{standard.pattern, standard.scene, given("--pattern-mask") ? patternMask : Picture(),
                        given("--scene-mask") ? sceneMask : Picture()};
        TrainParams train;
        RunParams run;
        ASSERT_EQ(qsrch_normcorr_trainParams_initFromTrainParams(&train, &topTrain), QSRCH_OK);
        ASSERT_EQ(qsrch_normcorr_runParams_initFromRunParams(&run, &topRun), QSRCH_OK);
        run.overlapFraction = 0.5f;  // the tool's one default that is not the library's
        c.configure(train, run);
        std::vector<Result> want;
        const qsrch_status status = normcorr(in, train, run, want);
        // The tool prints them best first, at most --num: level 0 alone reports every peak, unsorted.
        auto better = [](const Result& a, const Result& b) { return std::get<Score>(a) > std::get<Score>(b); };
        std::stable_sort(want.begin(), want.end(), better);
        want.resize(std::min(want.size(), size_t(run.numToFind)));
        const ToolRun tool = runTool(dir, args);
        if (QSRCH_FAILED(status)) {
            EXPECT_TRUE(tool.status == 2 && tool.err.find(qsrch_statusName(status)) != npos) << tool.err;
            continue;
        }
        ASSERT_EQ(tool.err, "");
        const json out = json::parse(tool.out);
        ASSERT_TRUE(out.size() == 1 && out[0].at("scene") == args.back()) << out;
        EXPECT_EQ(parseResults(out[0]), want);
        auto isAccepted = [](const Result& r) { return std::get<Accepted>(r); };
        EXPECT_EQ(tool.status, std::any_of(want.begin(), want.end(), isAccepted) ? 0 : 1);
    }
}

// The tool needs some 30 MB for any input; the pixels hostile files claim need gigabytes.
constexpr rlim_t kMemoryLimit = rlim_t(200) << 20;
#ifdef QSRCH_TEST_SANITIZED
constexpr rlim_t kAddressSpace = 0;  // the sanitizers reserve terabytes up front: only the peak memory tells
#else
constexpr rlim_t kAddressSpace = kMemoryLimit;
#endif

// Files of the decoding corpus, refused with `says`, and with `raisedSays`
// when --max-pixels allows what it may (nullptr: not tried).
const char* const kTooMany = "more than --max-pixels";
const struct {
    const char *file, *says, *raisedSays;
} kHostileFiles[] = {
    // 568 bytes of arithmetic-coded progressive JPEG: its decoder fills whole-image buffers with zeros.
    {"arith-progressive-16384x16384.jpg", kTooMany, "too few bytes"},
    {"arith-progressive-65500x65500.jpg", nullptr, kTooMany},
    // Headers of a few bytes whose pixels would be allocated before the missing data shows.
    {"header-18918x18918.ppm", kTooMany, "truncated PPM file"},
    {"header-18918x18918.png", kTooMany, "damaged PNG file"},
    {"truncated-18000x18000.jpg", kTooMany, "too few bytes"},
    {"truncated-1500x1500.jpg", "truncated JPEG file", nullptr},
};

// Grep's statuses. A refusal is status 2 and one line on stderr naming the bad
// file, nothing on stdout and no picture, within a second and the memory limit;
// every file of the decoding corpus is refused as a scene, from a file (size
// known) and through a pipe (not). A picture replaces only a regular file.
TEST(CliStatus, FollowsGrepAndRefusesBadInputsAtOnce)
{
    ScratchDir dir;
    writeStandard(dir);
    const std::string pattern = dir / "pattern.pgm", scene = dir / "scene.pgm", other = dir / "other.pgm",
                      mask = dir / "mask.pgm", out = dir / "out.png";
    writePnm(other, texturePicture(9, 160, 120)), writePnm(mask, Picture(5, 5));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> says = {};
        std::optional<std::string> stdinBytes = {};
    };
    std::vector<Case> cases = {
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
    spill(dir / "empty.png", ""), fs::create_directory(dir / "folder.png");
    for (const std::string& bad : {dir / "missing.png", dir / "empty.png", dir / "folder.png"}) {
        cases.push_back({{"--draw", out, pattern, bad}, 2, {bad}});
        cases.push_back({{"--draw", out, bad, scene}, 2, {bad}});
    }
    for (const auto& entry : fs::directory_iterator(QSRCH_DECODE_CORPUS)) {
        const std::string path = entry.path();
        cases.push_back({{"--draw", out, pattern, path}, 2, {path}});
        cases.push_back({{"--draw", out, pattern, "-"}, 2, {"standard input"}, slurp(path)});
    }
    for (const auto& c : kHostileFiles)
        for (const char* says : {c.says, c.raisedSays})
            for (const bool piped : {false, true}) {
                const std::string path = std::string(QSRCH_DECODE_CORPUS) + "/" + c.file;
                std::vector<std::string> args{pattern, piped ? "-" : path};
                if (says == c.raisedSays) args.insert(args.begin(), {"--max-pixels", "1073741824"});  // the largest
                if (says != nullptr)
                    cases.push_back({args, 2, {piped ? "standard input" : path, says},
                                     piped ? std::optional(slurp(path)) : std::nullopt});
            }
    // Drawing over what is not a regular file; only root may make a device node.
    spill(dir / "kept.txt", "kept\n"), fs::create_symlink(dir / "kept.txt", dir / "link.png");
    fs::create_symlink(dir / "nowhere.png", dir / "dangling.png");
    fs::create_directories(dir / "pictures/scene-found.png");
    ASSERT_EQ(mkfifo((dir / "fifo.png").c_str(), 0644), 0);
    const bool device = mknod((dir / "device.png").c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
    for (const char* target : {"link.png", "dangling.png", "fifo.png", "pictures", "device.png"})
        if (target != std::string("device.png") || device)
            cases.push_back({{"--draw", dir / target, pattern, scene}, 2, {dir / target}});
    for (Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        if (!c.args.empty()) c.args.insert(c.args.begin(), "find");
        const ToolRun run = runTool(dir, c.args, c.stdinBytes, kAddressSpace, 1);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.errLines(), c.status == 2 ? 1 : 0) << run.err;
        EXPECT_TRUE(c.status != 2 || run.out.empty()) << run.out;
        for (const std::string& text : c.says) EXPECT_NE(run.err.find(text), npos) << run.err;
        EXPECT_LT(run.maxRssKb, long(kMemoryLimit / 1024));
        for (const auto& entry : fs::directory_iterator(dir.path))  // no picture, no temporary file
            EXPECT_TRUE(entry.path().string().find("out.png") == npos && entry.path().filename().string()[0] != '.')
                << entry.path();
    }
    EXPECT_EQ(slurp(dir / "kept.txt"), "kept\n");
    EXPECT_TRUE(fs::is_symlink(dir / "link.png") && fs::is_symlink(dir / "dangling.png"));
    EXPECT_TRUE(fs::is_fifo(dir / "fifo.png") && (!device || fs::is_character_file(dir / "device.png")));
    EXPECT_FALSE(fs::exists(dir / "nowhere.png"));
    EXPECT_TRUE(fs::is_empty(dir / "pictures/scene-found.png"));
}

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
        const std::string scenePath = dir / "scene." + name, partPath = dir / "part." + name;
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
    // Nearly one colour, a large scene packs far more pixels than bytes, and a
    // pipe gives no size: its pixels outgrow their first room as rows arrive.
    Picture large(2400, 1800, 1, 100);
    plant(large, texturePicture(3, 200, 150), 2100, 1600), plant(large, part, 2190, 1700);
    writePnm(dir / "large.pgm", large), writePng(dir / "large.png", large, PNG_FORMAT_GRAY);
    writeInterlacedPng(dir / "interlaced.png", large), writeJpeg(dir / "large.jpg", large);
    for (const char* name : {"large.pgm", "large.png", "interlaced.png", "large.jpg"})
        for (const bool piped : {false, true}) {
            SCOPED_TRACE(std::string(name) + (piped ? " through a pipe" : ""));
            const ToolRun run = runTool(dir, {"find", dir / "part.pgm", piped ? "-" : dir / name},
                                        piped ? std::optional(slurp(dir / name)) : std::nullopt);
            ASSERT_EQ(run.status, 0) << run.err;
            expectFirstAt(run.out, 2190, 1700);
        }
}

TEST(CliDraw, PicturesShowTheResultsAndReplaceRegularFiles)
{
    ScratchDir dir;
    writeStandard(dir), writePng(dir / "b.png", texturePicture(5, 90, 70), PNG_FORMAT_GRAY);
    const std::string pattern = dir / "pattern.pgm", scene = dir / "scene.pgm";
    spill(dir / "kept.txt", "kept\n");
    const ToolRun one = runTool(dir, {"find", "--draw", dir / "kept.txt", pattern, scene});
    ASSERT_EQ(one.status, 0) << one.err;
    Picture picture = readPng(dir / "kept.txt");
    ASSERT_EQ(std::make_tuple(picture.channels, picture.width, picture.height), std::make_tuple(3, 160, 120));
    EXPECT_TRUE(picture.at(49, 54, 1) > 150 && picture.at(49, 54, 0) < 60);  // the frame left of the best, halfway down
    const ToolRun several = runTool(dir, {"find", "--draw", dir / "pictures", pattern, scene, dir / "b.png"});
    EXPECT_EQ(several.status, 0) << several.err;
    EXPECT_EQ(readPng(dir / "pictures/scene-found.png").width, 160);
    EXPECT_EQ(readPng(dir / "pictures/b-found.png").height, 70);
    EXPECT_NE(several.out.find("== " + (dir / "b.png")), npos) << several.out;
}

TEST(CliScenes, ThreadsKeepTheOrderAndTheAnswers)
{
    ScratchDir dir;
    const Inputs in = writeStandard(dir);
    std::vector<std::string> args{"find", "--json", "--num", "2", "-j", "1", dir / "pattern.pgm"};
    for (int i = 0; i < 20; ++i) {
        Picture scene = texturePicture(100 + i, 120, 100);
        plant(scene, in.pattern, 5 + 4 * i, 60 - 2 * i);
        writePnm(args.emplace_back(dir / ("scene" + std::to_string(i) + ".pgm")), scene);
    }
    const ToolRun one = runTool(dir, args), two = runTool(dir, (args[5] = "2", args)),
                  csv = runTool(dir, (args[1] = "--csv", args));
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(std::tie(two.status, two.out), std::tie(one.status, one.out));
    const json out = json::parse(one.out);
    ASSERT_EQ(out.size(), 20u);
    size_t rows = 0;
    for (size_t i = 0; i < 20; ++i) {
        const std::string& scene = args[7 + i];
        const std::vector<Result> found = parseResults(out[i]);
        ASSERT_TRUE(out[i].at("scene") == scene && !found.empty()) << out[i];
        EXPECT_TRUE(near(found[0], 5 + 4 * double(i), 60 - 2 * double(i), 0.25)) << out[i];
        for (size_t k = 0; k < found.size(); ++k, ++rows) {  // CSV carries the same numbers, exactly
            const std::string row = scene + ',' + std::to_string(k + 1) + ',';
            EXPECT_EQ(std::stod(csv.out.substr(csv.out.find(row) + row.size())), std::get<X>(found[k]));
        }
    }
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), long(rows) + 1);
}

TEST(CliColour, FindsTheColourPatternNotItsGreyTwin)
{
    ScratchDir dir;
    const Picture part = texturePicture(2, kPatternW, kPatternH);
    Picture pattern(kPatternW, kPatternH, 3, 90), scene(160, 120, 3, 90);
    for (int32_t y = 0; y < kPatternH; ++y)
        for (int32_t x = 0; x < kPatternW; ++x)  // red in the pattern and at (30, 20), green at (100, 70)
            pattern.at(x, y, 0) = scene.at(30 + x, 20 + y, 0) = scene.at(100 + x, 70 + y, 1) =
                part.px[size_t(y) * kPatternW + x];
    writePng(dir / "pattern.png", pattern, PNG_FORMAT_RGB), writePnm(dir / "scene.ppm", scene);
    const ToolRun run =
        runTool(dir, {"find", "--json", "--colour", "--num", "2", dir / "pattern.png", dir / "scene.ppm"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Result> found = parseResults(json::parse(run.out)[0]);
    ASSERT_FALSE(found.empty());
    EXPECT_TRUE(near(found[0], 30, 20, 0.1) && std::get<Score>(found[0]) > 0.95) << run.out;
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
    const Picture shown = readPng(picture);
    EXPECT_EQ(std::make_pair(shown.width, shown.height), std::make_pair(400, 300));
    const ToolRun elsewhere = runTool(dir, {"demo", "--samples", dir / "nothing-here"});
    EXPECT_TRUE(elsewhere.status == 2 && elsewhere.errLines() == 1) << elsewhere.err;
}

}  // namespace
}  // namespace clitest

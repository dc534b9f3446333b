// Files and paths from an untrusted source: a header that claims far more
// pixels than its file holds is refused at once and costs next to nothing,
// a pipe or standard input reads like a file in every format, and a picture
// of the results replaces nothing but a regular file.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "cli_support.hpp"

namespace clitest {
namespace {

#ifdef QSRCH_TEST_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr size_t npos = std::string::npos;
// The tool needs some 30 MB for these files; the pixels they claim need gigabytes.
constexpr rlim_t kMemoryLimit = rlim_t(200) << 20;

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
            // A sanitizer build reserves terabytes of address space up front: there only
            // the peak resident memory tells.
            const ToolRun run = runTool(dir, args, {piped ? std::optional(slurp(path)) : std::nullopt,
                                                    kSanitized ? 0 : kMemoryLimit, 1});
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

// ---- Pipes and standard input -----------------------------------------------------

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

// Where the table of one scene puts its first result.
std::pair<double, double> firstPlace(const std::string& table)
{
    double x = -1, y = -1;
    if (table.find("\n  1 ") != npos) std::sscanf(table.c_str() + table.find("\n  1 "), " 1 %lf %lf", &x, &y);
    return {x, y};
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
        const std::string scenePath = dir / (std::string("scene.") + name), partPath = dir / (std::string("part.") + name);
        write(scenePath, scene), write(partPath, part);
        const ToolRun fromFile = runTool(dir, {"find", "--num", "2", partPath, scenePath});
        ASSERT_EQ(fromFile.status, 0) << fromFile.err;
        EXPECT_TRUE(std::string(name).find("jpg") != npos || fromFile.out == reference.out) << fromFile.out;
        EXPECT_NEAR(firstPlace(fromFile.out).first, 211, 0.25) << fromFile.out;
        EXPECT_NEAR(firstPlace(fromFile.out).second, 143, 0.25) << fromFile.out;
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
            EXPECT_NEAR(firstPlace(run.out).first, 2190, 0.25) << run.out;
            EXPECT_NEAR(firstPlace(run.out).second, 1700, 0.25) << run.out;
        }
}

// ---- Pictures: the scene's size, green frames, and only regular files replaced ---------

TEST(CliDraw, PicturesShowTheResultsAndReplaceOnlyRegularFiles)
{
    ScratchDir dir;
    const Picture part = texturePicture(2, 32, 28);
    Picture scene = texturePicture(1, 120, 90);
    plant(scene, part, 40, 30);
    writePnm(dir / "part.pgm", part), writePnm(dir / "scene.pgm", scene);
    writePng(dir / "b.png", texturePicture(5, 90, 70), PNG_FORMAT_GRAY);
    const ToolRun one = runTool(dir, {"find", "--draw", dir / "one.png", dir / "part.pgm", dir / "scene.pgm"});
    ASSERT_EQ(one.status, 0) << one.err;
    Picture picture = readPng(dir / "one.png");
    ASSERT_EQ(std::make_tuple(picture.channels, picture.width, picture.height), std::make_tuple(3, 120, 90));
    EXPECT_TRUE(picture.at(39, 44, 1) > 150 && picture.at(39, 44, 0) < 60);  // the frame left of the part, halfway down
    const ToolRun several = runTool(dir, {"find", "--draw", dir / "pictures", dir / "part.pgm", dir / "scene.pgm", dir / "b.png"});
    EXPECT_EQ(several.status, 0) << several.err;
    EXPECT_EQ(readPng(dir / "pictures/scene-found.png").width, 120);
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
        const ToolRun run = runTool(dir, {"find", "--draw", dir / target, dir / "part.pgm", dir / "scene.pgm"});
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
    const ToolRun replaced = runTool(dir, {"find", "--draw", dir / "kept.txt", dir / "part.pgm", dir / "scene.pgm"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(readPng(dir / "kept.txt").width, 120);
}

}  // namespace
}  // namespace clitest

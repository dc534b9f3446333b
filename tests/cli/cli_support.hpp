// Driving the built `qsrch` tool: a scratch folder, runs with captured output,
// textured pictures, and image writers on libpng and libjpeg, not the tool's code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

namespace clitest {

namespace fs = std::filesystem;

inline std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void spill(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

struct ScratchDir {
    std::string path = (fs::temp_directory_path() / "qsrch-cli-XXXXXX").string();
    ScratchDir() { EXPECT_NE(mkdtemp(path.data()), nullptr); }
    ~ScratchDir() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

struct ToolRun {
    int status = -1;  // -1 when the tool did not exit by itself (a signal, a CPU limit)
    std::string out, err;
    long maxRssKb = 0;  // the tool's peak resident memory
    int errLines() const { return static_cast<int>(std::count(err.begin(), err.end(), '\n')); }
};

// Runs the tool with args; stdout and stderr go through files in `dir`, standard
// input is a pipe fed with stdinBytes if any; limits of 0 are none.
inline ToolRun runTool(const ScratchDir& dir, const std::vector<std::string>& args,
                       const std::optional<std::string>& stdinBytes = {}, rlim_t addressSpace = 0,
                       rlim_t cpuSeconds = 0)
{
    const std::string outPath = dir / ".stdout", errPath = dir / ".stderr";
    std::vector<char*> argv{const_cast<char*>(QSRCH_TOOL)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int feed[2] = {-1, -1};
    EXPECT_TRUE(!stdinBytes || pipe(feed) == 0);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = fork();
    if (pid == 0) {  // only async-signal-safe calls from here to exec
        if (stdinBytes) dup2(feed[0], 0), close(feed[0]), close(feed[1]);
        dup2(out, 1), dup2(err, 2), close(out), close(err);
        const rlimit space{addressSpace, addressSpace}, cpu{cpuSeconds, cpuSeconds};
        if (addressSpace != 0) setrlimit(RLIMIT_AS, &space);
        if (cpuSeconds != 0) setrlimit(RLIMIT_CPU, &cpu);
        execv(QSRCH_TOOL, argv.data());
        _exit(127);
    }
    EXPECT_GT(pid, 0);
    close(out), close(err);
    if (stdinBytes) {
        close(feed[0]);
        signal(SIGPIPE, SIG_IGN);  // the tool may stop reading early: a write then fails
        for (ssize_t at = 0, n = 1; at < ssize_t(stdinBytes->size()) && n > 0; at += n)
            n = write(feed[1], stdinBytes->data() + at, stdinBytes->size() - at);
        close(feed[1]);
    }
    ToolRun run;
    int wstatus = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &wstatus, 0, &usage) == pid && WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
    run.maxRssKb = usage.ru_maxrss, run.out = slurp(outPath), run.err = slurp(errPath);
    return fs::remove(outPath), fs::remove(errPath), run;
}

// 8-bit pixels, interleaved, rows packed.
struct Picture {
    int32_t width = 0, height = 0, channels = 1;
    std::vector<uint8_t> px;
    Picture() = default;
    Picture(int32_t w, int32_t h, int32_t c = 1, uint8_t fill = 0)
        : width(w), height(h), channels(c), px(size_t(w) * h * c, fill) {}
    uint8_t& at(int32_t x, int32_t y, int32_t c = 0) { return px[(size_t(y) * width + x) * channels + c]; }
    uint8_t* row(int32_t y) { return &px[size_t(y) * width * channels]; }
};

inline uint32_t mixBits(uint32_t h)
{
    h = (h ^ (h >> 16)) * 0x7feb352dU, h = (h ^ (h >> 15)) * 0x846ca68bU;
    return h ^ (h >> 16);
}

// Smooth value noise (cells of 5 pixels) with a little fine detail: the
// coarse levels of a search see it as well as the fine ones.
inline Picture texturePicture(uint32_t seed, int32_t w, int32_t h)
{
    auto lattice = [&](int32_t i, int32_t j) {
        return double(mixBits(seed * 0x9E3779B9U ^ mixBits(uint32_t(i) * 7919U + uint32_t(j) * 104729U)) & 255);
    };
    Picture p(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int32_t i = x / 5, j = y / 5;
            const double fx = (x % 5) / 5.0, fy = (y % 5) / 5.0;
            const double v = (lattice(i, j) * (1 - fx) + lattice(i + 1, j) * fx) * (1 - fy) +
                             (lattice(i, j + 1) * (1 - fx) + lattice(i + 1, j + 1) * fx) * fy;
            p.at(x, y) = uint8_t(30 + int(v * 0.7) + int(mixBits(seed ^ uint32_t(x * 31 + y * 1009)) % 16));
        }
    return p;
}

// Copies grey `part` into every channel of `scene` at (x, y) with value * gain + offset.
inline void plant(Picture& scene, const Picture& part, int32_t x, int32_t y, double gain = 1, int offset = 0)
{
    for (int32_t v = 0; v < part.height; ++v)
        for (int32_t u = 0; u < part.width; ++u)
            for (int32_t c = 0; c < scene.channels; ++c)
                scene.at(x + u, y + v, c) =
                    uint8_t(std::clamp(int(part.px[size_t(v) * part.width + u] * gain) + offset, 0, 255));
}

inline void writePnm(const std::string& path, const Picture& p, const std::string& comment = "")
{
    std::ofstream(path, std::ios::binary) << (p.channels == 1 ? "P5\n" : "P6\n") << comment << p.width << " "
                                          << p.height << "\n255\n" << std::string(p.px.begin(), p.px.end());
}

// format: a PNG_FORMAT_* code matching p.channels (GA: 2 channels); with
// PNG_FORMAT_FLAG_COLORMAP, p holds indices into a grey ramp.
inline void writePng(const std::string& path, const Picture& p, uint32_t format)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION, image.width = uint32_t(p.width), image.height = uint32_t(p.height);
    image.format = format, image.colormap_entries = format & PNG_FORMAT_FLAG_COLORMAP ? 256 : 0;
    std::vector<uint8_t> ramp(256 * 3);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = uint8_t(i / 3);
    const int32_t stride = p.width * p.channels / (format & PNG_FORMAT_FLAG_LINEAR ? 2 : 1);
    ASSERT_NE(png_image_write_to_file(&image, path.c_str(), 0, p.px.data(), stride, ramp.data()), 0) << image.message;
}

inline void writeJpeg(const std::string& path, Picture p, bool progressive = false)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(p.width), cinfo.image_height = JDIMENSION(p.height);
    cinfo.input_components = p.channels, cinfo.in_color_space = p.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo), jpeg_set_quality(&cinfo, 95, TRUE);
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    for (JSAMPROW row; cinfo.next_scanline < cinfo.image_height;)
        row = p.row(int32_t(cinfo.next_scanline)), jpeg_write_scanlines(&cinfo, &row, 1);
    jpeg_finish_compress(&cinfo), jpeg_destroy_compress(&cinfo), std::fclose(file);
}

// An Adam7-interlaced grey or RGB PNG, through libpng's full interface
// (the simplified one writes no interlaced files).
inline void writeInterlacedPng(const std::string& path, Picture p)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, uint32_t(p.width), uint32_t(p.height), 8,
                 p.channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_bytep> rows;
    for (int32_t y = 0; y < p.height; ++y) rows.push_back(p.row(y));
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr), png_destroy_write_struct(&png, &info), std::fclose(file);
}

// A PNG as grey or RGB, as the file has it; empty when unreadable.
inline Picture readPng(const std::string& path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    const bool colour = (image.format & PNG_FORMAT_FLAG_COLOR) != 0;
    image.format = colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    Picture p(int32_t(image.width), int32_t(image.height), colour ? 3 : 1);
    return png_image_finish_read(&image, nullptr, p.px.data(), 0, nullptr) ? p : Picture();
}

}  // namespace clitest

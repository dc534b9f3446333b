// Image files. libpng and libjpeg report errors by longjmp, so each decoder
// is a C-style function whose frame holds only plain data, malloc'ed memory
// and the libraries' own records: it decodes straight into the pixels of an
// Image that lives in its C++ caller's frame, which turns a failure into a
// ToolError. Neither library prints: their messages are recorded instead.
#include "image_io.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include "tool_error.hpp"

namespace qtool {
namespace {

// Larger images would not fit the library's 32-bit sizes anyway.
constexpr uint64_t kMaxSamples = uint64_t(1) << 30;
constexpr size_t kMessageSize = 256;

bool sizeAllowed(uint64_t width, uint64_t height, uint64_t channels)
{
    return width > 0 && height > 0 && width <= INT32_MAX && height <= INT32_MAX &&
           width * height * channels <= kMaxSamples;
}

// Gives `image` its size and room for its pixels; false when memory runs
// out. No exception may leave it: the decoders that call it hold records
// and malloc'ed memory that only their own cleanup releases.
bool sizeImage(Image* image, uint32_t width, uint32_t height, int channels) noexcept
{
    try {
        image->pixels.resize(size_t(width) * height * channels);
    } catch (const std::bad_alloc&) {
        return false;
    }
    image->width = static_cast<int32_t>(width);
    image->height = static_cast<int32_t>(height);
    image->channels = channels;
    return true;
}

// ---- PNG ---------------------------------------------------------------------

struct PngErrorState {
    jmp_buf jump;
    char message[kMessageSize];
};

void pngFail(png_structp png, png_const_charp message)
{
    PngErrorState* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    std::longjmp(state->jump, 1);
}

void pngIgnoreWarning(png_structp, png_const_charp) {}

// 0 on success with *out filled; 1 with `message` (kMessageSize bytes) set.
int decodePng(FILE* file, Image* out, char* message)
{
    PngErrorState state;
    state.message[0] = '\0';
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, pngFail, pngIgnoreWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::snprintf(message, kMessageSize, "out of memory");
        return 1;
    }
    png_bytep* volatile rows = nullptr;
    if (setjmp(state.jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::free(rows);
        if (std::feof(file))
            std::snprintf(message, kMessageSize, "truncated PNG file");
        else
            std::snprintf(message, kMessageSize, "damaged PNG file: %s", state.message);
        return 1;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, nullptr, nullptr, nullptr);
    const char* refusal = nullptr;
    if (depth > 8) refusal = "16-bit PNG is not supported (8 bits per sample only)";
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if ((colourType & PNG_COLOR_MASK_ALPHA) != 0) png_set_strip_alpha(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int channels = png_get_channels(png, info);
    if (refusal == nullptr && (channels != 1 && channels != 3)) refusal = "unsupported PNG colour type";
    if (refusal == nullptr && !sizeAllowed(width, height, 3)) refusal = "image too large";
    if (refusal == nullptr && png_get_rowbytes(png, info) != size_t(width) * channels)
        refusal = "unsupported PNG layout";
    if (refusal == nullptr) {
        rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height));
        if (rows == nullptr || !sizeImage(out, width, height, channels)) refusal = "out of memory";
    }
    if (refusal != nullptr) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::free(rows);
        std::snprintf(message, kMessageSize, "%s", refusal);
        return 1;
    }
    unsigned char* const pixels = out->pixels.data();
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels + size_t(y) * width * channels;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(rows);
    return 0;
}

// ---- JPEG --------------------------------------------------------------------

struct JpegErrorState {
    jpeg_error_mgr manager;  // first, so the library's error pointer is also ours
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegFail(j_common_ptr cinfo)
{
    JpegErrorState* state = reinterpret_cast<JpegErrorState*>(cinfo->err);
    cinfo->err->format_message(cinfo, state->message);
    std::longjmp(state->jump, 1);
}

// A corrupt-data warning would otherwise let a damaged file decode into
// grey filler: it fails like an error.
void jpegMessage(j_common_ptr cinfo, int level)
{
    if (level < 0) jpegFail(cinfo);
}

void jpegSilence(j_common_ptr) {}

// As decodePng.
int decodeJpeg(FILE* file, Image* out, char* message)
{
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegErrorState state;
    state.message[0] = '\0';
    cinfo.err = jpeg_std_error(&state.manager);
    state.manager.error_exit = jpegFail;
    state.manager.emit_message = jpegMessage;
    state.manager.output_message = jpegSilence;
    if (setjmp(state.jump)) {
        const bool truncated = state.manager.msg_code == JWRN_JPEG_EOF;
        jpeg_destroy_decompress(&cinfo);
        if (truncated)
            std::snprintf(message, kMessageSize, "truncated JPEG file");
        else
            std::snprintf(message, kMessageSize, "damaged JPEG file: %s", state.message);
        return 1;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    const char* refusal = nullptr;
    if (cinfo.jpeg_color_space == JCS_GRAYSCALE)
        cinfo.out_color_space = JCS_GRAYSCALE;
    else if (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB)
        cinfo.out_color_space = JCS_RGB;
    else
        refusal = "CMYK JPEG is not supported (grey or colour only)";
    if (refusal == nullptr) {
        jpeg_start_decompress(&cinfo);
        if (!sizeAllowed(cinfo.output_width, cinfo.output_height, 3)) refusal = "image too large";
    }
    const size_t stride = size_t(cinfo.output_width) * cinfo.output_components;
    if (refusal == nullptr &&
        !sizeImage(out, cinfo.output_width, cinfo.output_height, cinfo.output_components))
        refusal = "out of memory";
    if (refusal != nullptr) {
        jpeg_destroy_decompress(&cinfo);
        std::snprintf(message, kMessageSize, "%s", refusal);
        return 1;
    }
    unsigned char* const pixels = out->pixels.data();
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return 0;
}

// ---- PGM / PPM ---------------------------------------------------------------

// The next header number, past white space and # comments; -1 if none.
int64_t pnmNumber(FILE* file)
{
    int c = std::fgetc(file);
    while (c != EOF && (std::isspace(c) || c == '#')) {
        if (c == '#')
            while (c != EOF && c != '\n') c = std::fgetc(file);
        c = std::fgetc(file);
    }
    if (c == EOF || !std::isdigit(c)) return -1;
    int64_t value = 0;
    while (c != EOF && std::isdigit(c)) {
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return -1;
        c = std::fgetc(file);
    }
    // Exactly one white-space character ends the header's last number.
    if (c != EOF && !std::isspace(c)) return -1;
    return value;
}

Image readPnm(FILE* file, const std::string& path, int channels)
{
    const char* kind = channels == 1 ? "PGM" : "PPM";
    const int64_t width = pnmNumber(file), height = pnmNumber(file), maxval = pnmNumber(file);
    if (width < 1 || height < 1 || maxval < 1 || maxval > 65535)
        throw ToolError(path + ": damaged " + kind + " header");
    if (maxval > 255) throw ToolError(path + ": 16-bit " + kind + " is not supported (8 bits per sample only)");
    if (!sizeAllowed(width, height, 3)) throw ToolError(path + ": image too large");
    Image image(static_cast<int32_t>(width), static_cast<int32_t>(height), channels);
    if (std::fread(image.pixels.data(), 1, image.pixels.size(), file) != image.pixels.size())
        throw ToolError(path + ": truncated " + kind + " file");
    // Samples below a smaller maxval are stretched to the full 8 bits.
    if (maxval != 255)
        for (uint8_t& v : image.pixels)
            v = static_cast<uint8_t>((std::min<int64_t>(v, maxval) * 255 + maxval / 2) / maxval);
    return image;
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

// A file created beside its target and renamed onto it by commit(); removed
// by the destructor otherwise.
class TempFile {
public:
    explicit TempFile(const std::string& target) : target_(target)
    {
        const std::filesystem::path p(target);
        const std::filesystem::path dir = p.has_parent_path() ? p.parent_path() : ".";
        temp_ = (dir / ("." + p.filename().string() + ".XXXXXX")).string();
        const int fd = mkstemp(temp_.data());
        if (fd < 0) throw ToolError(target + ": cannot create: " + std::strerror(errno));
        // mkstemp creates the file private; an image is as readable as any file.
        (void)fchmod(fd, 0644);
        file_ = fdopen(fd, "wb");
        if (file_ == nullptr) {
            ::close(fd);
            std::remove(temp_.c_str());
            throw ToolError(target + ": cannot write: " + std::strerror(errno));
        }
    }
    ~TempFile()
    {
        if (file_ != nullptr) std::fclose(file_);
        if (!committed_) std::remove(temp_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    FILE* file() const { return file_; }
    void commit()
    {
        const int closed = std::fclose(file_);
        file_ = nullptr;
        if (closed != 0) throw ToolError(target_ + ": cannot write: " + std::strerror(errno));
        if (std::rename(temp_.c_str(), target_.c_str()) != 0)
            throw ToolError(target_ + ": cannot write: " + std::strerror(errno));
        committed_ = true;
    }

private:
    std::string target_, temp_;
    FILE* file_ = nullptr;
    bool committed_ = false;
};

}  // namespace

Image readImage(const std::string& path)
{
    errno = 0;
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) throw ToolError(path + ": cannot open: " + std::strerror(errno));
    unsigned char magic[8] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, file.get());
    if (std::ferror(file.get())) throw ToolError(path + ": cannot read: " + std::strerror(errno));
    if (got == 0) throw ToolError(path + ": empty file");
    std::rewind(file.get());

    Image image;
    char message[kMessageSize] = "";
    int failed = -1;
    if (got == 8 && png_sig_cmp(magic, 0, 8) == 0)
        failed = decodePng(file.get(), &image, message);
    else if (got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF)
        failed = decodeJpeg(file.get(), &image, message);
    else if (got >= 2 && magic[0] == 'P' && (magic[1] == '5' || magic[1] == '6')) {
        std::fseek(file.get(), 2, SEEK_SET);
        return readPnm(file.get(), path, magic[1] == '5' ? 1 : 3);
    }
    if (failed < 0) throw ToolError(path + ": not a PNG, JPEG, PGM or PPM image");
    if (failed != 0) throw ToolError(path + ": " + message);
    return image;
}

std::vector<uint8_t> lumaPlane(const Image& image)
{
    if (image.channels == 1) return image.pixels;
    std::vector<uint8_t> grey(size_t(image.width) * image.height);
    for (size_t i = 0; i < grey.size(); ++i) {
        const uint8_t* rgb = &image.pixels[3 * i];
        grey[i] = static_cast<uint8_t>((299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2] + 500) / 1000);
    }
    return grey;
}

Image toGrey(Image image)
{
    if (image.channels == 1) return image;
    Image grey;
    grey.width = image.width;
    grey.height = image.height;
    grey.channels = 1;
    grey.pixels = lumaPlane(image);
    return grey;
}

Image toRgb(Image image)
{
    if (image.channels == 3) return image;
    Image rgb(image.width, image.height, 3);
    for (size_t i = 0; i < image.pixels.size(); ++i)
        rgb.pixels[3 * i] = rgb.pixels[3 * i + 1] = rgb.pixels[3 * i + 2] = image.pixels[i];
    return rgb;
}

std::vector<uint8_t> channelPlane(const Image& image, int c)
{
    if (image.channels == 1) return image.pixels;
    std::vector<uint8_t> plane(size_t(image.width) * image.height);
    for (size_t i = 0; i < plane.size(); ++i) plane[i] = image.pixels[i * image.channels + c];
    return plane;
}

void writePng(const std::string& path, const Image& image)
{
    TempFile temp(path);
    png_image info;
    std::memset(&info, 0, sizeof info);
    info.version = PNG_IMAGE_VERSION;
    info.width = static_cast<png_uint_32>(image.width);
    info.height = static_cast<png_uint_32>(image.height);
    info.format = image.channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    const int written = png_image_write_to_stdio(&info, temp.file(), 0, image.pixels.data(),
                                                 image.width * image.channels, nullptr);
    const std::string message = info.message;
    png_image_free(&info);
    if (written == 0) throw ToolError(path + ": cannot write PNG: " + message);
    temp.commit();
}

}  // namespace qtool

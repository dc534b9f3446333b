// PNG through libpng's row interface, so that rows are stored as they are
// decoded. An interlaced image comes as seven reduced images (passes); the
// pixels of each pass row are put in their places, so the image grows with
// its first pass instead of being allocated whole before any data.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <png.h>

#include "decoders.hpp"

namespace qtool {
namespace {

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

void pngRead(png_structp png, png_bytep data, size_t length)
{
    Input* input = static_cast<Input*>(png_get_io_ptr(png));
    if (input->read(data, length) != length) png_error(png, "unexpected end of file");
}

// Chooses the transformations to 8-bit grey or RGB; a refusal, or nullptr.
const char* setPngTransforms(png_structp png, png_infop info, const DecodeLimits& limits, char* message)
{
    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, nullptr, nullptr, nullptr);
    if (depth > 8) return "16-bit PNG is not supported (8 bits per sample only)";
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if ((colourType & PNG_COLOR_MASK_ALPHA) != 0) png_set_strip_alpha(png);
    png_read_update_info(png, info);
    const int channels = png_get_channels(png, info);
    if (channels != 1 && channels != 3) return "unsupported PNG colour type";
    if (!sizeAllowed(width, height, limits, message)) return message;
    if (png_get_rowbytes(png, info) != size_t(width) * channels) return "unsupported PNG layout";
    return nullptr;
}

// Reads every row into `rows`; an interlaced image's pass rows go through
// `scratch` (a whole row's bytes). "out of memory" or nullptr.
const char* readPngRows(png_structp png, PixelRows& rows, uint32_t width, uint32_t height, int channels,
                        png_bytep scratch)
{
    const int passes = scratch != nullptr ? PNG_INTERLACE_ADAM7_PASSES : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const uint32_t passRows = scratch != nullptr ? PNG_PASS_ROWS(height, pass) : height;
        const uint32_t passColumns = scratch != nullptr ? PNG_PASS_COLS(width, pass) : width;
        if (passRows == 0 || passColumns == 0) continue;  // libpng skips empty passes too
        for (uint32_t r = 0; r < passRows; ++r) {
            const uint32_t y = scratch != nullptr ? PNG_ROW_FROM_PASS_ROW(r, pass) : r;
            uint8_t* row = rows.row(y);
            if (row == nullptr) return "out of memory";
            png_read_row(png, scratch != nullptr ? scratch : row, nullptr);
            for (uint32_t c = 0; scratch != nullptr && c < passColumns; ++c)
                std::memcpy(row + size_t(PNG_COL_FROM_PASS_COL(c, pass)) * channels,
                            scratch + size_t(c) * channels, size_t(channels));
        }
    }
    // Every row is the image's, whichever rows the passes reached.
    return rows.row(height - 1) != nullptr ? nullptr : "out of memory";
}

}  // namespace

bool decodePng(Input& input, const DecodeLimits& limits, Image* out, char* message) noexcept
{
    PngErrorState state;
    state.message[0] = '\0';
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, pngFail, pngIgnoreWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::snprintf(message, kMessageSize, "out of memory");
        return false;
    }
    png_bytep volatile scratch = nullptr;
    if (setjmp(state.jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::free(scratch);
        if (input.ended() || input.failed())
            shortReadMessage(input, "PNG", message);
        else
            std::snprintf(message, kMessageSize, "damaged PNG file: %s", state.message);
        return false;
    }
    png_set_read_fn(png, &input, pngRead);
    // Ancillary chunks (text, colour profiles, ...) change nothing the tool
    // reads, and libpng would allocate the length each claims before its
    // data: they are skipped unread, and no chunk is buffered beyond 1 MiB.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_chunk_malloc_max(png, size_t(1) << 20);
    png_read_info(png, info);
    const char* refusal = setPngTransforms(png, info, limits, message);
    const uint32_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    const int channels = png_get_channels(png, info);
    PixelRows rows;
    if (refusal == nullptr && png_get_interlace_type(png, info) != PNG_INTERLACE_NONE &&
        (scratch = static_cast<png_bytep>(std::malloc(png_get_rowbytes(png, info)))) == nullptr)
        refusal = "out of memory";
    if (refusal == nullptr && !rows.begin(out, width, height, channels, input.remaining(), kCompressedExpansion))
        refusal = "out of memory";
    if (refusal == nullptr) refusal = readPngRows(png, rows, width, height, channels, scratch);
    if (refusal == nullptr) png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(scratch);
    if (refusal != nullptr && refusal != message) std::snprintf(message, kMessageSize, "%s", refusal);
    return refusal == nullptr;
}

}  // namespace qtool

// JPEG through libjpeg, read from an Input by a source manager of our own.
// The size is checked after the header and before jpeg_start_decompress,
// which for a progressive (multi-scan) file allocates coefficient buffers
// for the whole image and decodes every scan into them.
#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include "decoders.hpp"

namespace qtool {
namespace {

// What a JPEG's bytes can carry. Huffman coding spends at least a bit on
// every block of a component in the scan that first codes it, which for
// the usual samplings is at least a byte per 64 blocks of the image.
// Arithmetic coding packs a picture of nearly one colour tighter, and where
// its data ends a decoder goes on with zeros, so that a few hundred bytes
// can claim gigabytes of pixels: such a file is refused like a damaged one.
// The first 2^16 blocks (4 megapixels of grey) come free.
constexpr uint64_t kBlocksPerByte = 64;
constexpr uint64_t kFreeBlocks = uint64_t(1) << 16;
// libjpeg's working memory beside the coefficient buffers (row buffers,
// tables), generous for the widest image allowed.
constexpr uint64_t kJpegWorkingMemory = uint64_t(64) << 20;

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

struct JpegSource {
    jpeg_source_mgr manager;  // first, so the library's source pointer is also ours
    Input* input;
    JOCTET buffer[4096];
};

void jpegInitSource(j_decompress_ptr) {}
void jpegTermSource(j_decompress_ptr) {}

// At the end of the input a decoder would go on with an end-of-image
// marker; the warning it gives first fails the decoding instead.
boolean jpegFillInput(j_decompress_ptr cinfo)
{
    JpegSource* source = reinterpret_cast<JpegSource*>(cinfo->src);
    size_t got = source->input->read(source->buffer, sizeof source->buffer);
    if (got == 0) {
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        got = 2;
    }
    source->manager.next_input_byte = source->buffer;
    source->manager.bytes_in_buffer = got;
    return TRUE;
}

void jpegSkipInput(j_decompress_ptr cinfo, long count)
{
    jpeg_source_mgr* source = cinfo->src;
    while (count > static_cast<long>(source->bytes_in_buffer)) {
        count -= static_cast<long>(source->bytes_in_buffer);
        (void)source->fill_input_buffer(cinfo);
    }
    if (count > 0) {
        source->next_input_byte += count;
        source->bytes_in_buffer -= static_cast<size_t>(count);
    }
}

void useInput(jpeg_decompress_struct& cinfo, JpegSource& source, Input& input)
{
    std::memset(&source.manager, 0, sizeof source.manager);
    source.input = &input;
    source.manager.init_source = jpegInitSource;
    source.manager.fill_input_buffer = jpegFillInput;
    source.manager.skip_input_data = jpegSkipInput;
    source.manager.resync_to_restart = jpeg_resync_to_restart;
    source.manager.term_source = jpegTermSource;
    cinfo.src = &source.manager;
}

// After the header: the output format and the limits; a refusal, or
// nullptr. Limits libjpeg's memory to what the image's blocks need.
const char* prepareJpeg(jpeg_decompress_struct& cinfo, Input& input, const DecodeLimits& limits, char* message)
{
    if (cinfo.jpeg_color_space == JCS_GRAYSCALE)
        cinfo.out_color_space = JCS_GRAYSCALE;
    else if (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB)
        cinfo.out_color_space = JCS_RGB;
    else
        return "CMYK JPEG is not supported (grey or colour only)";
    jpeg_calc_output_dimensions(&cinfo);
    if (!sizeAllowed(cinfo.output_width, cinfo.output_height, limits, message)) return message;
    uint64_t blocks = 0;
    for (int c = 0; c < cinfo.num_components; ++c)
        blocks += uint64_t(cinfo.comp_info[c].width_in_blocks) * cinfo.comp_info[c].height_in_blocks;
    const uint64_t needed = blocks > kFreeBlocks ? (blocks - kFreeBlocks) / kBlocksPerByte : 0;
    const uint64_t held = cinfo.src->bytes_in_buffer;
    if (needed > held && !input.hasAtLeast(needed - held)) {
        std::snprintf(message, kMessageSize, "damaged JPEG file: too few bytes for %ux%u pixels",
                      unsigned(cinfo.output_width), unsigned(cinfo.output_height));
        return message;
    }
    // Coefficients of 2 bytes, 64 to a block, for a multi-scan file.
    cinfo.mem->max_memory_to_use = long(std::min<uint64_t>(blocks * 128 + kJpegWorkingMemory, LONG_MAX));
    return nullptr;
}

}  // namespace

bool decodeJpeg(Input& input, const DecodeLimits& limits, Image* out, char* message) noexcept
{
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegErrorState state;
    state.message[0] = '\0';
    cinfo.err = jpeg_std_error(&state.manager);
    state.manager.error_exit = jpegFail;
    state.manager.emit_message = jpegMessage;
    state.manager.output_message = jpegSilence;
    JpegSource source;
    if (setjmp(state.jump)) {
        const bool truncated = state.manager.msg_code == JWRN_JPEG_EOF;
        jpeg_destroy_decompress(&cinfo);
        if (truncated || input.failed())
            shortReadMessage(input, "JPEG", message);
        else
            std::snprintf(message, kMessageSize, "damaged JPEG file: %s", state.message);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    useInput(cinfo, source, input);
    jpeg_read_header(&cinfo, TRUE);
    const char* refusal = prepareJpeg(cinfo, input, limits, message);
    PixelRows rows;
    if (refusal == nullptr) {
        jpeg_start_decompress(&cinfo);
        if (!rows.begin(out, cinfo.output_width, cinfo.output_height, cinfo.output_components, input.remaining(),
                        kCompressedExpansion))
            refusal = "out of memory";
    }
    while (refusal == nullptr && cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = rows.row(cinfo.output_scanline);
        if (row == nullptr)
            refusal = "out of memory";
        else
            jpeg_read_scanlines(&cinfo, &row, 1);
    }
    if (refusal == nullptr) jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    if (refusal != nullptr && refusal != message) std::snprintf(message, kMessageSize, "%s", refusal);
    return refusal == nullptr;
}

}  // namespace qtool

// Reading JPEG texture images through libjpeg into blue, green, red or grey rows, top row first.
// jpeglib.h needs FILE and size_t declared before it.
#include <cstddef>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstring>
#include <new>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "image/image_readers.h"

namespace quorva {

namespace {

// What libjpeg may allocate for itself: a progressive or multi-scan picture keeps all its coefficients
// (two bytes a sample) while it is read. A picture needing more fails to load.
constexpr long DecoderMemory = static_cast<long>(MaxImagePixels * 4);

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    void (*defaultMessage)(j_common_ptr, int);
};

void jumpOnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

// libjpeg completes a scan whose data ends early with grey, after a warning, at the cost of decoding
// every pixel the header claims: a file of a few hundred bytes may claim millions. The first such
// warning fails the load. Other warnings (such as stray bytes before a marker) keep libjpeg's report.
void onMessage(j_common_ptr info, int level) {
    if (level < 0 && (info->err->msg_code == JWRN_JPEG_EOF || info->err->msg_code == JWRN_HIT_MARKER))
        jumpOnError(info);
    reinterpret_cast<JpegErrors*>(info->err)->defaultMessage(info, level);
}

// libjpeg reports errors by a long jump back to the setjmp below; these functions keep no C++ object
// alive across a libjpeg call, so the jump skips no destructor.
bool startJpeg(jpeg_decompress_struct* info, std::FILE* file) {
    if (setjmp(reinterpret_cast<JpegErrors*>(info->err)->jump)) return false;
    jpeg_create_decompress(info);
    info->mem->max_memory_to_use = DecoderMemory;
    jpeg_stdio_src(info, file);
    jpeg_read_header(info, TRUE);
    // Four-component (CMYK) pictures cannot be turned into the record's colour layout.
    if (info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK) return false;
    // Before the decoder sizes anything by the claimed picture.
    if (tooManyPixels(info->image_width, info->image_height)) return false;
    jpeg_start_decompress(info);
    return info->output_components == 1 || info->output_components == 3;
}

void addRow(std::vector<std::vector<std::uint8_t>>& rows, std::size_t bytes) {
    try {
        rows.emplace_back(bytes);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate JPEG image memory");
    }
}

// Each row of the record is allocated once it is decoded, so a file whose data ends early costs only
// the rows it holds.
bool readJpegRows(jpeg_decompress_struct* info, std::vector<std::vector<std::uint8_t>>* rows) {
    if (setjmp(reinterpret_cast<JpegErrors*>(info->err)->jump)) return false;
    const JDIMENSION width = info->output_width;
    const int components = info->output_components;
    JSAMPARRAY line =
        (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, width * components, 1);
    while (info->output_scanline < info->output_height) {
        if (jpeg_read_scanlines(info, line, 1) != 1) return false;
        addRow(*rows, static_cast<std::size_t>(width) * components);
        std::uint8_t* out = rows->back().data();
        if (components == 1) {
            std::memcpy(out, line[0], width);
        } else {
            for (JDIMENSION x = 0; x < width; ++x) {
                out[3 * x] = line[0][3 * x + 2];
                out[3 * x + 1] = line[0][3 * x + 1];
                out[3 * x + 2] = line[0][3 * x];
            }
        }
    }
    jpeg_finish_decompress(info);
    return true;
}

struct JpegReader {
    jpeg_decompress_struct info;
    JpegErrors errors;
    JpegReader() {
        std::memset(&info, 0, sizeof info);
        info.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = jumpOnError;
        errors.defaultMessage = errors.manager.emit_message;
        errors.manager.emit_message = onMessage;
    }
    ~JpegReader() { jpeg_destroy_decompress(&info); }
};

}  // namespace

bool readJpegImage(std::FILE* file, ImageFile& image) {
    JpegReader reader;
    if (!startJpeg(&reader.info, file)) return false;
    const int components = reader.info.output_components;
    image.width = reader.info.output_width;
    image.height = reader.info.output_height;
    image.bitsPerPixel = 8 * components;
    image.imageType = components == 1 ? 3 : 2;
    image.orientation = 0x20;
    image.compressed = 0;
    image.rows.clear();
    try {
        image.rows.reserve(image.height);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate JPEG image memory");
    }
    if (readJpegRows(&reader.info, &image.rows)) return true;
    image.rows.clear();
    return false;
}

}  // namespace quorva

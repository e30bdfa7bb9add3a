// Reading JPEG texture images through libjpeg into blue, green, red or grey rows, top row first.
// jpeglib.h needs FILE and size_t declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "image/image_readers.h"

namespace quorva {

namespace {

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void jumpOnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

// libjpeg reports errors by a long jump back to the setjmp below; these functions keep only plain
// values in their frames so the jump skips no destructor.
bool startJpeg(jpeg_decompress_struct* info, std::FILE* file) {
    if (setjmp(reinterpret_cast<JpegErrors*>(info->err)->jump)) return false;
    jpeg_create_decompress(info);
    jpeg_stdio_src(info, file);
    jpeg_read_header(info, TRUE);
    // Four-component (CMYK) pictures cannot be turned into the record's colour layout.
    if (info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK) return false;
    jpeg_start_decompress(info);
    return info->output_components == 1 || info->output_components == 3;
}

bool readJpegRows(jpeg_decompress_struct* info, std::uint8_t** rows) {
    if (setjmp(reinterpret_cast<JpegErrors*>(info->err)->jump)) return false;
    const JDIMENSION width = info->output_width;
    const int components = info->output_components;
    JSAMPARRAY line =
        (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, width * components, 1);
    while (info->output_scanline < info->output_height) {
        const JDIMENSION y = info->output_scanline;
        if (jpeg_read_scanlines(info, line, 1) != 1) return false;
        std::uint8_t* out = rows[y];
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
    }
    ~JpegReader() { jpeg_destroy_decompress(&info); }
};

}  // namespace

bool readJpegImage(std::FILE* file, ImageFile& image) {
    const long fileBytes = bytesRemaining(file);
    JpegReader reader;
    if (!startJpeg(&reader.info, file)) return false;
    const std::uint64_t width = reader.info.output_width;
    const std::uint64_t height = reader.info.output_height;
    const int components = reader.info.output_components;
    const std::uint64_t bytes = width * height * components;
    // Entropy coding needs at least a bit per block and component: far larger claims are corrupt.
    if (fileBytes >= 0 && bytes > static_cast<std::uint64_t>(fileBytes) * 4096 + (std::uint64_t{64} << 20))
        return false;
    if (bytes > MaxImageBytes) fatal("Failed to allocate JPEG image memory");

    image.width = static_cast<unsigned>(width);
    image.height = static_cast<unsigned>(height);
    image.bitsPerPixel = 8 * components;
    image.imageType = components == 1 ? 3 : 2;
    image.orientation = 0x20;
    image.compressed = 0;
    allocateRows(image, width * components, "Failed to allocate JPEG image memory");
    std::vector<std::uint8_t*> rows(height);
    for (std::uint64_t y = 0; y < height; ++y) rows[y] = image.rows[y].data();
    return readJpegRows(&reader.info, rows.data());
}

}  // namespace quorva

// Reading TIFF texture images through libtiff's RGBA raster interface.
#include <tiffio.h>

#include <cstdarg>
#include <memory>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "image/image_readers.h"

namespace quorva {

namespace {

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

struct RasterReader {
    TIFFRGBAImage raster{};
    bool begun = false;
    ~RasterReader() {
        if (begun) TIFFRGBAImageEnd(&raster);
    }
};

// Counts the errors libtiff reports while this file is read (undecodable strips or tiles, unknown
// compression): any of them makes the load fail. Warnings keep libtiff's own report.
int countError(TIFF*, void* userData, const char*, const char*, va_list) {
    ++*static_cast<int*>(userData);
    return 1;
}

struct OptionsCloser {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

}  // namespace

bool readTiffImage(const std::string& path, ImageFile& image) {
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (!probe) return false;
    const long fileBytes = bytesRemaining(probe);
    std::fclose(probe);

    int errors = 0;
    std::unique_ptr<TIFFOpenOptions, OptionsCloser> options(TIFFOpenOptionsAlloc());
    if (!options) fatal("Failed to allocate image size");
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), countError, &errors);
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpenExt(path.c_str(), "r", options.get()));
    if (!tiff) return false;
    char problem[1024];
    RasterReader reader;
    if (!TIFFRGBAImageOK(tiff.get(), problem) || !TIFFRGBAImageBegin(&reader.raster, tiff.get(), 1, problem))
        return false;
    reader.begun = true;
    const std::uint64_t width = reader.raster.width;
    const std::uint64_t height = reader.raster.height;
    if (width == 0 || height == 0) return false;
    const std::uint64_t rasterBytes = width * height * 4;
    if (fileBytes >= 0 &&
        rasterBytes > static_cast<std::uint64_t>(fileBytes) * 4096 + (std::uint64_t{64} << 20))
        return false;
    if (tooManyPixels(width, height)) return false;

    // The layout follows the samples: grey pictures keep one byte, colour three, and pictures with
    // alpha (or four or more samples) four.
    const int samples = reader.raster.samplesperpixel;
    const bool grey = samples == 1 && (reader.raster.photometric == PHOTOMETRIC_MINISBLACK ||
                                       reader.raster.photometric == PHOTOMETRIC_MINISWHITE);
    const bool alpha = samples >= 4 || reader.raster.alpha != 0;
    const int bytes = grey ? 1 : (alpha ? 4 : 3);

    std::vector<std::uint32_t> pixels;
    try {
        pixels.resize(width * height);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate image size");
    }
    // A strip or tile libtiff cannot decode would leave black pixels behind: the load fails instead.
    if (!TIFFRGBAImageGet(&reader.raster, pixels.data(), static_cast<std::uint32_t>(width),
                          static_cast<std::uint32_t>(height)) ||
        errors != 0)
        return false;

    image.width = static_cast<unsigned>(width);
    image.height = static_cast<unsigned>(height);
    image.bitsPerPixel = 8 * bytes;
    image.imageType = grey ? 3 : 2;
    image.orientation = 0;  // the raster holds the bottom row first
    image.compressed = 0;
    allocateRows(image, width * bytes, "Failed to allocate image size");
    for (std::uint64_t y = 0; y < height; ++y) {
        std::uint8_t* out = image.rows[y].data();
        const std::uint32_t* in = pixels.data() + y * width;
        for (std::uint64_t x = 0; x < width; ++x) {
            const std::uint32_t p = in[x];
            if (grey) {
                out[x] = static_cast<std::uint8_t>(TIFFGetR(p));
                continue;
            }
            std::uint8_t* o = out + x * bytes;
            o[0] = static_cast<std::uint8_t>(TIFFGetB(p));
            o[1] = static_cast<std::uint8_t>(TIFFGetG(p));
            o[2] = static_cast<std::uint8_t>(TIFFGetR(p));
            if (alpha) o[3] = static_cast<std::uint8_t>(TIFFGetA(p));
        }
    }
    return true;
}

}  // namespace quorva

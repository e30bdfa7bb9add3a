// Fuzz target for the texture readers: the first byte picks the reader (Targa, BMP, PNG, JPEG, TIFF),
// the rest is the file. A decoded image is also looked up at a few points so bad headers cannot hide
// behind the loader. The library readers must turn every library error into a failed load.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "diagnostics/diagnostics.h"
#include "fuzz/fuzz_support.h"
#include "image/image_readers.h"

using namespace quorva;

namespace {

// libtiff opens files by name: the data goes to an anonymous in-memory file named through /proc.
bool readTiffFromMemory(const std::uint8_t* data, std::size_t size, ImageFile& image) {
    const int fd = memfd_create("fuzz.tif", 0);
    if (fd < 0) return false;
    bool loaded = false;
    if (write(fd, data, size) == static_cast<ssize_t>(size))
        loaded = readTiffImage("/proc/self/fd/" + std::to_string(fd), image);
    close(fd);
    return loaded;
}

bool readImage(int format, const std::uint8_t* data, std::size_t size, ImageFile& image) {
    if (format == 4) return readTiffFromMemory(data, size, image);
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!file) return false;
    bool loaded = false;
    try {
        switch (format) {
            case 0:
                readTargaImage(file, image);
                loaded = true;
                break;
            case 1:
                loaded = readBmpImage(file, image);
                break;
            case 2:
                loaded = readPngImage(file, image);
                break;
            default:
                loaded = readJpegImage(file, image);
                break;
        }
    } catch (...) {
        std::fclose(file);
        throw;
    }
    std::fclose(file);
    return loaded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    silenceDiagnostics();
    ImageFile image;
    image.name = "fuzz";
    try {
        if (readImage(data[0] % 5, data + 1, size - 1, image)) {
            for (int mode = 0; mode < 3; ++mode) {
                imageColor(image, mode, true, 0.3, -0.7);
                imageIndex(image, mode, false, 0.99, 0.0);
                imageHeight(image, mode, true, 5.5, 0.5);
            }
            imageHeightAt(image, 0, 0);
        }
    } catch (const FatalError&) {
        // Bad files end the run with a message; that is the expected outcome here.
    }
    return 0;
}

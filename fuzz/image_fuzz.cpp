// Fuzz target for the Targa and BMP texture readers: the first byte picks the reader, the rest is the
// file. A decoded image is also looked up at a few points so bad headers cannot hide behind the loader.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "diagnostics/diagnostics.h"
#include "image/image_readers.h"

using namespace quorva;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const bool quiet = [] {
        diagnostics().console = [](const std::string&) {};
        return true;
    }();
    (void)quiet;
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data + 1), size - 1, "rb");
    if (!file) return 0;
    ImageFile image;
    image.name = "fuzz";
    try {
        const bool loaded = (data[0] & 1) ? readBmpImage(file, image) : (readTargaImage(file, image), true);
        if (loaded) {
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
    std::fclose(file);
    return 0;
}

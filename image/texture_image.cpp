// Loading texture images: the search-path lookup and the choice of reader by the file name.
#include "image/texture_image.h"

#include <new>

#include "diagnostics/diagnostics.h"
#include "image/image_readers.h"
#include "scene/search_path.h"

namespace quorva {

namespace {

enum class ImageFormat { Jpeg, Png, Bmp, Tiff, Targa, Unknown };

// The extension may appear anywhere in the name, and earlier formats in this list win: "wall.png.tga"
// is read as PNG.
ImageFormat formatOf(const std::string& name) {
    const auto has = [&](const char* lower, const char* upper) {
        return name.find(lower) != std::string::npos || name.find(upper) != std::string::npos;
    };
    if (has(".jpg", ".JPG")) return ImageFormat::Jpeg;
    if (has(".png", ".PNG")) return ImageFormat::Png;
    if (has(".bmp", ".BMP")) return ImageFormat::Bmp;
    if (has(".tif", ".TIF")) return ImageFormat::Tiff;
    if (has(".tga", ".TGA")) return ImageFormat::Targa;
    return ImageFormat::Unknown;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

long bytesRemaining(std::FILE* file) {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long end = std::ftell(file);
    if (std::fseek(file, here, SEEK_SET) != 0 || end < here) return -1;
    return end - here;
}

void allocateRows(ImageFile& image, std::size_t rowBytes, const char* failure) {
    try {
        image.rows.assign(image.height, std::vector<std::uint8_t>(rowBytes, 0));
    } catch (const std::bad_alloc&) {
        image.rows.clear();
        fatal("%s", failure);
    }
}

std::shared_ptr<ImageFile> loadImageFile(const std::string& name) {
    std::shared_ptr<ImageFile> image;
    try {
        image = std::make_shared<ImageFile>();
        image->name = name;
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate ImageFile");
    }
    std::string path;
    std::unique_ptr<std::FILE, FileCloser> file(searchPath().open(name, "rb", &path));
    if (!file) fatal("Unable to open bitmap file \"%s\"", name.c_str());

    bool loaded = true;
    switch (formatOf(name)) {
        case ImageFormat::Jpeg:
            loaded = readJpegImage(file.get(), *image);
            break;
        case ImageFormat::Png:
            loaded = readPngImage(file.get(), *image);
            break;
        case ImageFormat::Bmp:
            loaded = readBmpImage(file.get(), *image);
            break;
        case ImageFormat::Tiff:
            file.reset();
            loaded = readTiffImage(path, *image);
            break;
        case ImageFormat::Targa:
            readTargaImage(file.get(), *image);
            break;
        case ImageFormat::Unknown:
            file.reset();
            fatal("Image file \"%s\" is not a supported format", name.c_str());
    }
    if (!loaded) return nullptr;
    return image;
}

}  // namespace quorva

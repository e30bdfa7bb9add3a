// Texture image readers: each format loaded from a small file made here (Targa and BMP by hand, PNG,
// JPEG and TIFF with their libraries), the name rule, and bad files failing cleanly.
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include "diagnostics/diagnostics.h"
#include "image/image_test_files.h"
#include "image/texture_image.h"

namespace quorva {
namespace {

using testing::Bytes;
using testing::le16;
using testing::le32;
using testing::targaHeader;
using testing::writeBytes;

std::string fatalText(const std::string& path) {
    try {
        loadImageFile(path);
    } catch (const FatalError& e) {
        return e.what();
    }
    return "(loaded)";
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class TextureFiles : public ::testing::Test {
  protected:
    std::shared_ptr<ImageFile> load(const std::string& name, const Bytes& bytes) {
        writeBytes(folder.file(name), bytes);
        return loadImageFile(folder.file(name));
    }
    testing::ScratchFolder folder;
};

// --- Targa -------------------------------------------------------------------------------------------

TEST_F(TextureFiles, TargaLayouts) {
    // Bottom-up true colour keeps its rows in file order.
    auto image = load("a.tga", cat(targaHeader(2, 2, 2, 24, 0), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->orientation, 0);
    EXPECT_EQ(image->bitsPerPixel, 24);
    EXPECT_EQ(image->rows[1], (Bytes{7, 8, 9, 10, 11, 12}));

    // Packets continue across rows: a run of four then two literals fill a 3 x 2 grey image.
    image = load("b.tga", cat(targaHeader(11, 3, 2, 8, 0x20), {0x83, 50, 0x01, 60, 70}));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->compressed, 1);
    EXPECT_EQ(image->orientation, 0x20);
    EXPECT_EQ(image->rows[0], (Bytes{50, 50, 50}));
    EXPECT_EQ(image->rows[1], (Bytes{50, 60, 70}));

    // A compressed colour-mapped image with 15-bit map entries (two bytes each).
    Bytes mapped = targaHeader(9, 2, 1, 8, 0x20, 2, 15);
    le16(mapped, 0x001F);  // blue
    le16(mapped, 0x7C00);  // red
    image = load("c.tga", cat(mapped, {0x01, 1, 0}));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->colorMapEntrySize, 2);
    EXPECT_EQ(image->rows[0], (Bytes{1, 0}));
    const ImageSample left = imageColor(*image, 0, false, 0.1, 0.5);
    EXPECT_EQ(left.colour.r, 248 / 255.0);
    EXPECT_EQ(left.colour.b, 0.0);
}

TEST_F(TextureFiles, BrokenTargaFilesAreFatal) {
    const auto fails = [&](const std::string& name, const Bytes& bytes) {
        writeBytes(folder.file(name), bytes);
        return fatalText(folder.file(name));
    };
    EXPECT_EQ(fails("short.tga", {0, 0, 2}), "Failed to read Targa header of " + folder.file("short.tga"));
    EXPECT_EQ(fails("type.tga", targaHeader(5, 1, 1, 24, 0)), "Unsupported Targa type (5)");
    Bytes id = targaHeader(2, 1, 1, 24, 0);
    id[0] = 40;
    EXPECT_EQ(fails("id.tga", cat(id, {1, 2})), "Failed to read Targa id field of " + folder.file("id.tga"));
    EXPECT_EQ(fails("map.tga", cat(targaHeader(1, 1, 1, 8, 0, 4, 24), {1, 2, 3})),
              "Premature EOF in image file color map");
    EXPECT_EQ(fails("cut.tga", cat(targaHeader(2, 2, 2, 24, 0), {1, 2, 3})), "Premature EOF in image file");
    EXPECT_EQ(fails("cutrle.tga", cat(targaHeader(10, 4, 4, 24, 0), {0x87, 1, 2, 3, 0x05, 1})),
              "Premature EOF in image file");
    // A header claiming 60000 x 60000 pixels with a few bytes behind it is refused before allocating.
    EXPECT_EQ(fails("huge.tga", cat(targaHeader(10, 60000, 60000, 32, 0), Bytes(64, 0xFF))),
              "Premature EOF in image file");
    // Enough run packets for 65535 x 4097 grey pixels, but that is beyond the bound of 2^28 pixels.
    EXPECT_EQ(fails("vast.tga", cat(targaHeader(11, 65535, 4097, 8, 0), Bytes(4200000, 0xFF))),
              "Failed to load image file \"" + folder.file("vast.tga") + "\"");
}

// --- BMP ---------------------------------------------------------------------------------------------

Bytes bmp(int width, int height, int bits, const Bytes& palette, const Bytes& pixels,
          const char* magic = "BM") {
    Bytes b = {static_cast<std::uint8_t>(magic[0]), static_cast<std::uint8_t>(magic[1])};
    const std::uint32_t offset = 54 + static_cast<std::uint32_t>(palette.size());
    le32(b, offset + static_cast<std::uint32_t>(pixels.size()));
    le32(b, 0);
    le32(b, offset);
    le32(b, 40);
    le32(b, static_cast<std::uint32_t>(width));
    le32(b, static_cast<std::uint32_t>(height));
    le16(b, 1);
    le16(b, bits);
    for (int i = 0; i < 6; ++i) le32(b, 0);
    return cat(cat(b, palette), pixels);
}

TEST_F(TextureFiles, BmpDepths) {
    // 24-bit, rows of 9 bytes padded to 12, bottom row first in the file.
    auto image = load("a.bmp", bmp(3, 2, 24, {}, {1, 1, 1, 2, 2, 2, 3, 3, 3, 0, 0, 0,  //
                                                  4, 4, 4, 5, 5, 5, 6, 6, 6, 0, 0, 0}));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->orientation, 0x20);
    EXPECT_EQ(image->rows[0], (Bytes{4, 4, 4, 5, 5, 5, 6, 6, 6}));
    EXPECT_EQ(image->rows[1], (Bytes{1, 1, 1, 2, 2, 2, 3, 3, 3}));

    Bytes palette(256 * 4, 0);
    for (int i = 0; i < 256; ++i) palette[4 * i] = static_cast<std::uint8_t>(i), palette[4 * i + 2] = 9;
    const auto entries = [&](int n) { return Bytes(palette.begin(), palette.begin() + 4 * n); };
    // 1 bit: ten pixels in two bytes, most significant bit first.
    image = load("b.bmp", bmp(10, 1, 1, entries(2), {0b10100000, 0b01000000, 0, 0}));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->bitsPerPixel, 24);
    EXPECT_EQ(image->rows[0][0], 1);
    EXPECT_EQ(image->rows[0][3], 0);
    EXPECT_EQ(image->rows[0][6], 1);
    EXPECT_EQ(image->rows[0][27], 1);
    // 4 and 8 bits.
    image = load("c.bmp", bmp(3, 1, 4, entries(16), {0xF2, 0x70, 0, 0}));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->rows[0], (Bytes{15, 0, 9, 2, 0, 9, 7, 0, 9}));
    image = load("d.bmp", bmp(2, 1, 8, entries(256), {200, 17, 0, 0}, "BA"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->rows[0], (Bytes{200, 0, 9, 17, 0, 9}));
}

TEST_F(TextureFiles, BadBmpFilesFailToLoad) {
    EXPECT_FALSE(load("sig.bmp", bmp(1, 1, 24, {}, {1, 2, 3, 0}, "XY")));
    EXPECT_FALSE(load("cut.bmp", bmp(4, 4, 24, {}, Bytes(20, 1))));
    EXPECT_FALSE(load("huge.bmp", bmp(60000, 60000, 24, {}, Bytes(64, 1))));
    EXPECT_FALSE(load("depth.bmp", bmp(1, 1, 16, {}, {1, 2, 0, 0})));
    EXPECT_FALSE(load("tiny.bmp", {'B', 'M', 1, 2}));
}

// --- PNG ---------------------------------------------------------------------------------------------

void writePng(const std::string& path, int width, int height, int colourType, int depth, const Bytes& data,
              bool interlaced = false, const Bytes& palette = {}) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, depth, colourType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty())
        png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(palette.data()),
                     static_cast<int>(palette.size() / 3));
    png_write_info(png, info);
    const std::size_t rowBytes = data.size() / height;
    std::vector<png_bytep> rows;
    for (int y = 0; y < height; ++y) rows.push_back(const_cast<png_bytep>(data.data() + y * rowBytes));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

TEST_F(TextureFiles, PngLayouts) {
    const std::string path = folder.file("rgb.png");
    writePng(path, 2, 1, PNG_COLOR_TYPE_RGB, 8, {10, 20, 30, 40, 50, 60});
    auto image = loadImageFile(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->imageType, 2);
    EXPECT_EQ(image->bitsPerPixel, 24);
    EXPECT_EQ(image->rows[0], (Bytes{30, 20, 10, 60, 50, 40}));

    writePng(path, 1, 1, PNG_COLOR_TYPE_RGB, 16, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
    image = loadImageFile(path);
    EXPECT_EQ(image->rows[0], (Bytes{0x9A, 0x56, 0x12}));

    writePng(path, 2, 1, PNG_COLOR_TYPE_GRAY, 8, {7, 9});
    image = loadImageFile(path);
    EXPECT_EQ(image->imageType, 3);
    EXPECT_EQ(image->rows[0], (Bytes{7, 9}));

    writePng(path, 4, 1, PNG_COLOR_TYPE_PALETTE, 2, {0b00011011}, false,
             {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    image = loadImageFile(path);
    EXPECT_EQ(image->bitsPerPixel, 24);
    EXPECT_EQ(image->rows[0], (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));

    writePng(path, 1, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, {1, 2, 3, 64});
    image = loadImageFile(path);
    EXPECT_EQ(image->rows[0], (Bytes{3, 2, 1, 64}));

    // Grey with alpha is spread to colour so the four bytes read as blue, green, red, alpha.
    writePng(path, 1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {90, 200});
    image = loadImageFile(path);
    EXPECT_EQ(image->bitsPerPixel, 32);
    EXPECT_EQ(image->rows[0], (Bytes{90, 90, 90, 200}));
}

TEST_F(TextureFiles, InterlacedPngKeepsEveryPixel) {
    const int w = 11, h = 9;
    Bytes data;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            data.insert(data.end(), {std::uint8_t(x), std::uint8_t(y), std::uint8_t(x * y)});
    writePng(folder.file("adam7.png"), w, h, PNG_COLOR_TYPE_RGB, 8, data, true);
    const auto image = loadImageFile(folder.file("adam7.png"));
    ASSERT_TRUE(image);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ((Bytes(image->rows[y].begin() + 3 * x, image->rows[y].begin() + 3 * x + 3)),
                      (Bytes{std::uint8_t(x * y), std::uint8_t(y), std::uint8_t(x)}))
                << x << ", " << y;
}

TEST_F(TextureFiles, NameChoosesTheReader) {
    // ".png" is looked for before ".tga", anywhere in the name.
    writePng(folder.file("wall.png.tga"), 1, 1, PNG_COLOR_TYPE_GRAY, 8, {42});
    auto image = loadImageFile(folder.file("wall.png.tga"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->rows[0], Bytes{42});
    EXPECT_EQ(image->name, folder.file("wall.png.tga"));

    writeBytes(folder.file("x.gif"), {1, 2, 3});
    EXPECT_EQ(fatalText(folder.file("x.gif")),
              "Image file \"" + folder.file("x.gif") + "\" is not a supported format");
    EXPECT_EQ(fatalText(folder.file("none.png")),
              "Unable to open bitmap file \"" + folder.file("none.png") + "\"");
}

TEST_F(TextureFiles, BadLibraryFilesFailToLoad) {
    const std::string path = folder.file("rgb.png");
    writePng(path, 40, 40, PNG_COLOR_TYPE_RGB, 8, Bytes(40 * 40 * 3, 77));
    Bytes png = testing::readBytes(path);
    png.resize(png.size() / 2);
    EXPECT_FALSE(load("cut.png", png));
    EXPECT_FALSE(load("junk.png", Bytes(100, 0x55)));
    EXPECT_FALSE(load("junk.jpg", Bytes(100, 0x55)));
    EXPECT_FALSE(load("junk.tif", Bytes(100, 0x55)));
    // A valid header claiming a huge picture over a few bytes of data.
    Bytes huge = testing::readBytes(path);
    huge[16] = huge[20] = 0x00, huge[17] = huge[21] = 0x00, huge[18] = huge[22] = 0xEA,
    huge[19] = huge[23] = 0x60;
    const uLong crc = crc32(0, huge.data() + 12, 17);
    for (int i = 0; i < 4; ++i) huge[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    EXPECT_FALSE(load("huge.png", huge));
}

// --- JPEG --------------------------------------------------------------------------------------------

void writeJpeg(const std::string& path, int width, int height, int components, const Bytes& data,
               bool arithmetic = false) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    jpeg_stdio_dest(&info, f);
    info.image_width = width;
    info.image_height = height;
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    info.arith_code = arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(data.data() + info.next_scanline * width * components);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(f);
}

TEST_F(TextureFiles, JpegColourAndGrey) {
    Bytes rgb;
    for (int i = 0; i < 16 * 8; ++i) rgb.insert(rgb.end(), {200, 100, 30});
    writeJpeg(folder.file("a.jpg"), 16, 8, 3, rgb);
    auto image = loadImageFile(folder.file("a.jpg"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->bitsPerPixel, 24);
    EXPECT_EQ(image->orientation, 0x20);
    EXPECT_NEAR(image->rows[7][3 * 15], 30, 3);  // blue first
    EXPECT_NEAR(image->rows[7][3 * 15 + 2], 200, 3);

    writeJpeg(folder.file("g.JPG"), 8, 8, 1, Bytes(64, 120));
    image = loadImageFile(folder.file("g.JPG"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->imageType, 3);
    EXPECT_NEAR(image->rows[0][0], 120, 2);
}

// A scan the data cannot hold fails at once: the file ends early, Huffman-coded data reaches a marker,
// or the header claims more than 2^28 pixels. Arithmetic-coded data may end long before its scan (the
// decoder pads it with zeros): a uniform picture of millions of pixels in a hundred bytes loads.
TEST_F(TextureFiles, JpegWhoseDataCannotHoldItsScanFailsToLoad) {
    Bytes gradient;
    for (int i = 0; i < 64 * 64 * 3; ++i) gradient.push_back(static_cast<std::uint8_t>(i * 7 % 251));
    // Width and height in the frame header, after the marker, length and precision.
    const auto claim = [](Bytes jpeg, int width, int height) {
        for (std::size_t i = 0; i + 9 < jpeg.size(); ++i)
            if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC9)) {
                jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8), jpeg[i + 6] = height & 0xFF;
                jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8), jpeg[i + 8] = width & 0xFF;
                return jpeg;
            }
        ADD_FAILURE() << "no frame header";
        return jpeg;
    };
    for (bool arithmetic : {false, true}) {
        writeJpeg(folder.file("small.jpg"), 64, 64, 3, gradient, arithmetic);
        const Bytes small = testing::readBytes(folder.file("small.jpg"));
        ASSERT_TRUE(load("whole.jpg", small)) << arithmetic;
        if (!arithmetic) {
            EXPECT_FALSE(load("wide.jpg", claim(small, 64035, 252)));
        }
        EXPECT_FALSE(load("vast.jpg", claim(small, 65000, 65000))) << arithmetic;
        EXPECT_FALSE(load("cut.jpg", Bytes(small.begin(), small.begin() + small.size() * 2 / 3))) << arithmetic;
    }
    writeJpeg(folder.file("flat.jpg"), 4096, 4096, 1, Bytes(4096 * 4096, 90), true);
    EXPECT_LT(testing::readBytes(folder.file("flat.jpg")).size(), 1000u);
    const auto flat = loadImageFile(folder.file("flat.jpg"));
    ASSERT_TRUE(flat);
    ASSERT_EQ(flat->rows.size(), 4096u);
    EXPECT_NEAR(flat->rows[4095][4095], 90, 1);
}

// --- TIFF --------------------------------------------------------------------------------------------

void writeTiff(const std::string& path, int width, int height, int samples, const Bytes& data) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    if (samples == 4) {
        const std::uint16_t extra[] = {EXTRASAMPLE_ASSOCALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    for (int y = 0; y < height; ++y)
        TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(data.data() + y * width * samples), y, 0);
    TIFFClose(tiff);
}

TEST_F(TextureFiles, TiffLayouts) {
    writeTiff(folder.file("a.tif"), 2, 2, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    auto image = loadImageFile(folder.file("a.tif"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->bitsPerPixel, 24);
    // The raster is stored bottom row first; lookups still see v = 0 at the bottom.
    EXPECT_EQ(image->orientation, 0);
    EXPECT_EQ(image->rows[0], (Bytes{9, 8, 7, 12, 11, 10}));
    EXPECT_EQ(imageColor(*image, 0, false, 0.9, 0.9).colour.r, 4 / 255.0);

    writeTiff(folder.file("g.TIF"), 2, 1, 1, {33, 44});
    image = loadImageFile(folder.file("g.TIF"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->imageType, 3);
    EXPECT_EQ(image->rows[0], (Bytes{33, 44}));

    writeTiff(folder.file("alpha.tif"), 1, 1, 4, {10, 20, 30, 40});
    image = loadImageFile(folder.file("alpha.tif"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->rows[0], (Bytes{30, 20, 10, 40}));
}

}  // namespace
}  // namespace quorva

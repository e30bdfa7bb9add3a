// Pixel emission for Targa output: verbatim pixels or run-length packets that close at every row end.
#include <cstring>

#include "image/targa_writer.h"

namespace quorva {

void TargaPixelWriter::start(std::FILE* file, int width, int bytesPerPixel, bool compressed) {
    file_ = file;
    width_ = width;
    bytes_ = bytesPerPixel;
    compressed_ = compressed;
    rawCount_ = 0;
    runCount_ = 0;
    total_ = 0;
    rowPosition_ = 0;
}

bool TargaPixelWriter::samePixel(const std::uint8_t* a, const std::uint8_t* b) const {
    return std::memcmp(a, b, static_cast<std::size_t>(bytes_)) == 0;
}

void TargaPixelWriter::writeRaw(int count) {
    std::fputc(count - 1, file_);
    for (int i = 0; i < count; ++i) std::fwrite(slot(i), 1, static_cast<std::size_t>(bytes_), file_);
    total_ += count;
}

void TargaPixelWriter::writeRun(int count) {
    std::fputc(0x80 | (count - 1), file_);
    std::fwrite(slot(0), 1, static_cast<std::size_t>(bytes_), file_);
    total_ += count;
}

void TargaPixelWriter::flush() {
    if (rawCount_ >= 1) {
        writeRaw(rawCount_);
    } else if (runCount_ > 0) {
        writeRun(runCount_);
    }
    rawCount_ = 0;
    runCount_ = 0;
}

void TargaPixelWriter::put(const std::uint8_t* pixel) {
    if (!compressed_) {
        std::fwrite(pixel, 1, static_cast<std::size_t>(bytes_), file_);
        ++total_;
        return;
    }
    if (rowPosition_ == width_) {
        flush();
        rowPosition_ = 0;
    }
    ++rowPosition_;

    const auto keep = [&](int i) { std::memcpy(slot(i), pixel, static_cast<std::size_t>(bytes_)); };
    if (rawCount_ == 0 && runCount_ == 0) {
        keep(0);
        rawCount_ = 1;
    } else if (rawCount_ == 1 && samePixel(pixel, slot(0))) {
        rawCount_ = 0;
        runCount_ = 2;
    } else if (rawCount_ >= 2 && samePixel(pixel, slot(rawCount_ - 1))) {
        // The last literal and this pixel make a run: write the literals before them.
        writeRaw(rawCount_ - 1);
        keep(0);
        rawCount_ = 0;
        runCount_ = 2;
    } else if (rawCount_ > 0) {
        keep(rawCount_++);
        if (rawCount_ == MaxPacketPixels) {
            writeRaw(rawCount_);
            rawCount_ = 0;
        }
    } else if (samePixel(pixel, slot(0))) {
        if (++runCount_ == MaxPacketPixels) {
            writeRun(runCount_);
            runCount_ = 0;
        }
    } else {
        writeRun(runCount_);
        runCount_ = 0;
        keep(0);
        rawCount_ = 1;
    }
}

}  // namespace quorva

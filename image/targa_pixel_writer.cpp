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

// Each packet goes to the stream in one write: its header byte, then its pixels packed together.
void TargaPixelWriter::writeRaw(int count) {
    std::uint8_t packet[1 + MaxPacketPixels * 4];
    packet[0] = static_cast<std::uint8_t>(count - 1);
    std::size_t n = 1;
    for (int i = 0; i < count; ++i, n += static_cast<std::size_t>(bytes_))
        std::memcpy(packet + n, slot(i), static_cast<std::size_t>(bytes_));
    std::fwrite(packet, 1, n, file_);
    total_ += count;
}

void TargaPixelWriter::writeRun(int count) {
    std::uint8_t packet[1 + 4];
    packet[0] = static_cast<std::uint8_t>(0x80 | (count - 1));
    std::memcpy(packet + 1, slot(0), static_cast<std::size_t>(bytes_));
    std::fwrite(packet, 1, 1 + static_cast<std::size_t>(bytes_), file_);
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

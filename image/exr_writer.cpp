// EXR output through OpenEXR's scan-line interface. The image goes out in strips of rows converted into
// one small buffer, so that the copy costs little beside the render: the channels are chosen row by row,
// turned into halves eight at a time where the processor converts them itself, and the file is written
// without compression (see writeExrImage), in large blocks.
#include "image/exr_writer.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfOutputFile.h>
#include <fcntl.h>
#include <half.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <stdexcept>
#include <vector>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

#include "diagnostics/diagnostics.h"
#include "render/frame_buffers.h"

namespace quorva {
namespace {

// Rows converted and handed to the library at a time.
constexpr int StripRows = 16;

// The file as OpenEXR writes it, gathered into blocks. The library hands over one scan line at a time (a
// few kilobytes for 640 pixels); a system call for each costs more than all the rest of the copy. It
// seeks back once, at the end, for the table of line offsets, and does that in its destructor, where it
// swallows any error: a failed write is therefore remembered here and reported by close().
class BlockFile final : public Imf::OStream {
  public:
    static constexpr std::size_t BlockBytes = std::size_t{256} << 10;

    explicit BlockFile(const std::string& path) : Imf::OStream(path.c_str()) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0) throw std::runtime_error(std::strerror(errno));
        block_.reserve(BlockBytes);
    }
    ~BlockFile() override {
        if (fd_ >= 0) ::close(fd_);
    }

    void write(const char c[], int n) override {
        if (failed_) throw std::runtime_error("earlier write failed");
        while (n > 0) {
            const std::size_t room = BlockBytes - block_.size();
            const std::size_t part = std::min(room, static_cast<std::size_t>(n));
            block_.insert(block_.end(), c, c + part);
            c += part;
            n -= static_cast<int>(part);
            if (block_.size() == BlockBytes) flush();
        }
    }
    std::uint64_t tellp() override { return blockStart_ + block_.size(); }
    void seekp(std::uint64_t pos) override {
        flush();
        blockStart_ = pos;
    }
    // Writes what is left; false when any write failed.
    bool close() {
        try {
            flush();
        } catch (const std::exception&) {
        }
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        return closed && !failed_;
    }

  private:
    void flush() {
        const char* p = block_.data();
        std::size_t left = block_.size();
        auto at = static_cast<off_t>(blockStart_);
        while (left > 0 && !failed_) {
            const ssize_t n = ::pwrite(fd_, p, left, at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                failed_ = true;  // a full disk, a size limit, an I/O error
            else {
                p += n;
                left -= static_cast<std::size_t>(n);
                at += n;
            }
        }
        blockStart_ += block_.size();
        block_.clear();
        if (failed_) throw std::runtime_error("write failed");
    }

    int fd_ = -1;
    std::vector<char> block_;
    std::uint64_t blockStart_ = 0;  // the file position of block_[0]
    bool failed_ = false;
};

// One row of R, G, B, A as written: the unclipped value where it still gives the image's byte
// (trunc(v * 255) clamped to 0..255, as colourByte takes it but in single precision; at the edge of a byte
// the byte's own value is written, which rounds to it as well), else byte / 255; then as halves, rounded
// to the nearest, ties to even. `kept` is null where there are no unclipped values.
void rowHalvesPortable(const std::uint8_t* bytes, const float* kept, half* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const float b = bytes[i];
        float value = b / 255.0f;
        if (kept) {
            const float v = kept[i];
            if (v == v &&
                static_cast<float>(static_cast<int>(std::min(std::max(v * 255.0f, 0.0f), 255.0f))) == b)
                value = v;
        }
        out[i] = half(value);
    }
}

#if defined(__x86_64__)
// The same eight channels at a time, converted to halves by the processor.
__attribute__((target("avx2,f16c"))) void rowHalvesVector(const std::uint8_t* bytes, const float* kept,
                                                          half* out, std::size_t count) {
    const __m256 scale = _mm256_set1_ps(255.0f), zero = _mm256_setzero_ps();
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + i));
        const __m256 b = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(eight));
        __m256 value = _mm256_div_ps(b, scale);
        if (kept) {
            const __m256 v = _mm256_loadu_ps(kept + i);
            // max returns its second operand for NaN: 0, and NaN fails the last test.
            const __m256 t = _mm256_min_ps(_mm256_max_ps(_mm256_mul_ps(v, scale), zero), scale);
            const __m256 whole = _mm256_cvtepi32_ps(_mm256_cvttps_epi32(t));
            const __m256 same =
                _mm256_and_ps(_mm256_cmp_ps(whole, b, _CMP_EQ_OQ), _mm256_cmp_ps(v, v, _CMP_EQ_OQ));
            value = _mm256_blendv_ps(value, v, same);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm256_cvtps_ph(value, _MM_FROUND_TO_NEAREST_INT));
    }
    rowHalvesPortable(bytes + i, kept ? kept + i : nullptr, out + i, count - i);
}

bool vectorHalves() {
    // F16C is read from cpuid: not every compiler knows it as a feature name of the builtin.
    static const bool supported = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __builtin_cpu_supports("avx2") && __get_cpuid(1, &a, &b, &c, &d) && (c & bit_F16C) != 0;
    }();
    return supported;
}
#endif

// Row y of the frame as halves; an absent row is black and transparent.
void rowHalves(const FrameBuffers& frame, int y, bool withLinear, half* out) {
    const SBuffer& sb = frame.color;
    const std::size_t count = static_cast<std::size_t>(sb.width) * 4;
    if (!sb.hasRow(y)) {
        std::fill(out, out + count, half(0.0f));
        return;
    }
    const float* kept =
        withLinear ? &frame.linear[static_cast<std::size_t>(y) * (static_cast<std::size_t>(sb.width) + 1) * 4]
                   : nullptr;
#if defined(__x86_64__)
    if (vectorHalves()) {
        rowHalvesVector(sb.row(y), kept, out, count);
        return;
    }
#endif
    rowHalvesPortable(sb.row(y), kept, out, count);
}

const char* const ChannelNames[4] = {"R", "G", "B", "A"};

// The frame's rows handed to the file strip by strip.
void writeStrips(const FrameBuffers& frame, Imf::OutputFile& file) {
    const int width = frame.color.width, height = frame.color.height;
    const std::size_t stride = static_cast<std::size_t>(width) + 1;
    const bool withLinear = frame.linear.size() >= stride * (static_cast<std::size_t>(height) + 1) * 4;
    const bool withDepth = frame.hasDepth;
    const std::size_t rowCount = static_cast<std::size_t>(width) * 4;
    std::vector<half> rgba(rowCount * StripRows);
    std::vector<float> depth(withDepth ? static_cast<std::size_t>(width) * StripRows : 0);
    const std::size_t pixelBytes = 4 * sizeof(half);
    for (int y0 = 0; y0 < height; y0 += StripRows) {
        const int rows = std::min(StripRows, height - y0);
        for (int r = 0; r < rows; ++r) {
            rowHalves(frame, y0 + r, withLinear, &rgba[rowCount * static_cast<std::size_t>(r)]);
            if (withDepth) {
                float* out = &depth[static_cast<std::size_t>(width) * static_cast<std::size_t>(r)];
                const bool present = frame.depth.hasRow(y0 + r);
                const double* in =
                    present ? frame.depth.rows[static_cast<std::size_t>(y0 + r)].data() : nullptr;
                for (int x = 0; x < width; ++x) out[x] = in ? static_cast<float>(in[x]) : 1000000.0f;
            }
        }
        // The slices address the image's rows y0.. at the strip buffers' start.
        Imf::FrameBuffer slices;
        const std::ptrdiff_t shift = static_cast<std::ptrdiff_t>(y0) * static_cast<std::ptrdiff_t>(width);
        for (int c = 0; c < 4; ++c)
            slices.insert(ChannelNames[c],
                          Imf::Slice(Imf::HALF, reinterpret_cast<char*>(rgba.data() + c - shift * 4),
                                     pixelBytes, pixelBytes * width));
        if (withDepth)
            slices.insert("Z", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(depth.data() - shift),
                                          sizeof(float), sizeof(float) * width));
        file.setFrameBuffer(slices);
        file.writePixels(rows);
    }
}

}  // namespace

std::string exrNameFor(const std::string& targaPath) {
    const std::string ext = ".tga";
    if (targaPath.size() >= ext.size() &&
        targaPath.compare(targaPath.size() - ext.size(), ext.size(), ext) == 0)
        return targaPath.substr(0, targaPath.size() - ext.size()) + ".exr";
    return targaPath + ".exr";
}

void writeExrImage(const FrameBuffers& frame, const std::string& exrPath) {
    const SBuffer& sb = frame.color;
    const int width = sb.width, height = sb.height;
    if (width < 1 || height < 1) return;
    const std::string temporary = exrPath + ".part";
    try {
        Imf::Header header(width, height);
        // Uncompressed, 8 bytes a pixel (12 with Z): 2.4 MB for 640 x 480. Measured on a 640 x 480
        // global-illumination frame, the copy takes 3 ms so; run lengths take 8 ms for 1.1 MB, zip at its
        // quickest level 20 ms and PIZ 19 ms for 0.74 MB. Only no compression stays within a twentieth of
        // a simple frame that renders in 60 ms.
        header.compression() = Imf::NO_COMPRESSION;
        for (const char* name : ChannelNames) header.channels().insert(name, Imf::Channel(Imf::HALF));
        if (frame.hasDepth) header.channels().insert("Z", Imf::Channel(Imf::FLOAT));
        BlockFile stream(temporary);
        {
            // The file's line offsets go out when it closes.
            Imf::OutputFile file(stream, header, 1);
            writeStrips(frame, file);
        }
        if (!stream.close()) throw std::runtime_error("write failed");
    } catch (const std::exception&) {
        std::remove(temporary.c_str());
        fatal("Failed to write EXR image file %s", exrPath.c_str());
    }
    if (std::rename(temporary.c_str(), exrPath.c_str()) != 0) {
        std::remove(temporary.c_str());
        fatal("Failed to write EXR image file %s", exrPath.c_str());
    }
}

}  // namespace quorva

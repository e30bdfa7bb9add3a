// EXR output through OpenEXR's core library. The image goes out one scan line at a time, each converted
// straight into its place in the file: the channels are chosen row by row, turned into halves eight at a
// time where the processor converts them itself, laid out as the file stores them (each channel's row in
// turn, in the order of their names) in the block that becomes the next write, and handed to the library
// from there, so that the copy costs little beside the render. The file is not compressed (see
// writeExrImage).
#include "image/exr_writer.h"

#include <fcntl.h>
#include <half.h>
#include <openexr.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__x86_64__)
#include <cpuid.h>
#include <emmintrin.h>
#include <immintrin.h>
#endif

#include "diagnostics/diagnostics.h"
#include "render/frame_buffers.h"

namespace quorva {
namespace {

// The file, written in large blocks: a system call for every scan line (a few kilobytes for 640 pixels)
// costs more than all the rest of the copy. The library writes the file front to back (the header, then
// the lines in the order given) and at the end the table of line offsets just after the header; a write
// elsewhere than at the end of the block goes out at once. A failed write is remembered for close().
class BlockFile {
  public:
    // Small enough to come from memory the process has touched before: fresh pages cost a fault each,
    // and a huge page, when the kernel has to make one, can cost more than the whole file.
    static constexpr std::size_t BlockBytes = std::size_t{64} << 10;

    explicit BlockFile(const std::string& path) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        failed_ = fd_ < 0;
    }
    BlockFile(const BlockFile&) = delete;
    BlockFile& operator=(const BlockFile&) = delete;
    ~BlockFile() {
        if (fd_ >= 0) ::close(fd_);
    }

    // Room for `bytes` at the end of the block, the next bytes of the file; null when they do not fit in a
    // block. What is packed there and then written is not copied.
    char* reserve(std::size_t bytes) {
        if (bytes > BlockBytes) return nullptr;
        if (used_ + bytes > BlockBytes) flush();
        return block_.get() + used_;
    }
    // `bytes` bytes at file position `at`; false once a write has failed.
    bool write(const void* data, std::size_t bytes, std::uint64_t at) {
        if (failed_) return false;
        const char* from = static_cast<const char*>(data);
        if (at != blockStart_ + used_) {
            flush();
            putAt(from, bytes, at);
            blockStart_ = at + bytes;
            return !failed_;
        }
        if (from == block_.get() + used_ && used_ + bytes <= BlockBytes) {
            used_ += bytes;  // packed in place
            return true;
        }
        if (used_ + bytes > BlockBytes) flush();
        if (bytes > BlockBytes) {
            putAt(from, bytes, at);
            blockStart_ = at + bytes;
        } else {
            std::memmove(block_.get() + used_, from, bytes);
            used_ += bytes;
        }
        return !failed_;
    }
    // Writes what is left and closes the file; false when anything failed.
    bool close() {
        flush();
        const bool closed = fd_ >= 0 && ::close(fd_) == 0;
        fd_ = -1;
        return closed && !failed_;
    }

  private:
    void flush() {
        putAt(block_.get(), used_, blockStart_);
        blockStart_ += used_;
        used_ = 0;
    }
    void putAt(const char* p, std::size_t left, std::uint64_t at) {
        while (left > 0 && !failed_) {
            const ssize_t n = ::pwrite(fd_, p, left, static_cast<off_t>(at));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                failed_ = true;  // a full disk, a size limit, an I/O error
            } else {
                p += n;
                left -= static_cast<std::size_t>(n);
                at += static_cast<std::uint64_t>(n);
            }
        }
    }

    int fd_ = -1;
    std::unique_ptr<char[]> block_{new char[BlockBytes]};
    std::size_t used_ = 0;
    std::uint64_t blockStart_ = 0;  // the file position of block_[0]
    bool failed_ = false;
};

int64_t writeToBlocks(exr_const_context_t, void* file, const void* data, uint64_t bytes, uint64_t at,
                      exr_stream_error_func_ptr_t) {
    return static_cast<BlockFile*>(file)->write(data, bytes, at) ? static_cast<int64_t>(bytes) : -1;
}

// The library's messages are not shown: a failure is reported as the image that could not be written.
void quietErrors(exr_const_context_t, exr_result_t, const char*) {}

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

// A line of halves R, G, B, A per pixel laid out as the file stores it: all A, then all B, G and R.
void planarHalves(const half* rgba, std::size_t width, char* line) {
    std::uint16_t* out = reinterpret_cast<std::uint16_t*>(line);
    const std::uint16_t* in = reinterpret_cast<const std::uint16_t*>(rgba);
    std::size_t x = 0;
#if defined(__x86_64__)
    // Eight pixels at a time: a transpose of four vectors of two pixels each.
    for (; x + 8 <= width; x += 8) {
        const __m128i* p = reinterpret_cast<const __m128i*>(in + 4 * x);
        const __m128i v0 = _mm_loadu_si128(p), v1 = _mm_loadu_si128(p + 1), v2 = _mm_loadu_si128(p + 2),
                      v3 = _mm_loadu_si128(p + 3);
        const __m128i t0 = _mm_unpacklo_epi16(v0, v1), t1 = _mm_unpackhi_epi16(v0, v1),
                      t2 = _mm_unpacklo_epi16(v2, v3), t3 = _mm_unpackhi_epi16(v2, v3);
        const __m128i rg0 = _mm_unpacklo_epi16(t0, t1), ba0 = _mm_unpackhi_epi16(t0, t1),
                      rg1 = _mm_unpacklo_epi16(t2, t3), ba1 = _mm_unpackhi_epi16(t2, t3);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_unpackhi_epi64(ba0, ba1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + width + x), _mm_unpacklo_epi64(ba0, ba1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * width + x), _mm_unpackhi_epi64(rg0, rg1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * width + x), _mm_unpacklo_epi64(rg0, rg1));
    }
#endif
    for (; x < width; ++x) {
        out[x] = in[4 * x + 3];
        out[width + x] = in[4 * x + 2];
        out[2 * width + x] = in[4 * x + 1];
        out[3 * width + x] = in[4 * x];
    }
    if constexpr (std::endian::native == std::endian::big)
        for (std::size_t i = 0; i < 4 * width; ++i)
            out[i] = static_cast<std::uint16_t>(out[i] << 8 | out[i] >> 8);
}

// Row y of the depths as the file's floats, after the colours; an absent row is far away.
void depthFloats(const FrameBuffers& frame, int y, std::size_t width, char* line) {
    const double* in = frame.depth.hasRow(y) ? frame.depth.rows[static_cast<std::size_t>(y)].data() : nullptr;
    for (std::size_t x = 0; x < width; ++x) {
        const float f = in ? static_cast<float>(in[x]) : 1000000.0f;
        std::uint32_t bits = std::bit_cast<std::uint32_t>(f);
        if constexpr (std::endian::native == std::endian::big) bits = __builtin_bswap32(bits);
        std::memcpy(line + 4 * x, &bits, 4);
    }
}

// Every line of the frame written through the library, packed in the file's block where that is room.
bool writeLines(const FrameBuffers& frame, exr_context_t file, BlockFile& blocks) {
    const int width = frame.color.width, height = frame.color.height;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t stride = w + 1;
    const bool withLinear = frame.linear.size() >= stride * (static_cast<std::size_t>(height) + 1) * 4;
    const std::size_t colourBytes = w * 4 * sizeof(half);
    const std::size_t lineBytes = colourBytes + (frame.hasDepth ? w * sizeof(float) : 0);
    // Each line goes out after the line's position and size, two 32-bit numbers.
    constexpr std::size_t LineHeader = 8;
    std::vector<half> rgba(w * 4);
    std::vector<char> spare;
    for (int y = 0; y < height; ++y) {
        char* line = blocks.reserve(LineHeader + lineBytes);
        if (line) {
            line += LineHeader;
        } else {
            spare.resize(lineBytes);
            line = spare.data();
        }
        rowHalves(frame, y, withLinear, rgba.data());
        planarHalves(rgba.data(), w, line);
        if (frame.hasDepth) depthFloats(frame, y, w, line + colourBytes);
        if (exr_write_scanline_chunk(file, 0, y, line, lineBytes) != EXR_ERR_SUCCESS) return false;
    }
    return true;
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
    BlockFile blocks(temporary);
    exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
    init.error_handler_fn = quietErrors;
    init.user_data = &blocks;
    init.write_fn = writeToBlocks;
    exr_context_t file = nullptr;
    // Uncompressed, 8 bytes a pixel (12 with Z): 2.4 MB for 640 x 480, written in about 2 ms. Measured
    // on 640 x 480 frames (a sphere on a disk, and the Cornell box with its irradiance cache), the other
    // lossless choices cost more than a twentieth of the simple frame's 75 ms: run lengths 5 to 9 ms for
    // 0.5 to 0.9 MB, zip 26 to 45 ms for 0.1 to 0.4 MB, PIZ 80 ms for 0.25 to 0.5 MB.
    bool ok = exr_start_write(&file, temporary.c_str(), EXR_WRITE_FILE_DIRECTLY, &init) == EXR_ERR_SUCCESS;
    int part = 0;
    ok = ok && exr_add_part(file, "", EXR_STORAGE_SCANLINE, &part) == EXR_ERR_SUCCESS &&
         exr_initialize_required_attr_simple(file, part, width, height, EXR_COMPRESSION_NONE) ==
             EXR_ERR_SUCCESS;
    for (const char* name : {"R", "G", "B", "A"})
        ok = ok && exr_add_channel(file, part, name, EXR_PIXEL_HALF, EXR_PERCEPTUALLY_LOGARITHMIC, 1, 1) ==
                       EXR_ERR_SUCCESS;
    if (frame.hasDepth)
        ok = ok && exr_add_channel(file, part, "Z", EXR_PIXEL_FLOAT, EXR_PERCEPTUALLY_LOGARITHMIC, 1, 1) ==
                       EXR_ERR_SUCCESS;
    ok = ok && exr_write_header(file) == EXR_ERR_SUCCESS && writeLines(frame, file, blocks);
    // Finishing writes the table of line offsets.
    if (file) ok = exr_finish(&file) == EXR_ERR_SUCCESS && ok;
    ok = blocks.close() && ok;
    if (!ok || std::rename(temporary.c_str(), exrPath.c_str()) != 0) {
        std::remove(temporary.c_str());
        fatal("Failed to write EXR image file %s", exrPath.c_str());
    }
}

}  // namespace quorva

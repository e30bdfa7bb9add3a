// Adaptive and super-adaptive anti-aliasing: each pixel is a grid of N x N sub-squares whose corners
// are traced only where neighbouring samples differ, with corners shared between neighbouring pixels.
#include "render/antialias.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"
#include "render/frame_buffers.h"

namespace quorva {

int contrastThreshold(int level) {
    return std::max(1, 11 - level);
}

bool endOnKey(SamplingLoop& loop) {
    KeySource& k = keys();
    if (!k.keyWaiting()) return false;
    if (k.readKey() == EscapeKey)
        loop.stopRequested = true;
    else
        loop.keyPressed = true;
    return true;
}

namespace {

// One corner sample as 8-bit red, green, blue and alpha.
struct Cell {
    int channel[4] = {0, 0, 0, 0};
    bool valid = false;
};

struct Rgba {
    int channel[4];
};

int toByte(double v) {
    return static_cast<int>(v * 255.0);
}

class AdaptiveSampler {
  public:
    AdaptiveSampler(SamplingLoop& loop, int threshold)
        : loop_(loop), n_(loop.gridSize), threshold_(threshold) {
        try {
            grid_.resize(static_cast<std::size_t>((n_ + 1) * (n_ + 1)));
            rowCache_.resize(static_cast<std::size_t>(loop.width) * n_ + 1);
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate antialiasing buffer");
        }
    }

    void run(int rowStart, int rowEnd) {
        const int columnStart = std::max(0, loop_.columnStart);
        const int columnEnd = std::min(loop_.columnEnd, loop_.width);
        for (int y = rowStart; y < rowEnd; ++y) {
            for (int b = 0; b <= n_; ++b) cell(0, b).valid = false;
            for (int x = columnStart; x < columnEnd; ++x) renderPixel(x, y);
            loop_.source.rowsFinished(y + 1);
            if (loop_.superAdaptive)
                progressMessage("\rRendering: %d%% (super-adaptive antialiasing level: %d/10)",
                                (y + 1) * 100 / rowEnd, loop_.level);
            else
                progressMessage("\rRendering: %d%% (adaptive antialiasing level: %d/10)",
                                (y + 1) * 100 / rowEnd, loop_.level);
            if (endOnKey(loop_)) return;
        }
    }

  private:
    Cell& cell(int a, int b) { return grid_[static_cast<std::size_t>(b * (n_ + 1) + a)]; }

    void renderPixel(int x, int y) {
        const std::size_t base = static_cast<std::size_t>(x) * n_;
        // The top edge is the bottom edge of the pixel above. Cells without a cached sample must not
        // keep the previous pixel's values, which lie at other positions.
        for (int a = 1; a <= n_; ++a) cell(a, 0) = rowCache_[base + a];
        // The first pixel of a row has no left neighbour; its top-left corner may still be cached.
        if (!cell(0, 0).valid) cell(0, 0) = rowCache_[base];
        for (int b = 1; b <= n_; ++b)
            for (int a = 1; a <= n_; ++a) cell(a, b).valid = false;

        x_ = x;
        y_ = y;
        recordFirstDepth_ = true;
        firstDepth_ = 1000000.0;
        const Rgba result = subdivide(0, 0, n_);

        constexpr double ByteScale = 0.00392156862745098;
        Color colour(result.channel[0] * ByteScale, result.channel[1] * ByteScale,
                     result.channel[2] * ByteScale);
        loop_.source.finish(x, y, colour, result.channel[3] * ByteScale, firstDepth_);

        for (int a = 0; a <= n_; ++a) rowCache_[base + a] = cell(a, n_);
        for (int b = 0; b <= n_; ++b) cell(0, b) = cell(n_, b);
    }

    void trace(int a, int b) {
        Cell& c = cell(a, b);
        if (c.valid) return;
        Color colour;
        double alpha = 0;
        loop_.source.sample(x_ + static_cast<double>(a) / n_, y_ + static_cast<double>(b) / n_, colour, alpha,
                            &recordFirstDepth_, &firstDepth_);
        c.channel[0] = toByte(colour.r);
        c.channel[1] = toByte(colour.g);
        c.channel[2] = toByte(colour.b);
        c.channel[3] = toByte(alpha);
        c.valid = true;
    }

    // The mean of the square with corner (a, b) and size e, splitting it while its corners differ from
    // their average by T or more in red, green or blue (alpha is averaged but never tested).
    Rgba subdivide(int a, int b, int e) {
        const int corners[4][2] = {{a, b}, {a + e, b}, {a, b + e}, {a + e, b + e}};
        for (const auto& c : corners) trace(c[0], c[1]);
        Rgba mean;
        for (int ch = 0; ch < 4; ++ch) {
            int sum = 0;
            for (const auto& c : corners) sum += cell(c[0], c[1]).channel[ch];
            mean.channel[ch] = sum / 4;
        }
        bool flat = true;
        for (const auto& c : corners)
            for (int ch = 0; ch < 3; ++ch)
                if (std::abs(mean.channel[ch] - cell(c[0], c[1]).channel[ch]) >= threshold_) flat = false;
        if (e == 1 || flat) return mean;

        const int h = e / 2;
        const Rgba parts[4] = {subdivide(a, b, h), subdivide(a + h, b, h), subdivide(a, b + h, h),
                               subdivide(a + h, b + h, h)};
        Rgba result;
        for (int ch = 0; ch < 4; ++ch)
            result.channel[ch] =
                (parts[0].channel[ch] + parts[1].channel[ch] + parts[2].channel[ch] + parts[3].channel[ch]) >>
                2;
        return result;
    }

    SamplingLoop& loop_;
    int n_;
    int threshold_;
    std::vector<Cell> grid_;      // (N + 1) x (N + 1) corners of the current pixel, row b at b * (N + 1)
    std::vector<Cell> rowCache_;  // bottom edges of the previous row: pixel x, corner a at x * N + a
    int x_ = 0, y_ = 0;
    bool recordFirstDepth_ = false;
    double firstDepth_ = 1000000.0;
};

}  // namespace

void runAdaptive(SamplingLoop& loop, int rowStart, int rowEnd) {
    if (rowEnd <= rowStart || loop.gridSize < 1 || loop.width < 1) return;
    AdaptiveSampler sampler(loop, contrastThreshold(loop.level));
    sampler.run(rowStart, rowEnd);
}

}  // namespace quorva

// Fast undersampling: the image is traced on a sparse grid of 6 x 6 blocks (corners and centre), and a
// quarter block whose corner matches the centre is filled from those samples instead of being traced.
#include "render/antialias.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "render/frame_buffers.h"

namespace quorva {
namespace {

constexpr int BlockSize = UndersamplingBlockSize;
constexpr int BandRows = BlockSize + 1;  // the band's rows, the first shared with the band before

enum class PixelState : std::uint8_t { Empty, Filled, Traced };

struct Pixel {
    Color colour;
    double alpha = 0;
    double depth = 1000000.0;
    int rgb[3] = {0, 0, 0};  // 8-bit values the contrast test compares
    PixelState state = PixelState::Empty;
};

class Undersampler {
  public:
    Undersampler(SamplingLoop& loop, int threshold) : loop_(loop), threshold_(threshold) {
        columnStart_ = std::max(0, loop.columnStart);
        columnEnd_ = std::min(loop.columnEnd, loop.width);
        try {
            for (auto& row : band_) row.resize(static_cast<std::size_t>(loop.width) + 5);
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate antialiasing buffer");
        }
    }

    void run(int rowStart, int rowEnd) {
        if (columnEnd_ <= columnStart_) return;
        // Rows before the first multiple of 6 are traced in full, so that bands start on multiples of 6.
        int bandStart = (rowStart + BlockSize - 1) / BlockSize * BlockSize;
        for (int y = rowStart; y < std::min(bandStart, rowEnd); ++y) {
            for (int x = columnStart_; x < columnEnd_; ++x) {
                Pixel p;
                tracePixel(p, x, y);
                loop_.source.finish(x, y, p.colour, p.alpha, p.depth);
            }
            loop_.source.rowsFinished(y + 1);
            if (endOnKey(loop_)) return;
        }

        int lastPrinted = rowStart;
        bool printed = false;
        for (int y0 = bandStart; y0 < rowEnd; y0 += BlockSize) {
            // The band's first row is the previous band's last one; the other rows start empty.
            if (y0 != bandStart) std::swap(band_[0], band_[BlockSize]);
            for (int r = (y0 == bandStart ? 0 : 1); r < BandRows; ++r)
                std::fill(band_[r].begin(), band_[r].end(), Pixel{});
            y0_ = y0;
            const int y1 = std::min(y0 + BlockSize, rowEnd - 1);
            for (int x0 = columnStart_;; x0 += BlockSize) {
                const int x1 = std::min(x0 + BlockSize, columnEnd_ - 1);
                processBlock(x0, x1, y0, y1);
                if (x1 >= columnEnd_ - 1) break;
            }
            // Rows are final once the next band can no longer change them.
            const bool lastBand = y1 >= rowEnd - 1;
            for (int y = y0; y < y1 + (lastBand ? 1 : 0); ++y) finishRow(y);
            loop_.source.rowsFinished(y1 + (lastBand ? 1 : 0));

            lastPrinted = y0;
            printed = true;
            printProgress(lastPrinted, rowEnd);
            if (endOnKey(loop_) || lastBand) break;
        }
        if (printed) printProgress(lastPrinted, rowEnd);
    }

  private:
    Pixel& at(int x, int y) { return band_[y - y0_][static_cast<std::size_t>(x)]; }

    void printProgress(int y0, int rowEnd) {
        progressMessage("\rRendering: %d%% (undersampling quality level %d/10 - antialiasing disabled)",
                        (y0 + 1) * 100 / rowEnd, loop_.level);
    }

    void tracePixel(Pixel& p, int x, int y) {
        p.depth = loop_.source.sample(x + 0.5, y + 0.5, p.colour, p.alpha, nullptr, nullptr);
        p.rgb[0] = colourByte(p.colour.r);
        p.rgb[1] = colourByte(p.colour.g);
        p.rgb[2] = colourByte(p.colour.b);
        p.state = PixelState::Traced;
    }

    void traceOnce(int x, int y) {
        Pixel& p = at(x, y);
        if (p.state != PixelState::Traced) tracePixel(p, x, y);
    }

    bool differs(const Pixel& a, const Pixel& b) const {
        for (int ch = 0; ch < 3; ++ch)
            if (std::abs(a.rgb[ch] - b.rgb[ch]) > threshold_) return true;
        return false;
    }

    // A block spans columns x0..x1 and rows y0..y1 (both ends included and shared with the neighbouring
    // blocks); its four quarters meet at the centre sample.
    void processBlock(int x0, int x1, int y0, int y1) {
        traceOnce(x0, y0);
        traceOnce(x1, y0);
        traceOnce(x0, y1);
        traceOnce(x1, y1);
        const int cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
        traceOnce(cx, cy);

        struct Quarter {
            int xa, xb, ya, yb;  // pixel range, centre lines included
            int cornerX, cornerY;
            bool flat;
        };
        Quarter quarters[4] = {{x0, cx, y0, cy, x0, y0, false},
                               {cx, x1, y0, cy, x1, y0, false},
                               {x0, cx, cy, y1, x0, y1, false},
                               {cx, x1, cy, y1, x1, y1, false}};
        const Pixel& centre = at(cx, cy);
        for (Quarter& q : quarters) q.flat = !differs(centre, at(q.cornerX, q.cornerY));

        // Trace the busy quarters first, so that a pixel shared with a flat quarter keeps its sample.
        for (const Quarter& q : quarters) {
            if (q.flat) continue;
            for (int y = q.ya; y <= q.yb; ++y)
                for (int x = q.xa; x <= q.xb; ++x) traceOnce(x, y);
        }
        // A flat quarter copies, pixel by pixel, the nearer of its corner and the centre.
        for (const Quarter& q : quarters) {
            if (!q.flat) continue;
            const Pixel corner = at(q.cornerX, q.cornerY);
            const Pixel middle = centre;
            for (int y = q.ya; y <= q.yb; ++y)
                for (int x = q.xa; x <= q.xb; ++x) {
                    Pixel& p = at(x, y);
                    if (p.state == PixelState::Traced) continue;
                    int toCorner = std::max(std::abs(x - q.cornerX), std::abs(y - q.cornerY));
                    int toCentre = std::max(std::abs(x - cx), std::abs(y - cy));
                    p = toCorner < toCentre ? corner : middle;
                    p.state = PixelState::Filled;
                }
        }
    }

    void finishRow(int y) {
        for (int x = columnStart_; x < columnEnd_; ++x) {
            const Pixel& p = at(x, y);
            loop_.source.finish(x, y, p.colour, p.alpha, p.depth);
        }
    }

    SamplingLoop& loop_;
    int threshold_;
    int columnStart_ = 0, columnEnd_ = 0;
    int y0_ = 0;
    std::vector<Pixel> band_[BandRows];
};

}  // namespace

void runUndersampled(SamplingLoop& loop, int rowStart, int rowEnd) {
    if (rowEnd <= rowStart || loop.width < 1) return;
    Undersampler sampler(loop, contrastThreshold(loop.level));
    sampler.run(rowStart, rowEnd);
}

}  // namespace quorva

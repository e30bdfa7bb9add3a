// Fast undersampling: the image is traced on a sparse grid of 6 x 6 blocks (corners and centre), and a
// quarter block whose corner matches the centre is filled from those samples instead of being traced.
// Work units are the rows traced in full before the first band, then the bands; a band takes over the
// last row of the band above block by block, as soon as that band can no longer change it.
#include "render/antialias.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "render/frame_buffers.h"
#include "render/render_progress.h"
#include "render/work_units.h"

namespace quorva {
namespace {

constexpr int BlockSize = UndersamplingBlockSize;
constexpr int BandRows = BlockSize + 1;  // the band's rows, the first shared with the band before

enum class PixelState : std::uint8_t { Empty, Filled, Traced };

struct Pixel {
    Color colour;
    Color unclipped;  // before the clip, when the loop carries it
    double alpha = 0;
    double depth = 1000000.0;
    int rgb[3] = {0, 0, 0};  // 8-bit values the contrast test compares
    PixelState state = PixelState::Empty;
};

// What the workers of one undersampling loop share.
struct Bands {
    SamplingLoop& loop;
    UnitRunner& runner;
    int threshold = 0;
    int columnStart = 0, columnEnd = 0;
    int rowStart = 0, rowEnd = 0;
    int prefixRows = 0;  // units 0 .. prefixRows - 1 are rows traced in full
    int bandStart = 0;   // top row of the first band (a multiple of 6)
    int bands = 0;
    std::vector<int> blockStarts;  // x0 of each block of a band; the last block ends at columnEnd - 1
    // The last row of each band in progress, in a small ring: the band below copies it.
    std::vector<std::vector<Pixel>> edges;

    int blockEnd(std::size_t j) const { return std::min(blockStarts[j] + BlockSize, columnEnd - 1); }
    int bandTop(int band) const { return bandStart + band * BlockSize; }
    int bandBottom(int band) const { return std::min(bandTop(band) + BlockSize, rowEnd - 1); }
    bool lastBand(int band) const { return band == bands - 1; }
};

// One worker's rows of a band (all but the last, which lives in the shared ring).
class Undersampler {
  public:
    Undersampler(Bands& bands, std::size_t rowLength) : bands_(bands), loop_(bands.loop) {
        for (auto& row : rows_) row.resize(rowLength);
    }

    void renderUnit(int unit, int worker) {
        worker_ = worker;
        loop_.source.startUnit(worker);
        if (unit < bands_.prefixRows)
            renderFullRow(bands_.rowStart + unit);
        else
            renderBand(unit - bands_.prefixRows, unit);
    }

  private:
    Pixel& at(int x, int y) { return band_[y - y0_][static_cast<std::size_t>(x)]; }

    void renderFullRow(int y) {
        for (int x = bands_.columnStart; x < bands_.columnEnd; ++x) {
            Pixel p;
            tracePixel(p, x, y);
            finishPixel(p, x, y);
        }
    }

    void renderBand(int band, int unit) {
        const int slots = static_cast<int>(bands_.edges.size());
        // The slot's previous band was copied by the band after it, which must be done with it.
        if (band - slots + 1 >= 0) bands_.runner.waitProgress(unit - slots + 1);
        for (int r = 0; r < BlockSize; ++r) band_[r] = rows_[r].data();
        band_[BlockSize] = bands_.edges[static_cast<std::size_t>(band % slots)].data();
        const Pixel* above =
            band > 0 ? bands_.edges[static_cast<std::size_t>((band - 1) % slots)].data() : nullptr;
        const std::size_t length = rows_[0].size();
        // The band's first row is the previous band's last one; the other rows start empty.
        for (int r = above ? 1 : 0; r < BandRows; ++r) std::fill(band_[r], band_[r] + length, Pixel{});

        y0_ = bands_.bandTop(band);
        const int y1 = bands_.bandBottom(band);
        int copied = bands_.columnStart;
        for (std::size_t j = 0; j < bands_.blockStarts.size(); ++j) {
            const int x0 = bands_.blockStarts[j], x1 = bands_.blockEnd(j);
            if (above) {
                // Columns up to x1 of the band above are final once its next block is done.
                bands_.runner.waitProgress(unit - 1, static_cast<int>(j) + 2);
                std::copy(above + copied, above + x1 + 1, band_[0] + copied);
                copied = x1 + 1;
            }
            processBlock(x0, x1, y0_, y1);
            bands_.runner.markProgress(unit, static_cast<int>(j) + 1);
        }
        // Rows are final once the next band can no longer change them.
        const int end = y1 + (bands_.lastBand(band) ? 1 : 0);
        for (int y = y0_; y < end; ++y) finishRow(y);
    }

    void tracePixel(Pixel& p, int x, int y) {
        p.depth = loop_.carryUnclipped
                      ? loop_.source.sampleUnclipped(worker_, x + 0.5, y + 0.5, p.colour, p.unclipped,
                                                     p.alpha, nullptr, nullptr)
                      : loop_.source.sample(worker_, x + 0.5, y + 0.5, p.colour, p.alpha, nullptr, nullptr);
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
            if (std::abs(a.rgb[ch] - b.rgb[ch]) > bands_.threshold) return true;
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
        for (int x = bands_.columnStart; x < bands_.columnEnd; ++x) {
            finishPixel(at(x, y), x, y);
        }
    }

    void finishPixel(const Pixel& p, int x, int y) {
        if (loop_.carryUnclipped)
            loop_.source.finishUnclipped(worker_, x, y, p.colour, p.unclipped, p.alpha, p.depth);
        else
            loop_.source.finish(worker_, x, y, p.colour, p.alpha, p.depth);
    }

    Bands& bands_;
    SamplingLoop& loop_;
    int worker_ = 0;
    int y0_ = 0;
    std::vector<Pixel> rows_[BlockSize];
    Pixel* band_[BandRows] = {};
};

void printProgress(RenderProgress& progress, const SamplingLoop& loop, int y0, int rowEnd) {
    const int percent = (y0 + 1) * 100 / rowEnd;
    progress.show(percent,
                  formatText("Rendering: %d%% (undersampling quality level %d/10 - antialiasing disabled)",
                             percent, loop.level));
}

}  // namespace

void runUndersampled(SamplingLoop& loop, int rowStart, int rowEnd) {
    if (rowEnd <= rowStart || loop.width < 1) return;
    const int columnStart = std::max(0, loop.columnStart);
    const int columnEnd = std::min(loop.columnEnd, loop.width);
    if (columnEnd <= columnStart) return;

    // Rows before the first multiple of 6 are traced in full, so that bands start on multiples of 6.
    const int bandStart = (rowStart + BlockSize - 1) / BlockSize * BlockSize;
    int bandCount = 0;
    for (int y0 = bandStart; y0 < rowEnd; y0 += BlockSize) {
        ++bandCount;
        if (std::min(y0 + BlockSize, rowEnd - 1) >= rowEnd - 1) break;
    }
    const int prefixRows = std::max(0, std::min(bandStart, rowEnd) - rowStart);
    UnitRunner runner(loop.workers, prefixRows + bandCount);
    Bands bands{loop, runner, 0, 0, 0, 0, 0, 0, 0, 0, {}, {}};
    bands.threshold = contrastThreshold(loop.level);
    bands.columnStart = columnStart;
    bands.columnEnd = columnEnd;
    bands.rowStart = rowStart;
    bands.rowEnd = rowEnd;
    bands.prefixRows = prefixRows;
    bands.bandStart = bandStart;
    bands.bands = bandCount;
    for (int x0 = columnStart;; x0 += BlockSize) {
        bands.blockStarts.push_back(x0);
        if (std::min(x0 + BlockSize, columnEnd - 1) >= columnEnd - 1) break;
    }
    const std::size_t rowLength = static_cast<std::size_t>(loop.width) + 5;
    std::vector<std::unique_ptr<Undersampler>> samplers;
    try {
        bands.edges.resize(static_cast<std::size_t>(runner.workerCount() + 2));
        for (auto& edge : bands.edges) edge.resize(rowLength);
        for (int w = 0; w < runner.workerCount(); ++w)
            samplers.push_back(std::make_unique<Undersampler>(bands, rowLength));
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate antialiasing buffer");
    }

    RenderProgress ownProgress;
    RenderProgress& progress = loop.progress ? *loop.progress : ownProgress;
    FinishedRows finished(rowStart, rowEnd);
    int bandsPrinted = 0;
    int lastPrinted = rowStart;
    runner.run(
        [&](int unit, int worker) { samplers[static_cast<std::size_t>(worker)]->renderUnit(unit, worker); },
        [&](int unit) {
            int first, end;
            if (unit < prefixRows) {
                first = rowStart + unit;
                end = first + 1;
            } else {
                const int band = unit - prefixRows;
                first = bands.bandTop(band);
                end = bands.bandBottom(band) + (bands.lastBand(band) ? 1 : 0);
            }
            loop.lastFinishedRow = first;
            for (int y = first; y < end; ++y) loop.source.rowFinished(y);
            loop.source.rowsFinished(finished.mark(first, end));
            if (runner.stopping()) return;
            if (unit >= prefixRows) {
                // Progress names the bands in order, however they finish.
                lastPrinted = bands.bandTop(bandsPrinted++);
                printProgress(progress, loop, lastPrinted, rowEnd);
            }
            runner.pollKey();
        });
    if (bandsPrinted > 0) printProgress(progress, loop, lastPrinted, rowEnd);
    if (runner.stopRequested) loop.stopRequested = true;
    if (runner.keyPressed) loop.keyPressed = true;
}

}  // namespace quorva

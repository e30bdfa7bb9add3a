// Adaptive and super-adaptive anti-aliasing: each pixel is a grid of N x N sub-squares whose corners
// are traced only where neighbouring samples differ, with corners shared between neighbouring pixels.
// Rows are the work units; a row reads the bottom edge of the row above while that row is drawn.
#include "render/antialias.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"
#include "render/cache_units.h"
#include "render/frame_buffers.h"
#include "render/render_progress.h"
#include "render/work_units.h"

namespace quorva {

int contrastThreshold(int level) {
    return std::max(1, 11 - level);
}

namespace {

// One corner sample as 8-bit red, green, blue and alpha, and its colour before the clip when the loop
// carries it.
struct Cell {
    int channel[4] = {0, 0, 0, 0};
    float unclipped[3] = {0, 0, 0};
    bool valid = false;
};

struct Rgba {
    int channel[4];
    float unclipped[3];
};

int toByte(double v) {
    return static_cast<int>(v * 255.0);
}

// What the workers of one adaptive loop share. Each row in progress writes the bottom edge of its
// pixels into a slot of a small ring; the row below reads it, pixel by pixel, as soon as it is written.
struct AdaptiveRows {
    SamplingLoop& loop;
    UnitRunner& runner;
    int n = 0;
    int threshold = 0;
    int rowStart = 0, rowEnd = 0;
    int columnStart = 0, columnEnd = 0;
    std::vector<std::vector<Cell>> edges;  // bottom edges: pixel x, corner a at x * N + a
    // With a shared irradiance cache: the units, and per slot the edge of the row's second pass, whether
    // the row had one, and whether that edge differs from the first pass's (the row below, which read
    // the first, must then be rendered again too).
    CacheUnits* units = nullptr;
    std::vector<Cell> firstAbove{};  // the edge of the row above the first, from an earlier run
    bool hasFirstAbove = false;
    std::vector<std::vector<Cell>> secondEdges{};
    std::vector<unsigned char> renderedAgain{}, edgeChanged{};
};

// The corners a row hands to the next, cells from..to of its bottom edge: per cell the valid flag and
// the four 8-bit channels, and the colour before the clip when the loop carries it. Empty when a channel
// does not fit in a byte.
std::vector<unsigned char> packCells(const std::vector<Cell>& edge, std::size_t from, std::size_t to, bool unclipped) {
    std::vector<unsigned char> out;
    out.reserve((to - from) * (unclipped ? 17 : 5));
    for (std::size_t i = from; i < to; ++i) {
        const Cell& c = edge[i];
        out.push_back(c.valid ? 1 : 0);
        for (int ch = 0; ch < 4; ++ch) {
            if (c.channel[ch] < 0 || c.channel[ch] > 255) return {};
            out.push_back(static_cast<unsigned char>(c.channel[ch]));
        }
        if (unclipped) {
            const std::size_t at = out.size();
            out.resize(at + sizeof c.unclipped);
            std::memcpy(out.data() + at, c.unclipped, sizeof c.unclipped);
        }
    }
    return out;
}

// The reverse into cells from..to; false when the bytes are not such an edge.
bool unpackCells(const std::vector<unsigned char>& in, std::vector<Cell>& edge, std::size_t from, std::size_t to,
                 bool unclipped) {
    const std::size_t size = unclipped ? 17 : 5;
    if (in.size() != (to - from) * size) return false;
    const unsigned char* p = in.data();
    for (std::size_t i = from; i < to; ++i, p += size) {
        if (p[0] > 1) return false;
        Cell& c = edge[i];
        c.valid = p[0] == 1;
        for (int ch = 0; ch < 4; ++ch) c.channel[ch] = p[1 + ch];
        if (unclipped) std::memcpy(c.unclipped, p + 5, sizeof c.unclipped);
    }
    return true;
}

bool sameCells(const std::vector<Cell>& a, const std::vector<Cell>& b, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        const Cell &p = a[i], &q = b[i];
        if (p.valid != q.valid) return false;
        for (int ch = 0; ch < 4; ++ch)
            if (p.channel[ch] != q.channel[ch]) return false;
        for (int ch = 0; ch < 3; ++ch)
            if (p.unclipped[ch] != q.unclipped[ch]) return false;
    }
    return true;
}

// One worker's corner grid.
class AdaptiveSampler {
  public:
    explicit AdaptiveSampler(AdaptiveRows& rows) : rows_(rows), loop_(rows.loop), n_(rows.n) {
        grid_.resize(static_cast<std::size_t>((n_ + 1) * (n_ + 1)));
    }

    void renderRow(int unit, int worker) {
        const int slots = static_cast<int>(rows_.edges.size());
        // The slot's previous row was read by the row after it, which must be done with it.
        if (unit - slots + 1 >= 0) rows_.runner.waitProgress(unit - slots + 1);
        const auto slot = static_cast<std::size_t>(unit % slots);
        const auto above = static_cast<std::size_t>((unit + slots - 1) % slots);
        const Cell* const first = rows_.hasFirstAbove ? rows_.firstAbove.data() : nullptr;
        CacheUnits* const units = rows_.units;
        if (!units)
            return renderPass(unit, worker, rows_.edges[slot].data(), unit > 0 ? rows_.edges[above].data() : first,
                              false);

        units->begin(unit, worker);
        renderPass(unit, worker, rows_.edges[slot].data(), unit > 0 ? rows_.edges[above].data() : first, true);
        units->awaitTurn(unit);
        // The row above is final now: its second pass, if it had one, drew the edge this row reads.
        const bool aboveAgain = unit > 0 && rows_.renderedAgain[above];
        const bool again = units->again(worker, unit > 0 && rows_.edgeChanged[above]);
        rows_.renderedAgain[slot] = again;
        rows_.edgeChanged[slot] = false;
        const auto n = static_cast<std::size_t>(n_);
        const std::size_t from = static_cast<std::size_t>(rows_.columnStart) * n,
                          to = static_cast<std::size_t>(rows_.columnEnd) * n + 1;
        if (again) {
            const Cell* top = unit > 0 ? (aboveAgain ? rows_.secondEdges[above] : rows_.edges[above]).data() : first;
            renderPass(unit, worker, rows_.secondEdges[slot].data(), top, false);
            rows_.edgeChanged[slot] = !sameCells(rows_.edges[slot], rows_.secondEdges[slot], from, to);
        }
        units->handOver(worker) =
            packCells(again ? rows_.secondEdges[slot] : rows_.edges[slot], from, to, loop_.carryUnclipped);
        units->commit(unit, worker);
    }

    // One pass over the row, reading the edge `top` of the row above (null: none) and writing its own
    // to `bottom`. A paced pass waits for the row above pixel by pixel and tells the row below.
    void renderPass(int unit, int worker, Cell* bottom, const Cell* top, bool paced) {
        below_ = bottom;
        above_ = top;
        worker_ = worker;
        loop_.source.startUnit(worker);
        const int y = rows_.rowStart + unit;
        for (int b = 0; b <= n_; ++b) cell(0, b).valid = false;
        CacheUnits* const units = rows_.units;
        for (int x = rows_.columnStart; x < rows_.columnEnd; ++x) {
            const int step = x - rows_.columnStart + 1;
            // The top edge of this pixel is the bottom edge of the pixel above.
            if (units && paced)
                units->waitAhead(unit, step);
            else if (above_ && !units && unit > 0)
                rows_.runner.waitProgress(unit - 1, step);
            renderPixel(x, y);
            if (units && paced)
                units->markDone(unit, step);
            else if (!units)
                rows_.runner.markProgress(unit, step);
        }
    }

  private:
    Cell& cell(int a, int b) { return grid_[static_cast<std::size_t>(b * (n_ + 1) + a)]; }

    void renderPixel(int x, int y) {
        const std::size_t base = static_cast<std::size_t>(x) * n_;
        // The top edge is the bottom edge of the pixel above. Cells without a cached sample must not
        // keep the previous pixel's values, which lie at other positions.
        for (int a = 1; a <= n_; ++a) cell(a, 0) = above_ ? above_[base + a] : Cell{};
        // The first pixel of a row has no left neighbour; its top-left corner may still be cached.
        if (!cell(0, 0).valid && above_) cell(0, 0) = above_[base];
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
        if (loop_.carryUnclipped)
            loop_.source.finishUnclipped(worker_, x, y, colour,
                                         Color(result.unclipped[0], result.unclipped[1], result.unclipped[2]),
                                         result.channel[3] * ByteScale, firstDepth_);
        else
            loop_.source.finish(worker_, x, y, colour, result.channel[3] * ByteScale, firstDepth_);

        // The bottom-left corner is the left neighbour's bottom-right one, already in the edge: only the
        // first pixel of the row writes it, so the row below may read it as soon as that pixel is done.
        for (int a = x == rows_.columnStart ? 0 : 1; a <= n_; ++a) below_[base + a] = cell(a, n_);
        for (int b = 0; b <= n_; ++b) cell(0, b) = cell(n_, b);
    }

    void trace(int a, int b) {
        Cell& c = cell(a, b);
        if (c.valid) return;
        Color colour;
        double alpha = 0;
        const double sx = x_ + static_cast<double>(a) / n_, sy = y_ + static_cast<double>(b) / n_;
        if (loop_.carryUnclipped) {
            Color unclipped;
            loop_.source.sampleUnclipped(worker_, sx, sy, colour, unclipped, alpha, &recordFirstDepth_,
                                         &firstDepth_);
            for (int ch = 0; ch < 3; ++ch) c.unclipped[ch] = static_cast<float>(unclipped[ch]);
        } else {
            loop_.source.sample(worker_, sx, sy, colour, alpha, &recordFirstDepth_, &firstDepth_);
        }
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
        for (int ch = 0; ch < 3; ++ch) {
            float sum = 0;
            for (const auto& c : corners) sum += cell(c[0], c[1]).unclipped[ch];
            mean.unclipped[ch] = sum * 0.25f;
        }
        bool flat = true;
        for (const auto& c : corners)
            for (int ch = 0; ch < 3; ++ch)
                if (std::abs(mean.channel[ch] - cell(c[0], c[1]).channel[ch]) >= rows_.threshold)
                    flat = false;
        if (e == 1 || flat) return mean;

        const int h = e / 2;
        const Rgba parts[4] = {subdivide(a, b, h), subdivide(a + h, b, h), subdivide(a, b + h, h),
                               subdivide(a + h, b + h, h)};
        Rgba result;
        for (int ch = 0; ch < 4; ++ch)
            result.channel[ch] =
                (parts[0].channel[ch] + parts[1].channel[ch] + parts[2].channel[ch] + parts[3].channel[ch]) >>
                2;
        for (int ch = 0; ch < 3; ++ch)
            result.unclipped[ch] = (parts[0].unclipped[ch] + parts[1].unclipped[ch] + parts[2].unclipped[ch] +
                                    parts[3].unclipped[ch]) *
                                   0.25f;
        return result;
    }

    AdaptiveRows& rows_;
    SamplingLoop& loop_;
    int n_;
    std::vector<Cell> grid_;  // (N + 1) x (N + 1) corners of the current pixel, row b at b * (N + 1)
    const Cell* above_ = nullptr;
    Cell* below_ = nullptr;
    int worker_ = 0;
    int x_ = 0, y_ = 0;
    bool recordFirstDepth_ = false;
    double firstDepth_ = 1000000.0;
};

}  // namespace

void runAdaptive(SamplingLoop& loop, int rowStart, int rowEnd) {
    if (rowEnd <= rowStart || loop.gridSize < 1 || loop.width < 1) return;
    UnitRunner runner(loop.workers, rowEnd - rowStart);
    AdaptiveRows rows{loop, runner, 0, 0, 0, 0, 0, 0, {}};
    rows.n = loop.gridSize;
    rows.threshold = contrastThreshold(loop.level);
    rows.rowStart = rowStart;
    rows.rowEnd = rowEnd;
    rows.columnStart = std::max(0, loop.columnStart);
    rows.columnEnd = std::min(loop.columnEnd, loop.width);
    std::vector<std::unique_ptr<AdaptiveSampler>> samplers;
    try {
        rows.edges.resize(static_cast<std::size_t>(runner.workerCount() + 2));
        for (auto& edge : rows.edges) edge.resize(static_cast<std::size_t>(loop.width) * rows.n + 1);
        if (loop.firstRowAbove && !loop.firstRowAbove->empty()) {
            rows.firstAbove.resize(static_cast<std::size_t>(loop.width) * rows.n + 1);
            rows.hasFirstAbove =
                unpackCells(*loop.firstRowAbove, rows.firstAbove, static_cast<std::size_t>(rows.columnStart) * rows.n,
                            static_cast<std::size_t>(rows.columnEnd) * rows.n + 1, loop.carryUnclipped);
        }
        if (loop.cache) {
            rows.secondEdges = rows.edges;
            rows.renderedAgain.assign(rows.edges.size(), 0);
            rows.edgeChanged.assign(rows.edges.size(), 0);
        }
        for (int w = 0; w < runner.workerCount(); ++w)
            samplers.push_back(std::make_unique<AdaptiveSampler>(rows));
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate antialiasing buffer");
    }

    std::optional<CacheUnits> units;
    if (loop.cache) {
        units.emplace(*loop.cache, runner, rowEnd - rowStart,
                      std::vector<RenderContext*>(loop.contexts.begin(), loop.contexts.begin() + runner.workerCount()),
                      rows.columnEnd - rows.columnStart, rowStart);
        rows.units = &*units;
    }
    RenderProgress ownProgress;
    RenderProgress& progress = loop.progress ? *loop.progress : ownProgress;
    FinishedRows finished(rowStart, rowEnd);
    runner.run(
        [&](int unit, int worker) { samplers[static_cast<std::size_t>(worker)]->renderRow(unit, worker); },
        [&](int unit) {
            const int y = rowStart + unit;
            loop.lastFinishedRow = y;
            loop.source.rowFinished(y);
            loop.source.rowsFinished(finished.mark(y, y + 1));
            if (runner.stopping()) return;
            const int percent = (rowStart + finished.count()) * 100 / rowEnd;
            progress.show(
                percent,
                formatText(loop.superAdaptive ? "Rendering: %d%% (super-adaptive antialiasing level: %d/10)"
                                              : "Rendering: %d%% (adaptive antialiasing level: %d/10)",
                           percent, loop.level));
            runner.pollKey();
        });
    if (runner.stopRequested) loop.stopRequested = true;
    if (runner.keyPressed) loop.keyPressed = true;
}

}  // namespace quorva

// Pixel filters: the weight functions, the per-band weight table and the filtering of a band.
#include "render/pixel_filter.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <numbers>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "render/frame_buffers.h"
#include "render/render_workers.h"
#include "trace/camera.h"

namespace quorva {

namespace {

constexpr double Pi = std::numbers::pi;

// The separable factor of the Sinc filter, windowed by a cosine that reaches 0 at twice the width.
double sincFactor(double s, double w) {
    if (s == 0) return 1.0;
    return std::cos(Pi * s / (2 * w)) * std::sin(Pi * s) / (Pi * s);
}

double triangleFactor(double s, double half) {
    return std::fabs(s) <= half ? (half - std::fabs(s)) / half : 0.0;
}

}  // namespace

const char* pixelFilterName(int type) {
    static const char* const names[] = {"Box",  "Triangle", "CatmullRom", "Gaussian",
                                        "Sinc", "Disk",     "Bessel"};
    return type >= 1 && type <= 7 ? names[type - 1] : nullptr;
}

double settlePixelFilterWidth(double width) {
    return width >= 1 && width <= 5 ? width : 3.0;
}

double pixelFilterWeight(int type, double x, double y, double wx, double wy) {
    const double hx = wx / 2, hy = wy / 2;
    switch (type) {
        case BoxFilter:
            return std::fabs(x) <= hx && std::fabs(y) <= hy ? 1.0 : 0.0;
        case TriangleFilter:
            return std::min(triangleFactor(x, hx), triangleFactor(y, hy));
        case CatmullRomFilter: {
            double r = std::sqrt(x * x + y * y);
            if (r < 1) return 1.5 * r * r * r - 2.5 * r * r + 1;
            if (r < 2) return -0.5 * r * r * r + 2.5 * r * r - 4 * r + 2;
            return 0.0;
        }
        case GaussianFilter: {
            double u = 2 * x / wx, v = 2 * y / wy;
            return std::exp(-2 * (u * u + v * v));
        }
        case SincFilter:
            return sincFactor(x, wx) * sincFactor(y, wy);
        case DiskFilter:
            return x * x / (hx * hx) + y * y / (hy * hy) < 1 ? 1.0 : 0.0;
        case BesselFilter: {
            double t = x * x / (hx * hx) + y * y / (hy * hy);
            if (t >= 1) return 0.0;
            if (x == 0 && y == 0) return Pi;  // the limit of 2 J1(pi r) / r at r = 0
            double r = std::sqrt(x * x + y * y);
            return 2 * ::j1(Pi * r) / r * std::cos(std::sqrt(t) * Pi / 2);
        }
        default:
            return 0.0;
    }
}

PixelFilter makePixelFilter(int type, double widthX, double widthY) {
    PixelFilter filter;
    if (!pixelFilterName(type)) return filter;
    filter.type = type;
    filter.widthX = settlePixelFilterWidth(widthX);
    filter.widthY = settlePixelFilterWidth(widthY);
    for (int j = 0; j < 5; ++j) {
        double y = j * filter.widthY / 4 - filter.widthY / 2;
        for (int k = 0; k < 5; ++k) {
            double x = k * filter.widthX / 4 - filter.widthX / 2;
            filter.weights[j][k] = pixelFilterWeight(type, x, y, filter.widthX, filter.widthY);
        }
    }
    return filter;
}

void filterPixels(const SBuffer& sb, const PixelFilter& filter, int y, int firstRow, int lastRow,
                  int columnBegin, int columnEnd, std::uint8_t* out) {
    constexpr double ByteScale = 0.00392156862745098;
    const int width = sb.width;
    columnBegin = std::max(columnBegin, 0);
    columnEnd = std::min(columnEnd, width);
    for (int x = columnBegin; x < columnEnd; ++x) {
        double sum[4] = {0, 0, 0, 0};
        double weightSum = 0;
        // Every neighbour of the 5 x 5 window takes part; those outside the image or the band, or on
        // absent rows, add neither colour nor weight, so edges keep their brightness.
        for (int j = 0; j < 5; ++j) {
            const int ny = y - 2 + j;
            if (ny < firstRow || ny > lastRow || !sb.hasRow(ny)) continue;
            const std::uint8_t* row = sb.row(ny);
            for (int k = 0; k < 5; ++k) {
                const int nx = x - 2 + k;
                if (nx < 0 || nx >= width) continue;
                const double w = filter.weights[j][k];
                const std::uint8_t* p = row + 4 * nx;
                for (int ch = 0; ch < 4; ++ch) sum[ch] += w * (p[ch] * ByteScale);
                weightSum += w;
            }
        }
        // Weights that cancel out leave nothing to normalise by; the pixel keeps its value.
        if (!(std::fabs(weightSum) > 1e-12)) continue;
        for (int ch = 0; ch < 4; ++ch) {
            double v = std::clamp(sum[ch] / weightSum, 0.0, 1.0);
            out[static_cast<std::size_t>(4 * x + ch)] = colourByte(v);
        }
    }
}

void filterBand(FrameBuffers& frame, const Camera& camera, int firstRow, int lastRow,
                RenderWorkers* workers) {
    const char* name = pixelFilterName(camera.pixelFilterType);
    if (!name) return;
    PixelFilter& filter = frame.filter;
    if (filter.type != camera.pixelFilterType ||
        filter.widthX != settlePixelFilterWidth(camera.pixelFilterWidthX) ||
        filter.widthY != settlePixelFilterWidth(camera.pixelFilterWidthY))
        filter = makePixelFilter(camera.pixelFilterType, camera.pixelFilterWidthX, camera.pixelFilterWidthY);

    SBuffer& sb = frame.color;
    const int width = sb.width, height = sb.height;
    firstRow = std::max(firstRow, 0);
    lastRow = std::min(lastRow, height - 1);
    if (lastRow < firstRow || width <= 0) return;
    message("\nPerforming %s pixel filtering...", name);

    std::vector<std::vector<std::uint8_t>> filtered;
    try {
        filtered.resize(static_cast<std::size_t>(lastRow - firstRow + 1));
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate FilteredBuffer");
    }
    // Each row is filtered from the unfiltered rows alone, so rows may be done in any order.
    auto filterRow = [&](int y) {
        if (!sb.hasRow(y)) return;
        std::vector<std::uint8_t>& out = filtered[static_cast<std::size_t>(y - firstRow)];
        try {
            out.assign(sb.rows[static_cast<std::size_t>(y)].begin(),
                       sb.rows[static_cast<std::size_t>(y)].end());
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate FilteredBuffer");
        }
        filterPixels(sb, filter, y, firstRow, lastRow, 0, width, out.data());
    };
    const int rows = lastRow - firstRow + 1;
    if (workers && workers->count() > 1 && rows > 1) {
        std::atomic<int> next{firstRow};
        workers->run([&](int) {
            for (int y = next.fetch_add(1); y <= lastRow; y = next.fetch_add(1)) filterRow(y);
        });
    } else {
        for (int y = firstRow; y <= lastRow; ++y) filterRow(y);
    }
    for (int y = firstRow; y <= lastRow; ++y)
        if (sb.hasRow(y))
            sb.rows[static_cast<std::size_t>(y)].swap(filtered[static_cast<std::size_t>(y - firstRow)]);
    message(" Done.");
}

}  // namespace quorva

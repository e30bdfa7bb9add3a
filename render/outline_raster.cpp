// Triangle set-up, clipping and scan conversion of the preview modes.
#include "render/outline_raster.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "render/camera_rays.h"
#include "render/frame_buffers.h"
#include "render/render_context.h"
#include "render/trace.h"
#include "scene/scene_state.h"

namespace quorva {
namespace {

constexpr double NearDepth = 0.001;
constexpr double FarDepth = 1000000;
// Edges are drawn when they lie no deeper than the face in front by this fraction.
constexpr double EdgeDepthBias = 1e-3;

bool finite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Clips a camera-space polygon against near <= depth <= far (Sutherland-Hodgman); out holds at most 5.
int clipDepth(const Vec3* in, int count, Vec3* out) {
    Vec3 tmp[8];
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const Vec3& p = in[i];
        const Vec3& q = in[(i + 1) % count];
        bool pIn = p.z >= NearDepth, qIn = q.z >= NearDepth;
        if (pIn) tmp[n++] = p;
        if (pIn != qIn) tmp[n++] = p + (q - p) * ((NearDepth - p.z) / (q.z - p.z));
    }
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const Vec3& p = tmp[i];
        const Vec3& q = tmp[(i + 1) % n];
        bool pIn = p.z <= FarDepth, qIn = q.z <= FarDepth;
        if (pIn) out[m++] = p;
        if (pIn != qIn) out[m++] = p + (q - p) * ((FarDepth - p.z) / (q.z - p.z));
    }
    return m;
}

// Clips a camera-space segment to the depth range; false when nothing is left.
bool clipSegment(Vec3& a, Vec3& b) {
    for (double limit : {NearDepth, -FarDepth}) {
        double sa = limit > 0 ? a.z - limit : -limit - a.z;
        double sb = limit > 0 ? b.z - limit : -limit - b.z;
        if (sa < 0 && sb < 0) return false;
        if (sa < 0) a = a + (b - a) * (sa / (sa - sb));
        if (sb < 0) b = b + (a - b) * (sb / (sb - sa));
    }
    return true;
}

}  // namespace

PreviewProjection PreviewProjection::fromView(const Vec3& location, const ViewFrame& frame, int width,
                                              int height) {
    PreviewProjection p;
    p.location = location;
    p.right = frame.right;
    p.up = frame.up;
    p.view = frame.viewDir;
    p.tanHalf = frame.tanHalf;
    p.tanHalfAspect = frame.tanHalfAspect;
    p.width = width;
    p.height = height;
    return p;
}

Vec3 PreviewProjection::toCamera(const Vec3& world) const {
    Vec3 d = world - location;
    return {dot(d, right), dot(d, up), dot(d, view)};
}

void PreviewProjection::toImage(const Vec3& c, double& x, double& y) const {
    // Inverse of the primary ray D + u tanHalfAspect R - v tanHalf U with u = 2x/w - 1, v = 2y/h - 1.
    double u = c.x / (c.z * tanHalfAspect);
    double v = -c.y / (c.z * tanHalf);
    x = (u + 1) * width * 0.5;
    y = (v + 1) * height * 0.5;
}

OutlineRasterizer::OutlineRasterizer(const PreviewProjection& projection, OutlineMode mode, int rowStart,
                                     int rowEnd, int columnStart, int columnEnd)
    : projection_(projection),
      mode_(mode),
      rowStart_(rowStart),
      rowEnd_(std::max(rowStart, rowEnd)),
      columnStart_(columnStart),
      columnEnd_(std::max(columnStart, columnEnd)),
      bandWidth_(columnEnd_ - columnStart_) {
    depth_.assign(static_cast<std::size_t>(bandWidth_) * static_cast<std::size_t>(rowEnd_ - rowStart_),
                  std::numeric_limits<float>::infinity());
}

void OutlineRasterizer::addShape(const Shape& shape) {
    cutIntoTriangles(shape, *this, grid_);
}

void OutlineRasterizer::addTriangle(const Vec3& a, const Vec3& b, const Vec3& c) {
    if (!finite(a) || !finite(b) || !finite(c)) return;
    ++triangles_;
    Vec3 cam[3] = {projection_.toCamera(a), projection_.toCamera(b), projection_.toCamera(c)};
    Vec3 clipped[8];
    int n = clipDepth(cam, 3, clipped);
    if (n < 3) return;
    ScreenPoint s[8];
    for (int i = 0; i < n; ++i) {
        double x, y;
        projection_.toImage(clipped[i], x, y);
        s[i] = {static_cast<float>(x), static_cast<float>(y), static_cast<float>(1.0 / clipped[i].z)};
    }
    for (int i = 1; i + 1 < n; ++i) fillTriangle(s[0], s[i], s[i + 1]);
    if (mode_ == OutlineMode::Scanline) return;
    // The triangle's own edges (not those the depth clip made), kept when they may touch the band.
    for (int i = 0; i < 3; ++i) {
        Vec3 p = cam[i], q = cam[(i + 1) % 3];
        if (!clipSegment(p, q)) continue;
        Edge e;
        double x, y;
        projection_.toImage(p, x, y);
        e.a = {static_cast<float>(x), static_cast<float>(y), static_cast<float>(1.0 / p.z)};
        projection_.toImage(q, x, y);
        e.b = {static_cast<float>(x), static_cast<float>(y), static_cast<float>(1.0 / q.z)};
        if (std::max(e.a.y, e.b.y) < rowStart_ - 1 || std::min(e.a.y, e.b.y) > rowEnd_ + 1) continue;
        if (std::max(e.a.x, e.b.x) < columnStart_ - 1 || std::min(e.a.x, e.b.x) > columnEnd_ + 1) continue;
        edges_.push_back(e);
    }
}

// Covers the pixels whose centres (integer image coordinates) lie inside the triangle, keeping the
// nearest depth; 1/depth is interpolated linearly across the image.
void OutlineRasterizer::fillTriangle(const ScreenPoint& a, const ScreenPoint& b, const ScreenPoint& c) {
    double area = (double(b.x) - a.x) * (double(c.y) - a.y) - (double(b.y) - a.y) * (double(c.x) - a.x);
    if (!(std::fabs(area) > 1e-12)) return;
    double minX = std::min({a.x, b.x, c.x}), maxX = std::max({a.x, b.x, c.x});
    double minY = std::min({a.y, b.y, c.y}), maxY = std::max({a.y, b.y, c.y});
    int x0 = static_cast<int>(std::max<double>(columnStart_, std::ceil(minX)));
    int x1 = static_cast<int>(std::min<double>(columnEnd_ - 1, std::floor(maxX)));
    int y0 = static_cast<int>(std::max<double>(rowStart_, std::ceil(minY)));
    int y1 = static_cast<int>(std::min<double>(rowEnd_ - 1, std::floor(maxY)));
    if (x0 > x1 || y0 > y1) return;
    const double inv = 1.0 / area;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            // Barycentric weights of b and c; the centre is covered when all three are >= 0.
            double px = x - a.x, py = y - a.y;
            double wb = (px * (double(c.y) - a.y) - py * (double(c.x) - a.x)) * inv;
            double wc = ((double(b.x) - a.x) * py - (double(b.y) - a.y) * px) * inv;
            double wa = 1 - wb - wc;
            if (wa < 0 || wb < 0 || wc < 0) continue;
            double invDepth = wa * a.invDepth + wb * b.invDepth + wc * c.invDepth;
            if (!(invDepth > 0)) continue;
            float d = static_cast<float>(1.0 / invDepth);
            float& slot = depth_[index(x, y)];
            if (d < slot) slot = d;
        }
    }
}

// Steps one pixel at a time along the longer axis; each pixel is drawn where the edge is not behind
// the nearest face there (with a small bias, so that a face's own edges stay visible).
void OutlineRasterizer::drawEdge(FrameBuffers& frame, const Edge& e, RenderJob* job) {
    double dx = double(e.b.x) - e.a.x, dy = double(e.b.y) - e.a.y;
    // Restrict the parameter range to the band's box so that far-off ends cost nothing.
    double t0 = 0, t1 = 1;
    auto limit = [&](double p, double q) {  // keeps t where p * t <= q
        if (p == 0) return q >= 0;
        double r = q / p;
        if (p < 0)
            t0 = std::max(t0, r);
        else
            t1 = std::min(t1, r);
        return t0 <= t1;
    };
    if (!limit(-dx, e.a.x - (columnStart_ - 1)) || !limit(dx, (columnEnd_ + 1) - e.a.x) ||
        !limit(-dy, e.a.y - (rowStart_ - 1)) || !limit(dy, (rowEnd_ + 1) - e.a.y))
        return;
    double length = std::max(std::fabs(dx), std::fabs(dy)) * (t1 - t0);
    int steps = static_cast<int>(std::ceil(length));
    for (int i = 0; i <= steps; ++i) {
        double t = t0 + (t1 - t0) * (steps ? double(i) / steps : 0);
        int x = static_cast<int>(std::lround(e.a.x + dx * t));
        int y = static_cast<int>(std::lround(e.a.y + dy * t));
        if (x < columnStart_ || x >= columnEnd_ || y < rowStart_ || y >= rowEnd_) continue;
        double invDepth = e.a.invDepth + (double(e.b.invDepth) - e.a.invDepth) * t;
        if (!(invDepth > 0)) continue;
        double d = 1.0 / invDepth;
        if (d > depth_[index(x, y)] * (1 + EdgeDepthBias)) continue;
        drawEdgePixel(frame, job, x, y);
    }
}

// An edge pixel: white, or (outlines on the background, with a job) the colour of the surface seen
// through the pixel.
void OutlineRasterizer::drawEdgePixel(FrameBuffers& frame, RenderJob* job, int x, int y) {
    if (mode_ == OutlineMode::HiddenLineWhite || !job) {
        putSBufferPixel(frame, Color{1, 1, 1}, 1.0, x, y);
        return;
    }
    shadePixel(*job, x, y);
}

void OutlineRasterizer::shadePixel(RenderJob& job, int x, int y) {
    const Camera& camera = job.scene.camera;
    job.ctx.currentRow = y;
    job.ctx.currentColumn = x;
    job.ctx.beginSample(x, y);
    const Ray ray = primaryRay(camera, job.view, x, y, job.ctx.settings.shadowBias);
    Color colour;
    double alpha = 0;
    double depth = traceRay(job.ctx, 0, ray, colour, alpha, &job.ctx.stats.primaryRays);
    applyExposure(camera, job.scene.options, colour);
    finishPixel(job, x, y, colour, alpha, depth);
}

void OutlineRasterizer::finish(FrameBuffers& frame, RenderJob* job) {
    if (mode_ != OutlineMode::Scanline) {
        for (const Edge& e : edges_) drawEdge(frame, e, job);
        edges_.clear();
        edges_.shrink_to_fit();
        return;
    }
    if (!job) return;
    for (int y = rowStart_; y < rowEnd_; ++y)
        for (int x = columnStart_; x < columnEnd_; ++x)
            if (std::isfinite(depth_[index(x, y)])) shadePixel(*job, x, y);
}

}  // namespace quorva

// Triangle set-up, homogeneous clipping and scan conversion of the preview modes.
#include "render/outline_raster.h"

#include <algorithm>
#include <cmath>

#include "geometry/shape.h"
#include "render/frame_buffers.h"
#include "render/preview_shading.h"

namespace quorva {
namespace {

constexpr double NearDepth = 0.001;
constexpr double FarDepth = 1000000;
// Edges are drawn where they lie no deeper than the face in front by this fraction.
constexpr double EdgeDepthBias = 1e-3;
constexpr int PlaneCount = 6;
// A triangle clipped by the six planes has at most nine corners.
constexpr int MaxCorners = 12;

bool finite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The clip window in homogeneous coordinates: plane k keeps the points where value(k) >= 0.
struct Window {
    double xMin, xMax, yMin, yMax;
    double value(int plane, double X, double Y, double W) const {
        switch (plane) {
            case 0:
                return W - NearDepth;
            case 1:
                return FarDepth - W;
            case 2:
                return X - xMin * W;
            case 3:
                return xMax * W - X;
            case 4:
                return Y - yMin * W;
            default:
                return yMax * W - Y;
        }
    }
};

OutlineRasterizer::ClipVertex lerp(const OutlineRasterizer::ClipVertex& p,
                                   const OutlineRasterizer::ClipVertex& q, double t, bool attributes) {
    OutlineRasterizer::ClipVertex r;
    r.X = p.X + (q.X - p.X) * t;
    r.Y = p.Y + (q.Y - p.Y) * t;
    r.W = p.W + (q.W - p.W) * t;
    if (attributes) {
        r.normal = p.normal + (q.normal - p.normal) * t;
        r.texcoord = p.texcoord + (q.texcoord - p.texcoord) * t;
    }
    return r;
}

}  // namespace

OutlineRasterizer::OutlineRasterizer(const PreviewTransform& transform, OutlineMode mode, int width,
                                     int rowStart, int rowEnd, int columnStart, int columnEnd)
    : transform_(transform),
      mode_(mode),
      width_(width),
      rowStart_(rowStart),
      rowEnd_(std::max(rowStart, rowEnd)),
      columnStart_(std::max(0, columnStart)),
      columnEnd_(std::max(std::max(0, columnStart), std::min(width, columnEnd))),
      bandWidth_(columnEnd_ - columnStart_) {
    const std::size_t pixels =
        static_cast<std::size_t>(bandWidth_) * static_cast<std::size_t>(rowEnd_ - rowStart_);
    invDepth_.assign(pixels, 0.0f);
    if (mode_ == OutlineMode::Scanline) {
        pixelSurface_.assign(pixels, -1);
        pixelNormal_.assign(pixels, Vec3{0, 0, 0});
        pixelTexcoord_.assign(pixels, Vec3{0, 0, 0});
        pixelHasTexcoord_.assign(pixels, 0);
    }
}

void OutlineRasterizer::beginEdges(FrameBuffers& frame, PreviewShading* shading) {
    edgesPass_ = true;
    frame_ = &frame;
    shading_ = shading;
    // The faces' distances from the eye go to the band's ZBuffer, as the shaded pixels' do.
    if (!frame.hasDepth) return;
    for (int y = rowStart_; y < rowEnd_; ++y)
        for (int x = columnStart_; x < columnEnd_; ++x)
            if (const float invW = invDepth_[index(x, y)]; invW > 0)
                putZBufferDepth(frame, length(transform_.unproject(x, y, 1.0 / invW) - transform_.location),
                                y, x);
}

void OutlineRasterizer::beginSurface(const PreviewSurface& surface) {
    surface_ = surface;
    if (mode_ == OutlineMode::Scanline && !edgesPass_) surfaces_.push_back(surface);
}

void OutlineRasterizer::addTriangle(const Vec3& a, const Vec3& b, const Vec3& c) {
    PreviewVertex v[3];
    v[0].point = a;
    v[1].point = b;
    v[2].point = c;
    triangle(v[0], v[1], v[2], AllEdges);
}

unsigned OutlineRasterizer::outcode(double X, double Y, double W) const {
    unsigned code = 0;
    if (W < NearDepth) code |= 1;
    if (W > FarDepth) code |= 2;
    if (X < 0) code |= 4;
    if (X > width_ * W) code |= 8;
    if (Y < rowStart_ * W) code |= 16;
    if (Y > rowEnd_ * W) code |= 32;
    return code;
}

OutlineRasterizer::Projected OutlineRasterizer::projectPoint(const Vec3& point) const {
    Projected q;
    transform_.project(point, q.X, q.Y, q.W);
    // Corners that are not finite (or overflow) leave their triangles out.
    if (!std::isfinite(q.X) || !std::isfinite(q.Y) || !std::isfinite(q.W))
        q.code = NotFinite;
    else
        q.code = outcode(q.X, q.Y, q.W);
    return q;
}

void OutlineRasterizer::triangle(const PreviewVertex& a, const PreviewVertex& b, const PreviewVertex& c,
                                 unsigned edges) {
    const PreviewVertex* corner[3] = {&a, &b, &c};
    const Projected q[3] = {projectPoint(a.point), projectPoint(b.point), projectPoint(c.point)};
    const Projected* qp[3] = {&q[0], &q[1], &q[2]};
    projectedTriangle(corner, qp, edges);
}

// Grids project every vertex once.
void OutlineRasterizer::grid(const PreviewVertex* vertices, int uCount, int vCount, bool topEdges) {
    const std::size_t row = static_cast<std::size_t>(uCount) + 1;
    const std::size_t count = row * (static_cast<std::size_t>(vCount) + 1);
    projected_.resize(count);
    for (std::size_t i = 0; i < count; ++i) projected_[i] = projectPoint(vertices[i].point);
    for (std::size_t j = 0; j < static_cast<std::size_t>(vCount); ++j) {
        const bool lastRow = topEdges && j + 1 == static_cast<std::size_t>(vCount);
        for (std::size_t i = 0; i < static_cast<std::size_t>(uCount); ++i) {
            const bool lastColumn = i + 1 == static_cast<std::size_t>(uCount);
            const std::size_t a = j * row + i, b = a + 1, c = b + row, d = a + row;
            const PreviewVertex* first[3] = {&vertices[a], &vertices[b], &vertices[c]};
            const Projected* firstProjected[3] = {&projected_[a], &projected_[b], &projected_[c]};
            projectedTriangle(first, firstProjected, EdgeAB | EdgeCA | (lastColumn ? EdgeBC : 0));
            const PreviewVertex* second[3] = {&vertices[a], &vertices[c], &vertices[d]};
            const Projected* secondProjected[3] = {&projected_[a], &projected_[c], &projected_[d]};
            projectedTriangle(second, secondProjected, EdgeCA | (lastRow ? EdgeBC : 0));
        }
    }
}

void OutlineRasterizer::projectedTriangle(const PreviewVertex* const* corner, const Projected* const* q,
                                          unsigned edges) {
    const unsigned andCodes = q[0]->code & q[1]->code & q[2]->code;
    const unsigned orCodes = q[0]->code | q[1]->code | q[2]->code;
    if (orCodes & NotFinite) {
        if (!edgesPass_) ++triangles_;
        return;
    }
    if (edgesPass_) {
        if (mode_ != OutlineMode::Scanline && edges) drawEdges(corner, q, edges);
        return;
    }
    ++triangles_;
    if (andCodes) return;  // wholly outside one plane
    ClipVertex p[3];
    for (int i = 0; i < 3; ++i) {
        p[i].X = q[i]->X;
        p[i].Y = q[i]->Y;
        p[i].W = q[i]->W;
    }
    if (mode_ == OutlineMode::Scanline) {
        bool faceComputed = false;
        Vec3 face;
        for (int i = 0; i < 3; ++i) {
            const Vec3& n = corner[i]->normal;
            if (n.x != 0 || n.y != 0 || n.z != 0) {
                p[i].normal = n;
            } else {
                if (!faceComputed) face = faceNormal(corner[0]->point, corner[1]->point, corner[2]->point);
                faceComputed = true;
                p[i].normal = face;
            }
            p[i].texcoord = corner[i]->texcoord;
        }
        texcoords_ = corner[0]->hasTexcoord && corner[1]->hasTexcoord && corner[2]->hasTexcoord;
    }
    fillPolygon(p, 3, orCodes);
}

// Clips the polygon (Sutherland-Hodgman, one plane at a time, only those some corner lies outside),
// divides by w and fills it as a fan.
void OutlineRasterizer::fillPolygon(const ClipVertex* polygon, int count, unsigned orCodes) {
    if (!orCodes) {
        // Inside every plane: the common case needs no copies.
        ScreenVertex s[3];
        for (int i = 0; i < 3; ++i) {
            const double invW = 1.0 / polygon[i].W;
            s[i] = {polygon[i].X * invW, polygon[i].Y * invW, invW, &polygon[i]};
        }
        fillTriangle(s[0], s[1], s[2]);
        return;
    }
    const bool attributes = mode_ == OutlineMode::Scanline;
    const Window window{0, double(width_), double(rowStart_), double(rowEnd_)};
    ClipVertex* in = clipA_.data();
    ClipVertex* out = clipB_.data();
    std::copy(polygon, polygon + count, in);
    for (int plane = 0; plane < PlaneCount && count >= 3; ++plane) {
        if (!(orCodes & (1u << plane))) continue;
        int n = 0;
        for (int i = 0; i < count; ++i) {
            const ClipVertex& p = in[i];
            const ClipVertex& q = in[(i + 1) % count];
            const double vp = window.value(plane, p.X, p.Y, p.W);
            const double vq = window.value(plane, q.X, q.Y, q.W);
            if (vp >= 0) out[n++] = p;
            if ((vp >= 0) != (vq >= 0) && n < MaxCorners) out[n++] = lerp(p, q, vp / (vp - vq), attributes);
            if (n >= MaxCorners) break;
        }
        count = n;
        std::swap(in, out);
    }
    if (count < 3) return;
    ScreenVertex s[MaxCorners];
    for (int i = 0; i < count; ++i) {
        const double invW = 1.0 / in[i].W;
        s[i] = {in[i].X * invW, in[i].Y * invW, invW, &in[i]};
    }
    for (int i = 1; i + 1 < count; ++i) fillTriangle(s[0], s[i], s[i + 1]);
}

// Covers the pixels whose centres (integer image coordinates) lie inside the triangle or on its edges,
// keeping the nearest: 1 / depth is linear across the image. The scanline mode also keeps what is seen
// there, interpolated with perspective-correct weights.
void OutlineRasterizer::fillTriangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c) {
    const double bxax = b.x - a.x, byay = b.y - a.y, cxax = c.x - a.x, cyay = c.y - a.y;
    const double area = bxax * cyay - byay * cxax;
    if (!(std::fabs(area) > 1e-12)) return;
    const double minX = std::min({a.x, b.x, c.x}), maxX = std::max({a.x, b.x, c.x});
    const double minY = std::min({a.y, b.y, c.y}), maxY = std::max({a.y, b.y, c.y});
    const int x0 = static_cast<int>(std::max<double>(columnStart_, std::ceil(minX)));
    const int x1 = static_cast<int>(std::min<double>(columnEnd_ - 1, std::floor(maxX)));
    const int y0 = static_cast<int>(std::max<double>(rowStart_, std::ceil(minY)));
    const int y1 = static_cast<int>(std::min<double>(rowEnd_ - 1, std::floor(maxY)));
    if (x0 > x1 || y0 > y1) return;
    const double inv = 1.0 / area;
    const bool scanline = mode_ == OutlineMode::Scanline;
    const std::int32_t surface = static_cast<std::int32_t>(surfaces_.size()) - 1;
    const SolidMembership* clip = surface_.clip;
    for (int y = y0; y <= y1; ++y) {
        const double py = y - a.y;
        float* row = &invDepth_[index(x0, y)];
        for (int x = x0; x <= x1; ++x, ++row) {
            // Barycentric weights of b and c; the centre is covered when all three are >= 0.
            const double px = x - a.x;
            const double wb = (px * cyay - py * cxax) * inv;
            const double wc = (bxax * py - byay * px) * inv;
            const double wa = 1 - wb - wc;
            if (wa < 0 || wb < 0 || wc < 0) continue;
            const double invW = wa * a.invW + wb * b.invW + wc * c.invW;
            const float depth = static_cast<float>(invW);
            if (!(depth > *row)) continue;
            // A CSG component covers only the points its Solid accepts.
            if (clip && !clip->accepts(transform_.unproject(x, y, 1.0 / invW))) continue;
            *row = depth;
            if (!scanline) continue;
            const std::size_t i = index(x, y);
            const double ka = wa * a.invW / invW, kb = wb * b.invW / invW, kc = 1 - ka - kb;
            pixelSurface_[i] = surface;
            pixelNormal_[i] = a.source->normal * ka + b.source->normal * kb + c.source->normal * kc;
            pixelTexcoord_[i] = a.source->texcoord * ka + b.source->texcoord * kb + c.source->texcoord * kc;
            pixelHasTexcoord_[i] = texcoords_;
        }
    }
}

// Clips each outlined edge against the window (widened by half a pixel, so that pixels whose centres
// round into the band are kept) in homogeneous coordinates and draws what is left.
void OutlineRasterizer::drawEdges(const PreviewVertex* const* corners, const Projected* const* p,
                                  unsigned edges) {
    const Window window{-0.5, width_ + 0.5, rowStart_ - 0.5, rowEnd_ + 0.5};
    Color colour[3] = {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}};
    bool coloured[3] = {false, false, false};
    const bool wantColour = mode_ == OutlineMode::HiddenLineColour && shading_;
    for (int e = 0; e < 3; ++e) {
        if (!(edges & (1u << e))) continue;
        const int i = e, j = (e + 1) % 3;
        double t0 = 0, t1 = 1;
        bool visible = true;
        for (int plane = 0; plane < PlaneCount && visible; ++plane) {
            const double f0 = window.value(plane, p[i]->X, p[i]->Y, p[i]->W);
            const double f1 = window.value(plane, p[j]->X, p[j]->Y, p[j]->W);
            if (f0 < 0 && f1 < 0)
                visible = false;
            else if (f0 < 0)
                t0 = std::max(t0, f0 / (f0 - f1));
            else if (f1 < 0)
                t1 = std::min(t1, f0 / (f0 - f1));
            if (t0 > t1) visible = false;
        }
        if (!visible) continue;
        if (wantColour) {
            for (int k : {i, j}) {
                if (coloured[k]) continue;
                PreviewVertex v = *corners[k];
                if (v.normal.x == 0 && v.normal.y == 0 && v.normal.z == 0)
                    v.normal = faceNormal(corners[0]->point, corners[1]->point, corners[2]->point);
                colour[k] = shading_->vertexColour(surface_, v);
                coloured[k] = true;
            }
        }
        const Projected& P = *p[i];
        const Projected& Q = *p[j];
        const double X0 = P.X + (Q.X - P.X) * t0, Y0 = P.Y + (Q.Y - P.Y) * t0, W0 = P.W + (Q.W - P.W) * t0;
        const double X1 = P.X + (Q.X - P.X) * t1, Y1 = P.Y + (Q.Y - P.Y) * t1, W1 = P.W + (Q.W - P.W) * t1;
        const Color c0 = colour[i] + (colour[j] - colour[i]) * t0;
        const Color c1 = colour[i] + (colour[j] - colour[i]) * t1;
        const double iw0 = 1.0 / W0, iw1 = 1.0 / W1;
        drawSegment(X0 * iw0, Y0 * iw0, iw0, c0, X1 * iw1, Y1 * iw1, iw1, c1);
    }
}

// Steps one pixel at a time along the longer axis; a pixel is drawn where the edge is not behind the
// nearest face there (with a small bias, so that a face's own edges stay visible).
void OutlineRasterizer::drawSegment(double x0, double y0, double iw0, const Color& c0, double x1, double y1,
                                    double iw1, const Color& c1) {
    const double dx = x1 - x0, dy = y1 - y0;
    const int steps = static_cast<int>(std::ceil(std::max(std::fabs(dx), std::fabs(dy))));
    const double step = steps ? 1.0 / steps : 0;
    const double sx = dx * step, sy = dy * step, siw = (iw1 - iw0) * step;
    const bool plain = c0 == c1;
    // The clipped ends lie at x, y >= -0.5, so truncating x + 0.5 rounds.
    double x = x0 + 0.5, y = y0 + 0.5, iw = iw0;
    for (int k = 0; k <= steps; ++k, x += sx, y += sy, iw += siw) {
        const int px = static_cast<int>(x), py = static_cast<int>(y);
        if (px < columnStart_ || px >= columnEnd_ || py < rowStart_ || py >= rowEnd_) continue;
        if (iw * (1 + EdgeDepthBias) < invDepth_[index(px, py)]) continue;
        if (surface_.clip && !surface_.clip->accepts(transform_.unproject(px, py, 1.0 / iw))) continue;
        putSBufferPixel(*frame_, plain ? c0 : c0 + (c1 - c0) * (k * step), 1.0, px, py);
    }
}

void OutlineRasterizer::shadeCovered(PreviewShading& shading) {
    if (mode_ != OutlineMode::Scanline) return;
    PreviewVertex seen;
    for (int y = rowStart_; y < rowEnd_; ++y) {
        for (int x = columnStart_; x < columnEnd_; ++x) {
            const std::size_t i = index(x, y);
            const std::int32_t surface = pixelSurface_[i];
            if (!(invDepth_[i] > 0)) continue;
            seen.point = transform_.unproject(x, y, 1.0 / invDepth_[i]);
            if (!finite(seen.point)) continue;
            seen.normal = normalized(pixelNormal_[i]);
            seen.texcoord = pixelTexcoord_[i];
            seen.hasTexcoord = pixelHasTexcoord_[i] != 0;
            const PreviewSurface none;
            shading.shadePixel(surface >= 0 ? surfaces_[static_cast<std::size_t>(surface)] : none, x, y,
                               seen);
        }
    }
}

}  // namespace quorva

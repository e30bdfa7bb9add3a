// The Blobby: the iso-surface of a sum of bounded field contributions (spheres, cylinders with rounded
// ends, planes). Along a ray each element's field is a quartic in t over the interval where it is
// nonzero; the intervals' ends are sorted and the running sum, less the threshold, is solved between
// consecutive ends.
//
// Every element's squared distance along the ray is written q(t) = a t^2 + 2b t + q0 (a = 1 for spheres
// and caps, the squared length of the direction across the axis for a cylinder body, (n.d)^2 for a
// plane), and its field c4 q^2 + c2 q + c0 becomes
//   c4 a^2 t^4 + 4 c4 a b t^3 + (c2 a + c4 (4 b^2 + 2 a q0)) t^2 + 2b (c2 + 2 c4 q0) t + c0 + (c2 + c4 q0)
//   q0.
#include <algorithm>
#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "geometry/element_tree.h"
#include "geometry/intersect_context.h"
#include "geometry/polygoniser.h"
#include "geometry/solvers.h"
#include "geometry/surface_shapes.h"

namespace quorva {

namespace {

enum ElementType { SphereElement = 0, BodyElement = 1, CapElement = 2, PlaneElement = 3 };

struct BlobElement {
    int type = SphereElement;
    Vec3 centre;     // sphere or cap centre
    Vec3 direction;  // cap: away from the body; plane: unit normal
    double lengthOrConstant = 0;
    Transform frame;  // body: object space to the frame where the axis runs from 0 to L along z
    double radiusSquared = 0, c4 = 0, c2 = 0, c0 = 0;
};

struct BlobbyData {
    std::vector<BlobElement> elements;
    std::vector<int> unbounded;  // planes: tested by every ray and point
    ElementTree tree;            // the bounded elements by their boxes
    Box box;                     // union of the element boxes (object space)
    double threshold = 0;
};

void quartic(double a, double b, double q0, const BlobElement& e, double c[5]) {
    c[0] = e.c4 * a * a;
    c[1] = 4 * e.c4 * a * b;
    c[2] = e.c2 * a + e.c4 * (4 * b * b + 2 * a * q0);
    c[3] = 2 * b * (e.c2 + 2 * e.c4 * q0);
    c[4] = e.c0 + (e.c2 + e.c4 * q0) * q0;
}

// Cuts [tin, tout] to where o + t d lies on the positive side of the plane through `point` with normal n.
bool clipHalfSpace(const Vec3& o, const Vec3& d, const Vec3& point, const Vec3& n, double& tin,
                   double& tout) {
    const double s0 = dot(o - point, n), sd = dot(d, n);
    if (std::fabs(sd) < 1e-12) return s0 >= 0;
    const double t = -s0 / sd;
    if (sd > 0)
        tin = std::max(tin, t);
    else
        tout = std::min(tout, t);
    return tin < tout;
}

// The ray interval over which the element's field is nonzero, and its quartic there.
bool elementInterval(const BlobElement& e, const Vec3& o, const Vec3& d, double tmin, double tmax,
                     double& tin, double& tout, double c[5]) {
    switch (e.type) {
        case SphereElement:
        case CapElement: {
            const Vec3 oc = o - e.centre;
            const double b = dot(oc, d), q0 = dot(oc, oc);
            const double disc = b * b - q0 + e.radiusSquared;
            if (disc < 1e-8) return false;
            const double root = std::sqrt(disc);
            tin = -b - root;
            tout = root - b;
            if (e.type == CapElement && !clipHalfSpace(o, d, e.centre, e.direction, tin, tout)) return false;
            quartic(1, b, q0, e, c);
            break;
        }
        case BodyElement: {
            const Vec3 fo = transformPoint(e.frame.forward, o);
            const Vec3 fd = transformVector(e.frame.forward, d);
            const double a = fd.x * fd.x + fd.y * fd.y;
            const double b = fo.x * fd.x + fo.y * fd.y;
            const double q0 = fo.x * fo.x + fo.y * fo.y;
            if (a < 1e-12) {
                if (q0 >= e.radiusSquared) return false;
                tin = tmin;
                tout = tmax;
            } else {
                const double disc = b * b - a * (q0 - e.radiusSquared);
                if (disc < 1e-8 * a) return false;
                const double root = std::sqrt(disc);
                tin = (-b - root) / a;
                tout = (root - b) / a;
            }
            // Between the end planes z = 0 and z = L.
            if (std::fabs(fd.z) < 1e-12) {
                if (fo.z < 0 || fo.z > e.lengthOrConstant) return false;
            } else {
                double z0 = -fo.z / fd.z, z1 = (e.lengthOrConstant - fo.z) / fd.z;
                if (z0 > z1) std::swap(z0, z1);
                tin = std::max(tin, z0);
                tout = std::min(tout, z1);
            }
            quartic(a, b, q0, e, c);
            break;
        }
        case PlaneElement: {
            const double p0 = dot(e.direction, o) + e.lengthOrConstant;
            const double nd = dot(e.direction, d);
            const double radius = std::sqrt(e.radiusSquared);
            if (std::fabs(nd) < 1e-12) {
                if (p0 < 0 || p0 >= radius) return false;
                tin = tmin;
                tout = tmax;
            } else {
                tin = -p0 / nd;
                tout = (radius - p0) / nd;
                if (tin > tout) std::swap(tin, tout);
            }
            quartic(nd * nd, nd * p0, p0 * p0, e, c);
            break;
        }
        default:
            internalFailure(InternalFailure::UnknownBlobbyComponent, "Unknown Blobby component type (%d)",
                            e.type);
    }
    if (tout < tmin) return false;
    tin = std::max(tin, tmin);
    return tin < tout && tin < tmax;
}

// The element's squared distance q at p and its offset vector, when p lies where the element counts.
bool elementAt(const BlobElement& e, const Vec3& p, double& q, Vec3& offset) {
    switch (e.type) {
        case SphereElement:
        case CapElement:
            offset = p - e.centre;
            if (e.type == CapElement && dot(offset, e.direction) < 0) return false;
            q = dot(offset, offset);
            break;
        case BodyElement: {
            const Vec3 f = transformPoint(e.frame.forward, p);
            if (f.z < -1e-8 || f.z > e.lengthOrConstant + 1e-8) return false;
            q = f.x * f.x + f.y * f.y;
            offset = transformVector(e.frame.inverse, {f.x, f.y, 0});
            break;
        }
        case PlaneElement: {
            const double distance = dot(p, e.direction) + e.lengthOrConstant;
            if (distance < 0) return false;
            q = distance * distance;
            offset = e.direction * distance;
            break;
        }
        default:
            internalFailure(InternalFailure::UnknownBlobbyComponent2, "Unknown Blobby component type (%d)",
                            e.type);
    }
    return q < e.radiusSquared + 1e-8;
}

// Two Newton steps on a root of the quartic: the closed-form methods lose digits when the gap lies far
// along the ray. A step that would leave the gap, or a flat spot, keeps the root as it is.
double polish(const double c[5], double t, double low, double high) {
    for (int step = 0; step < 2; ++step) {
        const double value = (((c[0] * t + c[1]) * t + c[2]) * t + c[3]) * t + c[4];
        const double slope = ((4 * c[0] * t + 3 * c[1]) * t + 2 * c[2]) * t + c[3];
        if (!(std::fabs(slope) > 1e-12)) break;
        const double next = t - value / slope;
        if (!(next > low && next < high)) break;
        t = next;
    }
    return t;
}

class Blobby final : public Shape {
  public:
    Blobby(std::shared_ptr<const BlobbyData> data, int solverCode)
        : Shape(ShapeKind::Blobby), data_(std::move(data)), solverCode_(solverCode) {}

    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    bool inside(const Vec3& worldPoint) const override {
        return field(pointToObject(transform.get(), worldPoint)) > data_->threshold;
    }
    std::unique_ptr<Shape> clone() const override { return std::unique_ptr<Shape>(new Blobby(*this)); }
    void setSolver(int code) override { solverCode_ = code; }
    void subdivide(World& target) override;

    double field(const Vec3& p) const;
    Vec3 fieldNormal(const Vec3& p) const;

  private:
    Blobby(const Blobby&) = default;

    template <typename Visit>
    void forEachElementAt(const Vec3& p, Visit&& visit) const {
        data_->tree.forEachAt(p, visit);
        for (int i : data_->unbounded) visit(i);
    }

    std::shared_ptr<const BlobbyData> data_;
    int solverCode_;
};

double Blobby::field(const Vec3& p) const {
    double sum = 0;
    forEachElementAt(p, [&](int i) {
        const BlobElement& e = data_->elements[i];
        double q;
        Vec3 offset;
        if (elementAt(e, p, q, offset)) sum += (e.c4 * q + e.c2) * q + e.c0;
    });
    return sum;
}

Vec3 Blobby::fieldNormal(const Vec3& p) const {
    Vec3 normal;
    bool any = false;
    forEachElementAt(p, [&](int i) {
        const BlobElement& e = data_->elements[i];
        double q;
        Vec3 offset;
        if (!elementAt(e, p, q, offset)) return;
        normal += offset * (-2 * e.c4 * q - e.c2);
        any = true;
    });
    return any ? normal : Vec3{0, 0, -1};
}

bool Blobby::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                       Intersection& hit) const {
    const BlobbyData& data = *data_;
    std::vector<IntersectContext::BlobEvent>& events = ctx.blobEvents;
    events.clear();
    auto collect = [&](int i, double limit) {
        const BlobElement& e = data.elements[i];
        double tin, tout, c[5];
        if (!elementInterval(e, ray.origin, ray.direction, tmin, tmax, tin, tout, c)) return limit;
        IntersectContext::BlobEvent enter{tin, i, true, {c[0], c[1], c[2], c[3], c[4]}};
        IntersectContext::BlobEvent exit = enter;
        exit.t = tout;
        exit.enter = false;
        events.push_back(enter);
        events.push_back(exit);
        return limit;
    };
    data.tree.forEachOnRay(ray.origin, ray.direction, tmin, tmax, collect);
    for (int i : data.unbounded) collect(i, tmax);
    if (events.empty()) return false;
    std::sort(
        events.begin(), events.end(),
        [](const IntersectContext::BlobEvent& a, const IntersectContext::BlobEvent& b) { return a.t < b.t; });

    double polynomial[5] = {0, 0, 0, 0, -data.threshold};
    int active = 0;
    bool recorded = false;
    const std::size_t count = events.size();
    for (std::size_t k = 0; k < count && !recorded; ++k) {
        const IntersectContext::BlobEvent& e = events[k];
        const int type = data.elements[e.element].type;
        if (type < SphereElement || type > PlaneElement)
            internalFailure(
                e.enter ? InternalFailure::UnknownBlobbyElement : InternalFailure::UnknownBlobbyElement2,
                "Unknown Blobby element type (%d)", type);
        const double sign = e.enter ? 1.0 : -1.0;
        for (int m = 0; m < 5; ++m) polynomial[m] += sign * e.coefficients[m];
        active += e.enter ? 1 : -1;
        if (active <= 0) {
            // Nothing is active: start the sum afresh so that rounding does not build up.
            active = 0;
            polynomial[0] = polynomial[1] = polynomial[2] = polynomial[3] = 0;
            polynomial[4] = -data.threshold;
            continue;
        }
        if (k + 1 == count) break;
        const double low = std::max(tmin, e.t), high = std::min(tmax, events[k + 1].t);
        if (!(low < high)) continue;
        double roots[4];
        const int n = solveQuartic(solverCode_, polynomial, low, high, roots);
        // The gaps come in order of t: the first one with a recorded root holds the nearest hit.
        for (int r = 0; r < n; ++r) {
            const double t = polish(polynomial, roots[r], low, high);
            const Vec3 p = ray.at(t);
            if (recordHit(ctx, *this, fieldNormal(p), t, p, hit, {0, 0, 0})) recorded = true;
        }
    }
    return recorded;
}

void Blobby::subdivide(World& target) {
    ImplicitSurfaceDescription surface;
    surface.box = data_->box;
    for (int a = 0; a < 3; ++a) surface.cells[a] = subdivisions[a];
    surface.threshold = data_->threshold;
    surface.value = [this](const Vec3& p) { return field(p); };
    surface.normal = [this](const Vec3& p) { return fieldNormal(p); };
    subdivideImplicit(*this, surface, target);
}

Box sphereBox(const Vec3& centre, double radius) {
    return {centre - Vec3{radius, radius, radius}, Vec3{2 * radius, 2 * radius, 2 * radius}};
}

}  // namespace

std::unique_ptr<Shape> makeBlobby(const std::vector<BlobComponent>& components, int solverCode,
                                  double threshold) {
    std::size_t elementCount = 0;
    for (const BlobComponent& c : components) {
        if (c.type == 0 || c.type == 3 || c.type == 4)
            elementCount += 1;
        else if (c.type == 1)
            elementCount += 3;
        else
            fatal("Invalid Blobby component type");
    }
    std::shared_ptr<BlobbyData> data;
    std::vector<Box> boxes;
    try {
        data = std::make_shared<BlobbyData>();
        data->elements.reserve(elementCount);
        boxes.reserve(elementCount);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate Blobby");
    }
    data->threshold = threshold;
    bool haveBox = false;
    auto addElement = [&](BlobElement e, double radius, double strength, const Box& box) {
        e.radiusSquared = radius * radius;
        e.c4 = strength / (e.radiusSquared * e.radiusSquared);
        e.c2 = -2 * strength / e.radiusSquared;
        e.c0 = strength;
        data->box = haveBox ? unionBoxes(data->box, box) : box;
        haveBox = true;
        if (e.type == PlaneElement) data->unbounded.push_back(static_cast<int>(data->elements.size()));
        boxes.push_back(box);
        data->elements.push_back(e);
    };

    for (const BlobComponent& c : components) {
        if (c.type == 4) continue;
        const double r = c.radius, s = c.strength;
        // A radius of 0 would divide by zero; a negative one is only suspicious. Coefficients that are
        // not finite (a tiny radius, a huge strength) could only feed garbage to the root solvers.
        const double r2 = r * r;
        const bool finite = std::isfinite(c.first.x + c.first.y + c.first.z) &&
                            std::isfinite(c.second.x + c.second.y + c.second.z) && std::isfinite(c.distance);
        const bool usable = r != 0 && finite && std::isfinite(s / (r2 * r2)) && std::isfinite(s);
        if (r <= 0 || !usable) warning("Degenerate Blobby component");
        if (!usable) continue;
        const double reach = std::fabs(r);
        if (c.type == 0) {
            BlobElement e;
            e.type = SphereElement;
            e.centre = c.first;
            addElement(e, r, s, sphereBox(c.first, reach));
        } else if (c.type == 1) {
            Vec3 axis = c.second - c.first;
            const double length = quorva::length(axis);
            if (length < 1e-8) fatal("Degenerate cylindrical Blobby component");
            axis = axis / length;
            BlobElement body;
            try {
                body.type = BodyElement;
                body.lengthOrConstant = length;
                body.frame = makePlacementFrame(axis, 1, 1, -c.first);
            } catch (const std::bad_alloc&) {
                fatal("Failed to allocate cylindrical Blobby component");
            }
            const Box canonical{{-reach, -reach, -reach}, {2 * reach, 2 * reach, length + 2 * reach}};
            addElement(body, r, s, transformBox(canonical, body.frame.inverse));
            BlobElement capA;
            capA.type = CapElement;
            capA.centre = c.first;
            capA.direction = -axis;
            addElement(capA, r, s, sphereBox(c.first, reach));
            BlobElement capB = capA;
            capB.centre = c.second;
            capB.direction = axis;
            addElement(capB, r, s, sphereBox(c.second, reach));
        } else {
            Vec3 normal = c.second;
            const double length = quorva::length(normal);
            if (length < 1e-8 || !std::isfinite(c.distance / length)) {
                warning("Degenerate Blobby component");
                continue;
            }
            BlobElement e;
            e.type = PlaneElement;
            e.direction = normal / length;
            e.lengthOrConstant = c.distance / length;
            addElement(e, r, s, Box{{-1000000, -1000000, -1000000}, {2000000, 2000000, 2000000}});
        }
    }
    // The tree holds the bounded elements only.
    std::vector<Box> bounded;
    std::vector<int> index;
    for (std::size_t i = 0; i < data->elements.size(); ++i)
        if (data->elements[i].type != PlaneElement)
            index.push_back(static_cast<int>(i)), bounded.push_back(boxes[i]);
    data->tree.build(bounded);
    // The tree reports positions in `bounded`; renumber the elements so that they match.
    if (bounded.size() != data->elements.size()) {
        std::vector<BlobElement> reordered;
        reordered.reserve(data->elements.size());
        for (int i : index) reordered.push_back(data->elements[i]);
        for (int i : data->unbounded) reordered.push_back(data->elements[i]);
        const int first = static_cast<int>(index.size());
        for (std::size_t k = 0; k < data->unbounded.size(); ++k)
            data->unbounded[k] = first + static_cast<int>(k);
        data->elements = std::move(reordered);
    }
    if (!haveBox) data->box = Box{{-1000000, -1000000, -1000000}, {1e-8, 1e-8, 1e-8}};

    const Box bounds = data->box;
    std::unique_ptr<Blobby> blobby;
    try {
        blobby = std::make_unique<Blobby>(std::move(data), solverCode);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate Blobby");
    }
    blobby->setBounds(bounds);
    blobby->subdivisions[0] = blobby->subdivisions[1] = blobby->subdivisions[2] = 32;
    return blobby;
}

double blobbyFieldValue(const Shape& shape, const Vec3& objectPoint) {
    const auto* blobby = dynamic_cast<const Blobby*>(&shape);
    return blobby ? blobby->field(objectPoint) : 0;
}

}  // namespace quorva

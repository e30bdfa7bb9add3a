// Placeholder bodies of the shape model until it lands.
#include "geometry/shape.h"

#include "diagnostics/diagnostics.h"
#include "geometry/world.h"
#include "shading/shader.h"

namespace quorva {

Shape::~Shape() = default;

Shape::Shape(const Shape& o)
    : headerFlags(o.headerFlags),
      kind(o.kind),
      boundsMin(o.boundsMin),
      boundsSize(o.boundsSize),
      parent(o.parent),
      shader(o.shader),
      transform(o.transform ? std::make_unique<Transform>(*o.transform) : nullptr),
      attributes(o.attributes),
      solidTest(o.solidTest),
      displacement(o.displacement),
      mesh(o.mesh),
      caustics(o.caustics),
      internalCaustics(o.internalCaustics) {
    headerWords[0] = o.headerWords[0];
    headerWords[1] = o.headerWords[1];
    for (int i = 0; i < 3; ++i) subdivisions[i] = o.subdivisions[i];
    for (int i = 0; i < 4; ++i) uvWindow[i] = o.uvWindow[i];
}

void Shape::applyTransform(const Transform& n) {
    setBounds(transformBox(bounds(), n.forward));
    if (!transform) transform = std::make_unique<Transform>();
    compose(*transform, n);
}

void Shape::evaluate(double, double, SurfacePoint&) const {}
bool Shape::intersect(RenderContext&, const Ray&, double, double, Intersection&) const { return false; }
bool Shape::inside(const Vec3&) const { return false; }

const Shader* effectiveShader(const Shape& shape) {
    for (const Shape* s = &shape; s; s = s->parent)
        if (s->shader) return s->shader.get();
    return nullptr;
}

bool intersectShape(RenderContext&, const Ray&, double, double, Intersection&, const Shape&) { return false; }

bool recordHit(RenderContext&, const Shape&, const Vec3&, double, const Vec3&, Intersection&, const Vec3&) {
    return false;
}

std::unique_ptr<Shape> copyShape(const Shape& definition) { return definition.clone(); }

std::string toString(const Intersection& h) {
    return formatText("{hit %d, distance %g, point %s, normal %s}", h.hit, h.distance, toString(h.point).c_str(),
                      toString(h.normal).c_str());
}
std::ostream& operator<<(std::ostream& os, const Intersection& h) { return os << toString(h); }

}  // namespace quorva

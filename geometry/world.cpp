// The World: its lists, the add step that decides between adding and subdividing, and the plain
// list walk used while there is no bounding hierarchy.
#include "geometry/world.h"

#include "diagnostics/diagnostics.h"
#include "geometry/hierarchy.h"
#include "geometry/intersect_context.h"
#include "geometry/solid.h"

namespace quorva {

World::World() = default;
World::~World() = default;
World::World(World&&) noexcept = default;
World& World::operator=(World&&) noexcept = default;

Shape* World::push(std::unique_ptr<Shape> shape) {
    Shape* s = shape.get();
    owned.push_back(std::move(shape));
    mainList.push_back(s);
    return s;
}

Shape* World::adopt(std::unique_ptr<Shape> shape) {
    Shape* s = shape.get();
    owned.push_back(std::move(shape));
    return s;
}

void World::adoptAll(World&& other) {
    for (auto& s : other.owned) owned.push_back(std::move(s));
    for (auto& s : other.solids) solids.push_back(std::move(s));
    for (auto& s : other.subdividedSources) subdividedSources.push_back(std::move(s));
    other.clear();
}

void World::clear() {
    // The lists and the hierarchy only refer to shapes; dropping them first leaves no dangling
    // references while the owned shapes go.
    mainList.clear();
    cameraFrontier.clear();
    lightEntries.clear();
    root = nullptr;
    owned.clear();
    subdividedSources.clear();
    solids.clear();
    temporaryA = temporaryB = 0;
}

bool intersectWorld(Intersection& hit, const Ray& ray, const World& world, IntersectContext& ctx, double tmin,
                    double tmax) {
    hit.hit = 0;
    if (world.root) return traverse(ctx, ray, hit, tmin, tmax, world);
    world.forEachInListOrder([&](const Shape* shape) {
        ++ctx.stats.objectsChecked;
        intersectShape(ctx, ray, tmin, tmax, hit, *shape);
    });
    return hit.hit != 0;
}

namespace {

// The Shader that decides the pruning: the shape's own when it stands alone, else the outermost one
// on its parent chain, provided every shape on the way has one. Null means "do not prune".
const Shader* pruningShader(const Shape& shape) {
    const Shape* s = &shape;
    while (s->parent) {
        if (!s->parent->shader) return nullptr;
        s = s->parent;
    }
    return s->shader.get();
}

bool needsMesh(const Shape& shape) {
    for (const Shape* s = &shape; s; s = s->parent)
        if (s->displacement) return true;
    return false;
}

}  // namespace

bool alwaysSubdivided(ShapeKind kind) {
    return kind == ShapeKind::BicubicPatch || kind == ShapeKind::Nurbs ||
           kind == ShapeKind::ParametricSurface;
}

bool tracesSurfaces(const AddSettings& settings) {
    // Only the modes that trace rays need the surfaces as triangles.
    return settings.renderMode == 1 ||
           (settings.renderMode == 2 &&
            (settings.featureMask & (ShapeAttr::Shading2 | ShapeAttr::Reflects | ShapeAttr::Refracts)));
}

void addSubdivided(World& world, std::unique_ptr<Shape> shape, const char* failure) {
    // Cut the shape into pieces in a World of its own, group them under one hierarchy root and add
    // that root in the shape's place. The shape stays alive: its pieces refer to it and its mesh.
    World pieces;
    pieces.temporaryA = 64;
    pieces.temporaryB = 4;
    pieces.frames = world.frames;
    shape->subdivide(pieces);
    if (!buildHierarchy(pieces) || !pieces.root) fatal("%s", failure);
    Shape* group = pieces.root;
    world.adoptAll(std::move(pieces));
    world.mainList.push_back(group);
    world.subdividedSources.push_back(std::move(shape));
}

void addToWorld(std::unique_ptr<Shape> shape, World& world, const AddSettings& settings) {
    // A Solid's components are pruned one by one, each by the shader that shades it, from the Solid's
    // attributes as written.
    const std::uint16_t written = shape->attributes;
    if (shape->kind != ShapeKind::BoundingGroup && shape->kind != ShapeKind::MeshTriangle &&
        shape->kind != ShapeKind::Solid && shape->shader) {
        if (const Shader* shader = pruningShader(*shape))
            pruneByShader(*shader, shape->attributes, shape->hasDefaultUvWindow());
    }
    const bool meshNeeded = needsMesh(*shape);

    if (shape->kind == ShapeKind::Solid) {
        if (auto* solid = dynamic_cast<Solid*>(shape.get())) {
            prepareSolid(*solid);
            addSolidComponents(world, *solid, meshNeeded, written, settings);
        }
        world.solids.push_back(std::move(shape));
        return;
    }

    if (!tracesSurfaces(settings) || !(meshNeeded || alwaysSubdivided(shape->kind))) {
        world.push(std::move(shape));
        return;
    }
    addSubdivided(world, std::move(shape), "Failed to add shapes to world");
}

}  // namespace quorva

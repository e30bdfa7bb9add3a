// Placeholder bodies of the World until the shape model lands.
#include "geometry/world.h"

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
    other.owned.clear();
    other.mainList.clear();
}

void World::clear() {
    mainList.clear();
    cameraFrontier.clear();
    lightEntries.clear();
    root = nullptr;
    subdividedSources.clear();
    solids.clear();
    owned.clear();
}

bool intersectWorld(Intersection& hit, const Ray&, const World&, RenderContext&, double, double) {
    hit.hit = 0;
    return false;
}

void addToWorld(std::unique_ptr<Shape> shape, World& world, const AddSettings&) { world.push(std::move(shape)); }

}  // namespace quorva

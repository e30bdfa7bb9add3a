// Default lights and camera placed from the model's box.
#include "converter/default_view.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "converter/tds_reader.h"

namespace quorva::converter {
namespace {

constexpr double DefaultLens = 35;  // millimetres, as 3DS cameras give it

bool hasLight(const Model& model) {
    return std::any_of(model.items.begin(), model.items.end(), [](const SceneItem& item) {
        return item.kind == SceneItem::Kind::PointLight || item.kind == SceneItem::Kind::SpotLight;
    });
}

}  // namespace

Extent modelExtent(const Model& model) {
    Extent e;
    e.lo = {HUGE_VAL, HUGE_VAL, HUGE_VAL};
    e.hi = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const Mesh& mesh : model.meshes)
        for (const Face& face : mesh.faces)
            for (std::uint32_t v : face.v) {
                Point3 p =
                    mesh.animated ? transformPoint(mesh.transform, mesh.positions[v]) : mesh.positions[v];
                e.lo = {std::min(e.lo.x, p.x), std::min(e.lo.y, p.y), std::min(e.lo.z, p.z)};
                e.hi = {std::max(e.hi.x, p.x), std::max(e.hi.y, p.y), std::max(e.hi.z, p.z)};
                e.empty = false;
            }
    if (e.empty) e.lo = e.hi = {};
    return e;
}

DefaultsAdded addDefaultView(Model& model, const Extent& extent) {
    DefaultsAdded added;
    if (extent.empty) return added;
    Point3 centre = (extent.lo + extent.hi) * 0.5;
    // The box lies within the sphere through its corners; a flat or point-like model still gets a
    // camera at a finite distance.
    double radius = length(extent.hi - extent.lo) * 0.5;
    if (!(radius > 1e-9)) radius = 1;
    if (model.cameras.empty()) {
        double halfAngle = fieldOfView(DefaultLens) * 0.5 * std::numbers::pi / 180;
        double distance = radius / std::sin(halfAngle) * 1.05;
        CameraView camera;
        camera.name = "DefaultCamera";
        camera.position = centre + unit(Point3{1, -1.6, 0.9}) * distance;
        camera.target = centre;
        camera.lens = DefaultLens;
        model.cameras.push_back(camera);
        model.items.push_back({SceneItem::Kind::Camera, 0});
        added.camera = true;
    }
    if (!hasLight(model)) {
        const CameraView& camera = model.cameras.front();
        Point3 back = camera.position - centre;
        double distance = std::max(length(back), 2 * radius);
        back = unit(back);
        if (length(back) == 0) back = unit(Point3{1, -1.6, 0.9});
        PointLight key{"DefaultLight",
                       camera.position + back * (0.3 * distance) + Point3{0, 0, 0.6 * distance}};
        // The fill comes from the other side of the view, low, and only lifts the shadows.
        Point3 side = unit(Point3{-back.x, back.y, 0.15});
        if (length(side) == 0) side = {0, -1, 0};
        PointLight fill{"DefaultFill", centre + side * distance, {0.3, 0.3, 0.3}};
        model.pointLights.push_back(key);
        model.items.push_back({SceneItem::Kind::PointLight, model.pointLights.size() - 1});
        model.pointLights.push_back(fill);
        model.items.push_back({SceneItem::Kind::PointLight, model.pointLights.size() - 1});
        added.lights = true;
    }
    return added;
}

}  // namespace quorva::converter

// A scene that renders at once: the box the converted geometry fills, and the lights and the camera
// written for a model that brings none.
#pragma once

#include "converter/model.h"

namespace quorva::converter {

struct Extent {
    Point3 lo, hi;
    bool empty = true;  // no face
};

// The box of every face's vertices where they are rendered (an animation frame's transformation
// applied).
Extent modelExtent(const Model& model);

struct DefaultsAdded {
    bool lights = false, camera = false;
};

// When the model has no light, a white point light above and behind the camera and a dim fill light
// from the other side; when it has no camera, one looking at the centre of the box from the front
// (-y) right (+x) and above (+z), far enough for the whole box to show within the vertical field of
// view. Nothing is added for an empty extent. The new statements come after the model's own.
DefaultsAdded addDefaultView(Model& model, const Extent& extent);

}  // namespace quorva::converter

// The directives of one frame of a ".vue" animation file, and how a frame changes the model.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "converter/model.h"
#include "converter/report.h"

namespace quorva::converter {

struct VueTransform {
    std::string name;
    Matrix matrix;
};

struct VueMorph {
    std::string name;
    std::vector<std::pair<std::string, double>> targets;  // name and weight, 1 to 4
    Matrix matrix;
};

struct VueCamera {
    Point3 position, target;
    double roll = 0, lens = 50;
};

struct VueFrame {
    std::vector<VueTransform> transforms;
    std::vector<VueMorph> morphs;
    std::vector<PointLight> lights;
    std::vector<SpotLight> spots;
    bool hasCamera = false;
    VueCamera camera;
};

// The directives of frame `frame` in the text of a VUE file.
VueFrame parseVueFrame(const std::string& text, int frame);
// Reads "<base>.vue" and parses frame `frame` of it.
VueFrame readVueFrame(const std::string& base, int frame);
// Highest frame number in the text of a VUE file (-1 when there is none).
int lastVueFrame(const std::string& text);
// The whole text of "<base>.vue".
std::string readVueText(const std::string& base);

// Moves and morphs the meshes and replaces the lights and camera the frame names.
void applyVueFrame(const VueFrame& frame, Model& model, Console& console);

}  // namespace quorva::converter

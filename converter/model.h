// What the converter takes from a 3DS file (and a VUE frame) or another model file: meshes, materials,
// lights, the camera and the background and fog statements, in the order the file presents them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "converter/matrix.h"

namespace quorva::converter {

struct Rgb {
    double r = 0, g = 0, b = 0;
};

struct Face {
    std::array<std::uint32_t, 3> v{};
    int material = -1;  // index into Mesh::materialNames; -1 until the material list is read
};

struct Mesh {
    std::string name;
    std::vector<Point3> positions;  // world space, as stored in the file
    std::vector<double> u, v;       // per vertex; empty unless one pair per vertex
    std::vector<Face> faces;
    std::vector<std::string> materialNames;  // in the order the object's material lists come
    Matrix frame = Matrix::identity();       // local coordinate frame (local to world)
    Matrix transform = Matrix::identity();   // the animation frame's transformation
    bool animated = false;
    bool hidden = false;
    bool castsShadows = true;
};

struct Material {
    std::string name;
    Rgb ambient, diffuse, specular;
    double shininess = 0;  // percentage x 100
    double shininessStrength = 0;
    double transparency = 0;
    bool selfIlluminated = false;
    bool twoSided = false;
    double texturePercent = 0;
    std::string textureMap;
    double reflection = 0;
    double bumpPercent = 0;
    std::string bumpMap;
};

struct PointLight {
    std::string name;
    Point3 position;
    Rgb color{1, 1, 1};
    bool attenuated = false;
    double multiplier = 1.0;
};

struct SpotLight {
    std::string name;
    Point3 position, target;
    Rgb color{1, 1, 1};
    double hotspot = 0, falloff = 0;
    bool flag = false;  // shadowed or rectangular: full lighting, else specular only
    bool attenuated = false;
    double multiplier = 1.0;
};

struct CameraView {
    std::string name;
    Point3 position, target;
    double bank = 0;
    double lens = 50;
    double fieldOfView = 0;  // vertical, degrees, where the file gives it; 0: from the lens
};

struct Fog {
    double distance = 0, density = 0;
    Rgb color;
};

// One statement of the main file, in file order.
struct SceneItem {
    enum class Kind { SolidBackground, BitmapBackground, Fog, GroundFog, PointLight, SpotLight, Camera };
    Kind kind;
    std::size_t index = 0;  // into the list of its kind (lights, cameras); unused otherwise
};

struct Model {
    std::vector<SceneItem> items;
    std::vector<Mesh> meshes;
    std::vector<Material> materials;
    std::vector<PointLight> pointLights;
    std::vector<SpotLight> spotLights;
    std::vector<CameraView> cameras;
    // Values of the background and fog chunks; the statements are written where the file says to use
    // them, with the values the file holds.
    Rgb backgroundColor;
    std::string backgroundBitmap;
    bool bitmapBackground = false;  // a bitmap background is used
    Fog fog, groundFog;
    // Meshes, lights and cameras the file holds, converted or not (an object left out with -o counts
    // as one whatever it holds).
    unsigned objects = 0;
};

}  // namespace quorva::converter

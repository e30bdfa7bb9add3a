// The Open Asset Import Library's scene mapped onto the converter's Model. Every index and number is
// checked here, the faces also before the library's own steps read them: a damaged file must be
// refused, never crash or write "nan". (The library's validation step is not used: it refuses what its
// own 3DS reader returns for a camera.)
#include "converter/assimp_reader.h"

#include <assimp/DefaultIOSystem.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <numbers>
#include <set>
#include <stdexcept>

#include "converter/default_view.h"
#include "converter/isolated_import.h"
#include "converter/model_files.h"
#include "converter/scene_names.h"
#include "diagnostics/case_blind_file.h"

namespace quorva::converter {
namespace {

// Polygons become triangles; points and lines are dropped.
constexpr unsigned ImportSteps = aiProcess_Triangulate | aiProcess_SortByPType;

// Whether the format's convention puts z up, as 3DS does; the others (OBJ, glTF, Collada as the
// library gives it, FBX) put y up and are turned about x.
bool zUp(std::string extension) {
    for (char& c : extension) c = static_cast<char>(c | 0x20);
    return extension == "stl" || extension == "ply" || extension == "3ds";
}

struct InvalidModel {
    std::string text;
};

// Opens the files a model names as written, else ignoring case (with the warning, once per name).
class CaseBlindFiles final : public Assimp::DefaultIOSystem {
  public:
    explicit CaseBlindFiles(Console& console) : console_(console) {}
    bool Exists(const char* file) const override {
        return DefaultIOSystem::Exists(file) || !findIgnoringCase(slashes(file)).empty();
    }
    Assimp::IOStream* Open(const char* file, const char* mode) override {
        if (Assimp::IOStream* s = DefaultIOSystem::Open(file, mode)) return s;
        std::string path = slashes(file);
        if (path != file)
            if (Assimp::IOStream* s = DefaultIOSystem::Open(path.c_str(), mode)) return s;
        std::string found = findModelFile(path, console_);
        return found.empty() ? nullptr : DefaultIOSystem::Open(found.c_str(), mode);
    }

  private:
    // Names written on the other platform separate folders with backslashes.
    static std::string slashes(std::string path) {
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }
    Console& console_;
};

class SceneConverter {
  public:
    SceneConverter(const aiScene& scene, const ReadSettings& settings, std::string folder, bool yUp,
                   std::string fallbackName, Console& console)
        : scene_(scene),
          settings_(settings),
          folder_(std::move(folder)),
          fallbackName_(std::move(fallbackName)),
          console_(console) {
        if (yUp)
            up_ = aiMatrix4x4(1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1);  // (x, y, z) to (x, -z, y)
    }

    Model convert() {
        if (!scene_.mRootNode) throw InvalidModel{"no scene"};
        readMaterials();
        walk(*scene_.mRootNode, up_, 0);
        Extent extent = modelExtent(model_);
        readLights(extent);
        readCameras(extent);
        if (scene_.mNumAnimations > 0)
            console_.print("\nWarning: the animation of %s is not converted\n", settings_.fileName.c_str());
        return std::move(model_);
    }

  private:
    static double number(double x) {
        if (!std::isfinite(x)) throw InvalidModel{"invalid number"};
        return x;
    }
    static Point3 point(const aiVector3D& p) { return {number(p.x), number(p.y), number(p.z)}; }
    static Rgb colour(const aiColor3D& c) {
        return {std::clamp(number(c.r), 0.0, 1.0), std::clamp(number(c.g), 0.0, 1.0),
                std::clamp(number(c.b), 0.0, 1.0)};
    }

    bool excluded(const std::string& name) const {
        return std::find(settings_.excluded.begin(), settings_.excluded.end(), name) !=
               settings_.excluded.end();
    }

    // Names as the scene text will have them, each once among its kind: files of these formats repeat
    // names or leave them empty.
    static std::string unique(const std::string& raw, std::set<std::string>& taken) {
        std::string name = distinctName(sceneName(raw), taken);
        taken.insert(name);
        return name;
    }

    void readMaterials() {
        std::set<std::string> taken;
        for (unsigned i = 0; i < scene_.mNumMaterials; ++i) {
            const aiMaterial* source = scene_.mMaterials[i];
            if (!source) throw InvalidModel{"missing material"};
            Material m;
            aiString name;
            source->Get(AI_MATKEY_NAME, name);
            m.name = unique(name.length > 0 ? name.C_Str() : "Material" + std::to_string(i + 1), taken);
            console_.print("\nProcessing: Shader \"%s\"", m.name.c_str());
            aiColor3D c;
            m.diffuse =
                source->Get(AI_MATKEY_COLOR_DIFFUSE, c) == AI_SUCCESS ? colour(c) : Rgb{0.8, 0.8, 0.8};
            if (source->Get(AI_MATKEY_COLOR_SPECULAR, c) == AI_SUCCESS) m.specular = colour(c);
            float strength = 1;
            if (source->Get(AI_MATKEY_SHININESS_STRENGTH, strength) == AI_SUCCESS) {
                double k = std::clamp(number(strength), 0.0, 1.0);
                m.specular = {m.specular.r * k, m.specular.g * k, m.specular.b * k};
            }
            // The shader takes a 3DS shininess s and writes the Blinn exponent 400 / s; these formats
            // give the exponent, though a value below 1 is a glossiness fraction (files converted from
            // 3DS percentages write those, and the library's own 3DS writer reads them so). Without a
            // specular colour the highlight is left out (shininess 0 writes the least), and the colour
            // becomes white: the shader reads a specular colour nearer the diffuse one than white as
            // metal, which darkens the diffuse light.
            float exponent = 0;
            bool specular = m.specular.r > 0 || m.specular.g > 0 || m.specular.b > 0;
            if (source->Get(AI_MATKEY_SHININESS, exponent) == AI_SUCCESS && number(exponent) > 0 && specular)
                m.shininess = exponent < 1 ? 100 * exponent : std::clamp(400.0 / exponent, 400.0 / 45, 100.0);
            if (!specular) m.specular = {1, 1, 1};
            float opacity = 1;
            if (source->Get(AI_MATKEY_OPACITY, opacity) == AI_SUCCESS)
                m.transparency = 1 - std::clamp(number(opacity), 0.0, 1.0);
            if (source->Get(AI_MATKEY_COLOR_EMISSIVE, c) == AI_SUCCESS) {
                m.ambient = colour(c);
                m.selfIlluminated = m.ambient.r > 0 || m.ambient.g > 0 || m.ambient.b > 0;
            }
            int twoSided = 0;
            m.twoSided = source->Get(AI_MATKEY_TWOSIDED, twoSided) == AI_SUCCESS && twoSided != 0;
            aiString texture;
            if (source->GetTexture(aiTextureType_DIFFUSE, 0, &texture) == AI_SUCCESS && texture.length > 0) {
                m.textureMap = texturePath(texture.C_Str(), m.name);
                m.texturePercent = 1;
            }
            model_.materials.push_back(std::move(m));
        }
    }

    // The texture's path from the working folder, as the scene will name it. A texture not found
    // beside the model keeps its name, for the renderer's search path.
    std::string texturePath(std::string name, const std::string& material) {
        if (name[0] == '*' || scene_.GetEmbeddedTexture(name.c_str())) {
            console_.print("\nWarning: the embedded texture of material \"%s\" is not converted\n",
                           material.c_str());
            return {};
        }
        std::replace(name.begin(), name.end(), '\\', '/');
        if (name.rfind("file://", 0) == 0) name.erase(0, 7);
        while (name.rfind("./", 0) == 0) name.erase(0, 2);
        if (name.empty()) return {};
        auto it = textures_.find(name);
        if (it != textures_.end()) return it->second;
        std::string path = name[0] == '/' ? name : folder_ + name;
        std::string found = findModelFile(path, console_);
        return textures_[name] = found.empty() ? name : found;
    }

    void walk(const aiNode& node, const aiMatrix4x4& parent, int depth) {
        if (depth > 1000) throw InvalidModel{"node tree too deep"};
        aiMatrix4x4 global = parent * node.mTransformation;
        std::string name = node.mName.C_Str();
        nodes_.emplace(name, global);
        if (node.mNumMeshes > 0) {
            ++model_.objects;
            if (name.empty() && node.mMeshes[0] < scene_.mNumMeshes && scene_.mMeshes[node.mMeshes[0]])
                name = scene_.mMeshes[node.mMeshes[0]]->mName.C_Str();
            if (name.empty()) name = fallbackName_;
            if (!excluded(name)) addMesh(node, global, name);
        }
        for (unsigned i = 0; i < node.mNumChildren; ++i) {
            if (!node.mChildren[i]) throw InvalidModel{"missing node"};
            walk(*node.mChildren[i], global, depth + 1);
        }
    }

    // The node's meshes as one object, one material per mesh of the library.
    void addMesh(const aiNode& node, const aiMatrix4x4& global, const std::string& name) {
        Mesh m;
        m.name = unique(name, meshNames_);
        console_.print("\nProcessing: Object \"%s\"", m.name.c_str());
        // A mirroring transformation turns the winding, and so the normals, inside out.
        bool mirrored = global.Determinant() < 0;
        bool uv = false;
        for (unsigned k = 0; k < node.mNumMeshes; ++k) {
            if (node.mMeshes[k] >= scene_.mNumMeshes || !scene_.mMeshes[node.mMeshes[k]])
                throw InvalidModel{"bad mesh index"};
            const aiMesh& mesh = *scene_.mMeshes[node.mMeshes[k]];
            if (!(mesh.mPrimitiveTypes & aiPrimitiveType_TRIANGLE) || !mesh.mVertices) continue;
            if (mesh.mMaterialIndex >= model_.materials.size()) throw InvalidModel{"bad material index"};
            const std::string& material = model_.materials[mesh.mMaterialIndex].name;
            auto found = std::find(m.materialNames.begin(), m.materialNames.end(), material);
            int materialIndex = static_cast<int>(found - m.materialNames.begin());
            if (found == m.materialNames.end()) m.materialNames.push_back(material);
            std::size_t base = m.positions.size();
            if (mesh.mNumVertices > UINT32_MAX - base) throw InvalidModel{"too many vertices"};
            const aiVector3D* uvs = mesh.HasTextureCoords(0) ? mesh.mTextureCoords[0] : nullptr;
            uv = uv || uvs;
            for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
                m.positions.push_back(point(global * mesh.mVertices[v]));
                m.u.push_back(uvs ? number(uvs[v].x) : 0);
                m.v.push_back(uvs ? number(uvs[v].y) : 0);
            }
            for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
                const aiFace& face = mesh.mFaces[f];
                if (face.mNumIndices != 3 || !face.mIndices) continue;
                Face out;
                for (int c = 0; c < 3; ++c) {
                    if (face.mIndices[c] >= mesh.mNumVertices) throw InvalidModel{"bad vertex index"};
                    out.v[c] = static_cast<std::uint32_t>(base + face.mIndices[c]);
                }
                if (mirrored) std::swap(out.v[1], out.v[2]);
                out.material = materialIndex;
                m.faces.push_back(out);
            }
        }
        if (!uv) {
            m.u.clear();
            m.v.clear();
        }
        if (!m.faces.empty()) model_.meshes.push_back(std::move(m));
    }

    aiMatrix4x4 nodeTransform(const aiString& name) const {
        auto it = nodes_.find(name.C_Str());
        return it == nodes_.end() ? up_ : it->second;
    }

    static aiVector3D direction(const aiMatrix4x4& m, const aiVector3D& d) { return aiMatrix3x3(m) * d; }

    static double degrees(double radians) { return radians * 180 / std::numbers::pi; }

    void readLights(const Extent& extent) {
        double size = extent.empty ? 1 : std::max(length(extent.hi - extent.lo), 1e-6);
        Point3 centre = (extent.lo + extent.hi) * 0.5;
        for (unsigned i = 0; i < scene_.mNumLights; ++i) {
            const aiLight* light = scene_.mLights[i];
            if (!light) throw InvalidModel{"missing light"};
            ++model_.objects;
            std::string name = light->mName.C_Str();
            if (excluded(name)) continue;
            console_.print("\nProcessing: Light \"%s\"", name.c_str());
            aiMatrix4x4 world = nodeTransform(light->mName);
            Point3 position = point(world * light->mPosition);
            Point3 toward = unit(point(direction(world, light->mDirection)));
            // A light's colour here is at most white; files of physical units give far more.
            Rgb c{number(light->mColorDiffuse.r), number(light->mColorDiffuse.g),
                  number(light->mColorDiffuse.b)};
            double brightest = std::max({c.r, c.g, c.b});
            if (brightest > 1) c = {c.r / brightest, c.g / brightest, c.b / brightest};
            c = {std::max(c.r, 0.0), std::max(c.g, 0.0), std::max(c.b, 0.0)};
            switch (light->mType) {
                case aiLightSource_DIRECTIONAL:
                    // Far away, a point light that does not decay lights like the sun.
                    if (length(toward) == 0) toward = {0, 0, -1};
                    addPointLight({name, centre - toward * (1000 * size), c});
                    break;
                case aiLightSource_POINT:
                case aiLightSource_AREA:
                    addPointLight({name, position, c});
                    break;
                case aiLightSource_SPOT: {
                    if (length(toward) == 0) toward = {0, 0, -1};
                    double falloff = degrees(number(light->mAngleOuterCone));
                    double hotspot = degrees(number(light->mAngleInnerCone));
                    if (!(falloff > 0) || falloff > 180) falloff = 180;
                    if (!(hotspot > 0) || hotspot > falloff) hotspot = 0.7 * falloff;
                    model_.spotLights.push_back(
                        {name, position, position + toward * size, c, hotspot, falloff, true, false, 1.0});
                    model_.items.push_back({SceneItem::Kind::SpotLight, model_.spotLights.size() - 1});
                    break;
                }
                default:
                    console_.print("\nWarning: light \"%s\" is of a kind not converted\n", name.c_str());
                    break;
            }
        }
    }

    void addPointLight(const PointLight& light) {
        model_.pointLights.push_back(light);
        model_.items.push_back({SceneItem::Kind::PointLight, model_.pointLights.size() - 1});
    }

    void readCameras(const Extent& extent) {
        Point3 centre = (extent.lo + extent.hi) * 0.5;
        for (unsigned i = 0; i < scene_.mNumCameras; ++i) {
            const aiCamera* camera = scene_.mCameras[i];
            if (!camera) throw InvalidModel{"missing camera"};
            ++model_.objects;
            std::string name = camera->mName.C_Str();
            if (excluded(name) || !model_.cameras.empty()) continue;
            if (!settings_.cameraName.empty() && settings_.cameraName != name) continue;
            console_.print("\nProcessing: Camera \"%s\"", name.c_str());
            aiMatrix4x4 world = nodeTransform(camera->mName);
            CameraView view;
            view.name = name;
            view.position = point(world * camera->mPosition);
            Point3 toward = unit(point(direction(world, camera->mLookAt)));
            if (length(toward) == 0) toward = {0, 1, 0};
            // The point looked at lies as far away as the model, for the depth of field.
            double distance = std::max(length(centre - view.position), 1e-3);
            view.target = view.position + toward * distance;
            // The library's readers give the whole horizontal angle (not half, as it documents); the
            // scene's field of view is vertical.
            double aspect = camera->mAspect > 0 ? number(camera->mAspect) : 1.33334;
            double vertical = 2 * degrees(std::atan(std::tan(number(camera->mHorizontalFOV) / 2) / aspect));
            view.fieldOfView = vertical > 0.1 && vertical < 170 ? vertical : 0;
            model_.cameras.push_back(view);
            model_.items.push_back({SceneItem::Kind::Camera, 0});
        }
    }

    const aiScene& scene_;
    const ReadSettings& settings_;
    std::string folder_, fallbackName_;
    Console& console_;
    aiMatrix4x4 up_;
    Model model_;
    std::map<std::string, aiMatrix4x4> nodes_;  // global transformation of the first node of each name
    std::map<std::string, std::string> textures_;
    std::set<std::string> meshNames_;
};

std::string folderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string extensionOf(const std::string& path) {
    std::size_t dot = path.rfind('.');
    return dot == std::string::npos || dot < folderOf(path).size() ? std::string() : path.substr(dot + 1);
}

// The name of the file without folder and extension, for objects the file leaves unnamed.
std::string baseNameOf(const std::string& path) {
    std::string name = path.substr(folderOf(path).size());
    std::size_t dot = name.rfind('.');
    name = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    return name.empty() ? "Object" : name;
}

// The faces' vertex indices, which the library's steps follow without a check.
void checkFaces(const aiScene& scene) {
    if (scene.mNumMeshes > 0 && !scene.mMeshes) throw InvalidModel{"missing meshes"};
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
        const aiMesh* mesh = scene.mMeshes[m];
        if (!mesh) throw InvalidModel{"missing mesh"};
        if ((mesh->mNumVertices > 0 && !mesh->mVertices) || (mesh->mNumFaces > 0 && !mesh->mFaces))
            throw InvalidModel{"missing mesh data"};
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            const aiFace& face = mesh->mFaces[f];
            if (face.mNumIndices > 0 && !face.mIndices) throw InvalidModel{"missing face"};
            for (unsigned i = 0; i < face.mNumIndices; ++i)
                if (face.mIndices[i] >= mesh->mNumVertices) throw InvalidModel{"bad vertex index"};
        }
    }
}

// The triangulated scene as the child sent it back, checked again while it is converted.
Model convertScene(const aiScene* scene, Assimp::Importer& importer, const std::string& folder,
                   const std::string& extension, const ReadSettings& settings, Console& console) {
    const std::string& file = settings.fileName;
    if (!scene) fail("Cannot read model file %s: %s", file.c_str(), importer.GetErrorString());
    try {
        checkFaces(*scene);
        return SceneConverter(*scene, settings, folder, !zUp(extension), baseNameOf(file), console).convert();
    } catch (const InvalidModel& e) {
        fail("Cannot read model file %s: %s", file.c_str(), e.text.c_str());
    }
}

// The file read, checked and triangulated in a child process (the library's own steps may stop the
// process on what its readers return), then its dump read back here.
Model readIsolated(const std::function<const aiScene*(Assimp::Importer&, Console&)>& read,
                   unsigned secondsAllowed, const std::string& folder, const std::string& extension,
                   const ReadSettings& settings, Console& console) {
    auto steps = [&](Assimp::Importer& importer, Console& childConsole) -> const aiScene* {
        importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE, aiPrimitiveType_POINT | aiPrimitiveType_LINE);
        const aiScene* scene = read(importer, childConsole);
        if (!scene) return nullptr;
        try {
            checkFaces(*scene);
        } catch (const InvalidModel& e) {
            throw std::runtime_error(e.text);
        }
        return importer.ApplyPostProcessing(ImportSteps);
    };
    IsolatedImport imported = importIsolated(steps, secondsAllowed);
    if (!imported.console.empty()) console.print("%s", imported.console.c_str());
    if (!imported.read)
        fail("Cannot read model file %s: %s", settings.fileName.c_str(), imported.error.c_str());
    Assimp::Importer importer;
    const aiScene* scene =
        importer.ReadFileFromMemory(imported.dump.data(), imported.dump.size(), 0, "assbin");
    imported.dump = {};
    return convertScene(scene, importer, folder, extension, settings, console);
}

}  // namespace

Model readAssimpFile(const std::string& path, const ReadSettings& settings, Console& console) {
    return readIsolated(
        [&](Assimp::Importer& importer, Console& childConsole) {
            importer.SetIOHandler(new CaseBlindFiles(childConsole));  // the importer owns it
            return importer.ReadFile(path, 0);
        },
        0, folderOf(path), extensionOf(path), settings, console);
}

Model readAssimpMemory(const std::uint8_t* data, std::size_t size, const std::string& hint,
                       const ReadSettings& settings, Console& console, unsigned secondsAllowed) {
    return readIsolated([&](Assimp::Importer& importer,
                            Console&) { return importer.ReadFileFromMemory(data, size, 0, hint.c_str()); },
                        secondsAllowed, "", hint, settings, console);
}

}  // namespace quorva::converter

// The library leaks some of what it built when it gives up on a damaged file (its STL reader, for
// one). That is no fault of ours to report: under the leak checker of the sanitizer and fuzz builds,
// leaks allocated inside the library are suppressed; ours are still reported.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libassimp.so\n";
}

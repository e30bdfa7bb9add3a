// The frame loop: per frame the model file is read again, the VUE frame applied, and the main scene,
// shader and geometry files written. A frame's files replace the earlier ones only when all are
// complete; the frames finished before a failure keep their new files.
#include "converter/converter.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>

#include "converter/assimp_reader.h"
#include "converter/default_view.h"
#include "converter/geometry_writer.h"
#include "converter/model_files.h"
#include "converter/output_file.h"
#include "converter/scene_names.h"
#include "converter/settings.h"
#include "converter/smoothing.h"
#include "converter/staged_files.h"
#include "converter/tds_reader.h"
#include "converter/vue_reader.h"

namespace quorva::converter {
namespace {

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool fileExists(const std::string& path) {
    return static_cast<bool>(std::ifstream(path, std::ios::binary));
}

// Text of an output file name inside scene text.
std::string quoted(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        if (c == '"') c = '_';
    return out;
}

class FrameConverter {
  public:
    FrameConverter(const Settings& settings, const OutputNames& names, Console& console)
        : settings_(settings), names_(names), console_(console) {}

    // `tds`: the file is read by the 3DS reader, else by the general model reader.
    void run(const std::string& input, bool tds, const VueFrame* vue, int frame, int lastFrame) {
        // Every file is written under a temporary name and renamed when the frame is complete, so that
        // a failure leaves the earlier files of these names as they were. The MSH file is created
        // first.
        if (settings_.mesh &&
            writer_.OpenMeshFile(staged_.stage(names_.geometry)) != qsb::WriteStatus::Written)
            fail("Failed to create the MeSH file %s!\n", names_.geometry.c_str());
        std::vector<std::uint8_t> bytes;
        if (tds && !readFile(input, bytes)) fail("\n3DS input file %s not found!\n", input.c_str());
        if (settings_.binary) {
            if (writer_.OpenBinaryScene(staged_.stage(names_.main)) != qsb::WriteStatus::Written)
                fail("Cannot create the binary QSB file %s!\n", names_.main.c_str());
        } else if (!main_.create(staged_.stage(names_.main))) {
            fail("Cannot create the main QSB file %s!\n", names_.main.c_str());
        }
        if (!shader_.create(staged_.stage(names_.shader)))
            fail("\nCannot create the shader file %s...\n", names_.shader.c_str());
        bool asciiGeometry = !settings_.binary && !settings_.mesh;
        if (asciiGeometry && !geometry_.create(staged_.stage(names_.geometry)))
            fail("Error writing geometry QSB file");
        if (frame >= 0) console_.print("\n- Processing frame %d/%d -\n", frame, lastFrame);
        if (!settings_.binary) main_.write("// Quillbarrow QSB-Structure\n\n");
        shader_.write("ReadArchive \"statics.qsb\"\n\n");

        ReadSettings read{settings_.gamma, settings_.excluded, settings_.cameraName, input};
        Model model;
        try {
            if (tds) {
                model = readTds(bytes, read, console_);
                bytes.clear();
                std::size_t slash = input.find_last_of('/');
                matchMapNames(model, slash == std::string::npos ? "" : input.substr(0, slash + 1), console_);
            } else {
                model = readAssimpFile(input, read, console_);
            }
            if (vue) applyVueFrame(*vue, model, console_);
        } catch (const std::bad_alloc&) {
            failAllocation(0x50);
        }
        // A file in which nothing was found is damaged (an editor chunk with a broken identifier is
        // skipped whole) rather than an empty scene.
        if (model.objects == 0)
            fail(tds ? "No object found in 3DS file %s" : "No object found in model file %s", input.c_str());
        Extent extent = modelExtent(model);
        DefaultsAdded defaults;
        if (settings_.defaultView) defaults = addDefaultView(model, extent);
        writeItems(model);
        bool declared = settings_.binary || settings_.mesh || settings_.declare;
        SolidPlan plan = planSolids(
            model, settings_.binary || settings_.mesh ? qsb::MaxNameLength : std::string::npos, declared);
        writeGeometry(model, plan);

        for (const ShaderUse& s : plan.shaders) shader_.write(shaderDeclaration(s));
        if (model.bitmapBackground)
            shader_.print("Declare background3DS = UVImageMapping(ImageFile(\"%s\", NONE))\n",
                          quoted(model.backgroundBitmap).c_str());
        shader_.close();
        if (!settings_.binary) {
            if (settings_.mesh)
                main_.print("ReadMeshFile \"%s\"\n", quoted(names_.geometry).c_str());
            else
                main_.print("ReadArchive \"%s\"\n\n", quoted(names_.geometry).c_str());
            if (settings_.declare)
                for (const Solid& s : plan.solids) {
                    Point3 c = solidCentre(s, model.meshes[s.mesh]);
                    main_.print("%s\t// centered at (%.2lf, %.2lf, %.2lf) - shader: %s\n", s.name.c_str(),
                                c.x, c.y, c.z, s.shader.c_str());
                }
            main_.close();
        } else if (writer_.CloseBinaryScene() != qsb::WriteStatus::Written) {
            fail("Error writing geometry QSB file");
        }
        if (settings_.mesh && writer_.CloseMeshFile() != qsb::WriteStatus::Written)
            fail("Error writing geometry QSB file");
        publish();
        console_.print("\n\nProcess complete.\n");
        console_.print("%u solids written.\n", stats_.solids);
        console_.print("%u triangular patches all in all.\n", stats_.patches);
        if (!extent.empty)
            console_.print("Model extent: (%.4lf, %.4lf, %.4lf) - (%.4lf, %.4lf, %.4lf)\n", extent.lo.x,
                           extent.lo.y, extent.lo.z, extent.hi.x, extent.hi.y, extent.hi.z);
        if (defaults.lights) console_.print("No light in the model: default lights written.\n");
        if (defaults.camera) console_.print("No camera in the model: a camera framing it written.\n");
        if (!cameraWritten_) console_.print("No camera exported to this QSB file.\n");
    }

  private:
    static float f(double x) { return static_cast<float>(x); }

    // Background, fog, lights and camera in file order (one general record in binary mode).
    void writeItems(const Model& model) {
        qsb::GeneralRecord general;
        for (const SceneItem& item : model.items) {
            switch (item.kind) {
                case SceneItem::Kind::SolidBackground: {
                    const Rgb& c = model.backgroundColor;
                    if (settings_.binary) {
                        general.background[0] = f(c.r);
                        general.background[1] = f(c.g);
                        general.background[2] = f(c.b);
                        general.backgroundName[0] = 0;
                    } else {
                        main_.print("Background '%.2lf, %.2lf, %.2lf'\n\n", c.r, c.g, c.b);
                    }
                    break;
                }
                case SceneItem::Kind::BitmapBackground:
                    if (settings_.binary)
                        qsb::encodeName("background3DS", general.backgroundName);
                    else
                        main_.print("Background UVImageMapping(ImageFile(\"%s\", NONE))\n\n",
                                    quoted(model.backgroundBitmap).c_str());
                    break;
                case SceneItem::Kind::Fog:
                case SceneItem::Kind::GroundFog: {
                    bool ground = item.kind == SceneItem::Kind::GroundFog;
                    const Fog& fog = ground ? model.groundFog : model.fog;
                    if (!(fog.density > 0)) break;
                    if (settings_.binary) {
                        float* colour = ground ? general.groundFogColour : general.fogColour;
                        (ground ? general.groundFogDistance : general.fogDistance) = f(fog.distance);
                        (ground ? general.groundFogDensity : general.fogDensity) = f(fog.density);
                        colour[0] = f(fog.color.r);
                        colour[1] = f(fog.color.g);
                        colour[2] = f(fog.color.b);
                    } else {
                        main_.print(ground ? "GroundFog(%.2lf, %.3lf, '%.2lf,%.2lf,%.2lf')\n"
                                           : "Fog(%.2lf, %.3lf, '%.2lf,%.2lf,%.2lf')\n",
                                    fog.distance, fog.density, fog.color.r, fog.color.g, fog.color.b);
                    }
                    break;
                }
                case SceneItem::Kind::PointLight:
                    writePointLight(model.pointLights[item.index]);
                    break;
                case SceneItem::Kind::SpotLight:
                    writeSpotLight(model.spotLights[item.index]);
                    break;
                case SceneItem::Kind::Camera:
                    writeCamera(model.cameras[item.index]);
                    break;
            }
        }
        if (settings_.binary && writer_.WriteGeneral(general) != qsb::WriteStatus::Written)
            fail("Error writing geometry QSB file");
    }

    void writePointLight(const PointLight& l) {
        const Point3& p = l.position;
        const Rgb& c = l.color;
        if (settings_.binary) {
            qsb::PointLightRecord r;
            double k = l.attenuated ? l.multiplier : 1.0;
            r.position[0] = f(p.x), r.position[1] = f(p.y), r.position[2] = f(p.z);
            r.colour[0] = f(c.r * k), r.colour[1] = f(c.g * k), r.colour[2] = f(c.b * k);
            r.decay = l.attenuated ? 1 : 0;
            if (writer_.WritePointLight(r) != qsb::WriteStatus::Written)
                fail("Error writing geometry QSB file");
        } else if (l.attenuated) {
            main_.print(
                "PointLight [ (%.4lf, %.4lf, %.4lf) Intensity %.1lf*'%.4lf, %.4lf, %.4lf' Decay LINEAR ]\n\n",
                p.x, p.y, p.z, l.multiplier, c.r, c.g, c.b);
        } else {
            main_.print("PointLight [ (%.4lf, %.4lf, %.4lf) Intensity '%.4lf, %.4lf, %.4lf' ]\n\n", p.x, p.y,
                        p.z, c.r, c.g, c.b);
        }
    }

    void writeSpotLight(const SpotLight& l) {
        const Point3 &p = l.position, &t = l.target;
        const Rgb& c = l.color;
        if (settings_.binary) {
            qsb::SpotLightRecord r;
            double k = l.attenuated ? l.multiplier : 1.0;
            r.position[0] = f(p.x), r.position[1] = f(p.y), r.position[2] = f(p.z);
            r.pointAt[0] = f(t.x), r.pointAt[1] = f(t.y), r.pointAt[2] = f(t.z);
            r.cone[0] = f(l.falloff / 2);
            r.cone[1] = 0;
            r.cone[2] = f(l.hotspot / 2);
            r.colour[0] = f(c.r * k), r.colour[1] = f(c.g * k), r.colour[2] = f(c.b * k);
            r.decay = l.attenuated ? 1 : 0;
            r.flags = l.flag ? 3 : 2;
            if (writer_.WriteSpotLight(r) != qsb::WriteStatus::Written)
                fail("Error writing geometry QSB file");
            return;
        }
        main_.print("SpotLight [ (%.4lf, %.4lf, %.4lf), (%.4lf, %.4lf, %.4lf), %.2lf, %.2lf, 0 ", p.x, p.y,
                    p.z, t.x, t.y, t.z, l.hotspot / 2, l.falloff / 2);
        if (l.attenuated)
            main_.print("Intensity %.1lf*'%4.2lf, %4.2lf, %4.2lf' Decay LINEAR ", l.multiplier, c.r, c.g,
                        c.b);
        else
            main_.print("Intensity '%4.2lf, %4.2lf, %4.2lf' ", c.r, c.g, c.b);
        main_.write(l.flag ? "]\n\n" : "LightingAttributes SPECULAR ]\n\n");
    }

    void writeCamera(const CameraView& camera) {
        const Point3 &p = camera.position, &t = camera.target;
        double fov = camera.fieldOfView > 0 ? camera.fieldOfView : fieldOfView(camera.lens);
        cameraWritten_ = true;
        if (settings_.binary) {
            qsb::CameraRecord r;
            r.location[0] = f(p.x), r.location[1] = f(p.y), r.location[2] = f(p.z);
            r.lookAt[0] = f(t.x), r.lookAt[1] = f(t.y), r.lookAt[2] = f(t.z);
            r.up[0] = 0, r.up[1] = 0, r.up[2] = 1;
            r.fieldOfView = f(fov);
            r.width = 320;
            r.height = 240;
            r.aspectRatio = -1.33334f;
            if (writer_.WriteCamera(r) != qsb::WriteStatus::Written) fail("Error writing geometry QSB file");
            return;
        }
        main_.write("Camera [\n");
        main_.print(" (%.4lf, %.4lf, %.4lf),", p.x, p.y, p.z);
        main_.print("(%.4lf, %.4lf, %.4lf),", t.x, t.y, t.z);
        main_.write("(0, 0, 1)\n");
        main_.print(" FieldOfView %.2lf\n", fov);
        main_.print(" FrameAspectRatio %.3lf\n", -1.33334);
        main_.write(" Format(320,240)\n");
        main_.write("]\n");
        main_.write("\n");
    }

    // The complete files take their final names, the main file last since it reads the others. A
    // binary scene has no geometry file: an old one of its name is removed, as every file of the
    // output name is replaced.
    void publish() {
        if (!settings_.binary && !staged_.publish(names_.geometry)) fail("Error writing geometry QSB file");
        if (!staged_.publish(names_.shader))
            fail("\nCannot create the shader file %s...\n", names_.shader.c_str());
        if (!staged_.publish(names_.main))
            fail(settings_.binary ? "Cannot create the binary QSB file %s!\n"
                                  : "Cannot create the main QSB file %s!\n",
                 names_.main.c_str());
        if (settings_.binary) std::remove(names_.geometry.c_str());
    }

    void writeGeometry(const Model& model, const SolidPlan& plan) {
        std::size_t current = SIZE_MAX;
        CornerNormals normals;
        for (const Solid& solid : plan.solids) {
            const Mesh& mesh = model.meshes[solid.mesh];
            if (solid.mesh != current) {
                try {
                    normals = smoothNormals(mesh, settings_.smoothingAngle);
                } catch (const std::bad_alloc&) {
                    failAllocation(0x58);
                }
                current = solid.mesh;
            }
            if (settings_.binary || settings_.mesh)
                writeBinarySolid(writer_, settings_.mesh, solid, mesh, normals, settings_.useUV);
            else
                writeAsciiSolid(geometry_, solid, mesh, normals, settings_.useUV, settings_.declare);
            ++stats_.solids;
            stats_.patches += static_cast<unsigned>(solid.faces.size());
        }
        if (geometry_.isOpen()) geometry_.close();
    }

    const Settings& settings_;
    const OutputNames& names_;
    Console& console_;
    StagedFiles staged_;  // destroyed after the files written into it are closed
    OutputFile main_, shader_, geometry_;
    qsb::QsbWriter writer_;
    GeometryStatistics stats_;
    bool cameraWritten_ = false;
};

}  // namespace

int runConverter(int argc, const char* const* argv, Console& console) {
    if (argc < 2) {
        console.print("%s", UsageText);
        return 1;
    }
    Settings settings = parseCommandLine(argc, argv);
    // A name without extension is a 3DS file; the extension chooses the reader otherwise.
    std::string input = settings.inputBase + settings.inputExtension;
    if (settings.inputExtension.empty()) {
        input = settings.inputBase + ".3ds";
        if (!fileExists(input) && fileExists(settings.inputBase + ".3DS"))
            input = settings.inputBase + ".3DS";
    }
    bool tds =
        !settings.assimp && (settings.inputExtension.empty() || isTdsExtension(settings.inputExtension));

    std::string vueText;
    int first = settings.startFrame, last = settings.endFrame;
    if (!settings.vueBase.empty()) {
        try {
            vueText = readVueText(settings.vueBase);
        } catch (const std::bad_alloc&) {
            failAllocation(0x53);
        }
        if (settings.allFrames) {
            first = 0;
            last = std::max(lastVueFrame(vueText), 0);
        }
    }
    bool frames = first >= 0;
    std::string truncated;
    outputNames(settings, frames ? first : -1, &truncated);
    if (!truncated.empty())
        console.print("\nOutput file name too long. Truncated to \"%s\"\n", truncated.c_str());

    for (int frame = frames ? first : -1; frame <= (frames ? last : -1); ++frame) {
        OutputNames names = outputNames(settings, frame);
        std::optional<VueFrame> vue;
        if (!settings.vueBase.empty()) {
            try {
                vue = parseVueFrame(vueText, frame < 0 ? 0 : frame);
            } catch (const std::bad_alloc&) {
                failAllocation(0x54);
            }
        }
        FrameConverter(settings, names, console).run(input, tds, vue ? &*vue : nullptr, frame, last);
    }
    return 0;
}

}  // namespace quorva::converter

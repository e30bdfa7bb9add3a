// The 3DS chunk tree. Unknown chunks are skipped; sub-chunks may come in any order, and every length
// and count is checked against its chunk before anything is read or allocated.
#include "converter/tds_reader.h"

#include <algorithm>
#include <iterator>

#include "converter/chunk_reader.h"

namespace quorva::converter {
namespace {

constexpr std::uint16_t MainChunk = 0x4D4D, EditorChunk = 0x3D3D, EndChunk = 0xFFFF;

class TdsReader {
  public:
    TdsReader(const ReadSettings& settings, Console& console) : settings_(settings), console_(console) {}

    Model read(const std::vector<std::uint8_t>& bytes) {
        const std::uint8_t* data = bytes.data();
        std::uint16_t first = bytes.size() >= 2 ? static_cast<std::uint16_t>(data[0] | data[1] << 8) : 0;
        if (first == MainChunk) {
            Chunk main = Chunk::at(data, 0, bytes.size(), MainChunk);
            while (!main.atEnd()) {
                Chunk c = main.next();
                if (c.id() == EndChunk) break;
                if (c.id() == EditorChunk) readEditor(c);
            }
        } else if (first == EditorChunk) {
            console_.print("\nWarning: 3DS header missing!\n");
            Chunk editor = Chunk::at(data, 0, bytes.size(), EditorChunk);
            readEditor(editor);
        } else {
            fail("Input file must be a 3DS file format");
        }
        return std::move(model_);
    }

  private:
    bool excluded(const std::string& name) const {
        return std::find(settings_.excluded.begin(), settings_.excluded.end(), name) !=
               settings_.excluded.end();
    }

    void addItem(SceneItem::Kind kind, std::size_t index = 0) { model_.items.push_back({kind, index}); }

    // One colour sub-chunk: 0010/0013 three floats, 0011/0012 three bytes.
    static Rgb colorChunk(Chunk& c) {
        Rgb rgb;
        switch (c.id()) {
            case 0x0010:
            case 0x0013:
                rgb.r = c.f32();
                rgb.g = c.f32();
                rgb.b = c.f32();
                break;
            case 0x0011:
            case 0x0012:
                rgb.r = c.u8() / 255.0;
                rgb.g = c.u8() / 255.0;
                rgb.b = c.u8() / 255.0;
                break;
            default:
                fail("Color parsing error in 3DS file");
        }
        return rgb;
    }

    static bool isColorChunk(std::uint16_t id) { return id >= 0x0010 && id <= 0x0013; }

    // The colour that opens the rest of `parent`; with -g a second colour sub-chunk replaces it.
    Rgb readColor(Chunk& parent) {
        if (parent.atEnd()) fail("Color parsing error in 3DS file");
        Chunk c = parent.next();
        Rgb rgb = colorChunk(c);
        if (settings_.gamma && isColorChunk(parent.peekId())) {
            Chunk second = parent.next();
            rgb = colorChunk(second);
        }
        return rgb;
    }

    static double percentChunk(Chunk& c) {
        if (c.id() == 0x0030) return static_cast<std::int16_t>(c.u16()) * 0.01;
        if (c.id() == 0x0031) return c.f32();
        fail("Percentage parsing error in 3DS file");
    }

    static double readPercent(Chunk& parent) {
        if (parent.atEnd()) fail("Percentage parsing error in 3DS file");
        Chunk c = parent.next();
        return percentChunk(c);
    }

    // A000-A310 of one material.
    void readMaterial(Chunk& material) {
        Material m;
        while (!material.atEnd()) {
            Chunk c = material.next();
            switch (c.id()) {
                case 0xA000:
                    m.name = c.string();
                    console_.print("\nProcessing: Shader \"%s\"", m.name.c_str());
                    break;
                case 0xA010:
                    m.ambient = readColor(c);
                    break;
                case 0xA020:
                    m.diffuse = readColor(c);
                    break;
                case 0xA030:
                    m.specular = readColor(c);
                    break;
                case 0xA040:
                    m.shininess = readPercent(c) * 100;
                    break;
                case 0xA041:
                    m.shininessStrength = readPercent(c);
                    break;
                case 0xA050:
                    m.transparency = readPercent(c);
                    break;
                case 0xA080:
                    // The flag chunk is empty; some writers put the emission colour in it instead, and
                    // then only a colour that is not black makes the material glow.
                    if (c.atEnd()) {
                        m.selfIlluminated = true;
                    } else {
                        Rgb glow = readColor(c);
                        m.selfIlluminated = glow.r > 0 || glow.g > 0 || glow.b > 0;
                    }
                    break;
                case 0xA081:
                    m.twoSided = true;
                    break;
                case 0xA200:
                    readMap(c, m.texturePercent, m.textureMap);
                    break;
                case 0xA220: {
                    std::string unused;
                    readMap(c, m.reflection, unused);
                    break;
                }
                case 0xA230:
                    readMap(c, m.bumpPercent, m.bumpMap);
                    break;
                case 0xA310:
                    if (m.reflection == 0) m.reflection = 1.0;
                    break;
            }
        }
        model_.materials.push_back(std::move(m));
    }

    // A map chunk: its percentage and its A300 file name, in either order.
    static void readMap(Chunk& map, double& percent, std::string& file) {
        while (!map.atEnd()) {
            Chunk c = map.next();
            if (c.id() == 0x0030 || c.id() == 0x0031)
                percent = percentChunk(c);
            else if (c.id() == 0xA300)
                file = c.string();
        }
    }

    void readEditor(Chunk& editor) {
        while (!editor.atEnd()) {
            Chunk c = editor.next();
            switch (c.id()) {
                case 0x1100:
                    model_.backgroundBitmap = c.string();
                    break;
                case 0x1101:
                    model_.bitmapBackground = true;
                    addItem(SceneItem::Kind::BitmapBackground);
                    break;
                case 0x1200:
                    model_.backgroundColor = readColor(c);
                    break;
                case 0x1201:
                    addItem(SceneItem::Kind::SolidBackground);
                    break;
                case 0x2200: {
                    c.need(16);
                    double nearPlane = c.f32(), nearDensity = c.f32(), farPlane = c.f32(),
                           farDensity = c.f32();
                    (void)nearPlane;
                    model_.fog.distance = farPlane;
                    model_.fog.density = (farDensity - nearDensity) * 0.001 / 30;
                    model_.fog.color = readColor(c);
                    break;
                }
                case 0x2201:
                    addItem(SceneItem::Kind::Fog);
                    break;
                case 0x2302: {
                    c.need(16);
                    double lower = c.f32(), upper = c.f32(), density = c.f32();
                    c.u16();
                    c.u16();
                    model_.groundFog.distance = (upper - lower) * density;
                    model_.groundFog.density = density * 10;
                    model_.groundFog.color = readColor(c);
                    break;
                }
                case 0x2303:
                    addItem(SceneItem::Kind::GroundFog);
                    break;
                case 0x4000:
                    readObject(c);
                    break;
                case 0xAFFF:
                    readMaterial(c);
                    break;
            }
        }
    }

    void readObject(Chunk& object) {
        std::string name = object.string();
        if (excluded(name)) {
            ++model_.objects;
            return;
        }
        bool hidden = false, castsShadows = true;
        while (!object.atEnd()) {
            Chunk c = object.next();
            if (c.id() == 0x4100 || c.id() == 0x4600 || c.id() == 0x4700) ++model_.objects;
            switch (c.id()) {
                case 0x4010:
                    hidden = true;
                    break;
                case 0x4012:
                    castsShadows = false;
                    break;
                case 0x4100:
                    console_.print("\nProcessing: Object \"%s\"", name.c_str());
                    readMesh(c, name, hidden, castsShadows);
                    break;
                case 0x4600:
                    console_.print("\nProcessing: Light \"%s\"", name.c_str());
                    readLight(c, name);
                    break;
                case 0x4700:
                    console_.print("\nProcessing: Camera \"%s\"", name.c_str());
                    readCamera(c, name);
                    break;
            }
        }
    }

    void readMesh(Chunk& chunk, const std::string& name, bool hidden, bool castsShadows) {
        Mesh m;
        m.name = name;
        m.hidden = hidden;
        m.castsShadows = castsShadows;
        bool uvChunk = false;
        std::vector<std::pair<std::string, std::vector<std::uint16_t>>> lists;
        while (!chunk.atEnd()) {
            Chunk c = chunk.next();
            switch (c.id()) {
                case 0x4110: {
                    std::uint16_t n = c.u16();
                    c.need(std::size_t{n} * 12);
                    m.positions.resize(n);
                    for (auto& p : m.positions) p = c.point();
                    break;
                }
                case 0x4120: {
                    std::uint16_t n = c.u16();
                    c.need(std::size_t{n} * 8);
                    m.faces.resize(n);
                    for (auto& f : m.faces) {
                        for (auto& v : f.v) v = c.u16();
                        c.u16();  // edge visibility flags
                    }
                    while (!c.atEnd()) {
                        Chunk s = c.next();
                        if (s.id() != 0x4130) continue;
                        std::string material = s.string();
                        std::uint16_t k = s.u16();
                        s.need(std::size_t{k} * 2);
                        std::vector<std::uint16_t> faces(k);
                        for (auto& f : faces) {
                            f = s.u16();
                            if (f >= n) fail("Bad face index in object \"%s\"", name.c_str());
                        }
                        lists.emplace_back(std::move(material), std::move(faces));
                    }
                    break;
                }
                case 0x4140: {
                    std::uint16_t n = c.u16();
                    c.need(std::size_t{n} * 8);
                    m.u.resize(n);
                    m.v.resize(n);
                    for (std::size_t i = 0; i < n; ++i) {
                        m.u[i] = c.f32();
                        m.v[i] = c.f32();
                    }
                    uvChunk = true;
                    break;
                }
                case 0x4160: {
                    c.need(48);
                    for (int r = 0; r < 4; ++r) {
                        Point3 p = c.point();
                        m.frame(r, 0) = p.x;
                        m.frame(r, 1) = p.y;
                        m.frame(r, 2) = p.z;
                    }
                    break;
                }
            }
        }
        for (const Face& f : m.faces)
            for (std::uint32_t v : f.v)
                if (v >= m.positions.size()) fail("Bad vertex index in object \"%s\"", name.c_str());
        if (uvChunk && m.u.size() != m.positions.size()) {
            console_.print("Incoherence between u-v coordinates and vertices.\n");
            m.u.clear();
            m.v.clear();
        }
        // Material lists in the order they come; faces in none use "Default".
        for (auto& [material, faces] : lists) {
            auto it = std::find(m.materialNames.begin(), m.materialNames.end(), material);
            int index = static_cast<int>(it - m.materialNames.begin());
            if (it == m.materialNames.end()) m.materialNames.push_back(material);
            for (std::uint16_t f : faces) m.faces[f].material = index;
        }
        for (Face& f : m.faces) {
            if (f.material >= 0) continue;
            auto it = std::find(m.materialNames.begin(), m.materialNames.end(), "Default");
            f.material = static_cast<int>(it - m.materialNames.begin());
            if (it == m.materialNames.end()) m.materialNames.push_back("Default");
        }
        model_.meshes.push_back(std::move(m));
    }

    void readLight(Chunk& chunk, const std::string& name) {
        Point3 position = chunk.point();
        Rgb color = readColor(chunk);
        bool spot = false, off = false, attenuated = false, flag = false;
        double multiplier = 1.0, hotspot = 0, falloff = 0;
        Point3 target;
        while (!chunk.atEnd()) {
            Chunk c = chunk.next();
            switch (c.id()) {
                case 0x4610:
                    spot = true;
                    target = c.point();
                    hotspot = c.f32();
                    falloff = c.f32();
                    while (!c.atEnd()) {
                        Chunk s = c.next();
                        if (s.id() == 0x4630 || s.id() == 0x4640) flag = true;
                    }
                    break;
                case 0x4620:
                    off = true;
                    break;
                case 0x4625:
                    attenuated = true;
                    break;
                case 0x465B:
                    multiplier = c.f32();
                    break;
            }
        }
        if (off) return;
        if (spot) {
            if (falloff <= 0) falloff = 180;
            if (hotspot <= 0) hotspot = 0.7 * falloff;
            model_.spotLights.push_back(
                {name, position, target, color, hotspot, falloff, flag, attenuated, multiplier});
            addItem(SceneItem::Kind::SpotLight, model_.spotLights.size() - 1);
        } else {
            model_.pointLights.push_back({name, position, color, attenuated, multiplier});
            addItem(SceneItem::Kind::PointLight, model_.pointLights.size() - 1);
        }
    }

    void readCamera(Chunk& chunk, const std::string& name) {
        chunk.need(32);
        CameraView camera;
        camera.name = name;
        camera.position = chunk.point();
        camera.target = chunk.point();
        camera.bank = chunk.f32();
        camera.lens = chunk.f32();
        if (!model_.cameras.empty()) return;  // only the first camera is exported
        if (!settings_.cameraName.empty() && settings_.cameraName != name) return;
        model_.cameras.push_back(camera);
        addItem(SceneItem::Kind::Camera, 0);
    }

    const ReadSettings& settings_;
    Console& console_;
    Model model_;
};

}  // namespace

Model readTds(const std::vector<std::uint8_t>& bytes, const ReadSettings& settings, Console& console) {
    try {
        return TdsReader(settings, console).read(bytes);
    } catch (const InvalidNumber& e) {
        // Not a number would reach the text forms as "nan" and the binary ones as a silent black.
        fail("Invalid number in 3DS file %s (chunk 0x%04x)", settings.fileName.c_str(), e.chunk);
    }
}

double fieldOfView(double lens) {
    static constexpr double Lens[] = {15, 17, 24, 35, 50, 85, 100, 135, 200, 500, 625, 800, 1000};
    static constexpr double Angle[] = {115, 102, 84, 63, 46, 28, 24, 18, 12, 5, 4, 3.125, 2.5};
    double l = std::clamp(lens, 15.0, 1000.0);
    if (!(l == l)) l = 50;  // not a number
    std::size_t i = 0;
    while (i + 2 < std::size(Lens) && l > Lens[i + 1]) ++i;
    double t = (l - Lens[i]) / (Lens[i + 1] - Lens[i]);
    return 0.85 * (Angle[i] + t * (Angle[i + 1] - Angle[i]));
}

}  // namespace quorva::converter

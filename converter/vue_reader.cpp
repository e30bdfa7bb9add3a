// VUE animation files: a "VERSION" header line, then per frame a line "frame N" and its directives,
// one per line with blank-separated tokens (names may be quoted).
#include "converter/vue_reader.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "converter/settings.h"

namespace quorva::converter {
namespace {

constexpr std::size_t LineLimit = 255;

using Tokens = std::vector<std::string>;

// Splits a line at blanks; a token that starts with a double quote runs to the closing quote.
Tokens tokenize(const std::string& line) {
    Tokens tokens;
    std::size_t i = 0, n = line.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (i < n) {
        while (i < n && blank(line[i])) ++i;
        if (i >= n) break;
        std::size_t b = i;
        if (line[i] == '"') {
            std::size_t close = line.find('"', i + 1);
            i = close == std::string::npos ? n : close + 1;
        } else {
            while (i < n && !blank(line[i])) ++i;
        }
        tokens.push_back(line.substr(b, i - b));
    }
    return tokens;
}

// The lines of the text, each cut to the line limit.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t b = 0;
    while (b < text.size()) {
        std::size_t e = text.find('\n', b);
        if (e == std::string::npos) e = text.size();
        out.push_back(text.substr(b, std::min(e - b, LineLimit)));
        b = e + 1;
    }
    return out;
}

bool number(const std::string& token, double& value) {
    if (token.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(token.c_str(), &end);
    return *end == 0 && std::isfinite(value);
}

bool integer(const std::string& token, long& value) {
    if (token.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(token.c_str(), &end, 10);
    return *end == 0 && errno == 0;
}

// A frame line: "frame" and its number.
bool frameLine(const Tokens& t, long& frame) {
    return t.size() >= 2 && t[0] == "frame" && integer(t[1], frame);
}

// Reads `count` numbers from t[first...]; false when one is not a number.
bool numbers(const Tokens& t, std::size_t first, std::size_t count, double* out) {
    for (std::size_t i = 0; i < count; ++i)
        if (!number(t[first + i], out[i])) return false;
    return true;
}

// Three matrix rows and a translation row.
Matrix matrixOf(const double* v) {
    Matrix m = Matrix::identity();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) m(r, c) = v[3 * r + c];
    return m;
}

void readDirective(const Tokens& t, VueFrame& frame) {
    const std::string& key = t[0];
    double v[16];
    if (key == "transform") {
        if (t.size() != 14 || !numbers(t, 2, 12, v)) fail("Error parsing transform directive in VUE file");
        frame.transforms.push_back({trimName(t[1]), matrixOf(v)});
    } else if (key == "morph") {
        long count = 0;
        if (t.size() < 3 || !integer(t[2], count) || count < 1 || count > 4 ||
            t.size() != 3 + 2 * static_cast<std::size_t>(count) + 12)
            fail("Error parsing morph directive in VUE file");
        VueMorph morph;
        morph.name = trimName(t[1]);
        for (long i = 0; i < count; ++i) {
            double w;
            if (!number(t[4 + 2 * i], w)) fail("Error parsing morph directive in VUE file");
            morph.targets.emplace_back(trimName(t[3 + 2 * i]), w);
        }
        if (!numbers(t, 3 + 2 * count, 12, v)) fail("Error parsing morph directive in VUE file");
        morph.matrix = matrixOf(v);
        frame.morphs.push_back(std::move(morph));
    } else if (key == "light") {
        if (t.size() != 8 || !numbers(t, 2, 6, v)) fail("Error parsing omnilight directive in VUE file");
        PointLight l;
        l.name = trimName(t[1]);
        l.position = {v[0], v[1], v[2]};
        l.color = {v[3], v[4], v[5]};
        frame.lights.push_back(l);
    } else if (key == "spotlight") {
        long flag;
        if (t.size() != 15 || !numbers(t, 2, 12, v) || !integer(t[14], flag))
            fail("Error parsing spotlight directive in VUE file");
        SpotLight s;
        s.name = trimName(t[1]);
        s.position = {v[0], v[1], v[2]};
        s.target = {v[3], v[4], v[5]};
        s.color = {v[6], v[7], v[8]};
        s.hotspot = v[9];
        s.falloff = v[10];
        frame.spots.push_back(s);
    } else if (key == "camera") {
        if (frame.hasCamera) fail("Multiple cameras found in VUE file");
        if (t.size() != 9 || !numbers(t, 1, 8, v)) fail("Error parsing camera directive in VUE file");
        frame.hasCamera = true;
        frame.camera = {{v[0], v[1], v[2]}, {v[3], v[4], v[5]}, v[6], v[7]};
    } else if (key == "top" || key == "bottom" || key == "left" || key == "right" || key == "front" ||
               key == "back" || key == "user") {
        fail("Only camera viewports are supported");
    }
}

}  // namespace

VueFrame parseVueFrame(const std::string& text, int frame) {
    std::vector<std::string> all = lines(text);
    std::size_t i = 0;
    long number = 0;
    for (; i < all.size(); ++i)
        if (frameLine(tokenize(all[i]), number) && number == frame) break;
    if (i == all.size()) fail("\nFrame %d is missing in VUE file\n", frame);
    VueFrame result;
    for (++i; i < all.size(); ++i) {
        Tokens t = tokenize(all[i]);
        if (t.empty()) continue;
        if (t[0] == "frame") break;
        readDirective(t, result);
    }
    return result;
}

int lastVueFrame(const std::string& text) {
    long last = -1, number = 0;
    for (const std::string& line : lines(text))
        if (frameLine(tokenize(line), number) && number > last && number < 1000000) last = number;
    return static_cast<int>(last);
}

std::string readVueText(const std::string& base) {
    std::string name = base + ".vue";
    std::ifstream in(name, std::ios::binary);
    if (!in) fail("\nVUE file \"%s\" not found!\n", name.c_str());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

VueFrame readVueFrame(const std::string& base, int frame) {
    return parseVueFrame(readVueText(base), frame);
}

namespace {

Mesh* findMesh(Model& model, const std::string& name) {
    for (Mesh& m : model.meshes)
        if (m.name == name) return &m;
    return nullptr;
}

// Vertices are stored in world space: the frame's matrix first undoes the object's local frame.
void setTransform(Mesh& mesh, const Matrix& vue) {
    mesh.transform = multiply(invert(mesh.frame), vue);
    mesh.animated = true;
}

}  // namespace

void applyVueFrame(const VueFrame& frame, Model& model, Console& console) {
    for (const VueTransform& t : frame.transforms) {
        Mesh* mesh = findMesh(model, t.name);
        if (!mesh) {
            console.print("\nMesh object \"%s\" not found for transformation!\n", t.name.c_str());
            continue;
        }
        setTransform(*mesh, t.matrix);
    }
    for (const VueMorph& m : frame.morphs) {
        Mesh* base = findMesh(model, m.name);
        if (!base) {
            console.print("\nMesh object \"%s\" not found!\n", m.name.c_str());
            continue;
        }
        // Each target pulls the base shape towards itself by its weight.
        std::vector<Point3> original = base->positions, result = original;
        for (const auto& [name, weight] : m.targets) {
            const Mesh* target = findMesh(model, name);
            if (!target) {
                console.print("\nMesh object \"%s\" not found for morphing!\n", name.c_str());
                continue;
            }
            if (target->positions.size() != original.size())
                fail("To complete a morphing, objects must have the same number of vertices");
            if (target->faces.size() != base->faces.size())
                fail("To complete a morphing, objects must have the same number of faces");
            for (std::size_t i = 0; i < original.size(); ++i)
                result[i] = result[i] + (target->positions[i] - original[i]) * weight;
        }
        base->positions = std::move(result);
        setTransform(*base, m.matrix);
    }
    for (const PointLight& l : frame.lights)
        for (PointLight& p : model.pointLights)
            if (p.name == l.name) {
                p.position = l.position;
                p.color = l.color;
            }
    for (const SpotLight& l : frame.spots)
        for (SpotLight& s : model.spotLights)
            if (s.name == l.name) {
                s.position = l.position;
                s.target = l.target;
                s.color = l.color;
                if (l.falloff > 0) s.falloff = l.falloff;
                s.hotspot = l.hotspot > 0 ? l.hotspot : 0.7 * s.falloff;
            }
    if (frame.hasCamera && !model.cameras.empty()) {
        CameraView& c = model.cameras.front();
        c.position = frame.camera.position;
        c.target = frame.camera.target;
        c.bank = frame.camera.roll;
        c.lens = frame.camera.lens;
        c.fieldOfView = 0;  // the frame's lens decides
    }
}

}  // namespace quorva::converter

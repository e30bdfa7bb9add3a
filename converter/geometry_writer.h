// The converted geometry: every mesh becomes one solid per material, written as ascii scene text (a
// union of triangular patches) or as binary scene or MSH records.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "converter/model.h"
#include "converter/output_file.h"
#include "converter/shader_writer.h"
#include "formats/writer/qsb_writer.h"

namespace quorva::converter {

struct Solid {
    std::string name;    // scene-language name
    std::string shader;  // scene-language name of its shader
    std::size_t mesh = 0;
    std::vector<std::uint32_t> faces;
};

struct SolidPlan {
    std::vector<Solid> solids;
    std::vector<ShaderUse> shaders;  // in the order the solids first use them
};

// A mesh of one material is one solid of the mesh's name; a mesh of several is split into "%s_%u"
// (name, number of the material from 1). Faces without a material get a shader of their own with the
// default values, named like the solid of that number. Names longer than `maxName` characters are cut
// (binary records hold 31), so that shader names in records and in the shader file stay the same.
// With `declared` (the solids are declared under their names: -d, binary and MSH output) a solid whose
// name a shader has takes a distinct name instead (distinctName), since a declaration would replace
// the shader; solids placed directly keep their names.
SolidPlan planSolids(const Model& model, std::size_t maxName = std::string::npos, bool declared = false);

struct GeometryStatistics {
    unsigned solids = 0;
    unsigned patches = 0;
};

using CornerNormals = std::vector<std::array<Point3, 3>>;

// "Solid [ ... ]" of the faces, with the frame's transformation when the mesh is animated; with
// `declare` it is declared under the solid's name instead of placed.
void writeAsciiSolid(OutputFile& out, const Solid& solid, const Mesh& mesh, const CornerNormals& normals,
                     bool useUV, bool declare);

// Declaration, triangles, call, shader name and transformation records (the mesh file's with `meshFile`).
void writeBinarySolid(qsb::QsbWriter& writer, bool meshFile, const Solid& solid, const Mesh& mesh,
                      const CornerNormals& normals, bool useUV);

// "Scale(...) Rotate(...) Translate(...) ", each part only when it is not the identity.
std::string transformationText(const Matrix& m);

// Centre of the solid's bounding box where it is rendered.
Point3 solidCentre(const Solid& solid, const Mesh& mesh);

}  // namespace quorva::converter

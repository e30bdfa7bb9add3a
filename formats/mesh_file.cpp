// Reading a binary mesh file.
#include "formats/mesh_file.h"

#include "diagnostics/diagnostics.h"
#include "formats/byte_reader.h"
#include "formats/position_pause.h"
#include "formats/qsb_objects.h"
#include "scene/search_path.h"

namespace quorva {

namespace {

// The magic, then declarations and calls up to the end of the file.
void readMesh(SceneState& scene, ByteReader& in, const std::string& name) {
    if (!in.has(qsb::MagicSize) || std::memcmp(in.take(qsb::MagicSize), qsb::MeshMagic.data(), qsb::MagicSize) != 0)
        fatal("\"%s\" is not a Quillbarrow MSH file", name.c_str());
    ObjectReader objects(in, scene);
    while (!in.atEnd()) {
        std::uint8_t code = in.code();
        if (code == qsb::code::StartMesh)
            objects.readDeclaration();
        else if (code == qsb::code::CallMesh)
            objects.readCall();
        else
            fatal("Unexpected data while reading MSH file: 0x%x", code);
    }
}

}  // namespace

void ReadMeshFile(SceneState& scene, const std::string& name) {
    // The file's own errors carry no position in the scene text that named it.
    PositionPause pause;
    std::string path = searchPath().find(name, SearchPath::Match::IgnoringCase);
    if (path.empty()) fatal("Failed to open mesh file \"%s\"", name.c_str());
    ByteReader in(path, true, name);
    if (!in.opened()) fatal("Failed to open mesh file \"%s\"", name.c_str());
    readMesh(scene, in, name);
}

void readMeshBytes(SceneState& scene, const std::vector<std::uint8_t>& bytes, const std::string& name) {
    PositionPause pause;
    ByteReader in(bytes, 0, true, name);
    readMesh(scene, in, name);
}

}  // namespace quorva

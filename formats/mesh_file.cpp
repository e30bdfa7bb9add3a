// Reading a binary mesh file.
#include "formats/mesh_file.h"

#include "diagnostics/diagnostics.h"
#include "formats/byte_reader.h"
#include "formats/position_pause.h"
#include "formats/qsb_objects.h"
#include "scene/search_path.h"

namespace quorva {

void ReadMeshFile(SceneState& scene, const std::string& name) {
    // The file's own errors carry no position in the scene text that named it.
    PositionPause pause;
    std::string path = searchPath().find(name, SearchPath::Match::IgnoringCase);
    FileBytes file = path.empty() ? FileBytes{} : readFileBytes(path);
    if (!file.opened) fatal("Failed to open mesh file \"%s\"", name.c_str());
    readMeshBytes(scene, file.bytes, name);
}

void readMeshBytes(SceneState& scene, const std::vector<std::uint8_t>& bytes, const std::string& name) {
    PositionPause pause;
    if (bytes.size() < qsb::MagicSize ||
        std::memcmp(bytes.data(), qsb::MeshMagic.data(), qsb::MagicSize) != 0)
        fatal("\"%s\" is not a Quillbarrow MSH file", name.c_str());
    ByteReader in(bytes, qsb::MagicSize, true, name);
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

}  // namespace quorva

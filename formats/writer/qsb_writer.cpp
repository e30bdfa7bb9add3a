// The converter's record writer for binary scene and mesh files.
#include "formats/writer/qsb_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace quorva::qsb {

void encodeName(std::string_view text, char field[NameSize]) {
    std::memset(field, 0, NameSize);
    std::memcpy(field, text.data(), std::min(text.size(), MaxNameLength));
}

QsbWriter::~QsbWriter() {
    close(scene_);
    close(mesh_);
}

WriteStatus QsbWriter::open(Output& out, const std::string& path, std::string_view magic, bool version) {
    close(out);
    out.file = std::fopen(path.c_str(), "wb");
    if (!out.file) return WriteStatus::Failed;
    std::uint8_t header[MagicSize + 1];
    std::memcpy(header, magic.data(), MagicSize);
    header[MagicSize] = WriterVersion;
    std::size_t size = MagicSize + (version ? 1 : 0);
    return std::fwrite(header, 1, size, out.file) == size ? WriteStatus::Written : WriteStatus::Failed;
}

WriteStatus QsbWriter::close(Output& out) {
    if (!out.file) return WriteStatus::NoFile;
    // On disk before the caller renames the file to its final name.
    bool failed = std::fflush(out.file) != 0 || std::ferror(out.file) != 0 || fsync(fileno(out.file)) != 0;
    failed = std::fclose(out.file) != 0 || failed;
    out.file = nullptr;
    bool open = out.inDeclaration;
    out.inDeclaration = false;
    if (failed) return WriteStatus::Failed;
    return open ? WriteStatus::Refused : WriteStatus::Written;
}

WriteStatus QsbWriter::record(Output& out, Place place, std::uint8_t code, const void* payload,
                              std::size_t size) {
    if (!out.file) return WriteStatus::NoFile;
    if ((place == Place::Outside && out.inDeclaration) || (place == Place::Inside && !out.inDeclaration))
        return WriteStatus::Refused;
    std::uint8_t buffer[1 + 256];
    std::vector<std::uint8_t> large;
    std::uint8_t* bytes = buffer;
    if (size + 1 > sizeof buffer) {
        large.resize(size + 1);
        bytes = large.data();
    }
    bytes[0] = code;
    if (size) std::memcpy(bytes + 1, payload, size);
    return std::fwrite(bytes, 1, size + 1, out.file) == size + 1 ? WriteStatus::Written : WriteStatus::Failed;
}

WriteStatus QsbWriter::name(Output& out, Place place, std::uint8_t code, std::string_view text) {
    char field[NameSize];
    encodeName(text, field);
    return record(out, place, code, field, NameSize);
}

WriteStatus QsbWriter::vector(Output& out, std::uint8_t code, float x, float y, float z) {
    const float values[3] = {x, y, z};
    return record(out, Place::Outside, code, values, sizeof values);
}

// ---- binary scene file ----

WriteStatus QsbWriter::OpenBinaryScene(const std::string& path) {
    return open(scene_, path, SceneMagic, true);
}
WriteStatus QsbWriter::CloseBinaryScene() {
    return close(scene_);
}

WriteStatus QsbWriter::WriteCamera(const CameraRecord& camera) {
    return record(scene_, Place::Outside, code::Camera, &camera, cameraSize(WriterVersion));
}
WriteStatus QsbWriter::WriteGeneral(const GeneralRecord& general) {
    return record(scene_, Place::Outside, code::General, &general, generalSize(WriterVersion));
}
WriteStatus QsbWriter::WritePointLight(const PointLightRecord& light) {
    return record(scene_, Place::Outside, code::PointLight, &light, sizeof light);
}
WriteStatus QsbWriter::WriteSpotLight(const SpotLightRecord& light) {
    return record(scene_, Place::Outside, code::SpotLight, &light, sizeof light);
}

WriteStatus QsbWriter::BeginObjectDeclaration(std::string_view text) {
    WriteStatus status = name(scene_, Place::Outside, code::DeclareObject, text);
    if (status == WriteStatus::Written) scene_.inDeclaration = true;
    return status;
}
WriteStatus QsbWriter::EndObjectDeclaration() {
    WriteStatus status = record(scene_, Place::Inside, code::EndDeclaration, nullptr, 0);
    if (status == WriteStatus::Written) scene_.inDeclaration = false;
    return status;
}
WriteStatus QsbWriter::BeginObjectCall(std::string_view text) {
    return name(scene_, Place::Outside, code::CallObject, text);
}
WriteStatus QsbWriter::EndObjectCall() {
    return record(scene_, Place::Outside, code::EndCall, nullptr, 0);
}
WriteStatus QsbWriter::WriteShaderName(std::string_view text) {
    return name(scene_, Place::Outside, code::ShaderName, text);
}
WriteStatus QsbWriter::WriteTriangle(const float values[18]) {
    return record(scene_, Place::Inside, code::Triangle, values, sizeof(TriangleRecord));
}
WriteStatus QsbWriter::WriteTriangleUV(const float values[24]) {
    return record(scene_, Place::Inside, code::TriangleUV, values, sizeof(TriangleUVRecord));
}
WriteStatus QsbWriter::WriteScale(float x, float y, float z) {
    return vector(scene_, code::Scale, x, y, z);
}
WriteStatus QsbWriter::WriteTranslate(float x, float y, float z) {
    return vector(scene_, code::Translate, x, y, z);
}
WriteStatus QsbWriter::WriteRotate(float x, float y, float z) {
    return vector(scene_, code::Rotate, x, y, z);
}

// ---- mesh file ----

WriteStatus QsbWriter::OpenMeshFile(const std::string& path) {
    return open(mesh_, path, MeshMagic, false);
}
WriteStatus QsbWriter::CloseMeshFile() {
    return close(mesh_);
}

WriteStatus QsbWriter::BeginMeshDeclaration(std::string_view text) {
    WriteStatus status = name(mesh_, Place::Outside, code::StartMesh, text);
    if (status == WriteStatus::Written) mesh_.inDeclaration = true;
    return status;
}
WriteStatus QsbWriter::EndMeshDeclaration() {
    WriteStatus status = record(mesh_, Place::Inside, code::EndMesh, nullptr, 0);
    if (status == WriteStatus::Written) mesh_.inDeclaration = false;
    return status;
}
WriteStatus QsbWriter::BeginMeshCall(std::string_view text) {
    return name(mesh_, Place::Outside, code::CallMesh, text);
}
WriteStatus QsbWriter::EndMeshCall() {
    return record(mesh_, Place::Outside, code::EndCallMesh, nullptr, 0);
}
WriteStatus QsbWriter::WriteMeshShaderName(std::string_view text) {
    return name(mesh_, Place::Outside, code::MeshShaderName, text);
}
WriteStatus QsbWriter::WriteMeshTriangle(const float values[18]) {
    return record(mesh_, Place::Inside, code::Triangle, values, sizeof(TriangleRecord));
}
WriteStatus QsbWriter::WriteMeshTriangleUV(const float values[24]) {
    return record(mesh_, Place::Inside, code::TriangleUV, values, sizeof(TriangleUVRecord));
}
WriteStatus QsbWriter::WriteMeshScale(float x, float y, float z) {
    return vector(mesh_, code::Scale, x, y, z);
}
WriteStatus QsbWriter::WriteMeshTranslate(float x, float y, float z) {
    return vector(mesh_, code::Translate, x, y, z);
}
WriteStatus QsbWriter::WriteMeshRotate(float x, float y, float z) {
    return vector(mesh_, code::Rotate, x, y, z);
}

}  // namespace quorva::qsb

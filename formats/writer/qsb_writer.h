// The converter's writer of the binary scene file and the binary mesh file: one routine per record.
//
// Each routine is a no-op (NoFile) while its file is not open. Every file keeps one state, whether a
// declaration is open: a declaration starts only outside one and ends only inside one; triangles go
// only inside a declaration; calls, their shader names and transformations, lights, the camera and
// the general record go only outside. A record written against these rules is Refused and nothing is
// written; a failed write is Failed. Names longer than 31 characters are cut to 31.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "formats/qsb_records.h"

namespace quorva::qsb {

enum class WriteStatus { Written, NoFile, Refused, Failed };

class QsbWriter {
  public:
    QsbWriter() = default;
    ~QsbWriter();
    QsbWriter(const QsbWriter&) = delete;
    QsbWriter& operator=(const QsbWriter&) = delete;

    // ---- binary scene file ----
    // Creates the file ("wb") and writes the magic and version 3. Failed when it cannot be created;
    // an open scene file is closed first.
    WriteStatus OpenBinaryScene(const std::string& path);
    // Closes the file; Failed when the data could not be flushed. An open declaration is Refused
    // (the file is closed all the same).
    WriteStatus CloseBinaryScene();
    bool binarySceneOpen() const { return scene_.file != nullptr; }

    WriteStatus WriteCamera(const CameraRecord& camera);  // the 132 bytes of version 3
    WriteStatus WriteGeneral(const GeneralRecord& general);
    WriteStatus WritePointLight(const PointLightRecord& light);
    WriteStatus WriteSpotLight(const SpotLightRecord& light);
    WriteStatus BeginObjectDeclaration(std::string_view name);
    WriteStatus EndObjectDeclaration();
    WriteStatus BeginObjectCall(std::string_view name);
    WriteStatus EndObjectCall();
    WriteStatus WriteShaderName(std::string_view name);
    // Three vertices, each position (3) then normal (3).
    WriteStatus WriteTriangle(const float values[18]);
    // Three vertices, each position (3), normal (3), u, v.
    WriteStatus WriteTriangleUV(const float values[24]);
    WriteStatus WriteScale(float x, float y, float z);
    WriteStatus WriteTranslate(float x, float y, float z);
    WriteStatus WriteRotate(float x, float y, float z);  // degrees about x, y, z

    // ---- mesh file ----
    WriteStatus OpenMeshFile(const std::string& path);  // writes the mesh magic
    WriteStatus CloseMeshFile();
    bool meshFileOpen() const { return mesh_.file != nullptr; }

    WriteStatus BeginMeshDeclaration(std::string_view name);  // 68
    WriteStatus EndMeshDeclaration();                         // 69
    WriteStatus BeginMeshCall(std::string_view name);         // 70
    WriteStatus EndMeshCall();                                // 71
    WriteStatus WriteMeshShaderName(std::string_view name);   // 113
    WriteStatus WriteMeshTriangle(const float values[18]);    // 80
    WriteStatus WriteMeshTriangleUV(const float values[24]);  // 81
    WriteStatus WriteMeshScale(float x, float y, float z);
    WriteStatus WriteMeshTranslate(float x, float y, float z);
    WriteStatus WriteMeshRotate(float x, float y, float z);

  private:
    struct Output {
        std::FILE* file = nullptr;
        bool inDeclaration = false;
    };
    enum class Place { Outside, Inside, Anywhere };

    static WriteStatus open(Output& out, const std::string& path, std::string_view magic, bool version);
    static WriteStatus close(Output& out);
    // Writes the code and its payload in one piece, after checking the declaration rule.
    static WriteStatus record(Output& out, Place place, std::uint8_t code, const void* payload,
                              std::size_t size);
    static WriteStatus name(Output& out, Place place, std::uint8_t code, std::string_view text);
    static WriteStatus vector(Output& out, std::uint8_t code, float x, float y, float z);

    Output scene_;
    Output mesh_;
};

// The 32-byte name field for a text: at most 31 characters, zero padded.
void encodeName(std::string_view text, char field[NameSize]);

}  // namespace quorva::qsb

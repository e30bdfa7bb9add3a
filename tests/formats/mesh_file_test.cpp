// Mesh files: written by the converter's writer, read by ReadMeshFile from ascii scenes, cut short, and
// their messages for bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "formats/byte_reader.h"
#include "formats/writer/qsb_writer.h"
#include "geometry/flat_shapes.h"
#include "geometry/placed_mesh.h"
#include "geometry/solid.h"
#include "scene/parser_fixture.h"
#include "scene/search_path.h"
#include "support/patch_bits.h"
#include "support/run_program.h"
#include "tests/formats/qsb_bytes.h"

namespace quorva {
namespace {

using testing::Bytes;
using testing::meshHeader;

class MeshFile : public ::testing::Test {
  protected:
    void SetUp() override {
        quiet_ = diagnostics().messagesOn;
        diagnostics().messagesOn = false;
    }
    void TearDown() override { diagnostics().messagesOn = quiet_; }

    // Parses the scene text after writing `bytes` as m.msh; "" or the fatal message.
    std::string readMesh(const Bytes& bytes, const std::string& text = "ReadMeshFile \"%s\"\n") {
        testing::writeBytes(path_, bytes);
        std::string scene = text;
        for (std::size_t at; (at = scene.find("%s")) != std::string::npos;) scene.replace(at, 2, path_);
        scene_ = std::make_unique<SceneState>();
        return testing::parseFailure(*scene_,
                                     "Declare red = Shader [ PlainSurface [ Color '1, 0, 0' ] ]\n" + scene);
    }

    testing::TemporaryFolder dir_;
    std::string path_ = dir_.file("m.msh");
    std::unique_ptr<SceneState> scene_;
    bool quiet_ = true;
};

// One mesh declared once, placed by its own call and twice more by name from the ascii scene; a read in
// an if branch not taken reads nothing (the file need not exist).
TEST_F(MeshFile, DeclaredOncePlacedByCallAndByName) {
    qsb::QsbWriter w;
    ASSERT_EQ(w.OpenMeshFile(path_), qsb::WriteStatus::Written);
    const float a[18] = {0, 0, 0, 0, 0, -1, 1, 0, 0, 0, 0, -1, 0, 1, 0, 0, 0, -1};
    const float b[24] = {1, 0, 0, 0, 0, -1, 0, 0, 1, 1, 0, 0, 0, -1, 1, 0, 0, 1, 0, 0, 0, -1, 0, 1};
    EXPECT_EQ(w.WriteMeshTriangle(a), qsb::WriteStatus::Refused);
    EXPECT_EQ(w.BeginMeshDeclaration("quad"), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteMeshShaderName("red"), qsb::WriteStatus::Refused);
    EXPECT_EQ(w.WriteMeshTriangle(a), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteMeshTriangleUV(b), qsb::WriteStatus::Written);
    EXPECT_EQ(w.EndMeshDeclaration(), qsb::WriteStatus::Written);
    EXPECT_EQ(w.BeginMeshCall("quad"), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteMeshShaderName("red"), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteMeshScale(2, 2, 2), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteMeshRotate(0, 0, 0), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteMeshTranslate(0, 0, 3), qsb::WriteStatus::Written);
    EXPECT_EQ(w.EndMeshCall(), qsb::WriteStatus::Written);
    EXPECT_EQ(w.CloseMeshFile(), qsb::WriteStatus::Written);
    EXPECT_EQ(w.EndMeshCall(), qsb::WriteStatus::NoFile);

    std::string bytes = testing::readFile(path_);
    ASSERT_EQ(readMesh(Bytes{bytes},
                       "ReadMeshFile \"%s\"\nquad [ red Translate (5, 0, 0) ]\nquad\n"
                       "if (1 > 2) { ReadMeshFile \"absent.msh\" }\n"),
              "");
    const SymbolEntry* quad = scene_->symbols->lookup("quad");
    ASSERT_TRUE(quad);
    EXPECT_EQ(quad->kind, SymbolKind::Solid);
    ASSERT_EQ(scene_->frame.world.mainList.size(), 3u);  // the mesh, three times
    const Shape& placed = *scene_->frame.world.mainList[1];
    Vec3 corner = pointToWorld(placed.transform.get(), {1, 0, 0});
    EXPECT_NEAR(corner.x, 6, 1e-9);
    // Every placement shares the declaration's triangles and their tree instead of copying them.
    auto mesh = [&](std::size_t i) -> const PlacedMesh& {
        return static_cast<const PlacedMesh&>(*scene_->frame.world.mainList[i]);
    };
    ASSERT_EQ(mesh(0).parts->size(), 2u);
    for (std::size_t i : {1, 2}) {
        EXPECT_EQ(mesh(i).parts, mesh(0).parts);
        EXPECT_EQ(mesh(i).tree, mesh(0).tree);
    }
}

// A grid read from a mesh file keeps each shared corner once; every triangle gives the data and box of a
// patch made from its corners.
TEST_F(MeshFile, SharedCornersAreStoredOnce) {
    qsb::QsbWriter w;
    ASSERT_EQ(w.OpenMeshFile(path_), qsb::WriteStatus::Written);
    ASSERT_EQ(w.BeginMeshDeclaration("grid"), qsb::WriteStatus::Written);
    auto corner = [](int i, int j, float* f) {
        const float c[8] = {0.3f * i, 0.1f * i * j, 0.7f * j, 0.2f, 1, 0.1f * j, 0.25f * i, 0.25f * j};
        std::copy(c, c + 8, f);
    };
    std::vector<std::array<float, 24>> triangles;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (const std::array<int, 6>& t : {std::array{0, 0, 1, 0, 1, 1}, std::array{0, 0, 1, 1, 0, 1}}) {
                std::array<float, 24> f;
                for (int k = 0; k < 3; ++k) corner(i + t[2 * k], j + t[2 * k + 1], f.data() + 8 * k);
                triangles.push_back(f);
                ASSERT_EQ(w.WriteMeshTriangleUV(f.data()), qsb::WriteStatus::Written);
            }
    ASSERT_EQ(w.EndMeshDeclaration(), qsb::WriteStatus::Written);
    ASSERT_EQ(w.CloseMeshFile(), qsb::WriteStatus::Written);
    ASSERT_EQ(readMesh(Bytes{testing::readFile(path_)}, "ReadMeshFile \"%s\"\ngrid\n"), "");
    ASSERT_EQ(scene_->frame.world.mainList.size(), 1u);
    const auto& placed = static_cast<const PlacedMesh&>(*scene_->frame.world.mainList[0]);
    const MeshParts& mesh = *placed.parts;
    ASSERT_EQ(mesh.size(), triangles.size());
    EXPECT_EQ(mesh.corners.size(), 16u);
    for (std::size_t k = 0; k < mesh.size(); ++k) {
        PatchCorner c[3];
        for (int i = 0; i < 3; ++i) {
            const float* f = triangles[k].data() + 8 * i;
            c[i] = {{f[0], f[1], f[2]}, {f[3], f[4], f[5]}, f[6], f[7]};
        }
        PatchData own, data;
        const Box box = setPatchData(own, c[0], c[1], c[2]);
        mesh.patchData(k, data);
        EXPECT_TRUE(testing::samePatchData(data, own)) << k;
        const Box bounds = mesh.bounds(k);
        EXPECT_EQ(std::memcmp(&box, &bounds, sizeof box), 0) << k;
    }
}

// A mesh of triangles alone stays flat until placed. As a CSG operand it becomes the union it stands for
// (its patches then carry the intersection's test); min/max see the same box as that union's; a
// displaced placement is cut into triangles.
TEST_F(MeshFile, FlatMeshActsAsItsUnion) {
    qsb::QsbWriter w;
    ASSERT_EQ(w.OpenMeshFile(path_), qsb::WriteStatus::Written);
    const float a[18] = {0, 0, 0, 0, 0, -1, 1, 0, 0, 0, 0, -1, 0, 1, 0, 0, 0, -1};
    const float b[18] = {1, 0, 0, 0, 0, -1, 1, 1, 0, 0, 0, -1, 0, 1, 0, 0, 0, -1};
    ASSERT_EQ(w.BeginMeshDeclaration("quad"), qsb::WriteStatus::Written);
    ASSERT_EQ(w.WriteMeshTriangle(a), qsb::WriteStatus::Written);
    ASSERT_EQ(w.WriteMeshTriangle(b), qsb::WriteStatus::Written);
    ASSERT_EQ(w.EndMeshDeclaration(), qsb::WriteStatus::Written);
    ASSERT_EQ(w.CloseMeshFile(), qsb::WriteStatus::Written);
    ASSERT_EQ(readMesh(Bytes{testing::readFile(path_)},
                       "ReadMeshFile \"%s\"\n"
                       "Solid [ quad * Shape [ Box ((0.5, -1, -1), (2, 2, 1)) ] ]\n"
                       "quad [ red DisplacementMapping 0 ]\n"),
              "");
    const auto& list = scene_->frame.world.mainList;
    ASSERT_GE(list.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(list[i]->kind, ShapeKind::TriangularPatch);
        ASSERT_TRUE(list[i]->solidTest);
        EXPECT_TRUE(list[i]->solidTest->accepts({0.75, 0.1, 0}));
        EXPECT_FALSE(list[i]->solidTest->accepts({0.25, 0.1, 0}));
    }
    for (std::size_t i = 2; i < list.size(); ++i) EXPECT_NE(list[i]->kind, ShapeKind::TriangularPatch);

    const auto& quad = std::get<std::shared_ptr<const Shape>>(scene_->symbols->lookup("quad")->value);
    std::unique_ptr<Shape> flat = copyShape(*quad), tree = copyShape(*quad);
    ASSERT_TRUE(static_cast<Solid&>(*flat).isFlatMesh());
    static_cast<Solid&>(*tree).expandMesh();
    ASSERT_TRUE(static_cast<Solid&>(*tree).root);
    for (Shape* s : {flat.get(), tree.get()}) s->applyTransform(makeRotate(10, 20, 30));
    const Box flatBox = solidLeafBounds(static_cast<Solid&>(*flat));
    const Box treeBox = solidLeafBounds(static_cast<Solid&>(*tree));
    EXPECT_EQ(flatBox.min, treeBox.min);
    EXPECT_EQ(flatBox.size, treeBox.size);
}

// A cut inside a declaration or a call (even where one of its records ends) is truncated; a cut where an
// item ends cannot be told from a shorter whole file: it reads, without the items after it.
TEST_F(MeshFile, EveryPrefixReadsOrIsTruncated) {
    qsb::QsbWriter w;
    ASSERT_EQ(w.OpenMeshFile(path_), qsb::WriteStatus::Written);
    const float a[18] = {0, 0, 0, 0, 0, -1, 1, 0, 0, 0, 0, -1, 0, 1, 0, 0, 0, -1};
    const float b[24] = {1, 0, 0, 0, 0, -1, 0, 0, 1, 1, 0, 0, 0, -1, 1, 0, 0, 1, 0, 0, 0, -1, 0, 1};
    w.BeginMeshDeclaration("m");
    w.WriteMeshTriangle(a);
    w.WriteMeshTriangleUV(b);
    w.EndMeshDeclaration();
    w.BeginMeshCall("m");
    w.WriteMeshShaderName("red");
    w.WriteMeshTranslate(0, 0, 3);
    w.EndMeshCall();
    ASSERT_EQ(w.CloseMeshFile(), qsb::WriteStatus::Written);
    const std::string file = testing::readFile(path_);
    const std::size_t declarationEnd = qsb::MagicSize + 1 + qsb::NameSize + 73 + 97 + 1;
    ASSERT_EQ(file.size(), declarationEnd + 1 + qsb::NameSize + 1 + qsb::NameSize + 13 + 1);
    const std::string truncated = "MSH file \"" + path_ + "\" is truncated";
    for (std::size_t n = qsb::MagicSize; n <= file.size(); ++n) {
        const bool whole = n == qsb::MagicSize || n == declarationEnd || n == file.size();
        ASSERT_EQ(readMesh(Bytes{file.substr(0, n)}), whole ? "" : truncated) << n;
        if (whole) {
            EXPECT_EQ(scene_->frame.world.mainList.size(), n == file.size() ? 1u : 0u) << n;
        }
    }
}

// A NaN or an infinity in a triangle or a modifier refuses the file, naming the record.
TEST_F(MeshFile, NonFiniteNumbersAreRefused) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const float plain[24] = {0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, 0, -1, 1, 0, 0, 1, 0, 0, 0, -1, 0, 1};
    for (int marked = 0; marked < 3; ++marked) {
        constexpr float Marker = 1234.5f;
        float corners[24];
        std::copy(plain, plain + 24, corners);
        if (marked < 2) corners[marked == 0 ? 13 : 22] = Marker;  // a normal, a texture coordinate
        qsb::QsbWriter w;
        w.OpenMeshFile(path_);
        w.BeginMeshDeclaration("m");
        if (marked == 0)
            w.WriteMeshTriangle(corners);
        else
            w.WriteMeshTriangleUV(corners);
        w.EndMeshDeclaration();
        w.BeginMeshCall("m");
        w.WriteMeshScale(1, 1, marked == 2 ? Marker : 1);
        w.EndMeshCall();
        w.CloseMeshFile();
        const std::string file = testing::readFile(path_);
        ASSERT_EQ(readMesh(Bytes{file}), "") << marked;
        const std::size_t at = file.find(std::string(reinterpret_cast<const char*>(&Marker), 4));
        ASSERT_NE(at, std::string::npos);
        const char* record[] = {"0x50", "0x51", "0x72"};
        for (float bad : {nan, -inf}) {
            std::string damaged = file;
            damaged.replace(at, 4, reinterpret_cast<const char*>(&bad), 4);
            EXPECT_EQ(readMesh(Bytes{damaged}),
                      "Invalid number in MSH file \"" + path_ + "\" (record " + record[marked] + ")");
        }
    }
}

TEST_F(MeshFile, BadInputMessages) {
    Bytes triangle = Bytes().u8(qsb::code::Triangle);
    triangle.data.append(72, '\0');
    const std::pair<Bytes, std::string> cases[] = {
        {Bytes{"QUILLBARROW"}, "\"%s\" is not a Quillbarrow MSH file"},
        {meshHeader().u8(qsb::code::DeclareObject), "Unexpected data while reading MSH file: 0x40"},
        {meshHeader().u8(qsb::code::StartMesh).name("m").u8(qsb::code::Disk),
         "Unexpected data within qlStartMeshDeclaration(): 0x55"},
        {(meshHeader().u8(qsb::code::StartMesh).name("m") += triangle)
             .u8(qsb::code::EndMesh)
             .u8(qsb::code::CallMesh)
             .name("m")
             .u8(qsb::code::ShaderName),
         "Unexpected data within qlCallMesh(): 0x70"},
        {meshHeader().u8(qsb::code::CallMesh).name("none").u8(qsb::code::EndCallMesh),
         "Can't find Shape \"none\" in symbol table"},
        {meshHeader().u8(qsb::code::StartMesh).name("m") += triangle, "MSH file \"%s\" is truncated"},
        {meshHeader().u8(qsb::code::StartMesh).name("m").u8(qsb::code::Triangle).floats({1, 2}),
         "MSH file \"%s\" is truncated"},
    };
    for (const auto& [bytes, expected] : cases) {
        std::string message = expected;
        if (auto at = message.find("%s"); at != std::string::npos) message.replace(at, 2, path_);
        EXPECT_EQ(readMesh(bytes), message) << expected;
    }
    EXPECT_EQ(readMesh(meshHeader(), "ReadMeshFile \"absent.msh\"\n"),
              "Failed to open mesh file \"absent.msh\"");
    // The mesh file's errors name no line of the scene that read it.
    testing::writeBytes(path_, meshHeader().u8(0x99));
    SceneState scene;
    try {
        parseText(scene, "\n\nReadMeshFile \"" + path_ + "\"\n", "t.qsb");
        ADD_FAILURE() << "no error";
    } catch (const FatalError& e) {
        EXPECT_FALSE(e.hasPosition());
        EXPECT_EQ(e.text(), "Unexpected data while reading MSH file: 0x99");
    }
}

// A mesh file several times the reader's buffer reads every triangle as written, and a cut inside a record
// anywhere past the first buffer (the record across its end too) is "truncated".
TEST_F(MeshFile, FileLargerThanTheBufferReadsWholeOrIsTruncated) {
    constexpr std::size_t Triangles = 3 * ByteReader::StreamBuffer / 73;
    auto corners = [](std::size_t k, float* f) {
        const float x = 0.001f * static_cast<float>(k);
        const float c[18] = {x, 0, 0, 0, 0, 1, x, 1, 0, 0, 0, 1, x, 0, 1, 0, 0, 1};
        std::copy(c, c + 18, f);
    };
    Bytes bytes = meshHeader().u8(qsb::code::StartMesh).name("big");
    const std::size_t first = bytes.data.size();
    for (std::size_t k = 0; k < Triangles; ++k) {
        float f[18];
        corners(k, f);
        bytes.u8(qsb::code::Triangle).raw(f);
    }
    bytes.u8(qsb::code::EndMesh);
    ASSERT_EQ(readMesh(bytes, "ReadMeshFile \"%s\"\nbig\n"), "");
    ASSERT_EQ(scene_->frame.world.mainList.size(), 1u);
    const MeshParts& mesh = *static_cast<const PlacedMesh&>(*scene_->frame.world.mainList[0]).parts;
    ASSERT_EQ(mesh.size(), Triangles);
    for (std::size_t k = 0; k < Triangles; ++k) {
        float f[18];
        corners(k, f);
        PatchCorner c[3];
        for (int i = 0; i < 3; ++i) c[i] = {{f[6 * i], f[6 * i + 1], f[6 * i + 2]}, {f[6 * i + 3], f[6 * i + 4], f[6 * i + 5]}};
        PatchData own, data;
        setPatchData(own, c[0], c[1], c[2]);
        mesh.patchData(k, data);
        ASSERT_TRUE(testing::samePatchData(own, data)) << k;
    }
    const std::string truncated = "MSH file \"" + path_ + "\" is truncated";
    // The triangle across the first buffer's end, cut on either side of it, and the last one.
    const std::size_t across = first + (ByteReader::StreamBuffer - first) / 73 * 73;
    ASSERT_TRUE(across + 5 < ByteReader::StreamBuffer && ByteReader::StreamBuffer + 3 < across + 73);
    for (std::size_t n : {across + 5, ByteReader::StreamBuffer + 3, bytes.data.size() - 10, bytes.data.size() - 1})
        EXPECT_EQ(readMesh(Bytes{bytes.data.substr(0, n)}), truncated) << n;
}

// Streamed through a buffer smaller than its reads, a file gives the bytes it holds in memory, and the
// same end: has() and a read past it agree with the in-memory reader.
TEST(ByteReader, StreamedReadsMatchTheBytesInMemory) {
    testing::TemporaryFolder dir;
    const std::string path = dir.file("b.bin");
    std::vector<std::uint8_t> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    testing::writeBytes(path, Bytes{std::string(bytes.begin(), bytes.end())});
    for (std::size_t buffer : {1, 3, 64, 4096}) {
        ByteReader file(path, true, "b", buffer), memory(bytes, 0, true, "b");
        ASSERT_TRUE(file.opened());
        for (std::size_t n = 1; !memory.atEnd(); n = n % 37 + 1) {
            ASSERT_FALSE(file.atEnd());
            const std::size_t left = bytes.size() - static_cast<std::size_t>(memory.take(0) - bytes.data());
            ASSERT_EQ(file.has(n), memory.has(n)) << buffer;
            if (n > left) {
                EXPECT_THROW(file.take(n), FatalError);
                break;
            }
            ASSERT_EQ(std::memcmp(file.take(n), memory.take(n), n), 0) << buffer;
        }
    }
    EXPECT_FALSE(ByteReader(dir.file("absent.bin"), true, "absent").opened());
}

}  // namespace
}  // namespace quorva

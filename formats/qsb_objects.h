// The object records both binary formats share: declarations of composite objects, the primitives
// they are made of, and calls that place a copy of a declared object with its modifiers.
//
// A declared object is a Solid joining its primitives by the union that keeps inner surfaces; it is
// entered in the symbol table as a declared solid and placed only by calls. Every primitive is built by
// the same shape factories the scene statements call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/byte_reader.h"
#include "geometry/flat_shapes.h"

namespace quorva {

class Shape;
struct SceneState;

class ObjectReader {
  public:
    // A reader over a mesh file (ByteReader::meshFile) takes the mesh codes, primitive subset and messages.
    ObjectReader(ByteReader& in, SceneState& scene) : in_(in), scene_(scene), mesh_(in.meshFile()) {}

    // After code 64 (68 in a mesh file): a name, primitives up to 65 (69).
    void readDeclaration();
    // After code 66 (70): a name, modifiers up to 67 (71); then a copy of the object goes to the world.
    void readCall();
    // After code 74: one primitive record, modifiers up to 67; the primitive goes to the world.
    void readPlacedPrimitive();

  private:
    // Reads the payload of primitive `code` into `parts` (nothing when its factory builds no shape). False
    // when `code` is not a primitive of this file.
    bool readPrimitive(std::uint8_t code, std::vector<std::unique_ptr<Shape>>& parts);
    // Reads modifiers up to the call's end code and applies them to `shape` (may be null).
    void readModifiers(Shape* shape);
    // Applies the modifier of `code`; false when `code` is not one.
    bool readModifier(std::uint8_t code, Shape* shape);
    void place(std::unique_ptr<Shape> shape);
    [[noreturn]] void unexpectedInDeclaration(std::uint8_t code) const;
    [[noreturn]] void unexpectedInCall(std::uint8_t code) const;

    ByteReader& in_;
    SceneState& scene_;
    bool mesh_;
    PatchDataBlocks patchBlocks_;  // the triangles' data, a block shared by many patches
};

}  // namespace quorva

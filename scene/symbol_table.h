// The symbol table: declared names with their chains of entries (newest first), kept across include
// files and, for static entries, across the frames of an animation.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "geometry/transform.h"
#include "scene/request.h"
#include "shading/shader.h"

namespace quorva {

// Value kinds of a declared name.
enum class SymbolKind : int {
    Expression = 150,
    Solid = 151,
    ParticleGenerator = 152,
    Reserved = 153,
    FunctionalSurface = 154,
    PlainSurface = 155,
    PatternSurface = 156,
    Shader = 157,
    TransformationStack = 158,
    ShaderSpectrum = 159,
};

class Shape;
struct ParticleGeneratorDefinition;  // particle generators (placeholder until they land)

// The value of a declared name, by kind: an expression, a declared Solid (instanced with copyShape), a
// surface description, a shader, a transformation stack, a shader spectrum or a particle generator.
using SymbolValue =
    std::variant<std::monostate, RequestPtr, std::shared_ptr<const Shape>, std::shared_ptr<const SurfaceDescription>,
                 std::shared_ptr<const Shader>, std::shared_ptr<const Transform>,
                 std::shared_ptr<const ShaderSpectrum>, std::shared_ptr<const ParticleGeneratorDefinition>>;

struct SymbolEntry {
    std::string name;
    SymbolKind kind = SymbolKind::Expression;
    bool isStatic = false;
    SymbolValue value;
};

class SymbolTable {
public:
    // Newest entry of a name, or null.
    const SymbolEntry* lookup(const std::string& name) const;
    // Pushes an entry in front of the name's chain.
    SymbolEntry& insert(SymbolEntry entry);
    std::size_t size() const;
    // End of a frame that is not the last: keep only the static entries.
    void keepStaticEntries();
    void clear();

private:
    std::map<std::string, std::vector<SymbolEntry>> chains_;  // per name, oldest first
};

}  // namespace quorva

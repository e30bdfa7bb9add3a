// The symbol table: declared names with their chains of entries (newest first), kept across include
// files and, for static entries, across the frames of an animation.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "eval/request.h"
#include "geometry/transform.h"
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
struct EvalContext;
struct ParticleGeneratorDefinition;  // scene/particles.h

// The value of a declared name, by kind: an expression, a declared Solid (instanced with copyShape), a
// surface description, a shader, a transformation stack, a shader spectrum or a particle generator.
using SymbolValue = std::variant<std::monostate, RequestPtr, std::shared_ptr<const Shape>,
                                 std::shared_ptr<const SurfaceDescription>, std::shared_ptr<const Shader>,
                                 std::shared_ptr<const Transform>, std::shared_ptr<const ShaderSpectrum>,
                                 std::shared_ptr<const ParticleGeneratorDefinition>>;

struct SymbolEntry {
    std::string name;
    SymbolKind kind = SymbolKind::Expression;
    bool isStatic = false;
    SymbolValue value;
};

// True for the nine kinds a name can be declared with (153 is reserved and never valid).
constexpr bool isKnownSymbolKind(int kind) {
    return kind >= 150 && kind <= 159 && kind != 153;
}

// The three declaration words of the language.
enum class DeclarationWord {
    Declare,  // Declare / let: expressions are evaluated at once
    New,      // kept unevaluated, evaluated again at every use
    Static,   // only while CurrentFrame equals FirstFrame; kept unevaluated and across frames
};

class SymbolTable {
  public:
    // Newest entry of a name, or null. Entries never move while they exist, so the pointer stays valid
    // until the entry is dropped (a later declaration of the same name does not invalidate it).
    const SymbolEntry* lookup(std::string_view name) const;
    // Pushes an entry in front of the name's chain.
    SymbolEntry& insert(SymbolEntry entry);

    // The declare algorithm. A static declaration of an existing name replaces the value of its newest
    // entry in place; otherwise a new entry shadows the earlier ones. An expression that is not kept
    // unevaluated is evaluated now with `ctx`: a number or vector result is stored as a constant, any
    // other result keeps the tree.
    SymbolEntry& declare(const std::string& name, SymbolKind kind, SymbolValue value, bool isStatic,
                         bool keepUnevaluated, const EvalContext& ctx);
    // A declaration statement: Declare evaluates, new keeps the tree, static acts only in the first
    // frame (CurrentFrame == FirstFrame, read from ctx.frames; always when that is null). Returns the
    // entry, or null when a static declaration was skipped.
    SymbolEntry* declare(DeclarationWord word, const std::string& name, SymbolKind kind, SymbolValue value,
                         const EvalContext& ctx);

    // Number of entries of all names, and of one name (its chain length).
    std::size_t size() const;
    std::size_t count(std::string_view name) const;
    // End of a frame that is not the last: keep only the static entries.
    void keepStaticEntries();
    void clear();

  private:
    // Per name, oldest first; the newest entry is the back.
    std::map<std::string, std::vector<std::unique_ptr<SymbolEntry>>, std::less<>> chains_;
};

}  // namespace quorva

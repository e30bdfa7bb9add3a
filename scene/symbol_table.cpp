// The symbol table and the declare algorithm.
#include "scene/symbol_table.h"

#include "eval/value.h"
#include "trace/options.h"

namespace quorva {

const SymbolEntry* SymbolTable::lookup(std::string_view name) const {
    auto it = chains_.find(name);
    return it == chains_.end() || it->second.empty() ? nullptr : it->second.back().get();
}

SymbolEntry& SymbolTable::insert(SymbolEntry entry) {
    auto it = chains_.find(std::string_view(entry.name));
    if (it == chains_.end())
        it = chains_.emplace(entry.name, std::vector<std::unique_ptr<SymbolEntry>>{}).first;
    it->second.push_back(std::make_unique<SymbolEntry>(std::move(entry)));
    return *it->second.back();
}

SymbolEntry& SymbolTable::declare(const std::string& name, SymbolKind kind, SymbolValue value, bool isStatic,
                                  bool keepUnevaluated, const EvalContext& ctx) {
    // An expression declared to be evaluated at once is stored as a constant when it yields one.
    if (kind == SymbolKind::Expression && !keepUnevaluated) {
        if (const auto* tree = std::get_if<RequestPtr>(&value); tree && *tree) {
            Value result = evaluate(ctx, tree->get());
            if (result.isNumber())
                value = makeFloatRequest(result.number);
            else if (result.isVector())
                value = makeVectorRequest(result.vector, result.fourth, result.fourth != 0);
        }
    }
    if (isStatic) {
        auto it = chains_.find(std::string_view(name));
        if (it != chains_.end() && !it->second.empty()) {
            SymbolEntry& entry = *it->second.back();
            entry.kind = kind;
            entry.isStatic = true;
            entry.value = std::move(value);
            return entry;
        }
    }
    return insert(SymbolEntry{name, kind, isStatic, std::move(value)});
}

SymbolEntry* SymbolTable::declare(DeclarationWord word, const std::string& name, SymbolKind kind,
                                  SymbolValue value, const EvalContext& ctx) {
    switch (word) {
        case DeclarationWord::Declare:
            return &declare(name, kind, std::move(value), false, false, ctx);
        case DeclarationWord::New:
            return &declare(name, kind, std::move(value), false, true, ctx);
        case DeclarationWord::Static:
            if (ctx.frames && ctx.frames->currentFrame != ctx.frames->firstFrame) return nullptr;
            return &declare(name, kind, std::move(value), true, true, ctx);
    }
    return nullptr;
}

std::size_t SymbolTable::size() const {
    std::size_t n = 0;
    for (const auto& [name, chain] : chains_) n += chain.size();
    return n;
}

std::size_t SymbolTable::count(std::string_view name) const {
    auto it = chains_.find(name);
    return it == chains_.end() ? 0 : it->second.size();
}

void SymbolTable::keepStaticEntries() {
    for (auto it = chains_.begin(); it != chains_.end();) {
        auto& chain = it->second;
        std::erase_if(chain, [](const std::unique_ptr<SymbolEntry>& e) { return !e->isStatic; });
        it = chain.empty() ? chains_.erase(it) : std::next(it);
    }
}

void SymbolTable::clear() {
    chains_.clear();
}

}  // namespace quorva

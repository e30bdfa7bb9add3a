// Minimal bodies of the scene-language interfaces until the language lands.
#include "diagnostics/diagnostics.h"
#include "scene/request.h"
#include "scene/search_path.h"
#include "scene/symbol_table.h"
#include "scene/value.h"

namespace quorva {

RequestPtr makeFloatRequest(double value) {
    auto r = std::make_shared<Request>();
    r->kind = RequestKind::Float;
    r->number = value;
    return r;
}

RequestPtr makeVectorRequest(const Vec3& value, double fourth, bool hasFourth) {
    auto r = std::make_shared<Request>();
    r->kind = RequestKind::Vector;
    r->vector = value;
    r->fourth = fourth;
    r->hasFourth = hasFourth;
    return r;
}

Value evaluate(const EvalContext&, const Request* node) {
    if (!node) fatal("(internal failure 0x2f) NULL request unexpected");
    if (node->kind == RequestKind::Float) return Value::ofNumber(node->number);
    if (node->kind == RequestKind::Vector) return Value::ofVector(node->vector, node->fourth);
    return Value::none();
}

bool isConstantRequest(const Request& request) {
    return request.kind == RequestKind::Float || request.kind == RequestKind::Vector;
}

const SymbolEntry* SymbolTable::lookup(const std::string& name) const {
    auto it = chains_.find(name);
    return it == chains_.end() || it->second.empty() ? nullptr : &it->second.back();
}
SymbolEntry& SymbolTable::insert(SymbolEntry entry) {
    auto& chain = chains_[entry.name];
    chain.push_back(std::move(entry));
    return chain.back();
}
std::size_t SymbolTable::size() const {
    std::size_t n = 0;
    for (auto& [k, v] : chains_) n += v.size();
    return n;
}
void SymbolTable::keepStaticEntries() {
    for (auto it = chains_.begin(); it != chains_.end();) {
        auto& chain = it->second;
        std::erase_if(chain, [](const SymbolEntry& e) { return !e.isStatic; });
        it = chain.empty() ? chains_.erase(it) : std::next(it);
    }
}
void SymbolTable::clear() { chains_.clear(); }

void SearchPath::reset() { entries_.assign(1, ""); }
std::FILE* SearchPath::open(const std::string& name, const char* mode, std::string* foundPath) const {
    std::FILE* f = std::fopen(name.c_str(), mode);
    if (f && foundPath) *foundPath = name;
    return f;
}
std::string SearchPath::find(const std::string& name) const {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return "";
    std::fclose(f);
    return name;
}
SearchPath& searchPath() {
    static SearchPath path;
    return path;
}

}  // namespace quorva

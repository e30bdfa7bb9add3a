// The lexer: reads each ascii file whole into memory and scans it with plain pointer loops; keeps the
// include stack and the input position every message reports.
#include "scene/lexer.h"

#include <sys/stat.h>

#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "diagnostics/internal_failure.h"
#include "scene/keywords.h"
#include "scene/search_path.h"
#include "scene/symbol_table.h"

namespace quorva {

namespace {

// One open file of the include stack. The text is read whole when the level is opened, so the scan
// never waits on the stream and a look-ahead to the end of the file costs nothing.
struct Level {
    std::string name;
    std::string text;
    std::size_t pos = 0;
    int savedLine = 0;  // the including level's line when this level was opened
};

inline bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
inline bool isWordChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '_';
}

// Reads a whole stream; false on a read error.
bool readAll(std::FILE* f, std::string& out) {
    out.clear();
    char buffer[1 << 16];
    for (;;) {
        std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
        out.append(buffer, n);
        if (n < sizeof buffer) return !std::ferror(f);
    }
}

// Only regular files are read: a device or a pipe (/dev/zero) may never end, and a folder holds no
// text.
bool isRegularFile(std::FILE* f) {
    struct stat st;
    return fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
}

// Reads a whole file of known size in one call when the stream can tell its size.
bool readFile(std::FILE* f, std::string& out) {
    if (std::fseek(f, 0, SEEK_END) == 0) {
        long size = std::ftell(f);
        if (size >= 0 && std::fseek(f, 0, SEEK_SET) == 0) {
            out.resize(static_cast<std::size_t>(size));
            std::size_t n = size > 0 ? std::fread(out.data(), 1, out.size(), f) : 0;
            out.resize(n);
            if (std::ferror(f)) return false;
            // A file that grew meanwhile: take the rest too.
            std::string rest;
            if (!readAll(f, rest)) return false;
            out += rest;
            return true;
        }
    }
    std::clearerr(f);
    return readAll(f, out);
}

}  // namespace

struct Lexer::Impl {
    std::array<Level, MaxIncludeDepth> levels;
    int depth = 0;  // open levels; 0 when no ascii file is being read
    int line = 0;
    bool installed = false;

    void reset() {
        for (int i = 0; i < depth; ++i) {
            levels[i].text = std::string();
            levels[i].name.clear();
        }
        depth = 0;
        line = 0;
    }

    // The current file ended: resume the including file at its saved line, or end the input.
    void popLevel() {
        Level& finished = levels[depth - 1];
        finished.text = std::string();  // free the buffer
        --depth;
        if (depth > 0) {
            line = finished.savedLine;
            finished.name.clear();
        }
    }

    Token scanNumberOrWord(const char* begin, const char* p, const char* end, const SymbolTable& symbols);
    Token classify(std::string_view word, const SymbolTable& symbols);
};

Lexer::Lexer() : impl_(new Impl) {}

Lexer::~Lexer() {
    close();
    delete impl_;
}

void Lexer::open(const std::string& name) {
    close();
    Level& level = impl_->levels[0];
    if (name.empty()) {
        if (!readAll(stdin, level.text)) fatal("Failed to open ascii file \"%s\"", name.c_str());
        level.name = "<stdin>";
    } else {
        std::FILE* f = std::fopen(name.c_str(), "r");
        if (!f) fatal("Failed to open ascii file \"%s\"", name.c_str());
        if (!isRegularFile(f)) {
            std::fclose(f);
            fatal("Ascii file \"%s\" is not a regular file", name.c_str());
        }
        bool ok = readFile(f, level.text);
        if (std::fclose(f) != 0) fatal("Failed to close file \"%s\"", name.c_str());
        if (!ok) fatal("Failed to open ascii file \"%s\"", name.c_str());
        level.name = name;
    }
    level.pos = 0;
    level.savedLine = 0;
    impl_->depth = 1;
    impl_->line = 1;
    diagnostics().position = this;
    impl_->installed = true;
}

void Lexer::openText(const std::string& text, const std::string& name) {
    close();
    Level& level = impl_->levels[0];
    level.text = text;
    level.name = name;
    level.pos = 0;
    level.savedLine = 0;
    impl_->depth = 1;
    impl_->line = 1;
    diagnostics().position = this;
    impl_->installed = true;
}

void Lexer::pushInclude(const std::string& name) {
    Impl& s = *impl_;
    if (s.depth >= MaxIncludeDepth) {
        // The stack is full: the include is refused and reading goes on in the current file.
        warning("Stack overflow in ReadArchive\"%s\"", name.c_str());
        return;
    }
    std::string found;
    std::FILE* f = searchPath().open(name, "r", &found);
    if (!f) fatal("Failed to read file \"%s\"", name.c_str());
    if (!isRegularFile(f)) {
        std::fclose(f);
        fatal("ReadArchive file \"%s\" is not a regular file", name.c_str());
    }
    Level& level = s.levels[s.depth];
    bool ok = readFile(f, level.text);
    if (std::fclose(f) != 0) fatal("Failed to close file \"%s\"", name.c_str());
    if (!ok) fatal("Failed to read file \"%s\"", name.c_str());
    level.name = name;
    level.pos = 0;
    level.savedLine = s.line;
    ++s.depth;
    s.line = 1;
}

void Lexer::close() {
    impl_->reset();
    if (impl_->installed && diagnostics().position == this) diagnostics().position = nullptr;
    impl_->installed = false;
}

bool Lexer::active() const {
    return impl_->depth > 0;
}

std::string Lexer::fileName() const {
    return impl_->depth > 0 ? impl_->levels[impl_->depth - 1].name : "";
}

int Lexer::line() const {
    return impl_->line;
}

int Lexer::depth() const {
    return impl_->depth;
}

Token Lexer::Impl::classify(std::string_view word, const SymbolTable& symbols) {
    Token t;
    if (auto k = findKeyword(word)) {
        t.kind = static_cast<int>(TokenKind::Keyword);
        t.keyword = *k;
        return t;
    }
    t.text.assign(word);
    if (const SymbolEntry* entry = symbols.lookup(word)) {
        if (!std::holds_alternative<std::monostate>(entry->value)) {
            if (!isKnownSymbolKind(static_cast<int>(entry->kind)))
                internalFailure(InternalFailure::BadSymbolType, "Bad type (%d) in symbol table \"%s\"",
                                static_cast<int>(entry->kind), t.text.c_str());
            t.kind = static_cast<int>(TokenKind::DeclaredName);
            t.symbol = entry;
            return t;
        }
    }
    t.kind = static_cast<int>(TokenKind::NewName);
    return t;
}

// At a digit or at '.' followed by a digit: the number pattern against the word pattern, the longer
// match winning and the number winning a tie (so 9abc and 1e are words, 1.5E3 is 1.5 then E3).
Token Lexer::Impl::scanNumberOrWord(const char* begin, const char* p, const char* end,
                                    const SymbolTable& symbols) {
    const char* q = p;
    while (q < end && isDigit(*q)) ++q;
    if (q < end && *q == '.') {
        ++q;
        while (q < end && isDigit(*q)) ++q;
    }
    if (q < end && *q == 'e') {
        const char* r = q + 1;
        if (r < end && (*r == '+' || *r == '-')) ++r;
        if (r < end && isDigit(*r)) {
            while (r < end && isDigit(*r)) ++r;
            q = r;
        }
    }
    const char* w = p;
    while (w < end && isWordChar(*w)) ++w;
    Level& level = levels[depth - 1];
    if (w > q) {
        level.pos = static_cast<std::size_t>(w - begin);
        return classify(std::string_view(p, static_cast<std::size_t>(w - p)), symbols);
    }
    level.pos = static_cast<std::size_t>(q - begin);
    Token t;
    t.kind = static_cast<int>(TokenKind::Number);
    auto [last, ec] = std::from_chars(p, q, t.number, std::chars_format::general);
    if (ec != std::errc() || last != q) {
        // Out of range (1e999) and the like: the standard conversion's result (infinity or 0).
        std::string copy(p, q);
        t.number = std::strtod(copy.c_str(), nullptr);
    }
    return t;
}

Token Lexer::next(const SymbolTable& symbols) {
    Impl& s = *impl_;
    for (;;) {
        if (s.depth == 0) return Token{};
        Level& level = s.levels[s.depth - 1];
        const char* begin = level.text.data();
        const char* end = begin + level.text.size();
        const char* p = begin + level.pos;

        // Blanks, tabs, carriage returns, newlines and bytes outside 7-bit ascii (and NUL, which would
        // otherwise read as the end of the input) are skipped.
        while (p < end) {
            unsigned char c = static_cast<unsigned char>(*p);
            if (c == '\n')
                ++s.line;
            else if (!(c == ' ' || c == '\t' || c == '\r' || c == 0 || c > 127))
                break;
            ++p;
        }
        if (p == end) {
            s.popLevel();
            continue;
        }

        unsigned char c = static_cast<unsigned char>(*p);
        auto single = [&](int kind, std::size_t length) {
            level.pos = static_cast<std::size_t>(p - begin) + length;
            Token t;
            t.kind = kind;
            return t;
        };

        if (c == '/' && p + 1 < end && p[1] == '*') {
            const char* q = p + 2;
            for (;; ++q) {
                if (q + 1 >= end) {
                    for (; q < end; ++q)
                        if (*q == '\n') ++s.line;
                    level.pos = level.text.size();
                    fatal("Unexpected EOF");
                }
                if (*q == '\n') ++s.line;
                if (q[0] == '*' && q[1] == '/') break;
            }
            level.pos = static_cast<std::size_t>(q + 2 - begin);
            continue;
        }
        if (c == '/' && p + 1 < end && p[1] == '/') {
            // A line comment needs its newline; without one before the end of the file the two
            // slashes are ordinary characters.
            const void* nl = std::memchr(p + 2, '\n', static_cast<std::size_t>(end - p - 2));
            if (nl) {
                ++s.line;
                level.pos = static_cast<std::size_t>(static_cast<const char*>(nl) + 1 - begin);
                continue;
            }
            return single('/', 1);
        }
        if (c == '"') {
            const char* q = p + 1;
            while (q < end && *q != '"' && *q != '\n') ++q;
            if (q < end && *q == '"') {
                level.pos = static_cast<std::size_t>(q + 1 - begin);
                Token t;
                t.kind = static_cast<int>(TokenKind::String);
                t.text.assign(p + 1, q);
                return t;
            }
            return single('"', 1);  // an unclosed quote
        }
        if (isDigit(c) || (c == '.' && p + 1 < end && isDigit(p[1]))) {
            if (c == '.') {
                // '.' digits [exponent]: no word can start with '.', so this is a number.
                const char* q = p + 1;
                while (q < end && isDigit(*q)) ++q;
                if (q < end && *q == 'e') {
                    const char* r = q + 1;
                    if (r < end && (*r == '+' || *r == '-')) ++r;
                    if (r < end && isDigit(*r)) {
                        while (r < end && isDigit(*r)) ++r;
                        q = r;
                    }
                }
                level.pos = static_cast<std::size_t>(q - begin);
                Token t;
                t.kind = static_cast<int>(TokenKind::Number);
                auto [last, ec] = std::from_chars(p, q, t.number, std::chars_format::general);
                if (ec != std::errc() || last != q) {
                    std::string copy(p, q);
                    t.number = std::strtod(copy.c_str(), nullptr);
                }
                return t;
            }
            return s.scanNumberOrWord(begin, p, end, symbols);
        }
        if (isWordChar(c)) {
            const char* q = p;
            while (q < end && isWordChar(*q)) ++q;
            level.pos = static_cast<std::size_t>(q - begin);
            return s.classify(std::string_view(p, static_cast<std::size_t>(q - p)), symbols);
        }
        if (p + 1 < end) {
            char d = p[1];
            if (c == '&' && d == '&') return single(static_cast<int>(TokenKind::AndAnd), 2);
            if (c == '|' && d == '|') return single(static_cast<int>(TokenKind::OrOr), 2);
            if (d == '=') {
                if (c == '<') return single(static_cast<int>(TokenKind::LessEqual), 2);
                if (c == '>') return single(static_cast<int>(TokenKind::GreaterEqual), 2);
                if (c == '=') return single(static_cast<int>(TokenKind::EqualEqual), 2);
                if (c == '!') return single(static_cast<int>(TokenKind::NotEqual), 2);
            }
        }
        return single(c, 1);
    }
}

}  // namespace quorva

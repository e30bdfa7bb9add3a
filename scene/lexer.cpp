// The lexer: reads each ascii file through a bounded buffer that is refilled as the scan moves on, and
// scans it with plain pointer loops; keeps the include stack and the input position every message
// reports.
#include "scene/lexer.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "diagnostics/internal_failure.h"
#include "scene/keywords.h"
#include "scene/search_path.h"
#include "scene/symbol_table.h"

namespace quorva {

namespace {

// One open level of the include stack: a window on its file. The bytes in [0, used) are the text read
// but not yet consumed from `pos` on; a NUL follows them, so the scan loops stop at the window's end
// without a bound test of their own (a NUL in the text is told apart by its address). A token that
// reaches the end of the window before the end of the file is scanned again once more text is read, so
// a token never depends on where the reads split the file.
struct Level {
    std::string name;
    std::unique_ptr<char[]> data;
    std::size_t capacity = 0;  // bytes the window holds (one more is allocated for the NUL)
    std::size_t used = 0;
    std::size_t pos = 0;
    std::FILE* file = nullptr;  // null once the file is read to its end (and for in-memory text)
    bool eof = true;
    bool include = false;    // a ReadArchive level (its read failures are worded for includes)
    bool fromStdin = false;  // standard input is never closed
    int savedLine = 0;       // the including level's line when this level was opened

    void allocate(std::size_t size) {
        data.reset(new char[size + 1]);
        capacity = size;
        used = pos = 0;
        data[0] = 0;
    }

    void release() {
        if (file && !fromStdin) std::fclose(file);
        file = nullptr;
        data.reset();
        capacity = used = pos = 0;
        eof = true;
        name.clear();
    }
};

inline bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// Byte classes of the scan: bytes skipped between tokens, the newline, and bytes that start a token.
enum : unsigned char { TokenByte = 0, SkippedByte = 1, NewlineByte = 2, WordByte = 4 };

constexpr std::array<unsigned char, 256> makeClasses() {
    std::array<unsigned char, 256> t{};
    for (int c = 128; c < 256; ++c) t[c] = SkippedByte;
    t[0] = t[' '] = t['\t'] = t['\r'] = SkippedByte;
    t['\n'] = NewlineByte;
    for (int c = 'a'; c <= 'z'; ++c) t[c] = WordByte;
    for (int c = 'A'; c <= 'Z'; ++c) t[c] = WordByte;
    for (int c = '0'; c <= '9'; ++c) t[c] = WordByte;
    t['_'] = WordByte;
    return t;
}
constexpr std::array<unsigned char, 256> Classes = makeClasses();

inline bool isWordChar(unsigned char c) {
    return Classes[c] == WordByte;
}

// Only regular files are read: a device or a pipe (/dev/zero) may never end, and a folder holds no
// text.
bool isRegularFile(std::FILE* f) {
    struct stat st;
    return fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
}

// The end of the digits, the optional fraction and the optional exponent (lower-case e, an optional
// sign, at least one digit) from p; `reach` is the furthest byte looked at.
const char* scanNumber(const char* p, const char*& reach) {
    const char* q = p;
    while (isDigit(*q)) ++q;
    if (*q == '.') {
        ++q;
        while (isDigit(*q)) ++q;
    }
    reach = q;
    if (*q == 'e') {
        const char* r = q + 1;
        if (*r == '+' || *r == '-') ++r;
        reach = r;
        if (isDigit(*r)) {
            while (isDigit(*r)) ++r;
            q = reach = r;
        }
    }
    return q;
}

// Exact powers of ten: every one up to 1e22 is a double.
constexpr double ExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The value of a number the scan matched (digits, an optional fraction, an optional exponent).
double toNumber(const char* p, const char* q) {
    // Most numbers are m * 10^e with at most 19 digits, m < 2^53 and |e| <= 22: m and 10^|e| are
    // exact doubles, so one multiply or divide, rounded once, is the correctly rounded value that the
    // full conversion gives too.
    std::uint64_t m = 0;
    int digits = 0;
    int exponent = 0;
    const char* s = p;
    for (; s < q && isDigit(*s); ++s, ++digits) m = m * 10 + static_cast<unsigned>(*s - '0');
    if (s < q && *s == '.')
        for (++s; s < q && isDigit(*s); ++s, ++digits, --exponent)
            m = m * 10 + static_cast<unsigned>(*s - '0');
    if (s < q) {  // the exponent
        ++s;
        const bool negative = *s == '-';
        if (*s == '+' || *s == '-') ++s;
        int e = 0;
        for (; s < q; ++s)
            if (e < 100000) e = e * 10 + (*s - '0');
        exponent += negative ? -e : e;
    }
    if (digits <= 19 && m < (std::uint64_t(1) << 53) && exponent >= -22 && exponent <= 22) {
        const double mantissa = static_cast<double>(m);
        return exponent < 0 ? mantissa / ExactPowersOfTen[-exponent] : mantissa * ExactPowersOfTen[exponent];
    }
    double value = 0;
    auto [last, ec] = std::from_chars(p, q, value, std::chars_format::general);
    if (ec != std::errc() || last != q) {
        // Out of range (1e999) and the like: the standard conversion's result (infinity or 0).
        std::string copy(p, q);
        value = std::strtod(copy.c_str(), nullptr);
    }
    return value;
}

}  // namespace

struct Lexer::Impl {
    std::array<Level, MaxIncludeDepth> levels;
    std::size_t bufferSize = DefaultBufferSize;
    int depth = 0;  // open levels; 0 when no ascii file is being read
    int line = 0;
    bool installed = false;

    void reset() {
        for (int i = 0; i < depth; ++i) levels[i].release();
        depth = 0;
        line = 0;
    }

    // The current file ended: resume the including file at its saved line, or end the input.
    void popLevel() {
        Level& finished = levels[depth - 1];
        finished.release();  // frees the window
        --depth;
        if (depth > 0) line = finished.savedLine;
    }

    void startLevel(Level& level, std::FILE* f, const std::string& name) {
        level.allocate(bufferSize);
        level.file = f;
        level.eof = false;
        level.name = name;
        refill(level);
    }

    [[noreturn]] static void readFailure(const Level& level) {
        if (level.include) fatal("Failed to read file \"%s\"", level.name.c_str());
        fatal("Failed to open ascii file \"%s\"", level.fromStdin ? "" : level.name.c_str());
    }

    // Moves the unread bytes to the front of the window and reads more behind them. The window grows
    // while the unread part fills half of it (a long token or a line comment looking for its newline)
    // and shrinks back once it is small again. At the end of the file the file is closed.
    void refill(Level& level) {
        const std::size_t keep = level.used - level.pos;
        if (keep * 2 > level.capacity || (level.capacity > bufferSize && keep * 2 <= bufferSize)) {
            const std::size_t size =
                std::max(keep * 2 > level.capacity ? level.capacity * 2 : bufferSize, keep + 1);
            std::unique_ptr<char[]> grown(new char[size + 1]);
            std::memcpy(grown.get(), level.data.get() + level.pos, keep);
            level.data = std::move(grown);
            level.capacity = size;
        } else if (keep > 0 && level.pos > 0) {
            std::memmove(level.data.get(), level.data.get() + level.pos, keep);
        }
        level.pos = 0;
        level.used = keep;
        const std::size_t wanted = level.capacity - keep;
        const std::size_t n = std::fread(level.data.get() + keep, 1, wanted, level.file);
        level.used += n;
        level.data[level.used] = 0;
        if (n < wanted) {
            if (std::ferror(level.file)) readFailure(level);
            level.eof = true;
            std::FILE* f = level.file;
            level.file = nullptr;
            if (!level.fromStdin && std::fclose(f) != 0)
                fatal("Failed to close file \"%s\"", level.name.c_str());
        }
    }

    Token classify(std::string_view word, const SymbolTable& symbols);
};

Lexer::Lexer(std::size_t bufferSize) : impl_(new Impl) {
    impl_->bufferSize = std::max<std::size_t>(bufferSize, 1);
}

Lexer::~Lexer() {
    close();
    delete impl_;
}

void Lexer::open(const std::string& name) {
    close();
    Level& level = impl_->levels[0];
    level.include = false;
    level.fromStdin = name.empty();
    std::FILE* f = stdin;
    if (!name.empty()) {
        f = std::fopen(name.c_str(), "r");
        if (!f) fatal("Failed to open ascii file \"%s\"", name.c_str());
        if (!isRegularFile(f)) {
            std::fclose(f);
            fatal("Ascii file \"%s\" is not a regular file", name.c_str());
        }
    }
    // The first read is made here, so a file that fits the window is read and closed at once.
    try {
        impl_->startLevel(level, f, name.empty() ? "<stdin>" : name);
    } catch (...) {
        level.release();
        throw;
    }
    level.savedLine = 0;
    impl_->depth = 1;
    impl_->line = 1;
    diagnostics().position = this;
    impl_->installed = true;
}

void Lexer::openText(const std::string& text, const std::string& name) {
    close();
    Level& level = impl_->levels[0];
    level.allocate(text.size());
    std::memcpy(level.data.get(), text.data(), text.size());
    level.used = text.size();
    level.data[level.used] = 0;
    level.eof = true;
    level.include = false;
    level.fromStdin = false;
    level.name = name;
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
    level.include = true;
    level.fromStdin = false;
    try {
        s.startLevel(level, f, name);
    } catch (...) {
        level.release();
        throw;
    }
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

Token Lexer::next(const SymbolTable& symbols) {
    Impl& s = *impl_;
    for (;;) {
        if (s.depth == 0) return Token{};
        Level& level = s.levels[s.depth - 1];
        const char* begin = level.data.get();
        const char* end = begin + level.used;
        const char* p = begin + level.pos;

        // Blanks, tabs, carriage returns, newlines and bytes outside 7-bit ascii (and NUL, which would
        // otherwise read as the end of the input) are skipped.
        for (;; ++p) {
            unsigned char cls = Classes[static_cast<unsigned char>(*p)];
            if (cls == NewlineByte)
                ++s.line;
            else if (cls != SkippedByte || p == end)
                break;
        }
        level.pos = static_cast<std::size_t>(p - begin);
        // Scanned again with more text when the bytes a decision needs run past the window.
        auto needMore = [&](const char* reach) { return reach >= end && !level.eof; };
        if (p == end) {
            if (level.eof)
                s.popLevel();
            else
                s.refill(level);
            continue;
        }
        // Every token decides on its first two bytes; the loops below look further.
        if (needMore(p + 1)) {
            s.refill(level);
            continue;
        }

        unsigned char c = static_cast<unsigned char>(*p);
        auto single = [&](int kind, std::size_t length) {
            level.pos += length;
            Token t;
            t.kind = kind;
            return t;
        };

        if (c == '/' && p[1] == '*' && p + 1 < end) {
            // A block comment may be longer than the window: its lines are counted as it is read.
            const char* q = p + 2;
            for (;;) {
                while (q + 1 < end && !(q[0] == '*' && q[1] == '/')) {
                    if (*q == '\n') ++s.line;
                    ++q;
                }
                if (q + 1 < end) break;
                if (level.eof) {
                    for (; q < end; ++q)
                        if (*q == '\n') ++s.line;
                    level.pos = level.used;
                    fatal("Unexpected EOF");
                }
                level.pos = static_cast<std::size_t>(q - begin);
                s.refill(level);
                begin = level.data.get();
                end = begin + level.used;
                q = begin;
            }
            level.pos = static_cast<std::size_t>(q + 2 - begin);
            continue;
        }
        if (c == '/' && p[1] == '/' && p + 1 < end) {
            // A line comment needs its newline; without one before the end of the file the two
            // slashes are ordinary characters.
            const void* nl = std::memchr(p + 2, '\n', static_cast<std::size_t>(end - p - 2));
            if (nl) {
                ++s.line;
                level.pos = static_cast<std::size_t>(static_cast<const char*>(nl) + 1 - begin);
                continue;
            }
            if (needMore(end)) {
                s.refill(level);
                continue;
            }
            return single('/', 1);
        }
        if (c == '"') {
            const char* q = p + 1;
            while (*q != '"' && *q != '\n' && q != end) ++q;
            if (needMore(q)) {
                s.refill(level);
                continue;
            }
            if (q < end && *q == '"') {
                level.pos = static_cast<std::size_t>(q + 1 - begin);
                Token t;
                t.kind = static_cast<int>(TokenKind::String);
                t.text.assign(p + 1, q);
                return t;
            }
            return single('"', 1);  // an unclosed quote
        }
        if (isDigit(c) || (c == '.' && isDigit(p[1]) && p + 1 < end)) {
            // The number pattern against the word pattern, the longer match winning and the number
            // winning a tie (so 9abc and 1e are words, 1.5E3 is 1.5 then E3). No word starts with '.'.
            const char* reach;
            const char* q = scanNumber(p, reach);
            const char* w = p;
            if (c != '.')
                while (isWordChar(*w)) ++w;
            if (needMore(std::max(reach, w))) {
                s.refill(level);
                continue;
            }
            if (w > q) {
                level.pos = static_cast<std::size_t>(w - begin);
                return s.classify(std::string_view(p, static_cast<std::size_t>(w - p)), symbols);
            }
            level.pos = static_cast<std::size_t>(q - begin);
            Token t;
            t.kind = static_cast<int>(TokenKind::Number);
            t.number = toNumber(p, q);
            return t;
        }
        if (isWordChar(c)) {
            const char* q = p;
            while (isWordChar(*q)) ++q;
            if (needMore(q)) {
                s.refill(level);
                continue;
            }
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

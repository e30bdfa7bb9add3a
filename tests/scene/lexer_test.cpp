// Lexer: the token patterns, line counting, include stack and the input position of messages.
#include "scene/lexer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "eval/value.h"
#include "scene/keywords.h"
#include "scene/search_path.h"
#include "scene/symbol_table.h"

namespace quorva {
namespace {

namespace fs = std::filesystem;

constexpr int NumberKind = static_cast<int>(TokenKind::Number);
constexpr int NameKind = static_cast<int>(TokenKind::NewName);
constexpr int StringKind = static_cast<int>(TokenKind::String);
constexpr int KeywordKind = static_cast<int>(TokenKind::Keyword);

std::vector<Token> lex(const std::string& text, const SymbolTable& symbols = SymbolTable{}) {
    Lexer lexer;
    lexer.openText(text, "t.qsb");
    std::vector<Token> tokens;
    for (;;) {
        Token t = lexer.next(symbols);
        if (t.kind == 0) break;
        tokens.push_back(std::move(t));
    }
    return tokens;
}

// Compact description of a token stream: numbers as N<value>, names as I<text>, strings as S<text>,
// keywords as K<name>, everything else as its character or operator code.
std::string describe(const std::vector<Token>& tokens) {
    std::string out;
    for (const Token& t : tokens) {
        if (!out.empty()) out += ' ';
        std::ostringstream os;
        if (t.kind == NumberKind)
            os << 'N' << t.number;
        else if (t.kind == NameKind)
            os << 'I' << t.text;
        else if (t.kind == StringKind)
            os << 'S' << t.text;
        else if (t.kind == KeywordKind)
            os << 'K' << keywordName(t.keyword);
        else if (t.kind < 128)
            os << static_cast<char>(t.kind);
        else
            os << '#' << t.kind;
        out += os.str();
    }
    return out;
}

class TempDir {
  public:
    TempDir() {
        path_ = fs::temp_directory_path() /
                ("quorva_lexer_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string write(const std::string& name, const std::string& text) const {
        fs::path p = path_ / name;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
    static inline int counter_ = 0;
};

TEST(Keywords, TableIsSortedAndLetIsDeclare) {
    EXPECT_EQ(findKeyword("Declare"), Keyword::Declare);
    EXPECT_EQ(findKeyword("let"), Keyword::Declare);
    EXPECT_EQ(findKeyword("NURBS"), Keyword::NURBS);
    EXPECT_EQ(findKeyword("static"), Keyword::Static);
    EXPECT_EQ(findKeyword("Absorption"), Keyword::Absorption);
    EXPECT_EQ(findKeyword("ZChannelDepth"), Keyword::ZChannelDepth);
    EXPECT_FALSE(findKeyword("declare"));  // case-sensitive
    EXPECT_FALSE(findKeyword("sin"));
    EXPECT_FALSE(findKeyword(""));
    // Every canonical spelling finds its own keyword.
    for (int i = 0; i < KeywordCount; ++i) {
        auto k = static_cast<Keyword>(i);
        EXPECT_EQ(findKeyword(keywordName(k)), k) << keywordName(k);
    }
}

TEST(Lexer, NumberPatternsAgainstWords) {
    EXPECT_EQ(describe(lex("12 1. 1.5 1e10 12e-7 .5e-3 1e+2")), "N12 N1 N1.5 N1e+10 N1.2e-06 N0.0005 N100");
    // Only a lower-case e starts an exponent; the longer word wins over a shorter number.
    EXPECT_EQ(describe(lex("1.5E3")), "N1.5 IE3");
    EXPECT_EQ(describe(lex("9abc 1e 1e5x _a1")), "I9abc I1e I1e5x I_a1");
    EXPECT_EQ(describe(lex("-3")), "- N3");
    EXPECT_EQ(describe(lex("1.e2 .x")), "N100 . Ix");
}

TEST(Lexer, OperatorsAndSingleCharacters) {
    EXPECT_EQ(describe(lex("&& || <= >= == != < > ! & | = [ ] ( ) , + * / ^ % . ' : ;")),
              "#261 #262 #263 #264 #265 #266 < > ! & | = [ ] ( ) , + * / ^ % . ' : ;");
}

TEST(Lexer, StringsStayOnOneLine) {
    EXPECT_EQ(describe(lex("\"a b\" \"\"")), "Sa b S");
    // An unclosed quote is a single character; the rest is read as usual on the same line.
    EXPECT_EQ(describe(lex("\"ab\ncd\"")), "\" Iab Icd \"");
}

TEST(Lexer, Comments) {
    EXPECT_EQ(describe(lex("a /* b \n c */ d // e\nf")), "Ia Id If");
    // A final "//" without its newline is two slashes.
    EXPECT_EQ(describe(lex("a // b")), "Ia / / Ib");
    EXPECT_EQ(describe(lex("/*/ x */y")), "Iy");
}

TEST(Lexer, UnterminatedBlockCommentIsFatal) {
    Lexer lexer;
    lexer.openText("a\n/* b\n\n", "c.qsb");
    SymbolTable symbols;
    lexer.next(symbols);
    try {
        lexer.next(symbols);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Unexpected EOF");
        EXPECT_EQ(e.line(), 4);
        EXPECT_EQ(e.file(), "c.qsb");
    }
}

TEST(Lexer, BytesOutsideAsciiAreSkipped) {
    EXPECT_EQ(describe(lex("a\xc3\xa9"
                           "b \x80 1")),
              "Ia Ib N1");
    EXPECT_EQ(describe(lex(std::string("a\0b", 3))), "Ia Ib");
}

TEST(Lexer, KeywordsAndDeclaredNames) {
    SymbolTable symbols;
    EvalContext ctx;
    symbols.declare("v", SymbolKind::Expression, makeVectorRequest({1, 2, 3}), false, false, ctx);
    auto tokens = lex("Declare let v w Sphere", symbols);
    ASSERT_EQ(tokens.size(), 5u);
    EXPECT_EQ(tokens[0].keyword, Keyword::Declare);
    EXPECT_EQ(tokens[1].keyword, Keyword::Declare);
    EXPECT_EQ(tokens[2].kind, static_cast<int>(TokenKind::DeclaredName));
    ASSERT_NE(tokens[2].symbol, nullptr);
    EXPECT_EQ(std::get<RequestPtr>(tokens[2].symbol->value)->vector, Vec3(1, 2, 3));
    EXPECT_EQ(tokens[3].kind, NameKind);
    EXPECT_EQ(tokens[4].keyword, Keyword::Sphere);
}

TEST(Lexer, ReservedSymbolKindIsAnInternalFailure) {
    SymbolTable symbols;
    symbols.insert(SymbolEntry{"r", SymbolKind::Reserved, false, makeFloatRequest(1)});
    EXPECT_THROW(
        {
            try {
                lex("r", symbols);
            } catch (const FatalError& e) {
                EXPECT_STREQ(e.what(), "(internal failure 0x1b) Bad type (153) in symbol table \"r\"");
                throw;
            }
        },
        FatalError);
}

TEST(Lexer, LinesCountAcrossCommentsAndStrings) {
    Lexer lexer;
    lexer.openText("a\n/*\n\n*/ b // c\n\"s\"\r\n\n d", "l.qsb");
    SymbolTable symbols;
    std::vector<int> lines;
    while (lexer.next(symbols).kind != 0) lines.push_back(lexer.line());
    EXPECT_EQ(lines, (std::vector<int>{1, 4, 5, 7}));
    EXPECT_FALSE(lexer.active());  // the input has ended
}

TEST(Lexer, PositionIsInstalledWhileReading) {
    {
        Lexer lexer;
        lexer.openText("x\ny", "p.qsb");
        SymbolTable symbols;
        lexer.next(symbols);
        lexer.next(symbols);
        ConsoleCapture capture;
        warning("look");
        EXPECT_EQ(capture.text(), "WARNING in file p.qsb, near or on line 2 : look!\n");
    }
    EXPECT_EQ(diagnostics().position, nullptr);
}

// Every token with its line, numbers by their bits; a fatal error ends the list with its message and
// line.
std::string trace(Lexer& lexer) {
    SymbolTable symbols;
    std::string out;
    try {
        for (;;) {
            Token t = lexer.next(symbols);
            if (t.kind == 0) break;
            std::uint64_t bits;
            std::memcpy(&bits, &t.number, sizeof bits);
            out += std::to_string(t.kind) + ':' + std::to_string(bits) + ':' + t.text + ':' +
                   std::to_string(static_cast<int>(t.keyword)) + '@' + std::to_string(lexer.line()) + '\n';
        }
    } catch (const FatalError& e) {
        out += std::string("fatal ") + e.what() + " @" + std::to_string(e.line()) + '\n';
    }
    return out;
}

// The file read through windows of a few bytes gives the very tokens, lines and errors of the text
// held whole, wherever the refills split a token.
void expectSameWhenStreamed(const std::string& text, const TempDir& dir) {
    Lexer whole;
    whole.openText(text, "w.qsb");
    const std::string expected = trace(whole);
    const std::string path = dir.write("streamed.qsb", text);
    for (std::size_t size : {1, 2, 3, 7, 64}) {
        Lexer streamed(size);
        streamed.open(path);
        EXPECT_EQ(trace(streamed), expected) << "window " << size << " on:\n" << text.substr(0, 200);
    }
}

TEST(LexerStream, TrickyTextsMatchTheWholeText) {
    TempDir dir;
    for (const char* text : {"a /* b \n c */ d // e\nf",
                             "a // b",
                             "x //",
                             "/*/ x */y",
                             "/* ** / *\n*/z",
                             "a\n/* b\n\n",
                             "/*",
                             "/",
                             "\"ab\ncd\"",
                             "\"a long string \" \"\"",
                             "\"open",
                             "12 1. 1.5 1e10 12e-7 .5e-3 1e+2",
                             "1.5E3 9abc 1e 1e5x _a1 1e+ 1e- 1.e2 .x .5e 123456789012345678901234 1e999 .",
                             "0.1234567890123",
                             "&& || <= >= == != < > ! & | = [ ] ( ) , + * / ^ % . ' : ; &",
                             "<",
                             "a\xc3\xa9"
                             "b \x80 1\r\n\t2",
                             "Declare let Sphere TriangularPatch UV ReadArchive Spheres",
                             "  \n\n  ",
                             ""}) {
        expectSameWhenStreamed(text, dir);
    }
    expectSameWhenStreamed(std::string("a\0b 1\0\0.5 \"s\0t\"", 16), dir);
    // A line comment far longer than the window, with its newline at the very end or without one.
    expectSameWhenStreamed("a // " + std::string(300, 'x') + "\nb", dir);
    expectSameWhenStreamed("a // " + std::string(300, 'x') + " 1 \"q\"", dir);
    expectSameWhenStreamed("/*" + std::string(300, '\n') + "*/ w" + std::string(200, 'w'), dir);
}

TEST(LexerStream, ExampleScenesMatchTheWholeText) {
    TempDir dir;
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(std::string(QUORVA_SOURCE_DIR) + "/examples")) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".qsb" && ext != ".qsh") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        expectSameWhenStreamed(std::string(std::istreambuf_iterator<char>(in), {}), dir);
        ++files;
    }
    EXPECT_GT(files, 50);
}

TEST(LexerStream, NumbersConvertAsTheStandardConversion) {
    // Short mantissas take a shortcut; long ones, large exponents and tiny values do not. Every value
    // must have the bits the standard conversion gives.
    std::mt19937 random(7);
    std::string text;
    std::vector<std::string> spellings;
    for (int i = 0; i < 20000; ++i) {
        std::string digits = std::to_string(random()) + std::to_string(random());
        std::string n = digits.substr(0, 1 + random() % 20);
        const std::size_t dot = random() % (n.size() + 1);
        if (random() % 3) n = n.substr(0, dot) + "." + n.substr(dot);
        if (random() % 2) n += (random() % 2 ? "e-" : "e") + std::to_string(random() % 30);
        spellings.push_back(n);
        text += n + ' ';
    }
    spellings.push_back("9007199254740993e0");  // 2^53 + 1 needs rounding
    spellings.push_back("0.1e-22");
    text += "9007199254740993e0 0.1e-22";
    const std::vector<Token> tokens = lex(text);
    ASSERT_EQ(tokens.size(), spellings.size());
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        double expected = std::strtod(spellings[i].c_str(), nullptr);
        ASSERT_EQ(tokens[i].kind, NumberKind) << spellings[i];
        EXPECT_EQ(std::memcmp(&tokens[i].number, &expected, sizeof expected), 0) << spellings[i];
    }
}

TEST(LexerStream, FolderIsNotARegularFile) {
    TempDir dir;
    Lexer lexer;
    try {
        lexer.open(dir.path().string());
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_EQ(e.what(), "Ascii file \"" + dir.path().string() + "\" is not a regular file");
    }
}

TEST(Lexer, MissingFileIsFatal) {
    Lexer lexer;
    try {
        lexer.open("/nonexistent/quorva/missing.qsb");
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Failed to open ascii file \"/nonexistent/quorva/missing.qsb\"");
    }
}

// Includes resolve through the search path; fresh path per test.
class LexerIncludes : public ::testing::Test {
  protected:
    void SetUp() override { searchPath().reset(); }
    void TearDown() override { searchPath().reset(); }
    TempDir dir;
};

TEST_F(LexerIncludes, IncludedFileReportsItsOwnPositionThenTheIncluder) {
    std::string inner = dir.write("inner.qsb", "i1\n\ni2\n");
    std::string outer = dir.write("outer.qsb", "o1\nReadArchive\n\no2 o3");
    // Through a window of 2 bytes too: the including file resumes where its window had got to.
    for (std::size_t window : {Lexer::DefaultBufferSize, std::size_t(2)}) {
        Lexer lexer(window);
        lexer.open(outer);
        SymbolTable symbols;
        EXPECT_EQ(lexer.next(symbols).text, "o1");
        EXPECT_EQ(lexer.next(symbols).keyword, Keyword::ReadArchive);
        lexer.pushInclude("\"" + inner + "\"");  // quotes anywhere in the name are dropped
        EXPECT_EQ(lexer.depth(), 2);
        EXPECT_EQ(lexer.next(symbols).text, "i1");
        EXPECT_EQ(lexer.fileName(), "\"" + inner + "\"");
        EXPECT_EQ(lexer.next(symbols).text, "i2");
        EXPECT_EQ(lexer.line(), 3);
        // The file boundary is invisible: the next token comes from the including file.
        EXPECT_EQ(lexer.next(symbols).text, "o2");
        EXPECT_EQ(lexer.fileName(), outer);
        EXPECT_EQ(lexer.line(), 4);
        EXPECT_EQ(lexer.depth(), 1);
        try {
            fatal("boom");
        } catch (const FatalError& e) {
            EXPECT_EQ(e.report(), "\nERROR in file " + outer + ", near or on line 4 :\nboom\n");
        }
        EXPECT_EQ(lexer.next(symbols).text, "o3");
        EXPECT_EQ(lexer.next(symbols).kind, 0);
    }
}

TEST_F(LexerIncludes, ErrorInsideIncludedFileNamesIt) {
    dir.write("sub/bad.qsb", "x\n\n/* open");
    std::string outer = dir.write("main.qsb", "a\n");
    searchPath().scan(dir.path().string());
    Lexer lexer;
    lexer.open(outer);
    SymbolTable symbols;
    lexer.next(symbols);
    lexer.pushInclude("bad.qsb");
    lexer.next(symbols);
    try {
        lexer.next(symbols);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_EQ(e.report(), "\nERROR in file bad.qsb, near or on line 3 :\nUnexpected EOF\n");
    }
}

TEST_F(LexerIncludes, SeventeenthLevelIsRefused) {
    std::string self = dir.write("self.qsb", "s\n");
    Lexer lexer;
    lexer.open(self);
    for (int i = 1; i < Lexer::MaxIncludeDepth; ++i) lexer.pushInclude(self);
    EXPECT_EQ(lexer.depth(), Lexer::MaxIncludeDepth);
    ConsoleCapture capture;
    lexer.pushInclude("extra.qsb");
    EXPECT_EQ(lexer.depth(), Lexer::MaxIncludeDepth);
    EXPECT_EQ(capture.text(), "WARNING in file " + self +
                                  ", near or on line 1 : Stack overflow in ReadArchive\"extra.qsb\"!\n");
    // Every level still yields its token and then unwinds.
    SymbolTable symbols;
    int count = 0;
    while (lexer.next(symbols).kind != 0) ++count;
    EXPECT_EQ(count, Lexer::MaxIncludeDepth);
}

TEST_F(LexerIncludes, MissingIncludeIsFatal) {
    Lexer lexer;
    lexer.openText("x", "m.qsb");
    try {
        lexer.pushInclude("nowhere.qsb");
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Failed to read file \"nowhere.qsb\"");
    }
}

}  // namespace
}  // namespace quorva

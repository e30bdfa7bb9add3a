// Tokens of the scene language handed from the lexer to the parser.
#pragma once

#include <memory>
#include <string>

#include "eval/request.h"

namespace quorva {

struct SymbolEntry;

enum class TokenKind : int {
    EndOfInput = 0,
    // single printable characters use their own code (1..127)
    Number = 256,
    String,
    NewName,       // an identifier that is neither a keyword nor declared
    Keyword,       // `keyword` tells which
    DeclaredName,  // `symbol` is the newest entry; its kind says which of the ten
    AndAnd,        // &&
    OrOr,          // ||
    LessEqual,     // <=
    GreaterEqual,  // >=
    EqualEqual,    // ==
    NotEqual,      // !=
};

// The 165 keywords, in the byte order of their spelling (the lexer searches them by bisection).
// `Declare` and `let` are one keyword.
enum class Keyword : int;  // defined in scene/keywords.h

struct Token {
    int kind = 0;  // a TokenKind or a character code
    double number = 0;
    std::string text;                     // String, NewName and identifiers
    Keyword keyword{};                    // Keyword
    const SymbolEntry* symbol = nullptr;  // DeclaredName
};

}  // namespace quorva

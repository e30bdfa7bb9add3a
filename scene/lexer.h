// The lexer: tokens of ascii scene and shader files (read through a bounded window, never whole), the
// include stack of ReadArchive, and the input position every message reports.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "diagnostics/diagnostics.h"
#include "scene/token.h"

namespace quorva {

class SymbolTable;

class Lexer final : public InputPosition {
  public:
    static constexpr int MaxIncludeDepth = 16;
    // Bytes of a file held at a time; a token or line comment longer than that widens the window
    // while it is read. Tests pass small sizes so that tokens fall across the refills.
    static constexpr std::size_t DefaultBufferSize = std::size_t(1) << 20;

    explicit Lexer(std::size_t bufferSize = DefaultBufferSize);
    ~Lexer() override;
    Lexer(const Lexer&) = delete;
    Lexer& operator=(const Lexer&) = delete;

    // Opens level 0 (empty name = standard input, reported as "<stdin>"); line 1, depth 1.
    // Failure: "Failed to open ascii file \"%s\"". Installs itself as the diagnostics position.
    void open(const std::string& name);
    // Opens in-memory text as level 0 under the given name (tests, fuzzing).
    void openText(const std::string& text, const std::string& name);
    // The next token; declared names are classified through `symbols`.
    Token next(const SymbolTable& symbols);
    // ReadArchive: pushes an include found through the search path (a 17th level warns and is refused).
    // The parser does not see file boundaries: when the include ends, reading resumes in the including
    // file at the line it had reached.
    void pushInclude(const std::string& name);
    // Closes every open file and removes itself as the diagnostics position.
    void close();

    bool active() const override;
    std::string fileName() const override;
    int line() const override;
    // Open levels: 0 when no ascii file is being read (after the end of the outermost file too).
    int depth() const;

  private:
    struct Impl;
    Impl* impl_;
};

}  // namespace quorva

// The renderer's command line: the option-word syntax and the effect of every option.
//
// Options are read from the second argument on. An option word begins with '-'; letters without an
// argument may be grouped; a one-argument letter takes the rest of its word or the next word; a
// two-argument letter takes the rest of its word (or the next word) and the word after. A word that
// does not begin with '-', or a lone "-", ends the options; "--" ends them and is consumed.
#pragma once

#include <string>
#include <vector>

namespace quorva {

struct RunState;
struct SceneState;

// One recognised option letter with its arguments.
struct OptionUse {
    unsigned char letter = 0;
    std::vector<std::string> arguments;
};

// Splits the option words (argv[2..]) into letters and arguments. Problems become warnings:
// "option '%c' requires an argument", "option '%c' requires two arguments",
// "option '%c' requires arguments", "option '%c' unsupported" (the letter is then skipped).
std::vector<OptionUse> parseOptionWords(const std::vector<std::string>& words, bool warn);

// Decimal text to integer as the standard conversion reads it: leading blanks, an optional sign,
// digits; anything else reads as 0; out-of-range values saturate.
int readInteger(const std::string& text);

// The -j value of the options (the last one given): 0 when there is none or its value is not a number
// of threads, which asks for one worker per hardware thread.
int requestedThreads(const std::vector<OptionUse>& options);

// Applies the options, in order, to the run state, the render options and the camera.
// `sceneCount` is the number of scenes being rendered (-f is ignored for more than one).
void applyOptions(const std::vector<OptionUse>& options, RunState& run, SceneState& scene,
                  std::size_t sceneCount, bool warn);

}  // namespace quorva

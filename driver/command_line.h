// The renderer's command line: the option-word syntax and the effect of every option.
//
// Options are read from the second argument on. An option word begins with '-'; letters without an
// argument may be grouped; a one-argument letter takes the rest of its word or the next word; a
// two-argument letter takes the rest of its word (or the next word) and the word after. A word that
// does not begin with '-', or a lone "-", ends the options; "--" ends them and is consumed.
// A word that begins with "--" is a long option, never a group: the delete-inputs letter '-' counts
// only after other letters of a group (-d-), so a mistyped long option cannot delete the scene.
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

// What the command line asks for besides rendering: "--help" or "-help" among the options asks for the
// usage text, "--version" for the banner; the options after such a word are not read.
enum class OptionRequest { Render, Usage, Version };

// Splits the option words (argv[2..]) into letters and arguments. A letter without its argument is
// the warning "option '%c' requires an argument", "option '%c' requires two arguments" or
// "option '%c' requires arguments" and is skipped. An unknown letter is the fatal error
// "option '%c' unsupported", any other long option the fatal error "Unknown option %s": nothing is
// rendered or deleted on options that cannot be read. `request`, when given, receives what was asked.
std::vector<OptionUse> parseOptionWords(const std::vector<std::string>& words, bool warn,
                                        OptionRequest* request = nullptr);

// The request a word asks for when it stands where an option word may: Usage for "--help" and
// "-help", Version for "--version", Render for any word that is not a long option. Any other word
// beginning with "--" (but not "--" itself) is the fatal error "Unknown option %s".
OptionRequest longOption(const std::string& word);

// Decimal text to integer as the standard conversion reads it: leading blanks, an optional sign,
// digits; anything else reads as 0; out-of-range values saturate.
int readInteger(const std::string& text);

// The -j value of the options (the last one given): 0 when there is none or its value is not a number
// of threads, which asks for one worker per hardware thread.
int requestedThreads(const std::vector<OptionUse>& options);

// Applies the options, in order, to the run state, the render options and the camera. An
// anti-aliasing or undersampling level (-a, -A, -u) outside 0..10 is clamped to it with the warning
// "Bad value specified with option -%c. Must be 0 to 10".
// `sceneCount` is the number of scenes being rendered (-f is ignored for more than one).
void applyOptions(const std::vector<OptionUse>& options, RunState& run, SceneState& scene,
                  std::size_t sceneCount, bool warn);

}  // namespace quorva

// Option words and their effects.
#include "driver/command_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "diagnostics/diagnostics.h"
#include "driver/file_names.h"
#include "driver/run_state.h"
#include "scene/scene_state.h"

namespace quorva {
namespace {

// Letters followed by ':' take one argument, by '+' two; 0xB5 takes one; the others none.
const std::string& optionLetters() {
    static const std::string letters =
        std::string("r+x+y+a:A:C:e:h:g:j:k:K:o:O:S:s:l:u:z:") + "\xB5" + ":" + "bdEfLmnp@-" + "\xA3";
    return letters;
}

// Number of arguments a letter takes, or -1 when the letter is not an option.
int argumentCount(unsigned char c) {
    if (c == ':' || c == '+') return -1;
    const std::string& s = optionLetters();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (static_cast<unsigned char>(s[i]) != c) continue;
        if (i + 1 < s.size() && s[i + 1] == ':') return 1;
        if (i + 1 < s.size() && s[i + 1] == '+') return 2;
        return 0;
    }
    return -1;
}

void requireNoExtension(const std::string& name, const char* message) {
    if (hasExtension(name)) fatal("%s", message);
}

// A thread count is plain decimal digits; anything else (a sign, letters) is not one.
bool isThreadCount(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

int requestedThreads(const std::vector<OptionUse>& options) {
    int threads = 0;
    for (const OptionUse& use : options)
        if (use.letter == 'j' && !use.arguments.empty())
            threads = isThreadCount(use.arguments[0]) ? readInteger(use.arguments[0]) : 0;
    return threads;
}

int readInteger(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str()) return 0;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

OptionRequest longOption(const std::string& word) {
    if (word == "--help" || word == "-help") return OptionRequest::Usage;
    if (word == "--version") return OptionRequest::Version;
    if (word.size() > 2 && word.compare(0, 2, "--") == 0) fatal("Unknown option %s", word.c_str());
    return OptionRequest::Render;
}

std::vector<OptionUse> parseOptionWords(const std::vector<std::string>& words, bool warn,
                                        OptionRequest* request) {
    std::vector<OptionUse> out;
    if (request) *request = OptionRequest::Render;
    std::size_t i = 0;
    while (i < words.size()) {
        const std::string& word = words[i];
        if (word.size() < 2 || word[0] != '-') break;
        ++i;
        if (word == "--") break;
        if (OptionRequest asked = longOption(word); asked != OptionRequest::Render) {
            if (request) *request = asked;
            break;
        }
        std::size_t pos = 1;
        while (pos < word.size()) {
            unsigned char c = static_cast<unsigned char>(word[pos++]);
            int count = argumentCount(c);
            // Refused rather than skipped: the letters after an unknown one (the delete-inputs letter
            // among them) were likely not meant as options either.
            if (count < 0) fatal("option '%c' unsupported", c);
            OptionUse use;
            use.letter = c;
            if (count >= 1) {
                // The first argument is the rest of this word, else the next word.
                if (pos < word.size()) {
                    use.arguments.push_back(word.substr(pos));
                    pos = word.size();
                } else if (i < words.size()) {
                    use.arguments.push_back(words[i++]);
                } else {
                    if (warn) {
                        if (count == 1)
                            warning("option '%c' requires an argument", c);
                        else
                            warning("option '%c' requires two arguments", c);
                    }
                    continue;
                }
            }
            if (count == 2) {
                if (i < words.size()) {
                    use.arguments.push_back(words[i++]);
                } else {
                    if (warn) warning("option '%c' requires arguments", c);
                    continue;
                }
            }
            out.push_back(std::move(use));
        }
    }
    return out;
}

void applyOptions(const std::vector<OptionUse>& options, RunState& run, SceneState& scene,
                  std::size_t sceneCount, bool warn) {
    Options& o = scene.frame.options;
    Camera& camera = scene.frame.camera;
    auto updateLoadSave = [&run] {
        run.photonMapLoad = (run.loadFlags & 1) != 0;
        run.irradianceLoad = !run.photonMapLoad && (run.loadFlags & 2) != 0;
        run.photonMapSave = (run.saveFlags & 1) != 0;
        run.irradianceSave = !run.photonMapSave && (run.saveFlags & 2) != 0;
    };
    run.loadFlags = 0;
    run.saveFlags = 0;
    for (const OptionUse& use : options) {
        const std::vector<std::string>& a = use.arguments;
        int n = a.empty() ? 0 : readInteger(a[0]);
        // A level out of range is clamped, and said: quorva-farm refuses a command whose check run
        // warns about its options, so a whole job is not spent on a guessed level.
        if ((use.letter == 'a' || use.letter == 'A' || use.letter == 'u') && (n < 0 || n > 10)) {
            if (warn) warning("Bad value specified with option -%c. Must be 0 to 10", use.letter);
            n = n < 0 ? 0 : 10;
        }
        switch (use.letter) {
            case 'a':
                o.antialiasing = n;
                o.undersampling = false;
                break;
            case 'A':
                o.antialiasing = n == 0 ? 0 : (n == 10 ? 20 : n + 10);
                o.undersampling = false;
                break;
            case 'u':
                o.antialiasing = n;
                o.undersampling = true;
                break;
            case 'C':
                requireNoExtension(a[0], "No file extension with option -C");
                run.photonMapFile = a[0] + ".qpm";
                run.irradianceFile = a[0] + ".qic";
                run.cacheNamed = true;
                scene.output.photonMapFile = run.photonMapFile;
                scene.output.irradianceCacheFile = run.irradianceFile;
                break;
            case 'd':
                run.statistics = true;
                break;
            case 'e':
                if (warn) warning("Option -e is now obsolete");
                break;
            case 'f':
                if (sceneCount <= 1) run.showFrameBuffer = true;
                break;
            case 'g':
                if (o.renderMode == 1) {
                    // The size is checked against the final image size when the frame starts.
                    int size = n < 4 ? 4 : n;
                    o.irradiance.enabled = true;
                    o.irradiance.forced = true;
                    o.irradiance.gridSize = size;
                    run.irradianceEnabled = true;
                    o.irradiance.gridSpacing = 1.0 / size;
                }
                break;
            case 'h':
                if (n == 3) {
                    o.renderMode = 2;
                    o.featureMask = 126;
                } else if (n < 3) {
                    o.renderMode = 3;
                    run.hiddenLineVariant = (n == 1 || n == 2) ? n - 1 : 0;
                }
                if (n <= 3) {
                    o.irradiance.enabled = false;
                    run.irradianceEnabled = false;
                }
                break;
            case 'j':
                // The workers are started once per run, from the first reading of the options.
                if (warn && !isThreadCount(a[0]))
                    warning("Bad value specified with option -j. Using all cores");
                break;
            case 'k':
                run.startFrame = n;
                break;
            case 'K':
                run.hasEndFrame = true;
                run.endFrame = n;
                break;
            case 'p':
                run.writePng = true;
                break;
            case 'E':
                run.writeExr = true;
                break;
            case 'l':
                run.loadFlags += n;
                updateLoadSave();
                break;
            case 's':
                run.saveFlags += n;
                updateLoadSave();
                break;
            case 'L':
                run.logRequested = true;
                break;
            case 'm':
                diagnostics().messagesOn = false;
                diagnostics().warningsOn = false;
                break;
            case 'n':
                run.writeImage = false;
                run.showFrameBuffer = true;
                break;
            case 'o':
                requireNoExtension(a[0], "No file extension with option -o");
                run.imageFile = a[0] + ".tga";
                run.outputBase = a[0];
                run.zChannelBase = a[0];
                scene.output.imageFile = run.imageFile;
                scene.output.outputBase = run.outputBase;
                break;
            case 'O':
                o.renderMode = 0;
                o.openGlMode = n;
                run.writeImage = false;
                run.showFrameBuffer = false;
                o.irradiance.enabled = false;
                run.irradianceEnabled = false;
                o.featureMask = 112;
                break;
            case 'r': {
                int width = n;
                int height = readInteger(a[1]);
                double previous = camera.frameAspectRatio;
                double ratio = height != 0 ? static_cast<double>(width) / height : 0.0;
                camera.width = width;
                camera.height = height;
                camera.frameAspectRatio = previous <= 0 ? -ratio : ratio;
                break;
            }
            case 'S':
                requireNoExtension(a[0], "No file extension with option -S");
                run.shaderFile = a[0] + ".qsh";
                break;
            case 'x':
                run.xa = n;
                run.xb = readInteger(a[1]);
                if (run.xa > run.xb) fatal("End column (xb) must be greater than start column (xa)");
                break;
            case 'y':
                run.ya = n;
                run.yb = readInteger(a[1]);
                if (run.ya > run.yb) fatal("End row (yb) must be greater than start row (ya) !");
                break;
            case 'z':
                if (n == 8 || n == 16 || n == 24 || n == 32 || n == 64) {
                    o.zChannelDepth = n;
                } else {
                    o.zChannelDepth = 0;
                    if (warn) warning("Bad value specified with option -z. Must be 8, 16, 24, 32 or 64");
                }
                run.zDepth = o.zChannelDepth;
                break;
            case '@':
                run.pauseOnError = true;
                diagnostics().pauseOnError = true;
                break;
            case '-':
                run.deleteInputs = true;
                break;
            case 0xA3:
                run.noCompletionBox = true;
                break;
            case 0xB5:
                o.featureMask = static_cast<std::uint16_t>(n);
                break;
            default:  // 'b' is accepted and has no effect
                break;
        }
    }
    if (run.hasEndFrame && run.startFrame != -1 && run.endFrame < run.startFrame)
        fatal("End frame must not be before start frame");
    // The values of -l and -s add up, but the photon map bit wins: a sum that asks for both files
    // touches only the photon map, which a user adding 1 + 2 would not expect.
    if (warn && (run.loadFlags & 3) == 3)
        warning("Option -l %d loads the photon map only, not the irradiance cache", run.loadFlags);
    if (warn && (run.saveFlags & 3) == 3)
        warning("Option -s %d saves the photon map only, not the irradiance cache", run.saveFlags);
}

}  // namespace quorva

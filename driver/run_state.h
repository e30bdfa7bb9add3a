// The run driver's own state: the scene list, the file names derived per scene, and every setting
// the command line controls.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace quorva {

constexpr int MaxScenes = 1000;

enum class InputKind { Pattern, ListFile, BaseName };

struct RunState {
    std::vector<std::string> sceneNames;  // base names, no extension
    InputKind inputKind = InputKind::BaseName;
    std::string listFile;  // the .list file to delete after the run

    // Names derived per scene from the base name B.
    std::string sceneFile;       // B.qsb
    std::string shaderFile;      // B.qsh (or -S name.qsh)
    std::string imageFile;       // B.tga (or -o name.tga)
    std::string photonMapFile;   // B.qpm (or -C name.qpm)
    std::string irradianceFile;  // B.qic (or -C name.qic)
    std::string logFile;         // B.log
    std::string outputBase;      // base of animation frame names
    std::string zChannelBase;    // base of Z-channel dumps

    bool pauseOnError = false;     // hidden letter '@'
    bool deleteInputs = false;     // hidden letter '-' inside a group
    bool noCompletionBox = false;  // hidden byte 0xA3
    bool logRequested = false;     // -L
    bool statistics = false;       // -d
    int startFrame = -1;           // -k
    bool hasEndFrame = false;      // -K given
    int endFrame = 0;              // -K: frames are counted as -k counts them (CurrentFrame + 1)
    bool writePng = false;         // -p: a PNG copy of every complete image
    bool writeExr = false;         // -E: every complete image also in half floats, unclipped
    int xa = -1, xb = -1;          // -x
    int ya = -1, yb = -1;          // -y
    int zDepth = 0;                // -z (also ZChannelDepth)
    int hiddenLineVariant = 0;     // -h 1 / -h 2
    bool writeImage = true;        // off with -n and -O
    bool showFrameBuffer = false;  // -f, -n
    int interruptKey = 0;          // the exit status after an interruption
    std::time_t frameStartTime = 0;

    // -l / -s: values of all occurrences add up.
    int loadFlags = 0;
    int saveFlags = 0;
    bool photonMapLoad = false;
    bool photonMapSave = false;
    bool irradianceLoad = false;
    bool irradianceSave = false;
    bool irradianceEnabled = false;
    bool cacheNamed = false;  // -C: its names win over the scene's

    double gamma = 2.2;  // display gamma, with its inverse
    double inverseGamma = 1.0 / 2.2;
};

}  // namespace quorva

// The converter's command line: the settings it fills and the names of the files it writes.
#pragma once

#include <string>
#include <vector>

namespace quorva::converter {

struct Settings {
    std::string inputBase;       // model file name without extension
    std::string inputExtension;  // as given (".obj"); empty: the 3DS file of the base name
    std::string outputBase;      // defaults to inputBase
    std::string vueBase;         // empty: no animation
    std::string cameraName;      // empty: the first camera
    double smoothingAngle = 60;
    std::vector<std::string> excluded;   // objects, lights and cameras not converted
    bool binary = false;                 // -b
    bool declare = false;                // -d
    bool mesh = false;                   // -m
    bool gamma = false;                  // -g
    bool useUV = true;                   // cleared by -u
    bool assimp = false;                 // -i: a 3DS file too is read by the general model reader
    bool defaultView = true;             // cleared by -n: no default lights and camera
    int startFrame = -1, endFrame = -1;  // end inclusive; -1 without animation
    bool allFrames = false;              // -a without -f: every frame of the VUE file from 0
};

// The usage text printed when the program gets no argument.
extern const char* const UsageText;

// Reads argv[1..argc-1]. Raises the option errors and the missing or misnamed file errors.
Settings parseCommandLine(int argc, const char* const* argv);

// True for a 3DS file extension in any case (".3ds", ".3DS").
bool isTdsExtension(const std::string& extension);

// Names trimmed of blanks and surrounding quotes ("'Box 1' " gives Box 1).
std::string trimName(const std::string& name);

// Output names for one conversion (frame < 0: not animated).
struct OutputNames {
    std::string main, shader, geometry;
};
OutputNames outputNames(const Settings& settings, int frame, std::string* truncationNote = nullptr);

// `name` with everything from the file name's first dot replaced by `extension` (or appended).
std::string withExtension(const std::string& name, const std::string& extension);
// True when the file name part of `name` (after the last slash) holds a dot.
bool hasExtension(const std::string& name);

}  // namespace quorva::converter

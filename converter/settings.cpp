// Command-line options of the converter and the names of its output files.
#include "converter/settings.h"

#include <cstdlib>
#include <cstring>

#include "converter/report.h"

namespace quorva::converter {

const char* const UsageText =
    "\nUsage: 3DS2QSB 3dsfile [options]\nOptions are:\n"
    " -a file_name   : Use animation information from this VUE file.\n"
    " -b             : Output QSB binary scene files.\n"
    " -c camera_name : If multiple cameras, only export this one.\n"
    " -d             : Objects must be declared in QSB geometry file.\n"
    " -f start end   : Start conversion from frames 'start' to 'end' of VUE file.\n"
    " -g             : Use color gamma corrections from 3DS file.\n"
    " -i             : Read a 3DS file with the general model reader.\n"
    " -m             : Export the geometry model to a binary MSH file.\n"
    " -n             : No default lights and camera for a model without them.\n"
    " -o object_name : Do not convert this object from 3DS file.\n"
    " -s angle       : Smooth faces with angles less than 'angle' degrees.\n"
    " -u             : Do not use UV-coordinates.\n"
    " -v file_name   : Output QSB files must use this name.\n";

namespace {

// The option letters; ':' after a letter takes one argument, '+' two.
constexpr const char* OptionString = "f+a:c:s:o:v:bdgumin";

std::size_t fileNameStart(const std::string& name) {
    std::size_t slash = name.find_last_of("/\\");
    return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

bool isTdsExtension(const std::string& extension) {
    return extension.size() == 4 && extension[0] == '.' && extension[1] == '3' &&
           (extension[2] | 0x20) == 'd' && (extension[3] | 0x20) == 's';
}

std::string trimName(const std::string& name) {
    std::size_t b = 0, e = name.size();
    auto trimmable = [](char c) {
        return c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\r' || c == '\n';
    };
    while (b < e && trimmable(name[b])) ++b;
    while (e > b && trimmable(name[e - 1])) --e;
    return name.substr(b, e - b);
}

bool hasExtension(const std::string& name) {
    return name.find('.', fileNameStart(name)) != std::string::npos;
}

std::string withExtension(const std::string& name, const std::string& extension) {
    std::size_t dot = name.find('.', fileNameStart(name));
    return (dot == std::string::npos ? name : name.substr(0, dot)) + extension;
}

Settings parseCommandLine(int argc, const char* const* argv) {
    Settings s;
    bool haveInput = false, haveFrames = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-' || arg[1] == 0) {
            if (!haveInput) {
                s.inputBase = arg;
                haveInput = true;
            }
            continue;
        }
        char c = arg[1];
        const char* spec = std::strchr(OptionString, c);
        if (!spec || c == ':' || c == '+') fail("\noption '%c' unsupported", c);
        if (spec[1] == '+') {
            if (i + 1 >= argc) fail("\noption '%c' requires arguments", c);
            if (i + 2 >= argc) fail("\noption '%c' requires two arguments", c);
            int start = std::atoi(argv[i + 1]), end = std::atoi(argv[i + 2]);
            i += 2;
            if (haveFrames) continue;  // only the first range counts
            haveFrames = true;
            if (end < start) fail("Start frame can't be greater then End frame with option -f");
            s.startFrame = start;
            s.endFrame = end;
            continue;
        }
        std::string value;
        if (spec[1] == ':') {
            if (arg[2] != 0) {
                value = arg + 2;
            } else {
                if (i + 1 >= argc) fail("\noption '%c' requires an argument", c);
                value = argv[++i];
            }
        }
        switch (c) {
            case 'a':
                if (hasExtension(value)) fail("No file extension with option -a");
                s.vueBase = value;
                break;
            case 'b':
                s.binary = true;
                break;
            case 'c':
                s.cameraName = trimName(value);
                break;
            case 'd':
                s.declare = true;
                break;
            case 'g':
                s.gamma = true;
                break;
            case 'i':
                s.assimp = true;
                break;
            case 'm':
                s.mesh = true;
                break;
            case 'n':
                s.defaultView = false;
                break;
            case 'o':
                s.excluded.push_back(trimName(value));
                break;
            case 's': {
                double angle = std::atof(value.c_str());
                s.smoothingAngle = angle < 0 || angle > 180 ? 60 : angle;
                break;
            }
            case 'u':
                s.useUV = false;
                break;
            case 'v':
                if (hasExtension(value)) fail("No file extension with option -v");
                s.outputBase = value;
                break;
        }
    }
    if (!haveInput) fail("No 3DS file specified");
    // A name with an extension is read as that file, the reader chosen by the extension; the output
    // base name is the name without it.
    std::size_t file = fileNameStart(s.inputBase), dot = s.inputBase.rfind('.');
    if (dot != std::string::npos && dot > file && dot + 1 < s.inputBase.size()) {
        s.inputExtension = s.inputBase.substr(dot);
        s.inputBase.resize(dot);
    } else if (hasExtension(s.inputBase)) {
        fail("No file extension when giving 3DS file");  // "model." or ".obj": no type or no name
    }
    if (s.outputBase.empty()) s.outputBase = s.inputBase;
    // MSH output wins over declared objects, which win over binary output, whatever the order.
    if (s.mesh) s.declare = false;
    if (s.mesh || s.declare) s.binary = false;
    if (!s.vueBase.empty() && !haveFrames) s.allFrames = true;
    return s;
}

OutputNames outputNames(const Settings& settings, int frame, std::string* truncationNote) {
    std::string base = settings.outputBase;
    if (frame >= 0) {
        if (base.size() > 72) {
            base.resize(72);
            if (truncationNote) *truncationNote = base;
        }
        base = format("%s%04d", base.c_str(), frame);
    }
    OutputNames n;
    n.main = withExtension(base, ".qsb");
    n.shader = withExtension(base, ".qsh");
    std::size_t file = fileNameStart(base);
    n.geometry =
        withExtension(base.substr(0, file) + "QSB" + base.substr(file), settings.mesh ? ".msh" : ".qsb");
    return n;
}

}  // namespace quorva::converter

// Per-frame output names of an animation: the image file and the Z-channel base.
#include "diagnostics/diagnostics.h"
#include "image/targa_output.h"

namespace quorva {

namespace {
constexpr std::size_t MaxBaseLength = 120;
}

void makeOutputName(std::string& outputBase, int frame, std::string& imageFile, std::string& zBase) {
    if (outputBase.size() > MaxBaseLength) {
        outputBase.resize(MaxBaseLength);
        warning("Output file name too long. Truncated to \"%s\"", outputBase.c_str());
    }
    if (outputBase.empty()) {
        warning("Zero length outfile name. Reset to 'render'");
        outputBase = "render";
    }
    imageFile = formatText("%s%04d.tga", outputBase.c_str(), frame);
    zBase = formatText("%s%04d", outputBase.c_str(), frame);
}

}  // namespace quorva

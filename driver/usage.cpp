// Banner and usage text.
#include "driver/usage.h"

#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"

namespace quorva {

void printBanner() {
    message("\nquorva 1.3 - global illumination ray tracer\n");
}

void printUsage() {
    printBanner();
    message("Usage: QUORVA file [options]\n");
    message("\nPress a key to list the command line options.");
    waitForKey();
    message(
        "\r -a level   : Adaptive Antialiasing (1 <= level <= 10)\n"
        " -A level   : Super-adaptive Antialiasing (1 <= level <= 10)\n"
        " -C name    : Impose a specific file name for QPM and QIC data cache\n"
        " -d         : Display rendering statistics\n"
        " -E         : Also write each finished image as EXR (half floats, unclipped)\n"
        " -f         : Display image in framebuffer\n"
        " -g size    : Primary grid size for Monte Carlo irradiance computation\n"
        " -h mode    : Enable hidden line (1/2) or experim. scanline (3) rendering mode\n"
        " -j threads : Rendering threads (0 = one per processor core)\n"
        " -k frame   : Start animation from specified frame number\n"
        " -K frame   : End animation at specified frame number\n"
        " -l type    : Load photon map .QPM (1) | irradiance cache .QIC (2) if existing\n"
        " -L         : Write a log file per rendering session\n"
        " -m         : Mute mode (no verbose)\n"
        " -n         : Do not generate image file (forced to framebuffer)\n"
        " -o name    : Output image(s) to filename (no file extension)\n"
        " -O mode    : Enable OpenGL rendering mode (1=point / 2=line / 3=polygons)\n"
        " -p         : Also write each finished image as PNG\n"
        " -r x y     : Image resolution in pixels (x=width y=height)\n"
        " -s type    : Save photon maps in .QPM (1) | irradiance cache in .QIC (2) file\n"
        " -S name    : Impose a specific QSH shader file instead of the original\n"
        " -u quality : Fast Undersampling rendering mode (1 <= quality <= 10)\n"
        " -x xa xb   : Render from column xa to column xb\n"
        " -y ya yb   : Render from line ya to line yb\n"
        " -z z_depth : Dump Z-channel to disk (8,16,24,32=Targa / 64=Floating point)\n");
}

}  // namespace quorva

// The 3ds2qsb converter. Conversion arrives with the 3DS reader; until then the program only says how
// it will be used and fails, so that nobody mistakes it for a working converter.
#include <cstdio>

int main(int, char**) {
    std::fputs(
        "Usage: 3ds2qsb file.3ds [options]\n"
        "3ds2qsb: converting 3DS files is not available in this build.\n",
        stderr);
    return 1;
}

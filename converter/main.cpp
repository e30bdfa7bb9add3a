// The 3ds2qsb converter: turns a 3D Studio file (and a VUE animation) into scene files for quorva.
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "converter/converter.h"
#include "diagnostics/diagnostics.h"

int main(int argc, char** argv) {
    quorva::converter::Console console;
    try {
        return quorva::converter::runConverter(argc, argv, console);
    } catch (const quorva::FatalError& e) {
        std::string text = e.text();
        if (text.empty() || text.back() != '\n') text += '\n';
        std::fputs(text.c_str(), stderr);
        return 1;
    } catch (const std::bad_alloc&) {
        std::fputs("Memory allocation failure (report #0x71)\n", stderr);
        return 1;
    }
}

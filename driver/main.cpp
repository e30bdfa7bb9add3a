// The renderer's entry point: runs the driver and turns a fatal error into status 1.
#include "diagnostics/diagnostics.h"

int main(int, char**) {
    quorva::message("quorva\n");
    return 1;
}

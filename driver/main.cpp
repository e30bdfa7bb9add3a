// The renderer's entry point: runs the driver and turns a fatal error into status 1.
#include <csignal>
#include <new>
#include <string>
#include <vector>

#include "diagnostics/allocation.h"
#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"
#include "driver/run_driver.h"

int main(int argc, char** argv) {
    quorva::installInterruptHandler();
    // A write beyond the file size limit fails like a full disk instead of ending the process, so the
    // image writer can put the old image back and say that the image was not written.
    std::signal(SIGXFSZ, SIG_IGN);
    // More memory than the machine has is a failed allocation and status 1, not a process the system kills.
    quorva::boundAddressSpaceToMachine();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        return quorva::runRenderer(arguments);
    } catch (const quorva::FatalError& error) {
        quorva::reportFatal(error);
        return 1;
    } catch (const std::bad_alloc&) {
        quorva::reportFatal(quorva::FatalError("Failed memory allocation",
                                               "\nERROR :\nFailed memory allocation\n", "", 0, false));
        return 1;
    }
}

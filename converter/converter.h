// The 3ds2qsb program as a library routine: the command line, the frame loop and the files of each
// frame. Failures raise quorva::FatalError; only main turns them into an exit status.
#pragma once

#include "converter/report.h"

namespace quorva::converter {

// Converts as the command line says; returns the exit status (1 for the usage text, else 0).
int runConverter(int argc, const char* const* argv, Console& console);

}  // namespace quorva::converter

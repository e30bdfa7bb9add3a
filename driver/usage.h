// The banner and the usage text.
#pragma once

namespace quorva {

void printBanner();
// Banner, usage line, a key press on a terminal, then the option lines.
void printUsage();

}  // namespace quorva

// Whether, and how long, a window that shows a finished render stays open for a person to look at it.
#pragma once

#include <functional>

namespace quorva {

struct WindowWait {
    bool wait = false;
    double seconds = -1;  // below 0: until a key or the window's closing
};

// A window waits only where someone can end the wait: without limit when standard input is a terminal;
// QUORVA_WINDOW_WAIT=seconds sets a limit and applies whatever standard input is (0: no wait). A
// script, a batch job or a test without the variable never waits.
WindowWait windowWaitRule();

// Calls `done` about every 20 ms until it returns true or `seconds` have passed (never, below 0).
void waitUntil(const std::function<bool()>& done, double seconds);

}  // namespace quorva

// The rule for keeping a finished window open, and the polling wait.
#include "driver/window_wait.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace quorva {

WindowWait windowWaitRule() {
    WindowWait rule;
    if (const char* value = std::getenv("QUORVA_WINDOW_WAIT"); value && *value) {
        char* end = nullptr;
        const double seconds = std::strtod(value, &end);
        if (end != value && *end == '\0' && seconds == seconds) {
            rule.wait = seconds > 0;
            rule.seconds = seconds;
            return rule;
        }
    }
    rule.wait = isatty(STDIN_FILENO) == 1;
    return rule;
}

void waitUntil(const std::function<bool()>& done, double seconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    while (!done()) {
        if (seconds >= 0 && std::chrono::duration<double>(Clock::now() - start).count() >= seconds) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace quorva

#include "support/virtual_display.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace quorva::testing {

VirtualDisplay::VirtualDisplay(int width, int height, int depth, bool resetWhenIdle) {
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    // Display numbers from a range ordinary sessions do not use, skipping those whose lock exists.
    for (int attempt = 0; attempt < 40; ++attempt) {
        int number = 400 + static_cast<int>((getpid() * 7 + attempt * 13) % 3000);
        std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        if (std::filesystem::exists(lock)) continue;
        pid_t pid = fork();
        if (pid < 0) break;
        if (pid == 0) {
            std::string display = std::to_string(number);
            display.insert(display.begin(), ':');
            if (resetWhenIdle)
                execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                       static_cast<char*>(nullptr));
            else
                execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                       "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        for (int wait = 0; wait < 100; ++wait) {
            int status;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
                    error_ = "Xvfb could not be started (is it installed?)";
                    return;
                }
                pid = -1;
                break;  // display taken: try another number
            }
            if (std::filesystem::exists(socket)) {
                pid_ = pid;
                number_ = number;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    error_ = "no Xvfb display could be started";
}

std::string VirtualDisplay::name() const {
    std::string text = std::to_string(number_);
    text.insert(text.begin(), ':');
    return text;
}

VirtualDisplay::~VirtualDisplay() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

}  // namespace quorva::testing

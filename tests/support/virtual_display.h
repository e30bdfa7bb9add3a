// A private X server for the window tests: Xvfb on a free display number, stopped on destruction.
#pragma once

#include <sys/types.h>
#include <string>

namespace quorva::testing {

class VirtualDisplay {
  public:
    // Starts Xvfb with one screen of the given size and colour depth; on failure `error()` says why.
    // With `resetWhenIdle` the server resets whenever its last client leaves, as xvfb-run's does.
    VirtualDisplay(int width, int height, int depth, bool resetWhenIdle = false);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool running() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    std::string name() const;  // the DISPLAY value

  private:
    pid_t pid_ = -1;
    int number_ = -1;
    std::string error_;
};

}  // namespace quorva::testing

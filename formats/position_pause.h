// Hides the ascii input position while a binary file is read, so that its errors name no scene line.
#pragma once

#include "diagnostics/diagnostics.h"

namespace quorva {

class PositionPause {
  public:
    PositionPause() : saved_(diagnostics().position) { diagnostics().position = nullptr; }
    ~PositionPause() { diagnostics().position = saved_; }
    PositionPause(const PositionPause&) = delete;
    PositionPause& operator=(const PositionPause&) = delete;

  private:
    const InputPosition* saved_;
};

}  // namespace quorva

// Output files written under temporary names beside their final names and renamed only when complete:
// a conversion that fails leaves every earlier file of those names as it was and none of its own.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quorva::converter {

class StagedFiles {
  public:
    StagedFiles() = default;
    // Removes the temporaries that were never published.
    ~StagedFiles();
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // Creates an empty temporary file in the folder of `final`, with the permissions a new file gets
    // there, and returns its name; empty when it cannot be created.
    std::string stage(const std::string& final);
    // Renames the temporary of `final` over `final`; false when that fails (the temporary is removed).
    bool publish(const std::string& final);

  private:
    std::vector<std::pair<std::string, std::string>> files_;  // final name, temporary name
};

}  // namespace quorva::converter

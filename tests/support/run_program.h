// Runs a built program as a child process for CLI tests: standard input closed (/dev/null), standard
// error captured, a working folder and extra environment, and a timeout that kills a hung child.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quorva::testing {

struct ProgramResult {
    int status = -1;  // exit status; -1 when the child was killed or did not exit normally
    bool timedOut = false;
    std::string output;  // standard error and standard output, interleaved
};

struct ProgramOptions {
    std::string workingDirectory;                                  // empty: the current folder
    std::vector<std::pair<std::string, std::string>> environment;  // added or replaced
    std::vector<std::string> unset;                                // removed from the environment
    double timeoutSeconds = 60;
    // When the output first contains this text, the child gets `interruptSignal` (SIGINT, as from Ctrl-C,
    // when 0).
    std::string interruptWhenOutputContains;
    int interruptSignal = 0;
};

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const ProgramOptions& options = {});

// A fresh empty folder under the system's temporary folder, removed on destruction.
class TemporaryFolder {
  public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes a text file (folders created as needed) and returns its path.
    std::string write(const std::string& name, const std::string& text) const;

  private:
    std::string path_;
};

bool fileExists(const std::string& path);
std::string readFile(const std::string& path);

}  // namespace quorva::testing

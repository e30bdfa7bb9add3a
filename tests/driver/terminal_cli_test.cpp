// The built renderer on a pseudo-terminal, as a job of an interactive shell: started in the background
// it must run to its end (a job that reads its terminal or changes its modes is stopped by the
// terminal), and in the foreground it still reads keys.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "support/run_program.h"

namespace quorva {
namespace {

using testing::TemporaryFolder;

constexpr int StoppedByTerminal = 99;

struct TerminalRun {
    int status = -1;  // exit status, StoppedByTerminal, or -1 when it neither ended nor stopped
    std::string output;
    std::string beforeKey;  // the output when the key was typed
};

// Runs quorva in `dir` with stdin, stdout and stderr on a new terminal whose session leader plays the
// shell. In the background the program gets a process group of its own, as `quorva ... &` does;
// otherwise it is the leader itself. `key`, when not 0, is typed half a second after `typeAfter` has
// been printed.
TerminalRun runOnTerminal(const std::string& dir, const std::string& root,
                          const std::vector<std::string>& args, bool background, char key = 0,
                          const std::string& typeAfter = "") {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(QUORVA_BINARY));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    TerminalRun result;
    int master = -1;
    pid_t leader = forkpty(&master, nullptr, nullptr, nullptr);
    if (leader < 0) return result;
    if (leader == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        setenv("QUORVA_ROOT", root.c_str(), 1);
        alarm(60);  // kept across exec: a program that hangs ends
        if (!background) {
            execv(QUORVA_BINARY, argv.data());
            _exit(127);
        }
        pid_t job = fork();
        if (job == 0) {
            setpgid(0, 0);
            execv(QUORVA_BINARY, argv.data());
            _exit(127);
        }
        setpgid(job, job);
        int status = 0;
        waitpid(job, &status, WUNTRACED);
        if (WIFSTOPPED(status)) {
            kill(job, SIGKILL);
            waitpid(job, &status, 0);
            _exit(StoppedByTerminal);
        }
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 98);
    }
    // The terminal's output is read until every end of it is closed (read fails then).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    std::chrono::steady_clock::time_point typeAt{};
    bool typed = key == 0;
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        if (!typed && typeAt.time_since_epoch().count() != 0 && std::chrono::steady_clock::now() >= typeAt) {
            result.beforeKey = result.output;
            typed = write(master, &key, 1) == 1;
        }
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, 100) <= 0) continue;
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        result.output.append(buffer, static_cast<std::size_t>(n));
        if (!typed && typeAt.time_since_epoch().count() == 0 &&
            result.output.find(typeAfter) != std::string::npos)
            typeAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    }
    close(master);
    int status = 0;
    if (waitpid(leader, &status, WNOHANG) == 0) {
        kill(leader, SIGKILL);
        waitpid(leader, &status, 0);
    }
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

TEST(TerminalCli, BackgroundJobRunsToItsEndForegroundReadsKeys) {
    TemporaryFolder dir, root;
    root.write("include/readme.txt", "search-path folder\n");
    dir.write("s.qsb",
              "Version : 1.3\n"
              "Sequence [ FirstFrame 0 LastFrame 1 ]\n"
              "Camera [ (0, 0, -5), (0, 0, 0), (0, 1, 0) Format (16, 12) ]\n"
              "PointLight [ (5, 5, -5) ]\n"
              "Shape [ Sphere ((0, 0, 0), 1) ]\n");
    TerminalRun r = runOnTerminal(dir.path(), root.path(), {"s", "-m"}, true);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(testing::fileExists(dir.file("s0001.tga")));
    // The usage text waits for a key only where one can be typed.
    r = runOnTerminal(dir.path(), root.path(), {"-help"}, true);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(" -z z_depth"), std::string::npos) << r.output;

    r = runOnTerminal(dir.path(), root.path(), {"-help"}, false, 'x', "Press a key");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.beforeKey.find("Press a key"), std::string::npos) << r.output;
    EXPECT_EQ(r.beforeKey.find(" -a level"), std::string::npos) << "did not wait for the key";
    EXPECT_NE(r.output.find(" -z z_depth"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace quorva

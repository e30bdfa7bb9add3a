// Terminal key polling with termios: the terminal is switched to non-canonical, no-echo mode the
// first time a key is polled in the foreground and restored when the process ends.
#include "diagnostics/console.h"

#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace quorva {
namespace {

// Set by the handler on whichever thread takes the signal, read by the render worker that polls keys: a
// lock-free atomic serves both (a volatile flag is safe only within one thread).
std::atomic<bool> interruptPending{false};
// Stays set once a stop signal came, for the driver to end the run even when no key poll took it.
std::atomic<bool> stopSignal{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void onInterrupt(int signal) {
    interruptPending.store(true);
    stopSignal.store(true);
    // A second Ctrl-C ends the process at once. A scheduler or a shutdown may send SIGTERM or SIGHUP more
    // than once: the stop they ask for is already under way, and kill -9 remains for a hard end.
    if (signal == SIGINT) std::signal(SIGINT, SIG_DFL);
}

bool takeInterrupt() {
    return interruptPending.exchange(false);
}

// A process the terminal has put in the background is stopped (SIGTTIN, SIGTTOU) when it reads the
// terminal or changes its modes, so the keys are polled, and the modes set, only while the process
// group is the terminal's foreground group; that is checked at every poll, since the shell moves a
// job between the background and the foreground at any time.
class TerminalKeys final : public KeySource {
  public:
    bool keyWaiting() override {
        if (interruptPending.load()) return true;
        if (!prepare()) return false;
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        if (poll(&fd, 1, 0) <= 0) return false;
        return (fd.revents & POLLIN) != 0;
    }

    int readKey() override {
        if (takeInterrupt()) return EscapeKey;
        if (!prepare()) return -1;
        unsigned char c = 0;
        ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n != 1) {
            atEnd_ = true;  // end of input or an error: never wait on it again
            return -1;
        }
        return c;
    }

  private:
    // True when keys can be read now: standard input is a terminal and this process is in its
    // foreground group. The first time that holds, the modes are saved and keys switched to unbuffered,
    // unechoed reading; after a time in the background (where the shell may have set its own modes)
    // they are switched again.
    bool prepare() {
        if (atEnd_) return false;
        if (!checked_) {
            checked_ = true;
            isTerminal_ = isatty(STDIN_FILENO) == 1;
        }
        if (!isTerminal_) return false;
        if (tcgetpgrp(STDIN_FILENO) != getpgrp()) {
            foreground_ = false;
            return false;
        }
        if (!foreground_) {
            foreground_ = true;
            enterKeyMode();
        }
        return true;
    }

    void enterKeyMode() {
        if (!saved_ && tcgetattr(STDIN_FILENO, &savedModes_) != 0) return;
        termios raw = savedModes_;
        raw.c_lflag &= ~(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0 || saved_) return;
        saved_ = true;
        restoreOnExit_ = this;
        std::atexit([] { restoreOnExit_->restoreModes(); });
    }

    // Only in the foreground: in the background the shell has taken the terminal back with its own
    // modes, which are not to be changed under it. SIGTTOU stays blocked meanwhile, so that a job moved
    // to the background just then is not stopped on its way out.
    void restoreModes() {
        sigset_t block, previous;
        sigemptyset(&block);
        sigaddset(&block, SIGTTOU);
        pthread_sigmask(SIG_BLOCK, &block, &previous);
        if (tcgetpgrp(STDIN_FILENO) == getpgrp()) tcsetattr(STDIN_FILENO, TCSANOW, &savedModes_);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }

    bool checked_ = false;
    bool isTerminal_ = false;
    bool foreground_ = false;
    bool atEnd_ = false;
    bool saved_ = false;
    termios savedModes_{};
    static inline TerminalKeys* restoreOnExit_ = nullptr;
};

TerminalKeys& terminalKeys() {
    static TerminalKeys terminal;
    return terminal;
}

KeySource* installed = nullptr;

}  // namespace

void installInterruptHandler() {
    std::signal(SIGINT, onInterrupt);
    for (int signal : {SIGTERM, SIGHUP}) {
        // A hang-up or termination the parent ignores (nohup) stays ignored.
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        std::signal(signal, onInterrupt);
    }
}

bool stopSignalled() {
    return stopSignal.load();
}

KeySource& keys() {
    return installed ? *installed : terminalKeys();
}

void setKeySource(KeySource* source) {
    installed = source;
}

int waitForKey() {
    if (installed) return installed->readKey();
    // readKey blocks in non-canonical mode (VMIN 1) on a terminal and returns -1 otherwise.
    return terminalKeys().readKey();
}

}  // namespace quorva

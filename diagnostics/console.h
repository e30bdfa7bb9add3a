// Console keyboard: a non-blocking "is a key waiting" test and reading one key without echo.
// Keys are only ever read from a terminal; when standard input is not a terminal (a pipe, a file,
// closed, or at end of input) no key is ever waiting and waiting for a key returns at once.
#pragma once

namespace quorva {

constexpr int EscapeKey = 27;

class KeySource {
  public:
    virtual ~KeySource() = default;
    virtual bool keyWaiting() = 0;
    virtual int readKey() = 0;  // one key, or -1 when none can be read
};

// The process-wide key source: the terminal, unless a test installed another one.
KeySource& keys();
// Installs a replacement (tests); nullptr restores the terminal.
void setKeySource(KeySource* source);

// Ctrl-C (SIGINT), SIGTERM (a scheduler's time limit, kill, a shutdown) and SIGHUP become an Escape key
// press, so an interrupted render stops cleanly and its image stays valid; a second Ctrl-C ends the
// process at once. SIGTERM and SIGHUP inherited as ignored (nohup) stay ignored.
void installInterruptHandler();
// True once one of those signals arrived (it stays true): the run ends with status 1.
bool stopSignalled();

// Waits for one key press on a terminal and returns it; returns -1 at once when there is no terminal.
int waitForKey();

}  // namespace quorva

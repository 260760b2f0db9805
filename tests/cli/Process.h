#pragma once

#include <sys/types.h>
#include <termios.h>

#include <string>
#include <vector>

namespace orv::test {

// How to start orvendel-export. It gets this process's environment and a session of its own, so
// it has no controlling terminal unless it is given one.
struct Launch {
    std::vector<std::string> arguments{};
    std::string input{};           // standard input, then end of file
    std::string outputPath{};      // standard output goes to this file when set
    bool terminal = false;         // standard error is the controlling terminal
    bool outputOnTerminal = false; // standard output too
    bool obeyPermissions = false;  // even when started by root
    bool errorClosed = false;      // no standard error at all
    bool outputUnread = false;     // standard output is a pipe whose reader has gone
    size_t addressSpace = 0;       // a limit on the process's memory (RLIMIT_AS), when set
};

struct Outcome {
    int status = -1; // exit status; -1 when ended by a signal
    int signal = 0;
    bool coreDumped = false;
    std::string out; // standard output, unless it went elsewhere
    std::string err; // standard error, or all the terminal showed
};

class Process {
public:
    explicit Process(const Launch& launch);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const noexcept { return pid_; }
    // Reads what the terminal shows until it holds text; false when the process ends first.
    bool waitForTerminal(const std::string& text);
    void typeOnTerminal(const std::string& text);
    // The terminal's settings now (also after the process ended).
    termios terminalSettings() const;
    Outcome finish();

private:
    bool readTerminal(int timeoutMs);

    pid_t pid_ = -1;
    int out_ = -1; // files in memory that the process writes to
    int err_ = -1;
    int master_ = -1; // the terminal's master side
    Outcome outcome_;
};

inline Outcome runExport(const Launch& launch) {
    return Process(launch).finish();
}

} // namespace orv::test

#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orv::cli {

inline constexpr size_t maxPasswordBytes = 4096;

// SIGINT, SIGTERM and SIGHUP are remembered rather than fatal, so the command can remove its
// unfinished files at the next step; a second one ends the process at once.
void catchInterruptions();

// The signal caught, 0 when none.
int interruption() noexcept;

struct Interrupted {};

// Throws Interrupted once a signal was caught.
void stopIfInterrupted();

// One line from fd without its line end, for a password: throws Error when it cannot be read or
// is longer than maxPasswordBytes, Interrupted when a signal is caught while waiting for it.
std::string readPasswordLine(int fd, const std::string& source);

// Asks on the controlling terminal with echo off and returns the line typed; nullopt when the
// process has no terminal. Echo comes back even when the process is interrupted meanwhile.
std::optional<std::string> promptPassword(const std::string& prompt);

// One status line on a terminal, rewritten in place; nothing at all when fd is no terminal.
class ProgressLine {
public:
    explicit ProgressLine(int fd);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void show(std::string_view text);
    void clear();

private:
    int fd_;
    bool enabled_;
    bool shown_ = false;
};

// Text safe to print on a terminal: control characters become '?'.
std::string printable(std::string_view text);

// Writes everything; false (with errno) when the descriptor refuses.
bool writeAll(int fd, std::string_view text);

} // namespace orv::cli

#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orv::cli {

inline constexpr size_t maxPasswordBytes = 4096;

// SIGINT, SIGTERM and SIGHUP end the process at once, as they would by default, but only after
// the terminal's echo is back and the unfinished files (see sys::TemporaryFile) are gone.
void catchInterruptions();

// One line from fd without its line end, for a password: throws Error when it cannot be read or
// is longer than maxPasswordBytes.
std::string readPasswordLine(int fd, const std::string& source);

// Asks on the controlling terminal with echo off and returns the line typed; nullopt when the
// process has no terminal. Echo comes back even when the process is interrupted meanwhile.
std::optional<std::string> promptPassword(const std::string& prompt);

// Writes everything to the command's output. A reader that stopped reading (a closed pipe, as
// after "| head -1") ends the process as it ends other filters: by SIGPIPE, without a word.
// False (with errno) for any other failure.
bool writeOutput(int fd, std::string_view text);

// One status line on a terminal, rewritten in place; nothing at all when fd is no terminal. A
// terminal that knows no escape codes (TERM=dumb) gets blanks over the earlier line instead.
class ProgressLine {
public:
    explicit ProgressLine(int fd);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void show(std::string_view text);
    void clear();

private:
    std::string erased() const;

    int fd_;
    bool enabled_;
    bool dumb_;
    size_t shownWidth_ = 0;
    bool shown_ = false;
};

// Text safe to print on a terminal, one line: control characters and bytes that are not UTF-8
// become \xHH, one per byte, as names are written in the report.
std::string printable(std::string_view text);

} // namespace orv::cli

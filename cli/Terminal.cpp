#include "cli/Terminal.h"

#include "db/Error.h"
#include "report/ReportFormat.h"
#include "sys/Files.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace orv::cli {

namespace {

// The terminal whose echo is off, and its settings before; the handler puts them back.
volatile std::sig_atomic_t quietTerminal = -1;
termios echoingSettings{};

// Before a stop signal ends the command (at once, whatever it waits for: a locked table, a
// silent server), the terminal's echo comes back. Async-signal-safe.
void restoreEcho() noexcept {
    if (quietTerminal >= 0)
        ::tcsetattr(quietTerminal, TCSANOW, &echoingSettings);
}

// Keeps a terminal's echo off for its lifetime.
class EchoOff {
public:
    EchoOff(int fd, const termios& saved) : fd_(fd) {
        echoingSettings = saved;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        quietTerminal = fd;
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    ~EchoOff() {
        quietTerminal = -1;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        ::tcsetattr(fd_, TCSAFLUSH, &echoingSettings);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int fd_;
};

size_t terminalColumns(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return 80;
    return size.ws_col;
}

size_t characterCount(std::string_view text) {
    size_t count = 0;
    for (const char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

// At most this many characters of UTF-8 text.
std::string_view firstCharacters(std::string_view text, size_t count) {
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && characters++ == count)
            return text.substr(0, i);
    }
    return text;
}

} // namespace

void catchInterruptions() {
    sys::dieCleanlyOnStopSignals(restoreEcho);
}

std::string readPasswordLine(int fd, const std::string& source) {
    std::string line;
    for (;;) {
        char c = 0;
        ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw Error("Cannot read the password from " + source + ": " + std::strerror(errno));
        if (got == 0 || c == '\n')
            break;
        if (line.size() == maxPasswordBytes)
            throw Error("The password from " + source + " is longer than " +
                        std::to_string(maxPasswordBytes) + " bytes.");
        line += c;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::optional<std::string> promptPassword(const std::string& prompt) {
    sys::Descriptor tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios saved{};
    if (tty.get() < 0 || ::tcgetattr(tty.get(), &saved) != 0)
        return std::nullopt;
    // The Enter typed is not echoed either; the line ends once echo is back.
    struct LineEnd {
        int fd;
        ~LineEnd() { sys::writeAll(fd, "\n"); }
    } lineEnd{tty.get()};
    EchoOff quiet(tty.get(), saved);
    sys::writeAll(tty.get(), prompt);
    return readPasswordLine(tty.get(), "the terminal");
}

bool writeOutput(int fd, std::string_view text) {
    // The database driver ignores SIGPIPE for its own sockets, so a closed pipe shows as EPIPE.
    if (sys::writeAll(fd, text))
        return true;
    if (errno == EPIPE)
        sys::dieOf(SIGPIPE);
    return false;
}

ProgressLine::ProgressLine(int fd)
    : fd_(fd), enabled_(::isatty(fd) == 1),
      dumb_(std::getenv("TERM") && std::string_view(std::getenv("TERM")) == "dumb") {}

ProgressLine::~ProgressLine() {
    clear();
}

std::string ProgressLine::erased() const {
    if (!dumb_)
        return "\r\033[K";
    return shown_ ? "\r" + std::string(shownWidth_, ' ') + "\r" : "\r";
}

void ProgressLine::show(std::string_view text) {
    if (!enabled_)
        return;
    // A line longer than the terminal would wrap, and "\r" could not take it back.
    const std::string line(firstCharacters(printable(text), terminalColumns(fd_) - 1));
    sys::writeAll(fd_, erased() + line);
    shownWidth_ = characterCount(line);
    shown_ = true;
}

void ProgressLine::clear() {
    if (shown_)
        sys::writeAll(fd_, erased());
    shown_ = false;
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t valid = 0; // where the run of UTF-8 not yet written starts
    for (size_t i = 0; i < text.size();) {
        if (const size_t length = report::utf8Length(text, i)) {
            i += length;
            continue;
        }
        static constexpr char digits[] = "0123456789ABCDEF";
        const auto c = static_cast<unsigned char>(text[i]);
        out += report::escapedName(text.substr(valid, i - valid));
        out.append("\\x").append(1, digits[c >> 4]).append(1, digits[c & 0xF]);
        valid = ++i;
    }
    out += report::escapedName(text.substr(valid));
    return out;
}

} // namespace orv::cli

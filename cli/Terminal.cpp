#include "cli/Terminal.h"

#include "db/Error.h"
#include "sys/Files.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace orv::cli {

namespace {

// The terminal whose echo is off, and its settings before; the handler puts them back.
volatile std::sig_atomic_t quietTerminal = -1;
termios echoingSettings{};

// The command stops at once, whatever it waits for (a locked table, a silent server): the
// terminal's echo comes back, the unfinished files go, and the process dies of the signal, so
// the shell sees it was stopped rather than failed.
extern "C" void onInterruption(int signal) {
    if (quietTerminal >= 0)
        ::tcsetattr(quietTerminal, TCSANOW, &echoingSettings);
    sys::removeTemporaryFiles();
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
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
    struct sigaction action {};
    action.sa_handler = onInterruption;
    sigfillset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
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

ProgressLine::ProgressLine(int fd) : fd_(fd), enabled_(::isatty(fd) == 1) {}

ProgressLine::~ProgressLine() {
    clear();
}

void ProgressLine::show(std::string_view text) {
    if (!enabled_)
        return;
    // A line longer than the terminal would wrap, and "\r" could not take it back.
    const std::string line = printable(text);
    sys::writeAll(fd_, "\r\033[K" + std::string(firstCharacters(line, terminalColumns(fd_) - 1)));
    shown_ = true;
}

void ProgressLine::clear() {
    if (shown_)
        sys::writeAll(fd_, "\r\033[K");
    shown_ = false;
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out += '?'; // a C1 control in UTF-8, which some terminals obey
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace orv::cli

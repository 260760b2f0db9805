#include "cli/Process.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <stdexcept>

namespace orv::test {

namespace {

void check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string(what) + " failed");
}

// A file in memory holding text, read from its start.
int memoryFile(const std::string& text = {}) {
    int fd = ::memfd_create("orvendel-export", MFD_CLOEXEC);
    check(fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
              ::lseek(fd, 0, SEEK_SET) == 0,
          "memfd");
    return fd;
}

std::string contents(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0)
        text.append(buffer, static_cast<size_t>(got));
    return text;
}

} // namespace

Process::Process(const Launch& launch) {
    std::vector<std::string> arguments{ORVENDEL_EXPORT_BINARY};
    arguments.insert(arguments.end(), launch.arguments.begin(), launch.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int terminal = -1;
    if (launch.terminal) {
        check(::openpty(&master_, &terminal, nullptr, nullptr, nullptr) == 0, "openpty");
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        ::fcntl(terminal, F_SETFD, FD_CLOEXEC);
    }
    const int input = memoryFile(launch.input);
    if (!launch.terminal)
        err_ = memoryFile();
    int output = terminal;
    if (!launch.outputPath.empty()) {
        output = ::open(launch.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    } else if (launch.outputUnread) {
        int ends[2];
        check(::pipe2(ends, O_CLOEXEC) == 0, "pipe");
        ::close(ends[0]);
        output = ends[1];
    } else if (!launch.outputOnTerminal) {
        output = out_ = memoryFile();
    }
    check(output >= 0, "open");
    const int error = err_ >= 0 ? err_ : terminal;
    const bool dropOverride = launch.obeyPermissions && ::geteuid() == 0;

    pid_ = ::fork();
    check(pid_ >= 0, "fork");
    if (pid_ == 0) {
        ::setsid();
        if (launch.terminal)
            ::ioctl(terminal, TIOCSCTTY, 0);
        ::dup2(input, 0);
        ::dup2(output, 1);
        if (launch.errorClosed)
            ::close(2);
        else
            ::dup2(error, 2);
        // Root without these capabilities obeys permission bits, for the program it runs too.
        if (dropOverride && (::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0 ||
                             ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) != 0))
            ::_exit(126);
        const rlimit memory{launch.addressSpace, launch.addressSpace};
        if (launch.addressSpace != 0 && ::setrlimit(RLIMIT_AS, &memory) != 0)
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(input);
    if (!launch.outputPath.empty() || launch.outputUnread)
        ::close(output);
    if (terminal >= 0)
        ::close(terminal);
}

Process::~Process() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, err_, master_})
        if (fd >= 0)
            ::close(fd);
}

// Adds what the terminal shows within the time; false once the process has let go of it.
bool Process::readTerminal(int timeoutMs) {
    pollfd ready{master_, POLLIN, 0};
    if (::poll(&ready, 1, timeoutMs) <= 0)
        return true;
    char buffer[4096];
    ssize_t got = ::read(master_, buffer, sizeof buffer);
    if (got > 0)
        outcome_.err.append(buffer, static_cast<size_t>(got));
    return got > 0 || (got < 0 && errno == EINTR);
}

bool Process::waitForTerminal(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (outcome_.err.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || !readTerminal(100))
            return outcome_.err.find(text) != std::string::npos;
    }
    return true;
}

void Process::typeOnTerminal(const std::string& text) {
    check(::write(master_, text.data(), text.size()) == static_cast<ssize_t>(text.size()),
          "write to the terminal");
}

termios Process::terminalSettings() const {
    // On the master side these are the settings of the terminal the process holds.
    termios settings{};
    check(::tcgetattr(master_, &settings) == 0, "tcgetattr");
    return settings;
}

Outcome Process::finish() {
    while (master_ >= 0 && readTerminal(-1)) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    if (WIFEXITED(status))
        outcome_.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        outcome_.signal = WTERMSIG(status);
    outcome_.coreDumped = WIFSIGNALED(status) && WCOREDUMP(status);
    if (out_ >= 0)
        outcome_.out = contents(out_);
    if (err_ >= 0)
        outcome_.err = contents(err_);
    return outcome_;
}

} // namespace orv::test

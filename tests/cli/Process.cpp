#include "cli/Process.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

extern char** environ;

namespace orv::test {

namespace {

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> list;
    for (std::string& text : texts)
        list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

void check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string(what) + " failed");
}

} // namespace

std::vector<std::string> Outcome::errorLines() const {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = err.find('\n'); end != std::string::npos; end = err.find('\n', start)) {
        std::string line = err.substr(start, end - start);
        start = end + 1;
        // A progress line is cleared with "\r\033[K" before anything else is written.
        if (size_t cleared = line.rfind("\033[K"); cleared != std::string::npos)
            line.erase(0, cleared + 3);
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

Process::Process(const Launch& launch) : started_(std::chrono::steady_clock::now()) {
    if (launch.configHome.empty())
        throw std::logic_error("every run needs its own XDG_CONFIG_HOME");
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> arguments{ORVENDEL_EXPORT_BINARY};
    arguments.insert(arguments.end(), launch.arguments.begin(), launch.arguments.end());
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        size_t equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    variables["XDG_CONFIG_HOME"] = launch.configHome;
    for (const auto& [name, value] : launch.env)
        variables[name] = value;
    std::vector<std::string> environment;
    for (const auto& [name, value] : variables)
        environment.push_back(name + "=" + value);
    std::vector<char*> argv = pointers(arguments);
    std::vector<char*> envp = pointers(environment);

    int input[2], output[2], error[2];
    check(::pipe2(input, O_CLOEXEC) == 0, "pipe");
    check(::pipe2(output, O_CLOEXEC) == 0, "pipe");
    if (launch.terminal) {
        check(::openpty(&error[0], &error[1], nullptr, nullptr, nullptr) == 0, "openpty");
        terminalName_ = ::ttyname(error[1]);
        ::fcntl(error[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(error[1], F_SETFD, FD_CLOEXEC);
    } else {
        check(::pipe2(error, O_CLOEXEC) == 0, "pipe");
    }
    int outputTarget = launch.outputOnTerminal ? error[1] : output[1];
    if (!launch.outputPath.empty()) {
        outputTarget =
            ::open(launch.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        check(outputTarget >= 0, "open");
    }
    const bool dropOverride = launch.obeyPermissions && ::geteuid() == 0;

    pid_ = ::fork();
    check(pid_ >= 0, "fork");
    if (pid_ == 0) {
        ::setsid();
        if (launch.terminal)
            ::ioctl(error[1], TIOCSCTTY, 0);
        for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
            std::signal(signal, SIG_DFL);
        ::dup2(input[0], 0);
        ::dup2(outputTarget, 1);
        ::dup2(error[1], 2);
        // Root without this capability obeys permission bits, for the program it runs too.
        if (dropOverride && ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0)
            ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    ::close(error[1]);
    if (outputTarget != output[1])
        ::close(outputTarget);
    out_ = output[0];
    err_ = error[0];
    if (launch.terminal)
        master_ = error[0];
    // Small enough for the pipe's buffer; a process that never reads it is no reason to stop.
    std::string_view text = launch.input;
    while (!text.empty()) {
        ssize_t written = ::write(input[1], text.data(), text.size());
        if (written <= 0)
            break;
        text.remove_prefix(static_cast<size_t>(written));
    }
    ::close(input[1]);
}

Process::~Process() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0)
        ::close(out_);
    if (err_ >= 0 && err_ != master_)
        ::close(err_);
    if (master_ >= 0)
        ::close(master_);
}

bool Process::pump(int timeoutMs) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (out_ < 0 && err_ < 0)
        return false;
    int ready = ::poll(fds, 2, timeoutMs);
    if (ready < 0 && errno != EINTR)
        throw std::runtime_error("poll failed");
    std::string* targets[2] = {&outcome_.out, &outcome_.err};
    int* descriptors[2] = {&out_, &err_};
    for (int i = 0; i < 2 && ready > 0; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0)
            continue;
        char buffer[4096];
        ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
        if (got > 0) {
            targets[i]->append(buffer, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            // The end of a pipe; on a terminal, EIO once the process has let go of it. The
            // terminal stays open so that its settings can still be read.
            if (fds[i].fd != master_)
                ::close(fds[i].fd);
            *descriptors[i] = -1;
        }
    }
    return true;
}

bool Process::waitForTerminal(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (outcome_.err.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || !pump(100))
            return outcome_.err.find(text) != std::string::npos;
    }
    return true;
}

void Process::typeOnTerminal(const std::string& text) {
    if (master_ < 0)
        throw std::logic_error("the process has no terminal");
    ssize_t written = ::write(master_, text.data(), text.size());
    check(written == static_cast<ssize_t>(text.size()), "write to the terminal");
}

termios Process::terminalSettings() const {
    int fd = ::open(terminalName_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    check(fd >= 0, "open the terminal");
    termios settings{};
    ::tcgetattr(fd, &settings);
    ::close(fd);
    return settings;
}

Outcome Process::finish() {
    while (pump(-1)) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    outcome_.took = std::chrono::steady_clock::now() - started_;
    if (WIFEXITED(status))
        outcome_.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        outcome_.signal = WTERMSIG(status);
    return outcome_;
}

Outcome runExport(const Launch& launch) {
    Process process(launch);
    return process.finish();
}

} // namespace orv::test

#include "sys/Files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>
#include <vector>

namespace orv::sys {

namespace {

// The paths a signal handler removes: fixed storage, since a handler may not allocate.
struct Registered {
    std::atomic<bool> used{false};
    bool folder = false;
    char path[4096] = {};
};
Registered registry[8];

// Keeps the process's stop signals from arriving while a temporary file is made and entered
// in the registry, so none is left behind unregistered.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t stops;
        sigemptyset(&stops);
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&stops, signal);
        ::pthread_sigmask(SIG_BLOCK, &stops, &previous_);
    }
    ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

int enter(const std::string& path, bool folder) {
    if (path.size() >= sizeof registry[0].path)
        return -1; // still removed on destruction, only not by a signal handler
    for (int i = 0; i < static_cast<int>(std::size(registry)); ++i) {
        Registered& slot = registry[i];
        if (slot.used.load())
            continue;
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.folder = folder;
        slot.used.store(true);
        return i;
    }
    return -1;
}

void leave(int slot) {
    if (slot >= 0)
        registry[slot].used.store(false);
}

} // namespace

Descriptor::~Descriptor() noexcept {
    if (fd_ >= 0)
        ::close(fd_);
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

std::optional<std::string> readAll(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            if (got < 0)
                return std::nullopt;
            return text;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
}

bool syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return synced;
}

mode_t newFileMode() {
    // Linux tells the umask in the process's status; where it does not, assume the usual one.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Umask:", 0) == 0)
            return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    return 0644;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isUnder(const std::string& path, const char* folder) {
    const size_t length = std::strlen(folder);
    return path.compare(0, length, folder) == 0 && (path.size() == length || path[length] == '/');
}

int followLinks(const std::string& path, std::string& target) {
    // The kernel's own limit of links in one lookup.
    constexpr int maxLinks = 40;
    target = path;
    for (int links = 0;; ++links) {
        if (isUnder(target, "/dev") || isUnder(target, "/proc"))
            return 0;
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0)
            return links == 0 && errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(info.st_mode))
            return 0;
        if (links == maxLinks)
            return ELOOP;
        // As the kernel follows links for everyone else (fs.protected_symlinks, on by default):
        // in a sticky folder that everyone may write, such as /tmp, only a link of the process's
        // own user or of the folder's owner, so that nobody can plant one there that leads to a
        // file of the user's.
        struct stat folder {};
        if (::stat(folderOf(target).c_str(), &folder) == 0 &&
            (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH) &&
            info.st_uid != ::geteuid() && info.st_uid != folder.st_uid)
            return EACCES;
        std::string text(static_cast<size_t>(info.st_size > 0 ? info.st_size : 256), '\0');
        for (;;) {
            const ssize_t length = ::readlink(target.c_str(), text.data(), text.size());
            if (length < 0)
                return errno;
            if (static_cast<size_t>(length) < text.size()) {
                text.resize(static_cast<size_t>(length));
                break;
            }
            text.resize(text.size() * 2); // the link changed meanwhile
        }
        target = text.front() == '/' ? text : folderOf(target) + "/" + text;
    }
}

bool isLink(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

int makeFolders(const std::string& folder, mode_t mode) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT)
        return errno;
    const std::string parent = folderOf(folder);
    if (parent != folder && parent != ".")
        if (const int error = makeFolders(parent, mode))
            return error;
    return ::mkdir(folder.c_str(), mode) == 0 || errno == EEXIST ? 0 : errno;
}

FileLock::FileLock(const std::string& path) {
    // Whoever removes or replaces the lock file meanwhile (a user tidying up) leaves this process
    // holding a lock nobody else sees: the lock counts only on the file still at the path.
    for (int attempt = 0; attempt < 100; ++attempt) {
        Descriptor file(
            ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
        if (file.get() < 0) {
            error_ = errno;
            return;
        }
        int locked = 0;
        while ((locked = ::flock(file.get(), LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            error_ = errno;
            return;
        }
        struct stat held {};
        struct stat current {};
        if (::fstat(file.get(), &held) == 0 && ::lstat(path.c_str(), &current) == 0 &&
            held.st_dev == current.st_dev && held.st_ino == current.st_ino) {
            fd_ = file.release();
            return;
        }
    }
    error_ = EAGAIN;
}

FileLock::~FileLock() noexcept {
    if (fd_ >= 0)
        ::close(fd_);
}

TemporaryFile::TemporaryFile(const std::string& finalPath) {
    std::string pattern = folderOf(finalPath) + "/." + nameOf(finalPath) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    SignalsHeld held;
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    path_ = name.data();
    slot_ = enter(path_, false);
}

TemporaryFile::~TemporaryFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!path_.empty())
        ::unlink(path_.c_str());
    leave(slot_);
}

int TemporaryFile::replace(const std::string& finalPath, std::optional<mode_t> mode) {
    struct stat old {};
    if (mode) {
        if (::fchmod(fd_, *mode) != 0)
            return errno;
    } else if (::stat(finalPath.c_str(), &old) == 0) {
        // Only root may give the file to its owner, and a group may be kept only by one of its
        // members: a group that cannot be kept does not get the rights meant for the old one.
        // The mode comes last, since a change of owner clears the set-ID bits.
        mode_t kept = old.st_mode & 07777;
        if (::fchown(fd_, old.st_uid, old.st_gid) != 0 &&
            ::fchown(fd_, static_cast<uid_t>(-1), old.st_gid) != 0)
            kept &= 0707;
        if (::fchmod(fd_, kept) != 0)
            return errno;
    } else if (::fchmod(fd_, newFileMode()) != 0) {
        return errno;
    }
    if (::fsync(fd_) != 0)
        return errno;
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0)
        return errno;
    if (::rename(path_.c_str(), finalPath.c_str()) != 0)
        return errno;
    path_.clear();
    leave(std::exchange(slot_, -1));
    // The report is complete either way; only its surviving a power cut is at stake here.
    syncFolder(folderOf(finalPath));
    return 0;
}

std::string TemporaryFolder::parent() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

TemporaryFolder::TemporaryFolder(const std::string& prefix, const std::string& fileName)
    : fileName_(fileName) {
    std::string pattern = parent() + "/" + prefix + ".XXXXXX";
    SignalsHeld held;
    if (!::mkdtemp(pattern.data())) {
        error_ = errno;
        return;
    }
    path_ = pattern;
    folderSlot_ = enter(path_, true);
    fileSlot_ = enter(filePath(), false);
}

TemporaryFolder::~TemporaryFolder() {
    if (!path_.empty()) {
        ::unlink(filePath().c_str());
        ::rmdir(path_.c_str());
    }
    leave(fileSlot_);
    leave(folderSlot_);
}

void openClosedStandardStreams() noexcept {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lowest free descriptor is this one.
        ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    }
}

void forbidCoreDumps() noexcept {
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    // Also where the kernel hands dumps to a program, which the limit does not stop.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void removeTemporaryFiles() noexcept {
    for (Registered& slot : registry)
        if (slot.used.load() && !slot.folder)
            ::unlink(slot.path);
    for (Registered& slot : registry)
        if (slot.used.load() && slot.folder)
            ::rmdir(slot.path);
}

void dieOf(int signal) noexcept {
    removeTemporaryFiles();
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal);
}

namespace {

void (*volatile beforeDying)() noexcept = nullptr;

extern "C" void onStopSignal(int signal) {
    if (beforeDying)
        beforeDying();
    dieOf(signal);
}

} // namespace

void dieCleanlyOnStopSignals(void (*before)() noexcept) noexcept {
    beforeDying = before;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigfillset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace orv::sys

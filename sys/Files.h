#pragma once

// The few POSIX file operations the programs share: complete writes, durable renames, the modes
// and owners of new and replaced files, links followed, locks shared between processes, and
// temporary files that go away even when the process is stopped by a signal.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace orv::sys {

// An open descriptor, closed on destruction; -1 when the open failed.
class Descriptor {
public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    ~Descriptor() noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const noexcept { return fd_; }
    // Hands the descriptor over: it is no longer closed here.
    int release() noexcept { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// Writes everything, going on after interruptions; false (with errno) when fd refuses.
bool writeAll(int fd, std::string_view text);

// The whole content of a file, going on after interruptions; nullopt (with errno) when it cannot
// be read.
std::optional<std::string> readAll(const std::string& path);

// Makes the renames done in a folder survive a power cut; false (with errno) when it cannot.
bool syncFolder(const std::string& folder);

// The mode a new file of mode 0666 gets under the process's umask, read without changing it
// (the umask is process-wide, and other threads may be creating files).
mode_t newFileMode();

std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);

// The file a path names once the links at its end are followed: the path itself when it is no
// link, or names nothing yet. A link's text is taken from the link's own folder, as the kernel
// takes it, and the path is never made absolute, so links below folders deeper than PATH_MAX
// are followed too. A path under /dev or /proc ends the walk: the kernel's links there
// (/dev/stdout, /proc/self/fd/1) stand for open descriptors, not for files. A link another user
// put in a sticky folder everyone may write is not followed, as the kernel does not follow it.
// Returns 0, or the errno that stopped it: ENOENT for a link to nothing, ELOOP for links that
// never end, EACCES for such a link.
int followLinks(const std::string& path, std::string& target);

// Whether the path is a symbolic link.
bool isLink(const std::string& path);

// Makes the folder and any missing folder above it with this mode; 0, or the errno.
int makeFolders(const std::string& folder, mode_t mode);
bool isUnder(const std::string& path, const char* folder);

// An exclusive lock held for its lifetime on a lock file (created owner-only when missing), which
// every process that locks the same path waits for; the system drops it when the process ends,
// however it ends. error() is 0 once the lock is held.
class FileLock {
public:
    explicit FileLock(const std::string& path);
    ~FileLock() noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    int error() const noexcept { return error_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

// A file created beside its final place (".NAME.XXXXXX" in the same folder), removed on
// destruction unless it was renamed into place, and also when a signal stops the process (see
// removeTemporaryFiles).
class TemporaryFile {
public:
    // fd() is -1 and error() tells why when the folder refuses the file.
    explicit TemporaryFile(const std::string& finalPath);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const noexcept { return fd_; }
    int error() const noexcept { return error_; }
    const std::string& path() const noexcept { return path_; }

    // Gives the file `mode`, or else the mode, group and (where the process may: root) owner of
    // the file it replaces, as writing into that file would have kept them, or the usual mode of
    // a new file; syncs, closes and renames it over finalPath, then syncs the folder. Returns 0,
    // or the errno of the step that failed.
    int replace(const std::string& finalPath, std::optional<mode_t> mode = std::nullopt);

private:
    int fd_ = -1;
    int error_ = 0;
    std::string path_;
    int slot_ = -1;
};

// A temporary folder (in $TMPDIR, else /tmp) holding one file, fileName, under the same removal
// rules: both go on destruction and when a signal stops the process.
class TemporaryFolder {
public:
    // path() is empty and error() tells why when it cannot be made.
    TemporaryFolder(const std::string& prefix, const std::string& fileName);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const noexcept { return path_; }
    std::string filePath() const { return path_ + "/" + fileName_; }
    int error() const noexcept { return error_; }
    // Where it was to be made.
    static std::string parent();

private:
    std::string path_;
    std::string fileName_;
    int error_ = 0;
    int folderSlot_ = -1;
    int fileSlot_ = -1;
};

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, so that no file the program
// opens later takes the place of a standard stream (and gets its messages written into it).
void openClosedStandardStreams() noexcept;

// The process holds a password: it must not end up in a core dump.
void forbidCoreDumps() noexcept;

// Removes every temporary file and folder still registered. Async-signal-safe: it is what a
// signal handler calls before the process dies of the signal.
void removeTemporaryFiles() noexcept;

// Removes the temporary files, then ends the process by the signal, as the signal's default
// action would, so that whoever waits for it sees how it ended. Async-signal-safe.
[[noreturn]] void dieOf(int signal) noexcept;

// SIGINT, SIGTERM and SIGHUP end the process at once, as they would by default, but without
// leaving its temporary files behind; `before` (async-signal-safe), when given, runs first.
void dieCleanlyOnStopSignals(void (*before)() noexcept = nullptr) noexcept;

} // namespace orv::sys

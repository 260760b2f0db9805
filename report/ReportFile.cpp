#include "report/ReportFile.h"

#include "db/Error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace orv::report {

namespace {

constexpr size_t bufferSize = 64 * 1024;

} // namespace

ReportFile::ReportFile(std::string path, Overwrite overwrite) : path_(std::move(path)) {
    if (path_.empty())
        throw Error("Bad file name or number");
    // A link stays a link: the file it leads to is replaced. A link that cannot be followed to
    // its end is an error, never replaced by a file of its own.
    if (const int error = sys::followLinks(path_, target_)) {
        // No link: a folder on the way cannot be searched, or is a file.
        if (!sys::isLink(path_))
            fail("Cannot create the file", error);
        if (error == ENOENT)
            throw Error("Cannot create the file " + path_ + ": it is a link to a missing file");
        throw Error("Cannot create the file " + path_ + ": its link cannot be followed (" +
                    std::strerror(error) + ")");
    }
    struct stat info {};
    const bool exists = ::stat(target_.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode))
        fail("Cannot create the file", EISDIR);
    // Devices, pipes and the kernel's files cannot be replaced; neither can a standard stream
    // spelt some other way (/dev//stdout, /proc/self/fd/1 are links into /proc).
    if ((exists && !S_ISREG(info.st_mode)) || sys::isUnder(target_, "/dev") ||
        sys::isUnder(target_, "/proc")) {
        openDirectly(exists && S_ISREG(info.st_mode));
        return;
    }
    // The shell's ">" refuses a file the user may not write, though the folder would let it be
    // replaced; root may write any file, there as here.
    if (exists && overwrite == Overwrite::asTheShellDoes &&
        ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0)
        throw Error("Cannot replace the file " + path_ + ": you may not write to it (" +
                    std::strerror(errno) + ")");
    temporary_ = std::make_unique<sys::TemporaryFile>(target_);
    if (temporary_->fd() < 0) {
        const int error = temporary_->error();
        const std::string folder = sys::folderOf(target_);
        // The file itself may well be writable; it is the folder that refuses the new file.
        if (exists && (error == EACCES || error == EPERM || error == EROFS))
            throw Error("Cannot create the file " + path_ + ": the folder " + folder +
                        " does not allow new files (" + std::strerror(error) + ")");
        fail("Cannot create the file", error);
    }
    buffer_.reserve(bufferSize);
}

void ReportFile::openDirectly(bool truncate) {
    // Without a reader a pipe would block the open for good: the open does not wait, and a
    // pipe nobody reads is an error.
    directFd_ = ::open(path_.c_str(),
                       O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (truncate ? O_TRUNC : 0));
    if (directFd_ < 0) {
        if (errno == ENXIO)
            throw Error("Cannot create the file " + path_ + ": no program is reading from it");
        fail("Cannot create the file", errno);
    }
    const int flags = ::fcntl(directFd_, F_GETFL);
    if (flags >= 0)
        ::fcntl(directFd_, F_SETFL, flags & ~O_NONBLOCK);
}

ReportFile::~ReportFile() {
    if (directFd_ >= 0)
        ::close(directFd_);
}

void ReportFile::fail(const char* what, int error) const {
    throw Error(std::string(what) + " " + path_ + ": " + std::strerror(error));
}

void ReportFile::write(std::string_view text) {
    if (committed_)
        throw Error("The report file " + path_ + " is already closed.");
    buffer_ += text;
    if (buffer_.size() >= bufferSize)
        flush();
}

void ReportFile::flush() {
    const int fd = temporary_ ? temporary_->fd() : directFd_;
    if (!sys::writeAll(fd, buffer_))
        fail("Cannot write the file", errno);
    buffer_.clear();
}

void ReportFile::commit() {
    if (committed_)
        throw Error("The report file " + path_ + " is already closed.");
    flush();
    committed_ = true;
    if (temporary_) {
        if (const int error = temporary_->replace(target_))
            fail("Cannot write the file", error);
        return;
    }
    const int fd = std::exchange(directFd_, -1);
    if (::close(fd) != 0)
        fail("Cannot write the file", errno);
}

} // namespace orv::report

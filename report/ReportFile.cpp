#include "report/ReportFile.h"

#include "db/Error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace orv::report {

namespace {

constexpr size_t bufferSize = 64 * 1024;

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t newFileMode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

ReportFile::ReportFile(std::string path) : path_(std::move(path)) {
    if (path_.empty())
        throw Error("Bad file name or number");
    struct stat info {};
    if (::stat(path_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        if (S_ISDIR(info.st_mode))
            fail("Cannot create the file", EISDIR);
        fd_ = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd_ < 0)
            fail("Cannot create the file", errno);
        return;
    }
    std::string pattern = folderOf(path_) + "/." + nameOf(path_) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0)
        fail("Cannot create the file", errno);
    temporary_ = name.data();
    buffer_.reserve(bufferSize);
}

ReportFile::~ReportFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!committed_ && !temporary_.empty())
        ::unlink(temporary_.c_str());
}

void ReportFile::fail(const char* what, int error) const {
    throw Error(std::string(what) + " " + path_ + ": " + std::strerror(error));
}

void ReportFile::write(std::string_view text) {
    if (committed_ || fd_ < 0)
        throw Error("The report file " + path_ + " is already closed.");
    buffer_ += text;
    if (buffer_.size() >= bufferSize)
        flush();
}

void ReportFile::flush() {
    const char* data = buffer_.data();
    size_t left = buffer_.size();
    while (left > 0) {
        ssize_t written = ::write(fd_, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail("Cannot write the file", errno);
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    buffer_.clear();
}

void ReportFile::commit() {
    if (committed_ || fd_ < 0)
        throw Error("The report file " + path_ + " is already closed.");
    flush();
    if (!temporary_.empty()) {
        if (::fchmod(fd_, newFileMode()) != 0 || ::fsync(fd_) != 0)
            fail("Cannot write the file", errno);
    }
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        fail("Cannot write the file", errno);
    if (!temporary_.empty() && ::rename(temporary_.c_str(), path_.c_str()) != 0)
        fail("Cannot replace the file", errno);
    committed_ = true;
}

} // namespace orv::report

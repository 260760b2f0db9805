#pragma once

#include <string>
#include <string_view>

namespace orv::report {

// A report file that never exists half-written: the text goes to a temporary file beside the
// target, which replaces the target only on commit(). A target that is not a regular file
// (a device or a pipe) is written directly, since it cannot be replaced.
class ReportFile {
public:
    explicit ReportFile(std::string path); // throws orv::Error when the file cannot be created
    ~ReportFile();                         // removes the temporary file unless committed
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    void write(std::string_view text);
    void commit();

    const std::string& path() const noexcept { return path_; }

private:
    void flush();
    [[noreturn]] void fail(const char* what, int error) const;

    std::string path_;
    std::string temporary_; // empty when writing straight to the target
    int fd_ = -1;
    std::string buffer_;
    bool committed_ = false;
};

} // namespace orv::report

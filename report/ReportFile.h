#pragma once

#include "sys/Files.h"

#include <memory>
#include <string>
#include <string_view>

namespace orv::report {

// Whether a file the user may not write is replaced.
enum class Overwrite {
    asTheShellDoes, // refused, as the shell's ">" refuses it
    confirmed,      // replaced: the user was asked and said yes, as to a forced removal
};

// A report file that never exists half-written: the text goes to a temporary file beside the
// target, which replaces the target only on commit(), keeping its mode, group and, where the
// process may, owner. What is not a regular file to replace (a device, a pipe, anything under
// /dev or /proc) is written directly; a link is kept, and the file it points to is replaced.
class ReportFile {
public:
    // Throws orv::Error when the file cannot be created.
    explicit ReportFile(std::string path, Overwrite overwrite = Overwrite::asTheShellDoes);
    ~ReportFile(); // removes the temporary file unless committed
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    void write(std::string_view text);
    void commit();

    const std::string& path() const noexcept { return path_; }

private:
    void flush();
    [[noreturn]] void fail(const char* what, int error) const;
    void openDirectly(bool truncate);

    std::string path_;
    std::string target_;                            // the file a link points to, else path_
    std::unique_ptr<sys::TemporaryFile> temporary_; // absent when writing straight to the target
    int directFd_ = -1;
    std::string buffer_;
    bool committed_ = false;
};

} // namespace orv::report

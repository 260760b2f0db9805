#pragma once

#include <stdexcept>
#include <string>

namespace orv {

// The one error type of the program. Database failures carry the driver's SQLSTATE and native
// code; other failures (files, state) leave them empty.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& description, std::string sqlState = {}, long nativeCode = 0)
        : std::runtime_error(description), sqlState_(std::move(sqlState)), nativeCode_(nativeCode) {
    }

    const std::string& sqlState() const noexcept { return sqlState_; }
    long nativeCode() const noexcept { return nativeCode_; }

private:
    std::string sqlState_;
    long nativeCode_;
};

} // namespace orv

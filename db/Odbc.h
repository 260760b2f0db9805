#pragma once

// Thin RAII layer over the ODBC C API. Private to the db library.

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <utility>

namespace orv::db::odbc {

// Throws orv::Error with the first diagnostic record of the handle unless rc is a success. A
// statement's connection, when given, is asked for a server message the driver dropped.
void check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle,
           SQLHANDLE connection = SQL_NULL_HANDLE);

template <SQLSMALLINT HandleType> class Handle {
public:
    Handle(SQLHANDLE parent) : parent_(parent) {
        SQLRETURN rc = SQLAllocHandle(HandleType, parent, &handle_);
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
            handle_ = SQL_NULL_HANDLE;
            odbc::check(rc, parentType(), parent);
        }
    }
    ~Handle() noexcept {
        if (handle_ != SQL_NULL_HANDLE)
            SQLFreeHandle(HandleType, handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)), parent_(other.parent_) {}
    Handle& operator=(Handle&& other) noexcept {
        std::swap(handle_, other.handle_);
        std::swap(parent_, other.parent_);
        return *this;
    }

    SQLHANDLE get() const noexcept { return handle_; }
    void check(SQLRETURN rc) const {
        odbc::check(rc, HandleType, handle_,
                    HandleType == SQL_HANDLE_STMT ? parent_ : SQL_NULL_HANDLE);
    }

private:
    static constexpr SQLSMALLINT parentType() {
        return HandleType == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV;
    }
    SQLHANDLE handle_ = nullptr;
    SQLHANDLE parent_ = nullptr;
};

using Environment = Handle<SQL_HANDLE_ENV>;
using ConnectionHandle = Handle<SQL_HANDLE_DBC>;
using Statement = Handle<SQL_HANDLE_STMT>;

// A connected DBC: disconnects before its handle is freed.
class Link {
public:
    Link(const Environment& env, const std::string& connectionString, SQLULEN loginTimeout);
    ~Link() noexcept;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    const ConnectionHandle& handle() const noexcept { return dbc_; }

private:
    ConnectionHandle dbc_;
};

} // namespace orv::db::odbc

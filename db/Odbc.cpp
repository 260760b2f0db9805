#include "db/Odbc.h"

#include "db/Error.h"

#include <vector>

namespace orv::db::odbc {

void check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle) {
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA)
        return;
    if (rc == SQL_INVALID_HANDLE || handle == SQL_NULL_HANDLE)
        throw Error("The ODBC driver manager could not allocate a handle.");

    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::vector<SQLCHAR> text(512);
    SQLRETURN diag = SQLGetDiagRec(handleType, handle, 1, state, &native, text.data(),
                                   static_cast<SQLSMALLINT>(text.size()), &length);
    if (diag == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
        text.resize(static_cast<size_t>(length) + 1);
        diag = SQLGetDiagRec(handleType, handle, 1, state, &native, text.data(),
                             static_cast<SQLSMALLINT>(text.size()), &length);
    }
    if (diag != SQL_SUCCESS && diag != SQL_SUCCESS_WITH_INFO)
        throw Error("The ODBC driver reported a failure without a description.");
    std::string message(reinterpret_cast<const char*>(text.data()));
    throw Error(message, reinterpret_cast<const char*>(state), native);
}

Environment Link::odbc3Environment() {
    Environment env(nullptr);
    env.check(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION,
                            reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0));
    return env;
}

Link::Link(const std::string& connectionString, SQLULEN loginTimeout)
    : env_(odbc3Environment()), dbc_(env_.get()) {
    dbc_.check(SQLSetConnectAttr(dbc_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                                 reinterpret_cast<SQLPOINTER>(loginTimeout), 0));
    std::string text = connectionString;
    SQLSMALLINT outLength = 0;
    dbc_.check(SQLDriverConnect(dbc_.get(), nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                static_cast<SQLSMALLINT>(text.size()), nullptr, 0, &outLength,
                                SQL_DRIVER_NOPROMPT));
}

Link::~Link() noexcept {
    if (dbc_.get() != SQL_NULL_HANDLE)
        SQLDisconnect(dbc_.get());
}

} // namespace orv::db::odbc

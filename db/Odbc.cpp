#include "db/Odbc.h"

#include "db/Error.h"

#include <optional>
#include <vector>

namespace orv::db::odbc {

namespace {

// MariaDB Connector/ODBC (3.1.15 measured) keeps a diagnostic in SQL_MAX_MESSAGE_LENGTH (512)
// bytes, its prefixes included: "[ma-3.1.15]", and for a statement also the server's version,
// "[10.11.19-MariaDB-0+deb12u1]". A server message that does not fit whole is dropped whole,
// leaving the prefixes alone (for a statement, from 473 bytes of message on; the buffer's size
// makes no difference). The server keeps the message until the next statement.
bool onlyPrefixes(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == '[') {
        const size_t close = text.find(']', i);
        if (close == std::string::npos)
            return false;
        i = close + 1;
    }
    return i > 0 && i == text.size();
}

// The server's own text of its latest error of this code on the connection: SHOW ERRORS
// leaves the server's diagnostics as they are.
std::optional<std::string> serverMessage(SQLHANDLE connection, SQLINTEGER code) {
    SQLHANDLE stmt = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection, &stmt)))
        return std::nullopt;
    struct Freed {
        SQLHANDLE stmt;
        ~Freed() { SQLFreeHandle(SQL_HANDLE_STMT, stmt); }
    } freed{stmt};
    char query[] = "SHOW ERRORS";
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(query), SQL_NTS)))
        return std::nullopt;
    while (SQL_SUCCEEDED(SQLFetch(stmt))) {
        SQLINTEGER rowCode = 0;
        SQLLEN indicator = 0;
        if (!SQL_SUCCEEDED(SQLGetData(stmt, 2, SQL_C_SLONG, &rowCode, 0, &indicator)) ||
            rowCode != code)
            continue;
        std::string message;
        char part[1024];
        for (;;) {
            const SQLRETURN got = SQLGetData(stmt, 3, SQL_C_CHAR, part, sizeof part, &indicator);
            if (got == SQL_NO_DATA || indicator == SQL_NULL_DATA)
                break;
            if (!SQL_SUCCEEDED(got))
                return std::nullopt;
            // Each part is NUL-terminated, a part that filled the buffer too.
            message += part;
            if (got == SQL_SUCCESS)
                break;
        }
        return message;
    }
    return std::nullopt;
}

} // namespace

void check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, SQLHANDLE connection) {
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
    if (onlyPrefixes(message)) {
        const std::optional<std::string> dropped =
            connection != SQL_NULL_HANDLE ? serverMessage(connection, native) : std::nullopt;
        message += dropped ? *dropped
                           : "The server's message (error " + std::to_string(native) +
                                 ") was too long for the ODBC driver to pass on.";
    }
    throw Error(message, reinterpret_cast<const char*>(state), native);
}

Link::Link(const Environment& env, const std::string& connectionString, SQLULEN loginTimeout)
    : dbc_(env.get()) {
    dbc_.check(SQLSetConnectAttr(dbc_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                                 reinterpret_cast<SQLPOINTER>(loginTimeout), 0));
    std::string text = connectionString;
    SQLSMALLINT outLength = 0;
    dbc_.check(SQLDriverConnect(dbc_.get(), nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                static_cast<SQLSMALLINT>(text.size()), nullptr, 0, &outLength,
                                SQL_DRIVER_NOPROMPT));
}

Link::~Link() noexcept {
    SQLDisconnect(dbc_.get());
}

} // namespace orv::db::odbc

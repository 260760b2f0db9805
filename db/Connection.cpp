#include "db/Connection.h"

#include "db/Catalogue.h"
#include "db/Error.h"
#include "db/Odbc.h"
#include "db/Tls.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace orv::db {

const char* const closedObjectText = "Operation is not allowed when the object is closed.";

namespace {

// The driver ignores the login time-out while a server accepts and stays silent, and has no
// query time-out: its own socket time-outs bound both waits. The TLS options go here too.
std::string withDriverOptions(const std::string& connectionString, const Login& login,
                              Timeouts timeouts) {
    const std::string command = std::to_string(timeouts.commandSeconds);
    return connectionString + driverTlsOptions(login) +
           "CONN_TIMEOUT=" + std::to_string(timeouts.connectSeconds) + ";READ_TIMEOUT=" + command +
           ";WRITE_TIMEOUT=" + command + ";";
}

std::int32_t clampSize(unsigned long long size) {
    return static_cast<std::int32_t>(
        std::min<unsigned long long>(size, std::numeric_limits<std::int32_t>::max()));
}

} // namespace

Field adoField(std::string name, int sqlType, unsigned long long columnSize, int decimalDigits,
               bool isUnsigned) {
    Field f;
    f.name = std::move(name);
    f.precision = static_cast<int>(std::min<unsigned long long>(columnSize, 255));
    f.numericScale = std::clamp(decimalDigits, 0, 255);
    auto set = [&f](std::int32_t type, std::int32_t size) {
        f.type = type;
        f.definedSize = size;
    };
    switch (sqlType) {
    case SQL_CHAR:
        set(129, clampSize(columnSize));
        break;
    case SQL_VARCHAR:
        set(200, clampSize(columnSize));
        break;
    case SQL_LONGVARCHAR:
        set(201, clampSize(columnSize));
        break;
    case SQL_WCHAR:
        set(130, clampSize(columnSize));
        break;
    case SQL_WVARCHAR:
        set(202, clampSize(columnSize));
        break;
    case SQL_WLONGVARCHAR:
        set(203, clampSize(columnSize));
        break;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        set(131, 19);
        break;
    case SQL_TINYINT:
        set(isUnsigned ? 17 : 16, 1);
        break;
    case SQL_SMALLINT:
        set(isUnsigned ? 18 : 2, 2);
        break;
    case SQL_INTEGER:
        set(isUnsigned ? 19 : 3, 4);
        break;
    case SQL_BIGINT:
        set(isUnsigned ? 21 : 20, 8);
        break;
    case SQL_REAL:
        set(4, 4);
        break;
    case SQL_FLOAT:
    case SQL_DOUBLE:
        set(5, 8);
        break;
    case SQL_BIT:
        set(11, 2);
        break;
    case SQL_BINARY:
        set(128, clampSize(columnSize));
        break;
    case SQL_VARBINARY:
        set(204, clampSize(columnSize));
        break;
    case SQL_LONGVARBINARY:
        set(205, clampSize(columnSize));
        break;
    case SQL_TYPE_DATE:
    case SQL_DATE:
        set(133, 6);
        break;
    case SQL_TYPE_TIME:
    case SQL_TIME:
        set(134, 6);
        break;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        set(135, 16);
        break;
    case SQL_GUID:
        set(72, 16);
        break;
    default:
        set(12, clampSize(columnSize));
        break; // adVariant: a type ADO has no word for
    }
    return f;
}

struct Connection::Impl {
    odbc::Environment env{nullptr};
    std::optional<odbc::Link> link;

    Impl() {
        env.check(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION,
                                reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0));
    }
};

Connection::Connection(Timeouts timeouts) : timeouts_(timeouts), impl_(std::make_unique<Impl>()) {}

Connection::~Connection() = default;

bool Connection::isOpen() const noexcept {
    return impl_->link.has_value();
}

void Connection::close() {
    if (!impl_->link)
        throw Error(closedObjectText);
    impl_->link.reset();
}

namespace {

std::string textColumn(const odbc::Statement& stmt, SQLUSMALLINT column) {
    std::string value;
    char buffer[1024];
    for (;;) {
        SQLLEN indicator = 0;
        SQLRETURN rc =
            SQLGetData(stmt.get(), column, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA || indicator == SQL_NULL_DATA)
            break;
        stmt.check(rc);
        size_t got = (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer))
                         ? sizeof buffer - 1
                         : static_cast<size_t>(indicator);
        value.append(buffer, got);
        if (rc == SQL_SUCCESS)
            break;
    }
    return value;
}

void execute(const odbc::Link& link, const std::string& sql) {
    odbc::Statement stmt(link.handle().get());
    std::string text = sql;
    stmt.check(SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                             static_cast<SQLINTEGER>(text.size())));
}

// One of the session's status values, by the statement both MariaDB and MySQL know.
std::string sessionStatus(const odbc::Link& link, const std::string& name) {
    odbc::Statement stmt(link.handle().get());
    std::string text = "SHOW SESSION STATUS LIKE '" + name + "'";
    stmt.check(SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                             static_cast<SQLINTEGER>(text.size())));
    SQLRETURN rc = SQLFetch(stmt.get());
    if (rc == SQL_NO_DATA)
        return {};
    stmt.check(rc);
    return textColumn(stmt, 2);
}

} // namespace

void Connection::open(const Login& login) {
    if (impl_->link)
        throw Error("Operation is not allowed when the object is open.");
    checkLogin(login);
    std::string text = withDriverOptions(connectionString(login), login, timeouts_);
    if (text.size() > static_cast<size_t>(std::numeric_limits<SQLSMALLINT>::max()))
        throw Error("The connection string is too long.");
    const bool checkEncryption = mustCheckEncryption(login.tlsMode);
    if (checkEncryption &&
        serverOffersTls(login.server, login.port, timeouts_.connectSeconds) == false)
        throw Error("The server " + login.server +
                        " does not offer encrypted connections (TLS), and an encrypted "
                        "connection was required: nothing was sent to it.",
                    "08001");
    try {
        impl_->link.emplace(impl_->env, text, timeouts_.connectSeconds);
    } catch (const Error& e) {
        const std::string hints = loginFailureHints(login, e);
        if (hints.empty())
            throw;
        throw Error(e.what() + hints, e.sqlState(), e.nativeCode());
    }
    try {
        // Between the greeting read above and the login an attacker could have taken the offer
        // away; the driver would then have logged in unencrypted.
        if (checkEncryption && sessionStatus(*impl_->link, "Ssl_cipher").empty())
            throw Error("The connection to " + login.server +
                            " is not encrypted, though an encrypted connection was required.",
                        "08001");
        if (hasOuterBlank(login.database))
            execute(*impl_->link, "USE " + quotedName(login.database));
    } catch (...) {
        impl_->link.reset();
        throw;
    }
}

std::vector<std::string> Connection::firstColumn(const std::string& sql) {
    if (!impl_->link)
        throw Error(closedObjectText);
    odbc::Statement stmt(impl_->link->handle().get());
    std::string text = sql;
    stmt.check(SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                             static_cast<SQLINTEGER>(text.size())));
    std::vector<std::string> rows;
    for (;;) {
        SQLRETURN rc = SQLFetch(stmt.get());
        if (rc == SQL_NO_DATA)
            break;
        stmt.check(rc);
        rows.push_back(textColumn(stmt, 1));
    }
    return rows;
}

namespace {

std::vector<Field> describeResult(const odbc::Statement& stmt) {
    SQLSMALLINT count = 0;
    stmt.check(SQLNumResultCols(stmt.get(), &count));
    std::vector<Field> fields;
    fields.reserve(static_cast<size_t>(count));
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
        std::vector<SQLCHAR> name(256);
        SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        stmt.check(SQLDescribeCol(stmt.get(), i, name.data(), static_cast<SQLSMALLINT>(name.size()),
                                  &nameLength, &sqlType, &size, &digits, &nullable));
        if (nameLength >= static_cast<SQLSMALLINT>(name.size())) {
            name.resize(static_cast<size_t>(nameLength) + 1);
            stmt.check(SQLDescribeCol(stmt.get(), i, name.data(),
                                      static_cast<SQLSMALLINT>(name.size()), &nameLength, &sqlType,
                                      &size, &digits, &nullable));
        }
        SQLLEN isUnsigned = SQL_FALSE;
        stmt.check(
            SQLColAttribute(stmt.get(), i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned));
        fields.push_back(adoField(std::string(reinterpret_cast<const char*>(name.data()),
                                              static_cast<size_t>(nameLength)),
                                  sqlType, size, digits, isUnsigned == SQL_TRUE));
    }
    return fields;
}

} // namespace

std::vector<Field> Connection::describe(const std::string& sql) {
    if (!impl_->link)
        throw Error(closedObjectText);
    odbc::Statement stmt(impl_->link->handle().get());
    std::string text = sql;
    stmt.check(SQLPrepare(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                          static_cast<SQLINTEGER>(text.size())));
    return describeResult(stmt);
}

bool isConnectionLost(const Error& error) {
    return error.sqlState().starts_with("08") || error.nativeCode() == 2006 ||
           error.nativeCode() == 2013;
}

bool TestMySQLConnection(const Login& login, Timeouts timeouts) {
    try {
        Connection connection(timeouts);
        connection.open(login);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace orv::db

#include "db/Connection.h"

#include "db/Error.h"
#include "db/Odbc.h"

#include <limits>
#include <optional>

namespace orv::db {

const char* const closedObjectText = "Operation is not allowed when the object is closed.";

namespace {

// The driver ignores the login time-out while a server accepts and stays silent, and has no
// query time-out: its own socket time-outs bound both waits.
std::string withDriverTimeouts(const std::string& connectionString, Timeouts timeouts) {
    std::string text = connectionString;
    if (!text.empty() && text.back() != ';')
        text += ';';
    const std::string command = std::to_string(timeouts.commandSeconds);
    return text + "CONN_TIMEOUT=" + std::to_string(timeouts.connectSeconds) +
           ";READ_TIMEOUT=" + command + ";WRITE_TIMEOUT=" + command + ";";
}

} // namespace

struct Connection::Impl {
    odbc::Environment env{nullptr};
    std::optional<odbc::Link> link;

    odbc::Statement run(const std::string& sql) const;

    Impl() {
        env.check(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION,
                                reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0));
    }
};

Connection::Connection(Timeouts timeouts) : timeouts_(timeouts), impl_(std::make_unique<Impl>()) {}

Connection::~Connection() = default;

void Connection::open(const std::string& connectionString) {
    if (impl_->link)
        throw Error("Operation is not allowed when the object is open.");
    std::string text = withDriverTimeouts(connectionString, timeouts_);
    if (text.size() > static_cast<size_t>(std::numeric_limits<SQLSMALLINT>::max()))
        throw Error("The connection string is too long.");
    impl_->link.emplace(impl_->env, text, timeouts_.connectSeconds);
}

bool Connection::isOpen() const noexcept {
    return impl_->link.has_value();
}

void Connection::close() {
    if (!impl_->link)
        throw Error(closedObjectText);
    impl_->link.reset();
}

namespace {

std::optional<std::string> textColumn(const odbc::Statement& stmt, SQLUSMALLINT column) {
    std::string value;
    char buffer[1024];
    for (;;) {
        SQLLEN indicator = 0;
        SQLRETURN rc =
            SQLGetData(stmt.get(), column, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
        if (indicator == SQL_NULL_DATA)
            return std::nullopt;
        if (rc == SQL_NO_DATA)
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

} // namespace

odbc::Statement Connection::Impl::run(const std::string& sql) const {
    if (!link)
        throw Error(closedObjectText);
    odbc::Statement stmt(link->handle().get());
    std::string text = sql;
    stmt.check(SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                             static_cast<SQLINTEGER>(text.size())));
    return stmt;
}

void Connection::execute(const std::string& sql) {
    impl_->run(sql);
}

std::vector<Connection::Row> Connection::rows(const std::string& sql, size_t columns) {
    odbc::Statement stmt = impl_->run(sql);
    std::vector<Row> rows;
    for (;;) {
        SQLRETURN rc = SQLFetch(stmt.get());
        if (rc == SQL_NO_DATA)
            break;
        stmt.check(rc);
        Row row;
        row.reserve(columns);
        for (size_t column = 1; column <= columns; ++column)
            row.push_back(textColumn(stmt, static_cast<SQLUSMALLINT>(column)));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::string> Connection::firstColumn(const std::string& sql) {
    std::vector<std::string> values;
    for (Row& row : rows(sql, 1))
        values.push_back(row[0].value_or(std::string()));
    return values;
}

namespace {

std::vector<Field> describeResult(const odbc::Statement& stmt) {
    SQLSMALLINT count = 0;
    stmt.check(SQLNumResultCols(stmt.get(), &count));
    // The count is a 16-bit value: a result of 32,768 columns or more cannot be described.
    if (count < 0)
        throw Error("The driver cannot describe more than 32,767 columns.");
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
                                  {sqlType, size, digits, isUnsigned == SQL_TRUE}));
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
        connection.open(connectionString(login));
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace orv::db

#include "db/Connection.h"

#include "db/Deadline.h"
#include "db/Error.h"
#include "db/Odbc.h"
#include "db/Passwords.h"
#include "db/Sql.h"
#include "db/Tls.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <map>
#include <numeric>
#include <optional>

namespace orv::db {

const char* const closedObjectText = "Operation is not allowed when the object is closed.";

// After the login the driver sends four statements, each a round trip of its own (SET SESSION
// SQL_AUTO_IS_NULL=0, SET autocommit=1 and two session-tracking settings). Its multi-statement
// flag (OPTION=67108864) sends them as two batches, two round trips fewer, but with it the driver
// leaks memory (LeakSanitizer: 1 KB and more per test process, in libmaodbc.so), so it is not
// set. No other option (NO_CACHE, NO_SCHEMA, the AUTO_IS_NULL flag, INTERACTIVE) removed any.

struct Connection::Impl {
    std::optional<odbc::Link> link;
    std::map<std::type_index, std::shared_ptr<void>> session;

    odbc::Statement run(const std::string& sql) const;
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
    impl_->session.clear();
}

std::shared_ptr<void>& Connection::sessionSlot(std::type_index type) {
    return impl_->session[type];
}

std::string Connection::serverVersion() const {
    if (!impl_->link)
        throw Error(closedObjectText);
    const odbc::ConnectionHandle& dbc = impl_->link->handle();
    auto info = [&dbc](SQLUSMALLINT type) {
        char text[256] = {};
        SQLSMALLINT length = 0;
        dbc.check(SQLGetInfo(dbc.get(), type, text, sizeof text, &length));
        return std::string(text);
    };
    return info(SQL_DBMS_NAME) + " " + info(SQL_DBMS_VER);
}

namespace {

// The MySQL server error for a TCP login without TLS where the server requires it, and the
// client library's error for an authentication (caching_sha2_password, MySQL 8's default) that
// needs a secure connection or an RSA key exchange.
constexpr long insecureTransportProhibited = 3159;
constexpr long authenticationPluginError = 2061;
constexpr long databaseAccessDenied = 1044;
constexpr long unknownDatabase = 1049;

// Sentences that explain a refused login beyond the driver's text, each led by a blank: the
// server wants an encrypted connection, its certificate was refused, or a value begins or ends
// with a blank, which the driver drops. Empty when there is nothing to add.
std::string loginFailureHints(const Login& login, const Error& refusal) {
    std::string hints;
    const std::string_view text = refusal.what();
    if (refusal.nativeCode() == insecureTransportProhibited ||
        (refusal.nativeCode() == authenticationPluginError &&
         text.find("secure connection") != std::string_view::npos))
        hints += " The server requires an encrypted connection.";
    if ((login.tlsMode == TlsMode::verifyCa || login.tlsMode == TlsMode::verifyIdentity) &&
        isCertificateRefusal(text))
        hints += " The server's certificate could not be verified with the CA certificate "
                 "file " +
                 login.tlsCaFile + ".";
    if (text.find(fingerprintMismatchText) != std::string_view::npos)
        hints += " The login met another certificate than the check of the server just before "
                 "it: someone may be in between, or the name leads to several servers with "
                 "certificates of their own (verify-identity accepts any certificate of the CA "
                 "issued for the name). Nothing of the login was sent.";
    auto blankHint = [&hints](const std::string& value, const char* what, const char* outcome) {
        if (hasOuterBlank(value))
            hints += std::string(" The ") + what +
                     " begins or ends with a blank, which the ODBC driver drops: " + outcome;
    };
    if (refusal.sqlState() == "28000") {
        blankHint(login.user, "user name", "it cannot log in through this driver.");
        blankHint(login.password, "password", "it cannot be sent as typed.");
    }
    if (refusal.nativeCode() == unknownDatabase || refusal.nativeCode() == databaseAccessDenied)
        blankHint(login.database, "database name", "the server was asked for the name without it.");
    return hints;
}

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

odbc::Statement run(const odbc::Link& link, const std::string& sql) {
    odbc::Statement stmt(link.handle().get());
    std::string text = sql;
    stmt.check(SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                             static_cast<SQLINTEGER>(text.size())));
    return stmt;
}

// One of the session's status values, by the statement both MariaDB and MySQL know.
std::string sessionStatus(const odbc::Link& link, const std::string& name) {
    odbc::Statement stmt = run(link, "SHOW SESSION STATUS LIKE '" + name + "'");
    SQLRETURN rc = SQLFetch(stmt.get());
    if (rc == SQL_NO_DATA)
        return {};
    stmt.check(rc);
    return textColumn(stmt, 2).value_or("");
}

// Everything that opening a connection may wait for, on a thread that may be abandoned: it owns
// copies of all it uses.
odbc::Link openLink(const Login& login, const Timeouts& timeouts, const std::string& ca) {
    // Abandoned at the deadline, the work still ends by itself soon after.
    const auto backstop = std::chrono::steady_clock::now() +
                          std::chrono::seconds(timeouts.openSeconds) + std::chrono::seconds(1);
    const bool checkEncryption = mustCheckEncryption(login.tlsMode);
    std::optional<odbc::Link> link;
    try {
        std::string pinned;
        if (checkEncryption)
            pinned = serverCertificateFingerprint(
                serverName(login), login.port, login.tlsMode == TlsMode::verifyCa ? &ca : nullptr,
                backstop);
        refuseClearTextPasswordsOnPlainConnections();
        link.emplace(driverConnectionString(login, timeouts, pinned), timeouts.connectSeconds);
    } catch (const Error& e) {
        const std::string hints = loginFailureHints(login, e);
        if (hints.empty())
            throw;
        throw Error(e.what() + hints, e.sqlState(), e.nativeCode());
    }
    // The pinned certificate keeps the login encrypted; this also catches a driver that ignored
    // the pin.
    if (checkEncryption && sessionStatus(*link, "Ssl_cipher").empty())
        throw Error("The connection to " + serverName(login) +
                        " is not encrypted, though an encrypted connection was required.",
                    "08001");
    if (hasOuterBlank(login.database))
        run(*link, "USE " + quotedName(login.database));
    return std::move(*link);
}

} // namespace

void Connection::open(const Login& login) {
    if (impl_->link)
        throw Error("Operation is not allowed when the object is open.");
    checkLogin(login);
    const std::string pinPlaceholder(
        mustCheckEncryption(login.tlsMode) ? certificateFingerprintLength : 0, '0');
    if (driverConnectionString(login, timeouts_, pinPlaceholder).size() >
        static_cast<size_t>(std::numeric_limits<SQLSMALLINT>::max()))
        throw Error("The connection string is too long.");
    // Read here, before anything is sent: a FIFO must fail, not block the driver.
    const std::string ca =
        login.tlsMode == TlsMode::verifyCa || login.tlsMode == TlsMode::verifyIdentity
            ? readCaFile(login.tlsCaFile)
            : std::string();
    const Timeouts timeouts = timeouts_;
    impl_->link.emplace(finishWithin<odbc::Link>(
        std::chrono::seconds(timeouts.openSeconds),
        [login, timeouts, ca] { return openLink(login, timeouts, ca); },
        [&login, &timeouts] {
            return Error(
                "The server " + serverName(login) + " did not complete the connection within " +
                    std::to_string(timeouts.openSeconds) +
                    (timeouts.openSeconds == 1 ? " second" : " seconds") + ": it was given up.",
                "HYT00");
        }));
}

odbc::Statement Connection::Impl::run(const std::string& sql) const {
    if (!link)
        throw Error(closedObjectText);
    return db::run(*link, sql);
}

void Connection::execute(const std::string& sql) {
    impl_->run(sql);
}

namespace {

// Rows fetched at once fill about this many bytes of buffers (measured on the catalogue of
// 20,000 tables: SQLGetData per value took 0.81 s, bound columns 0.20-0.23 s whether 1, 64 or
// 512 rows came per fetch).
constexpr size_t blockBytes = 256 * 1024;
constexpr size_t largestBlock = 1024;

} // namespace

void Connection::forEachRow(const std::string& sql, const std::vector<size_t>& widths,
                            const std::function<void(std::span<const Value>)>& take) {
    if (!impl_->link)
        throw Error(closedObjectText);
    odbc::Statement stmt(impl_->link->handle().get());
    stmt.check(SQLSetStmtAttr(stmt.get(), SQL_ATTR_CURSOR_TYPE,
                              reinterpret_cast<SQLPOINTER>(SQL_CURSOR_FORWARD_ONLY), 0));
    // Each buffer holds the driver's terminating NUL too.
    const size_t rowBytes =
        std::accumulate(widths.begin(), widths.end(), size_t{0},
                        [](size_t sum, size_t width) { return sum + width + 1; });
    const bool anyLong = std::find(widths.begin(), widths.end(), 0) != widths.end();
    const size_t block = anyLong ? 1 : std::clamp(blockBytes / rowBytes, size_t{1}, largestBlock);
    std::vector<char> data(block * rowBytes);
    std::vector<SQLLEN> indicators(block * widths.size());
    SQLULEN fetched = 0;
    stmt.check(SQLSetStmtAttr(stmt.get(), SQL_ATTR_ROW_ARRAY_SIZE,
                              reinterpret_cast<SQLPOINTER>(block), 0));
    stmt.check(SQLSetStmtAttr(stmt.get(), SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
    std::vector<char*> columnData(widths.size());
    for (size_t c = 0, offset = 0; c < widths.size(); offset += block * (widths[c] + 1), ++c) {
        columnData[c] = data.data() + offset;
        if (widths[c] > 0)
            stmt.check(SQLBindCol(stmt.get(), static_cast<SQLUSMALLINT>(c + 1), SQL_C_CHAR,
                                  columnData[c], static_cast<SQLLEN>(widths[c] + 1),
                                  indicators.data() + c * block));
    }
    std::string text = sql;
    stmt.check(SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                             static_cast<SQLINTEGER>(text.size())));
    std::vector<Value> row(widths.size());
    std::vector<std::optional<std::string>> longValues(widths.size());
    for (;;) {
        SQLRETURN rc = SQLFetch(stmt.get());
        if (rc == SQL_NO_DATA)
            break;
        stmt.check(rc);
        for (size_t r = 0; r < fetched; ++r) {
            for (size_t c = 0; c < widths.size(); ++c) {
                if (widths[c] == 0) {
                    longValues[c] = textColumn(stmt, static_cast<SQLUSMALLINT>(c + 1));
                    row[c] = longValues[c] ? Value(*longValues[c]) : std::nullopt;
                    continue;
                }
                const SQLLEN length = indicators[c * block + r];
                if (length == SQL_NULL_DATA) {
                    row[c] = std::nullopt;
                    continue;
                }
                if (length < 0 || static_cast<size_t>(length) > widths[c])
                    throw Error("A value of column " + std::to_string(c + 1) +
                                " is longer than the " + std::to_string(widths[c]) +
                                " bytes read of it.");
                row[c] = std::string_view(columnData[c] + r * (widths[c] + 1),
                                          static_cast<size_t>(length));
            }
            take(row);
        }
    }
}

std::vector<Connection::Row> Connection::rows(const std::string& sql, size_t columns) {
    std::vector<Row> rows;
    forEachRow(sql, std::vector<size_t>(columns, 0), [&rows](std::span<const Value> values) {
        Row& row = rows.emplace_back();
        for (const Value& value : values)
            row.push_back(value ? std::optional<std::string>(*value) : std::nullopt);
    });
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
        connection.open(login);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace orv::db

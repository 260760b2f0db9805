#pragma once

#include "db/ColumnTypes.h"
#include "db/Error.h"
#include "db/Login.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <typeindex>
#include <vector>

namespace orv::db {

// One database connection, opened and closed explicitly. Using it while closed fails with the
// same text ADO gives.
class Connection {
public:
    explicit Connection(Timeouts timeouts = {});
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Checks the login (checkLogin) and its CA file, then connects with its connection string
    // and TLS mode, within timeouts.openSeconds whatever the server does. A refused login's error
    // says why where the driver does not: a certificate refused, a blank the driver dropped, a
    // server that wants encryption. A database name with a blank at an end, which the driver drops,
    // is selected after the login as typed.
    void open(const Login& login);
    bool isOpen() const noexcept;
    void close();

    // The server's product and version as the driver learnt them at the login, without a round
    // trip: "MariaDB 10.11.000019" for a MariaDB 10.11.19 (measured with Connector/ODBC 3.1).
    std::string serverVersion() const;

    // Runs a statement that returns no rows.
    void execute(const std::string& sql);

    // Runs a query and returns the first column of every row as text.
    std::vector<std::string> firstColumn(const std::string& sql);

    // Runs a query and returns the first `columns` columns of every row as text; NULL is empty.
    using Row = std::vector<std::optional<std::string>>;
    std::vector<Row> rows(const std::string& sql, size_t columns);

    // A value of a row handed over by forEachRow: its bytes, or nullopt for NULL. Valid only
    // during the call that hands it over.
    using Value = std::optional<std::string_view>;
    // Runs a query and hands over its rows one at a time, none of them kept, through a
    // forward-only cursor. Column i is read into a buffer of widths[i] bytes, many rows per
    // fetch; a value longer than its width throws. A width of 0 marks a column of unbounded
    // length, which is read whole, one row per fetch.
    void forEachRow(const std::string& sql, const std::vector<size_t>& widths,
                    const std::function<void(std::span<const Value>)>& take);

    // The columns a query would return, read by preparing it without running it: one round
    // trip, and no row crosses the wire.
    std::vector<Field> describe(const std::string& sql);

    // State kept for the rest of this session, one object of each type, made on first use;
    // dropped when the connection is closed.
    template <class T> T& sessionState() {
        std::shared_ptr<void>& slot = sessionSlot(typeid(T));
        if (!slot)
            slot = std::make_shared<T>();
        return *static_cast<T*>(slot.get());
    }

private:
    std::shared_ptr<void>& sessionSlot(std::type_index type);

    struct Impl;
    Timeouts timeouts_;
    std::unique_ptr<Impl> impl_;
};

// True when a connection with this login opens; never throws and shows nothing.
bool TestMySQLConnection(const Login& login, Timeouts timeouts = {});

extern const char* const closedObjectText;

// Whether an error ended the connection itself, rather than failing one statement.
bool isConnectionLost(const Error& error);

} // namespace orv::db

#pragma once

#include "db/Error.h"
#include "db/Login.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orv::db {

// A result-set column described the way ADO describes it (DataTypeEnum code, DefinedSize,
// Precision, NumericScale), derived from the ODBC metadata.
struct Field {
    std::string name;
    std::int32_t type = 0;
    std::int32_t definedSize = 0;
    int precision = 0;
    int numericScale = 0;

    bool operator==(const Field&) const = default;
};

struct Timeouts {
    unsigned connectSeconds = 15;
    unsigned commandSeconds = 30;
};

// One database connection, opened and closed explicitly. Using it while closed fails with the
// same text ADO gives.
class Connection {
public:
    explicit Connection(Timeouts timeouts = {});
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Checks the login (checkLogin) and connects with its connection string and TLS mode. A
    // refused login's error carries loginFailureHints. A database name with a blank at an end,
    // which the driver drops, is selected after the login as typed.
    void open(const Login& login);
    bool isOpen() const noexcept;
    void close();

    // Runs a query and returns the first column of every row as text.
    std::vector<std::string> firstColumn(const std::string& sql);

    // The columns a query would return, read by preparing it without running it: one round
    // trip, and no row crosses the wire.
    std::vector<Field> describe(const std::string& sql);

private:
    struct Impl;
    Timeouts timeouts_;
    std::unique_ptr<Impl> impl_;
};

// True when a connection with this login opens; never throws and shows nothing.
bool TestMySQLConnection(const Login& login, Timeouts timeouts = {});

// ADO's DataTypeEnum code, DefinedSize, Precision and NumericScale for an ODBC column.
Field adoField(std::string name, int sqlType, unsigned long long columnSize, int decimalDigits,
               bool isUnsigned);

extern const char* const closedObjectText;

// Whether an error ended the connection itself, rather than failing one statement.
bool isConnectionLost(const Error& error);

} // namespace orv::db

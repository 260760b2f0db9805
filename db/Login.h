#pragma once

#include <string>
#include <string_view>

namespace orv::db {

// The five values of a MySQL login, as typed.
struct Login {
    std::string server;
    std::string user;
    std::string password;
    std::string database;
    std::string port;
};

// The ODBC connection string for a login. Values are inserted as typed; only a value holding
// ";", "{" or "}" is wrapped in braces (with "}" doubled), so it cannot be read as further keys.
std::string connectionString(const Login& login);

// One value of a connection string, braced when it would otherwise break the string.
std::string connectionStringValue(std::string_view value);

} // namespace orv::db

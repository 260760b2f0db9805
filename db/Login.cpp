#include "db/Login.h"

namespace orv::db {

std::string connectionStringValue(std::string_view value) {
    if (value.find_first_of(";{}") == std::string_view::npos)
        return std::string(value);
    std::string braced = "{";
    for (char c : value) {
        braced += c;
        if (c == '}')
            braced += '}';
    }
    braced += '}';
    return braced;
}

std::string connectionString(const Login& login) {
    return "DRIVER={MySQL ODBC 5.1 Driver};SERVER=" + connectionStringValue(login.server) +
           ";USER=" + connectionStringValue(login.user) +
           ";PASSWORD=" + connectionStringValue(login.password) +
           ";DATABASE=" + connectionStringValue(login.database) +
           ";PORT=" + connectionStringValue(login.port) + ";";
}

} // namespace orv::db

#include "db/Catalogue.h"

#include "db/Connection.h"

#include <algorithm>

namespace orv::db {

std::string quotedName(std::string_view name) {
    std::string quoted = "`";
    for (char c : name) {
        quoted += c;
        if (c == '`')
            quoted += '`';
    }
    return quoted + "`";
}

bool isListedTable(std::string_view name) {
    if (name.size() < 3)
        return true;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return !(lower(name[0]) == 's' && lower(name[1]) == 'y' && lower(name[2]) == 's');
}

std::vector<std::string> listTables(Connection& connection) {
    std::vector<std::string> names = connection.firstColumn(showTablesQuery);
    std::erase_if(names, [](const std::string& name) { return !isListedTable(name); });
    return names;
}

std::vector<std::string> listTables(const Login& login) {
    Connection connection;
    connection.open(login);
    return listTables(connection);
}

} // namespace orv::db

#include "db/Catalogue.h"

#include "db/Connection.h"

namespace orv::db {

bool isListedTable(std::string_view name) {
    if (name.size() < 3)
        return true;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return !(lower(name[0]) == 's' && lower(name[1]) == 'y' && lower(name[2]) == 's');
}

TableKind tableKind(std::string_view tableType) {
    if (tableType == "BASE TABLE")
        return TableKind::baseTable;
    if (tableType == "SEQUENCE")
        return TableKind::sequence;
    if (tableType == "VIEW")
        return TableKind::view;
    return TableKind::other;
}

std::vector<ListedTable> listTablesWithKinds(Connection& connection) {
    // A name is at most 64 characters of up to 4 bytes; the longest type is "SYSTEM VIEW".
    constexpr size_t nameBytes = 256, typeBytes = 64;
    std::vector<ListedTable> tables;
    connection.forEachRow(
        showFullTablesQuery, {nameBytes, typeBytes},
        [&tables](std::span<const Connection::Value> row) {
            const std::string_view name = row[0].value_or("");
            if (isListedTable(name))
                tables.push_back({std::string(name), tableKind(row[1].value_or(""))});
        });
    return tables;
}

std::vector<std::string> listTables(Connection& connection) {
    std::vector<std::string> names;
    for (ListedTable& table : listTablesWithKinds(connection))
        names.push_back(std::move(table.name));
    return names;
}

std::vector<std::string> listTables(const Login& login) {
    Connection connection;
    connection.open(login);
    return listTables(connection);
}

} // namespace orv::db

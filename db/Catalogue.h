#pragma once

#include "db/Login.h"
#include "db/Sql.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv::db {

inline constexpr const char* showTablesQuery = "SHOW TABLES;";
inline constexpr const char* showFullTablesQuery = "SHOW FULL TABLES;";

// Whether a table is offered for export: names whose first three letters are "sys", in any
// letter case, are left out.
bool isListedTable(std::string_view name);

// What the list says a table is. The list does not tell system-versioned tables apart: they are
// base tables there.
enum class TableKind : std::uint8_t {
    baseTable, // "BASE TABLE"
    sequence,  // "SEQUENCE"
    view,      // "VIEW"
    other,     // any other type a server names, or not known
};
TableKind tableKind(std::string_view tableType);

struct ListedTable {
    std::string name;
    TableKind kind = TableKind::other;
};

class Connection;

// The listed tables of the connection's database with their kinds, in the server's order: the
// tables "SHOW TABLES;" gives, read with their types in the same round trip.
std::vector<ListedTable> listTablesWithKinds(Connection& connection);

// The names of the listed tables of the connection's database, in the server's order.
std::vector<std::string> listTables(Connection& connection);
// The same on a connection of its own.
std::vector<std::string> listTables(const Login& login);

} // namespace orv::db

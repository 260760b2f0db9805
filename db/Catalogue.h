#pragma once

#include "db/Login.h"

#include <string>
#include <string_view>
#include <vector>

namespace orv::db {

inline constexpr const char* showTablesQuery = "SHOW TABLES;";

// A name as MySQL quotes it: in back-quotes, any back-quote inside doubled, so no name can
// change a query.
std::string quotedName(std::string_view name);

// Whether a table is offered for export: names whose first three letters are "sys", in any
// letter case, are left out.
bool isListedTable(std::string_view name);

class Connection;

// The listed tables of the connection's database, in the server's order.
std::vector<std::string> listTables(Connection& connection);
// The same on a connection of its own.
std::vector<std::string> listTables(const Login& login);

} // namespace orv::db

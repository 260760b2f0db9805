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
// tables "SHOW TABLES;" gives, read with their types in the same round trip. The connection
// keeps the kinds for the rest of its session (see listedKinds).
std::vector<ListedTable> listTablesWithKinds(Connection& connection);

// The names of the listed tables of the connection's database, in the server's order; their
// kinds are kept as listTablesWithKinds keeps them.
std::vector<std::string> listTables(Connection& connection);

// A table behind a metadata lock (an ALTER waiting for a long transaction) is given up after
// this many seconds instead of stalling the export until the read time-out.
inline constexpr int lockWaitSeconds = 5;
// Sets how long the session's statements wait for a table's metadata lock. A server without
// the setting (before MySQL 5.5) waits as long as it always did; MySQL takes 0 as its least,
// a second.
void setLockWait(Connection& connection, int seconds);
// The same to lockWaitSeconds, once a session: by its first read of the catalogue, the table
// list, so that the first report's prepares need no round trip for it.
void boundLockWaits(Connection& connection);

// The kinds of the tables the connection's session listed last, by name.
class ListedKinds {
public:
    // Whether the session has listed its tables.
    bool listed() const noexcept { return listed_; }
    // The kind of a listed table; TableKind::other for a name the list did not have.
    TableKind kind(std::string_view name) const;
    void remember(const std::vector<ListedTable>& tables);

private:
    bool listed_ = false;
    std::vector<std::string> names_; // sorted
    std::vector<TableKind> kinds_;
};
ListedKinds& listedKinds(Connection& connection);
// The same on a connection of its own.
std::vector<std::string> listTables(const Login& login);

} // namespace orv::db

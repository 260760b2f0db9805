#include "db/Catalogue.h"

#include "db/Connection.h"

#include <algorithm>
#include <numeric>

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
    listedKinds(connection).remember(tables);
    boundLockWaits(connection);
    return tables;
}

void setLockWait(Connection& connection, int seconds) {
    try {
        connection.execute("SET SESSION lock_wait_timeout = " + std::to_string(seconds));
    } catch (const Error& e) {
        if (isConnectionLost(e))
            throw;
    }
}

namespace {

struct LockWaitBound {
    bool set = false;
};

} // namespace

void boundLockWaits(Connection& connection) {
    LockWaitBound& bound = connection.sessionState<LockWaitBound>();
    if (!bound.set) {
        setLockWait(connection, lockWaitSeconds);
        bound.set = true;
    }
}

ListedKinds& listedKinds(Connection& connection) {
    return connection.sessionState<ListedKinds>();
}

void ListedKinds::remember(const std::vector<ListedTable>& tables) {
    std::vector<size_t> order(tables.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(),
              [&tables](size_t a, size_t b) { return tables[a].name < tables[b].name; });
    names_.clear();
    kinds_.clear();
    for (size_t i : order) {
        names_.push_back(tables[i].name);
        kinds_.push_back(tables[i].kind);
    }
    listed_ = true;
}

TableKind ListedKinds::kind(std::string_view name) const {
    auto at = std::lower_bound(names_.begin(), names_.end(), name);
    return at != names_.end() && *at == name ? kinds_[static_cast<size_t>(at - names_.begin())]
                                             : TableKind::other;
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

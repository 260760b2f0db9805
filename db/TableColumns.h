#pragma once

#include "db/ColumnDetails.h"
#include "db/ColumnTypes.h"
#include "db/Error.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::db {

class Connection;

// The columns of one table, or why they could not be read.
struct TableColumns {
    std::vector<Field> fields;
    std::optional<Error> error;
    // Read only when asked for: what the catalogue says of the table, and of each field in the
    // same order (empty when the catalogue does not describe every field).
    std::optional<TableDetails> table = std::nullopt;
    std::vector<ColumnDetails> details = {};
};

// "select * from `name` limit 0", with any back-quote in the name doubled; with column names,
// those columns instead of "*". It is only prepared: its description is the table's.
std::string selectAllQuery(std::string_view table, const std::vector<std::string>& columns = {});

// The columns of one table as the driver describes its query: one prepare, one round trip.
// A lost connection throws; any other failure is the table's error.
TableColumns preparedColumns(Connection& connection, std::string_view table,
                             const std::vector<std::string>& columns = {});

// Reads the columns of many tables of the connection's database in one round trip, from the
// server's catalogue: by name for a few tables, else the whole database's, keeping only theirs.
// A table the catalogue cannot describe exactly as the driver would (a view, a table with column
// privileges, a type not known here) is prepared on its own instead.
class ColumnReader {
public:
    // With `details`, the same query also reads each table's and column's details.
    ColumnReader(Connection& connection, std::vector<std::string> tables, bool details = false);

    // Throws when the connection was lost.
    TableColumns take(size_t index);
    // Whether take(index) is answered without waiting for the server.
    bool isReady(size_t index) const noexcept;

private:
    struct Entry {
        std::optional<TableColumns> columns;  // read from the catalogue
        std::optional<TableColumns> fallback; // a view's, from the catalogue, in case the
                                              // prepare cannot describe it
        std::vector<std::string> prepareWith; // column names when the prepare must name them
        std::optional<TableDetails> table;
        std::vector<std::pair<std::string, ColumnDetails>> details; // by column name
    };
    void load();
    // Throws when the catalogue query fails.
    std::vector<Entry> catalogueEntries(size_t first, size_t end);

    Connection& connection_;
    std::vector<std::string> tables_;
    bool details_;
    DefaultStyle defaultStyle_ = DefaultStyle::quoted;
    bool loaded_ = false;
    std::vector<Entry> entries_; // one per table, once loaded
};

} // namespace orv::db

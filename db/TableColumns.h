#pragma once

#include "db/Catalogue.h"
#include "db/ColumnDetails.h"
#include "db/ColumnTypes.h"
#include "db/Error.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

// Whether the catalogue may answer for a group of columns alike in every catalogue value that
// could change the driver's description.
enum class GroupVerdict {
    unchecked, // the driver has described none of its columns
    confirmed, // the driver describes its columns as the catalogue's mapping does
    differs,   // the driver describes a column otherwise, or the mapping does not know the type
};

// What the driver said of one column of a group.
struct GroupDescription {
    size_t group = 0;
    Field field;
};

// The verdict on each group, given what the mapping expects of it (nullopt: a type the mapping
// does not know) and the driver's descriptions of some of its columns: confirmed only when the
// mapping knows the type and every description has exactly its type, names aside.
std::vector<GroupVerdict> groupVerdicts(const std::vector<std::optional<Field>>& expected,
                                        const std::vector<GroupDescription>& described);

// Reads the columns of many tables of the connection's database. The server's catalogue
// answers in one round trip for every base table and sequence whose column types the driver has
// confirmed in this session: for each group of alike columns, one column chosen as its exemplar
// is prepared in a query that joins many tables and is never run. Views, tables of other kinds,
// tables the catalogue does not show and tables with a column of a group the driver describes
// otherwise are described by the driver, many tables to a prepare as well.
class ColumnReader {
public:
    // The tables' kinds are those of the list the connection's session took last
    // (listTablesWithKinds); without one the reader takes the list itself.
    // With `details`, the same catalogue query also reads what the catalogue says of each table
    // and column beyond the types (TableColumns::table and details).
    ColumnReader(Connection& connection, std::vector<std::string> tables, bool details = false);
    ~ColumnReader();
    ColumnReader(const ColumnReader&) = delete;
    ColumnReader& operator=(const ColumnReader&) = delete;

    // The first call reads every table. Throws when the connection was lost.
    TableColumns take(size_t index);
    // Whether take(index) is answered without waiting for the server.
    bool isReady(size_t index) const noexcept;

    // What reading took, once read.
    struct Statistics {
        size_t prepares = 0;         // statements the driver was asked to describe
        size_t groups = 0;           // groups of alike columns among the catalogue's
        size_t differingGroups = 0;  // of them, those left to the driver: described otherwise,
                                     // of a type not known here, or without an exemplar
                                     // that could be prepared
        size_t tablesFromDriver = 0; // tables the driver described
    };
    Statistics statistics() const;

private:
    struct State;
    void load();

    Connection& connection_;
    std::vector<std::string> tables_;
    bool details_;
    std::unique_ptr<State> state_; // once loaded
};

} // namespace orv::db

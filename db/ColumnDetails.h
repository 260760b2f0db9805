#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orv::db {

// What the server's catalogue says of a column beyond the driver's description.
struct ColumnDetails {
    std::string columnType; // as the server declares it, e.g. "int(10) unsigned"
    bool nullable = false;
    std::string key; // PRI, UNI, MUL or empty
    // The default as SQL text, as CREATE TABLE writes it: "NULL" for a NULL default, "'NULL'"
    // for the text NULL, nullopt for a column without a default.
    std::optional<std::string> defaultValue;
    std::string extra;                     // auto_increment, VIRTUAL GENERATED, ...
    std::optional<std::string> generation; // the expression of a generated column
    std::string comment;

    bool operator==(const ColumnDetails&) const = default;
};

// What the catalogue says of a table.
struct TableDetails {
    std::string kind; // table, view, sequence, system-versioned table, ...
    std::optional<std::string> engine;
    std::string comment;

    bool operator==(const TableDetails&) const = default;
};

// How a server writes COLUMN_DEFAULT.
enum class DefaultStyle {
    quoted,   // MariaDB 10.2.7 and later: text literals quoted, "NULL" for a NULL default, SQL
              // NULL for none
    unquoted, // MySQL and older MariaDB: literals bare, SQL NULL for both NULL and none
};

// The style of a server by its product and version, e.g. "MariaDB 10.11.000019".
DefaultStyle defaultStyle(std::string_view serverVersion);

// A column's default as SQL text from its catalogue row. A generated column has none.
std::optional<std::string> columnDefault(const std::optional<std::string>& catalogueDefault,
                                         DefaultStyle style, std::string_view dataType,
                                         bool nullable, std::string_view extra);

// A table's kind from the catalogue's TABLE_TYPE.
std::string kindName(std::string_view tableType);

} // namespace orv::db

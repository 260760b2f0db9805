#include "db/TableColumns.h"

#include "db/Catalogue.h"
#include "db/Connection.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>
#include <utility>

namespace orv::db {

namespace {

// Up to this many tables are asked for by name. A longer export reads the whole database's
// catalogue in one query and keeps the rows of its tables: the server compares every table name
// of the database with the list, so a list costs more than the whole database once it is long
// (measured on 10,000 tables: 4,096 names 0.36-0.55 s, the whole database 0.22 s; on 20,000
// tables, 79 lists of 256 names 7.7 s, the whole database 1.2 s).
constexpr size_t largestList = 256;

// A table behind a metadata lock (an ALTER waiting for a long transaction) is given up after
// this many seconds instead of stalling the export until the read time-out.
constexpr int lockWaitSeconds = 5;

// A name as a string literal that no SQL mode reads differently: hexadecimal digits.
std::string nameLiteral(std::string_view name) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string hex = "CONVERT(X'";
    for (unsigned char c : name) {
        hex += digits[c >> 4];
        hex += digits[c & 0xF];
    }
    return hex + "' USING utf8mb4)";
}

std::optional<unsigned long long> number(const std::optional<std::string>& text) {
    if (!text)
        return std::nullopt;
    unsigned long long value = 0;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc{} || end != text->data() + text->size())
        return std::nullopt;
    return value;
}

enum CatalogueColumnIndex {
    rowKind,
    tableName,
    columnName,
    ordinalPosition,
    dataType,
    columnType,
    characterMaximumLength,
    numericPrecision,
    numericScale,
    datetimePrecision,
    extra,
    catalogueColumns,
    // Read for the details only: a column's in one text (see detailsText), or in a table's row
    // its type, engine and comment.
    columnDetailsText = catalogueColumns,
    detailedColumns,
    tableType = dataType,
    tableEngine = columnType,
    tableComment = columnDetailsText,
};

// A column's details as one text, which the driver hands over in one call rather than five:
//   IS_NULLABLE "|" COLUMN_KEY "|" default comment generation
// where each of the last three is its length in bytes, ":" and its bytes, or "-" for NULL.
// (Measured on 20,000 tables of 20 columns, processor time of the export: text report 1.0 s,
// JSON with the details as five result columns 1.75 s, as this one text 1.4 s; most of the
// difference is the driver's SQLGetData and its conversions of long text columns.)
std::string detailsText() {
    auto prefixed = [](const char* value) {
        return std::string("IF(") + value + " IS NULL, '-', CONCAT(LENGTH(" + value + "), ':', " +
               value + "))";
    };
    return "CONCAT(IS_NULLABLE, '|', COLUMN_KEY, '|', " + prefixed("COLUMN_DEFAULT") + ", " +
           prefixed("COLUMN_COMMENT") + ", " + prefixed("GENERATION_EXPRESSION") + ")";
}

// One round trip: the tables' columns, which of them are views (whose computed
// columns the catalogue may type otherwise than the prepare does), and which have column
// privileges (of which a user may see only some columns). The server reads the definitions of
// just the tables named. With details, every table's type, engine and comment come too, in the
// place of the list of views.
std::string catalogueQuery(const std::vector<std::string>& tables, size_t first, size_t end,
                           bool wholeDatabase, bool details) {
    std::string where = " WHERE TABLE_SCHEMA = DATABASE()";
    if (!wholeDatabase) {
        where += " AND TABLE_NAME IN (";
        for (size_t i = first; i < end; ++i)
            where.append(i > first ? "," : "").append(nameLiteral(tables[i]));
        where += ")";
    }
    // The NULLs that fill a row of the other parts up to the columns of the first.
    const int width = details ? detailedColumns : catalogueColumns;
    auto empty = [width]() {
        std::string out;
        for (int i = 2; i < width; ++i)
            out += ", NULL";
        return out;
    };
    std::string query =
        "SELECT 'c', TABLE_NAME, COLUMN_NAME, ORDINAL_POSITION, DATA_TYPE, COLUMN_TYPE, "
        "CHARACTER_MAXIMUM_LENGTH, NUMERIC_PRECISION, NUMERIC_SCALE, DATETIME_PRECISION, EXTRA";
    if (details)
        query += ", " + detailsText();
    query += " FROM information_schema.COLUMNS" + where;
    if (details)
        query += " UNION ALL SELECT 't', TABLE_NAME, NULL, NULL, TABLE_TYPE, ENGINE, NULL, NULL, "
                 "NULL, NULL, NULL, TABLE_COMMENT FROM information_schema.TABLES" +
                 where;
    else
        query += " UNION ALL SELECT 'v', TABLE_NAME" + empty() + " FROM information_schema.TABLES" +
                 where + " AND TABLE_TYPE <> 'BASE TABLE'";
    return query + " UNION ALL SELECT DISTINCT 'p', TABLE_NAME" + empty() +
           " FROM information_schema.COLUMN_PRIVILEGES" + where;
}

struct CatalogueEntry {
    unsigned long long position = 0;
    std::optional<Field> field; // nullopt: a type not known here
    bool invisible = false;
    std::string name;
    std::optional<ColumnDetails> details; // when asked for, and readable
};

TableDetails tableDetails(const Connection::Row& row) {
    TableDetails table;
    const std::string type = row[tableType].value_or("");
    table.kind = tableKind(type);
    table.engine = row[tableEngine];
    // A view has no comment of its own: the catalogue shows "VIEW" or a warning there.
    if (type != "VIEW" && type != "SYSTEM VIEW")
        table.comment = row[tableComment].value_or("");
    return table;
}

// Takes the front value of a details text: up to "|", or its length, ":" and its bytes, or "-"
// for NULL. False when the text is not one.
bool takeBarred(std::string_view& text, std::string& value) {
    const size_t bar = text.find('|');
    if (bar == std::string_view::npos)
        return false;
    value = text.substr(0, bar);
    text.remove_prefix(bar + 1);
    return true;
}

bool takePrefixed(std::string_view& text, std::optional<std::string>& value) {
    if (text.starts_with('-')) {
        value.reset();
        text.remove_prefix(1);
        return true;
    }
    const size_t colon = text.find(':');
    const std::optional<unsigned long long> length =
        colon == std::string_view::npos ? std::nullopt : number(std::string(text.substr(0, colon)));
    if (!length || *length > text.size() - colon - 1)
        return false;
    value = text.substr(colon + 1, static_cast<size_t>(*length));
    text.remove_prefix(colon + 1 + static_cast<size_t>(*length));
    return true;
}

// Takes the texts out of the row; nullopt when its details text cannot be read.
std::optional<ColumnDetails> columnDetails(Connection::Row& row, DefaultStyle style) {
    if (!row[columnDetailsText])
        return std::nullopt;
    ColumnDetails column;
    std::string_view text = *row[columnDetailsText];
    std::string nullable;
    std::optional<std::string> defaultValue, comment, generation;
    if (!takeBarred(text, nullable) || !takeBarred(text, column.key) ||
        !takePrefixed(text, defaultValue) || !takePrefixed(text, comment) ||
        !takePrefixed(text, generation) || !text.empty())
        return std::nullopt;
    column.nullable = nullable == "YES";
    column.extra = std::move(row[extra]).value_or(std::string());
    column.defaultValue = columnDefault(defaultValue, style, row[dataType].value_or(""),
                                        column.nullable, column.extra);
    column.columnType = std::move(row[columnType]).value_or(std::string());
    column.comment = std::move(comment).value_or(std::string());
    // MariaDB gives every column an expression, NULL where it is not generated.
    if (column.extra.find("GENERATED") != std::string::npos &&
        column.extra.find("DEFAULT_GENERATED") == std::string::npos)
        column.generation = std::move(generation);
    return column;
}

} // namespace

std::string selectAllQuery(std::string_view table, const std::vector<std::string>& columns) {
    std::string list;
    for (const std::string& column : columns)
        list.append(list.empty() ? "" : ", ").append(quotedName(column));
    return "select " + (list.empty() ? std::string("*") : list) + " from " + quotedName(table) +
           " limit 0";
}

namespace {

// The prepare's answer as it is, also when it has no columns.
TableColumns prepare(Connection& connection, std::string_view table,
                     const std::vector<std::string>& columns) {
    TableColumns result;
    try {
        result.fields = connection.describe(selectAllQuery(table, columns));
    } catch (const Error& e) {
        if (isConnectionLost(e))
            throw;
        result.error = e;
    }
    return result;
}

// Every table has a column: none means the server could not describe them (it describes a view
// of 32,768 columns or more that way), which must not pass for an empty table.
void refuseNoColumns(TableColumns& columns) {
    if (!columns.error && columns.fields.empty())
        columns.error = Error("The server described none of the columns of this table; a view of "
                              "32,768 columns or more cannot be described.");
}

} // namespace

TableColumns preparedColumns(Connection& connection, std::string_view table,
                             const std::vector<std::string>& columns) {
    TableColumns result = prepare(connection, table, columns);
    refuseNoColumns(result);
    return result;
}

ColumnReader::ColumnReader(Connection& connection, std::vector<std::string> tables, bool details)
    : connection_(connection), tables_(std::move(tables)), details_(details) {}

bool ColumnReader::isReady(size_t index) const noexcept {
    return loaded_ && entries_.at(index).columns.has_value();
}

void ColumnReader::load() {
    loaded_ = true;
    if (details_)
        defaultStyle_ = defaultStyle(connection_.serverVersion());
    try {
        connection_.execute("SET SESSION lock_wait_timeout = " + std::to_string(lockWaitSeconds));
    } catch (const Error& e) {
        // A server without the setting (before MySQL 5.5) waits as long as it always did.
        if (isConnectionLost(e))
            throw;
    }
    try {
        entries_ = catalogueEntries(0, tables_.size());
        return;
    } catch (const Error& e) {
        if (isConnectionLost(e))
            throw;
    }
    // Then each table on its own, so a table the catalogue cannot answer for is reported as
    // unreadable, rather than prepared without its invisible columns.
    for (size_t i = 0; i < tables_.size(); ++i) {
        try {
            entries_.push_back(std::move(catalogueEntries(i, i + 1).front()));
        } catch (const Error& e) {
            if (isConnectionLost(e))
                throw;
            Entry failed;
            failed.columns = TableColumns{{}, e};
            entries_.push_back(std::move(failed));
        }
    }
}

std::vector<ColumnReader::Entry> ColumnReader::catalogueEntries(size_t first, size_t end) {
    // Grouped by the exact name: the catalogue compares names without regard to letter case.
    std::map<std::string, std::vector<CatalogueEntry>> byTable;
    std::map<std::string, TableDetails> tables;
    std::set<std::string> views, withColumnPrivileges;
    const bool wholeDatabase = end - first > largestList;
    const std::set<std::string> wanted(tables_.begin() + static_cast<std::ptrdiff_t>(first),
                                       tables_.begin() + static_cast<std::ptrdiff_t>(end));
    connection_.forEachRow(
        catalogueQuery(tables_, first, end, wholeDatabase, details_),
        details_ ? detailedColumns : catalogueColumns, [&](Connection::Row& row) {
            if (!wanted.contains(row[tableName].value_or("")))
                return;
            if (row[rowKind] == "t") {
                if (row[tableType] != "BASE TABLE")
                    views.insert(row[tableName].value_or(""));
                tables[row[tableName].value_or("")] = tableDetails(row);
                return;
            }
            if (row[rowKind] != "c") {
                (row[rowKind] == "v" ? views : withColumnPrivileges)
                    .insert(row[tableName].value_or(""));
                return;
            }
            CatalogueEntry entry;
            entry.name = row[columnName].value_or("");
            entry.position = number(row[ordinalPosition]).value_or(0);
            entry.invisible = row[extra].value_or("").find("INVISIBLE") != std::string::npos;
            const CatalogueColumn column{
                row[dataType].value_or(""),          row[columnType].value_or(""),
                number(row[characterMaximumLength]), number(row[numericPrecision]),
                number(row[numericScale]),           number(row[datetimePrecision])};
            if (std::optional<OdbcColumn> described = driverColumn(column))
                entry.field = adoField(entry.name, *described);
            if (details_)
                entry.details = columnDetails(row, defaultStyle_);
            byTable[row[tableName].value_or("")].push_back(std::move(entry));
        });

    std::vector<Entry> batch(end - first);
    for (size_t i = first; i < end; ++i) {
        Entry& slot = batch[i - first];
        if (auto table = tables.find(tables_[i]); table != tables.end())
            slot.table = std::move(table->second);
        auto found = byTable.find(tables_[i]);
        if (found == byTable.end())
            continue; // not in the catalogue: the prepare says why
        std::vector<CatalogueEntry>& entries = found->second;
        std::sort(entries.begin(), entries.end(),
                  [](const CatalogueEntry& a, const CatalogueEntry& b) {
                      return a.position < b.position;
                  });
        // "*" leaves invisible columns out: a prepare must name every column.
        if (std::any_of(entries.begin(), entries.end(),
                        [](const CatalogueEntry& e) { return e.invisible; }))
            for (const CatalogueEntry& e : entries)
                slot.prepareWith.push_back(e.name);
        if (details_ && std::all_of(entries.begin(), entries.end(), [](const CatalogueEntry& e) {
                return e.details.has_value();
            })) {
            slot.details.reserve(entries.size());
            for (CatalogueEntry& e : entries)
                slot.details.emplace_back(std::move(e.name), std::move(*e.details));
        }
        const bool known = std::all_of(entries.begin(), entries.end(),
                                       [](const CatalogueEntry& e) { return e.field.has_value(); });
        if (!known)
            continue;
        TableColumns columns;
        for (CatalogueEntry& e : entries)
            columns.fields.push_back(std::move(*e.field));
        if (withColumnPrivileges.contains(tables_[i]))
            continue;
        if (views.contains(tables_[i]))
            slot.fallback = std::move(columns);
        else
            slot.columns = std::move(columns);
    }
    return batch;
}

namespace {

// The catalogue's details of each field, by name: the prepare may leave columns out.
void attachDetails(TableColumns& columns, std::optional<TableDetails> table,
                   std::vector<std::pair<std::string, ColumnDetails>> details) {
    columns.table = std::move(table);
    if (columns.fields.empty())
        return;
    // From the catalogue the fields come in the catalogue's order.
    if (details.size() == columns.fields.size() &&
        std::equal(
            details.begin(), details.end(), columns.fields.begin(),
            [](const auto& detail, const Field& field) { return detail.first == field.name; })) {
        columns.details.reserve(details.size());
        for (auto& detail : details)
            columns.details.push_back(std::move(detail.second));
        return;
    }
    std::map<std::string, ColumnDetails*> byName;
    for (auto& [name, column] : details)
        byName[name] = &column;
    for (const Field& field : columns.fields) {
        auto found = byName.find(field.name);
        if (found == byName.end()) {
            columns.details.clear();
            return;
        }
        columns.details.push_back(std::move(*found->second));
    }
}

} // namespace

TableColumns ColumnReader::take(size_t index) {
    if (!loaded_)
        load();
    Entry& slot = entries_.at(index);
    TableColumns result;
    if (slot.columns) {
        result = *std::exchange(slot.columns, std::nullopt);
    } else {
        result = prepare(connection_, tables_[index], slot.prepareWith);
        // A view too wide for the server to describe (32,768 columns or more) is described from
        // the catalogue when it can be; otherwise it is unreadable, never an empty table.
        if (slot.fallback && !result.error && result.fields.empty())
            result = std::move(*slot.fallback);
        refuseNoColumns(result);
    }
    if (details_)
        attachDetails(result, std::move(slot.table), std::move(slot.details));
    return result;
}

} // namespace orv::db

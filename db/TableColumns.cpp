#include "db/TableColumns.h"

#include "db/Connection.h"
#include "db/Sql.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <functional>
#include <queue>
#include <span>
#include <unordered_map>
#include <utility>

namespace orv::db {

namespace {

// Up to this many tables are asked for by name. A longer export reads the whole database's
// catalogue in one query and keeps the rows of its tables: the server compares every table name
// of the database with the list, so a list costs more than the whole database once it is long
// (measured on 10,000 tables: 4,096 names 0.36-0.55 s, the whole database 0.22 s; on 20,000
// tables, 79 lists of 256 names 7.7 s, the whole database 1.2 s).
constexpr size_t largestList = 256;

constexpr long lockWaitTimeoutError = 1205;

// The limits of one prepare, measured with MariaDB 10.11 and Connector/ODBC 3.1.15: the server
// joins at most 61 tables (error 1116, "Too many tables; MariaDB can only use 61 tables in a
// join"; MySQL has the same limit), and the driver counts a result's columns in 16 bits: a join
// of 21 tables of 1,500 columns was described with its 31,500 columns, one of 22 tables with
// none. No limit of row size was met: 61 tables of a varchar(16000), a text and an int, and 61
// views that group their rows, were described. The statement's text is kept far below the
// servers' packet size (max_allowed_packet: 4 MB and more by default since MySQL 5.6).
constexpr size_t joinLimit = 61;
constexpr size_t columnLimit = 32767;
constexpr size_t textLimit = 1024 * 1024;

// The catalogue's values of a column's type, in the order of the column's record, each followed
// by "|", which none of them holds. NULL is empty, which no value is.
constexpr const char* typeValues[] = {
    "DATA_TYPE",
    "IFNULL(CHARACTER_MAXIMUM_LENGTH, '')",
    "IFNULL(CHARACTER_OCTET_LENGTH, '')",
    "IFNULL(NUMERIC_PRECISION, '')",
    "IFNULL(NUMERIC_SCALE, '')",
    "IFNULL(DATETIME_PRECISION, '')",
    "IFNULL(CHARACTER_SET_NAME, '')",
    "IFNULL(COLLATION_NAME, '')",
    "IFNULL(IS_NULLABLE, '')",
    "IFNULL(EXTRA, '')",
};
enum TypeValue {
    dataType,
    characterMaximumLength,
    characterOctetLength,
    numericPrecision,
    numericScale,
    datetimePrecision,
    characterSetName,
    collationName,
    isNullable,
    extra,
    typeValueCount
};
static_assert(std::size(typeValues) == typeValueCount);

// A text of any bytes in a record: its length in bytes, ":", and the bytes.
std::string lengthPrefixed(const std::string& value) {
    return "LENGTH(" + value + "), ':', " + value;
}

// COLUMN_TYPE, bounded: only ENUM and SET have longer ones, which are kept apart by a hash of
// the whole and the catalogue's lengths (all that changes the driver's description of them).
constexpr const char* boundedColumnType = "IF(CHAR_LENGTH(COLUMN_TYPE) <= 64, COLUMN_TYPE, "
                                          "CONCAT(LEFT(COLUMN_TYPE, 32), '...', MD5(COLUMN_TYPE)))";
// The most bytes of a table name and of a record: a name is at most 64 characters of at most
// 4 bytes; the values of a record are at most some 1,000 bytes.
constexpr size_t tableNameBytes = 256, recordBytes = 2048;

// One round trip: per column the table's name and the column's record: its name, its position
// and its type's values,
//   LENGTH(name) ":" name position "|" value "|" ... value "|" LENGTH(type) ":" type
// in one text rather than a result column each: the driver holds less when it holds the whole
// answer, and hands it over faster (measured on 20,000 tables of 20 columns: 38 MB and 0.07 s
// to fetch, against 45 MB and 0.2-0.4 s for a result column each; one row per table, the records
// joined by GROUP_CONCAT, held 24 MB but made the server sort: 1.5-2 times the query's time).
// What the catalogue says beyond the types, as one text of values each lengthPrefixed, or "-"
// for NULL (nullable). A column's: its whole COLUMN_TYPE, COLUMN_KEY, COLUMN_DEFAULT (nullable),
// COLUMN_COMMENT, GENERATION_EXPRESSION (nullable); its DATA_TYPE, IS_NULLABLE and EXTRA are in
// its record. A table's (in a row of its own, without a record): TABLE_TYPE, ENGINE (nullable),
// TABLE_COMMENT. A text is cut at detailsCharacters, which only very long defaults, expressions
// or types reach: such a text does not read whole, and the catalogue's details of its table are
// then not in the report, which says so.
std::string detailsText(std::initializer_list<std::pair<const char*, bool>> values) {
    std::string text = "CONCAT(";
    for (const auto& [value, nullable] : values) {
        text.append(text.size() > 7 ? ", " : "");
        if (nullable)
            text.append("IF(").append(value).append(" IS NULL, '-', CONCAT(");
        text.append(lengthPrefixed(value)).append(nullable ? "))" : "");
    }
    return text + ")";
}

constexpr size_t detailsCharacters = 4096, detailsBytes = 4 * detailsCharacters;

// Cut where it would not fit, by LEFT, which reckons the text once (IF(LENGTH(x) <= n, x, NULL)
// reckons it twice).
std::string boundedDetails(const std::string& text) {
    return "LEFT(" + text + ", " + std::to_string(detailsCharacters) + ")";
}

std::string catalogueQuery(const std::vector<std::string_view>& names, bool details) {
    std::string record = "CONCAT(" + lengthPrefixed("COLUMN_NAME") + ", ORDINAL_POSITION, '|'";
    for (const char* value : typeValues)
        record.append(", ").append(value).append(", '|'");
    record += ", " + lengthPrefixed(boundedColumnType) + ")";
    std::string where = " WHERE TABLE_SCHEMA = DATABASE()";
    if (!names.empty()) {
        where += " AND TABLE_NAME IN (";
        for (size_t i = 0; i < names.size(); ++i)
            where.append(i > 0 ? "," : "").append(textLiteral(names[i]));
        where += ")";
    }
    // Only the columns the user may select: those of CURRENT_USER() and its roles, as the
    // server reckons them, whoever else has privileges on the table.
    std::string query = "SELECT TABLE_NAME, " + record;
    if (details)
        query += ", " + boundedDetails(detailsText({{"COLUMN_TYPE", false},
                                                    {"COLUMN_KEY", false},
                                                    {"COLUMN_DEFAULT", true},
                                                    {"COLUMN_COMMENT", false},
                                                    {"GENERATION_EXPRESSION", true}}));
    query += " FROM information_schema.COLUMNS" + where + " AND PRIVILEGES LIKE '%select%'";
    // Each table's own details in a row with an empty record. A column's record is never empty,
    // and is NULL only where the server could not make it (MySQL's MD5() is NULL in FIPS mode).
    if (details)
        query += " UNION ALL SELECT TABLE_NAME, '', " +
                 boundedDetails(detailsText(
                     {{"TABLE_TYPE", false}, {"ENGINE", true}, {"TABLE_COMMENT", false}})) +
                 " FROM information_schema.TABLES" + where;
    return query;
}

std::optional<unsigned long long> number(std::string_view text) {
    unsigned long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool takeLengthPrefixed(std::string_view& text, std::string_view& value) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return false;
    const std::optional<unsigned long long> length = number(text.substr(0, colon));
    if (!length || *length > text.size() - colon - 1)
        return false;
    value = text.substr(colon + 1, static_cast<size_t>(*length));
    text.remove_prefix(colon + 1 + value.size());
    return true;
}

bool takeValue(std::string_view& text, std::string_view& value) {
    const size_t bar = text.find('|');
    if (bar == std::string_view::npos)
        return false;
    value = text.substr(0, bar);
    text.remove_prefix(bar + 1);
    return true;
}

// Takes the front value of a details text: a lengthPrefixed one, or "-" for NULL.
bool takeDetail(std::string_view& text, std::optional<std::string_view>& value) {
    if (text.starts_with('-')) {
        value.reset();
        text.remove_prefix(1);
        return true;
    }
    std::string_view taken;
    if (!takeLengthPrefixed(text, taken))
        return false;
    value = taken;
    return true;
}

// The values of a details text, or none when it is not one of `count` values.
std::optional<std::vector<std::optional<std::string_view>>> detailValues(std::string_view text,
                                                                         size_t count) {
    std::vector<std::optional<std::string_view>> values(count);
    for (std::optional<std::string_view>& value : values)
        if (!takeDetail(text, value))
            return std::nullopt;
    if (!text.empty())
        return std::nullopt;
    return values;
}

std::optional<TableDetails> tableDetails(std::string_view text) {
    const auto values = detailValues(text, 3);
    if (!values || !(*values)[0] || !(*values)[2])
        return std::nullopt;
    const auto& v = *values;
    TableDetails table;
    table.kind = kindName(*v[0]);
    if (v[1])
        table.engine = std::string(*v[1]);
    // A view has no comment of its own: the catalogue shows "VIEW" or a warning there.
    if (*v[0] != "VIEW" && *v[0] != "SYSTEM VIEW")
        table.comment = *v[2];
    return table;
}

std::optional<ColumnDetails> columnDetails(std::string_view text, const CatalogueColumn& type,
                                           DefaultStyle style) {
    const auto values = detailValues(text, 5);
    if (!values || !(*values)[0] || !(*values)[1] || !(*values)[3])
        return std::nullopt;
    const auto& v = *values;
    ColumnDetails column;
    column.columnType = *v[0];
    column.nullable = type.isNullable == "YES";
    column.key = *v[1];
    column.extra = type.extra;
    column.defaultValue = columnDefault(v[2] ? std::optional<std::string>(*v[2]) : std::nullopt,
                                        style, type.dataType, column.nullable, column.extra);
    column.comment = *v[3];
    // MariaDB gives every column an expression, NULL where it is not generated.
    if (v[4] && column.extra.find("GENERATED") != std::string::npos &&
        column.extra.find("DEFAULT_GENERATED") == std::string::npos)
        column.generation = std::string(*v[4]);
    return column;
}

struct ColumnRecord {
    std::string_view name;
    unsigned long long position = 0;
    std::string_view typeKey; // the type's values and COLUMN_TYPE as they came
};

// Takes one record from the front of `text`; false when it is not one.
bool takeRecord(std::string_view& text, ColumnRecord& record) {
    std::string_view position, value, columnType;
    if (!takeLengthPrefixed(text, record.name) || !takeValue(text, position))
        return false;
    const std::optional<unsigned long long> place = number(position);
    if (!place)
        return false;
    record.position = *place;
    const char* start = text.data();
    for (int i = 0; i < typeValueCount; ++i)
        if (!takeValue(text, value))
            return false;
    if (!takeLengthPrefixed(text, columnType))
        return false;
    record.typeKey = std::string_view(start, static_cast<size_t>(text.data() - start));
    return true;
}

// The catalogue's description of a type from its record's type key.
CatalogueColumn catalogueColumn(std::string_view key) {
    std::string_view values[typeValueCount];
    for (std::string_view& value : values)
        takeValue(key, value);
    std::string_view columnType;
    takeLengthPrefixed(key, columnType);
    auto optionalNumber = [&values](TypeValue which) { return number(values[which]); };
    return {std::string(values[dataType]),
            std::string(columnType),
            optionalNumber(characterMaximumLength),
            optionalNumber(characterOctetLength),
            optionalNumber(numericPrecision),
            optionalNumber(numericScale),
            optionalNumber(datetimePrecision),
            std::string(values[characterSetName]),
            std::string(values[collationName]),
            std::string(values[isNullable]),
            std::string(values[extra])};
}

struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};

// What the driver showed of this session, kept while the connection stays open: a second export
// on it asks the driver only about groups it has not seen.
struct SessionChecks {
    std::unordered_map<std::string, GroupVerdict, TextHash, std::equal_to<>> verdicts;
};

// Column names, in blocks that never move: each a 2-byte length and its bytes.
class NameStore {
public:
    std::uint32_t add(std::string_view name) {
        if (name.size() + 2 > blockSize)
            throw Error("A column name of " + std::to_string(name.size()) + " bytes is too long.");
        if (used_ + 2 + name.size() > blockSize) {
            blocks_.push_back(std::make_unique<char[]>(blockSize));
            used_ = 0;
        }
        char* at = blocks_.back().get() + used_;
        at[0] = static_cast<char>(name.size() & 0xFF);
        at[1] = static_cast<char>(name.size() >> 8);
        std::copy(name.begin(), name.end(), at + 2);
        const auto handle = static_cast<std::uint32_t>(((blocks_.size() - 1) << 16) | used_);
        used_ += 2 + name.size();
        return handle;
    }
    std::string_view get(std::uint32_t handle) const {
        const char* at = blocks_[handle >> 16].get() + (handle & 0xFFFF);
        const size_t size = static_cast<unsigned char>(at[0]) |
                            static_cast<size_t>(static_cast<unsigned char>(at[1])) << 8;
        return {at + 2, size};
    }
    void clear() {
        blocks_.clear();
        used_ = blockSize;
    }

private:
    static constexpr size_t blockSize = 1 << 16;
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t used_ = blockSize;
};

// Columns a prepare asks about, of one table: named, or all of them by "*" when none is named
// (for a table the catalogue does not show, whose prepare is left to say why).
struct Part {
    std::uint32_t table = 0;
    std::vector<std::string_view> columns;
};

// Asks the driver to describe parts of tables: as many as the limits allow in one prepare,
// joined, each told apart by its position in the result. A joined prepare that fails is split in
// halves until each part's own error is found. Once a prepare has waited out a lock, no later one
// of this reading waits (the halves, and later prepares that meet the lock again, a view of the
// locked table for one, fail at once), and a table found locked is not prepared again.
class Describer {
public:
    Describer(Connection& connection, const std::vector<std::string>& tables)
        : connection_(connection), tables_(tables) {}

    std::vector<TableColumns> describe(const std::vector<Part>& parts) {
        std::vector<TableColumns> results(parts.size());
        std::vector<size_t> batch;
        size_t columns = 0, text = 0;
        auto flush = [&] {
            if (!batch.empty())
                describeBatch(parts, results, batch);
            batch.clear();
            columns = text = 0;
        };
        for (size_t i = 0; i < parts.size(); ++i) {
            const Part& part = parts[i];
            if (auto locked = locked_.find(part.table); locked != locked_.end()) {
                results[i].error = locked->second;
                continue;
            }
            // A part by "*" is prepared alone.
            const size_t partText = partLength(part);
            if (!batch.empty() &&
                (part.columns.empty() || parts[batch.front()].columns.empty() ||
                 batch.size() == joinLimit || columns + part.columns.size() > columnLimit ||
                 text + partText > textLimit))
                flush();
            batch.push_back(i);
            columns += part.columns.size();
            text += partText;
        }
        flush();
        return results;
    }

    size_t prepares() const noexcept { return prepares_; }

    // Puts the session's wait for locks back once the reading is done.
    void finish() {
        if (noWait_)
            setLockWait(connection_, lockWaitSeconds);
        noWait_ = false;
    }

    // The length of a part's text in a query, near enough to keep within the limit.
    static size_t partLength(const Part& part) {
        size_t length = 80;
        for (std::string_view column : part.columns)
            length += column.size() + 16;
        return length;
    }

private:
    std::string joinedQuery(const std::vector<Part>& parts, std::span<const size_t> batch) const {
        std::string select, from;
        for (size_t k = 0; k < batch.size(); ++k) {
            const Part& part = parts[batch[k]];
            const std::string alias = quotedName(std::to_string(k));
            if (part.columns.empty())
                select.append(select.empty() ? "" : ", ").append(alias).append(".*");
            for (std::string_view column : part.columns)
                select.append(select.empty() ? "" : ", ")
                    .append(alias)
                    .append(".")
                    .append(quotedName(column));
            from.append(k > 0 ? ", " : "")
                .append(quotedName(tables_[part.table]))
                .append(" ")
                .append(alias);
        }
        return "select " + select + " from " + from + " limit 0";
    }

    void describeBatch(const std::vector<Part>& parts, std::vector<TableColumns>& results,
                       std::span<const size_t> batch) {
        std::vector<Field> fields;
        try {
            ++prepares_;
            fields = connection_.describe(joinedQuery(parts, batch));
            size_t asked = 0;
            for (size_t i : batch)
                asked += parts[i].columns.size();
            // Every table has a column: none means the server could not describe them (it
            // describes a result of 32,768 columns or more that way), which must not pass for an
            // empty table.
            if (fields.empty() || (asked > 0 && fields.size() != asked))
                throw Error(asked == 0
                                ? "The server described none of the columns of this table; "
                                  "a view of 32,768 columns or more cannot be described."
                                : "The driver described " + std::to_string(fields.size()) +
                                      " of the " + std::to_string(asked) + " columns asked for.");
        } catch (const Error& e) {
            if (isConnectionLost(e))
                throw;
            if (e.nativeCode() == lockWaitTimeoutError && !noWait_) {
                setLockWait(connection_, 0);
                noWait_ = true;
            }
            if (batch.size() == 1) {
                results[batch[0]].error = e;
                if (e.nativeCode() == lockWaitTimeoutError)
                    locked_.emplace(parts[batch[0]].table, e);
                return;
            }
            const size_t half = batch.size() / 2;
            describeBatch(parts, results, batch.first(half));
            describeBatch(parts, results, batch.subspan(half));
            return;
        }
        auto next = fields.begin();
        for (size_t i : batch) {
            const size_t count = parts[i].columns.empty() ? fields.size() : parts[i].columns.size();
            results[i].fields.assign(std::make_move_iterator(next),
                                     std::make_move_iterator(next + static_cast<long>(count)));
            next += static_cast<long>(count);
        }
    }

    Connection& connection_;
    const std::vector<std::string>& tables_;
    std::unordered_map<std::uint32_t, Error> locked_;
    bool noWait_ = false;
    size_t prepares_ = 0;
};

} // namespace

std::vector<GroupVerdict> groupVerdicts(const std::vector<std::optional<Field>>& expected,
                                        const std::vector<GroupDescription>& described) {
    std::vector<GroupVerdict> verdicts(expected.size(), GroupVerdict::unchecked);
    for (size_t g = 0; g < expected.size(); ++g)
        if (!expected[g])
            verdicts[g] = GroupVerdict::differs;
    for (const GroupDescription& d : described) {
        GroupVerdict& verdict = verdicts.at(d.group);
        if (verdict != GroupVerdict::differs)
            verdict = sameType(*expected[d.group], d.field) ? GroupVerdict::confirmed
                                                            : GroupVerdict::differs;
    }
    return verdicts;
}

std::string selectAllQuery(std::string_view table, const std::vector<std::string>& columns) {
    std::string list;
    for (const std::string& column : columns)
        list.append(list.empty() ? "" : ", ").append(quotedName(column));
    return "select " + (list.empty() ? std::string("*") : list) + " from " + quotedName(table) +
           " limit 0";
}

TableColumns preparedColumns(Connection& connection, std::string_view table,
                             const std::vector<std::string>& columns) {
    TableColumns result;
    try {
        result.fields = connection.describe(selectAllQuery(table, columns));
    } catch (const Error& e) {
        if (isConnectionLost(e))
            throw;
        result.error = e;
    }
    if (!result.error && result.fields.empty())
        result.error = Error("The server described none of the columns of this table; a view of "
                             "32,768 columns or more cannot be described.");
    return result;
}

struct ColumnReader::State {
    struct Column {
        std::uint32_t name;  // in columnNames
        std::uint32_t group; // in groups
        std::uint32_t position;
        std::uint32_t details = noDetails; // in detailTexts, when read
    };
    static constexpr std::uint32_t noDetails = ~std::uint32_t{0};
    struct Group {
        std::string key;
        std::optional<Field> expected; // the mapping's description, without a name
        GroupVerdict verdict = GroupVerdict::unchecked;
    };
    struct Table {
        std::uint32_t first = 0; // its columns in `columns`, in their order
        std::uint32_t count = 0;
        bool inCatalogue = false;
        bool unreadable = false; // a record of it could not be read
        bool unordered = false;  // its records came out of order
        bool fromDriver = false;
        bool answered = false; // its answer is in `answers`
    };

    State(Connection& connection, const std::vector<std::string>& names, bool details);

    void readCatalogue();
    void readCatalogueRows(const std::string& query);
    void takeCatalogueRow(std::string_view name, std::optional<std::string_view> record,
                          std::optional<std::string_view> details);
    void attachDetails(std::uint32_t t, TableColumns& result) const;
    void forget();
    std::uint32_t groupOf(std::string_view key);
    void describe();
    bool mayBeExemplar(std::uint32_t t) const;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> exemplars();
    // Adds the parts that ask about these columns of a table (all of them by "*" when the
    // catalogue does not show it), and for each part the columns it names.
    void addParts(std::vector<Part>& parts, std::vector<std::vector<std::uint32_t>>& partColumns,
                  std::uint32_t table, const std::vector<std::uint32_t>& which) const;
    TableColumns answer(size_t index);

    // The index of the first table of this name, or none.
    std::optional<std::uint32_t> find(std::string_view name) const;
    bool catalogueMayAnswer(std::uint32_t t) const {
        return tables[t].inCatalogue &&
               (kinds[t] == TableKind::baseTable || kinds[t] == TableKind::sequence);
    }

    Connection& connection;
    const std::vector<std::string>& names;
    std::vector<TableKind> kinds;
    SessionChecks& session;
    Describer describer;
    std::vector<std::uint32_t> byName; // table indices in the order of their names
    std::vector<std::uint32_t> sameAs; // for each table, the first of its name
    std::vector<Table> tables;
    std::vector<bool> failed; // tables whose prepare as an exemplar failed
    // The driver's descriptions, and the errors of tables the catalogue could not be asked about.
    std::unordered_map<std::uint32_t, TableColumns> answers;
    std::deque<Column> columns;
    NameStore columnNames;
    std::deque<Group> groups;
    std::unordered_map<std::string_view, std::uint32_t, TextHash, std::equal_to<>> groupIndex;
    // With details: each column's text, and each table's details.
    bool details;
    DefaultStyle defaultStyle = DefaultStyle::quoted;
    std::deque<std::string> detailTexts;
    std::vector<std::optional<TableDetails>> tableDetails;
};

ColumnReader::State::State(Connection& connection_, const std::vector<std::string>& names_,
                           bool details_)
    : connection(connection_), names(names_), session(connection_.sessionState<SessionChecks>()),
      describer(connection_, names_), tables(names_.size()), failed(names_.size()),
      details(details_) {
    if (details) {
        defaultStyle = db::defaultStyle(connection.serverVersion());
        tableDetails.resize(names.size());
    }
    byName.resize(names.size());
    for (std::uint32_t i = 0; i < byName.size(); ++i)
        byName[i] = i;
    std::stable_sort(byName.begin(), byName.end(),
                     [this](std::uint32_t a, std::uint32_t b) { return names[a] < names[b]; });
    sameAs.resize(names.size());
    for (size_t k = 0; k < byName.size(); ++k)
        sameAs[byName[k]] =
            k > 0 && names[byName[k]] == names[byName[k - 1]] ? sameAs[byName[k - 1]] : byName[k];
    if (!listedKinds(connection).listed())
        listTablesWithKinds(connection);
    const ListedKinds& listed = listedKinds(connection);
    for (const std::string& name : names)
        kinds.push_back(listed.kind(name));
}

std::optional<std::uint32_t> ColumnReader::State::find(std::string_view name) const {
    auto at =
        std::lower_bound(byName.begin(), byName.end(), name,
                         [this](std::uint32_t t, std::string_view n) { return names[t] < n; });
    if (at == byName.end() || names[*at] != name)
        return std::nullopt;
    return *at;
}

std::uint32_t ColumnReader::State::groupOf(std::string_view key) {
    if (auto found = groupIndex.find(key); found != groupIndex.end())
        return found->second;
    Group& group = groups.emplace_back();
    group.key = key;
    if (std::optional<OdbcColumn> described = driverColumn(catalogueColumn(key)))
        group.expected = adoField({}, *described);
    if (auto known = session.verdicts.find(key); known != session.verdicts.end())
        group.verdict = known->second;
    const auto id = static_cast<std::uint32_t>(groups.size() - 1);
    groupIndex.emplace(group.key, id);
    return id;
}

void ColumnReader::State::takeCatalogueRow(std::string_view name,
                                           std::optional<std::string_view> recordText,
                                           std::optional<std::string_view> detailsText) {
    const std::optional<std::uint32_t> t = find(name);
    if (!t)
        return;
    if (recordText && recordText->empty()) { // a table's own details
        if (details && detailsText)
            tableDetails[*t] = db::tableDetails(*detailsText);
        return;
    }
    // A column without a record makes its table unreadable here, so that the driver describes
    // it rather than the catalogue without that column.
    std::string_view text = recordText.value_or(std::string_view());
    Table& table = tables[*t];
    ColumnRecord record;
    if (table.unreadable || !takeRecord(text, record) || !text.empty()) {
        table.unreadable = true;
        return;
    }
    // A table's columns are kept together: one whose rows do not follow each other (which
    // MariaDB's catalogue does not do) is moved to the end first.
    if (table.inCatalogue && table.first + table.count != columns.size()) {
        for (std::uint32_t c = 0; c < table.count; ++c)
            columns.push_back(columns[table.first + c]);
        table.first = static_cast<std::uint32_t>(columns.size() - table.count);
    }
    if (!table.inCatalogue) {
        table.inCatalogue = true;
        table.first = static_cast<std::uint32_t>(columns.size());
    }
    const auto position = static_cast<std::uint32_t>(record.position);
    table.unordered = table.unordered || (table.count > 0 && columns.back().position > position);
    columns.push_back({columnNames.add(record.name), groupOf(record.typeKey), position});
    if (details && detailsText) {
        columns.back().details = static_cast<std::uint32_t>(detailTexts.size());
        detailTexts.emplace_back(*detailsText);
    }
    ++table.count;
}

void ColumnReader::State::readCatalogueRows(const std::string& query) {
    std::vector<size_t> widths = {tableNameBytes, recordBytes};
    if (details)
        widths.push_back(detailsBytes);
    connection.forEachRow(query, widths, [this](std::span<const Connection::Value> row) {
        takeCatalogueRow(row[0].value_or(""), row[1],
                         details ? row[2] : std::optional<std::string_view>());
    });
    for (Table& table : tables) {
        if (table.unreadable)
            table.inCatalogue = false;
        if (table.unordered)
            std::stable_sort(
                columns.begin() + table.first, columns.begin() + table.first + table.count,
                [](const Column& a, const Column& b) { return a.position < b.position; });
    }
}

void ColumnReader::State::forget() {
    for (Table& table : tables)
        table = Table{};
    columns.clear();
    columnNames.clear();
    detailTexts.clear();
    tableDetails.assign(tableDetails.size(), std::nullopt);
}

void ColumnReader::State::readCatalogue() {
    boundLockWaits(connection);
    std::vector<std::string_view> wanted;
    if (names.size() <= largestList)
        wanted.assign(names.begin(), names.end());
    try {
        readCatalogueRows(catalogueQuery(wanted, details));
        return;
    } catch (const Error& e) {
        if (isConnectionLost(e))
            throw;
        forget();
    }
    // Then each table on its own, so a table the catalogue cannot answer for is reported as
    // unreadable, rather than prepared without its invisible columns.
    for (std::uint32_t t = 0; t < tables.size(); ++t) {
        if (sameAs[t] != t)
            continue;
        try {
            readCatalogueRows(catalogueQuery({names[t]}, details));
        } catch (const Error& e) {
            if (isConnectionLost(e))
                throw;
            tables[t].answered = true;
            answers[t] = TableColumns{{}, e};
        }
    }
}

bool ColumnReader::State::mayBeExemplar(std::uint32_t t) const {
    return sameAs[t] == t && !tables[t].answered && !tables[t].fromDriver && !failed[t] &&
           catalogueMayAnswer(t);
}

std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> ColumnReader::State::exemplars() {
    // For each unchecked group one column, from the tables that hold the most unchecked groups
    // first, so that the fewest tables are joined.
    std::vector<bool> covered(groups.size(), true);
    for (std::uint32_t t = 0; t < tables.size(); ++t)
        if (mayBeExemplar(t))
            for (std::uint32_t c = 0; c < tables[t].count; ++c)
                if (const std::uint32_t g = columns[tables[t].first + c].group;
                    groups[g].verdict == GroupVerdict::unchecked)
                    covered[g] = false;
    // The distinct uncovered groups of a table, each counted once by a stamp of the count.
    std::vector<std::uint32_t> seenIn(groups.size(), 0);
    std::uint32_t stamp = 0;
    auto uncovered = [&](std::uint32_t t) {
        size_t count = 0;
        ++stamp;
        for (std::uint32_t c = 0; c < tables[t].count; ++c)
            if (const std::uint32_t g = columns[tables[t].first + c].group;
                !covered[g] && seenIn[g] != stamp) {
                seenIn[g] = stamp;
                ++count;
            }
        return count;
    };
    // The most groups first, then the earliest table. A table's count only falls as others
    // are chosen: one whose count has fallen goes back with its new count.
    std::priority_queue<std::pair<size_t, std::int64_t>> queue;
    for (std::uint32_t t = 0; t < tables.size(); ++t)
        if (mayBeExemplar(t))
            if (size_t count = uncovered(t))
                queue.push({count, -std::int64_t{t}});
    std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> chosen;
    while (!queue.empty()) {
        const auto [count, negative] = queue.top();
        queue.pop();
        const auto t = static_cast<std::uint32_t>(-negative);
        const size_t now = uncovered(t);
        if (now < count) {
            if (now > 0)
                queue.push({now, negative});
            continue;
        }
        std::vector<std::uint32_t> picked;
        for (std::uint32_t c = 0; c < tables[t].count; ++c)
            if (const std::uint32_t g = columns[tables[t].first + c].group; !covered[g]) {
                covered[g] = true;
                picked.push_back(c);
            }
        chosen.emplace_back(t, std::move(picked));
    }
    return chosen;
}

void ColumnReader::State::addParts(std::vector<Part>& parts,
                                   std::vector<std::vector<std::uint32_t>>& partColumns,
                                   std::uint32_t t, const std::vector<std::uint32_t>& which) const {
    if (!tables[t].inCatalogue) {
        parts.push_back({t, {}});
        partColumns.emplace_back();
        return;
    }
    // Named, the invisible columns too, which "*" leaves out, and only those the user may select,
    // which "*" does not heed; split where one prepare would hold too many.
    for (size_t from = 0; from < which.size();) {
        Part part{t, {}};
        std::vector<std::uint32_t> indices;
        size_t length = Describer::partLength(part);
        for (; from < which.size(); ++from) {
            const std::string_view name =
                columnNames.get(columns[tables[t].first + which[from]].name);
            if (part.columns.size() == columnLimit || length + name.size() + 16 > textLimit)
                break;
            part.columns.push_back(name);
            indices.push_back(which[from]);
            length += name.size() + 16;
        }
        parts.push_back(std::move(part));
        partColumns.push_back(std::move(indices));
    }
}

void ColumnReader::State::describe() {
    std::vector<std::optional<Field>> expected;
    for (const Group& group : groups)
        expected.push_back(group.expected);
    std::vector<GroupDescription> described;
    for (;;) {
        // Tables the catalogue cannot answer for go to the driver whole.
        for (std::uint32_t t = 0; t < tables.size(); ++t) {
            Table& table = tables[t];
            if (sameAs[t] != t || table.answered || table.fromDriver)
                continue;
            table.fromDriver = !catalogueMayAnswer(t);
            for (std::uint32_t c = 0; c < table.count && !table.fromDriver; ++c)
                table.fromDriver =
                    groups[columns[table.first + c].group].verdict == GroupVerdict::differs;
        }
        const auto chosen = exemplars();
        // A group left without an exemplar (its tables could not be prepared) is not checked
        // in this export: its tables go to the driver.
        bool uncheckable = false;
        std::vector<bool> exemplified(groups.size(), false);
        for (const auto& [t, which] : chosen)
            for (std::uint32_t c : which)
                exemplified[columns[tables[t].first + c].group] = true;
        for (std::uint32_t t = 0; t < tables.size(); ++t)
            if (sameAs[t] == t && !tables[t].answered && !tables[t].fromDriver)
                for (std::uint32_t c = 0; c < tables[t].count; ++c)
                    if (Group& group = groups[columns[tables[t].first + c].group];
                        group.verdict == GroupVerdict::unchecked &&
                        !exemplified[columns[tables[t].first + c].group]) {
                        group.verdict = GroupVerdict::differs;
                        uncheckable = true;
                    }
        if (uncheckable)
            continue;

        std::vector<Part> parts;
        std::vector<std::vector<std::uint32_t>> partColumns;
        for (const auto& [t, which] : chosen)
            addParts(parts, partColumns, t, which);
        const size_t exemplarParts = parts.size();
        for (std::uint32_t t = 0; t < tables.size(); ++t)
            if (sameAs[t] == t && !tables[t].answered && tables[t].fromDriver) {
                std::vector<std::uint32_t> all(tables[t].count);
                for (std::uint32_t c = 0; c < all.size(); ++c)
                    all[c] = c;
                addParts(parts, partColumns, t, all);
                tables[t].answered = true;
                answers[t] = TableColumns{};
            }
        if (parts.empty())
            break;

        std::vector<TableColumns> results = describer.describe(parts);
        for (size_t p = 0; p < parts.size(); ++p) {
            const std::uint32_t t = parts[p].table;
            TableColumns& result = results[p];
            // Every description of a base table's column tells of its group.
            if (result.error && p < exemplarParts)
                failed[t] = true;
            else if (!result.error && catalogueMayAnswer(t))
                for (size_t i = 0; i < partColumns[p].size(); ++i)
                    described.push_back(
                        {columns[tables[t].first + partColumns[p][i]].group, result.fields[i]});
            if (p < exemplarParts)
                continue;
            // A table described in pieces is their fields in turn, or the first error.
            TableColumns& answer = answers[t];
            if (answer.error)
                continue;
            if (result.error)
                answer = TableColumns{{}, std::move(result.error)};
            else
                std::move(result.fields.begin(), result.fields.end(),
                          std::back_inserter(answer.fields));
        }
        const std::vector<GroupVerdict> verdicts = groupVerdicts(expected, described);
        for (size_t g = 0; g < groups.size(); ++g)
            if (verdicts[g] == GroupVerdict::differs ||
                (verdicts[g] == GroupVerdict::confirmed &&
                 groups[g].verdict == GroupVerdict::unchecked)) {
                groups[g].verdict = verdicts[g];
                session.verdicts.insert_or_assign(groups[g].key, verdicts[g]);
            }
    }
    describer.finish();
}

TableColumns ColumnReader::State::answer(size_t index) {
    const std::uint32_t t = sameAs[index];
    Table& table = tables[t];
    TableColumns result;
    if (table.answered) {
        result = answers.at(t);
    } else {
        result.fields.reserve(table.count);
        for (std::uint32_t c = 0; c < table.count; ++c) {
            const Column& column = columns[table.first + c];
            Field field = *groups[column.group].expected;
            field.name = columnNames.get(column.name);
            result.fields.push_back(std::move(field));
        }
    }
    if (details)
        attachDetails(t, result);
    return result;
}

// The catalogue's details of each field, by name (the driver's fields are those it was asked
// for, in their order); none when one of them has none.
void ColumnReader::State::attachDetails(std::uint32_t t, TableColumns& result) const {
    result.table = tableDetails[t];
    const Table& table = tables[t];
    if (result.fields.empty() || !table.inCatalogue)
        return;
    std::unordered_map<std::string_view, const Column*> byName;
    for (std::uint32_t c = 0; c < table.count; ++c)
        byName.emplace(columnNames.get(columns[table.first + c].name), &columns[table.first + c]);
    result.details.reserve(result.fields.size());
    for (const Field& field : result.fields) {
        auto found = byName.find(field.name);
        std::optional<ColumnDetails> column;
        if (found != byName.end() && found->second->details != noDetails)
            column = columnDetails(detailTexts[found->second->details],
                                   catalogueColumn(groups[found->second->group].key), defaultStyle);
        if (!column) {
            result.details.clear();
            return;
        }
        result.details.push_back(std::move(*column));
    }
}

ColumnReader::ColumnReader(Connection& connection, std::vector<std::string> tables, bool details)
    : connection_(connection), tables_(std::move(tables)), details_(details) {}

ColumnReader::~ColumnReader() = default;

bool ColumnReader::isReady(size_t) const noexcept {
    return state_ != nullptr;
}

ColumnReader::Statistics ColumnReader::statistics() const {
    Statistics figures;
    if (!state_)
        return figures;
    figures.prepares = state_->describer.prepares();
    figures.groups = state_->groups.size();
    figures.differingGroups = static_cast<size_t>(
        std::count_if(state_->groups.begin(), state_->groups.end(),
                      [](const State::Group& g) { return g.verdict == GroupVerdict::differs; }));
    for (std::uint32_t t = 0; t < state_->tables.size(); ++t)
        figures.tablesFromDriver += state_->sameAs[t] == t && state_->tables[t].fromDriver;
    return figures;
}

void ColumnReader::load() {
    state_ = std::make_unique<State>(connection_, tables_, details_);
    state_->readCatalogue();
    state_->describe();
}

TableColumns ColumnReader::take(size_t index) {
    if (!state_)
        load();
    return state_->answer(index);
}

} // namespace orv::db

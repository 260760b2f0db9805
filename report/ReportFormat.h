#pragma once

#include "db/ColumnTypes.h"
#include "db/TableColumns.h"

#include <string>
#include <string_view>
#include <vector>

namespace orv::report {

// What a report says before its tables.
struct ReportHead {
    std::string_view server;
    std::string_view database;
    const std::vector<std::string>& tables; // in report order
};

// One table as the export read it: its columns, or in columns.error why they could not be read
// (its fields are then empty). The export is done with the columns: a format may take them.
struct ReportTable {
    size_t index; // in report order, from 0
    std::string_view name;
    // The server's table type ("BASE TABLE", "VIEW", ...) where the export knows it, else empty.
    std::string_view kind;
    db::TableColumns& columns;
};

// A kind of report. The export asks for the head, then for each table in report order, then
// for the end, and writes the texts one after another; nothing else goes into the file. A
// format may keep state between the calls: one format object serves one report.
class ReportFormat {
public:
    virtual ~ReportFormat() = default;
    virtual std::string head(const ReportHead& head) = 0;
    virtual std::string table(const ReportTable& table) = 0;
    virtual std::string end() = 0;
    // Whether the tables' columns must come with what the catalogue says of them
    // (db::TableColumns::table and details), which the same catalogue query then also reads.
    virtual bool readsDetails() const { return false; }
};

// The structure report of both programs: plain text, CR LF line ends.
class TextFormat final : public ReportFormat {
public:
    std::string head(const ReportHead& head) override;
    std::string table(const ReportTable& table) override;
    std::string end() override;
};

// A name as the report writes it: every control character (C0, DEL, and the C1 controls and
// line and paragraph separators of UTF-8) as \xHH per byte, so one name is always one line.
std::string escapedName(std::string_view name);

// The length in bytes of the control character at text[at] that escapedName escapes, 0 when
// there is none.
size_t controlLength(std::string_view text, size_t at);

// The length in bytes of the UTF-8 character at text[at], 0 when the bytes there are not one
// (overlong forms, surrogates and code points past U+10FFFF are not).
size_t utf8Length(std::string_view text, size_t at);

// The type text of a column: its type word, with the size or precision where it has one.
std::string typeText(const db::Field& field);

// One column row of the text report: the name padded to 25 characters and the type text
// padded to 12.
std::string fieldRow(const db::Field& field);

struct TableStructure {
    std::string name;
    std::vector<db::Field> fields;
};

// The whole text report of tables at hand.
std::string formatReport(std::string_view server, const std::vector<TableStructure>& tables);

} // namespace orv::report

#pragma once

#include "db/ColumnDetails.h"
#include "db/ColumnTypes.h"
#include "db/TableColumns.h"
#include "report/ReportFormat.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::report {

// The formats a report is written in. Text is the desktop program's report; Markdown and JSON
// also carry what the catalogue says of each table and column.
enum class Format { text, markdown, json };

std::optional<Format> formatNamed(std::string_view name);
const char* formatName(Format format);

// The version of the JSON document's layout (docs/structure.schema.json).
inline constexpr int jsonVersion = 1;

// One column as a report of some format records it.
struct ColumnRecord {
    std::string name;
    std::string type;                         // the text report's type text
    std::optional<db::Field> ado;             // JSON only; its name is left empty
    std::optional<db::ColumnDetails> details; // Markdown and JSON, where the catalogue has them

    bool operator==(const ColumnRecord&) const = default;
};

// One table as a report of some format records it.
struct TableRecord {
    std::string name;
    std::optional<db::TableDetails> details;
    std::vector<ColumnRecord> columns;
    std::optional<std::string> unreadable; // why its columns could not be read (not in text)

    bool operator==(const TableRecord&) const = default;
};

// A table as `format` records it. The text report writes names with control characters
// escaped, so its records hold them so.
TableRecord tableRecord(Format format, const std::string& name, db::TableColumns columns);

// The structure as a Markdown or JSON document: the text report's type texts, and what the
// catalogue says of every table and column.
class DocumentFormat final : public ReportFormat {
public:
    explicit DocumentFormat(Format format) : format_(format) {}
    std::string head(const ReportHead& head) override;
    std::string table(const ReportTable& table) override;
    std::string end() override;
    bool readsDetails() const override { return true; }

private:
    Format format_;
};

// Keeps each table as a report of `format` records it, and writes nothing: what --check
// compares with the earlier report.
class RecordFormat final : public ReportFormat {
public:
    RecordFormat(Format format, std::vector<TableRecord>& tables)
        : format_(format), tables_(tables) {}
    std::string head(const ReportHead&) override { return {}; }
    std::string table(const ReportTable& table) override;
    std::string end() override { return {}; }
    bool readsDetails() const override { return format_ != Format::text; }

private:
    Format format_;
    std::vector<TableRecord>& tables_;
};

// The start of a table's heading in Markdown: "## " and the anchor the contents list links to.
std::string markdownAnchor(size_t index);

// Text for a Markdown table cell, heading or list item that reads back as it was: Markdown's
// punctuation and the cell separator backslash-escaped, control characters and invalid UTF-8
// as \xHH, blanks at either end as &#32;.
std::string markdownText(std::string_view text);

// A JSON string literal; invalid UTF-8 becomes U+FFFD.
std::string jsonString(std::string_view text);

// A report read back: the tables it records, in its order.
struct Snapshot {
    Format format = Format::text;
    std::vector<TableRecord> tables;
};

// Reads a report of any format, telling the format by its first line; throws orv::Error naming
// the line where it is not a report this program writes.
Snapshot parseReport(std::string_view text);

// The differences of `live` from `recorded`, one line each, in table order: tables added (+),
// removed (-), changed (~), then columns likewise. Both must be records of the same format.
std::vector<std::string> differences(const std::vector<TableRecord>& recorded,
                                     const std::vector<TableRecord>& live);

} // namespace orv::report

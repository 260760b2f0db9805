#include "report/Documents.h"

#include "report/ReportFormat.h"

namespace orv::report {

namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

void appendHexByte(std::string& out, unsigned char c) {
    out.append("\\x").append(1, hexDigits[c >> 4]).append(1, hexDigits[c & 0xF]);
}

bool isAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

const char* const formatNames[] = {"text", "markdown", "json"};

// Markdown: one table's rows.
std::string markdownRow(const std::vector<std::string>& cells) {
    std::string row = "|";
    for (const std::string& cell : cells)
        row.append(" ").append(cell).append(" |");
    return row + "\n";
}

std::string markdownTable(size_t index, const TableRecord& table) {
    std::string out = markdownAnchor(index) + markdownText(table.name) + "\n\n";
    if (table.details) {
        out += "- Kind: " + markdownText(table.details->kind) + "\n";
        if (table.details->engine)
            out += "- Engine: " + markdownText(*table.details->engine) + "\n";
        if (!table.details->comment.empty())
            out += "- Comment: " + markdownText(table.details->comment) + "\n";
    }
    if (table.unreadable)
        out += "- Unreadable: " + markdownText(*table.unreadable) + "\n";
    const bool described = !table.columns.empty() && table.columns.front().details;
    if (!table.columns.empty() && !described)
        out += "- Details: the server's catalogue does not describe these columns\n";
    out += "- Columns: " + std::to_string(table.columns.size()) + "\n\n";
    if (table.columns.empty())
        return out;
    if (described)
        out += markdownRow({"Column", "Type", "Declared type", "Null", "Key", "Default", "Extra",
                            "Generated as", "Comment"}) +
               markdownRow(std::vector<std::string>(9, "---"));
    else
        out += markdownRow({"Column", "Type"}) + markdownRow({"---", "---"});
    for (const ColumnRecord& column : table.columns) {
        std::vector<std::string> cells = {markdownText(column.name), markdownText(column.type)};
        if (const auto& d = column.details) {
            cells.push_back(markdownText(d->columnType));
            cells.push_back(d->nullable ? "yes" : "no");
            cells.push_back(markdownText(d->key));
            cells.push_back(markdownText(d->defaultValue.value_or("")));
            cells.push_back(markdownText(d->extra));
            cells.push_back(markdownText(d->generation.value_or("")));
            cells.push_back(markdownText(d->comment));
        }
        out += markdownRow(cells);
    }
    return out + "\n";
}

// JSON: one table, one line a column, appended to one text.
void appendJson(std::string& out, std::string_view text);

void appendJsonOrNull(std::string& out, const std::optional<std::string>& text) {
    if (text)
        appendJson(out, *text);
    else
        out += "null";
}

void appendJsonColumn(std::string& out, const ColumnRecord& column) {
    out += "{\"name\": ";
    appendJson(out, column.name);
    out += ", \"type\": ";
    appendJson(out, column.type);
    if (const auto& d = column.details) {
        out += ", \"columnType\": ";
        appendJson(out, d->columnType);
        out += d->nullable ? ", \"nullable\": true, \"key\": " : ", \"nullable\": false, \"key\": ";
        appendJson(out, d->key);
        out += ", \"default\": ";
        appendJsonOrNull(out, d->defaultValue);
        out += ", \"extra\": ";
        appendJson(out, d->extra);
        out += ", \"generated\": ";
        appendJsonOrNull(out, d->generation);
        out += ", \"comment\": ";
        appendJson(out, d->comment);
    }
    if (const auto& a = column.ado)
        out.append(", \"ado\": {\"type\": ")
            .append(std::to_string(a->type))
            .append(", \"definedSize\": ")
            .append(std::to_string(a->definedSize))
            .append(", \"precision\": ")
            .append(std::to_string(a->precision))
            .append(", \"scale\": ")
            .append(std::to_string(a->numericScale))
            .append("}");
    out += "}";
}

std::string jsonTable(size_t index, const TableRecord& table) {
    std::string out = index > 0 ? ",\n" : "";
    out.reserve(256 + 320 * table.columns.size());
    out += "    {\n      \"name\": ";
    appendJson(out, table.name);
    out += ",\n";
    if (table.details) {
        out += "      \"kind\": ";
        appendJson(out, table.details->kind);
        out += ",\n      \"engine\": ";
        appendJsonOrNull(out, table.details->engine);
        out += ",\n      \"comment\": ";
        appendJson(out, table.details->comment);
        out += ",\n";
    }
    if (table.unreadable) {
        out += "      \"unreadable\": ";
        appendJson(out, *table.unreadable);
        out += ",\n";
    }
    if (!table.columns.empty() && !table.columns.front().details)
        out += "      \"note\": \"the server's catalogue does not describe these columns\",\n";
    if (table.columns.empty())
        return out + "      \"columns\": []\n    }";
    out += "      \"columns\": [\n";
    for (size_t i = 0; i < table.columns.size(); ++i) {
        out += "        ";
        appendJsonColumn(out, table.columns[i]);
        out += i + 1 < table.columns.size() ? ",\n" : "\n";
    }
    return out + "      ]\n    }";
}

} // namespace

// Both attributes: renderers keep one or the other (renderers also make anchors of a heading's
// text, each in a way of its own).
std::string markdownAnchor(size_t index) {
    const std::string id = "table-" + std::to_string(index + 1);
    return "## <a id=\"" + id + "\" name=\"" + id + "\"></a>";
}

std::optional<Format> formatNamed(std::string_view name) {
    for (Format format : {Format::text, Format::markdown, Format::json})
        if (name == formatName(format))
            return format;
    return std::nullopt;
}

const char* formatName(Format format) {
    return formatNames[static_cast<int>(format)];
}

std::string markdownText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size();) {
        const size_t control = controlLength(text, i);
        const size_t length = control ? control : utf8Length(text, i);
        if (control || length == 0) {
            for (size_t end = i + (length ? length : 1); i < end; ++i)
                appendHexByte(out, static_cast<unsigned char>(text[i]));
            continue;
        }
        const char c = text[i];
        if (isAsciiAlnum(c) ||
            std::string_view(",.;'\"()-+/=%?^{}").find(c) != std::string_view::npos ||
            (c == ' ' && i > 0 && i + 1 < text.size())) {
            out += c; // most of a name: nothing to escape
        } else if (c == ' ') {
            out += "&#32;"; // a cell, heading or item loses blanks at its ends
        } else if (c == '_') {
            // Between letters or digits it cannot start or end emphasis.
            if (i == 0 || i + 1 == text.size() || !isAsciiAlnum(text[i - 1]) ||
                !isAsciiAlnum(text[i + 1]))
                out += '\\';
            out += c;
        } else if (std::string_view("\\`*[]<>&|#~!$@:").find(c) != std::string_view::npos) {
            out.append(1, '\\').append(1, c);
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string jsonString(std::string_view text) {
    std::string out;
    appendJson(out, text);
    return out;
}

namespace {

void appendJson(std::string& out, std::string_view text) {
    out += '"';
    for (size_t i = 0; i < text.size();) {
        // Plain ASCII goes over as it is, a run at a time.
        size_t plain = i;
        while (plain < text.size() && text[plain] >= 0x20 && text[plain] < 0x7F &&
               text[plain] != '"' && text[plain] != '\\')
            ++plain;
        out.append(text.substr(i, plain - i));
        if ((i = plain) == text.size())
            break;
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t length = utf8Length(text, i);
        if (length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out.append(1, '\\').append(1, static_cast<char>(c));
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (controlLength(text, i) > 0) {
            // The other control characters, and U+2028 and U+2029, which end lines for some
            // readers of JSON.
            unsigned long point = c;
            for (size_t k = 1; k < length; ++k)
                point = point << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            point &= length == 1 ? 0x7F : length == 2 ? 0x7FF : 0xFFFF;
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += hexDigits[point >> shift & 0xF];
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    out += '"';
}

} // namespace

TableRecord tableRecord(Format format, const std::string& name, db::TableColumns columns) {
    const bool text = format == Format::text;
    TableRecord table;
    table.name = text ? escapedName(name) : name;
    if (!text) {
        table.details = std::move(columns.table);
        if (columns.error)
            table.unreadable = columns.error->what();
    }
    const bool described = !text && columns.details.size() == columns.fields.size();
    table.columns.reserve(columns.fields.size());
    for (size_t i = 0; i < columns.fields.size(); ++i) {
        db::Field& field = columns.fields[i];
        ColumnRecord column;
        column.type = typeText(field);
        column.name = text ? escapedName(field.name) : std::move(field.name);
        if (format == Format::json) {
            field.name.clear();
            column.ado = std::move(field);
        }
        if (described)
            column.details = std::move(columns.details[i]);
        table.columns.push_back(std::move(column));
    }
    return table;
}

std::string DocumentFormat::head(const ReportHead& head) {
    const std::string_view server = head.server, database = head.database;
    const std::vector<std::string>& tables = head.tables;
    if (format_ == Format::json)
        return "{\n  \"format\": \"orvendel-structure\",\n  \"version\": " +
               std::to_string(jsonVersion) + ",\n  \"server\": " + jsonString(server) +
               ",\n  \"database\": " + jsonString(database) + ",\n  \"tables\": [\n";
    std::string out = "# Structure of " + markdownText(database) + " on " + markdownText(server) +
                      "\n\n## Contents\n\n";
    for (size_t i = 0; i < tables.size(); ++i)
        out += std::to_string(i + 1) + ". [" + markdownText(tables[i]) + "](#table-" +
               std::to_string(i + 1) + ")\n";
    return out + "\n";
}

std::string DocumentFormat::table(const ReportTable& table) {
    const TableRecord record =
        tableRecord(format_, std::string(table.name), std::move(table.columns));
    return format_ == Format::json ? jsonTable(table.index, record)
                                   : markdownTable(table.index, record);
}

std::string DocumentFormat::end() {
    return format_ == Format::json ? "\n  ]\n}\n" : "";
}

std::string RecordFormat::table(const ReportTable& table) {
    tables_.push_back(tableRecord(format_, std::string(table.name), std::move(table.columns)));
    return {};
}

} // namespace orv::report

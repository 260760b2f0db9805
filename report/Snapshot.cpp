#include "db/Error.h"
#include "report/Documents.h"
#include "report/ReportFormat.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <map>

namespace orv::report {

namespace {

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1) {
        std::string_view line = text.substr(start, end - start);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines.push_back(line);
    }
    if (start != text.size())
        throw Error("it ends within a line: the report is not complete");
    return lines;
}

template <typename Number> std::optional<Number> wholeNumber(std::string_view text) {
    Number value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Reads lines one at a time, failing with the line's number.
class Lines {
public:
    explicit Lines(std::string_view text) : lines_(splitLines(text)) {}

    bool atEnd() const { return next_ == lines_.size(); }
    std::string_view peek() const { return atEnd() ? std::string_view() : lines_[next_]; }
    std::string_view take(const char* what) {
        if (atEnd())
            throw Error("the report ends where " + std::string(what) + " was expected");
        return lines_[next_++];
    }
    void expect(std::string_view line, const char* what) {
        if (take(what) != line)
            fail(what);
    }
    [[noreturn]] void fail(const std::string& what) const {
        throw Error("line " + std::to_string(next_) + ": " + what + " was expected");
    }

private:
    std::vector<std::string_view> lines_;
    size_t next_ = 0;
};

// The desktop program's text report.
Snapshot parseText(std::string_view text) {
    Lines lines(text);
    Snapshot snapshot{Format::text, {}};
    if (!lines.take("the report's first line").starts_with(" Printing From "))
        lines.fail("\" Printing From \"");
    lines.expect("", "an empty line");
    lines.expect("Printing Table Structures:", "\"Printing Table Structures:\"");
    for (size_t number = 1; !lines.peek().empty(); ++number) {
        const std::string prefix = std::to_string(number) + ") ";
        std::string_view line = lines.take("a table");
        if (!line.starts_with(prefix))
            lines.fail("\"" + prefix + "\" and a table name");
        snapshot.tables.push_back({std::string(line.substr(prefix.size())), {}, {}, {}});
    }
    lines.expect("", "an empty line");
    lines.expect("", "an empty line");
    constexpr std::string_view fieldsLabel = "    Total Fields : ";
    for (TableRecord& table : snapshot.tables) {
        const std::string heading = "Table Name : " + table.name + std::string(fieldsLabel);
        std::string_view line = lines.take("a table's heading");
        std::optional<size_t> count;
        if (line.starts_with(heading))
            count = wholeNumber<size_t>(line.substr(heading.size()));
        if (!count)
            lines.fail("\"" + heading + "\" and a number");
        lines.expect("", "an empty line");
        lines.expect("Field Name                DataType", "the column heading");
        lines.expect("__________                ________", "the column heading's underline");
        for (size_t i = 0; i < *count; ++i) {
            std::string_view row = lines.take("a column");
            // " " name, blanks to 25 characters, " " type text, blanks to 12 characters.
            while (row.ends_with(' '))
                row.remove_suffix(1);
            const size_t gap = row.rfind(' ');
            if (!row.starts_with(' ') || gap == 0 || gap == std::string_view::npos)
                lines.fail("a column's name and type");
            std::string_view name = row.substr(1, gap - 1);
            while (name.ends_with(' '))
                name.remove_suffix(1);
            table.columns.push_back({std::string(name), std::string(row.substr(gap + 1)), {}, {}});
        }
        lines.expect("", "an empty line after the columns");
        lines.expect("", "an empty line after the columns");
    }
    lines.expect("", "the report's last, empty line");
    if (!lines.atEnd())
        lines.fail("the end of the report");
    return snapshot;
}

// Markdown text back to what markdownText was given.
std::string markdownValue(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto hex = [&](size_t at) {
            return at < text.size() && std::isxdigit(static_cast<unsigned char>(text[at]));
        };
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && hex(i + 2) &&
            hex(i + 3)) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else if (text[i] == '\\' && i + 1 < text.size() &&
                   std::ispunct(static_cast<unsigned char>(text[i + 1]))) {
            out += text[++i];
        } else if (text.substr(i, 5) == "&#32;") {
            out += ' ';
            i += 4;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The text without the blanks at its ends.
std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    return first == std::string_view::npos
               ? std::string_view()
               : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The cells of a table row, split at separators that are not escaped. Blanks around a cell's
// text are padding (a Markdown formatter may add more): blanks of the text itself are written
// as "&#32;".
std::vector<std::string> markdownCells(std::string_view row) {
    row = trimmed(row);
    std::vector<std::string> cells;
    std::string cell;
    for (size_t i = 0; i < row.size(); ++i) {
        if (row[i] == '\\' && i + 1 < row.size()) {
            cell.append(row.substr(i, 2));
            ++i;
        } else if (row[i] == '|') {
            cells.push_back(std::move(cell));
            cell.clear();
        } else {
            cell += row[i];
        }
    }
    cells.push_back(std::move(cell));
    // A row starts and ends with a separator.
    if (cells.size() < 3 || !cells.front().empty() || !cells.back().empty())
        return {};
    cells.erase(cells.begin());
    cells.pop_back();
    for (std::string& text : cells)
        text = markdownValue(trimmed(text));
    return cells;
}

Snapshot parseMarkdown(std::string_view text) {
    Lines lines(text);
    Snapshot snapshot{Format::markdown, {}};
    lines.take("the heading");
    lines.expect("", "an empty line");
    lines.expect("## Contents", "\"## Contents\"");
    lines.expect("", "an empty line");
    size_t count = 0;
    while (!lines.peek().empty()) {
        const std::string number = std::to_string(++count);
        std::string_view line = lines.take("a table");
        const std::string link = "](#table-" + number + ")";
        if (!line.starts_with(number + ". [") || !line.ends_with(link))
            lines.fail("\"" + number + ". [name" + link + "\"");
    }
    lines.expect("", "an empty line");
    for (size_t i = 0; i < count; ++i) {
        const std::string anchor = markdownAnchor(i);
        std::string_view heading = lines.take("a table's heading");
        if (!heading.starts_with(anchor))
            lines.fail("\"" + anchor + "\" and a table name");
        TableRecord table;
        table.name = markdownValue(heading.substr(anchor.size()));
        lines.expect("", "an empty line");
        std::map<std::string, std::string, std::less<>> items;
        while (!lines.peek().empty()) {
            std::string_view item = lines.take("an item");
            const size_t colon = item.find(": ");
            if (!item.starts_with("- ") || colon == std::string_view::npos ||
                !items.emplace(item.substr(2, colon - 2), markdownValue(item.substr(colon + 2)))
                     .second)
                lines.fail("an item \"- Name: value\"");
        }
        lines.expect("", "an empty line");
        if (auto kind = items.find("Kind"); kind != items.end()) {
            table.details = db::TableDetails{kind->second, std::nullopt, ""};
            if (auto engine = items.find("Engine"); engine != items.end())
                table.details->engine = engine->second;
            if (auto comment = items.find("Comment"); comment != items.end())
                table.details->comment = comment->second;
        }
        if (auto unreadable = items.find("Unreadable"); unreadable != items.end())
            table.unreadable = unreadable->second;
        auto columns = items.find("Columns");
        std::optional<size_t> columnCount;
        if (columns != items.end())
            columnCount = wholeNumber<size_t>(columns->second);
        if (!columnCount)
            lines.fail("an item \"- Columns: number\"");
        if (*columnCount > 0) {
            const std::vector<std::string> header = markdownCells(lines.take("the column table"));
            const bool described = header.size() == 9;
            if (header.empty() || header[0] != "Column" || (header.size() != 2 && !described))
                lines.fail("the column table's heading");
            if (markdownCells(lines.take("the column table")).size() != header.size())
                lines.fail("the column table's delimiter row");
            for (size_t c = 0; c < *columnCount; ++c) {
                const std::vector<std::string> cells = markdownCells(lines.take("a column"));
                if (cells.size() != header.size() ||
                    (described && cells[3] != "yes" && cells[3] != "no"))
                    lines.fail("a column row of " + std::to_string(header.size()) + " cells");
                ColumnRecord column{cells[0], cells[1], std::nullopt, std::nullopt};
                if (described) {
                    auto optional = [](const std::string& cell) {
                        return cell.empty() ? std::nullopt : std::optional<std::string>(cell);
                    };
                    column.details = db::ColumnDetails{
                        cells[2], cells[3] == "yes",  cells[4], optional(cells[5]),
                        cells[6], optional(cells[7]), cells[8]};
                }
                table.columns.push_back(std::move(column));
            }
            lines.expect("", "an empty line after the columns");
        }
        snapshot.tables.push_back(std::move(table));
    }
    if (!lines.atEnd())
        lines.fail("the end of the report");
    return snapshot;
}

// A reader of JSON that takes the values it expects as it goes, failing with the line.
class Json {
public:
    explicit Json(std::string_view text) : text_(text) {}

    [[noreturn]] void fail(const std::string& what) const {
        size_t line = 1;
        for (size_t i = 0; i < at_ && i < text_.size(); ++i)
            line += text_[i] == '\n';
        throw Error("line " + std::to_string(line) + ": " + what + " was expected");
    }
    char peek() {
        while (at_ < text_.size() &&
               std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos)
            ++at_;
        return at_ < text_.size() ? text_[at_] : '\0';
    }
    bool consume(char c) {
        if (peek() != c)
            return false;
        ++at_;
        return true;
    }
    void expect(char c) {
        if (!consume(c))
            fail(std::string("\"") + c + "\"");
    }
    bool atEnd() { return peek() == '\0' && at_ == text_.size(); }

    bool consumeWord(std::string_view word) {
        if (peek() != word[0] || text_.substr(at_, word.size()) != word)
            return false;
        at_ += word.size();
        return true;
    }
    bool null() { return consumeWord("null"); }
    bool boolean() {
        if (consumeWord("true"))
            return true;
        if (!consumeWord("false"))
            fail("true or false");
        return false;
    }
    std::string string() {
        if (!consume('"'))
            fail("a string");
        std::string out;
        for (;;) {
            // Up to the next quote, escape or control character at once.
            size_t plain = at_;
            while (plain < text_.size() && text_[plain] != '"' && text_[plain] != '\\' &&
                   static_cast<unsigned char>(text_[plain]) >= 0x20)
                ++plain;
            out.append(text_.substr(at_, plain - at_));
            at_ = plain;
            if (at_ >= text_.size())
                fail("the end of a string");
            const char c = text_[at_++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20)
                fail("an escaped control character");
            if (c != '\\') {
                out += c;
                continue;
            }
            const char e = at_ < text_.size() ? text_[at_++] : '\0';
            const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
            if (size_t k = simple.find(e); k != std::string_view::npos && e != '\0') {
                out += meaning[k];
            } else if (e == 'u') {
                unsigned long point = hex4();
                if (point >= 0xD800 && point <= 0xDBFF && text_.substr(at_, 2) == "\\u") {
                    at_ += 2;
                    const unsigned long low = hex4();
                    if (low < 0xDC00 || low > 0xDFFF)
                        fail("a low surrogate");
                    point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
                } else if (point >= 0xD800 && point <= 0xDFFF) {
                    fail("a surrogate pair");
                }
                appendUtf8(out, point);
            } else {
                fail("an escape sequence");
            }
        }
    }
    std::optional<std::string> optionalString() {
        if (null())
            return std::nullopt;
        return string();
    }
    long long integer() {
        peek();
        size_t end = at_;
        if (end < text_.size() && text_[end] == '-')
            ++end;
        while (end < text_.size() && text_[end] >= '0' && text_[end] <= '9')
            ++end;
        std::optional<long long> value = wholeNumber<long long>(text_.substr(at_, end - at_));
        if (!value || (end < text_.size() &&
                       std::string_view(".eE").find(text_[end]) != std::string_view::npos))
            fail("a whole number");
        at_ = end;
        return *value;
    }
    int int32() {
        const long long value = integer();
        if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
            fail("a 32-bit number");
        return static_cast<int>(value);
    }
    // Any value, for keys this program does not know.
    void skip(int depth = 0) {
        if (depth > 64)
            fail("less nesting");
        const char c = peek();
        if (c == '{' || c == '[') {
            ++at_;
            const char close = c == '{' ? '}' : ']';
            if (consume(close))
                return;
            do {
                if (c == '{') {
                    string();
                    expect(':');
                }
                skip(depth + 1);
            } while (consume(','));
            expect(close);
        } else if (c == '"') {
            string();
        } else if (!null() && !consumeWord("true") && !consumeWord("false")) {
            peek();
            size_t end = at_;
            while (end < text_.size() &&
                   std::string_view("+-.eE0123456789").find(text_[end]) != std::string_view::npos)
                ++end;
            if (end == at_)
                fail("a value");
            at_ = end;
        }
    }
    // Calls member(key) for each member of an object, which must take the member's value.
    template <typename Member> void object(Member member) {
        expect('{');
        if (consume('}'))
            return;
        do {
            const std::string key = string();
            expect(':');
            member(key);
        } while (consume(','));
        expect('}');
    }
    template <typename Element> void array(Element element) {
        expect('[');
        if (consume(']'))
            return;
        do
            element();
        while (consume(','));
        expect(']');
    }

private:
    unsigned long hex4() {
        if (at_ + 4 > text_.size())
            fail("four hexadecimal digits");
        unsigned long v = 0;
        auto [end, error] = std::from_chars(text_.data() + at_, text_.data() + at_ + 4, v, 16);
        if (error != std::errc{} || end != text_.data() + at_ + 4)
            fail("four hexadecimal digits");
        at_ += 4;
        return v;
    }
    static void appendUtf8(std::string& out, unsigned long point) {
        if (point < 0x80) {
            out += static_cast<char>(point);
        } else if (point < 0x800) {
            out += static_cast<char>(0xC0 | point >> 6);
            out += static_cast<char>(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            out += static_cast<char>(0xE0 | point >> 12);
            out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | point >> 18);
            out += static_cast<char>(0x80 | (point >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (point & 0x3F));
        }
    }

    std::string_view text_;
    size_t at_ = 0;
};

ColumnRecord jsonColumnRecord(Json& json) {
    // The members a column may have; bits of those seen, so that none comes twice.
    static const std::string_view members[] = {"name", "type",    "ado",   "columnType", "nullable",
                                               "key",  "default", "extra", "generated",  "comment"};
    constexpr unsigned required = 0b111, detailMembers = 0b1111111000;
    ColumnRecord column;
    db::ColumnDetails details;
    db::Field ado;
    unsigned seen = 0;
    json.object([&](const std::string& key) {
        const auto found = std::find(std::begin(members), std::end(members), key);
        if (found == std::end(members))
            return json.skip();
        const unsigned bit = 1u << (found - std::begin(members));
        if (seen & bit)
            json.fail("no second \"" + key + "\"");
        seen |= bit;
        switch (found - std::begin(members)) {
        case 0:
            column.name = json.string();
            break;
        case 1:
            column.type = json.string();
            break;
        case 2:
            json.object([&](const std::string& field) {
                if (field == "type")
                    ado.type = json.int32();
                else if (field == "definedSize")
                    ado.definedSize = json.int32();
                else if (field == "precision")
                    ado.precision = json.int32();
                else if (field == "scale")
                    ado.numericScale = json.int32();
                else
                    json.skip();
            });
            break;
        case 3:
            details.columnType = json.string();
            break;
        case 4:
            details.nullable = json.boolean();
            break;
        case 5:
            details.key = json.string();
            break;
        case 6:
            details.defaultValue = json.optionalString();
            break;
        case 7:
            details.extra = json.string();
            break;
        case 8:
            details.generation = json.optionalString();
            break;
        default:
            details.comment = json.string();
        }
    });
    if ((seen & required) != required)
        json.fail("a column with \"name\", \"type\" and \"ado\"");
    column.ado = ado;
    if ((seen & detailMembers) == detailMembers)
        column.details = std::move(details);
    else if (seen & detailMembers)
        json.fail("all of a column's details or none");
    return column;
}

Snapshot parseJson(std::string_view text) {
    Json json(text);
    Snapshot snapshot{Format::json, {}};
    std::optional<std::string> format;
    std::optional<long long> version;
    bool tables = false;
    json.object([&](const std::string& key) {
        if (key == "format") {
            format = json.string();
        } else if (key == "version") {
            version = json.integer();
            if (version != jsonVersion)
                throw Error("it is a document of version " + std::to_string(*version) +
                            ", and this program reads version " + std::to_string(jsonVersion));
        } else if (key == "tables") {
            tables = true;
            json.array([&] {
                TableRecord table;
                db::TableDetails details;
                bool named = false, hasColumns = false, hasKind = false;
                json.object([&](const std::string& member) {
                    if (member == "name")
                        table.name = json.string(), named = true;
                    else if (member == "kind")
                        details.kind = json.string(), hasKind = true;
                    else if (member == "engine")
                        details.engine = json.optionalString();
                    else if (member == "comment")
                        details.comment = json.string();
                    else if (member == "unreadable")
                        table.unreadable = json.string();
                    else if (member == "columns")
                        hasColumns = true,
                        json.array([&] { table.columns.push_back(jsonColumnRecord(json)); });
                    else
                        json.skip();
                });
                if (!named || !hasColumns)
                    json.fail("a table with \"name\" and \"columns\"");
                if (hasKind)
                    table.details = std::move(details);
                snapshot.tables.push_back(std::move(table));
            });
        } else {
            json.skip();
        }
    });
    if (format != "orvendel-structure" || !version || !tables)
        throw Error("it is not a structure document: \"format\": \"orvendel-structure\", "
                    "\"version\" and \"tables\" were expected");
    if (!json.atEnd())
        json.fail("the end of the document");
    return snapshot;
}

} // namespace

Snapshot parseReport(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3); // a byte-order mark an editor may have added
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string_view::npos && text[first] == '{')
        return parseJson(text);
    if (text.starts_with("# Structure of "))
        return parseMarkdown(text);
    if (text.starts_with(" Printing From "))
        return parseText(text);
    throw Error("it is not a report of orvendel-export: neither JSON, Markdown nor text");
}

} // namespace orv::report

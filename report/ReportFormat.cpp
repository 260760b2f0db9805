#include "report/ReportFormat.h"

#include "db/ColumnTypes.h"

namespace orv::report {

namespace {

constexpr std::string_view eol = "\r\n";

// Width in characters of UTF-8 text: continuation bytes take no column.
size_t characters(std::string_view text) {
    size_t count = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80)
            ++count;
    return count;
}

void appendPadded(std::string& out, std::string_view text, size_t width) {
    out += text;
    size_t length = characters(text);
    if (length < width)
        out.append(width - length, ' ');
}

} // namespace

size_t controlLength(std::string_view text, size_t i) {
    const auto byte = [&text](size_t at) {
        return at < text.size() ? static_cast<unsigned char>(text[at]) : 0;
    };
    if (byte(i) < 0x20 || byte(i) == 0x7F)
        return 1;
    if (byte(i) == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F)
        return 2; // U+0080 to U+009F, NEL among them
    if (byte(i) == 0xE2 && byte(i + 1) == 0x80 && (byte(i + 2) == 0xA8 || byte(i + 2) == 0xA9))
        return 3; // U+2028 LINE SEPARATOR, U+2029 PARAGRAPH SEPARATOR
    return 0;
}

size_t utf8Length(std::string_view text, size_t i) {
    const auto byte = [&text](size_t at) -> unsigned {
        return at < text.size() ? static_cast<unsigned char>(text[at]) : 0;
    };
    const auto within = [&byte](size_t at, unsigned low, unsigned high) {
        return byte(at) >= low && byte(at) <= high;
    };
    const unsigned lead = byte(i);
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return within(i + 1, 0x80, 0xBF) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned high = lead == 0xED ? 0x9F : 0xBF;
        return within(i + 1, low, high) && within(i + 2, 0x80, 0xBF) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;
        return within(i + 1, low, high) && within(i + 2, 0x80, 0xBF) && within(i + 3, 0x80, 0xBF)
                   ? 4
                   : 0;
    }
    return 0;
}

std::string escapedName(std::string_view name) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const size_t control = controlLength(name, i);
        if (control == 0) {
            out += name[i++];
            continue;
        }
        for (size_t end = i + control; i < end; ++i) {
            const auto c = static_cast<unsigned char>(name[i]);
            out.append("\\x").append(1, digits[c >> 4]).append(1, digits[c & 0xF]);
        }
    }
    return out;
}

std::string typeText(const db::Field& field) {
    const std::string word = db::FieldTypeName(field.type);
    switch (db::typeSuffix(field.type)) {
    case db::TypeSuffix::definedSize:
        return word + "(" + std::to_string(field.definedSize) + ")";
    case db::TypeSuffix::precisionAndScale:
        return word + "(" + std::to_string(field.precision) + "," +
               std::to_string(field.numericScale) + ")";
    case db::TypeSuffix::none:
        break;
    }
    return word;
}

std::string fieldRow(const db::Field& field) {
    std::string row = " ";
    appendPadded(row, escapedName(field.name), 25);
    row += ' ';
    appendPadded(row, typeText(field), 12);
    return row;
}

std::string TextFormat::head(const ReportHead& head) {
    std::string out;
    out.append(" Printing From ").append(escapedName(head.server)).append(eol);
    out.append(eol);
    out.append("Printing Table Structures:").append(eol);
    size_t number = 0;
    for (const std::string& table : head.tables)
        out.append(std::to_string(++number)).append(") ").append(escapedName(table)).append(eol);
    out.append(eol).append(eol);
    return out;
}

std::string TextFormat::table(const ReportTable& table) {
    const std::vector<db::Field>& fields = table.columns.fields;
    std::string out;
    out.append("Table Name : ")
        .append(escapedName(table.name))
        .append("    Total Fields : ")
        .append(std::to_string(fields.size()))
        .append(eol);
    out.append(eol);
    out.append("Field Name                DataType").append(eol);
    out.append("__________                ________").append(eol);
    for (const db::Field& field : fields)
        out.append(fieldRow(field)).append(eol);
    out.append(eol).append(eol);
    return out;
}

std::string TextFormat::end() {
    return std::string(eol);
}

std::string formatReport(std::string_view server, const std::vector<TableStructure>& tables) {
    std::vector<std::string> names;
    names.reserve(tables.size());
    for (const TableStructure& table : tables)
        names.push_back(table.name);
    TextFormat format;
    std::string out = format.head({server, {}, names});
    for (size_t i = 0; i < tables.size(); ++i) {
        db::TableColumns columns{tables[i].fields, std::nullopt};
        out += format.table({i, tables[i].name, {}, columns});
    }
    out += format.end();
    return out;
}

} // namespace orv::report

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
    appendPadded(row, field.name, 25);
    row += ' ';
    appendPadded(row, typeText(field), 12);
    return row;
}

std::string reportHead(std::string_view server, const std::vector<std::string>& tables) {
    std::string out;
    out.append(" Printing From ").append(server).append(eol);
    out.append(eol);
    out.append("Printing Table Structures:").append(eol);
    size_t number = 0;
    for (const std::string& table : tables)
        out.append(std::to_string(++number)).append(") ").append(table).append(eol);
    out.append(eol).append(eol);
    return out;
}

std::string tableHeading(std::string_view table, size_t fieldCount) {
    std::string out;
    out.append("Table Name : ")
        .append(table)
        .append("    Total Fields : ")
        .append(std::to_string(fieldCount))
        .append(eol);
    out.append(eol);
    out.append("Field Name                DataType").append(eol);
    out.append("__________                ________").append(eol);
    return out;
}

std::string tableEnd() {
    return std::string(eol) + std::string(eol);
}

std::string tableBlock(std::string_view table, const std::vector<db::Field>& fields) {
    std::string out = tableHeading(table, fields.size());
    for (const db::Field& field : fields)
        out.append(fieldRow(field)).append(eol);
    out += tableEnd();
    return out;
}

std::string reportTail() {
    return std::string(eol);
}

std::string formatReport(std::string_view server, const std::vector<TableStructure>& tables) {
    std::vector<std::string> names;
    names.reserve(tables.size());
    for (const TableStructure& table : tables)
        names.push_back(table.name);
    std::string out = reportHead(server, names);
    for (const TableStructure& table : tables)
        out += tableBlock(table.name, table.fields);
    out += reportTail();
    return out;
}

} // namespace orv::report

#include "report/Documents.h"
#include "report/ReportFormat.h"

#include <algorithm>
#include <map>
#include <set>

namespace orv::report {

namespace {

std::string quoted(std::string_view text) {
    std::string out = "'";
    for (char c : text)
        out.append(c == '\'' ? 2 : 1, c);
    return escapedName(out + "'");
}

std::string columnCount(size_t count) {
    return std::to_string(count) + (count == 1 ? " column" : " columns");
}

std::string adoText(const db::Field& field) {
    return "ADO type " + std::to_string(field.type) + " size " + std::to_string(field.definedSize) +
           " precision " + std::to_string(field.precision) + " scale " +
           std::to_string(field.numericScale);
}

std::string orNone(std::string_view text) {
    return text.empty() ? "none" : escapedName(text);
}

std::string defaultText(const std::optional<std::string>& value) {
    return value ? "default " + escapedName(*value) : "no default";
}

std::string generatedText(const std::optional<std::string>& expression) {
    return expression ? "generated as " + escapedName(*expression) : "not generated";
}

std::string commentText(std::string_view comment) {
    return comment.empty() ? "no comment" : "comment " + quoted(comment);
}

// Everything but the name: a column that only changed its name was renamed.
bool sameButName(const ColumnRecord& a, const ColumnRecord& b) {
    return a.type == b.type && a.ado == b.ado && a.details == b.details;
}

void compareColumns(const std::string& label, const ColumnRecord& was, const ColumnRecord& is,
                    std::vector<std::string>& lines) {
    auto change = [&](const std::string& from, const std::string& to) {
        if (from != to)
            lines.push_back("~ " + label + ": " + from + " -> " + to);
    };
    if (was.type != is.type)
        change(escapedName(was.type), escapedName(is.type));
    else if (was.details && is.details && was.details->columnType != is.details->columnType)
        change(escapedName(was.details->columnType), escapedName(is.details->columnType));
    else if (was.ado && is.ado)
        change(adoText(*was.ado), adoText(*is.ado));
    if (!was.details || !is.details)
        return;
    const db::ColumnDetails &a = *was.details, &b = *is.details;
    change(a.nullable ? "nullable" : "not null", b.nullable ? "nullable" : "not null");
    change("key " + orNone(a.key), "key " + orNone(b.key));
    change(defaultText(a.defaultValue), defaultText(b.defaultValue));
    change("extra " + orNone(a.extra), "extra " + orNone(b.extra));
    change(generatedText(a.generation), generatedText(b.generation));
    change(commentText(a.comment), commentText(b.comment));
}

// The columns present in both whose order changed: those outside the longest run of common
// columns kept in order.
std::vector<std::string> movedColumns(const std::vector<std::string>& was,
                                      const std::vector<std::string>& is) {
    const size_t n = was.size(), m = is.size();
    std::vector<std::vector<unsigned>> longest(n + 1, std::vector<unsigned>(m + 1, 0));
    for (size_t i = n; i-- > 0;)
        for (size_t j = m; j-- > 0;)
            longest[i][j] = was[i] == is[j] ? longest[i + 1][j + 1] + 1
                                            : std::max(longest[i + 1][j], longest[i][j + 1]);
    std::vector<std::string> kept;
    for (size_t i = 0, j = 0; i < n && j < m;) {
        if (was[i] == is[j])
            kept.push_back(was[i]), ++i, ++j;
        else if (longest[i + 1][j] >= longest[i][j + 1])
            ++i;
        else
            ++j;
    }
    std::vector<std::string> moved;
    for (size_t i = 0, k = 0; i < m; ++i) {
        if (k < kept.size() && is[i] == kept[k])
            ++k;
        else
            moved.push_back(is[i]);
    }
    return moved;
}

void compareTables(const TableRecord& was, const TableRecord& is, std::vector<std::string>& lines) {
    const std::string name = escapedName(is.name);
    auto change = [&](const std::string& from, const std::string& to) {
        if (from != to)
            lines.push_back("~ table " + name + ": " + from + " -> " + to);
    };
    if (was.details && is.details) {
        change(escapedName(was.details->kind), escapedName(is.details->kind));
        change("engine " + orNone(was.details->engine.value_or("")),
               "engine " + orNone(is.details->engine.value_or("")));
        change(commentText(was.details->comment), commentText(is.details->comment));
    }
    if (was.unreadable || is.unreadable) {
        change(was.unreadable ? "unreadable" : columnCount(was.columns.size()),
               is.unreadable ? "unreadable" : columnCount(is.columns.size()));
        return;
    }
    if (was.columns == is.columns)
        return;

    std::map<std::string, size_t> wasIndex, isIndex;
    for (size_t i = 0; i < was.columns.size(); ++i)
        wasIndex.emplace(was.columns[i].name, i);
    for (size_t i = 0; i < is.columns.size(); ++i)
        isIndex.emplace(is.columns[i].name, i);
    auto label = [&name](const std::string& column) { return name + "." + escapedName(column); };

    // A column gone and one new at the same position, alike but for the name, was renamed.
    std::set<size_t> renamed;
    for (size_t i = 0; i < is.columns.size() && i < was.columns.size(); ++i)
        if (!wasIndex.contains(is.columns[i].name) && !isIndex.contains(was.columns[i].name) &&
            sameButName(was.columns[i], is.columns[i]))
            renamed.insert(i);

    std::vector<std::string> wasCommon, isCommon;
    for (const ColumnRecord& column : was.columns)
        if (isIndex.contains(column.name))
            wasCommon.push_back(column.name);
    for (size_t i = 0; i < is.columns.size(); ++i) {
        const ColumnRecord& column = is.columns[i];
        if (renamed.contains(i)) {
            lines.push_back("~ " + label(was.columns[i].name) + ": renamed to " +
                            escapedName(column.name));
        } else if (auto found = wasIndex.find(column.name); found == wasIndex.end()) {
            lines.push_back("+ column " + label(column.name));
        } else {
            isCommon.push_back(column.name);
            compareColumns(label(column.name), was.columns[found->second], column, lines);
        }
    }
    for (const std::string& column : movedColumns(wasCommon, isCommon))
        lines.push_back("~ " + label(column) + ": position " +
                        std::to_string(wasIndex.at(column) + 1) + " -> " +
                        std::to_string(isIndex.at(column) + 1));
    for (size_t i = 0; i < was.columns.size(); ++i)
        if (!isIndex.contains(was.columns[i].name) && !renamed.contains(i))
            lines.push_back("- column " + label(was.columns[i].name));
}

} // namespace

std::vector<std::string> differences(const std::vector<TableRecord>& recorded,
                                     const std::vector<TableRecord>& live) {
    std::map<std::string, const TableRecord*> recordedByName, liveByName;
    for (const TableRecord& table : recorded)
        recordedByName.emplace(table.name, &table);
    for (const TableRecord& table : live)
        liveByName.emplace(table.name, &table);
    std::vector<std::string> lines;
    for (const TableRecord& table : live) {
        auto found = recordedByName.find(table.name);
        if (found == recordedByName.end())
            lines.push_back("+ table " + escapedName(table.name) + " (" +
                            columnCount(table.columns.size()) + ")");
        else
            compareTables(*found->second, table, lines);
    }
    for (const TableRecord& table : recorded)
        if (!liveByName.contains(table.name))
            lines.push_back("- table " + escapedName(table.name) + " (" +
                            columnCount(table.columns.size()) + ")");
    return lines;
}

} // namespace orv::report

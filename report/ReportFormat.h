#pragma once

#include "db/Connection.h"

#include <string>
#include <string_view>
#include <vector>

namespace orv::report {

// A name as the report writes it: every control character (C0, DEL, and the C1 controls and
// line and paragraph separators of UTF-8) as \xHH per byte, so one name is always one line.
std::string escapedName(std::string_view name);

// The length in bytes of the control character at text[at] that escapedName escapes, 0 when
// there is none.
size_t controlLength(std::string_view text, size_t at);

// The pieces of the structure report, in file order. Every line ends with CR LF.
std::string reportHead(std::string_view server, const std::vector<std::string>& tables);
std::string tableBlock(std::string_view table, const std::vector<db::Field>& fields);
std::string reportTail();

// A table block is its heading, one line per column row, and its end.
std::string tableHeading(std::string_view table, size_t fieldCount);
std::string tableEnd();

// The type text of a column: its type word, with the size or precision where it has one.
std::string typeText(const db::Field& field);

// One column row: the name padded to 25 characters and the type text padded to 12.
std::string fieldRow(const db::Field& field);

struct TableStructure {
    std::string name;
    std::vector<db::Field> fields;
};

std::string formatReport(std::string_view server, const std::vector<TableStructure>& tables);

} // namespace orv::report
